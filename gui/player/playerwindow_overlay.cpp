#include "gui/player/playerwindow.h"

#include "core/drill/chineselines.h"
#include "ui_playerwindow.h"

#include <QGraphicsTextItem>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

// The subtitle overlay: display modes against the repetition, and the Chinese-line filter.

void PlayerWindow::refreshSubtitle()
{
    if (!subtitleTextItem)
        return;
    if (subtitleDisplayMode == 1 && !revealed) {
        subtitleTextItem->hide();
        return;
    }
    subtitleTextItem->show();

    QString text;
    if (isSentenceIndex(currentIndex)) {
        const QString &sentence = subtitles.at(currentIndex).text;
        const bool countsRounds = playMode == 2;
        switch (revealed ? 0 : subtitleDisplayMode) {
        case 0:
            text = sentence;
            break;
        case 2:
            if (!countsRounds || repeatRound == 0)
                text = sentence;
            break;
        case 3:
            if (!countsRounds || repeatRound == repeatCount - 1)
                text = sentence;
            break;
        default:
            break;
        }
    }
    if (filterChineseEnabled)
        text = ChineseLines::removedFrom(text);
    // The second subtitle goes with the sentence, on the repetitions that show it.
    if (secondSubtitleShown && !text.isEmpty() && currentIndex >= 0 &&
        currentIndex < secondSubtitleLines.size() && !secondSubtitleLines.at(currentIndex).isEmpty())
        text += '\n' + secondSubtitleLines.at(currentIndex);
    subtitleTextItem->setPlainText(text);
    backText();
    layoutSubtitle();
}

// A dark band behind the white letters, as television subtitles have: the sentence reads on a
// bright picture as well.
void PlayerWindow::backText()
{
    QTextCursor cursor(subtitleTextItem->document());
    cursor.select(QTextCursor::Document);
    QTextCharFormat format;
    format.setBackground(QColor(0, 0, 0, 150));
    cursor.mergeCharFormat(format);
}

void PlayerWindow::onSubtitleModeChanged(int index)
{
    subtitleDisplayMode = index;
    // The pass in progress counts as the first one again.
    setRepeatRound(0);
    refreshSubtitle();
}

void PlayerWindow::applySubtitleMode()
{
    setRepeatRound(0);
    refreshSubtitle();
}

void PlayerWindow::onFilterChineseClicked()
{
    filterChineseEnabled = !filterChineseEnabled;
    updateFilterChineseButton();
    refreshSubtitle();
}

void PlayerWindow::updateFilterChineseButton()
{
    ui->btnFilterChinese->setVisible(hasChineseText);
    ui->btnFilterChinese->setText(filterChineseEnabled ? "中文:关" : "中文:开");
}

void PlayerWindow::detectChineseText()
{
    hasChineseText = ChineseLines::anyIn(subtitles);
    ui->btnFilterChinese->setVisible(hasChineseText);
}
