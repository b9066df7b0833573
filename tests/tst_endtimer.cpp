#include "lessonmedia.h"
#include "player/playerwindow.h"
#include "testsupport.h"

#include "ui_playerwindow.h"

#include <QProcess>
#include <QTest>
#include <QTimer>

#include <memory>

// The precise end timer, driven by synthetic position reports on a really playing (silent)
// media file: the real player's own reports are cut off, so the test alone says where it is.

using Times = QList<QPair<qint64, qint64>>;

// Arming measures the wall time since the report, which a loaded machine (or a sanitizer build)
// stretches by some milliseconds.
static bool armedWithin(const QTimer *timer, int wallMs, int slackMs = 25)
{
    return timer && timer->isActive() && timer->interval() <= wallMs && timer->interval() >= wallMs - slackMs;
}

class tst_EndTimer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void armedForWallTimeAtRate_data();
    void armedForWallTimeAtRate();
    void rateChangeRearms();
    void queueAfterSeek_data();
    void queueAfterSeek();
    void reportWhilePausedNotTimed();
    void seekStopsThenReportRearms();
    void pauseAndSliderStop_data();
    void pauseAndSliderStop();
    void firesAndLoops();
    void runOnEndActedOnOnce();
    void stallWaitsForReports();
    void silentInNormalPlay();

private:
    std::unique_ptr<PlayerWindow> openPlaying(const Times &times, int playMode, double rate = 1.0);

    QTemporaryDir settingsDir;
    QTemporaryDir mediaDir;
    QString mediaPath;
};

void tst_EndTimer::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    QVERIFY(mediaDir.isValid());
    useTemporarySettings(settingsDir);
    mediaPath = mediaDir.filePath("silent lesson.wav");
    QVERIFY(makeSilence(mediaPath, 60));
}

void tst_EndTimer::init()
{
    clearSettings();
}

std::unique_ptr<PlayerWindow> tst_EndTimer::openPlaying(const Times &times, int playMode, double rate)
{
    auto w = std::make_unique<PlayerWindow>(nullptr, QString());
    QObject::disconnect(w->player, &QMediaPlayer::positionChanged, w.get(), nullptr);
    QObject::disconnect(w->player, &QMediaPlayer::mediaStatusChanged, w.get(), nullptr);
    w->player->setSource(QUrl::fromLocalFile(mediaPath));
    if (!QTest::qWaitFor([&] { return w->player->mediaStatus() == QMediaPlayer::LoadedMedia; }, 10000))
        return nullptr;
    for (const auto &[start, end] : times)
        w->subtitles << SubtitleItem{int(w->subtitles.size()), start, end,
                                     QString("Sentence %1").arg(w->subtitles.size())};
    w->rebuildPlayList();
    w->applyPlayMode(playMode, false);
    w->player->setPlaybackRate(rate);
    w->player->play();
    if (!QTest::qWaitFor([&] { return w->player->playbackState() == QMediaPlayer::PlayingState; }, 5000))
        return nullptr;
    return w;
}

void tst_EndTimer::armedForWallTimeAtRate_data()
{
    QTest::addColumn<int>("playMode");
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("wallMs");
    // End 3000 + tail 500 - 15 = 3485, reported at 2000: 1485 ms of media at the rate, less
    // the queue of the output newly opened at the start (the clock does not count it yet).
    const int queue = int(PlayerWindow::outputQueueMs);
    QTest::newRow("repeater, rate 0.6") << 1 << 0.6 << 2475 - queue;
    QTest::newRow("repeater, rate 1.0") << 1 << 1.0 << 1485 - queue;
    QTest::newRow("repeater, rate 2.0") << 1 << 2.0 << 743 - queue;
    QTest::newRow("auto next, rate 1.0") << 2 << 1.0 << 1485 - queue;
}

void tst_EndTimer::armedForWallTimeAtRate()
{
    QFETCH(int, playMode);
    QFETCH(double, rate);
    QFETCH(int, wallMs);
    auto w = openPlaying({{1000, 3000}, {6000, 7000}}, playMode, rate);
    QVERIFY(w);
    w->onPositionChanged(2000);
    QVERIFY(w->endTimer && w->endTimer->isActive());
    QVERIFY(w->endTimer->isSingleShot());
    QCOMPARE(w->endTimer->timerType(), Qt::PreciseTimer);
    QVERIFY2(armedWithin(w->endTimer, wallMs), qPrintable(QString::number(w->endTimer->interval())));
}

