#include "gui/player/playerwindow.h"

#include "gui/player/takecontroller.h"

#include "ui_playerwindow.h"

#include <QDebug>
#include <QGraphicsTextItem>
#include <QKeyEvent>
#include <QMouseEvent>

// Keyboard and mouse control of the player.

namespace {

// How far one press of a timing key moves a sentence's start or end, or the whole subtitle.
constexpr qint64 timingStepMs = 100;

} // namespace

void PlayerWindow::keyPressEvent(QKeyEvent *event)
{
    if (keepingKeys) {
        keptKeys.emplace_back(event->clone());
        return;
    }
    switch (event->key()) {
    case Qt::Key_Space:
        session->togglePlay();
        break;
    case Qt::Key_F:
        if (isFullScreen())
            showNormal();
        else
            showFullScreen();
        break;
    case Qt::Key_Escape:
        // As in every player: Esc leaves full screen.
        if (isFullScreen())
            showNormal();
        else
            QMainWindow::keyPressEvent(event);
        break;
    case Qt::Key_N:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        session->next();
        break;
    case Qt::Key_Left:
        session->seekBy(-10000);
        break;
    case Qt::Key_Right:
        session->seekBy(10000);
        break;
    case Qt::Key_Up: {
        const float before = player->volume();
        adjustVolume(0.05);
        qDebug() << "Volume up:" << before;
        break;
    }
    case Qt::Key_Down: {
        const float before = player->volume();
        adjustVolume(-0.05);
        qDebug() << "Volume down:" << before;
        break;
    }
    case Qt::Key_F12:
        session->skip();
        break;
    case Qt::Key_BracketLeft:
        moveSentenceEdge(Shadowing::Edge::Start, -timingStepMs);
        break;
    case Qt::Key_BracketRight:
        moveSentenceEdge(Shadowing::Edge::Start, timingStepMs);
        break;
    case Qt::Key_Semicolon:
        moveSentenceEdge(Shadowing::Edge::End, -timingStepMs);
        break;
    case Qt::Key_Apostrophe:
        moveSentenceEdge(Shadowing::Edge::End, timingStepMs);
        break;
    case Qt::Key_Comma:
        shiftSubtitle(-timingStepMs);
        break;
    case Qt::Key_Period:
        shiftSubtitle(timingStepMs);
        break;
    case Qt::Key_A:
        startAlignment(event->modifiers() & Qt::ShiftModifier ? -1 : session->currentSentence());
        break;
    case Qt::Key_H:
        if (!event->isAutoRepeat())
            session->reveal(true);
        break;
    case Qt::Key_T:
        toggleSecondSubtitle();
        break;
    case Qt::Key_R:
        takes->playLastTake();
        break;
    default:
        QMainWindow::keyPressEvent(event);
        break;
    }
}

void PlayerWindow::keyReleaseEvent(QKeyEvent *event)
{
    if (keepingKeys) {
        keptKeys.emplace_back(event->clone());
        return;
    }
    if (event->key() == Qt::Key_H && !event->isAutoRepeat()) {
        session->reveal(false);
        return;
    }
    QMainWindow::keyReleaseEvent(event);
}

// A right click on the video moves on to the next sentence; a left button held on the video
// shows the sentence's text while it is hidden.
bool PlayerWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->labelLesson && event->type() == QEvent::Resize)
        showLessonName();
    const bool press = event->type() == QEvent::MouseButtonPress;
    if (!player || watched != ui->videoView->viewport() ||
        (!press && event->type() != QEvent::MouseButtonRelease))
        return QMainWindow::eventFilter(watched, event);
    const Qt::MouseButton button = static_cast<QMouseEvent *>(event)->button();
    if (press && button == Qt::RightButton) {
        session->next();
        return true;
    }
    const bool textHidden = !video.subtitleItem->isVisible() || video.subtitleItem->toPlainText().isEmpty();
    if (press && button == Qt::LeftButton && textHidden) {
        session->reveal(true);
        return true;
    }
    if (!press && button == Qt::LeftButton && session->isRevealed()) {
        session->reveal(false);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void PlayerWindow::adjustVolume(double step)
{
    double volume = player->volume() + step;
    if (volume > 1)
        volume = 1;
    else if (volume <= 0)
        volume = 0;
    player->setVolume(float(volume));
    qDebug() << "Volume:" << int(volume * 100);
}
