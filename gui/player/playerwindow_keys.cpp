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
    switch (event->key()) {
    case Qt::Key_Space:
        togglePlayback();
        break;
    case Qt::Key_F:
        if (isFullScreen())
            showNormal();
        else
            showFullScreen();
        break;
    case Qt::Key_N:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        nextSentence();
        break;
    case Qt::Key_Left:
        seekRelative(-10000);
        break;
    case Qt::Key_Right:
        seekRelative(10000);
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
        skipSentence();
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
        startAlignment(event->modifiers() & Qt::ShiftModifier ? -1 : currentIndex);
        break;
    case Qt::Key_H:
        if (!event->isAutoRepeat())
            setRevealed(true);
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
    if (event->key() == Qt::Key_H && !event->isAutoRepeat()) {
        setRevealed(false);
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
    if (watched != ui->videoView->viewport() || (!press && event->type() != QEvent::MouseButtonRelease))
        return QMainWindow::eventFilter(watched, event);
    const Qt::MouseButton button = static_cast<QMouseEvent *>(event)->button();
    if (press && button == Qt::RightButton) {
        nextSentence();
        return true;
    }
    const bool textHidden = !subtitleTextItem->isVisible() || subtitleTextItem->toPlainText().isEmpty();
    if (press && button == Qt::LeftButton && textHidden) {
        setRevealed(true);
        return true;
    }
    if (!press && button == Qt::LeftButton && revealed) {
        setRevealed(false);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void PlayerWindow::seekRelative(qint64 delta)
{
    if (subtitles.isEmpty())
        return;
    qint64 target = player->position() + delta;
    const qint64 duration = player->duration();
    if (duration > 0 && target > duration)
        target = duration;
    if (target < 0)
        target = 0;

    // The sentence is chosen before the player moves: a media back end may report from inside
    // the seek, and the engine must not take that report as the end of the sentence left behind
    // (which in the repeater would jump straight back to it).
    syncIndexToPosition(target);
    movePlayer(target, -1);
    if (isSentenceIndex(currentIndex) && target >= subtitles.at(currentIndex).startMs)
        refreshSubtitle();
    else
        subtitleTextItem->setPlainText(QString());
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

void PlayerWindow::skipSentence()
{
    if (subtitles.isEmpty())
        return;
    int skipped = currentIndex;
    const bool inPlayList =
        !currentPlayList || currentPlayList->isEmpty() || currentPlayList->contains(skipped);
    if (!isSentenceIndex(skipped) || !inPlayList) {
        if (syncIndexToPosition(player->position()) < 0)
            return;
        skipped = currentIndex;
        if (skipped < 0)
            return;
    }
    if (!isSentenceIndex(skipped))
        return;
    // Taken before the skipped sentence leaves the play list.
    const int next = nextPlayListIndex();

    addCurrentToGroup2(skipped);
    if (isSentenceIndex(next) && next != skipped) {
        beginSentencePass(next);
        seekToSentence(next);
        refreshSubtitle();
        updateSliderRange();
    } else {
        // The only sentence of the play list: it starts again.
        beginSentencePass(skipped);
        seekToSentence(skipped);
        refreshSubtitle();
    }
}
