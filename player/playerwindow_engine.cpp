#include "player/playerwindow.h"

#include "player/sentencetiming.h"

#include "ui_playerwindow.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QGraphicsTextItem>
#include <QSettings>
#include <QSignalBlocker>
#include <QTimer>

// The sentence repeat engine: which sentence is current, and what happens at its end.

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

void PlayerWindow::onPositionChanged(qint64 position)
{
    position = noteReportForEndTimer(position);
    const auto rearmEndTimer = qScopeGuard([this] { armEndTimer(); });
    if (sliderDragging || subtitles.isEmpty())
        return;
    ui->horizontalSlider->setValue(int(position));
    ui->labelCurrentTime->setText(formatTime(position));

    // Reports that still come from before the seek target would undo the seek.
    if (seekGuardPosition >= 0) {
        if (position < seekGuardPosition) {
            retryLostSeek(position);
            return;
        }
        seekGuardPosition = -1;
    }

    const QList<int> *list = nullptr;
    switch (playGroup) {
    case 0:
        list = &groupAllIndexes;
        break;
    case 1:
        list = &groupRightIndexes;
        break;
    case 2:
        list = &groupLeftIndexes;
        break;
    default:
        return;
    }
    if (list->isEmpty())
        return;
    const int first = qMax(0, list->first());
    const int last = qMin(int(subtitles.size()) - 1, list->last());
    if (last < first)
        return;

    const int g = currentIndex;
    if (g >= first && g <= last) {
        const SubtitleItem &current = subtitles.at(g);
        // The "never" display mode keeps the item hidden, whatever text it still holds.
        if (position >= current.startMs && position < current.endMs && subtitleDisplayMode != 1)
            subtitleTextItem->setVisible(true);
        if (position < SentenceTiming::endReachedAt(subtitles, g)) {
            lastEndHandledIndex = -1;
        } else if (g != lastEndHandledIndex) {
            // Once per pass over the end, however many reports fall into the tail.
            lastEndHandledIndex = g;
            if (handleSentenceEnd(g))
                return;
        }
    }

    // The sentence that contains the position: the later start wins, then the lower index.
    // While a sentence is being repeated it keeps the position until its own end, even where
    // the next cue already overlaps it; otherwise the overlap would end the repetition.
    const bool repeating = playMode == 1 || playMode == 2;
    const bool keepCurrent = repeating && g >= first && g <= last && subtitles.at(g).startMs <= position &&
                             position < subtitles.at(g).endMs;
    int found = keepCurrent ? g : -1;
    for (int i = first; !keepCurrent && i <= last; ++i) {
        const SubtitleItem &item = subtitles.at(i);
        if (item.startMs <= position && position < item.endMs &&
            (found < 0 || item.startMs > subtitles.at(found).startMs))
            found = i;
    }
    if (found < 0) {
        if (!subtitleTextItem->toPlainText().isEmpty())
            subtitleTextItem->setPlainText(QString());
        return;
    }
    if (found != currentIndex) {
        currentIndex = found;
        repeatRound = 0;
        refreshSubtitle();
        return;
    }
    if (subtitleTextItem->toPlainText().isEmpty())
        refreshSubtitle();
}

bool PlayerWindow::handleSentenceEnd(int index)
{
    if (!isSentenceIndex(index))
        return false;
    const auto replay = [this](int sentence) {
        seekToSentence(sentence);
        refreshSubtitle();
        return true;
    };
    switch (playMode) {
    case 2: {
        if (repeatRound + 1 < repeatCount) {
            ++repeatRound;
            return replay(index);
        }
        repeatRound = 0;
        const int next = nextPlayListIndex();
        if (!isSentenceIndex(next))
            return false;
        // A sentence that follows closely is simply played into; the position scan picks it up.
        const qint64 gap = subtitles.at(next).startMs - subtitles.at(index).endMs;
        if (gap > 0 && gap <= 1000)
            return false;
        currentIndex = next;
        return replay(next);
    }
    case 1:
        repeatRound = 0;
        return replay(index);
    default:
        repeatRound = 0;
        return false;
    }
}

int PlayerWindow::nextPlayListIndex() const
{
    if (currentPlayList && !currentPlayList->isEmpty()) {
        const qsizetype p = currentPlayList->indexOf(currentIndex);
        if (p < 0 || p + 1 >= currentPlayList->size())
            return currentPlayList->first();
        return currentPlayList->at(p + 1);
    }
    const int next = currentIndex + 1;
    return next >= subtitles.size() ? 0 : next;
}

// Qt 6.4's FFmpeg back end hangs on a seek made while it plays once it has read the file to
// its end, which it has in a lesson's last seconds: the repeater would stop dead after the
// first pass of the last sentence. A seek made paused does not hang. Every seek the window
// makes goes through here.
void PlayerWindow::movePlayer(qint64 position)
{
    reportsFarBelowGuard = 0;
    const bool playing = player->playbackState() == QMediaPlayer::PlayingState;
    noteSeekForEndTimer(playing);
    if (!playing) {
        player->setPosition(position);
        return;
    }
    player->pause();
    player->setPosition(position);
    player->play();
}

void PlayerWindow::seekToSentence(int index)
{
    if (!isSentenceIndex(index))
        return;
    stopEndTimer();
    seekGuardPosition = subtitles.at(index).startMs;
    movePlayer(sentenceLeadStart(index));
}

// The sentence a seek to position belongs to: the one holding it, or the next one after
// its end; the first one before any sentence.
int PlayerWindow::sentenceForSeek(qint64 position) const
{
    const int b = sentenceIndexAt(position);
    if (b < 0)
        return 0;
    if (position >= subtitles.at(b).endMs && isSentenceIndex(b + 1))
        return b + 1;
    return b;
}