void tst_EndTimer::rateChangeRearms()
{
    auto w = openPlaying({{1000, 3000}, {6000, 7000}}, 1);
    QVERIFY(w);
    w->onPositionChanged(2000);
    QVERIFY(w->endTimer->interval() > 1300);
    w->ui->doubleSpinBoxRate->setValue(2.0);
    QCOMPARE(w->player->playbackRate(), 2.0);
    QVERIFY(w->endTimer->isActive());
    // A rate change opens a new output: its queue is not counted yet.
    const int wallMs = 743 - int(PlayerWindow::outputQueueMs);
    QVERIFY2(armedWithin(w->endTimer, wallMs, 50), qPrintable(QString::number(w->endTimer->interval())));
}

void tst_EndTimer::queueAfterSeek_data()
{
    QTest::addColumn<int>("pauseMs");
    QTest::addColumn<int>("wallMs");
    // To 7000 + 500 - 15 from 6200. The queue left by a seek made while playing plays out
    // counted by the clock; a pause plays it out uncounted.
    QTest::newRow("seek while playing") << -1 << 1285;
    QTest::newRow("seek after a pause longer than the queue")
        << 300 << 1285 - int(PlayerWindow::outputQueueMs);
}

void tst_EndTimer::queueAfterSeek()
{
    QFETCH(int, pauseMs);
    QFETCH(int, wallMs);
    auto w = openPlaying({{1000, 3000}, {6000, 7000}}, 1);
    QVERIFY(w);
    w->onPositionChanged(2000);
    if (pauseMs >= 0) {
        w->player->pause();
        QTest::qWait(pauseMs);
    }
    w->seekToPosition(6200);
    QVERIFY(!w->endTimer->isActive());
    if (pauseMs >= 0) {
        w->player->play();
        QTRY_COMPARE(w->player->playbackState(), QMediaPlayer::PlayingState);
    }
    w->onPositionChanged(6200);
    QVERIFY(w->endTimer->isActive());
    QVERIFY2(armedWithin(w->endTimer, wallMs), qPrintable(QString::number(w->endTimer->interval())));
}

// A report made while paused is where the playback will start from, not where it is when it
// starts: the time until play() must not count as played.
void tst_EndTimer::reportWhilePausedNotTimed()
{
    auto w = openPlaying({{1000, 3000}, {6000, 7000}}, 1);
    QVERIFY(w);
    w->onPositionChanged(1900);
    w->player->pause();
    QTRY_COMPARE(w->player->playbackState(), QMediaPlayer::PausedState);
    w->onPositionChanged(2000);
    QVERIFY(!w->endTimer->isActive());
    QTest::qWait(100);
    w->player->play();
    QTRY_COMPARE(w->player->playbackState(), QMediaPlayer::PlayingState);
    w->onPositionChanged(2000);
    QVERIFY(w->endTimer->isActive());
    const int wallMs = 1485 - int(PlayerWindow::outputQueueMs);
    QVERIFY2(armedWithin(w->endTimer, wallMs), qPrintable(QString::number(w->endTimer->interval())));
}

void tst_EndTimer::seekStopsThenReportRearms()
{
    auto w = openPlaying({{1000, 3000}, {6000, 7000}}, 1);
    QVERIFY(w);
    w->onPositionChanged(2000);
    QVERIFY(w->endTimer->isActive());
    w->seekToPosition(6200);
    QVERIFY(!w->endTimer->isActive());
    QCOMPARE(w->currentIndex, 1);

    // The first report from the new place times the new sentence's end (7000 + 500 - 15).
    w->onPositionChanged(6200);
    QVERIFY(w->endTimer->isActive());
    QVERIFY(w->endTimer->interval() <= 1285 && w->endTimer->interval() >= 1282);
}

void tst_EndTimer::pauseAndSliderStop_data()
{
    QTest::addColumn<bool>("slider");
    QTest::newRow("pause") << false;
    QTest::newRow("slider pressed") << true;
}

