#include "gui/player/playerwindow.h"

#include "core/drill/playmodes.h"
#include "core/drill/sentencechoice.h"
#include "core/drill/sentencetiming.h"

#include "ui_playerwindow.h"

#include <QCoreApplication>
#include <QGraphicsTextItem>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalBlocker>
#include <QTimer>

// The sentence repeat engine: which sentence is current, and what happens at its end.

using SentenceChoice::EndAction;

namespace {

// A back end that holds the end point of a pass reports it itself; should it not, a report this
// far past the end point still ends the pass.
constexpr qint64 endPointSlackMs = 250;

} // namespace

qint64 PlayerWindow::sentenceLeadStart(int index) const
{
    return SentenceTiming::leadStart(subtitles, index);
}

qint64 PlayerWindow::sentenceTailMargin(int index) const
{
    return SentenceTiming::tailMargin(subtitles, index);
}

int PlayerWindow::sentenceIndexAt(qint64 position) const
{
    return SentenceTiming::indexAt(subtitles, position);
}

bool PlayerWindow::isSentenceIndex(int index) const
{
    return index >= 0 && index < subtitles.size();
}

QString PlayerWindow::formatTime(qint64 ms)
{
    return SentenceTiming::formatTime(ms);
}

// The one way a sentence becomes current: its first repetition, its end not yet acted on.
void PlayerWindow::beginSentencePass(int index)
{
    currentIndex = index;
    setRepeatRound(0);
    lastEndHandledIndex = -1;
    armEndPoint();
}

// The one writer of the repetition count: each pass may have a rate of its own.
void PlayerWindow::setRepeatRound(int round)
{
    repeatRound = round;
    applyPassRate();
}

void PlayerWindow::onPositionChanged(qint64 position)
{
    const auto rearm = qScopeGuard([this] { armEndPoint(); });
    if (sliderDragging || subtitles.isEmpty())
        return;
    ui->horizontalSlider->setValue(int(position));
    showTime(position, player->duration());

    // Reports that still come from before a seek would undo it.
    if (isStrayReport(position))
        return;
    if (seekGuardPosition >= 0) {
        if (position < seekGuardPosition)
            return;
        seekGuardPosition = -1;
    }

    const QList<int> *list = playListFor(playGroup);
    if (list->isEmpty())
        return;
    const SentenceChoice::Span span = SentenceChoice::spanOf(subtitles, *list);
    if (span.last < span.first)
        return;

    const int g = currentIndex;
    if (span.contains(g)) {
        const SubtitleItem &current = subtitles.at(g);
        // The "never" display mode keeps the item hidden, whatever text it still holds.
        if (position >= current.startMs && position < current.endMs && (subtitleDisplayMode != 1 || revealed))
            subtitleTextItem->setVisible(true);
        // The end point held by the media engine is its to report; playback stands there until
        // then, whatever sentence the position would fall into.
        const qint64 endPoint = player->endPoint();
        const bool heldByEngine = endPointSentence == g && position < endPoint + endPointSlackMs;
        if (heldByEngine && position >= endPoint)
            return;
        if (position < SentenceTiming::endReachedAt(subtitles, g)) {
            lastEndHandledIndex = -1;
        } else if (g != lastEndHandledIndex && !heldByEngine) {
            // Once per pass over the end, however many reports fall into the tail.
            if (handleSentenceEnd(g))
                return;
        }
    }

    // While a sentence is being repeated it keeps the position until its own end, even where the
    // next cue already overlaps it; otherwise the overlap would end the repetition.
    const bool repeating = playMode == 1 || playMode == 2;
    const int found = SentenceChoice::holdingSentence(subtitles, span, position, repeating ? g : -1);
    if (found < 0) {
        // Between sentences nothing is said; text asked for on demand stays until let go.
        if (!revealed && !subtitleTextItem->toPlainText().isEmpty())
            subtitleTextItem->setPlainText(QString());
        return;
    }
    if (found != currentIndex) {
        beginSentencePass(found);
        refreshSubtitle();
        return;
    }
    if (subtitleTextItem->toPlainText().isEmpty())
        refreshSubtitle();
}

