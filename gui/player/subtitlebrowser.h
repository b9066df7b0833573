#pragma once

#include "core/subtitles/subtitleitem.h"

#include <QDialog>

class QItemSelection;
class QListWidget;
class QListWidgetItem;
class QPushButton;

// The dialog in which the learner sorts the sentences into group 1 (left) and group 2 (right).
class SubtitleBrowser : public QDialog
{
    Q_OBJECT

public:
    explicit SubtitleBrowser(QWidget *parent = nullptr);
    void setSubtitles(const QList<SubtitleItem> &items);
    // Takes in a sentence the player has put into group 2 while the dialog is open.
    void moveIndexToRight(int index);

signals:
    void groupsUpdated(QList<int> left, QList<int> right);

private slots:
    void onGroupClicked();
    void onCloseClicked();
    void moveSelectedToRight();
    void moveSelectedToLeft();
    void onClearClicked();
    void onLeftSelectionChanged(const QItemSelection &selected, const QItemSelection &deselected);
    void onRightSelectionChanged(const QItemSelection &selected, const QItemSelection &deselected);

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void loadGroup2();
    void saveGroup2();
    static void sortListByIndex(QListWidget *list);
    static bool listContainsIndex(const QListWidget *list, int index);
    static QList<int> indexesOf(const QListWidget *list);
    void moveItemToRight(QListWidgetItem *item);
    void moveItemToLeft(QListWidgetItem *item);
    void updateMoveButton();
    void onMoveClicked();
    void moveHundred();

    QListWidget *leftList = nullptr;
    QListWidget *rightList = nullptr;
    int moveDirection = 0;
    QPushButton *btnHundred = nullptr;
    QPushButton *btnMove = nullptr;
    QPushButton *btnShort = nullptr;
    QPushButton *btnClose = nullptr;
    QPushButton *btnClear = nullptr;
    QList<int> group2Indexes;
    QList<SubtitleItem> subtitles;
    QListWidget *activeList = nullptr;
};
