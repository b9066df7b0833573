#include "gui/player/playerwindow.h"

#include "core/drill/sentencechoice.h"

#include "ui_playerwindow.h"

#include <QDebug>
#include <QGraphicsTextItem>
#include <QProxyStyle>
#include <QTimer>

// Moving the player: every seek of the window, and the guard that keeps reports from before a
// seek from being taken for where playback is.

namespace {

// After a seek the first reports lie from a little before its target (a video seek may land on
// the frame before) to where playback can have got since.
constexpr qint64 nearBeforeMs = 1000;
constexpr qint64 nearAfterMs = 400;
// A media back end may still report the position it had before the seek, or a little past it.
constexpr qint64 staleAfterMs = 300;
// More stray reports than this mean the back end dropped the seek (a busy machine).
constexpr int strayReportsAllowed = 2;

// A click on the slider's groove puts the handle there at once and starts a drag, as in desktop
// players; most styles move it a page towards the click instead.
class JumpToClickStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_Slider_AbsoluteSetButtons)
            return Qt::LeftButton;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

// Every seek of the window goes through here. Reports are then checked against the target until
// one arrives near it; `guardFrom` (-1: none) is the position below which reports stay ignored
// after that, the start of a sentence whose lead-in is played.
void PlayerWindow::movePlayer(qint64 position, qint64 guardFrom)
{
    // Before an earlier seek has landed the back end may still report where it was before that.
    const qint64 from = pendingSeek.target >= 0 ? pendingSeek.from : player->position();
    pendingSeek = {position, from};
    seekGuardPosition = guardFrom;
    requestSeek(position);
    armEndPoint();
    // A seek while the learner speaks drops what was to follow: playback goes on from here.
    cancelShadowPause();
}

// True for a report that does not come from the pending seek: one far from its target, or one
// that repeats the position playback had before it.
bool PlayerWindow::isStrayReport(qint64 position)
{
    if (pendingSeek.target < 0)
        return false;
    const double rate = qMax<qreal>(1.0, player->playbackRate());
    const qint64 target = pendingSeek.target;
    const auto nearTarget = [&](qint64 p) {
        return p >= target - nearBeforeMs &&
               p <= qMax(target, seekGuardPosition) + qint64(nearAfterMs * rate);
    };
    const qint64 from = pendingSeek.from;
    const bool repeatsFrom =
        !nearTarget(from) && position >= from - 20 && position <= from + qint64(staleAfterMs * rate);
    if (nearTarget(position) && !repeatsFrom) {
        // A back end may report the target from inside the seek call, before it has moved at all.
        if (pendingSeek.requested)
            pendingSeek = {};
        return false;
    }
    if (++pendingSeek.strayReports <= strayReportsAllowed)
        return true;
    if (!pendingSeek.askedAgain) {
        askSeekAgain();
        return true;
    }
    // Asked twice: playback is where the reports say.
    pendingSeek = {};
    seekGuardPosition = -1;
    return false;
}

void PlayerWindow::requestSeek(qint64 position)
{
    pendingSeek.requested = false;
    player->setPosition(position);
    pendingSeek.requested = true;
}

// The back end dropped the pending seek (a busy machine): it is asked once more.
void PlayerWindow::askSeekAgain()
{
    qDebug() << "seek lost, again:" << pendingSeek.target;
    pendingSeek.askedAgain = true;
    requestSeek(pendingSeek.target);
}

void PlayerWindow::seekToSentence(int index)
{
    if (!isSentenceIndex(index))
        return;
    movePlayer(sentenceLeadStart(index), subtitles.at(index).startMs);
}

int PlayerWindow::syncIndexToPosition(qint64 position)
{
    if (subtitles.isEmpty())
        return -1;
    if (!currentPlayList || currentPlayList->isEmpty())
        applyPlayList();

    const int b = SentenceChoice::sentenceForSeek(subtitles, position);
    if (!isSentenceIndex(b))
        return -1;
    beginSentencePass(SentenceChoice::playListMemberFor(subtitles, *currentPlayList, b, position));
    return currentIndex;
}

void PlayerWindow::seekToPosition(qint64 position)
{
    position = qMax<qint64>(0, position);
    if (subtitles.isEmpty()) {
        movePlayer(position, -1);
        return;
    }
    if (!currentPlayList || currentPlayList->isEmpty())
        applyPlayList();

    const int b = SentenceChoice::sentenceForSeek(subtitles, position);
    const int chosen = SentenceChoice::playListMemberFor(subtitles, *currentPlayList, b, position);
    beginSentencePass(chosen);

    const SubtitleItem &item = subtitles.at(chosen);
    if (chosen == b && position >= item.startMs && position < item.endMs)
        movePlayer(position, position);
    else
        seekToSentence(chosen);
    refreshSubtitle();
}

void PlayerWindow::nextSentence()
{
    if (subtitles.isEmpty())
        return;
    const bool noPlayList = !currentPlayList || currentPlayList->isEmpty();
    if (!isSentenceIndex(currentIndex) || !(noPlayList || currentPlayList->contains(currentIndex))) {
        if (syncIndexToPosition(player->position()) < 0)
            return;
    }
    const int next = nextPlayListIndex();
    if (!isSentenceIndex(next))
        return;
    beginSentencePass(next);
    seekToSentence(next);
    refreshSubtitle();
}

void PlayerWindow::updateSliderRange()
{
    if (currentPlayList && !currentPlayList->isEmpty() && isSentenceIndex(currentPlayList->first()) &&
        isSentenceIndex(currentPlayList->last())) {
        ui->horizontalSlider->setRange(int(subtitles.at(currentPlayList->first()).startMs),
                                       int(subtitles.at(currentPlayList->last()).endMs));
        return;
    }
    ui->horizontalSlider->setRange(0, int(player->duration()));
}

void PlayerWindow::makeSliderJumpOnClick()
{
    // Without a base style the proxy follows the application's style and owns none.
    auto *style = new JumpToClickStyle;
    style->setParent(ui->horizontalSlider);
    ui->horizontalSlider->setStyle(style);
}

void PlayerWindow::onSliderReleased()
{
    const int value = ui->horizontalSlider->value();
    const bool wasPlaying = player->playbackState() == QMediaPlayer::PlayingState;
    player->pause();
    movePlayer(value, -1);

    const int index = syncIndexToPosition(value);
    if (index >= 0 && value >= subtitles.at(index).startMs)
        refreshSubtitle();
    else
        subtitleTextItem->setPlainText(QString());
    layoutSubtitle();

    // Position reports stay ignored a moment longer, until the seek has settled.
    QTimer::singleShot(50, this, [this, wasPlaying] {
        sliderDragging = false;
        armEndPoint();
        if (wasPlaying)
            player->play();
    });
}
