#pragma once

#include "media/mediaengine.h"

#include <QPointer>
#include <QSize>

#include <memory>
#include <mutex>
#include <thread>

struct mpv_handle;
struct mpv_event;
struct mpv_event_property;
class MpvVideoRenderer;
class QGraphicsVideoItem;
class QNetworkAccessManager;
class QNetworkReply;
class QTemporaryFile;

// The engine on libmpv: speed changes keep the pitch, seeks are exact, the sound of a pass stops
// at its end point to the sample, hardware decoding is one option and HTTPS streams are verified.
// libmpv plays the sound through its own audio output (silently when the machine has none);
// the video frames are rendered into the QGraphicsVideoItem's sink.
class MpvEngine : public MediaEngine
{
    Q_OBJECT

public:
    // Null, with the reason in `failure`, when libmpv cannot start on this machine.
    static std::unique_ptr<MpvEngine> start(const MediaEngineOptions &options, QObject *parent,
                                            QString *failure);
    ~MpvEngine() override;

    QString name() const override { return QStringLiteral("mpv"); }

    void setSource(const QUrl &source) override;
    QUrl source() const override { return currentSource; }
    void play() override;
    void pause() override;
    void stop() override;
    void setPosition(qint64 position) override;
    qint64 position() const override { return currentPosition; }
    qint64 duration() const override { return currentDuration; }
    PlaybackState playbackState() const override { return state; }
    MediaStatus mediaStatus() const override { return status; }
    void setPlaybackRate(qreal rate) override;
    qreal playbackRate() const override { return rate; }
    float volume() const override { return currentVolume; }
    void setVolume(float volume) override;
    bool isMuted() const override { return muted; }
    void setMuted(bool muted) override;
    void setVideoOutput(QGraphicsVideoItem *item) override;
    QVideoSink *videoSink() const override;
    QSize videoSize() const override { return displaySize; }
    using MediaEngine::setEndPoint;
    void setEndPoint(qint64 position, const PassEnd &then) override;
    qint64 endPoint() const override { return end; }
    PassEnd passEnd() const override { return then; }

    // The value of an mpv property as text ("" when it has none), for diagnostics and tests.
    QString mpvProperty(const char *name) const;

private:
    // Takes over `handle`, created and not yet initialised.
    MpvEngine(mpv_handle *handle, QObject *parent);
    // Run on the GUI thread whenever mpv has events: its wakeup callback queues it.
    Q_INVOKABLE void drainMpvEvents();
    void configure(const MediaEngineOptions &options);
    void handleEvent(const mpv_event &event);
    void onPropertyChanged(const mpv_event_property &property);
    void onTimePos(double seconds);
    void updateDuration(double seconds);
    void onEndOfFileReached();
    void reportEndPoint(bool jumped = false);
    bool loopsInMpv() const;
    void armMpvLoop();
    void onMpvSeek();
    void carryOutJump();
    void reportJump();
    void reportEndOfMedia(qint64 position);
    void startPass();
    void askSeek(qint64 position);
    qint64 wallMsUntilHeard(qint64 position) const;
    qint64 decodingEnd() const { return decodingEndFor(end, rate); }
    static qint64 decodingEndFor(qint64 endPoint, qreal rate);
    static bool loopsInMpvFor(qint64 endPoint, const PassEnd &next, qreal rate);
    // The end of a pass that jumps is acted on by a thread of the engine's own, which waits on
    // mpv's events through a client handle of its own: the seek is issued the moment the sound
    // reaches the end point, whatever the GUI thread is busy with, and the GUI side follows.
    void watchPassEnds();
    void armWatcher();
    void checkEndOfPass(qint64 now, bool timeReported);
    void carryOutJumpOnWatcher();
    // Held by every setter: the watcher makes no jump while the GUI side changes what it acts
    // on (a jump made meanwhile would be carried out on the pass the setter replaces), and a
    // jump it made before is taken on first. What the setter leaves is handed to the watcher.
    class WatcherHold
    {
    public:
        explicit WatcherHold(MpvEngine &engine);
        ~WatcherHold();

