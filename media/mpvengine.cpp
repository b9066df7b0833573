#include "media/mpvengine.h"

#include "media/mpvlibrary.h"
#include "media/mpvvideorenderer.h"
#include "media/networksource.h"

#include <QDebug>
#include <QFile>
#include <QGraphicsVideoItem>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTemporaryFile>
#include <QTimer>

#include <mpv/client.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cmath>
#include <system_error>
#include <utility>

namespace {

qint64 monotonicNowNs()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

QString secondsText(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 3);
}

// mpv's TLS takes one file of trusted authorities in place of the system's; with an authority of
// the catalogue's own it gets both in one file.
std::unique_ptr<QTemporaryFile> trustedAuthoritiesFile()
{
    const QString extraFile = qEnvironmentVariable("ORVILOOP_CATALOGUE_CA");
    if (extraFile.isEmpty())
        return nullptr;
    const QList<QSslCertificate> extra = QSslCertificate::fromPath(extraFile, QSsl::Pem);
    if (extra.isEmpty()) {
        qDebug() << "ORVILOOP_CATALOGUE_CA without certificates:" << extraFile;
        return nullptr;
    }
    auto file = std::make_unique<QTemporaryFile>();
    if (!file->open())
        return nullptr;
    const QList<QSslCertificate> trusted = QSslConfiguration::systemCaCertificates() + extra;
    for (const QSslCertificate &certificate : trusted)
        file->write(certificate.toPem());
    file->flush();
    return file;
}

// Without waiting for mpv's core, which may itself be waiting for the thread that asks.
void setPropertyLater(mpv_handle *handle, const char *name, const QByteArray &value)
{
    const char *text = value.constData();
    mpv_set_property_async(handle, 0, name, MPV_FORMAT_STRING, &text);
}

// Until its wakeup callback is removed, mpv calls it from its own threads.
void wakeUp(void *engine)
{
    QMetaObject::invokeMethod(static_cast<QObject *>(engine), "drainMpvEvents", Qt::QueuedConnection);
}

} // namespace

