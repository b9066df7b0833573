#include "media/qtmediaengine.h"

#include "media/qtendpointtimer.h"
#include "media/qtstandstillwatch.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QDebug>
#include <QGraphicsVideoItem>
#include <QMediaDevices>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QTimer>

#include <utility>
#include <QVideoSink>

namespace {

#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
// The FFmpeg back end of Qt before 6.5 ignores QT_FFMPEG_DECODING_HW_DEVICE_TYPES and tries every
// hardware device the codec offers (VA-API, VDPAU, CUDA). Pointing each library at a driver or
// device that does not exist makes its initialisation fail, so the back end decodes in software.
struct HardwareBlock
{
    const char *variable;
    const char *value;
};
constexpr HardwareBlock hardwareBlocks[] = {
    {"LIBVA_DRIVER_NAME", "orviloop-software-only"},
    {"VDPAU_DRIVER", "orviloop-software-only"},
    {"CUDA_VISIBLE_DEVICES", "-1"},
};

void blockHardwareDecoders()
{
    for (const HardwareBlock &block : hardwareBlocks)
        qputenv(block.variable, block.value);
}

// Only our own values are taken back: a driver the user chose stays chosen. Our values may
// also come from the instance that restarted us, as the environment is inherited.
void releaseHardwareDecoders()
{
    for (const HardwareBlock &block : hardwareBlocks) {
        if (qgetenv(block.variable) == block.value)
            qunsetenv(block.variable);
    }
}
#endif

} // namespace

void QtMediaEngine::applyHardwareDecodingEnvironment(bool enabled)
{
    useQtMultimediaFFmpegBackend();
    if (enabled)
        qunsetenv("QT_FFMPEG_DECODING_HW_DEVICE_TYPES");
    else
        qputenv("QT_FFMPEG_DECODING_HW_DEVICE_TYPES", "none");
#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
    if (enabled)
        releaseHardwareDecoders();
    else
        blockHardwareDecoders();
#endif
}

QtMediaEngine::QtMediaEngine(const MediaEngineOptions &options, QObject *parent)
    : MediaEngine(parent)
{
    applyHardwareDecodingEnvironment(options.hardwareDecoding);
    qDebug() << "QT_FFMPEG_DECODING_HW_DEVICE_TYPES:" << qgetenv("QT_FFMPEG_DECODING_HW_DEVICE_TYPES");
    player = new QMediaPlayer(this);
#if QT_VERSION >= QT_VERSION_CHECK(6, 10, 0)
    player->setPitchCompensation(true);
#endif
    audioOutput = new QAudioOutput(this);
    attachAudioOutputWhenAvailable();
    endTimer = new QtEndPointTimer(player, this);
    standstill = new QtStandstillWatch(player, this);

    connect(player, &QMediaPlayer::positionChanged, this, &QtMediaEngine::onPlayerPosition);
    connect(player, &QMediaPlayer::durationChanged, this, &MediaEngine::durationChanged);
    connect(player, &QMediaPlayer::mediaStatusChanged, this, &QtMediaEngine::onMediaStatusChanged);
    connect(player, &QMediaPlayer::playbackStateChanged, this, [this](QMediaPlayer::PlaybackState state) {
        endTimer->notePlaybackState(state);
        emit playbackStateChanged(state);
    });
    connect(player, &QMediaPlayer::playbackRateChanged, this, [this](qreal rate) {
        endTimer->noteRateChanged(rate);
        emit playbackRateChanged(rate);
    });
    connect(player, &QMediaPlayer::errorOccurred, this,
            [this](QMediaPlayer::Error error, const QString &detail) {
                sourceFailed = true;
                emit mediaStatusChanged(QMediaPlayer::InvalidMedia);
                emit errorOccurred(error, unplayableMediaMessage(detail));
            });
    connect(audioOutput, &QAudioOutput::volumeChanged, this, &MediaEngine::volumeChanged);
    connect(audioOutput, &QAudioOutput::mutedChanged, this, &MediaEngine::mutedChanged);
    connect(endTimer, &QtEndPointTimer::reached, this, &QtMediaEngine::onEndPointReached);
    connect(standstill, &QtStandstillWatch::standing, this, &QtMediaEngine::wakeStandingPlayback);
}

QtMediaEngine::~QtMediaEngine() = default;

