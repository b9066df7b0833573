#include "app/mainwindow.h"

#include "player/playerwindow.h"
#include "ui_mainwindow.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QUrl>

// The network catalogue and the subtitle download of a network video.

namespace {

// A subtitle is a few hundred kilobytes; anything bigger comes from a broken or hostile
// server and must not fill the disk or the memory.
constexpr qint64 maxSubtitleBytes = 16 * 1024 * 1024;

// The system's certificate authorities plus those in the PEM file named by
// ORVILOOP_CATALOGUE_CA, for catalogues that run their own authority.
QSslConfiguration catalogueSslConfiguration()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    const QString caFile = qEnvironmentVariable("ORVILOOP_CATALOGUE_CA");
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

QNetworkRequest catalogueRequest(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setSslConfiguration(catalogueSslConfiguration());
    return request;
}

// Trimmed, non-blank lines of the catalogue body, in order.
QStringList catalogueEntries(const QByteArray &body)
{
    QStringList entries;
    const QStringList lines = QString::fromUtf8(body).split('\n', Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const QString entry = line.trimmed();
        if (!entry.isEmpty())
            entries.append(entry);
    }
    return entries;
}

// Only videos have a subtitle beside them on the server.
bool hasRemoteSubtitle(const QString &suffix)
{
    const QString lower = suffix.toLower();
    return lower == "mp4" || lower == "mkv" || lower == "avi";
}

// The base name becomes a file name in the working directory: it must name a file there,
// not ".srt1" and not a path (a backslash separates directories on Windows).
bool isUsableBaseName(const QString &base)
{
    return !base.isEmpty() && !base.contains('\\');
}

// Same directory and base name as the video, suffix ".srt1". Built from the decoded path so
// that characters such as "#" or "%" in the name stay part of the path.
QUrl remoteSubtitleUrl(const QUrl &videoUrl, const QString &base)
{
    const QString videoPath = videoUrl.path(QUrl::FullyDecoded);
    QUrl subtitleUrl = videoUrl.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment);
    subtitleUrl.setPath(videoPath.left(videoPath.lastIndexOf('/') + 1) + base + ".srt1", QUrl::DecodedMode);
    return subtitleUrl;
}

// Through a temporary file renamed into place, so that a failed write never leaves a
// truncated subtitle that would later open as the real one.
bool writeSubtitleFile(const QString &path, const QByteArray &body)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(body) != body.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace

QString MainWindow::catalogueBaseUrl()
{
    QString url = qEnvironmentVariable("ORVILOOP_CATALOGUE_URL", ORVILOOP_DEFAULT_CATALOGUE_URL);
    if (!url.endsWith('/'))
        url += '/';
    return url;
}

void MainWindow::loadNetworkCatalogue()
{
    ui->listMedia->clear();
    mediaFiles.clear();
    networkUrls.clear();
    QNetworkReply *reply = networkManager->get(catalogueRequest(QUrl(catalogueBaseUrl() + "video.txt")));
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onCatalogueReply(reply); });
}

void MainWindow::onCatalogueReply(QNetworkReply *reply)
{
    if (reply->error() != QNetworkReply::NoError) {
        QMessageBox::warning(this, "网络错误", reply->errorString());
        reply->deleteLater();
        return;
    }
    // A local listing chosen while the request was out wins; appending to it would pair
    // catalogue URLs with the rows of local files.
    if (!mediaFiles.isEmpty()) {
        qDebug() << "目录已切换到本地，忽略网络列表:" << reply->url().toString();
        reply->deleteLater();
        return;
    }
    const QString baseUrl = catalogueBaseUrl();
    const QStringList entries = catalogueEntries(reply->readAll());
    for (const QString &entry : entries) {
        networkUrls.append(baseUrl + entry);
        ui->listMedia->addItem(entry);
    }
    showListedPlace("网络课程：" + baseUrl);
    reply->deleteLater();
}

void MainWindow::downloadSubtitle(const QString &videoUrl, SubtitleCompletion completion)
{
    const QUrl url(videoUrl, QUrl::TolerantMode);
    const QFileInfo remoteFile(url.path(QUrl::FullyDecoded));
    const QString base = remoteFile.completeBaseName();
    if (!isUsableBaseName(base)) {
        qDebug() << "字幕下载失败:"
                 << "no usable file name in" << videoUrl;
        completion(QString());
        return;
    }

    const QString localPath = rootDir + "/" + base + ".srt1";
    if (QFile::exists(localPath)) {
        qDebug() << "字幕已存在，不下载:" << localPath;
        completion(localPath);
        return;
    }
    if (!hasRemoteSubtitle(remoteFile.suffix())) {
        completion(QString());
        return;
    }

    QNetworkReply *reply = networkManager->get(catalogueRequest(remoteSubtitleUrl(url, base)));
    // Stop as soon as the announced or received size is too big, before it is all in memory.
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64 total) {
        if (reply->isRunning() && (received > maxSubtitleBytes || total > maxSubtitleBytes)) {
            qDebug() << "字幕过大，放弃下载:" << reply->url().toString() << qMax(received, total);
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, completion, localPath] { onSubtitleReply(reply, completion, localPath); });
}

void MainWindow::onSubtitleReply(QNetworkReply *reply, SubtitleCompletion completion,
                                 const QString &localPath)
{
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        qDebug() << "字幕下载失败:" << reply->errorString();
        completion(QString());
        return;
    }
    const QByteArray body = reply->read(maxSubtitleBytes + 1);
    if (body.size() > maxSubtitleBytes) {
        qDebug() << "字幕下载失败:"
                 << "larger than 16 MiB";
        completion(QString());
        return;
    }
    if (!writeSubtitleFile(localPath, body)) {
        completion(QString());
        return;
    }
    qDebug() << "字幕已下载:" << localPath;
    completion(localPath);
}

void MainWindow::openNetworkPlayer(const QString &videoUrl)
{
    auto *playerWindow = new PlayerWindow(this, QString());
    playerWindow->setAttribute(Qt::WA_DeleteOnClose);
    // The subtitle was downloaded into this window's working directory, which may have been
    // chosen after the stored one the player starts with.
    playerWindow->setWorkingDirectory(rootDir);
    playerWindow->loadSubtitles(videoUrl);
    playerWindow->show();
}
