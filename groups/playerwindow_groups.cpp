#include "player/playerwindow.h"

#include "ui_playerwindow.h"

// The two sentence groups and the play list drawn from them.

void PlayerWindow::rebuildPlayList() {}
void PlayerWindow::applyPlayList() {}
void PlayerWindow::updateGroupButton() { currentPlayList = &groupAllIndexes; }
void PlayerWindow::onSwitchGroupClicked() {}
void PlayerWindow::onGroupsUpdated(QList<int>, QList<int>) {}
void PlayerWindow::addCurrentToGroup2(int) {}
