#include "lessonmedia.h"
#include "media/qtendpointtimer.h"
#include "media/qtmediaengine.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

// The end point of the QMediaPlayer engine, timed between the back end's position reports: a
// really playing (silent) file keeps the player's state and rate real, while the test makes the
// reports itself.

class tst_QtEndPointTimer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void armedForWallTimeAtRate_data();
    void armedForWallTimeAtRate();
    void rateChangeRearms();
    void queueAfterSeek_data();
    void queueAfterSeek();
    void reportWhilePausedNotTimed();
    void reachedOncePerPass();
    void staleReportAfterSeekIgnored();
    void stallWaitsForReports();
    void nothingWithoutEndPoint();

private:
    std::unique_ptr<QtMediaEngine> openPlaying(double rate = 1.0);
    static QTimer *timerOf(QtMediaEngine &engine) { return engine.endTimer->timer; }
    static void report(QtMediaEngine &engine, qint64 position) { engine.onPlayerPosition(position); }
    // Arming measures the wall time since the report, which a loaded machine (or a sanitizer
    // build) stretches by some milliseconds.
    static bool armedWithin(QtMediaEngine &engine, int wallMs, int slackMs = 25)
    {
        const QTimer *timer = timerOf(engine);
        return timer->isActive() && timer->interval() <= wallMs && timer->interval() >= wallMs - slackMs;
    }

    QTemporaryDir mediaDir;
    QString mediaPath;
};

void tst_QtEndPointTimer::initTestCase()
{
    QVERIFY(mediaDir.isValid());
    mediaPath = mediaDir.filePath("silent lesson.wav");
    QVERIFY(makeSilence(mediaPath, 60));
}

std::unique_ptr<QtMediaEngine> tst_QtEndPointTimer::openPlaying(double rate)
{
    auto engine = std::make_unique<QtMediaEngine>(MediaEngineOptions{});
    // Only the test's reports reach the timer.
    QObject::disconnect(engine->player, &QMediaPlayer::positionChanged, engine.get(), nullptr);
    engine->setSource(QUrl::fromLocalFile(mediaPath));
    if (!QTest::qWaitFor([&] { return engine->mediaStatus() == QMediaPlayer::LoadedMedia; }, 10000))
        return nullptr;
    engine->setPlaybackRate(rate);
    engine->play();
    if (!QTest::qWaitFor([&] { return engine->playbackState() == QMediaPlayer::PlayingState; }, 5000))
        return nullptr;
    engine->setEndPoint(3500);
    return engine;
}

void tst_QtEndPointTimer::armedForWallTimeAtRate_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("wallMs");
    // 1500 ms of media to the end point at the rate, less the queue of the output opened at the
    // start, which the clock does not count yet.
    const int queue = int(QtEndPointTimer::outputQueueMs);
    QTest::newRow("rate 0.6") << 0.6 << 2500 - queue;
    QTest::newRow("rate 1.0") << 1.0 << 1500 - queue;
    QTest::newRow("rate 2.0") << 2.0 << 750 - queue;
}

void tst_QtEndPointTimer::armedForWallTimeAtRate()
{
    QFETCH(double, rate);
    QFETCH(int, wallMs);
    auto engine = openPlaying(rate);
    QVERIFY(engine);
    report(*engine, 2000);
    QVERIFY(timerOf(*engine)->isSingleShot());
    QCOMPARE(timerOf(*engine)->timerType(), Qt::PreciseTimer);
    QVERIFY2(armedWithin(*engine, wallMs), qPrintable(QString::number(timerOf(*engine)->interval())));
}

void tst_QtEndPointTimer::rateChangeRearms()
{
    auto engine = openPlaying();
    QVERIFY(engine);
    report(*engine, 2000);
    QVERIFY(timerOf(*engine)->interval() > 1300);
    engine->setPlaybackRate(2.0);
    // A rate change opens a new output: its queue is not counted yet.
    const int wallMs = 750 - int(QtEndPointTimer::outputQueueMs);
    QVERIFY2(armedWithin(*engine, wallMs, 50), qPrintable(QString::number(timerOf(*engine)->interval())));
}

