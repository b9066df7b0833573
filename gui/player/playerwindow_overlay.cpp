#include "gui/player/playerwindow.h"

#include "core/drill/chineselines.h"
#include "ui_playerwindow.h"

#include <QGraphicsTextItem>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

// The subtitle overlay: the text the session shows on a dark band, the Chinese-line filter.

// A dark band behind the white letters, as television subtitles have: the sentence reads on a
// bright picture as well.
void PlayerWindow::backText()
{
    QTextCursor cursor(video.subtitleItem->document());
    cursor.select(QTextCursor::Document);
    QTextCharFormat format;
    format.setBackground(QColor(0, 0, 0, 150));
    cursor.mergeCharFormat(format);
}

void PlayerWindow::onSubtitleModeChanged(int index)
{
    session->setDisplayMode(index >= 0 && index <= 3 ? SubtitleDisplay(index) : SubtitleDisplay::Always);
}

void PlayerWindow::onFilterChineseClicked()
{
    session->setChineseLinesHidden(!session->chineseLinesHidden());
    updateFilterChineseButton();
}

// The button shows only for a lesson with Chinese lines.
void PlayerWindow::updateFilterChineseButton()
{
    ui->btnFilterChinese->setVisible(ChineseLines::anyIn(session->sentences()));
    ui->btnFilterChinese->setText(session->chineseLinesHidden() ? "中文:关" : "中文:开");
}