std::unique_ptr<MpvEngine> MpvEngine::start(const MediaEngineOptions &options, QObject *parent,
                                            QString *failure)
{
    // libmpv refuses to start unless numbers are read and written the C way; the program sets
    // this at start-up, but a test or another host may not have.
    std::setlocale(LC_NUMERIC, "C");
    if (const QString missing = waitForMpvLibrary(); !missing.isEmpty()) {
        *failure = missing;
        return nullptr;
    }
    mpv_handle *handle = mpv_create();
    if (!handle) {
        *failure = QStringLiteral("libmpv 无法创建播放器");
        return nullptr;
    }
    std::unique_ptr<MpvEngine> engine(new MpvEngine(handle, parent));
    engine->configure(options);
    const int initialised = mpv_initialize(handle);
    if (initialised < 0) {
        *failure = QStringLiteral("libmpv 无法启动：") + QString::fromUtf8(mpv_error_string(initialised));
        return nullptr;
    }
    mpv_request_log_messages(handle, "warn");
    mpv_observe_property(handle, 0, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(handle, 0, "duration", MPV_FORMAT_DOUBLE);
    mpv_observe_property(handle, 0, "eof-reached", MPV_FORMAT_FLAG);
    mpv_observe_property(handle, 0, "dwidth", MPV_FORMAT_INT64);
    mpv_observe_property(handle, 0, "dheight", MPV_FORMAT_INT64);
    mpv_observe_property(handle, 0, "paused-for-cache", MPV_FORMAT_FLAG);
    mpv_set_wakeup_callback(handle, wakeUp, engine.get());
    engine->watcherHandle = mpv_create_client(handle, "orviloop-pass-end");
    if (engine->watcherHandle) {
        mpv_observe_property(engine->watcherHandle, 0, "time-pos", MPV_FORMAT_DOUBLE);
        mpv_observe_property(engine->watcherHandle, 0, "eof-reached", MPV_FORMAT_FLAG);
        try {
            engine->watcher = std::thread([e = engine.get()] { e->watchPassEnds(); });
        } catch (const std::system_error &error) {
            // Without its thread the window's thread makes the jumps, as with no second client.
            qDebug() << "mpv: no thread for the end of a pass:" << error.what();
            mpv_destroy(engine->watcherHandle);
            engine->watcherHandle = nullptr;
        }
    }
    qDebug() << "mpv hwdec:" << engine->mpvProperty("hwdec");
    return engine;
}

MpvEngine::MpvEngine(mpv_handle *handle, QObject *parent)
    : MediaEngine(parent)
    , mpv(handle)
{
}

MpvEngine::~MpvEngine()
{
    mpv_set_wakeup_callback(mpv, nullptr, nullptr);
    if (watcher.joinable()) {
        {
            const std::lock_guard<std::recursive_mutex> lock(watchLock);
            watched.quit = true;
        }
        mpv_wakeup(watcherHandle);
        watcher.join();
    }
    if (watcherHandle)
        mpv_destroy(watcherHandle);
    // The render context must go before the core.
    renderer.reset();
    mpv_terminate_destroy(mpv);
}

void MpvEngine::setOption(const char *name, const QString &value)
{
    if (mpv_set_option_string(mpv, name, value.toUtf8().constData()) < 0)
        qDebug() << "mpv option refused:" << name << value;
}

void MpvEngine::configure(const MediaEngineOptions &options)
{
    // A player inside a window of ours: none of mpv's own configuration, keys, window, scripts
    // or subtitles (the window shows the sentences itself).
    setOption("config", "no");
    setOption("terminal", "no");
    setOption("input-default-bindings", "no");
    setOption("input-vo-keyboard", "no");
    setOption("osc", "no");
    setOption("load-scripts", "no");
    setOption("ytdl", "no");
    setOption("load-stats-overlay", "no");
    setOption("load-osd-console", "no");
    setOption("load-auto-profiles", "no");
    // Nor files of the lesson's folder taken for its sound, subtitles or cover.
    setOption("sub-auto", "no");
    setOption("audio-file-auto", "no");
    setOption("cover-art-auto", "no");
    // Nor anything a file names inside it: a playlist (a text file called ".mp4" will do), a
    // reference or an archive would make a local lesson fetch network addresses, and a network
    // lesson play what its catalogue does not name.
    setOption("access-references", "no");
    setOption("sid", "no");
    setOption("osd-level", "0");
    setOption("vo", "libmpv");
    setOption("idle", "yes");
    setOption("pause", "yes");
    // The end of a file, or of a pass, holds the last frame instead of closing the file. mpv
    // would pause there while its audio output still holds the last tenth of a second or so,
    // which pausing cuts off: the engine waits for the sound itself instead.
    setOption("keep-open", "yes");
    setOption("keep-open-pause", "no");
    setOption("hr-seek", "yes");
    setOption("audio-pitch-correction", "yes");
    setOption("audio-fallback-to-null", "yes");
    setOption("audio-client-name", "OrviLoop");
    // More sound held by the server than its default tenth of a second: at that, mpv's and the
    // server's threads woke some 60 times a second, which cost an audio lesson nearly three
    // times its decoding. A pause still silences it at once, and a seek or the jump at the end
    // of a pass drops what it holds; a new rate or volume in the middle of a pass is heard that
    // much later. Not more: mpv then reaches the end of a pass's decoding so long before its
    // sound that it reports the end as the position well before it is heard.
    setOption("pulse-buffer", "150");
    // Frames are rendered in memory, so decoded hardware surfaces are copied back.
    setOption("hwdec", options.hardwareDecoding ? "auto-copy-safe" : "no");
    // Scaled on the processor to the size shown: bilinear costs less than mpv's default
    // (lanczos), noticeably when a small video is shown large.
    setOption("zimg-scaler", "bilinear");
    setOption("tls-verify", "yes");
    // A stalled server ends the stream as it ends a download; mpv follows no redirect itself
    // (openNetworkSource finds where the video is).
    setOption("network-timeout", QString::number(networkTimeoutMs() / 1000.0));
    setOption("stream-lavf-o", "max_redirects=0");
    caBundle = trustedAuthoritiesFile();
    if (caBundle)
        setOption("tls-ca-file", caBundle->fileName());
}

QString MpvEngine::mpvProperty(const char *name) const
{
    char *value = mpv_get_property_string(mpv, name);
    const QString text = value ? QString::fromUtf8(value) : QString();
    mpv_free(value);
    return text;
}

void MpvEngine::command(const QStringList &arguments, quint64 replyTo)
{
    QList<QByteArray> utf8;
    for (const QString &argument : arguments)
        utf8.append(argument.toUtf8());
    QList<const char *> pointers;
    for (const QByteArray &argument : utf8)
        pointers.append(argument.constData());
    pointers.append(nullptr);
    mpv_command_async(mpv, replyTo, pointers.data());
}

void MpvEngine::setMpvPause(bool paused)
{
    int flag = paused ? 1 : 0;
    mpv_set_property_async(mpv, 0, "pause", MPV_FORMAT_FLAG, &flag);
}

void MpvEngine::setState(PlaybackState newState)
{
    if (state == newState)
        return;
    state = newState;
    armWatcher();
    emit playbackStateChanged(state);
}

void MpvEngine::setStatus(MediaStatus newStatus)
{
    if (status == newStatus)
        return;
    status = newStatus;
    emit mediaStatusChanged(status);
}

void MpvEngine::setSource(const QUrl &source)
{
    const WatcherHold hold(*this);
    jumpToReport = -1;
    if (QNetworkReply *probe = std::exchange(redirectProbe, nullptr))
        probe->abort();
    currentSource = source;
    setEndPoint(-1);
    setMpvPause(true);
    setState(QMediaPlayer::StoppedState);
    currentPosition = 0;
    atEndOfFile = false;
    startPass();
    opening = true;
    lastError.clear();
    if (source.isEmpty()) {
        command({"stop"});
        setStatus(QMediaPlayer::NoMedia);
        return;
    }
    if (source.isLocalFile())
        command({"loadfile", source.toLocalFile()}, passNumber);
    else
        openNetworkSource(source);
    setStatus(QMediaPlayer::LoadingMedia);
}

// Where a network video is, after the server's redirects, is found out by Qt, which refuses a
// redirect from https to http (as for the catalogue and the subtitles) and checks the
// certificates on the way; mpv then opens the address reached and follows no redirect itself,
// so a server cannot send mpv elsewhere than it sent Qt.
void MpvEngine::openNetworkSource(const QUrl &source)
{
    if (!network)
        network = new QNetworkAccessManager(this);
    QNetworkReply *reply = network->head(catalogueRequest(source));
    redirectProbe = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        if (reply == redirectProbe)
            onNetworkSourceFound(reply);
    });
}

