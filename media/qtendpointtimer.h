#pragma once

#include <QMediaPlayer>
#include <QObject>

class QTimer;

// Qt 6.4's FFmpeg back end reports the position only every 100 ms and keeps about as much audio
// queued in its output, so an end acted on from the reports alone lets the learner hear up to a
// fifth of a second past it. This timer extrapolates the position between reports and tells the
// moment the end point has been handed to the output.
class QtEndPointTimer : public QObject
{
    Q_OBJECT

public:
    explicit QtEndPointTimer(QMediaPlayer *player, QObject *parent = nullptr);

    void setEndPoint(qint64 position);
    qint64 endPoint() const { return end; }

    // Every position report (none from before the last seek: the engine drops those), every
    // seek, every change of rate or state goes through here.
    void noteReport(qint64 position);
    void noteSeek(bool whilePlaying);
    void noteNewAudioOutput();
    void noteRateChanged(qreal rate);
    void notePlaybackState(QMediaPlayer::PlaybackState state);

    // Wall milliseconds of audio the output holds queued (measured on PulseAudio).
    static constexpr double outputQueueMs = 95.0;

signals:
    void reached(qint64 endPoint);

private:
    void arm();
    void forget();
    void fire();
    double extrapolated() const;
    double leadMs() const;

    QMediaPlayer *player = nullptr;
    QTimer *timer = nullptr;
    qint64 end = -1;
    bool fired = false;
    qint64 referencePosition = -1; // -1: no report since the last seek or pause
    qint64 referenceClockNs = 0;
    qint64 lastReportClockNs = 0; // of any report, not only the one timed from
    double referenceRate = 1.0;
    // How much of the output's queue the back end's clock has not counted as played: all of it
    // in an output opened afresh, none just after a seek made while playing.
    double uncountedQueueMs = outputQueueMs;
    qint64 leftPlayingNs = 0;
};
