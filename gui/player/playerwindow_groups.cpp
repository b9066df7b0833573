#include "gui/player/playerwindow.h"

#include "core/groups/group2store.h"
#include "gui/player/subtitlebrowser.h"
#include "ui_playerwindow.h"

#include <QDebug>

#include <algorithm>

// The two sentence groups and the play list drawn from them.

namespace {

// Group 2 as stored may name sentences of another, longer lesson and repeat itself.
QList<int> validGroup2(const QList<int> &stored, int sentenceCount)
{
    QList<int> kept;
    for (int index : stored) {
        if (index >= 0 && index < sentenceCount && !kept.contains(index))
            kept.append(index);
    }
    std::sort(kept.begin(), kept.end());
    return kept;
}

// All sentences, then group 2, then group 1, then all again.
int nextPlayGroup(int group)
{
    switch (group) {
    case 0:
        return 1;
    case 1:
        return 2;
    default:
        return 0;
    }
}

// A group with nothing in it leaves nothing to drill, and without group 2 there is no choice
// to make: all sentences play. So do they for a stored choice the program does not know.
int settledPlayGroup(int group, const QList<int> &group1, const QList<int> &group2)
{
    if (group2.isEmpty())
        return 0;
    if (group == 1 || (group == 2 && !group1.isEmpty()))
        return group;
    return 0;
}

} // namespace

void PlayerWindow::rebuildPlayList()
{
    const int count = int(subtitles.size());
    groupRightIndexes = validGroup2(groupRightIndexes, count);
    groupAllIndexes.clear();
    groupLeftIndexes.clear();
    for (int i = 0; i < count; ++i) {
        groupAllIndexes.append(i);
        if (!groupRightIndexes.contains(i))
            groupLeftIndexes.append(i);
    }

    // A new play list starts a new pass, at its first sentence (none without sentences).
    seekGuardPosition = -1;
    beginSentencePass(groupAllIndexes.isEmpty() ? -1 : currentIndex);
    applyPlayList();
}

QList<int> *PlayerWindow::playListFor(int group)
{
    switch (group) {
    case 1:
        return &groupRightIndexes;
    case 2:
        return &groupLeftIndexes;
    default:
        return &groupAllIndexes;
    }
}

// Settles the group to play after the groups changed and jumps to the first sentence of its list.
void PlayerWindow::applyPlayList()
{
    playGroup = settledPlayGroup(playGroup, groupLeftIndexes, groupRightIndexes);
    currentPlayList = playListFor(playGroup);
    updateGroupButton();

    const QList<int> &list = *currentPlayList;
    if (list.isEmpty() || list.first() < 0 || list.last() >= subtitles.size())
        return;
    const SubtitleItem &first = subtitles.at(list.first());
    ui->horizontalSlider->setRange(int(first.startMs), int(subtitles.at(list.last()).endMs));
    beginSentencePass(list.first());
    movePlayer(first.startMs, -1);
}

void PlayerWindow::updateGroupButton()
{
    const bool hasGroup2 = !groupRightIndexes.isEmpty();
    ui->btnSwitchGroup->setEnabled(hasGroup2);
    if (!hasGroup2) {
        ui->btnSwitchGroup->setText("请先分组");
        return;
    }
    switch (playGroup) {
    case 0:
        ui->btnSwitchGroup->setText("全部");
        break;
    case 1:
        ui->btnSwitchGroup->setText("组2");
        break;
    case 2:
        ui->btnSwitchGroup->setText("组1");
        break;
    default:
        break;
    }
}

void PlayerWindow::onSwitchGroupClicked()
{
    if (groupRightIndexes.isEmpty() && groupLeftIndexes.isEmpty())
        return;
    playGroup = nextPlayGroup(playGroup);
    applyPlayList();

    // Lists handed over by the subtitle browser are taken unchecked: only jump to a real sentence.
    if (!currentPlayList->isEmpty() && isSentenceIndex(currentPlayList->first())) {
        beginSentencePass(currentPlayList->first());
        movePlayer(subtitles.at(currentIndex).startMs, -1);
        refreshSubtitle();
    }
    if (!subtitles.isEmpty())
        updateSliderRange();
}

void PlayerWindow::onGroupsUpdated(QList<int> left, QList<int> right)
{
    // The browser has saved group 2 itself; its lists are taken as they come.
    groupLeftIndexes = left;
    groupRightIndexes = right;
    applyPlayList();
}

void PlayerWindow::addCurrentToGroup2(int index)
{
    if (!isSentenceIndex(index))
        return;
    if (!groupRightIndexes.contains(index)) {
        groupRightIndexes.append(index);
        std::sort(groupRightIndexes.begin(), groupRightIndexes.end());
    }
    groupLeftIndexes.removeAll(index);
    playGroup = settledPlayGroup(playGroup, groupLeftIndexes, groupRightIndexes);
    currentPlayList = playListFor(playGroup);

    Group2Store::write(groupRightIndexes);
    // An open browser would otherwise hand back its older group 2 when it closes.
    const auto browsers = findChildren<SubtitleBrowser *>(QString(), Qt::FindDirectChildrenOnly);
    for (SubtitleBrowser *browser : browsers) {
        if (browser->isVisible())
            browser->moveIndexToRight(index);
    }
    updateGroupButton();
    qDebug() << "跳过：句子" << index << "加入组2，组2共" << groupRightIndexes.size() << "句";
}

// A new dialog per click; it is hidden when closed and lives as long as the player.
void PlayerWindow::onBrowseSubtitlesClicked()
{
    if (subtitles.isEmpty())
        return;
    auto *browser = new SubtitleBrowser(this);
    browser->setSubtitles(subtitles);
    connect(browser, &SubtitleBrowser::groupsUpdated, this, &PlayerWindow::onGroupsUpdated);
    browser->show();
}
