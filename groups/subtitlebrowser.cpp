#include "groups/subtitlebrowser.h"

#include "player/playerwindow.h"

#include <QCloseEvent>
#include <QItemSelection>

SubtitleBrowser::SubtitleBrowser(QWidget *parent)
    : QDialog(parent)
{
}

void SubtitleBrowser::setSubtitles(const QList<SubtitleItem> &items) { subtitles = items; }
void SubtitleBrowser::onGroupClicked() {}
void SubtitleBrowser::onCloseClicked() { close(); }
void SubtitleBrowser::moveSelectedToRight() {}
void SubtitleBrowser::moveSelectedToLeft() {}
void SubtitleBrowser::onClearClicked() {}
void SubtitleBrowser::onLeftSelectionChanged(const QItemSelection &, const QItemSelection &) {}
void SubtitleBrowser::onRightSelectionChanged(const QItemSelection &, const QItemSelection &) {}
void SubtitleBrowser::closeEvent(QCloseEvent *event) { QDialog::closeEvent(event); }

void PlayerWindow::onBrowseSubtitlesClicked() {}
