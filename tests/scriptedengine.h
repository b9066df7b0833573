#pragma once

#include "media/mediaengine.h"

#include <QGraphicsVideoItem>
#include <QVideoSink>
#include <QList>
#include <QPointer>

#include <utility>

// A media engine whose playback the test scripts: it reports the positions the test feeds it,
// records the seeks it is asked for, and stops a pass at its end point as an exact back end does.
// It keeps the engines' promise: a report the test makes from before the last seek (the stale
// report of a busy back end) reaches nobody, until playback has landed near the seek.
class ScriptedEngine : public MediaEngine
{
public:
    QList<qint64> seeks;
    // Qt 6.4's back end reports the new position from inside a seek.
    bool reportsFromInsideSeek = false;
    // Carry out what follows the end point (a Jump) as the real engines do; off, a pass only
    // holds at its end and the caller seeks, as the window's tests of its own seeks expect.
    bool jumpsItself = false;

    // Playback reaches position: a report, and the end point when it lies at or before it.
    void report(qint64 position)
    {
        if (landing >= 0 && (position < landing - 1000 || position > landing + 1000))
            return;
        landing = -1;
        currentPosition = position;
        emit positionChanged(position);
        if (end >= 0 && !endReported && landing < 0 && position >= end) {
            endReported = true;
            const qint64 reached = end;
            const PassEnd jump = std::exchange(then, PassEnd::hold());
            const bool jumped = jumpsItself && jump.jumps();
            if (jumped) {
                if (jump.rate > 0)
                    setPlaybackRate(jump.rate);
                end = -1;
                setPosition(jump.jumpTo);
                end = jump.nextEndPoint > jump.jumpTo ? jump.nextEndPoint : -1;
                then = jump.following(reached);
            }
            emit endPointReached(reached, jumped);
        }
    }
    // Playback has landed where the last seek put it.
    void settle() { landing = -1; }
    void finishLoading(qint64 duration)
    {
        currentDuration = duration;
        emit durationChanged(duration);
        setStatus(QMediaPlayer::LoadedMedia);
    }
    void reachEndOfMedia()
    {
        currentPosition = currentDuration;
        setStatus(QMediaPlayer::EndOfMedia);
        setState(QMediaPlayer::StoppedState);
    }

    QString name() const override { return QStringLiteral("scripted"); }
    void setSource(const QUrl &source) override
    {
        currentSource = source;
        setState(QMediaPlayer::StoppedState);
        setStatus(source.isEmpty() ? QMediaPlayer::NoMedia : QMediaPlayer::LoadingMedia);
    }
    QUrl source() const override { return currentSource; }
    void play() override { setState(QMediaPlayer::PlayingState); }
    void pause() override { setState(QMediaPlayer::PausedState); }
    void stop() override { setState(QMediaPlayer::StoppedState); }
    void setPosition(qint64 position) override
    {
        seeks.append(position);
        currentPosition = position;
        landing = position;
        endReported = false;
        if (end >= 0 && end <= position)
            end = -1;
        if (status == QMediaPlayer::EndOfMedia)
            setStatus(QMediaPlayer::LoadedMedia);
        if (reportsFromInsideSeek)
            emit positionChanged(position); // the target, as Qt 6.4's back end tells it at once
    }
    qint64 position() const override { return currentPosition; }
    qint64 duration() const override { return currentDuration; }
    PlaybackState playbackState() const override { return state; }
    MediaStatus mediaStatus() const override { return status; }
    void setPlaybackRate(qreal rate) override
    {
        if (rate == currentRate)
            return;
        currentRate = rate;
        emit playbackRateChanged(rate);
    }
    qreal playbackRate() const override { return currentRate; }
    float volume() const override { return currentVolume; }
    void setVolume(float volume) override
    {
        currentVolume = volume;
        emit volumeChanged(volume);
    }
    bool isMuted() const override { return muted; }
    void setMuted(bool mute) override { muted = mute; }
    void setVideoOutput(QGraphicsVideoItem *item) override { videoItem = item; }
    QVideoSink *videoSink() const override { return videoItem ? videoItem->videoSink() : nullptr; }
    QSize videoSize() const override { return videoSink() ? videoSink()->videoSize() : QSize(); }
    using MediaEngine::setEndPoint;
    void setEndPoint(qint64 position, const PassEnd &next) override
    {
        if (position != end)
            endReported = false;
        end = position;
        then = position < 0 ? PassEnd::hold() : next;
    }
    qint64 endPoint() const override { return end; }
    PassEnd passEnd() const override { return then; }

private:
    void setState(PlaybackState newState)
    {
        if (newState == state)
            return;
        state = newState;
        emit playbackStateChanged(state);
    }
    void setStatus(MediaStatus newStatus)
    {
        if (newStatus == status)
            return;
        status = newStatus;
        emit mediaStatusChanged(status);
    }

    QUrl currentSource;
    qint64 currentPosition = 0;
    qint64 currentDuration = 0;
    PlaybackState state = QMediaPlayer::StoppedState;
    MediaStatus status = QMediaPlayer::NoMedia;
    qreal currentRate = 1.0;
    float currentVolume = 1.0f;
    bool muted = false;
    qint64 end = -1;
    PassEnd then;
    bool endReported = false;
    qint64 landing = -1; // the last seek, until a report near it
    QPointer<QGraphicsVideoItem> videoItem;
};
