#include "lessonmedia.h"
#include "media/mediaengine.h"
#include "media/qtendpointtimer.h"
#include "media/qtseeklanding.h"
#include "testsupport.h"

#include <QAudioOutput>
#include <QElapsedTimer>
#include <QMediaPlayer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

// The end point of the QMediaPlayer engine, timed between the back end's position reports: a
// really playing (silent) file keeps the player's state and rate real, while the test makes the
// reports itself and forwards state, rate and seeks as the engine does. And the reports that
// engine drops after a seek. The engine's contract as a whole, on real playback, is tst_engine's.

namespace {

// Reports as the back end makes them: every 100 ms, a little behind the playback.
class BackEndReports : public QObject
{
public:
    explicit BackEndReports(QtEndPointTimer &timer)
        : timer(timer)
    {
        connect(&ticker, &QTimer::timeout, this, [this] { this->timer.noteReport(now() - lagMs); });
    }

    // A report of `from` now, and reports moving on from there at the rate.
    void startAt(qint64 from, double playbackRate)
    {
        origin = from;
        rate = playbackRate;
        clock.start();
        timer.noteReport(from);
        ticker.start(100);
    }
    void changeRate(double playbackRate)
    {
        origin = now();
        clock.start();
        rate = playbackRate;
    }

private:
    qint64 now() const { return origin + qint64(double(clock.elapsed()) * rate); }

    static constexpr qint64 lagMs = 40;
    QtEndPointTimer &timer;
    QTimer ticker;
    QElapsedTimer clock;
    qint64 origin = 0;
    double rate = 1.0;
};

// The media player and its end timer, wired as the engine wires them.
struct PlayingTimer
{
    QMediaPlayer player;
    QAudioOutput output;
    QtEndPointTimer timer{&player};
    BackEndReports reports{timer};

    PlayingTimer()
    {
        player.setAudioOutput(&output);
        QObject::connect(&player, &QMediaPlayer::playbackStateChanged, &timer,
                         &QtEndPointTimer::notePlaybackState);
        QObject::connect(&player, &QMediaPlayer::playbackRateChanged, &timer,
                         &QtEndPointTimer::noteRateChanged);
    }
    void setRate(double rate)
    {
        // Every rate change opens a new audio output.
        timer.noteNewAudioOutput();
        player.setPlaybackRate(rate);
        timer.noteRateChanged(rate);
    }
    bool waitFor(QMediaPlayer::PlaybackState state)
    {
        return QTest::qWaitFor([&] { return player.playbackState() == state; }, 5000);
    }
};

} // namespace

class tst_QtEndPointTimer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void reachedAtWallTimeForRate_data();
    void reachedAtWallTimeForRate();
    void queueAfterSeek_data();
    void queueAfterSeek();
    void reportWhilePausedNotTimed();
    void reachedOncePerPass();
    void seekForgetsTheEndAhead();
    void stallWaitsForReports();
    void nothingWithoutEndPoint();
    void reportsAfterSeek_data();
    void reportsAfterSeek();

private:
    std::unique_ptr<PlayingTimer> openPlaying(double rate = 1.0);
    // Wall milliseconds from now until the end point is reached, once reports start at `from`;
    // -1 if it is not reached within five seconds.
    static qint64 reachedAfter(PlayingTimer &playing, qint64 from);
    // Empty when `run` (which opens its own player) sees the end reached `wallMs` after the
    // reports start, else what it measured. The timer may fire 3 ms early by rounding; a busy
    // machine may hold its event back but never bring it forward, so an end reached late (or
    // not at all) is tried again, up to three times, and an early one fails at once.
    template <class Run> static QString reachedOnTime(int wallMs, Run run)
    {
        QStringList measured;
        for (int attempt = 0; attempt < 3; ++attempt) {
            const qint64 reachedMs = run();
            measured << QString::number(reachedMs);
            if (reachedMs >= 0 && reachedMs < wallMs - 3)
                break;
            if (reachedMs >= 0 && reachedMs <= wallMs + 30)
                return {};
        }
        return QString("expected after %1 ms, reached after %2").arg(wallMs).arg(measured.join(", "));
    }

    QTemporaryDir mediaDir;
    QString mediaPath;
};

void tst_QtEndPointTimer::initTestCase()
{
    useQtMultimediaFFmpegBackend();
    QVERIFY(mediaDir.isValid());
    mediaPath = mediaDir.filePath("silent lesson.wav");
    QVERIFY(makeSilence(mediaPath, 60));
}

std::unique_ptr<PlayingTimer> tst_QtEndPointTimer::openPlaying(double rate)
{
    auto playing = std::make_unique<PlayingTimer>();
    playing->player.setSource(QUrl::fromLocalFile(mediaPath));
    if (!QTest::qWaitFor([&] { return playing->player.mediaStatus() == QMediaPlayer::LoadedMedia; }, 10000))
        return nullptr;
    playing->player.setPlaybackRate(rate);
    playing->player.play();
    if (!playing->waitFor(QMediaPlayer::PlayingState))
        return nullptr;
    playing->timer.setEndPoint(3500);
    return playing;
}