void tst_QtEndPointTimer::queueAfterSeek_data()
{
    QTest::addColumn<int>("pauseMs");
    QTest::addColumn<int>("wallMs");
    // From 2200 to the end point 3500. The queue left by a seek made while playing plays out
    // counted by the clock; a pause plays it out uncounted.
    QTest::newRow("seek while playing") << -1 << 1300;
    QTest::newRow("seek after a pause longer than the queue")
        << 300 << 1300 - int(QtEndPointTimer::outputQueueMs);
}

void tst_QtEndPointTimer::queueAfterSeek()
{
    QFETCH(int, pauseMs);
    QFETCH(int, wallMs);
    auto engine = openPlaying();
    QVERIFY(engine);
    report(*engine, 2000);
    if (pauseMs >= 0) {
        engine->pause();
        QTRY_COMPARE(engine->playbackState(), QMediaPlayer::PausedState);
        QTest::qWait(pauseMs);
    }
    engine->setPosition(2200);
    QVERIFY(!timerOf(*engine)->isActive());
    if (pauseMs >= 0) {
        engine->play();
        QTRY_COMPARE(engine->playbackState(), QMediaPlayer::PlayingState);
    }
    report(*engine, 2200);
    QVERIFY2(armedWithin(*engine, wallMs), qPrintable(QString::number(timerOf(*engine)->interval())));
}

// A report made while paused is where the playback will start from, not where it is when it
// starts: the time until play() must not count as played.
void tst_QtEndPointTimer::reportWhilePausedNotTimed()
{
    auto engine = openPlaying();
    QVERIFY(engine);
    report(*engine, 1900);
    engine->pause();
    QTRY_COMPARE(engine->playbackState(), QMediaPlayer::PausedState);
    report(*engine, 2000);
    QVERIFY(!timerOf(*engine)->isActive());
    QTest::qWait(100);
    engine->play();
    QTRY_COMPARE(engine->playbackState(), QMediaPlayer::PlayingState);
    report(*engine, 2000);
    QVERIFY2(armedWithin(*engine, 1500 - int(QtEndPointTimer::outputQueueMs)),
             qPrintable(QString::number(timerOf(*engine)->interval())));
}

// The end point is reached by the timer or by a report within 15 ms of it, once per pass.
void tst_QtEndPointTimer::reachedOncePerPass()
{
    auto engine = openPlaying();
    QVERIFY(engine);
    QSignalSpy reached(engine.get(), &MediaEngine::endPointReached);
    report(*engine, 3300);
    QTRY_COMPARE(reached.size(), 1);
    QCOMPARE(reached.first().first().toLongLong(), qint64(3500));
    report(*engine, 3490);
    report(*engine, 3600);
    QCOMPARE(reached.size(), 1);

    engine->setPosition(1000);
    report(*engine, 1000);
    report(*engine, 3486);
    QCOMPARE(reached.size(), 2);
}

// Qt 6.4 may report the position it had before a seek once more after it.
void tst_QtEndPointTimer::staleReportAfterSeekIgnored()
{
    auto engine = openPlaying();
    QVERIFY(engine);
    QSignalSpy reached(engine.get(), &MediaEngine::endPointReached);
    report(*engine, 3400);
    engine->setPosition(1000);
    report(*engine, 3520);
    QTest::qWait(50);
    QCOMPARE(reached.size(), 0);
    report(*engine, 1050);
    report(*engine, 3490);
    QCOMPARE(reached.size(), 1);
}

// The player goes quiet while the playback stands still: the end is not taken from a position
// that ran on without it, but from the reports once they move again.
void tst_QtEndPointTimer::stallWaitsForReports()
{
    auto engine = openPlaying();
    QVERIFY(engine);
    QSignalSpy reached(engine.get(), &MediaEngine::endPointReached);
    report(*engine, 3000);
    QVERIFY(timerOf(*engine)->isActive());
    QTest::qWait(800);
    QCOMPARE(reached.size(), 0);
    report(*engine, 3400);
    QTRY_COMPARE(reached.size(), 1);
}

void tst_QtEndPointTimer::nothingWithoutEndPoint()
{
    auto engine = openPlaying();
    QVERIFY(engine);
    engine->setEndPoint(-1);
    QSignalSpy reached(engine.get(), &MediaEngine::endPointReached);
    report(*engine, 3300);
    QVERIFY(!timerOf(*engine)->isActive());
    report(*engine, 3600);
    QCOMPARE(reached.size(), 0);
}

QTEST_MAIN(tst_QtEndPointTimer)
#include "tst_qtendpointtimer.moc"
