#include "player/playerwindow.h"

#include "ui_playerwindow.h"

#include <QKeyEvent>

// Keyboard and mouse control of the player.

void PlayerWindow::keyPressEvent(QKeyEvent *event) { QMainWindow::keyPressEvent(event); }
bool PlayerWindow::eventFilter(QObject *watched, QEvent *event) { return QMainWindow::eventFilter(watched, event); }
void PlayerWindow::seekRelative(qint64) {}
void PlayerWindow::adjustVolume(double) {}
void PlayerWindow::skipSentence() {}
