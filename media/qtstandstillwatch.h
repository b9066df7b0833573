#pragma once

#include <QMediaPlayer>
#include <QObject>

class QTimer;

// Qt 6.4's FFmpeg back end now and then stops while it says it plays. Its threads wake each other
// without holding the lock the sleeper checks under, so a wake-up sent as playback starts can be
// lost, and its reading thread then sleeps for good; a seek made while playing near the end of a
// file does the same. The position then creeps a millisecond a second and nothing is heard. This
// watch tells when a playing player has not moved on for a while.
class QtStandstillWatch : public QObject
{
    Q_OBJECT

public:
    explicit QtStandstillWatch(QMediaPlayer *player, QObject *parent = nullptr);

    // Wall milliseconds a playing player may stand before it is told. By itself it stands up to
    // about a second and a half now and then, and goes on.
    static constexpr int standstillMs = 3000;

signals:
    // Told again every standstillMs for as long as it stands.
    void standing(qint64 position);

private:
    void onPosition(qint64 position);
    void onPlaybackState(QMediaPlayer::PlaybackState state);
    void watchFrom(qint64 position);
    void tell();

    QMediaPlayer *player = nullptr;
    QTimer *timer = nullptr;
    qint64 movedTo = 0; // where the playback was when it last moved
};
