#include "gui/player/subtitlebrowser.h"

#include "core/groups/group2store.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QItemSelection>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

int itemIndex(const QListWidgetItem *item)
{
    return item->data(Qt::UserRole).toInt();
}

QListWidget *createSentenceList(QWidget *parent)
{
    auto *list = new QListWidget(parent);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Items may be dragged out, but the lists change only through the dialog's own moves.
    list->setDragEnabled(true);
    list->setAcceptDrops(false);
    return list;
}

// The selected items in row order, taken before a move changes the rows.
QList<QListWidgetItem *> selectedInRowOrder(const QListWidget *list)
{
    QList<QListWidgetItem *> items = list->selectedItems();
    std::sort(items.begin(), items.end(),
              [list](QListWidgetItem *a, QListWidgetItem *b) { return list->row(a) < list->row(b); });
    return items;
}

} // namespace

SubtitleBrowser::SubtitleBrowser(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle("浏览字幕");
    resize(800, 400);

    leftList = createSentenceList(this);
    rightList = createSentenceList(this);
    btnHundred = new QPushButton("当前起100", this);
    btnMove = new QPushButton("移动", this);
    btnMove->setEnabled(false);
    btnShort = new QPushButton("长短句", this);
    btnClose = new QPushButton("关闭", this);
    btnClear = new QPushButton("清空", this);
    // Named as a form names its controls, so that they can be found by name.
    leftList->setObjectName("leftList");
    rightList->setObjectName("rightList");
    btnHundred->setObjectName("btnHundred");
    btnMove->setObjectName("btnMove");
    btnShort->setObjectName("btnShort");
    btnClose->setObjectName("btnClose");
    btnClear->setObjectName("btnClear");

    auto *lists = new QHBoxLayout;
    lists->addWidget(leftList);
    lists->addWidget(rightList);
    auto *buttons = new QHBoxLayout;
    for (QPushButton *button : {btnShort, btnMove, btnHundred, btnClose, btnClear})
        buttons->addWidget(button);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(lists);
    layout->addLayout(buttons);

    connect(btnHundred, &QPushButton::clicked, this, &SubtitleBrowser::moveHundred);
    connect(btnShort, &QPushButton::clicked, this, &SubtitleBrowser::onGroupClicked);
    connect(btnClear, &QPushButton::clicked, this, &SubtitleBrowser::onClearClicked);
    connect(btnClose, &QPushButton::clicked, this, &SubtitleBrowser::onCloseClicked);
    connect(leftList, &QListWidget::itemDoubleClicked, this, &SubtitleBrowser::moveItemToRight);
    connect(rightList, &QListWidget::itemDoubleClicked, this, &SubtitleBrowser::moveItemToLeft);
    connect(leftList, &QListWidget::itemSelectionChanged, this, &SubtitleBrowser::updateMoveButton);
    connect(rightList, &QListWidget::itemSelectionChanged, this, &SubtitleBrowser::updateMoveButton);
    connect(btnMove, &QPushButton::clicked, this, &SubtitleBrowser::onMoveClicked);
    connect(leftList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &SubtitleBrowser::onLeftSelectionChanged);
    connect(rightList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &SubtitleBrowser::onRightSelectionChanged);
}

void SubtitleBrowser::setSubtitles(const QList<SubtitleItem> &items)
{
    subtitles = items;
    leftList->clear();
    rightList->clear();
    group2Indexes.clear();
    for (const SubtitleItem &sentence : items) {
        auto *item = new QListWidgetItem(QString("%1 - %2").arg(sentence.index).arg(sentence.text));
        item->setData(Qt::UserRole, sentence.index);
        leftList->addItem(item);
    }
    loadGroup2();
}

// Stored indices that no sentence of this subtitle has are skipped.
void SubtitleBrowser::loadGroup2()
{
    const QList<int> stored = Group2Store::read(leftList->count());
    for (int index : stored) {
        for (int row = 0; row < leftList->count(); ++row) {
            if (itemIndex(leftList->item(row)) == index) {
                rightList->addItem(leftList->takeItem(row));
                break;
            }
        }
    }
    sortListByIndex(rightList);
}

void SubtitleBrowser::saveGroup2()
{
    group2Indexes = indexesOf(rightList);
    Group2Store::write(group2Indexes);
}

void SubtitleBrowser::sortListByIndex(QListWidget *list)
{
    QList<QListWidgetItem *> items;
    items.reserve(list->count());
    while (list->count() > 0)
        items.append(list->takeItem(list->count() - 1));
    std::sort(items.begin(), items.end(),
              [](QListWidgetItem *a, QListWidgetItem *b) { return itemIndex(a) < itemIndex(b); });
    for (QListWidgetItem *item : std::as_const(items))
        list->addItem(item);
}

bool SubtitleBrowser::listContainsIndex(const QListWidget *list, int index)
{
    for (int row = 0; row < list->count(); ++row) {
        if (itemIndex(list->item(row)) == index)
            return true;
    }
    return false;
}

