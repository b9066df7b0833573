#include "gui/library/mainwindow.h"

#include "core/library/catalogue.h"
#include "media/networksource.h"
#include "gui/player/playerwindow.h"
#include "core/subtitles/subtitlelookup.h"
#include "ui_mainwindow.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QStatusBar>
#include <QUrl>

// The network catalogue and the subtitle download of a network video.

namespace {

// A subtitle is a few hundred kilobytes; anything bigger comes from a broken or hostile
// server and must not fill the disk or the memory.
constexpr qint64 maxSubtitleBytes = 16 * 1024 * 1024;

// Only videos have a subtitle beside them on the server.
bool hasRemoteSubtitle(const QString &suffix)
{
    const QString lower = suffix.toLower();
    return lower == "mp4" || lower == "mkv" || lower == "avi";
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
// truncated subtitle that would later open as the real one. The server's folder is made in the
// working directory, never the working directory itself.
bool writeSubtitleFile(const QString &path, const QByteArray &body)
{
    const QString serverFolder = QFileInfo(path).absolutePath();
    const QString workingDirectory = QFileInfo(QFileInfo(serverFolder).absolutePath()).absolutePath();
    if (!QFileInfo(workingDirectory).isDir() || !QDir().mkpath(serverFolder))
        return false;
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

// The list keeps what it shows until a catalogue has arrived: a server that cannot be reached
// leaves the local files listed.
void MainWindow::loadNetworkCatalogue()
{
    // Replies to clicks made while one is out are added to the list the first one fills.
    if (pendingCatalogues.isEmpty())
        catalogueReplacesList = true;
    QNetworkReply *reply = networkManager->get(catalogueRequest(QUrl(catalogueBaseUrl() + "video.txt")));
    capReplySize(reply, maxCatalogueBytes);
    pendingCatalogues.append(reply);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onCatalogueReply(reply); });
}

void MainWindow::showNetworkError(const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Warning, "网络错误", text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void MainWindow::onCatalogueReply(QNetworkReply *reply)
{
    reply->deleteLater();
    // A local listing chosen while the request was out wins.
    if (!pendingCatalogues.removeOne(reply)) {
        qDebug() << "目录已切换到本地，忽略网络列表:" << reply->url().toString();
        return;
    }
    if (replyFailed(reply)) {
        qDebug() << "网络目录读取失败:" << reply->url().toString() << reply->errorString();
        showNetworkError("无法读取网络课程列表：" + networkFailureText(reply));
        return;
    }
    const QString baseUrl = catalogueBaseUrl();
    const CatalogueListing listing = readCatalogue(reply->read(maxCatalogueBytes + 1), baseUrl);
    if (catalogueReplacesList) {
        catalogueReplacesList = false;
        ui->listMedia->clear();
    }
    for (const QString &entry : listing.entries)
        addListedLesson(entry, baseUrl + entry);

    QString note;
    if (listing.refused > 0)
        note = QString("已跳过 %1 个名称不可用的条目。").arg(listing.refused);
    if (listing.cutShort)
        note += QString("课程列表过长，只读取了前 %1 行。").arg(maxCatalogueEntries);
    statusBar()->showMessage(note);
    showListedPlace("网络课程：" + baseUrl);
}

void MainWindow::downloadSubtitle(const QString &videoUrl, SubtitleCompletion completion)
{
    const QUrl url(videoUrl, QUrl::TolerantMode);
    if (!isUsableMediaUrl(url)) {
        qDebug() << "字幕下载失败:"
                 << "no usable file name in" << videoUrl;
        completion(QString());
        return;
    }
    const QFileInfo remoteFile(url.path(QUrl::FullyDecoded));
    const QString base = remoteFile.completeBaseName();
    const QString localPath = networkSubtitleDirectory(url, rootDir) + "/" + base + ".srt1";
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
    capReplySize(reply, maxSubtitleBytes);
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, completion, localPath] { onSubtitleReply(reply, completion, localPath); });
}

void MainWindow::onSubtitleReply(QNetworkReply *reply, SubtitleCompletion completion,
                                 const QString &localPath)
{
    reply->deleteLater();
    if (replyFailed(reply)) {
        qDebug() << "字幕下载失败:" << reply->errorString();
        // A video without a subtitle on the server is common and plays as it is.
        if (reply->error() != QNetworkReply::ContentNotFoundError)
            showNetworkError("字幕下载失败，视频将不带字幕播放：" + networkFailureText(reply));
        completion(QString());
        return;
    }
    if (!writeSubtitleFile(localPath, reply->readAll())) {
        qDebug() << "字幕无法保存:" << localPath;
        completion(QString());
        return;
    }
    qDebug() << "字幕已下载:" << localPath;
    completion(localPath);
}

void MainWindow::openNetworkPlayer(const QString &videoUrl)
{
    if (raiseOpenPlayer(videoUrl))
        return;
    // Opened for the address: the last local lesson is not opened on the way.
    auto *playerWindow = new PlayerWindow(this, videoUrl);
    playerWindow->setAttribute(Qt::WA_DeleteOnClose);
    // The subtitle was downloaded under this window's working directory, which may have been
    // chosen after the stored one the player starts with.
    playerWindow->setWorkingDirectory(rootDir);
    playerWindow->loadSubtitles(videoUrl);
    playerWindow->show();
}
