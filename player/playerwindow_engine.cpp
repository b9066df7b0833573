#include "player/playerwindow.h"

#include "ui_playerwindow.h"

// The sentence repeat engine: which sentence is current, and what happens at its end.

qint64 PlayerWindow::sentenceLeadStart(int) const { return 0; }
qint64 PlayerWindow::sentenceTailMargin(int) const { return 500; }
int PlayerWindow::sentenceIndexAt(qint64) const { return -1; }
bool PlayerWindow::isSentenceIndex(int index) const { return index >= 0 && index < subtitles.size(); }
bool PlayerWindow::handleSentenceEnd(int) { return false; }
int PlayerWindow::nextPlayListIndex() const { return 0; }
void PlayerWindow::seekToSentence(int) {}
int PlayerWindow::syncIndexToPosition(qint64) { return -1; }
void PlayerWindow::seekToPosition(qint64 position) { player->setPosition(qMax<qint64>(0, position)); }
void PlayerWindow::nextSentence() {}
void PlayerWindow::updateSliderRange() {}
void PlayerWindow::onPositionChanged(qint64) {}
void PlayerWindow::onLoadedMedia(QMediaPlayer::MediaStatus status)
{
    if (status == QMediaPlayer::LoadedMedia)
        player->play();
}
void PlayerWindow::onDurationChanged(qint64 duration) { ui->horizontalSlider->setRange(0, int(duration)); }
void PlayerWindow::onSliderReleased() { sliderDragging = false; }
void PlayerWindow::onRepeatCountChanged(int value) { repeatCount = value > 0 ? value : 1; }
void PlayerWindow::onPlayModeChanged(int) {}
void PlayerWindow::applyPlayMode(int mode, bool) { playMode = mode; updateRepeatControls(); }
void PlayerWindow::savePlayModeSettings() {}
void PlayerWindow::onBtnPlayPauseClicked() {}
void PlayerWindow::onBtnBackClicked() { close(); }
QString PlayerWindow::formatTime(qint64) { return {}; }
