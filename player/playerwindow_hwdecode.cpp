#include "player/playerwindow.h"

#include "ui_playerwindow.h"

// The hardware decoding switch, put into force by restarting the program.

void PlayerWindow::applyMediaBackendEnvironment() { qputenv("QT_MEDIA_BACKEND", "ffmpeg"); }
void PlayerWindow::updateHwDecodeButton() {}
void PlayerWindow::toggleHardwareDecoding() {}
QStringList PlayerWindow::restartArguments() const { return {}; }
