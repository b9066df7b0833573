#include "media/qtendpointtimer.h"

#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

// A report this close before the end point counts as reaching it: the next one comes 100 ms on.
constexpr qint64 reportToleranceMs = 15;

// Audio handed to the output but not yet heard when the end is acted on, beyond the queue the
// back end's clock may leave uncounted, in wall-clock milliseconds. Qt 6.4 offers no latency
// figure for the audio output of a QMediaPlayer; measured with bench_end_overshoot on
// PulseAudio, the sound stops at the edge of a decoded audio buffer whether this is 0 or -12.
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

QtEndPointTimer::QtEndPointTimer(QMediaPlayer *player, QObject *parent)
    : QObject(parent)
    , player(player)
    , timer(new QTimer(this))
{
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this] {
        if (referencePosition >= 0 && this->player->playbackState() == QMediaPlayer::PlayingState)
            fire();
    });
}

void QtEndPointTimer::setEndPoint(qint64 position)
{
    if (position == end)
        return;
    end = position;
    fired = false;
    arm();
}

// Media milliseconds between the back end's clock and the end of what has been handed to the
// output. The clock counts as played from the last seek all audio played since, even what was
// queued before the seek, so after a seek made while playing the clock already runs a full queue
// ahead; an output opened afresh holds no such audio, and there the queue is still to be added.
double QtEndPointTimer::leadMs() const
{
    return (outputLatencyMs + uncountedQueueMs) * referenceRate;
}

double QtEndPointTimer::extrapolated() const
{
    const double elapsedMs = double(monotonicNowNs() - referenceClockNs) / 1e6;
    return double(referencePosition) + elapsedMs * referenceRate;
}

void QtEndPointTimer::noteReport(qint64 position)
{
    if (player->playbackState() != QMediaPlayer::PlayingState) {
        // A report made before play starts would count the time until then as played.
        referencePosition = -1;
        return;
    }
    lastReportClockNs = monotonicNowNs();
    // The back end moves its position on by one decoded audio buffer at a time (93 ms of a
    // 44.1 kHz stream), so a report lags the playback by anything up to that: the report that
    // lags least stays the reference. One lagging by more means the playback really fell back.
    const double rate = player->playbackRate();
    const double lag =
        referencePosition >= 0 && rate == referenceRate ? extrapolated() - double(position) : -1.0;
    if (lag <= 0 || lag > maxReportLagMs) {
        referencePosition = position;
        referenceClockNs = lastReportClockNs;
        referenceRate = rate;
    }
    if (end >= 0 && !fired && position >= end - reportToleranceMs)
        fire();
    else
        arm();
}

void QtEndPointTimer::noteNewAudioOutput()
{
    uncountedQueueMs = outputQueueMs;
}

// A seek made while playing leaves the queue to play out, counted by the clock; a pause plays
// the queue out uncounted, so a seek after a pause as long as the queue leaves none counted.
void QtEndPointTimer::noteSeek(bool whilePlaying)
{
    const double pausedMs = double(monotonicNowNs() - leftPlayingNs) / 1e6;
    uncountedQueueMs = whilePlaying ? 0.0 : std::clamp(pausedMs, 0.0, outputQueueMs);
    fired = false;
    forget();
}

void QtEndPointTimer::noteRateChanged(qreal rate)
{
    if (referencePosition < 0 || rate == referenceRate)
        return;
    // The position moved at the old rate up to now, at the new one from now on.
    referencePosition = qint64(std::llround(extrapolated()));
    referenceClockNs = monotonicNowNs();
    referenceRate = rate;
    arm();
}

void QtEndPointTimer::notePlaybackState(QMediaPlayer::PlaybackState state)
{
    if (state == QMediaPlayer::PlayingState)
        return;
    leftPlayingNs = monotonicNowNs();
    // Paused time must not count as played: the next report starts the timing afresh.
    forget();
}

void QtEndPointTimer::forget()
{
    timer->stop();
    referencePosition = -1;
}

// Starts the timer for the end point when it lies ahead.
void QtEndPointTimer::arm()
{
    timer->stop();
    if (end < 0 || fired || referencePosition < 0 || referencePosition >= end ||
        player->playbackState() != QMediaPlayer::PlayingState || referenceRate <= 0)
        return;
    // An end point the media never reaches stays unreached: the end of the media comes first.
    const qint64 duration = player->duration();
    if (duration > 0 && end > duration)
        return;
    const double handedOver = extrapolated() + leadMs();
    timer->start(int(std::max(0.0, std::ceil((double(end) - handedOver) / referenceRate))));
}

void QtEndPointTimer::fire()
{
    // Qt 6.4's FFmpeg back end now and then stalls for most of a second early in playback.
    // The position taken from the reports runs on meanwhile, the sound does not: the end is
    // left to the reports that come when the playback moves again.
    if (double(monotonicNowNs() - lastReportClockNs) / 1e6 > stalledAfterMs)
        return;
    fired = true;
    emit reached(end);
}
