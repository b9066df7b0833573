#include "lessonmedia.h"
#include "media/mediaengine.h"
#include "media/qtstandstillwatch.h"

#include <QAudioOutput>
#include <QMediaPlayer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The standstill of Qt's FFmpeg back end on a real QMediaPlayer. A seek made while it plays near
// the end of a file makes it stand as a lost wake-up does (which no test can force): its reading
// thread sleeps, and it says it plays.

namespace {

struct WatchedPlayer
{
    QMediaPlayer player;
    QAudioOutput output;
    QtStandstillWatch watch{&player};
    QSignalSpy told{&watch, &QtStandstillWatch::standing};

    bool playFrom(const QString &path, qint64 position, qreal rate = 1.0)
    {
        player.setAudioOutput(&output);
        player.setSource(QUrl::fromLocalFile(path));
        if (!QTest::qWaitFor([&] { return player.mediaStatus() == QMediaPlayer::LoadedMedia; }, 10000))
            return false;
        player.setPlaybackRate(rate);
        player.setPosition(position);
        player.play();
        return QTest::qWaitFor([&] { return player.position() > position; }, 5000);
    }
};

} // namespace

class tst_QtStandstillWatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void standstillIsToldAndASeekWakesIt();
    void movingOrPausedIsNotTold_data();
    void movingOrPausedIsNotTold();

private:
    QTemporaryDir mediaDir;
};

void tst_QtStandstillWatch::initTestCase()
{
    useQtMultimediaFFmpegBackend();
    QVERIFY(mediaDir.isValid());
    QVERIFY(makeSilence(mediaDir.filePath("short.wav"), 4));
    QVERIFY(makeSilence(mediaDir.filePath("long.wav"), 60));
}

void tst_QtStandstillWatch::standstillIsToldAndASeekWakesIt()
{
    WatchedPlayer watched;
    QMediaPlayer &player = watched.player;
    QVERIFY(watched.playFrom(mediaDir.filePath("short.wav"), 2000));
    QVERIFY(QTest::qWaitFor([&] { return player.position() > 3600; }, 5000));
    player.setPosition(500);
    QTRY_VERIFY_WITH_TIMEOUT(!watched.told.isEmpty(), 2 * QtStandstillWatch::standstillMs);
    QCOMPARE(player.playbackState(), QMediaPlayer::PlayingState);
    const qint64 stoodAt = watched.told.first().first().toLongLong();
    QVERIFY2(stoodAt >= 500 && stoodAt < 1000, QByteArray::number(stoodAt));

    // As the engine wakes it: a seek where it stands, paused and played again.
    player.pause();
    player.setPosition(stoodAt);
    player.play();
    QTRY_VERIFY_WITH_TIMEOUT(player.position() > stoodAt + 500, 3000);
}

void tst_QtStandstillWatch::movingOrPausedIsNotTold_data()
{
    QTest::addColumn<qreal>("rate");
    QTest::addColumn<bool>("paused");
    QTest::newRow("playing at the slowest rate") << 0.5 << false;
    QTest::newRow("paused") << 1.0 << true;
}

void tst_QtStandstillWatch::movingOrPausedIsNotTold()
{
    QFETCH(qreal, rate);
    QFETCH(bool, paused);
    WatchedPlayer watched;
    QVERIFY(watched.playFrom(mediaDir.filePath("long.wav"), 1000, rate));
    if (paused)
        watched.player.pause();
    const qint64 from = watched.player.position();
    QTest::qWait(QtStandstillWatch::standstillMs + 1000);
    QCOMPARE(watched.told.count(), 0);
    QCOMPARE(watched.player.position() > from + 500, !paused);
}

QTEST_MAIN(tst_QtStandstillWatch)
#include "tst_qtstandstillwatch.moc"
