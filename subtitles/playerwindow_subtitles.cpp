#include "player/playerwindow.h"

#include "subtitles/srtparser.h"

#include <QUrl>

// Finding, adopting and loading the subtitle of a media file.

void PlayerWindow::loadSubtitles(const QString &path)
{
    if (path.isEmpty())
        return;
    currentFile = path;
    subtitles.clear();
    currentIndex = 0;
    repeatRound = 0;
    const QUrl url = path.startsWith("http", Qt::CaseInsensitive) ? QUrl(path, QUrl::TolerantMode)
                                                                   : QUrl::fromLocalFile(path);
    player->setSource(url);
}