void MpvEngine::onNetworkSourceFound(QNetworkReply *reply)
{
    redirectProbe = nullptr;
    const int httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // A server that will not answer HEAD may still serve the video: mpv asks it.
    const bool headNotAnswered = httpStatus == 405 || httpStatus == 501;
    if (reply->error() != QNetworkReply::NoError && !headNotAnswered) {
        qDebug() << "mpv playback refused:" << currentSource.toString() << reply->errorString();
        reportFailure(networkFailureText(reply));
        return;
    }
    const QString address = reply->url().toString(QUrl::FullyEncoded);
    if (reply->url() != currentSource)
        qDebug() << "网络视频重定向到:" << address;
    // A seek asked for meanwhile was held back for the file to exist.
    const bool seekAsked = currentPosition > 0;
    command({"loadfile", address}, seekAsked ? 0 : passNumber);
    if (seekAsked)
        askSeek(currentPosition);
}

void MpvEngine::play()
{
    const WatcherHold hold(*this);
    if (status == QMediaPlayer::NoMedia || status == QMediaPlayer::InvalidMedia)
        return;
    if (atEndOfFile)
        setPosition(0);
    else if (endReported)
        setPosition(currentPosition); // decoding stopped at the end point
    setMpvPause(false);
    setState(QMediaPlayer::PlayingState);
    if (status == QMediaPlayer::LoadedMedia)
        setStatus(QMediaPlayer::BufferedMedia);
    // Paused in the moment mpv decoded up to the end point (Space as a sentence ends): its end of
    // file came while paused and was passed over, and mpv, holding still there, tells it no more.
    if (end >= 0 && !endReported && !seeking && !draining && mpvProperty("eof-reached") == "yes")
        onEndOfFileReached();
}

void MpvEngine::pause()
{
    const WatcherHold hold(*this);
    if (status == QMediaPlayer::NoMedia || status == QMediaPlayer::InvalidMedia)
        return;
    setMpvPause(true);
    setState(QMediaPlayer::PausedState);
}

void MpvEngine::stop()
{
    const WatcherHold hold(*this);
    jumpToReport = -1;
    setMpvPause(true);
    setState(QMediaPlayer::StoppedState);
    if (status != QMediaPlayer::NoMedia && status != QMediaPlayer::InvalidMedia)
        setPosition(0);
}