// Once stopped, the end is not acted on until a report says so, however long it waits.
void tst_EndTimer::pauseAndSliderStop()
{
    QFETCH(bool, slider);
    auto w = openPlaying({{1000, 3000}, {6000, 7000}}, 1);
    QVERIFY(w);
    w->onPositionChanged(3300);
    QVERIFY(w->endTimer->isActive());
    if (slider)
        emit w->ui->horizontalSlider->sliderPressed();
    else
        w->ui->btnPlayPause->click();
    QTRY_VERIFY(!w->endTimer->isActive());
    QTest::qWait(200);
    QCOMPARE(w->lastEndHandledIndex, -1);
    QCOMPARE(w->seekGuardPosition, qint64(-1));
}

// The timer runs the engine's own end handling: in the repeater a seek to the lead-in, once.
void tst_EndTimer::firesAndLoops()
{
    auto w = openPlaying({{1000, 3000}, {6000, 7000}}, 1);
    QVERIFY(w);
    w->onPositionChanged(3300);
    QTRY_COMPARE(w->lastEndHandledIndex, 0);
    QCOMPARE(w->seekGuardPosition, qint64(1000));
    QVERIFY(w->player->position() < 1000); // the lead-in at 500, and playing on from there
    QVERIFY(!w->endTimer->isActive());

    // The report the engine would have acted on without the timer comes late: it lifts the
    // seek guard but finds the end handled, so there is no second seek (which would set it again).
    w->onPositionChanged(3490);
    QCOMPARE(w->lastEndHandledIndex, 0);
    QCOMPARE(w->seekGuardPosition, qint64(-1));
    QVERIFY(!w->endTimer->isActive());
}

// In auto next the last pass runs into a close sentence: the reports still lagging behind the
// position fed by the timer must not make that end count twice (which would replay it).
void tst_EndTimer::runOnEndActedOnOnce()
{
    auto w = openPlaying({{1000, 3000}, {3800, 5000}, {9000, 10000}}, 2);
    QVERIFY(w);
    w->repeatCount = 2;
    const qint64 endAt = 3000 + 560 - 15;
    w->onPositionChanged(1000);
    w->onPositionChanged(endAt - 50);
    QTRY_COMPARE(w->repeatRound, 1);
    QCOMPARE(w->seekGuardPosition, qint64(1000));

    w->onPositionChanged(1000);
    w->onPositionChanged(endAt - 50);
    QTRY_COMPARE(w->lastEndHandledIndex, 0);
    QCOMPARE(w->repeatRound, 0);
    QCOMPARE(w->seekGuardPosition, qint64(-1));

    for (qint64 late : {endAt - 40, endAt + 10}) {
        w->onPositionChanged(late);
        QCOMPARE(w->lastEndHandledIndex, 0);
        QCOMPARE(w->repeatRound, 0);
        QCOMPARE(w->seekGuardPosition, qint64(-1));
    }
    w->onPositionChanged(3800);
    QCOMPARE(w->currentIndex, 1);
    QVERIFY(w->endTimer->isActive());
}

// The player goes quiet while the playback stands still: the end is not taken from a position
// that ran on without it, but from the reports once they move again.
void tst_EndTimer::stallWaitsForReports()
{
    auto w = openPlaying({{1000, 3000}, {6000, 7000}}, 1);
    QVERIFY(w);
    w->onPositionChanged(2900);
    QVERIFY(w->endTimer->isActive());
    QTest::qWait(700);
    QCOMPARE(w->lastEndHandledIndex, -1);
    QCOMPARE(w->seekGuardPosition, qint64(-1));

    w->onPositionChanged(3400);
    QTRY_COMPARE(w->lastEndHandledIndex, 0);
    QCOMPARE(w->seekGuardPosition, qint64(1000));
}

void tst_EndTimer::silentInNormalPlay()
{
    auto w = openPlaying({{1000, 3000}, {6000, 7000}}, 0);
    QVERIFY(w);
    w->onPositionChanged(3300);
    QVERIFY(!w->endTimer || !w->endTimer->isActive());
    QTest::qWait(200);
    QCOMPARE(w->lastEndHandledIndex, -1);
    QCOMPARE(w->currentIndex, 0);
}

QTEST_MAIN(tst_EndTimer)
#include "tst_endtimer.moc"