qint64 tst_QtEndPointTimer::reachedAfter(PlayingTimer &playing, qint64 from)
{
    QElapsedTimer clock;
    qint64 reachedMs = -1;
    const QMetaObject::Connection reached = connect(&playing.timer, &QtEndPointTimer::reached, &playing.timer,
                                                    [&] { reachedMs = clock.elapsed(); });
    clock.start();
    playing.reports.startAt(from, playing.player.playbackRate());
    const bool inTime = QTest::qWaitFor([&] { return reachedMs >= 0; }, 5000);
    disconnect(reached);
    return inTime ? reachedMs : -1;
}

void tst_QtEndPointTimer::reachedAtWallTimeForRate_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<qint64>("from");
    QTest::addColumn<double>("rateAfterReport"); // 0: unchanged
    QTest::addColumn<int>("wallMs");
    // The media to the end point at 3500 at the rate, less the queue of the output opened at the
    // start, which the clock does not count yet.
    const int queue = int(QtEndPointTimer::outputQueueMs);
    QTest::newRow("rate 0.6") << 0.6 << qint64(3000) << 0.0 << 833 - queue;
    QTest::newRow("rate 1.0") << 1.0 << qint64(3000) << 0.0 << 500 - queue;
    QTest::newRow("rate 2.0") << 2.0 << qint64(3000) << 0.0 << 250 - queue;
    // A rate change opens a new output, whose queue is not counted yet; the end, now a few
    // milliseconds ahead, is timed at once, not from the next report.
    QTest::newRow("rate 1.0, then 2.0") << 1.0 << qint64(3300) << 2.0 << 100 - queue;
}

void tst_QtEndPointTimer::reachedAtWallTimeForRate()
{
    QFETCH(double, rate);
    QFETCH(qint64, from);
    QFETCH(double, rateAfterReport);
    QFETCH(int, wallMs);
    const QString late = reachedOnTime(wallMs, [&] {
        auto playing = openPlaying(rate);
        if (!playing)
            return qint64(-1);
        if (rateAfterReport > 0) {
            QTimer::singleShot(0, &playing->timer, [&] {
                playing->setRate(rateAfterReport);
                playing->reports.changeRate(rateAfterReport);
            });
        }
        return reachedAfter(*playing, from);
    });
    QVERIFY2(late.isEmpty(), qPrintable(late));
}

void tst_QtEndPointTimer::queueAfterSeek_data()
{
    QTest::addColumn<int>("pauseMs");
    QTest::addColumn<int>("wallMs");
    // From 3000 to the end point 3500. The queue left by a seek made while playing plays out
    // counted by the clock; a pause plays it out uncounted.
    QTest::newRow("seek while playing") << -1 << 500;
    QTest::newRow("seek after a pause longer than the queue")
        << 300 << 500 - int(QtEndPointTimer::outputQueueMs);
}

void tst_QtEndPointTimer::queueAfterSeek()
{
    QFETCH(int, pauseMs);
    QFETCH(int, wallMs);
    const QString late = reachedOnTime(wallMs, [&] {
        auto playing = openPlaying();
        if (!playing)
            return qint64(-1);
        playing->timer.noteReport(2000);
        if (pauseMs >= 0) {
            playing->player.pause();
            playing->waitFor(QMediaPlayer::PausedState);
            QTest::qWait(pauseMs);
        }
        playing->timer.noteSeek(pauseMs < 0);
        playing->player.setPosition(3000);
        if (pauseMs >= 0) {
            playing->player.play();
            playing->waitFor(QMediaPlayer::PlayingState);
        }
        return reachedAfter(*playing, 3000);
    });
    QVERIFY2(late.isEmpty(), qPrintable(late));
}

// A report made while paused is where the playback will start from, not where it is when it
// starts: the time until play() must not count as played.
void tst_QtEndPointTimer::reportWhilePausedNotTimed()
{
    const QString late = reachedOnTime(550 - int(QtEndPointTimer::outputQueueMs), [&] {
        auto playing = openPlaying();
        if (!playing)
            return qint64(-1);
        playing->timer.noteReport(2900);
        playing->player.pause();
        playing->waitFor(QMediaPlayer::PausedState);
        playing->timer.noteReport(3000);
        QTest::qWait(30);
        playing->player.play();
        playing->waitFor(QMediaPlayer::PlayingState);
        // The back end's first report after play lags a little behind the place it stands at.
        return reachedAfter(*playing, 2950);
    });
    QVERIFY2(late.isEmpty(), qPrintable(late));
}