void MpvEngine::setPosition(qint64 position)
{
    // The caller's seek goes where it means to, after any jump the watcher has made.
    const WatcherHold hold(*this);
    jumpToReport = -1;
    position = qMax<qint64>(0, position);
    if (end >= 0 && end <= position)
        setEndPoint(-1);
    endReported = false;
    // A file just opened starts at its beginning: seeking there would only decode the first
    // frame twice before anything shows.
    const bool alreadyThere = opening && position == 0;
    currentPosition = position;
    if (!alreadyThere) {
        startPass();
        if (!redirectProbe)
            askSeek(position);
    }
    if (atEndOfFile) {
        atEndOfFile = false;
        setStatus(QMediaPlayer::LoadedMedia);
    }
    // mpv holds still at the end of a file or a pass; playing on is ours to say.
    if (state == QMediaPlayer::PlayingState)
        setMpvPause(false);
}

void MpvEngine::askSeek(qint64 position)
{
    command({"seek", secondsText(position), "absolute+exact"}, passNumber);
    seekAwaited = true;
}

// A seek or a new source: what mpv reports until it has restarted belongs to the pass before.
void MpvEngine::startPass()
{
    ++passNumber;
    passAcknowledged = false;
    seekAwaited = false;
    opening = false;
    landing = currentPosition;
    seeking = true;
    draining = false;
    heard = {};
}

void MpvEngine::setPlaybackRate(qreal newRate)
{
    const WatcherHold hold(*this);
    if (newRate == rate || newRate <= 0)
        return;
    rate = newRate;
    mpv_set_property_async(mpv, 0, "speed", MPV_FORMAT_DOUBLE, &newRate);
    if (end >= 0)
        setOption("end", secondsText(decodingEnd()));
    armMpvLoop();
    emit playbackRateChanged(rate);
}

void MpvEngine::setVolume(float volume)
{
    volume = qBound(0.0f, volume, 1.0f);
    if (volume == currentVolume)
        return;
    currentVolume = volume;
    double percent = double(volume) * 100.0;
    mpv_set_property_async(mpv, 0, "volume", MPV_FORMAT_DOUBLE, &percent);
    emit volumeChanged(currentVolume);
}

void MpvEngine::setMuted(bool newMuted)
{
    if (newMuted == muted)
        return;
    muted = newMuted;
    int flag = muted ? 1 : 0;
    mpv_set_property_async(mpv, 0, "mute", MPV_FORMAT_FLAG, &flag);
    emit mutedChanged(muted);
}

void MpvEngine::setVideoOutput(QGraphicsVideoItem *item)
{
    renderer.reset();
    videoItem = item;
    if (item)
        renderer = std::make_unique<MpvVideoRenderer>(mpv, item);
}

QVideoSink *MpvEngine::videoSink() const
{
    return videoItem ? videoItem->videoSink() : nullptr;
}

// At rates other than 1.0 mpv keeps the pitch with its tempo filter (scaletempo2), which drops
// what it still holds when the stream ends: measured with bench_end_overshoot, some 28 ms of
// sound above normal speed and up to 10 ms just below it, while at 0.6 to 0.7 nothing is lost.
// So mpv decodes that much past the end point, and the pass ends where the learner hears it end.
qint64 MpvEngine::decodingEndFor(qint64 end, qreal rate)
{
    if (end < 0)
        return -1;
    double lostWallMs = 0.0;
    if (rate > 1.0)
        lostWallMs = 28.0;
    else if (rate < 1.0 && rate >= 0.75)
        lostWallMs = 8.0;
    return end + qint64(std::lround(lostWallMs * rate));
}

void MpvEngine::setEndPoint(qint64 position, const PassEnd &next)
{
    const WatcherHold hold(*this);
    const PassEnd followedBy = position < 0 ? PassEnd::hold() : next;
    if (position == end && followedBy == then)
        return;
    const bool moved = position != end;
    end = position;
    then = followedBy;
    if (moved)
        setOption("end", end < 0 ? QStringLiteral("none") : secondsText(decodingEnd()));
    armMpvLoop();
    if (!moved)
        return;
    // Held at the end point just reported: a later end point means playing on from here.
    if (endReported && state == QMediaPlayer::PlayingState && (end < 0 || end > currentPosition))
        setPosition(currentPosition);
}

// One sentence looped at one rate is mpv's own A-B loop: mpv seeks back in its core the moment
// it has decoded to the end and, not flushing its audio output for that seek, lets the next pass
// follow the sound still playing, whatever the event loop of the window is busy with.
bool MpvEngine::loopsInMpv() const
{
    return loopsInMpvFor(end, then, rate);
}

bool MpvEngine::loopsInMpvFor(qint64 end, const PassEnd &then, qreal rate)
{
    return end >= 0 && then.jumps() && then.jumpTo < end && then.nextEndPoint == end &&
           (then.rate <= 0 || then.rate == rate);
}

