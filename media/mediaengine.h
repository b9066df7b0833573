#pragma once

#include "core/drill/passend.h"

#include <QMediaPlayer>
#include <QObject>
#include <QSize>
#include <QString>
#include <QUrl>

#include <memory>

class QGraphicsVideoItem;
class QVideoSink;

// What the player window needs of a media back end, under the names of QMediaPlayer's own
// interface, so that the repeat engine never asks which back end runs. Each implementation
// keeps the quirks of its back end in its own files.
//
// What every engine guarantees, so that nothing above it guards against one back end:
// - After setPosition(p) no positionChanged from before it reaches the caller: neither what the
//   back end still reports of the place it left, nor its echo of the target from inside the
//   seek; reports resume once playback has landed at p. A seek the back end drops is asked
//   again by the engine itself.
// - After setSource() with a playable source, mediaStatusChanged(LoadedMedia) arrives once,
//   after durationChanged, however the source is opened (afresh, the same one again, after an
//   error), even where the back end says so early or not at all.
// - endPointReached comes once per pass, after the last report of that pass.
class MediaEngine : public QObject
{
    Q_OBJECT

public:
    using PlaybackState = QMediaPlayer::PlaybackState;
    using MediaStatus = QMediaPlayer::MediaStatus;
    using Error = QMediaPlayer::Error;

    explicit MediaEngine(QObject *parent = nullptr);

    virtual QString name() const = 0;

    virtual void setSource(const QUrl &source) = 0;
    virtual QUrl source() const = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void stop() = 0;
    virtual void setPosition(qint64 position) = 0;
    virtual qint64 position() const = 0;
    virtual qint64 duration() const = 0;
    virtual PlaybackState playbackState() const = 0;
    virtual MediaStatus mediaStatus() const = 0;
    virtual void setPlaybackRate(qreal rate) = 0;
    virtual qreal playbackRate() const = 0;

    // 0.0 … 1.0, as QAudioOutput has it.
    virtual float volume() const = 0;
    virtual void setVolume(float volume) = 0;
    virtual bool isMuted() const = 0;
    virtual void setMuted(bool muted) = 0;

    virtual void setVideoOutput(QGraphicsVideoItem *item) = 0;
    virtual QVideoSink *videoSink() const = 0;
    // The size of the media's own picture; invalid without video. An engine may hand the video
    // output frames of another size (the size they are shown at).
    virtual QSize videoSize() const = 0;

    // What the engine does by itself at the end point of a pass (core/drill/passend.h).
    using PassEnd = ::PassEnd;

    // The end of the pass being played, in media milliseconds; -1 for none. When playback gets
    // there the back end stops the sound as close to it as it can, carries out `then` and emits
    // endPointReached once, with `jumped` true when it has already sought on: its position
    // reports are then the next pass's, whose end point is armed with `then.following()` (a
    // loop goes round until told more). The caller may still correct what follows. With Hold a seek (which
    // also drops an end point at or before its target) or play() goes on, and the state stays PlayingState
    // meanwhile.
    void setEndPoint(qint64 position) { setEndPoint(position, PassEnd::hold()); }
    virtual void setEndPoint(qint64 position, const PassEnd &then) = 0;
    virtual qint64 endPoint() const = 0;
    virtual PassEnd passEnd() const = 0;

signals:
    void positionChanged(qint64 position);
    void durationChanged(qint64 duration);
    void mediaStatusChanged(QMediaPlayer::MediaStatus status);
    void playbackStateChanged(QMediaPlayer::PlaybackState state);
    void playbackRateChanged(qreal rate);
    void volumeChanged(float volume);
    void mutedChanged(bool muted);
    void errorOccurred(QMediaPlayer::Error error, const QString &errorString);
    void endPointReached(qint64 position, bool jumped);
};

// What errorOccurred says of media that cannot be played, whichever engine found it; `detail`
// is the back end's own word.
QString unplayableMediaMessage(const QString &detail);

struct MediaEngineOptions
{
    bool hardwareDecoding = true;
};

// Qt Multimedia picks its back end once per process, when its first object is made (a video
// item's sink is one, whichever engine plays): it must be FFmpeg's. Call before any is made.
void useQtMultimediaFFmpegBackend();

// The engine this build and this machine play with: libmpv where the build has it and Qt
// cannot keep the pitch at other rates (before 6.10), QMediaPlayer elsewhere;
// ORVILOOP_MEDIA_ENGINE=mpv|qt chooses one by name.
QString preferredMediaEngineName();
// Starts loading what the preferred engine plays with, on a thread of its own, so that the first
// engine made waits for it as little as possible. Optional: an engine loads it in any case.
void prepareMediaEngine();
// The preferred engine; QMediaPlayer when libmpv cannot start, with the reason in
// `fallbackReason`.
std::unique_ptr<MediaEngine> createMediaEngine(const MediaEngineOptions &options, QObject *parent,
                                               QString *fallbackReason = nullptr);