// The back end crashes when it plays into an audio output while the machine has no audio
// device, so the output is attached only once a device exists.
void QtMediaEngine::attachAudioOutputWhenAvailable()
{
    auto attachIfPossible = [this] {
        if (player->audioOutput() || QMediaDevices::audioOutputs().isEmpty())
            return;
        audioOutput->setDevice(QMediaDevices::defaultAudioOutput());
        player->setAudioOutput(audioOutput);
    };
    attachIfPossible();
    if (!player->audioOutput()) {
        auto *devices = new QMediaDevices(this);
        connect(devices, &QMediaDevices::audioOutputsChanged, this, attachIfPossible);
    }
}

void QtMediaEngine::setSource(const QUrl &source)
{
    requestedSource = source;
    sourceFailed = false;
    loadReported = false;
    landing.forget();
    setEndPoint(-1);
    // Qt's FFmpeg back end opens HTTPS without checking the server's certificate, also after a
    // redirect, and follows a redirect to plain http: an unverified stream is not played.
    if (!source.isEmpty() && !source.isLocalFile()) {
        sourceFailed = true;
        player->setSource(QUrl());
        QTimer::singleShot(0, this, [this, source] {
            if (source != requestedSource)
                return;
            emit mediaStatusChanged(QMediaPlayer::InvalidMedia);
            emit errorOccurred(QMediaPlayer::ResourceError,
                               "QMediaPlayer 引擎无法验证网络视频服务器的证书，为安全起见不播放网络视频。"
                               "请改用 libmpv 引擎（ORVILOOP_MEDIA_ENGINE=mpv）。");
        });
        return;
    }
    opening = !source.isEmpty();
    player->setSource(playableSource.urlFor(source));
}

// The back end tells LoadedMedia on a queued call once the media has opened, and also at once for
// a seek made while it is stopped, even before that call. The window played on the early word at
// the place its play list had just chosen, and that sound was heard before the seek to the place
// restored came. The early word is kept back and told after the back end's queued call, which
// itself tells nothing when the status already stands at LoadedMedia: one LoadedMedia per source.
void QtMediaEngine::onMediaStatusChanged(QMediaPlayer::MediaStatus status)
{
    if (sourceFailed)
        return;
    // After media it could not open, the back end says LoadedMedia of nothing before it starts
    // to load the next source.
    if (status == QMediaPlayer::LoadingMedia)
        opening = false;
    if (status == QMediaPlayer::EndOfMedia &&
        landing.isEndFromBefore(player->duration(), player->playbackRate())) {
        qDebug() << "end of media from before the seek, seek again:" << landing.target();
        seek(landing.target());
        play();
        return;
    }
    if (status != QMediaPlayer::LoadedMedia) {
        emit mediaStatusChanged(status);
        return;
    }
    if (opening)
        return;
    if (insideSeek && !loadReported) {
        QMetaObject::invokeMethod(this, &QtMediaEngine::reportLoaded, Qt::QueuedConnection);
        return;
    }
    loadReported = true;
    rateHandedOver = false;
    emit mediaStatusChanged(status);
}

void QtMediaEngine::reportLoaded()
{
    if (loadReported || sourceFailed || player->mediaStatus() != QMediaPlayer::LoadedMedia)
        return;
    loadReported = true;
    rateHandedOver = false;
    emit mediaStatusChanged(QMediaPlayer::LoadedMedia);
}

void QtMediaEngine::onPlayerPosition(qint64 position)
{
    if (player->playbackState() == QMediaPlayer::PlayingState)
        rateHandedOver = true;
    // The back end reports the target from inside a seek, before playback has moved there.
    if (insideSeek || isFromBeforeSeek(position))
        return;
    emit positionChanged(position);
    endTimer->noteReport(position);
}

// Until a report comes from near the target of the last seek, the back end still reports the
// place it left; should it go on doing so, it dropped the seek (a busy machine) and is asked
// once more.
bool QtMediaEngine::isFromBeforeSeek(qint64 position)
{
    switch (landing.judge(position, player->playbackRate())) {
    case QtSeekLanding::Report::Current:
        return false;
    case QtSeekLanding::Report::SeekLost:
        qDebug() << "seek lost, again:" << landing.target();
        seek(landing.target());
        return true;
    case QtSeekLanding::Report::FromBefore:
        return true;
    }
    return false;
}

// The back end opens each source at normal speed whatever rate the player holds, and takes no
// notice of a rate equal to the one it holds, so the rate is moved off and back. Every rate
// change opens a new audio output; this is done at normal speed too, because the output opened
// with the media holds a little of its start, which would be heard before the first sentence.
void QtMediaEngine::handOverRate()
{
    const qreal rate = player->playbackRate();
    {
        const QSignalBlocker quiet(player);
        player->setPlaybackRate(rate == 1.0 ? 0.5 : 1.0);
        player->setPlaybackRate(rate);
    }
    endTimer->noteNewAudioOutput();
}