void MpvEngine::armMpvLoop()
{
    const bool loop = loopsInMpv();
    setOption("ab-loop-a", loop ? secondsText(then.jumpTo) : QStringLiteral("no"));
    setOption("ab-loop-b", loop ? secondsText(decodingEnd()) : QStringLiteral("no"));
}

// A seek of mpv's own is its A-B loop going round: the pass's end is reported as its sound is
// heard, and the next pass's reports follow it.
void MpvEngine::onMpvSeek()
{
    if (seeking || draining || !loopsInMpv() || state != QMediaPlayer::PlayingState)
        return;
    const qint64 waitMs = wallMsUntilHeard(end);
    startPass();
    passAcknowledged = true; // no command of ours to wait for
    landing = then.jumpTo;
    draining = true;
    const int pass = passNumber;
    QTimer::singleShot(waitMs, Qt::PreciseTimer, this, [this, pass] {
        if (pass != passNumber || !draining)
            return;
        draining = false;
        const qint64 start = then.jumpTo;
        reportEndPoint(true);
        // The next pass is heard from its start on: mpv appended it to the sound just played.
        if (pass == passNumber && currentPosition != start) {
            currentPosition = start;
            emit positionChanged(start);
        }
    });
}

// A jump mpv's loop cannot make (on to another place, another rate or end point) is made here
// as soon as the sound has reached the end point, before anyone else is told.
void MpvEngine::carryOutJump()
{
    const PassEnd jump = then;
    const qint64 endedAt = end;
    if (jump.rate > 0)
        setPlaybackRate(jump.rate);
    // mpv keeps the old end point until after the seek, lest it play on past it meanwhile.
    end = -1;
    then = PassEnd::hold();
    setPosition(jump.jumpTo);
    end = jump.nextEndPoint > jump.jumpTo ? jump.nextEndPoint : -1;
    then = jump.following(endedAt);
    setOption("end", end < 0 ? QStringLiteral("none") : secondsText(decodingEnd()));
    armMpvLoop();
}

void MpvEngine::drainMpvEvents()
{
    // Whatever mpv reports after a jump of the watcher's belongs to the pass it leads to.
    followWatcherJump(true);
    while (mpv) {
        const mpv_event *event = mpv_wait_event(mpv, 0);
        if (event->event_id == MPV_EVENT_NONE)
            break;
        handleEvent(*event);
    }
}

void MpvEngine::handleEvent(const mpv_event &event)
{
    switch (event.event_id) {
    case MPV_EVENT_PROPERTY_CHANGE:
        onPropertyChanged(*static_cast<const mpv_event_property *>(event.data));
        break;
    case MPV_EVENT_FILE_LOADED:
        // The length first, as QMediaPlayer has it: whoever acts on the loaded media may need it.
        updateDuration(mpvProperty("duration").toDouble());
        setStatus(state == QMediaPlayer::PlayingState ? QMediaPlayer::BufferedMedia
                                                      : QMediaPlayer::LoadedMedia);
        break;
    case MPV_EVENT_COMMAND_REPLY:
        if (event.reply_userdata == quint64(passNumber)) {
            passAcknowledged = true;
            // A seek refused is not begun: the next restart ends the pass's wait.
            if (event.error < 0)
                seekAwaited = false;
        }
        break;
    case MPV_EVENT_SEEK:
        // mpv begins a seek it has taken after replying to it; any other is its own A-B loop.
        if (seeking && passAcknowledged)
            seekAwaited = false;
        else
            onMpvSeek();
        break;
    case MPV_EVENT_PLAYBACK_RESTART:
        // mpv restarts after every seek, also after one that a later seek replaced, and once as a
        // file starts to play: until it has taken the last seek and begun it, a restart belongs
        // to something before.
        if (passAcknowledged && !seekAwaited) {
            seeking = false;
            opening = false;
        }
        break;
    case MPV_EVENT_END_FILE: {
        const auto *ended = static_cast<const mpv_event_end_file *>(event.data);
        onFileEnded(ended->reason, ended->error);
        break;
    }
    case MPV_EVENT_LOG_MESSAGE: {
        const auto *message = static_cast<const mpv_event_log_message *>(event.data);
        const QString text = QString::fromUtf8(message->text).trimmed();
        qDebug() << "mpv:" << message->prefix << text;
        if (message->log_level <= MPV_LOG_LEVEL_ERROR)
            lastError = text;
        break;
    }
    default:
        break;
    }
}