void PlayerWindow::onEndPointReached(qint64 position, bool jumped)
{
    const auto rearm = qScopeGuard([this] { armEndPoint(); });
    const int g = endPointSentence;
    if (sliderDragging || g != currentIndex || g == lastEndHandledIndex || !isSentenceIndex(g))
        return;
    ui->horizontalSlider->setValue(int(position));
    showTime(position, player->duration());
    // The pass went all the way through: whatever seek began it has landed.
    pendingSeek = {};
    seekGuardPosition = -1;
    // The engine has already sought on to the next pass, as armEndPoint told it: only follow.
    const EndAction action =
        SentenceChoice::endActionFor(playMode, repeatRound, repeatCount, subtitles, g, nextPlayListIndex());
    if (jumped && action.kind == EndAction::Replay) {
        setRepeatRound(action.countsPass ? repeatRound + 1 : 0);
        lastEndHandledIndex = -1;
    } else if (jumped && action.kind == EndAction::Next) {
        beginSentencePass(action.sentence);
    }
    if (jumped && action.kind != EndAction::RunOn) {
        // Its lead-in may lie in the sentence before: the pass is held until its start.
        seekGuardPosition = subtitles.at(action.sentence).startMs;
        refreshSubtitle();
        return;
    }
    if (!handleSentenceEnd(g))
        player->setEndPoint(-1); // it runs on from here
}

bool PlayerWindow::handleSentenceEnd(int index)
{
    if (!isSentenceIndex(index))
        return false;
    lastEndHandledIndex = index;
    const EndAction action = SentenceChoice::endActionFor(playMode, repeatRound, repeatCount, subtitles,
                                                          index, nextPlayListIndex());
    const qint64 pauseMs = Shadowing::pauseMs(shadowPauseChoice, subtitles.at(index));
    // Paused by the learner as the sentence ended (the engine tells of the end a little after
    // the sound): their pause holds, and Space goes on with what the end leads to.
    const bool learnerPaused = player->playbackState() == QMediaPlayer::PausedState;
    if (pauseMs > 0 && !learnerPaused) {
        beginShadowPause(action, pauseMs);
        return true;
    }
    return carryOutEndAction(action);
}

bool PlayerWindow::carryOutEndAction(const EndAction &action)
{
    switch (action.kind) {
    case EndAction::Replay:
        setRepeatRound(action.countsPass ? repeatRound + 1 : 0);
        break;
    case EndAction::Next:
        beginSentencePass(action.sentence);
        break;
    case EndAction::RunOn:
        setRepeatRound(0);
        return false;
    }
    seekToSentence(action.sentence);
    refreshSubtitle();
    return true;
}

// The media engine stops the sound at the end of a pass that ends in a seek or a pause to speak,
// exactly where it is due; a pass that simply runs on needs no end point.
void PlayerWindow::armEndPoint()
{
    int sentence = -1;
    const int g = currentIndex;
    const QList<int> *list = playListFor(playGroup);
    const bool newPass = g != lastEndHandledIndex || pendingSeek.target >= 0 || seekGuardPosition >= 0;
    if (!subtitles.isEmpty() && !sliderDragging && isSentenceIndex(g) && newPass &&
        SentenceChoice::spanOf(subtitles, *list).contains(g)) {
        const EndAction action = SentenceChoice::endActionFor(playMode, repeatRound, repeatCount, subtitles,
                                                              g, nextPlayListIndex());
        if (action.kind != EndAction::RunOn || Shadowing::pauseMs(shadowPauseChoice, subtitles.at(g)) > 0)
            sentence = g;
    }
    endPointSentence = sentence;
    if (sentence < 0) {
        player->setEndPoint(-1);
        return;
    }
    // What the end leads to is handed to the engine with it, so that the next pass starts where
    // the sound is; a pause to speak is the window's to carry out.
    const EndAction action = SentenceChoice::endActionFor(playMode, repeatRound, repeatCount, subtitles,
                                                          sentence, nextPlayListIndex());
    MediaEngine::PassEnd then;
    if (action.kind != EndAction::RunOn &&
        Shadowing::pauseMs(shadowPauseChoice, subtitles.at(sentence)) == 0) {
        const int round = action.kind == EndAction::Replay && action.countsPass ? repeatRound + 1 : 0;
        const qreal rate = playMode == int(PlayMode::AutoNext) && !passRates.isEmpty()
                               ? Shadowing::rateForPass(passRates, round, ui->doubleSpinBoxRate->value())
                               : 0;
        then = MediaEngine::PassEnd::jump(sentenceLeadStart(action.sentence), rate,
                                          SentenceTiming::passEndPoint(subtitles, action.sentence));
    }
    player->setEndPoint(SentenceTiming::passEndPoint(subtitles, sentence), then);
}

