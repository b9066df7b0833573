#include "player/playerwindow.h"

#include "player/sentencetiming.h"

#include "ui_playerwindow.h"

#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>

// A precise timer for the end of the current sentence. The media back end reports the position
// only every 100 ms and keeps about as much audio queued in the output, so acting on reports
// alone lets the learner hear up to a fifth of a second past the end. The timer feeds the engine
// the position at the very moment the end has been handed to the output; the engine decides as
// it always does, only earlier, and exactly once per end.

namespace {

// Audio handed to the output but not yet heard when the end is acted on, beyond the queue the
// back end's clock may leave uncounted, in wall-clock milliseconds; the timer acts that much
// earlier. Qt 6.4 offers no latency figure for the audio output of a QMediaPlayer, so this is
// measured with bench_end_overshoot on PulseAudio: the sound stops at the edge of a decoded
// audio buffer, up to about 35 ms before end + tail, whether this is 0 or -12; 0 keeps it from
// spilling into the next buffer.
constexpr double outputLatencyMs = 0.0;

// How far (in media milliseconds) a report may lag behind the position taken from an earlier one.
constexpr double maxReportLagMs = 150.0;

// The player reports every 100 ms while the position moves, and stays silent while it stands:
// a wait this long (wall milliseconds) since the last report means the playback has stalled.
constexpr double stalledAfterMs = 300.0;

qint64 monotonicNowNs()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

// Media milliseconds between the back end's clock and the end of what has been handed to the
// output, which is the point the timer acts on. The clock counts as played from the last seek
// all audio played since, even what was queued before the seek, so after a seek made while
// playing the clock already runs a full queue ahead; an output opened afresh holds no such
// audio, and there the queue is still to be added.
double PlayerWindow::endTimerLeadMs() const
{
    return (outputLatencyMs + endTimerUncountedQueueMs) * endTimerReportRate;
}

void PlayerWindow::noteNewAudioOutput()
{
    endTimerUncountedQueueMs = outputQueueMs;
}

// A seek made while playing leaves the queue to play out, counted by the clock; a pause plays
// the queue out uncounted, so a seek after a pause as long as the queue leaves none counted.
void PlayerWindow::noteSeekForEndTimer(bool whilePlaying)
{
    const double pausedMs = double(monotonicNowNs() - endTimerLeftPlayingNs) / 1e6;
    endTimerUncountedQueueMs = whilePlaying ? 0.0 : std::clamp(pausedMs, 0.0, outputQueueMs);
}

double PlayerWindow::extrapolatedEndTimerPosition() const
{
    const double elapsedMs = double(monotonicNowNs() - endTimerReportClockNs) / 1e6;
    return double(endTimerReportPosition) + elapsedMs * endTimerReportRate;
}

// Called first by every position report; returns the position the engine is to see.
qint64 PlayerWindow::noteReportForEndTimer(qint64 position)
{
    if (endTimerFeeding)
        return position;
    if (!endTimerEnabled || player->playbackState() != QMediaPlayer::PlayingState) {
        // Nothing is fed ahead of the reports without a timer, and a report made before play
        // starts would count the time until then as played.
        endTimerReportPosition = -1;
        return position;
    }
    if (!endTimer) {
        endTimer = new QTimer(this);
        endTimer->setSingleShot(true);
        endTimer->setTimerType(Qt::PreciseTimer);
        connect(endTimer, &QTimer::timeout, this, &PlayerWindow::onEndTimerFired);
        // Qt 6.4's FFmpeg back end changes the rate without telling: the rate control is
        // watched as well (connected after the one that sets the rate on the player).
        connect(player, &QMediaPlayer::playbackRateChanged, this, &PlayerWindow::onRateChangedForEndTimer);
        connect(ui->doubleSpinBoxRate, &QDoubleSpinBox::valueChanged, this,
                [this] { onRateChangedForEndTimer(player->playbackRate()); });
        connect(player, &QMediaPlayer::playbackStateChanged, this,
                &PlayerWindow::onPlaybackStateChangedForEndTimer);
        connect(ui->horizontalSlider, &QSlider::sliderPressed, this, &PlayerWindow::stopEndTimer);
    }
    endTimerLastReportClockNs = monotonicNowNs();
    // The back end moves its position on by one decoded audio buffer at a time (93 ms of a
    // 44.1 kHz stream), so a report lags the playback by anything up to that: the report that
    // lags least stays the reference. One lagging by more means the playback really fell back.
    const double rate = player->playbackRate();
    const double lag = endTimerReportPosition >= 0 && rate == endTimerReportRate
                           ? extrapolatedEndTimerPosition() - double(position)
                           : -1.0;
    if (lag <= 0 || lag > maxReportLagMs) {
        endTimerReportPosition = position;
        endTimerReportClockNs = monotonicNowNs();
        endTimerReportRate = rate;
    }

    // After an end fed ahead of the reports the playback runs on: the reports that still lag
    // behind the fed position must not count as a new pass over the same end.
    if (endTimerHeldPosition >= 0) {
        const double lagLimit = endTimerLeadMs() + maxReportLagMs;
        if (position < endTimerHeldPosition && position >= endTimerHeldPosition - lagLimit)
            return endTimerHeldPosition;
        endTimerHeldPosition = -1;
    }
    return position;
}

// Starts the timer for the end of the current sentence when that end lies ahead.
void PlayerWindow::armEndTimer()
{
    if (!endTimer)
        return;
    endTimer->stop();
    const int index = currentIndex;
    if (!endTimerEnabled || endTimerReportPosition < 0 || sliderDragging || seekGuardPosition >= 0 ||
        (playMode != 1 && playMode != 2) || !isSentenceIndex(index) || index == lastEndHandledIndex ||
        player->playbackState() != QMediaPlayer::PlayingState || player->playbackRate() <= 0)
        return;
    const qint64 endAt = SentenceTiming::endReachedAt(subtitles, index);
    // An end the media never reaches stays unreached, as without the timer.
    const qint64 duration = player->duration();
    if (duration > 0 && endAt > duration)
        return;
    const double rate = endTimerReportRate;
    const double handedOver = extrapolatedEndTimerPosition() + endTimerLeadMs();
    if (double(endTimerReportPosition) >= double(endAt))
        return;
    const int waitMs = int(std::max(0.0, std::ceil((double(endAt) - handedOver) / rate)));
    // An end the engine has just been fed and left alone (a sentence outside the play list)
    // waits for the next report rather than being fed again at once.
    if (endTimerFeeding && waitMs == 0)
        return;
    endTimerIndex = index;
    endTimer->start(waitMs);
}

// Seeks, pauses, the slider and play-list changes: the last report no longer tells where the
// playback is, so nothing is timed until the next report.
void PlayerWindow::stopEndTimer()
{
    if (endTimer)
        endTimer->stop();
    endTimerReportPosition = -1;
    endTimerHeldPosition = -1;
    ++endTimerResets;
}

void PlayerWindow::onEndTimerFired()
{
    if (endTimerReportPosition < 0 || sliderDragging || currentIndex != endTimerIndex ||
        player->playbackState() != QMediaPlayer::PlayingState)
        return;
    // Qt 6.4's FFmpeg back end now and then stalls for most of a second early in playback.
    // The position taken from the reports runs on meanwhile, the sound does not: the end is
    // left to the reports that come when the playback moves again.
    if (double(monotonicNowNs() - endTimerLastReportClockNs) / 1e6 > stalledAfterMs)
        return;
    const int index = endTimerIndex;
    const qint64 fed = qint64(std::ceil(extrapolatedEndTimerPosition() + endTimerLeadMs()));
    const int resets = endTimerResets;
    endTimerFeeding = true;
    onPositionChanged(fed);
    endTimerFeeding = false;
    if (resets == endTimerResets && seekGuardPosition < 0 && lastEndHandledIndex == index)
        endTimerHeldPosition = fed;
}

void PlayerWindow::onRateChangedForEndTimer(qreal rate)
{
    if (endTimerReportPosition < 0 || rate == endTimerReportRate)
        return;
    // The position moved at the old rate up to now, at the new one from now on.
    endTimerReportPosition = qint64(std::llround(extrapolatedEndTimerPosition()));
    endTimerReportClockNs = monotonicNowNs();
    endTimerReportRate = rate;
    armEndTimer();
}

void PlayerWindow::onPlaybackStateChangedForEndTimer(QMediaPlayer::PlaybackState state)
{
    if (state == QMediaPlayer::PlayingState)
        return;
    endTimerLeftPlayingNs = monotonicNowNs();
    if (endTimer)
        endTimer->stop();
    // Paused time must not count as played: the next report starts the timing afresh.
    endTimerReportPosition = -1;
}
