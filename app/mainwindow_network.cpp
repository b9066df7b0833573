#include "app/mainwindow.h"

#include "player/playerwindow.h"

// The network catalogue and the subtitle download of a network video.

QString MainWindow::catalogueBaseUrl()
{
    QString url = qEnvironmentVariable("ORVILOOP_CATALOGUE_URL", ORVILOOP_DEFAULT_CATALOGUE_URL);
    if (!url.endsWith('/'))
        url += '/';
    return url;
}

void MainWindow::loadNetworkCatalogue() {}

void MainWindow::onCatalogueReply(QNetworkReply *reply)
{
    Q_UNUSED(reply);
}

void MainWindow::downloadSubtitle(const QString &videoUrl, SubtitleCompletion completion)
{
    Q_UNUSED(videoUrl);
    completion(QString());
}

void MainWindow::onSubtitleReply(QNetworkReply *reply, SubtitleCompletion completion, const QString &localPath)
{
    Q_UNUSED(reply);
    Q_UNUSED(localPath);
    completion(QString());
}

void MainWindow::openNetworkPlayer(const QString &videoUrl)
{
    auto *playerWindow = new PlayerWindow(this, QString());
    playerWindow->loadSubtitles(videoUrl);
    playerWindow->show();
}