int PlayerWindow::nextPlayListIndex() const
{
    return SentenceChoice::nextInPlayList(subtitles, currentPlayList ? *currentPlayList : QList<int>(),
                                          currentIndex);
}

void PlayerWindow::onLoadedMedia(QMediaPlayer::MediaStatus status)
{
    if (status != QMediaPlayer::LoadedMedia)
        return;
    beginSentencePass(sentenceIndexAt(player->position()));
    refreshSubtitle();
    player->play();
}

// A last sentence whose tail runs past the end of the media never gets a report at its end
// point: the player stops first. A repeater must still repeat it, so the end of the media
// counts as the end of the sentence being drilled.
void PlayerWindow::repeatAfterEndOfMedia()
{
    if ((playMode != 1 && playMode != 2) || sliderDragging)
        return;
    // A back end told to seek just as it reached the end may play on from the end instead, and
    // end once more: the seek never landed.
    if (pendingSeek.target >= 0 && !pendingSeek.askedAgain) {
        askSeekAgain();
        player->play();
        return;
    }
    const int index = currentIndex;
    if (!isSentenceIndex(index) || index == lastEndHandledIndex)
        return;
    if (player->duration() < subtitles.at(index).startMs)
        return;
    if (handleSentenceEnd(index) && !shadowPauseActive())
        player->play();
}

void PlayerWindow::showTime(qint64 position, qint64 duration)
{
    ui->labelCurrentTime->setText(formatTime(position) + " / " + formatTime(duration));
}

void PlayerWindow::onDurationChanged(qint64 duration)
{
    ui->horizontalSlider->setRange(0, int(duration));
    showTime(player->position(), duration);
    currentIndex = sentenceIndexAt(player->position());
    refreshSubtitle();
}

void PlayerWindow::onRepeatCountChanged(int value)
{
    repeatCount = value > 0 ? value : 1;
    savePlayModeSettings();
    armEndPoint();
}

void PlayerWindow::onPlayModeChanged(int index)
{
    const int requested = (index >= 0 && index <= 2) ? index : 1;
    requestedPlayMode = requested;
    if (!subtitles.isEmpty()) {
        playModePending = false;
        applyPlayMode(requested, true);
    } else {
        // Without sentences there is nothing to repeat: play normally until a subtitle loads.
        playModePending = requested != 0;
        applyPlayMode(0, false);
    }
}

void PlayerWindow::applyPlayMode(int mode, bool save)
{
    cancelShadowPause();
    playMode = mode;
    setRepeatRound(0);
    lastEndHandledIndex = -1;
    seekGuardPosition = -1;
    const bool manualMoves = !subtitles.isEmpty() && mode == 1;
    ui->btnNextSentence->setEnabled(manualMoves);
    ui->btnSkipSentence->setEnabled(manualMoves);
    updateRepeatControls();
    if (ui->comboPlayMode->currentIndex() != mode) {
        const QSignalBlocker blocker(ui->comboPlayMode);
        ui->comboPlayMode->setCurrentIndex(mode);
    }
    if (save)
        savePlayModeSettings();
    armEndPoint();
}

void PlayerWindow::savePlayModeSettings()
{
    QSettings settings("Orvi", "OrviLoop");
    settings.beginGroup("global");
    settings.setValue("playMode", requestedPlayMode);
    settings.setValue("repeatCount", repeatCount);
    settings.endGroup();
    settings.sync();
}

// Space and the "⏹/▶" button: the pause to speak ends at once, otherwise playback stops or goes on.
void PlayerWindow::togglePlayback()
{
    if (shadowPauseActive())
        finishShadowPause();
    else if (player->playbackState() == QMediaPlayer::PlayingState)
        player->pause();
    else
        player->play();
}

// While the learner speaks the drill goes on: the button stops it.
void PlayerWindow::showPlaybackState()
{
    const bool going = player->playbackState() == QMediaPlayer::PlayingState || shadowPauseActive();
    ui->btnPlayPause->setText(going ? "⏹" : "▶");
}

void PlayerWindow::onBtnBackClicked()
{
    close();
    QCoreApplication::exit(0);
}