    private:
        MpvEngine &engine;
    };
    // Brings the GUI side up to the jump the watcher made; `report` emits what it did.
    void followWatcherJump(bool report);
    Q_INVOKABLE void onWatcherJumped() { followWatcherJump(true); }
    // The tempo filter's sound lags the position mpv gives by up to this (wall milliseconds): the
    // end of a pass at another rate is reported that much later, so no seek cuts its last sound.
    static constexpr qint64 tempoFilterLeadMs = 40;
    // A video frame shown after an exact seek may start a few milliseconds before the target.
    static constexpr qint64 landingEarlyMs = 100;
    void onFileEnded(int reason, int error);
    void reportFailure(const QString &message);
    void openNetworkSource(const QUrl &source);
    void onNetworkSourceFound(QNetworkReply *reply);
    void setState(PlaybackState newState);
    void setStatus(MediaStatus newStatus);
    void setMpvPause(bool paused);
    void setOption(const char *name, const QString &value);
    // The reply to a command comes back as an event carrying `replyTo`.
    void command(const QStringList &arguments, quint64 replyTo = 0);

    mpv_handle *mpv = nullptr;
    std::unique_ptr<MpvVideoRenderer> renderer;
    QPointer<QGraphicsVideoItem> videoItem;
    std::unique_ptr<QTemporaryFile> caBundle;

    QUrl currentSource;
    QNetworkAccessManager *network = nullptr;
    // The request finding where the network source leads; nothing is loaded into mpv meanwhile.
    QPointer<QNetworkReply> redirectProbe;
    qint64 currentPosition = 0;
    qint64 currentDuration = 0;
    PlaybackState state = QMediaPlayer::StoppedState;
    MediaStatus status = QMediaPlayer::NoMedia;
    qreal rate = 1.0;
    float currentVolume = 1.0f;
    bool muted = false;
    qint64 end = -1;
    PassEnd then;
    bool endReported = false;
    // A seek is under way: mpv's position is the seek target's, not yet played.
    bool seeking = false;
    // mpv has decoded to the end; its audio output still plays the last of it.
    bool draining = false;
    int passNumber = 0;
    // mpv has taken the command that started the pass: a playback restart from then on is this
    // pass's, not one of a seek made before it.
    bool passAcknowledged = false;
    // The pass's seek has been asked of mpv and mpv has not yet begun it: a playback restart
    // meanwhile is the file's own start, or a seek's made before.
    bool seekAwaited = false;
    // A new source is opening and has not started to play.
    bool opening = false;
    // The target of the last seek, until mpv plays near it.
    qint64 landing = -1;
    // The last position mpv gave while playing, and when (steady clock).
    struct Heard
    {
        double positionMs = 0;
        qint64 clockNs = 0;
    };
    Heard heard;
    bool atEndOfFile = false;
    QString lastError;
    QSize displaySize;

    // What the watcher thread acts on, shared under `watchLock`.
    struct Watched
    {
        quint64 generation = 0;
        bool playing = false;
        qint64 end = -1;
        qreal rate = 1.0;
        PassEnd then;
        // A jump the watcher made that the GUI side has not followed yet.
        bool jumped = false;
        qint64 jumpedFrom = -1;
        PassEnd jump;
        bool quit = false;
    };
    std::recursive_mutex watchLock;
    Watched watched;
    mpv_handle *watcherHandle = nullptr;
    std::thread watcher;
    // Only the watcher thread touches these.
    struct WatcherView
    {
        bool endOfFile = false;
        double timePosMs = -1;
        Heard heard;
        quint64 deadlineGeneration = 0;
        qint64 deadlineNs = 0;
    };
    WatcherView view;
    // The end point the watcher jumped from, still to be reported; -1 for none.
    qint64 jumpToReport = -1;
};