// The end point is reached by the timer or by a report within 15 ms of it, once per pass.
void tst_QtEndPointTimer::reachedOncePerPass()
{
    auto playing = openPlaying();
    QVERIFY(playing);
    QtEndPointTimer &timer = playing->timer;
    QSignalSpy reached(&timer, &QtEndPointTimer::reached);
    timer.noteReport(3300);
    QTRY_COMPARE(reached.size(), 1);
    QCOMPARE(reached.first().first().toLongLong(), qint64(3500));
    timer.noteReport(3490);
    timer.noteReport(3600);
    QCOMPARE(reached.size(), 1);

    timer.noteSeek(true);
    timer.noteReport(1000);
    timer.noteReport(3486);
    QCOMPARE(reached.size(), 2);
}

// After a seek the end the old place was heading for is no longer ahead of anything.
void tst_QtEndPointTimer::seekForgetsTheEndAhead()
{
    auto playing = openPlaying();
    QVERIFY(playing);
    QSignalSpy reached(&playing->timer, &QtEndPointTimer::reached);
    playing->timer.noteReport(3300);
    playing->timer.noteSeek(true);
    QTest::qWait(250);
    QCOMPARE(reached.size(), 0);
}

// The player goes quiet while the playback stands still: the end is not taken from a position
// that ran on without it, but from the reports once they move again.
void tst_QtEndPointTimer::stallWaitsForReports()
{
    auto playing = openPlaying();
    QVERIFY(playing);
    QSignalSpy reached(&playing->timer, &QtEndPointTimer::reached);
    playing->timer.noteReport(3000);
    QTest::qWait(800);
    QCOMPARE(reached.size(), 0);
    playing->timer.noteReport(3400);
    QTRY_COMPARE(reached.size(), 1);
}

void tst_QtEndPointTimer::nothingWithoutEndPoint()
{
    auto playing = openPlaying();
    QVERIFY(playing);
    playing->timer.setEndPoint(-1);
    QCOMPARE(playing->timer.endPoint(), qint64(-1));
    QSignalSpy reached(&playing->timer, &QtEndPointTimer::reached);
    playing->timer.noteReport(3300);
    QTest::qWait(150);
    playing->timer.noteReport(3600);
    QCOMPARE(reached.size(), 0);
}

using Positions = QList<qint64>;

void tst_QtEndPointTimer::reportsAfterSeek_data()
{
    QTest::addColumn<qint64>("target"); // -1: no seek
    QTest::addColumn<double>("rate");
    QTest::addColumn<Positions>("reports");
    // c: current, b: from before the seek, l: seek lost; for the end of media (told as -1) a: the
    // end of the playback before the seek (to be asked for again), e: the end
    QTest::addColumn<QString>("judged");
    QTest::newRow("no seek") << qint64(-1) << 1.0 << Positions{5000} << "c";
    // Qt 6.4 may report the position it had before a seek once more after it.
    QTest::newRow("stale report, then landed") << qint64(1000) << 1.0 << Positions{3520, 1050, 3490} << "bcc";
    // A video seek may land on the key frame before; playback moves on from the target.
    QTest::newRow("a second before the target") << qint64(2000) << 1.0 << Positions{999, 1000} << "bc";
    QTest::newRow("400 ms on at rate 1") << qint64(1000) << 1.0 << Positions{1401, 1400} << "bc";
    QTest::newRow("800 ms on at rate 2") << qint64(1000) << 2.0 << Positions{1801, 1800} << "bc";
    // Reports from elsewhere go on: the seek is asked for once more, then the reports believed.
    QTest::newRow("seek lost") << qint64(1000) << 1.0 << Positions{5000, 5100, 5200, 5300, 5400, 5500, 5600}
                               << "bblbbcc";
    // From the end of a 10 s lesson the back end now and then ends again at once after a seek.
    QTest::newRow("end at once after a seek") << qint64(1000) << 1.0 << Positions{-1, 1050, -1} << "ace";
    QTest::newRow("end at once, asked for again") << qint64(1000) << 2.0 << Positions{-1, -1} << "ae";
    QTest::newRow("end once landed") << qint64(1000) << 1.0 << Positions{1050, -1} << "ce";
    QTest::newRow("end soon after a seek near it") << qint64(9600) << 1.0 << Positions{-1} << "e";
    QTest::newRow("end with no seek") << qint64(-1) << 1.0 << Positions{-1} << "e";
}

void tst_QtEndPointTimer::reportsAfterSeek()
{
    QFETCH(qint64, target);
    QFETCH(double, rate);
    QFETCH(Positions, reports);
    QFETCH(QString, judged);
    QtSeekLanding landing;
    if (target >= 0)
        landing.seekTo(target);
    QString told;
    for (qint64 position : reports) {
        if (position < 0) {
            told += landing.isEndFromBefore(10000, rate) ? 'a' : 'e';
            continue;
        }
        switch (landing.judge(position, rate)) {
        case QtSeekLanding::Report::Current:
            told += 'c';
            break;
        case QtSeekLanding::Report::FromBefore:
            told += 'b';
            break;
        case QtSeekLanding::Report::SeekLost:
            told += 'l';
            QCOMPARE(landing.target(), target);
            break;
        }
    }
    QCOMPARE(told, judged);
}

QTEST_MAIN(tst_QtEndPointTimer)
#include "tst_qtendpointtimer.moc"