QList<int> SubtitleBrowser::indexesOf(const QListWidget *list)
{
    QList<int> indexes;
    indexes.reserve(list->count());
    for (int row = 0; row < list->count(); ++row)
        indexes.append(itemIndex(list->item(row)));
    return indexes;
}

void SubtitleBrowser::moveItemToRight(QListWidgetItem *item)
{
    if (!item || listContainsIndex(rightList, itemIndex(item)))
        return;
    const int row = leftList->row(item);
    if (row < 0)
        return;
    rightList->addItem(leftList->takeItem(row));
    sortListByIndex(rightList);
}

void SubtitleBrowser::moveIndexToRight(int index)
{
    for (int row = 0; row < leftList->count(); ++row) {
        if (itemIndex(leftList->item(row)) == index) {
            moveItemToRight(leftList->item(row));
            return;
        }
    }
}

void SubtitleBrowser::moveItemToLeft(QListWidgetItem *item)
{
    if (!item || listContainsIndex(leftList, itemIndex(item)))
        return;
    const int row = rightList->row(item);
    if (row < 0)
        return;
    leftList->addItem(rightList->takeItem(row));
    sortListByIndex(leftList);
}

void SubtitleBrowser::onLeftSelectionChanged(const QItemSelection &, const QItemSelection &)
{
    if (!leftList->selectedItems().isEmpty())
        activeList = leftList;
    updateMoveButton();
}

void SubtitleBrowser::onRightSelectionChanged(const QItemSelection &, const QItemSelection &)
{
    if (!rightList->selectedItems().isEmpty())
        activeList = rightList;
    updateMoveButton();
}

void SubtitleBrowser::updateMoveButton()
{
    if (activeList == leftList && !leftList->selectedItems().isEmpty()) {
        btnMove->setEnabled(true);
        btnMove->setText("→");
        moveDirection = 2;
    } else if (activeList == rightList && !rightList->selectedItems().isEmpty()) {
        btnMove->setEnabled(true);
        btnMove->setText("←");
        moveDirection = 1;
    } else {
        btnMove->setEnabled(false);
        btnMove->setText(QString());
        moveDirection = 0;
    }
}

void SubtitleBrowser::onMoveClicked()
{
    if (moveDirection == 2)
        moveSelectedToRight();
    else if (moveDirection == 1)
        moveSelectedToLeft();
    updateMoveButton();
}

void SubtitleBrowser::moveSelectedToRight()
{
    const QList<QListWidgetItem *> items = selectedInRowOrder(leftList);
    for (QListWidgetItem *item : items)
        moveItemToRight(item);
}

void SubtitleBrowser::moveSelectedToLeft()
{
    const QList<QListWidgetItem *> items = selectedInRowOrder(rightList);
    for (QListWidgetItem *item : items)
        moveItemToLeft(item);
}

// Bottom-up, so that the rows still to be moved keep their numbers.
void SubtitleBrowser::moveHundred()
{
    if (activeList != leftList && activeList != rightList)
        return;
    QListWidget *source = activeList;
    const int first = source->currentRow();
    if (first < 0)
        return;
    const int last = std::min(first + 100, source->count()) - 1;
    for (int row = last; row >= first; --row) {
        if (source == leftList)
            moveItemToRight(source->item(row));
        else
            moveItemToLeft(source->item(row));
    }
    if (rightList->count() > 0)
        rightList->scrollToItem(rightList->item(rightList->count() - 1));
}

// "Short" means at most 29 UTF-16 code units once the surrounding blanks are gone.
void SubtitleBrowser::onGroupClicked()
{
    for (int row = leftList->count() - 1; row >= 0; --row) {
        const int index = itemIndex(leftList->item(row));
        if (index < 0 || index >= subtitles.size())
            continue;
        if (subtitles.at(index).text.trimmed().size() <= 29 && !listContainsIndex(rightList, index))
            rightList->addItem(leftList->takeItem(row));
    }
    sortListByIndex(rightList);
}

// Only the lists change: the player hears of it on close, the store only through "关闭".
void SubtitleBrowser::onClearClicked()
{
    for (int row = rightList->count() - 1; row >= 0; --row)
        leftList->addItem(rightList->takeItem(row));
    sortListByIndex(leftList);
    group2Indexes.clear();
}

void SubtitleBrowser::onCloseClicked()
{
    saveGroup2();
    close();
}

void SubtitleBrowser::closeEvent(QCloseEvent *event)
{
    emit groupsUpdated(indexesOf(leftList), indexesOf(rightList));
    QDialog::closeEvent(event);
}

// Escape would reject the dialog, which only hides it: without a close event the player would
// never get the lists. It closes the dialog as the window's own close button does.
void SubtitleBrowser::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Cancel)) {
        close();
        return;
    }
    QDialog::keyPressEvent(event);
}