// b when the play list holds it, else the member of the play list nearest to position.
int PlayerWindow::playListMemberFor(int b, qint64 position) const
{
    if (!currentPlayList || currentPlayList->isEmpty() || currentPlayList->contains(b))
        return b;
    const int nearest = SentenceTiming::nearestMember(subtitles, *currentPlayList, position);
    return nearest >= 0 ? nearest : b;
}

int PlayerWindow::syncIndexToPosition(qint64 position)
{
    if (subtitles.isEmpty())
        return -1;
    if (!currentPlayList || currentPlayList->isEmpty())
        applyPlayList();

    const int b = sentenceForSeek(position);
    if (!isSentenceIndex(b))
        return -1;
    currentIndex = playListMemberFor(b, position);
    repeatRound = 0;
    lastEndHandledIndex = -1;
    return currentIndex;
}

void PlayerWindow::seekToPosition(qint64 position)
{
    position = qMax<qint64>(0, position);
    stopEndTimer();
    if (subtitles.isEmpty()) {
        movePlayer(position);
        return;
    }
    if (!currentPlayList || currentPlayList->isEmpty())
        applyPlayList();

    const int b = sentenceForSeek(position);
    const int chosen = playListMemberFor(b, position);
    currentIndex = chosen;
    seekGuardPosition = -1;
    repeatRound = 0;
    lastEndHandledIndex = -1;

    const SubtitleItem &item = subtitles.at(chosen);
    if (chosen == b && position >= item.startMs && position < item.endMs) {
        // Qt 6.4 may report the old position from inside setPosition, and on a busy machine
        // once more after it; such a report would make the sentence there current.
        seekGuardPosition = position;
        movePlayer(position);
        refreshSubtitle();
    } else {
        seekToSentence(chosen);
        refreshSubtitle();
    }
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
    currentIndex = next;
    repeatRound = 0;
    lastEndHandledIndex = -1;
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

// On a busy machine Qt 6.4's FFmpeg back end now and then drops a seek made just after the
// media loaded and plays on from where it was: its reports would stay below the guard, and
// the window deaf to them, until playback got there by itself. One or two reports from before
// a seek are normal; more, far below the target (beyond any lead-in), mean the seek was lost.
void PlayerWindow::retryLostSeek(qint64 position)
{
    constexpr qint64 farBelowMs = 1000;
    constexpr int staleReportsAllowed = 2;
    if (position >= seekGuardPosition - farBelowMs || ++reportsFarBelowGuard <= staleReportsAllowed)
        return;
    // A guard at a sentence's start came from a seek to its lead-in.
    const int guarded = sentenceIndexAt(seekGuardPosition);
    const bool atSentenceStart = guarded >= 0 && subtitles.at(guarded).startMs == seekGuardPosition;
    const qint64 target = atSentenceStart ? sentenceLeadStart(guarded) : seekGuardPosition;
    qDebug() << "seek lost, again:" << target;
    movePlayer(target);
}

void PlayerWindow::onLoadedMedia(QMediaPlayer::MediaStatus status)
{
    if (status != QMediaPlayer::LoadedMedia)
        return;
    currentIndex = sentenceIndexAt(player->position());
    repeatRound = 0;
    refreshSubtitle();
    reapplyPlaybackRate();
    player->play();
}

// A last sentence whose tail runs past the end of the media never gets a report at its end
// point: the player stops first. A repeater must still repeat it, so the end of the media
// counts as the end of the sentence being drilled.
void PlayerWindow::repeatAfterEndOfMedia()
{
    if (playMode != 1 && playMode != 2)
        return;
    const int index = currentIndex;
    if (!isSentenceIndex(index) || index == lastEndHandledIndex || sliderDragging)
        return;
    if (player->duration() < subtitles.at(index).startMs)
        return;
    lastEndHandledIndex = index;
    if (handleSentenceEnd(index))
        player->play();
}

void PlayerWindow::onDurationChanged(qint64 duration)
{
    ui->horizontalSlider->setRange(0, int(duration));
    ui->labelCurrentTime->setText("00:00 / " + formatTime(duration));
    currentIndex = sentenceIndexAt(player->position());
    refreshSubtitle();
}

void PlayerWindow::onSliderReleased()
{
    const int value = ui->horizontalSlider->value();
    const bool wasPlaying = player->playbackState() == QMediaPlayer::PlayingState;
    player->pause();
    stopEndTimer();
    seekGuardPosition = -1;
    movePlayer(value);

    const int index = syncIndexToPosition(value);
    if (index >= 0 && value >= subtitles.at(index).startMs)
        refreshSubtitle();
    else
        subtitleTextItem->setPlainText(QString());
    layoutSubtitle();

    // Position reports stay ignored a moment longer, until the seek has settled.
    QTimer::singleShot(50, this, [this, wasPlaying] {
        sliderDragging = false;
        if (wasPlaying)
            player->play();
    });
}

void PlayerWindow::onRepeatCountChanged(int value)
{
    repeatCount = value > 0 ? value : 1;
    savePlayModeSettings();
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
    repeatRound = 0;
    lastEndHandledIndex = -1;
    stopEndTimer();
    playMode = mode;
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

void PlayerWindow::onBtnPlayPauseClicked()
{
    if (player->playbackState() == QMediaPlayer::PlayingState) {
        player->pause();
        ui->btnPlayPause->setText("▶");
    } else {
        player->play();
        ui->btnPlayPause->setText("⏹");
    }
}

void PlayerWindow::onBtnBackClicked()
{
    close();
    QCoreApplication::exit(0);
}
