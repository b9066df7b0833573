#include "player/playerwindow.h"

#include "ui_playerwindow.h"

// The subtitle overlay: display modes against the repetition, and the Chinese-line filter.

void PlayerWindow::refreshSubtitle() {}
void PlayerWindow::onSubtitleModeChanged(int index) { subtitleDisplayMode = index; }
void PlayerWindow::applySubtitleMode() {}
void PlayerWindow::onFilterChineseClicked() {}
void PlayerWindow::updateFilterChineseButton() {}
void PlayerWindow::detectChineseText() {}
