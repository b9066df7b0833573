#include "gui/player/playerwindow.h"

#include "core/groups/group2store.h"
#include "gui/player/subtitlebrowser.h"
#include "ui_playerwindow.h"

// The group button, group 2 kept in the store, and the subtitle browser that regroups.

void PlayerWindow::showGroup(PlayGroup group)
{
    const bool hasGroup2 = !session->group2().isEmpty();
    ui->btnSwitchGroup->setEnabled(hasGroup2);
    if (!hasGroup2) {
        ui->btnSwitchGroup->setText("请先分组");
        return;
    }
    switch (group) {
    case PlayGroup::All:
        ui->btnSwitchGroup->setText("全部");
        break;
    case PlayGroup::Group2:
        ui->btnSwitchGroup->setText("组2");
        break;
    case PlayGroup::Group1:
        ui->btnSwitchGroup->setText("组1");
        break;
    }
}

// A sentence skipped into group 2: the store and an open browser take it.
void PlayerWindow::onGroup2Changed(const QList<int> &group2)
{
    Group2Store::write(group2);
    showGroup(session->playGroup());
    // An open browser would otherwise hand back its older group 2 when it closes.
    const auto browsers = findChildren<SubtitleBrowser *>(QString(), Qt::FindDirectChildrenOnly);
    for (SubtitleBrowser *browser : browsers) {
        if (!browser->isVisible())
            continue;
        for (int index : group2)
            browser->moveIndexToRight(index);
    }
}

// A new dialog per click; it is hidden when closed and lives as long as the player.
void PlayerWindow::onBrowseSubtitlesClicked()
{
    if (session->sentences().isEmpty())
        return;
    auto *browser = new SubtitleBrowser(this);
    browser->setSubtitles(session->sentences());
    // The browser has saved group 2 itself; its lists are taken as they come.
    connect(browser, &SubtitleBrowser::groupsUpdated, session, &RepeatSession::setGroups);
    browser->show();
}