void MpvEngine::onPropertyChanged(const mpv_event_property &property)
{
    const QByteArray name(property.name);
    if (property.format == MPV_FORMAT_NONE)
        return;
    if (name == "time-pos" && property.format == MPV_FORMAT_DOUBLE) {
        onTimePos(*static_cast<double *>(property.data));
    } else if (name == "duration" && property.format == MPV_FORMAT_DOUBLE) {
        updateDuration(*static_cast<double *>(property.data));
    } else if (name == "eof-reached" && property.format == MPV_FORMAT_FLAG) {
        if (*static_cast<int *>(property.data))
            onEndOfFileReached();
    } else if (name == "dwidth" || name == "dheight") {
        displaySize = QSize(mpvProperty("dwidth").toInt(), mpvProperty("dheight").toInt());
        if (renderer)
            renderer->setVideoSize(displaySize.width(), displaySize.height());
    } else if (name == "paused-for-cache" && property.format == MPV_FORMAT_FLAG &&
               state == QMediaPlayer::PlayingState) {
        setStatus(*static_cast<int *>(property.data) ? QMediaPlayer::BufferingMedia
                                                     : QMediaPlayer::BufferedMedia);
    }
}

void MpvEngine::updateDuration(double seconds)
{
    const qint64 duration = qint64(std::llround(seconds * 1000.0));
    if (duration == currentDuration)
        return;
    currentDuration = duration;
    emit durationChanged(duration);
}

void MpvEngine::onTimePos(double seconds)
{
    // During a seek mpv gives the target, and the old file's time until a new one has started;
    // at the end of a file or pass it gives the end while the sound still plays out. Standing
    // still after a seek it gives the time of the video frame shown, not the place sought.
    if (seeking || draining || state != QMediaPlayer::PlayingState)
        return;
    const qint64 position = qint64(std::llround(seconds * 1000.0));
    // A seek made before the last one may restart playback first: until playback is near the
    // last target (an exact seek never lands before it), what mpv gives belongs to an earlier seek.
    if (landing >= 0) {
        if (position < landing - landingEarlyMs || position > landing + 1000 + qint64(1000 * rate))
            return;
        landing = -1;
    }
    // mpv jumps to the end as soon as it has decoded there, before the sound has played out.
    const bool jumpedToEnd =
        (end >= 0 && position >= decodingEnd()) || (currentDuration > 0 && position >= currentDuration);
    if (jumpedToEnd && state == QMediaPlayer::PlayingState)
        return;
    heard = {seconds * 1000.0, monotonicNowNs()};
    if (position == currentPosition)
        return;
    currentPosition = position;
    emit positionChanged(position);
}

// mpv gives the time of the sound being heard; the position is run on from the last one.
qint64 MpvEngine::wallMsUntilHeard(qint64 position) const
{
    if (heard.clockNs == 0 || rate <= 0)
        return 0;
    const double sinceMs = double(monotonicNowNs() - heard.clockNs) / 1e6;
    const double waitMs = (double(position) - heard.positionMs) / rate - sinceMs;
    return qint64(std::clamp(std::ceil(waitMs), 0.0, 2000.0)) + (rate == 1.0 ? 0 : tempoFilterLeadMs);
}

// mpv has decoded up to the end of the file or the end point and holds still there; its audio
// output still plays the last of it.
void MpvEngine::onEndOfFileReached()
{
    if (seeking || draining || state != QMediaPlayer::PlayingState || loopsInMpv())
        return;
    const qint64 stoppedAt = qint64(std::llround(mpvProperty("time-pos").toDouble() * 1000.0));
    const bool atEndPoint = end >= 0 && !endReported && stoppedAt >= decodingEnd() - 20;
    const qint64 soundEnd = atEndPoint ? end : qMax(stoppedAt, currentDuration);
    // mpv ends a network stream that stalls (its network timeout) as if the file had ended.
    const bool cutOff = !atEndPoint && !currentSource.isLocalFile() && stoppedAt < currentDuration - 1000;
    if (atEndPoint && then.jumps() && watcher.joinable())
        return; // the watcher thread makes the jump
    draining = true;
    const int pass = passNumber;
    QTimer::singleShot(wallMsUntilHeard(soundEnd), this,
                       [this, pass, atEndPoint, soundEnd, cutOff, stoppedAt] {
                           if (pass != passNumber || !draining)
                               return;
                           draining = false;
                           if (cutOff)
                               reportFailure(QString("网络视频中断：服务器 %1 秒没有发来数据，只播放到 %2 秒")
                                                 .arg(networkTimeoutMs() / 1000.0)
                                                 .arg(stoppedAt / 1000));
                           else if (atEndPoint && then.jumps())
                               reportJump();
                           else if (atEndPoint)
                               reportEndPoint();
                           else
                               reportEndOfMedia(soundEnd);
                       });
}

