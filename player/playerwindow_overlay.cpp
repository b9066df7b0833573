#include "player/playerwindow.h"

#include "ui_playerwindow.h"

#include <QGraphicsTextItem>
#include <QRegularExpression>

#include <algorithm>

// The subtitle overlay: display modes against the repetition, and the Chinese-line filter.

namespace {

const QRegularExpression &chineseIdeograph()
{
    static const QRegularExpression pattern("[\\x{4e00}-\\x{9fa5}]");
    return pattern;
}

// Drops the lines that hold a Chinese ideograph; a run of line breaks counts as one break.
QString withoutChineseLines(const QString &text)
{
    static const QRegularExpression lineBreaks("[\\r\\n]+");
    QStringList kept;
    const QStringList lines = text.split(lineBreaks, Qt::KeepEmptyParts);
    for (const QString &line : lines) {
        if (!line.contains(chineseIdeograph()))
            kept << line;
    }
    return kept.join('\n');
}

} // namespace

void PlayerWindow::refreshSubtitle()
{
    if (!subtitleTextItem)
        return;
    if (subtitleDisplayMode == 1) {
        subtitleTextItem->hide();
        return;
    }
    subtitleTextItem->show();

    QString text;
    if (isSentenceIndex(currentIndex)) {
        const QString &sentence = subtitles.at(currentIndex).text;
        const bool countsRounds = playMode == 2;
        switch (subtitleDisplayMode) {
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
        text = withoutChineseLines(text);
    subtitleTextItem->setPlainText(text);
    layoutSubtitle();
}

void PlayerWindow::onSubtitleModeChanged(int index)
{
    subtitleDisplayMode = index;
    // The pass in progress counts as the first one again.
    repeatRound = 0;
    refreshSubtitle();
}

void PlayerWindow::applySubtitleMode()
{
    repeatRound = 0;
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
    hasChineseText = std::any_of(subtitles.cbegin(), subtitles.cend(), [](const SubtitleItem &item) {
        return item.text.contains(chineseIdeograph());
    });
    ui->btnFilterChinese->setVisible(hasChineseText);
}
