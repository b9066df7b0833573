#include "player/playerwindow.h"

#include "groups/group2store.h"
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
    if ((groupRightIndexes.isEmpty() && playGroup == 1) || (groupLeftIndexes.isEmpty() && playGroup == 2))
        playGroup = 0;

    seekGuardPosition = -1;
    repeatRound = 0;
    lastEndHandledIndex = -1;
    if (!groupAllIndexes.isEmpty()) {
        applyPlayList();
    } else {
        currentPlayList = &groupAllIndexes;
        currentIndex = -1;
    }
}

void PlayerWindow::applyPlayList()
{
    stopEndTimer();
    if (playGroup == 1)
        currentPlayList = &groupRightIndexes;
    else if (playGroup == 2)
        currentPlayList = &groupLeftIndexes;
    else
        currentPlayList = &groupAllIndexes;

    const QList<int> &list = *currentPlayList;
    if (list.isEmpty() || list.first() < 0 || list.last() >= subtitles.size())
        return;
    const SubtitleItem &first = subtitles.at(list.first());
    ui->horizontalSlider->setRange(int(first.startMs), int(subtitles.at(list.last()).endMs));
    seekGuardPosition = -1;
    movePlayer(first.startMs);
    currentIndex = list.first();
    updateGroupButton();
}

void PlayerWindow::updateGroupButton()
{
    if (groupRightIndexes.isEmpty()) {
        ui->btnSwitchGroup->setText("请先分组");
        ui->btnSwitchGroup->setEnabled(false);
        playGroup = 0;
        currentPlayList = &groupAllIndexes;
        return;
    }
    ui->btnSwitchGroup->setEnabled(true);
    switch (playGroup) {
    case 0:
        ui->btnSwitchGroup->setText("全部");
        currentPlayList = &groupAllIndexes;
        break;
    case 1:
        ui->btnSwitchGroup->setText("组2");
        currentPlayList = &groupRightIndexes;
        break;
    case 2:
        ui->btnSwitchGroup->setText("组1");
        currentPlayList = &groupLeftIndexes;
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
    if (currentPlayList && !currentPlayList->isEmpty() && isSentenceIndex(currentPlayList->first())) {
        seekGuardPosition = -1;
        currentIndex = currentPlayList->first();
        movePlayer(subtitles.at(currentIndex).startMs);
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
    if (groupLeftIndexes.isEmpty() && playGroup == 2)
        playGroup = 0;

    Group2Store::write(groupRightIndexes);
    updateGroupButton();
    qDebug() << "跳过：句子" << index << "加入组2，组2共" << groupRightIndexes.size() << "句";
}
