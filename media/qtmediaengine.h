#pragma once

#include "media/mediaengine.h"
#include "media/playablesource.h"
#include "media/qtseeklanding.h"

class QAudioOutput;
class QtEndPointTimer;
class QtStandstillWatch;

// The engine on QMediaPlayer with Qt's FFmpeg back end. Up to Qt 6.9 that back end cannot
// keep the pitch at other rates, reports the position only every 100 ms, hangs on a seek made
// while playing near the end of a file, forgets the rate on load, cannot open paths that are
// not ASCII, ignores the hardware-decoding variable before 6.5 and now and then stops while it
// says it plays: each has its workaround here.
class QtMediaEngine : public MediaEngine
{
    Q_OBJECT

public:
    QtMediaEngine(const MediaEngineOptions &options, QObject *parent = nullptr);
    ~QtMediaEngine() override;

    QString name() const override { return QStringLiteral("qt"); }

    void setSource(const QUrl &source) override;
    QUrl source() const override { return requestedSource; }
    void play() override;
    void pause() override;
    void stop() override;
    void setPosition(qint64 position) override;
    qint64 position() const override;
    qint64 duration() const override;
    PlaybackState playbackState() const override;
    MediaStatus mediaStatus() const override;
    void setPlaybackRate(qreal rate) override;
    qreal playbackRate() const override;
    float volume() const override;
    void setVolume(float volume) override;
    bool isMuted() const override;
    void setMuted(bool muted) override;
    void setVideoOutput(QGraphicsVideoItem *item) override;
    QVideoSink *videoSink() const override;
    QSize videoSize() const override;
    using MediaEngine::setEndPoint;
    void setEndPoint(qint64 position, const PassEnd &then) override;
    qint64 endPoint() const override;
    PassEnd passEnd() const override { return then; }

    // The hardware-decoding choice reaches the back end through the environment, read when the
    // first media player of the process is made.
    static void applyHardwareDecodingEnvironment(bool enabled);

private:
    void attachAudioOutputWhenAvailable();
    void handOverRate();
    void onMediaStatusChanged(QMediaPlayer::MediaStatus status);
    void reportLoaded();
    void onEndPointReached(qint64 position);
    void onPlayerPosition(qint64 position);
    bool isFromBeforeSeek(qint64 position);
    void seek(qint64 position);
    void wakeStandingPlayback(qint64 position);

    QMediaPlayer *player = nullptr;
    QAudioOutput *audioOutput = nullptr;
    QtEndPointTimer *endTimer = nullptr;
    QtStandstillWatch *standstill = nullptr;
    PassEnd then;
    // What the media player is given for a local file (a link where the path is not ASCII).
    PlayableSource playableSource;
    QUrl requestedSource;
    // The back end opens each source at normal speed; the rate is handed over at the first play.
    bool rateHandedOver = false;
    bool insideSeek = false;
    // LoadedMedia has been told for this source (once per source, written by setSource and
    // reportLoaded).
    bool loadReported = false;
    // A source was set and the back end has not yet said it loads it.
    bool opening = false;
    // The last seek, until a report near its target.
    QtSeekLanding landing;
    // The back end could not open the source, yet goes on as if it played nothing (written by
    // setSource and the error handler).
    bool sourceFailed = false;
};
