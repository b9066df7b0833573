#pragma once

#include <QElapsedTimer>

#include <QtGlobal>

// Qt 6.4's FFmpeg back end reports the place it left once more after a seek, and on a busy
// machine now and then drops a seek altogether. Until a report comes from near the target of the
// last seek, reports are from before it; should they go on, the seek was lost and is asked for
// once more.
class QtSeekLanding
{
public:
    enum class Report {
        Current,    // from the playback as it is: passed on
        FromBefore, // from before the seek: dropped
        SeekLost,   // dropped, and the seek is to be asked for again
    };

    void seekTo(qint64 position);
    void forget();
    qint64 target() const { return landingTarget; }

    // What a report of `position` is, the playback running at `rate`.
    Report judge(qint64 position, qreal rate);
    // Playback has started or gone on from where it stands.
    void notePlay();
    // Whether the end of media, told with no report from the seek's target yet, is that of the
    // playback before it: from the end, a seek is now and then lost and the back end ends again
    // at once. True once for each seek, which is then to be asked for again.
    bool isEndFromBefore(qint64 duration, qreal rate);

private:
    qint64 landingTarget = -1; // -1: no seek waits for its first report
    int strayReports = 0;
    bool askedAgain = false;
    QElapsedTimer sincePlay; // since the seek, or since playback started after it
};