void MpvEngine::reportEndPoint(bool jumped)
{
    // After a jump the next pass is under way: its end is still to come.
    endReported = !jumped;
    const qint64 reached = end;
    if (currentPosition != reached) {
        currentPosition = reached;
        emit positionChanged(reached);
    }
    emit endPointReached(reached, jumped);
}

void MpvEngine::reportJump()
{
    const qint64 reached = end;
    if (currentPosition != reached) {
        currentPosition = reached;
        emit positionChanged(reached);
    }
    carryOutJump();
    emit endPointReached(reached, true);
}

void MpvEngine::reportEndOfMedia(qint64 position)
{
    atEndOfFile = true;
    setMpvPause(true);
    if (currentPosition != position) {
        currentPosition = position;
        emit positionChanged(position);
    }
    setStatus(QMediaPlayer::EndOfMedia);
    setState(QMediaPlayer::StoppedState);
}

void MpvEngine::onFileEnded(int reason, int error)
{
    if (reason != MPV_END_FILE_REASON_ERROR)
        return;
    qDebug() << "mpv playback failed:" << currentSource.toString() << mpv_error_string(error) << lastError;
    reportFailure(unplayableMediaMessage(lastError));
}

void MpvEngine::reportFailure(const QString &message)
{
    setState(QMediaPlayer::StoppedState);
    setStatus(QMediaPlayer::InvalidMedia);
    emit errorOccurred(QMediaPlayer::ResourceError, message);
}

MpvEngine::WatcherHold::WatcherHold(MpvEngine &engine)
    : engine(engine)
{
    engine.watchLock.lock();
    engine.followWatcherJump(false);
}

MpvEngine::WatcherHold::~WatcherHold()
{
    engine.armWatcher();
    engine.watchLock.unlock();
}

// What the watcher acts on: the GUI side's end point, what follows it, rate and state.
void MpvEngine::armWatcher()
{
    if (!watcher.joinable())
        return;
    {
        const std::lock_guard<std::recursive_mutex> lock(watchLock);
        const bool playing = state == QMediaPlayer::PlayingState;
        if (watched.playing == playing && watched.end == end && watched.rate == rate && watched.then == then)
            return;
        ++watched.generation;
        watched.playing = playing;
        watched.end = end;
        watched.rate = rate;
        watched.then = then;
    }
    mpv_wakeup(watcherHandle);
}

void MpvEngine::watchPassEnds()
{
    for (;;) {
        qint64 now = monotonicNowNs();
        double timeout = -1;
        if (view.deadlineNs > 0)
            timeout = std::max(0.0, double(view.deadlineNs - now) / 1e9);
        const mpv_event *event = mpv_wait_event(watcherHandle, timeout);
        {
            const std::lock_guard<std::recursive_mutex> lock(watchLock);
            if (watched.quit)
                return;
        }
        if (event->event_id == MPV_EVENT_SHUTDOWN)
            return;
        now = monotonicNowNs();
        if (event->event_id == MPV_EVENT_SEEK) {
            view.heard = {};
        } else if (event->event_id == MPV_EVENT_PROPERTY_CHANGE) {
            const auto *property = static_cast<const mpv_event_property *>(event->data);
            const QByteArray name(property->name);
            if (name == "eof-reached")
                view.endOfFile = property->format == MPV_FORMAT_FLAG && *static_cast<int *>(property->data);
            else if (name == "time-pos")
                view.timePosMs = property->format == MPV_FORMAT_DOUBLE
                                     ? *static_cast<double *>(property->data) * 1000.0
                                     : -1;
        }
        checkEndOfPass(
            now, event->event_id == MPV_EVENT_PROPERTY_CHANGE &&
                     qstrcmp(static_cast<const mpv_event_property *>(event->data)->name, "time-pos") == 0);
    }
}

