#pragma once

#include <QtGlobal>

// What the media engine does by itself when playback reaches the end point of a pass, so that
// the next pass starts where the sound is, without waiting for the caller's event loop.
struct PassEnd
{
    enum class Then { Hold, Jump };
    // Hold: the sound stops at the end point and playback waits there for the caller.
    Then then = Then::Hold;
    // Jump: an exact seek here the moment the sound has reached the end point, and play on …
    qint64 jumpTo = -1;
    // … at this rate (0: unchanged) …
    qreal rate = 0;
    // … with this end point for the next pass, held there (-1: none), until told more.
    qint64 nextEndPoint = -1;

    static PassEnd hold() { return {}; }
    static PassEnd jump(qint64 to, qreal rate, qint64 nextEndPoint)
    {
        return {Then::Jump, to, rate, nextEndPoint};
    }
    bool jumps() const { return then == Then::Jump && jumpTo >= 0; }
    // What follows the pass this jump leads to, once the pass ending at `endedAt` has jumped: the
    // same jump when it plays that pass again (an endless loop of one sentence), else Hold.
    PassEnd following(qint64 endedAt) const { return jumps() && nextEndPoint == endedAt ? *this : hold(); }
    bool operator==(const PassEnd &other) const
    {
        return then == other.then && jumpTo == other.jumpTo && rate == other.rate &&
               nextEndPoint == other.nextEndPoint;
    }
    bool operator!=(const PassEnd &other) const { return !(*this == other); }
};
