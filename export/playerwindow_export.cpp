#include "player/playerwindow.h"

#include "ui_playerwindow.h"

#include <QFileInfo>

// The player's export controls.

QString PlayerWindow::exportSubtitlePath(const QString &mediaFile)
{
    const QFileInfo info(mediaFile);
    return info.path() + "/" + info.completeBaseName() + ".srt1";
}
void PlayerWindow::onExportMp3Clicked() {}
void PlayerWindow::onFilterMp3Clicked() {}