// Run on the watcher thread after every event: arms the moment the sound reaches the end point,
// and jumps when it has come.
void MpvEngine::checkEndOfPass(qint64 now, bool timeReported)
{
    const std::lock_guard<std::recursive_mutex> lock(watchLock);
    const qint64 stopAt = decodingEndFor(watched.end, watched.rate);
    // The sound heard is followed also before a jump is armed: the session may arm it late.
    const bool beforeEnd = stopAt < 0 || view.timePosMs < stopAt - 1;
    if (timeReported && !view.endOfFile && view.timePosMs >= 0 && beforeEnd)
        view.heard = {view.timePosMs, now};
    const bool armed = watched.playing && watched.end >= 0 && watched.then.jumps() &&
                       !loopsInMpvFor(watched.end, watched.then, watched.rate);
    if (!armed || !view.endOfFile) {
        view.deadlineNs = 0;
        return;
    }
    const bool atEndPoint = view.endOfFile && view.timePosMs >= stopAt - 20;
    if (!atEndPoint) {
        view.deadlineNs = 0;
        return;
    }
    if (view.deadlineNs == 0 || view.deadlineGeneration != watched.generation) {
        // mpv gives the time of the sound being heard; the end is heard that much later.
        double waitMs = 0;
        if (view.heard.clockNs != 0)
            waitMs = (double(watched.end) - view.heard.positionMs) / watched.rate -
                     double(now - view.heard.clockNs) / 1e6;
        waitMs = std::clamp(std::ceil(waitMs), 0.0, 2000.0) + (watched.rate == 1.0 ? 0 : tempoFilterLeadMs);
        view.deadlineNs = now + qint64(waitMs * 1e6);
        view.deadlineGeneration = watched.generation;
    }
    if (now < view.deadlineNs)
        return;
    view.deadlineNs = 0;
    carryOutJumpOnWatcher();
}

// Under watchLock, on the watcher thread: mpv's client API may be called from any thread.
void MpvEngine::carryOutJumpOnWatcher()
{
    const PassEnd jump = watched.then;
    const qint64 endedAt = watched.end;
    const qreal newRate = jump.rate > 0 ? jump.rate : watched.rate;
    const qint64 nextEnd = jump.nextEndPoint > jump.jumpTo ? jump.nextEndPoint : -1;
    const PassEnd following = nextEnd < 0 ? PassEnd::hold() : jump.following(endedAt);
    if (newRate != watched.rate) {
        double speed = newRate;
        mpv_set_property_async(watcherHandle, 0, "speed", MPV_FORMAT_DOUBLE, &speed);
    }
    const QByteArray target = secondsText(jump.jumpTo).toUtf8();
    const char *seek[] = {"seek", target.constData(), "absolute+exact", nullptr};
    mpv_command_async(watcherHandle, 0, seek);
    const QByteArray stop =
        nextEnd < 0 ? QByteArray("none") : secondsText(decodingEndFor(nextEnd, newRate)).toUtf8();
    setPropertyLater(watcherHandle, "end", stop);
    const bool loop = loopsInMpvFor(nextEnd, following, newRate);
    const QByteArray a = loop ? secondsText(following.jumpTo).toUtf8() : QByteArray("no");
    const QByteArray b = loop ? stop : QByteArray("no");
    setPropertyLater(watcherHandle, "ab-loop-a", a);
    setPropertyLater(watcherHandle, "ab-loop-b", b);
    watched.jumped = true;
    watched.jumpedFrom = endedAt;
    watched.jump = jump;
    watched.end = nextEnd;
    watched.rate = newRate;
    watched.then = following;
    // mpv's end of file and time are the pass's just left until it reports the new one's.
    view.heard = {};
    view.endOfFile = false;
    view.timePosMs = -1;
    QMetaObject::invokeMethod(this, "onWatcherJumped", Qt::QueuedConnection);
}

// The GUI side takes on the pass the watcher jumped to; what mpv reports from then on is its.
void MpvEngine::followWatcherJump(bool report)
{
    if (watcher.joinable()) {
        std::unique_lock<std::recursive_mutex> lock(watchLock);
        if (watched.jumped) {
            watched.jumped = false;
            const qint64 endedAt = watched.jumpedFrom;
            const PassEnd jump = watched.jump;
            end = watched.end;
            then = watched.then;
            lock.unlock();
            if (jump.rate > 0 && jump.rate != rate) {
                rate = jump.rate;
                emit playbackRateChanged(rate);
            }
            if (currentPosition != endedAt) {
                currentPosition = endedAt;
                emit positionChanged(endedAt);
            }
            currentPosition = jump.jumpTo;
            atEndOfFile = false;
            endReported = false;
            startPass();
            passAcknowledged = true; // the watcher's seek is the last one asked
            jumpToReport = endedAt;
        }
    }
    if (report && jumpToReport >= 0)
        emit endPointReached(std::exchange(jumpToReport, -1), true);
}
