#include "player/playerwindow.h"

#include "ui_playerwindow.h"

// Persistence of the player state in the settings store.

void PlayerWindow::loadPlayerState()
{
    if (!mediaPath.isEmpty()) {
        currentFile = mediaPath;
        mediaPath.clear();
    }
    if (!currentFile.isEmpty())
        loadSubtitles(currentFile);
}
void PlayerWindow::savePlayerState() {}
void PlayerWindow::restorePosition(QMediaPlayer::MediaStatus) {}