// After a source it could not open the back end "plays" nothing and reports a place in it.
void QtMediaEngine::play()
{
    if (sourceFailed)
        return;
    if (!rateHandedOver)
        handOverRate();
    landing.notePlay();
    player->play();
}

void QtMediaEngine::pause()
{
    player->pause();
}

void QtMediaEngine::stop()
{
    player->stop();
}

// The back end hangs on a seek made while it plays once it has read the file to its end, which
// it has in a lesson's last seconds; a seek made paused does not hang.
void QtMediaEngine::setPosition(qint64 position)
{
    if (endTimer->endPoint() >= 0 && endTimer->endPoint() <= position)
        endTimer->setEndPoint(-1);
    landing.seekTo(position);
    seek(position);
}

void QtMediaEngine::seek(qint64 position)
{
    const bool playing = player->playbackState() == QMediaPlayer::PlayingState;
    endTimer->noteSeek(playing);
    if (playing)
        player->pause();
    {
        const QScopedValueRollback seeking(insideSeek, true);
        player->setPosition(position);
    }
    if (playing)
        player->play();
}

// A seek where the playback stands, made as every seek is (paused, then played again), wakes all
// the back end's threads. A seek not landed yet is asked for again.
void QtMediaEngine::wakeStandingPlayback(qint64 position)
{
    const qint64 at = landing.target() >= 0 ? landing.target() : position;
    qDebug() << "playback stood still, woken at" << at;
    seek(at);
}

qint64 QtMediaEngine::position() const
{
    return sourceFailed ? 0 : player->position();
}

qint64 QtMediaEngine::duration() const
{
    return player->duration();
}

MediaEngine::PlaybackState QtMediaEngine::playbackState() const
{
    return player->playbackState();
}

MediaEngine::MediaStatus QtMediaEngine::mediaStatus() const
{
    if (sourceFailed)
        return QMediaPlayer::InvalidMedia;
    const MediaStatus status = player->mediaStatus();
    return status == QMediaPlayer::LoadedMedia && !loadReported ? QMediaPlayer::LoadingMedia : status;
}

void QtMediaEngine::setPlaybackRate(qreal rate)
{
    if (rate == player->playbackRate())
        return;
    // Every rate change opens a new audio output. The back end does not always tell of the
    // change, so the timer hears of it here.
    endTimer->noteNewAudioOutput();
    player->setPlaybackRate(rate);
    endTimer->noteRateChanged(rate);
}

qreal QtMediaEngine::playbackRate() const
{
    return player->playbackRate();
}

float QtMediaEngine::volume() const
{
    return audioOutput->volume();
}

void QtMediaEngine::setVolume(float volume)
{
    audioOutput->setVolume(volume);
}

bool QtMediaEngine::isMuted() const
{
    return audioOutput->isMuted();
}

void QtMediaEngine::setMuted(bool muted)
{
    audioOutput->setMuted(muted);
}

void QtMediaEngine::setVideoOutput(QGraphicsVideoItem *item)
{
    player->setVideoOutput(item);
}

QVideoSink *QtMediaEngine::videoSink() const
{
    return player->videoSink();
}

QSize QtMediaEngine::videoSize() const
{
    return player->videoSink() ? player->videoSink()->videoSize() : QSize();
}

void QtMediaEngine::setEndPoint(qint64 position, const PassEnd &next)
{
    then = position < 0 ? PassEnd::hold() : next;
    endTimer->setEndPoint(position);
}

// The end timer fires as the end point is handed to the output: a jump is made there and then,
// before the caller hears of the end.
void QtMediaEngine::onEndPointReached(qint64 position)
{
    const PassEnd jump = std::exchange(then, PassEnd::hold());
    if (!jump.jumps()) {
        emit endPointReached(position, false);
        return;
    }
    if (jump.rate > 0)
        setPlaybackRate(jump.rate);
    endTimer->setEndPoint(-1);
    setPosition(jump.jumpTo);
    if (jump.nextEndPoint > jump.jumpTo)
        setEndPoint(jump.nextEndPoint, jump.following(position));
    emit endPointReached(position, true);
}

qint64 QtMediaEngine::endPoint() const
{
    return endTimer->endPoint();
}
