#include "media/qtstandstillwatch.h"

#include <QTimer>

namespace {

// A playback that moves goes this far within a report or two (every 100 ms, at the slowest rate);
// one that stands creeps about a millisecond a second.
constexpr qint64 moveMs = 30;

} // namespace

QtStandstillWatch::QtStandstillWatch(QMediaPlayer *player, QObject *parent)
    : QObject(parent)
    , player(player)
    , timer(new QTimer(this))
{
    timer->setSingleShot(true);
    timer->setInterval(standstillMs);
    connect(timer, &QTimer::timeout, this, &QtStandstillWatch::tell);
    connect(player, &QMediaPlayer::positionChanged, this, &QtStandstillWatch::onPosition);
    connect(player, &QMediaPlayer::playbackStateChanged, this, &QtStandstillWatch::onPlaybackState);
}

void QtStandstillWatch::onPosition(qint64 position)
{
    if (timer->isActive() && qAbs(position - movedTo) >= moveMs)
        watchFrom(position);
}

void QtStandstillWatch::onPlaybackState(QMediaPlayer::PlaybackState state)
{
    if (state == QMediaPlayer::PlayingState)
        watchFrom(player->position());
    else
        timer->stop();
}

void QtStandstillWatch::watchFrom(qint64 position)
{
    movedTo = position;
    timer->start();
}

// The timer runs only while the player plays.
void QtStandstillWatch::tell()
{
    watchFrom(player->position());
    emit standing(movedTo);
}
