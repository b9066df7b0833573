#include "media/networksource.h"

#include <QDebug>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QUrl>

namespace {

constexpr int defaultTimeoutMs = 15000;
constexpr const char *tooLargeProperty = "orviloopTooLarge";

QSslConfiguration readSslConfiguration(const QString &caFile)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    if (caFile.isEmpty())
        return configuration;
    const QList<QSslCertificate> extra = QSslCertificate::fromPath(caFile, QSsl::Pem);
    if (extra.isEmpty()) {
        qDebug() << "ORVILOOP_CATALOGUE_CA without certificates:" << caFile;
        return configuration;
    }
    // Explicit authorities end the on-demand loading of the system's, so those are added too.
    configuration.addCaCertificates(QSslConfiguration::systemCaCertificates());
    configuration.addCaCertificates(extra);
    return configuration;
}

// Reading the system's authorities takes the window's thread half a second: once per file.
QSslConfiguration catalogueSslConfiguration()
{
    static QString readFor;
    static QSslConfiguration configuration = readSslConfiguration(readFor);
    const QString caFile = qEnvironmentVariable("ORVILOOP_CATALOGUE_CA");
    if (caFile != readFor) {
        readFor = caFile;
        configuration = readSslConfiguration(caFile);
    }
    return configuration;
}

QString failureReason(const QNetworkReply *reply)
{
    const QVariant limitMiB = reply->property(tooLargeProperty);
    if (limitMiB.isValid())
        return QString("服务器发来的内容过大（超过 %1 MiB），已放弃").arg(limitMiB.toLongLong());
    switch (reply->error()) {
    case QNetworkReply::OperationCanceledError: // the transfer timeout aborts the reply
    case QNetworkReply::TimeoutError:
        return QString("服务器 %1 秒没有发来数据，已放弃").arg(networkTimeoutMs() / 1000.0);
    case QNetworkReply::ConnectionRefusedError:
        return "无法连接服务器（连接被拒绝）";
    case QNetworkReply::HostNotFoundError:
        return "找不到服务器";
    case QNetworkReply::RemoteHostClosedError:
        return "服务器中途断开了连接";
    case QNetworkReply::SslHandshakeFailedError:
        return "服务器的证书不受信任，无法建立安全连接";
    case QNetworkReply::InsecureRedirectError:
        return "服务器把加密的地址重定向到不加密的地址，已拒绝";
    case QNetworkReply::TooManyRedirectsError:
        return "服务器重定向的次数过多";
    case QNetworkReply::ContentNotFoundError:
        return "服务器上没有这个文件";
    default:
        return "网络出错";
    }
}

} // namespace

int networkTimeoutMs()
{
    bool ok = false;
    const int fromEnvironment = qEnvironmentVariableIntValue("ORVILOOP_NETWORK_TIMEOUT_MS", &ok);
    return ok && fromEnvironment > 0 ? fromEnvironment : defaultTimeoutMs;
}

QNetworkRequest catalogueRequest(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setSslConfiguration(catalogueSslConfiguration());
    request.setTransferTimeout(networkTimeoutMs());
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    return request;
}

void capReplySize(QNetworkReply *reply, qint64 maxBytes)
{
    QObject::connect(
        reply, &QNetworkReply::downloadProgress, reply, [reply, maxBytes](qint64 received, qint64 total) {
            if ((received > maxBytes || total > maxBytes) && !reply->property(tooLargeProperty).isValid()) {
                qDebug() << "下载过大，放弃:" << reply->url().toString() << qMax(received, total);
                reply->setProperty(tooLargeProperty, maxBytes / (1024 * 1024));
                // The last report may come with the whole body, when there is nothing left to stop.
                if (reply->isRunning())
                    reply->abort();
            }
        });
}

bool replyFailed(const QNetworkReply *reply)
{
    return reply->error() != QNetworkReply::NoError || reply->property(tooLargeProperty).isValid();
}

QString networkFailureText(const QNetworkReply *reply)
{
    // Qt's words for an abort of ours (size, timeout) would only say it was cancelled.
    if (reply->property(tooLargeProperty).isValid() ||
        reply->error() == QNetworkReply::OperationCanceledError)
        return failureReason(reply);
    return failureReason(reply) + "\n（" + reply->errorString() + "）";
}
