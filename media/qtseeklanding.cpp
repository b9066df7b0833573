#include "media/qtseeklanding.h"

namespace {

// After a seek the first reports lie from a little before its target (a video seek may land on
// the frame before) to where playback can have got since (wall milliseconds at rate 1).
constexpr qint64 landingBeforeMs = 1000;
constexpr qint64 landingAfterMs = 400;
// More reports from elsewhere than this mean the back end dropped the seek.
constexpr int strayReportsAllowed = 2;
// The back end may tell the end of media this much before the sound has all been heard.
constexpr qint64 endEarlyMs = 500;

} // namespace

void QtSeekLanding::seekTo(qint64 position)
{
    landingTarget = position;
    strayReports = 0;
    askedAgain = false;
    sincePlay.start();
}

void QtSeekLanding::notePlay()
{
    sincePlay.start();
}

bool QtSeekLanding::isEndFromBefore(qint64 duration, qreal rate)
{
    if (landingTarget < 0 || askedAgain)
        return false;
    // Playback cannot have got to the end since: more is left than the output holds.
    const qint64 unplayed = duration - landingTarget - qint64(sincePlay.elapsed() * rate);
    if (unplayed < endEarlyMs)
        return false;
    askedAgain = true;
    strayReports = 0;
    return true;
}

void QtSeekLanding::forget()
{
    seekTo(-1);
}

QtSeekLanding::Report QtSeekLanding::judge(qint64 position, qreal rate)
{
    if (landingTarget < 0)
        return Report::Current;
    const qint64 after = qint64(landingAfterMs * qMax<qreal>(1.0, rate));
    if (position >= landingTarget - landingBeforeMs && position <= landingTarget + after) {
        forget();
        return Report::Current;
    }
    if (++strayReports <= strayReportsAllowed)
        return Report::FromBefore;
    if (!askedAgain) {
        askedAgain = true;
        strayReports = 0;
        return Report::SeekLost;
    }
    forget(); // asked twice: playback is where the reports say
    return Report::Current;
}
