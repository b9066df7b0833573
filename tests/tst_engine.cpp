#include "lessonmedia.h"
#include "core/drill/sentencetiming.h"
#include "playerwindowtest.h"
#include "testsupport.h"

#include "ui_playerwindow.h"

#include <QEventLoop>
#include <QGraphicsTextItem>
#include <QElapsedTimer>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

// The repeat engine driven report by report on a scripted media engine: the test says where
// playback is, and reads back the seeks and end points the window asks for.

Q_DECLARE_METATYPE(Times)
using Positions = QList<qint64>;

class tst_Engine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void endOfSentence_data();
    void endOfSentence();
    void seekGuardIgnoresEarlierReports();
    void lostSeekIsAskedAgain_data();
    void lostSeekIsAskedAgain();
    void staleReportAfterSeek_data();
    void staleReportAfterSeek();
    void endOfMediaBeforeSeekLands_data();
    void endOfMediaBeforeSeekLands();
    void endActedOnOncePerPass();
    void autoNextRepeatsThenRunsIntoCloseSentence();
    void autoNextWrapsAtEndOfPlayList();
    void repeaterKeepsOverlappedSentence();
    void normalPlayRunsOn();
    void missedEndPointStillEndsPass();
    void gapBetweenSentencesClearsText();
    void nextPlayListIndex_data();
    void nextPlayListIndex();
    void syncIndexToPosition_data();
    void syncIndexToPosition();
    void seekToPosition_data();
    void seekToPosition();
    void nextSentenceMovesAndWraps();
    void nextSentenceFromOutsidePlayList();
    void positionReportsWhileSliderHeld();
    void sliderRelease_data();
    void sliderRelease();
    void updateSliderRange();
    void durationChanged();
    void loadedMediaStartsPlayback();
    void playModeChange_data();
    void playModeChange();
    void playModeWithoutSubtitles();
    void repeatCountChange_data();
    void repeatCountChange();
    void playPauseButton();
    void windowFollowsJumpOfEngine_data();
    void windowFollowsJumpOfEngine();
    void engineCarriesOutPassEnd_data();
    void engineCarriesOutPassEnd();
    void noReportFromBeforeSeek_data();
    void noReportFromBeforeSeek();
    void loadedMediaArrives_data();
    void loadedMediaArrives();
    void backClosesAndEndsEventLoop(); // last: it leaves the application quitting

private:
    static std::unique_ptr<PlayerWindow> openWindow(const Times &times, int playMode)
    {
        return PlayerWindowTest::open(times, playMode);
    }
    static void report(PlayerWindow &w, qint64 position) { PlayerWindowTest::report(w, position); }
    static ScriptedEngine &engine(const PlayerWindow &w) { return PlayerWindowTest::engine(w); }

    // A real engine by name with the lesson of three tone sentences opened and loaded.
    std::unique_ptr<MediaEngine> openLesson(const QString &engineName);

    QTemporaryDir settingsDir;
    QTemporaryDir mediaDir;
    QString lesson;
};

void tst_Engine::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    useTemporarySettings(settingsDir);
    QVERIFY(mediaDir.isValid());
    lesson = mediaDir.filePath("三句 lesson.wav");
    const QString error = writeLesson(lesson, {{500, 1500}, {2500, 3500}, {4500, 5500}}, 7000);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void tst_Engine::init()
{
    clearSettings();
}

void tst_Engine::endOfSentence_data()
{
    QTest::addColumn<Times>("times");
    QTest::addColumn<int>("sentence");
    QTest::addColumn<qint64>("endAt");
    QTest::addColumn<qint64>("seekTarget");
    QTest::newRow("gap 600, second sentence")
        << Times{{0, 2000}, {2600, 4000}} << 1 << qint64(4500) << qint64(2180);
    QTest::newRow("gap 600, first sentence")
        << Times{{0, 2000}, {2600, 4000}} << 0 << qint64(2420) << qint64(0);
    QTest::newRow("gap 3000, second sentence")
        << Times{{0, 2000}, {5000, 7000}} << 1 << qint64(7500) << qint64(4500);
    QTest::newRow("gap 3000, first sentence")
        << Times{{0, 2000}, {5000, 7000}} << 0 << qint64(2500) << qint64(0);
    QTest::newRow("overlap, first sentence")
        << Times{{0, 3000}, {2500, 4000}} << 0 << qint64(3000) << qint64(0);
    QTest::newRow("overlap, second sentence")
        << Times{{0, 3000}, {2500, 4000}} << 1 << qint64(4500) << qint64(3000);
    QTest::newRow("first cue at 300 ms")
        << Times{{300, 2000}, {5000, 7000}} << 0 << qint64(2500) << qint64(0);
    QTest::newRow("first cue at 1800 ms")
        << Times{{1800, 3000}, {5000, 7000}} << 0 << qint64(3500) << qint64(1300);
}

// In the repeater the media engine holds the end of the pass at end + tail, and the window
// seeks to the lead-in when it is reached.
void tst_Engine::endOfSentence()
{
    QFETCH(Times, times);
    QFETCH(int, sentence);
    QFETCH(qint64, endAt);
    QFETCH(qint64, seekTarget);
    auto w = openWindow(times, 1);
    QVERIFY(w);
    w->currentIndex = sentence;
    const qint64 start = times.at(sentence).first;

    report(*w, start + 100);
    QCOMPARE(engine(*w).endPoint(), endAt);
    report(*w, endAt - 1);
    QCOMPARE(w->lastEndHandledIndex, -1);
    QCOMPARE(w->player->position(), endAt - 1);
    QCOMPARE(w->seekGuardPosition, qint64(-1));

    report(*w, endAt);
    QCOMPARE(w->lastEndHandledIndex, sentence);
    QCOMPARE(w->player->position(), seekTarget);
    QCOMPARE(w->seekGuardPosition, start);
    QCOMPARE(w->currentIndex, sentence);
    QCOMPARE(w->repeatRound, 0);
    QCOMPARE(w->subtitleTextItem->toPlainText(), QString("Sentence %1").arg(sentence));
}

void tst_Engine::seekGuardIgnoresEarlierReports()
{
    auto w = openWindow({{0, 2000}, {2600, 4000}}, 1);
    QVERIFY(w);
    w->currentIndex = 1;
    report(*w, 3000);
    report(*w, 4500);
    QCOMPARE(w->player->position(), qint64(2180));
    QCOMPARE(w->seekGuardPosition, qint64(2600));

    // The lead-in lies before the sentence start: its reports are ignored.
    report(*w, 2180);
    report(*w, 2599);
    QCOMPARE(w->seekGuardPosition, qint64(2600));
    QCOMPARE(w->lastEndHandledIndex, 1);
    QCOMPARE(w->currentIndex, 1);
    QCOMPARE(w->ui->labelCurrentTime->text(), QString("00:02 / 01:00"));
    QCOMPARE(w->ui->horizontalSlider->value(), 2599);

    report(*w, 2600);
    QCOMPARE(w->seekGuardPosition, qint64(-1));
    QCOMPARE(w->lastEndHandledIndex, -1);
    QCOMPARE(w->subtitleTextItem->toPlainText(), QString("Sentence 1"));
    QVERIFY(w->subtitleTextItem->isVisible());
}

void tst_Engine::lostSeekIsAskedAgain_data()
{
    QTest::addColumn<bool>("toSentence");
    QTest::addColumn<Positions>("reports");
    QTest::addColumn<bool>("askedAgain");
    QTest::newRow("place: playback runs on far below") << false << Positions{500, 600, 700} << true;
    QTest::newRow("place: two stale reports") << false << Positions{500, 600} << false;
    QTest::newRow("place: reports just below") << false << Positions{40300, 40400, 40500, 40600} << false;
    QTest::newRow("sentence: playback runs on far below") << true << Positions{500, 600, 700} << true;
    QTest::newRow("sentence: its lead-in") << true << Positions{39600, 39700, 39800, 39900} << false;
    QTest::newRow("sentence: playback runs on far above") << true << Positions{50000, 50100, 50200} << true;
}

// The back end plays on from elsewhere as if the seek had never been made.
void tst_Engine::lostSeekIsAskedAgain()
{
    QFETCH(bool, toSentence);
    QFETCH(Positions, reports);
    QFETCH(bool, askedAgain);
    auto w = openWindow({{1000, 2000}, {40000, 42000}}, 1);
    QVERIFY(w);
    w->currentIndex = 1;
    if (toSentence)
        w->seekToSentence(1);
    else
        w->seekToPosition(41000);
    const qint64 target = toSentence ? w->sentenceLeadStart(1) : 41000;
    QCOMPARE(engine(*w).seeks, Positions{target});

    for (qint64 position : reports)
        report(*w, position);
    QCOMPARE(engine(*w).seeks, askedAgain ? (Positions{target, target}) : Positions{target});
    QCOMPARE(w->currentIndex, 1);
}

void tst_Engine::staleReportAfterSeek_data()
{
    QTest::addColumn<int>("playMode");
    QTest::addColumn<qint64>("playingAt");
    QTest::addColumn<std::function<void(PlayerWindow &)>>("seek");
    QTest::addColumn<int>("sentence");   // current after the seek
    QTest::addColumn<qint64>("landing"); // a report from the new place
    const auto endOfPass = [](PlayerWindow &w) {
        report(w, 1500);
        report(w, w.player->endPoint());
    };
    QTest::newRow("repeater loops") << 1 << qint64(1500) << std::function(endOfPass) << 0 << qint64(1000);
    QTest::newRow("auto next wraps to the first")
        << 2 << qint64(11500) << std::function([](PlayerWindow &w) { report(w, w.player->endPoint()); }) << 0
        << qint64(1000);
    // The media ends 300 ms after the last cue, before its end point.
    QTest::newRow("end of media replays the last")
        << 1 << qint64(11500) << std::function([](PlayerWindow &w) {
               engine(w).finishLoading(12300);
               engine(w).play();
               engine(w).reachEndOfMedia();
               QTRY_COMPARE(w.lastEndHandledIndex, 3);
           })
        << 3 << qint64(11000);
    QTest::newRow("key right") << 1 << qint64(1500)
                               << std::function([](PlayerWindow &w) { w.seekRelative(10000); }) << 3
                               << qint64(11500);
    QTest::newRow("key left") << 1 << qint64(11500)
                              << std::function([](PlayerWindow &w) { w.seekRelative(-10000); }) << 0
                              << qint64(1500);
    QTest::newRow("next sentence") << 1 << qint64(1500)
                                   << std::function([](PlayerWindow &w) { w.nextSentence(); }) << 1
                                   << qint64(5000);
    QTest::newRow("slider") << 1 << qint64(1500) << std::function([](PlayerWindow &w) {
        emit w.ui->horizontalSlider->sliderPressed();
        w.ui->horizontalSlider->setValue(8000);
        emit w.ui->horizontalSlider->sliderReleased();
        QTRY_VERIFY(!w.sliderDragging);
    }) << 2 << qint64(8000);
    QTest::newRow("restore") << 1 << qint64(1500)
                             << std::function([](PlayerWindow &w) { w.seekToPosition(8500); }) << 2
                             << qint64(8500);
    QTest::newRow("group switch") << 1 << qint64(1500) << std::function([](PlayerWindow &w) {
        w.groupRightIndexes = {2};
        w.groupLeftIndexes = {0, 1, 3};
        w.onSwitchGroupClicked();
    }) << 2 << qint64(8000);
    QTest::newRow("play list start") << 1 << qint64(11500)
                                     << std::function([](PlayerWindow &w) { w.rebuildPlayList(); }) << 0
                                     << qint64(1000);
}

// A media back end may still report the old position once after any seek of the window; such a
// report must neither undo the seek nor count as the end of a pass.
void tst_Engine::staleReportAfterSeek()
{
    QFETCH(int, playMode);
    QFETCH(qint64, playingAt);
    QFETCH(std::function<void(PlayerWindow &)>, seek);
    QFETCH(int, sentence);
    QFETCH(qint64, landing);
    auto w = openWindow({{1000, 2000}, {5000, 6000}, {8000, 9000}, {11000, 12000}}, playMode);
    QVERIFY(w);
    w->syncIndexToPosition(playingAt);
    report(*w, playingAt);
    seek(*w);
    QCOMPARE(w->currentIndex, sentence);
    const int round = w->repeatRound;
    const qsizetype seeks = engine(*w).seeks.size();
    QVERIFY(w->pendingSeek.target >= 0);

    report(*w, w->pendingSeek.from);
    QCOMPARE(w->currentIndex, sentence);
    QCOMPARE(w->repeatRound, round);
    QCOMPARE(engine(*w).seeks.size(), seeks);
    QVERIFY(w->pendingSeek.target >= 0); // still waiting for the seek to land

    report(*w, landing);
    QCOMPARE(w->pendingSeek.target, qint64(-1));
    QCOMPARE(w->currentIndex, sentence);
    QCOMPARE(engine(*w).seeks.size(), seeks);
}

void tst_Engine::endOfMediaBeforeSeekLands_data()
{
    QTest::addColumn<int>("playMode");
    QTest::addColumn<int>("sentence");
    QTest::newRow("repeater replays the last") << 1 << 1;
    QTest::newRow("auto next wraps to the first") << 2 << 0;
}

// Qt 6.4's back end, told to seek as it reaches the end of the media, reports the target from
// inside the seek, then may play on from the end and end again: the seek is asked for once more.
void tst_Engine::endOfMediaBeforeSeekLands()
{
    QFETCH(int, playMode);
    QFETCH(int, sentence);
    auto w = openWindow({{1000, 2000}, {11000, 12000}}, playMode);
    QVERIFY(w);
    ScriptedEngine &media = engine(*w);
    media.reportsFromInsideSeek = true;
    media.finishLoading(12300);
    w->syncIndexToPosition(11500);
    report(*w, 11500);
    media.play();
    media.reachEndOfMedia();
    const qint64 target = w->sentenceLeadStart(sentence);
    QTRY_COMPARE(media.seeks, Positions{target});
    QCOMPARE(w->currentIndex, sentence);

    report(*w, 12300); // played on from the end
    media.reachEndOfMedia();
    QTRY_COMPARE(media.seeks, (Positions{target, target}));
    QCOMPARE(media.playbackState(), QMediaPlayer::PlayingState);
    QCOMPARE(w->currentIndex, sentence);

    report(*w, w->subtitles.at(sentence).startMs + 100);
    QCOMPARE(w->pendingSeek.target, qint64(-1));
    QCOMPARE(w->currentIndex, sentence);
}

// Several reports in one tail count as one end: one more repetition, not several.
void tst_Engine::endActedOnOncePerPass()
{
    auto w = openWindow({{1000, 2000}, {5000, 6000}}, 2);
    QVERIFY(w);
    w->repeatCount = 3;
    w->currentIndex = 0;
    report(*w, 1500);
    report(*w, 2500);
    QCOMPARE(w->repeatRound, 1);
    report(*w, 2490); // already queued before the seek took effect
    report(*w, 2590);
    QCOMPARE(w->repeatRound, 1);
    QCOMPARE(w->lastEndHandledIndex, 0);

    report(*w, 1000);
    QCOMPARE(w->lastEndHandledIndex, -1);
    report(*w, 2500);
    QCOMPARE(w->repeatRound, 2);
}

// Three passes, then the next sentence, 800 ms later, is simply played into.
void tst_Engine::autoNextRepeatsThenRunsIntoCloseSentence()
{
    auto w = openWindow({{1000, 2000}, {2800, 4000}, {6000, 7000}}, 2);
    QVERIFY(w);
    w->repeatCount = 3;
    QCOMPARE(w->currentIndex, 0);
    const qint64 endPointOfFirst = 2000 + 560;

    for (int pass = 0; pass < 2; ++pass) {
        report(*w, 1000);
        QCOMPARE(w->repeatRound, pass);
        QCOMPARE(engine(*w).endPoint(), endPointOfFirst);
        report(*w, endPointOfFirst);
        QCOMPARE(w->repeatRound, pass + 1);
        QCOMPARE(w->player->position(), qint64(500));
        QCOMPARE(w->seekGuardPosition, qint64(1000));
    }
    // The last pass runs on: no end point is held, the report at end + tail - 15 ends it.
    report(*w, 1000);
    QCOMPARE(engine(*w).endPoint(), qint64(-1));
    report(*w, endPointOfFirst - 15);
    QCOMPARE(w->repeatRound, 0);
    QCOMPARE(w->player->position(), endPointOfFirst - 15); // no seek
    QCOMPARE(w->seekGuardPosition, qint64(-1));
    QCOMPARE(w->currentIndex, 0);
    QCOMPARE(w->subtitleTextItem->toPlainText(), QString());

    report(*w, 2800);
    QCOMPARE(w->currentIndex, 1);
    QCOMPARE(w->repeatRound, 0);
    QCOMPARE(w->subtitleTextItem->toPlainText(), QString("Sentence 1"));

    // The third sentence lies 2 s further on: after its three passes the second one seeks there.
    for (int pass = 0; pass < 2; ++pass) {
        report(*w, 2800);
        report(*w, 4500);
        QCOMPARE(w->player->position(), qint64(2800 - 560));
    }
    report(*w, 2800);
    report(*w, 4500);
    QCOMPARE(w->currentIndex, 2);
    QCOMPARE(w->repeatRound, 0);
    QCOMPARE(w->player->position(), qint64(5500));
    QCOMPARE(w->seekGuardPosition, qint64(6000));
    QCOMPARE(w->subtitleTextItem->toPlainText(), QString("Sentence 2"));
}

void tst_Engine::autoNextWrapsAtEndOfPlayList()
{
    auto w = openWindow({{1000, 2000}, {4000, 5000}, {8000, 9000}}, 2);
    QVERIFY(w);
    w->currentIndex = 2;
    report(*w, 8500);
    report(*w, 9500);
    QCOMPARE(w->currentIndex, 0);
    QCOMPARE(w->player->position(), qint64(500));
    QCOMPARE(w->seekGuardPosition, qint64(1000));
}

// With overlapping cues the repeated sentence stays current until its own end.
void tst_Engine::repeaterKeepsOverlappedSentence()
{
    auto w = openWindow({{0, 3000}, {2500, 4000}}, 1);
    QVERIFY(w);
    w->currentIndex = 0;
    for (qint64 position : {1000, 2500, 2700, 2900})
        report(*w, position);
    QCOMPARE(w->currentIndex, 0);
    report(*w, 3000);
    QCOMPARE(w->player->position(), qint64(0));
    QCOMPARE(w->currentIndex, 0);
}

// Normal play: the end changes nothing, and the later-starting overlapping cue takes over.
void tst_Engine::normalPlayRunsOn()
{
    auto w = openWindow({{0, 3000}, {2500, 4000}}, 0);
    QVERIFY(w);
    w->currentIndex = 0;
    report(*w, 1000);
    report(*w, 2600);
    QCOMPARE(w->currentIndex, 1);
    QCOMPARE(w->subtitleTextItem->toPlainText(), QString("Sentence 1"));
    report(*w, 4485);
    QCOMPARE(w->player->position(), qint64(4485));
    QCOMPARE(w->lastEndHandledIndex, 1);
}

// A back end that never says it reached the end point: a report well past it ends the pass.
void tst_Engine::missedEndPointStillEndsPass()
{
    auto w = openWindow({{1000, 2000}, {5000, 6000}}, 1);
    QVERIFY(w);
    report(*w, 1500);
    QCOMPARE(engine(*w).endPoint(), qint64(2500));
    // Reports that go past it without the engine's word, as from a back end that lost it.
    w->onPositionChanged(2600);
    QCOMPARE(w->lastEndHandledIndex, -1);
    w->onPositionChanged(2750);
    QCOMPARE(w->lastEndHandledIndex, 0);
    QCOMPARE(w->player->position(), qint64(500));
}

void tst_Engine::gapBetweenSentencesClearsText()
{
    auto w = openWindow({{1000, 2000}, {5000, 6000}}, 0);
    QVERIFY(w);
    report(*w, 1500);
    QCOMPARE(w->subtitleTextItem->toPlainText(), QString("Sentence 0"));
    report(*w, 3000);
    QCOMPARE(w->subtitleTextItem->toPlainText(), QString());
    report(*w, 5000);
    QCOMPARE(w->currentIndex, 1);
    QCOMPARE(w->subtitleTextItem->toPlainText(), QString("Sentence 1"));
}

void tst_Engine::nextPlayListIndex_data()
{
    QTest::addColumn<int>("playGroup");
    QTest::addColumn<QList<int>>("group2");
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("expected");
    QTest::newRow("all, middle") << 0 << QList<int>{} << 2 << 3;
    QTest::newRow("all, last wraps") << 0 << QList<int>{} << 4 << 0;
    QTest::newRow("group 2, next member") << 1 << QList<int>{1, 3} << 1 << 3;
    QTest::newRow("group 2, last wraps") << 1 << QList<int>{1, 3} << 3 << 1;
    QTest::newRow("group 2, not a member") << 1 << QList<int>{1, 3} << 2 << 1;
    QTest::newRow("group 1, skips group 2") << 2 << QList<int>{1, 3} << 2 << 4;
}

void tst_Engine::nextPlayListIndex()
{
    QFETCH(int, playGroup);
    QFETCH(QList<int>, group2);
    QFETCH(int, current);
    QFETCH(int, expected);
    auto w = openWindow({{0, 1000}, {2000, 3000}, {4000, 5000}, {6000, 7000}, {8000, 9000}}, 2);
    QVERIFY(w);
    w->groupRightIndexes = group2;
    w->playGroup = playGroup;
    w->rebuildPlayList();
    w->currentIndex = current;
    QCOMPARE(w->nextPlayListIndex(), expected);

    // Without a play list the engine walks the subtitles and wraps as well.
    w->currentPlayList = nullptr;
    QCOMPARE(w->nextPlayListIndex(), current == 4 ? 0 : current + 1);
}

void tst_Engine::syncIndexToPosition_data()
{
    QTest::addColumn<QList<int>>("group2");
    QTest::addColumn<int>("playGroup");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<int>("expected");
    QTest::newRow("inside") << QList<int>{} << 0 << qint64(4500) << 2;
    QTest::newRow("gap: the next sentence") << QList<int>{} << 0 << qint64(5500) << 3;
    QTest::newRow("before the first") << QList<int>{} << 0 << qint64(100) << 0;
    QTest::newRow("after the last") << QList<int>{} << 0 << qint64(20000) << 4;
    QTest::newRow("non-member: nearer later") << QList<int>{1, 4} << 1 << qint64(6500) << 4;
    QTest::newRow("non-member: nearer earlier") << QList<int>{1, 4} << 1 << qint64(4100) << 1;
    QTest::newRow("member of group 1") << QList<int>{1, 4} << 2 << qint64(4100) << 2;
}

void tst_Engine::syncIndexToPosition()
{
    QFETCH(QList<int>, group2);
    QFETCH(int, playGroup);
    QFETCH(qint64, position);
    QFETCH(int, expected);
    auto w = openWindow({{1000, 2000}, {2500, 3000}, {4000, 5000}, {6000, 7000}, {8000, 9000}}, 1);
    QVERIFY(w);
    w->groupRightIndexes = group2;
    w->playGroup = playGroup;
    w->rebuildPlayList();
    w->repeatRound = 2;
    w->lastEndHandledIndex = 0;
    QCOMPARE(w->syncIndexToPosition(position), expected);
    QCOMPARE(w->currentIndex, expected);
    QCOMPARE(w->repeatRound, 0);
    QCOMPARE(w->lastEndHandledIndex, -1);
}

void tst_Engine::seekToPosition_data()
{
    QTest::addColumn<QList<int>>("group2");
    QTest::addColumn<int>("playGroup");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<int>("expectedIndex");
    QTest::addColumn<qint64>("expectedPosition");
    QTest::addColumn<qint64>("expectedGuard");
    // Reports from before the target are stale: the guard holds them off.
    QTest::newRow("inside: exact position")
        << QList<int>{} << 0 << qint64(4321) << 2 << qint64(4321) << qint64(4321);
    QTest::newRow("gap: lead-in of the next")
        << QList<int>{} << 0 << qint64(5500) << 3 << qint64(5500) << qint64(6000);
    QTest::newRow("negative: first sentence")
        << QList<int>{} << 0 << qint64(-300) << 0 << qint64(500) << qint64(1000);
    QTest::newRow("inside a non-member: nearest member")
        << QList<int>{1, 4} << 1 << qint64(6800) << 4 << qint64(7500) << qint64(8000);
}

void tst_Engine::seekToPosition()
{
    QFETCH(QList<int>, group2);
    QFETCH(int, playGroup);
    QFETCH(qint64, position);
    QFETCH(int, expectedIndex);
    QFETCH(qint64, expectedPosition);
    QFETCH(qint64, expectedGuard);
    auto w = openWindow({{1000, 2000}, {2500, 3000}, {4000, 5000}, {6000, 7000}, {8000, 9000}}, 1);
    QVERIFY(w);
    w->groupRightIndexes = group2;
    w->playGroup = playGroup;
    w->rebuildPlayList();
    w->repeatRound = 1;
    w->seekToPosition(position);
    QCOMPARE(w->currentIndex, expectedIndex);
    QCOMPARE(w->player->position(), expectedPosition);
    QCOMPARE(w->seekGuardPosition, expectedGuard);
    QCOMPARE(w->repeatRound, 0);
    QCOMPARE(w->subtitleTextItem->toPlainText(), QString("Sentence %1").arg(expectedIndex));
}

void tst_Engine::nextSentenceMovesAndWraps()
{
    auto w = openWindow({{1000, 2000}, {2600, 4000}, {7000, 8000}}, 1);
    QVERIFY(w);
    w->repeatRound = 3;
    w->lastEndHandledIndex = 0;
    w->nextSentence();
    QCOMPARE(w->currentIndex, 1);
    QCOMPARE(w->player->position(), qint64(2180));
    QCOMPARE(w->seekGuardPosition, qint64(2600));
    QCOMPARE(w->repeatRound, 0);
    QCOMPARE(w->lastEndHandledIndex, -1);
    QCOMPARE(w->subtitleTextItem->toPlainText(), QString("Sentence 1"));

    w->ui->btnNextSentence->click();
    QCOMPARE(w->currentIndex, 2);
    QCOMPARE(w->player->position(), qint64(6500));
    w->nextSentence();
    QCOMPARE(w->currentIndex, 0);
    QCOMPARE(w->player->position(), qint64(500));
}

// A current sentence outside the play list is first matched to the position.
void tst_Engine::nextSentenceFromOutsidePlayList()
{
    auto w = openWindow({{1000, 2000}, {2500, 3000}, {4000, 5000}, {6000, 7000}, {8000, 9000}}, 1);
    QVERIFY(w);
    w->groupRightIndexes = {1, 3, 4};
    w->playGroup = 1;
    w->rebuildPlayList();
    w->currentIndex = 2;
    w->player->setPosition(5800); // in the gap before sentence 3, a member
    w->nextSentence();
    QCOMPARE(w->currentIndex, 4);
    QCOMPARE(w->seekGuardPosition, qint64(8000));
}

void tst_Engine::positionReportsWhileSliderHeld()
{
    auto w = openWindow({{1000, 2000}, {5000, 6000}}, 1);
    QVERIFY(w);
    report(*w, 1500);
    const QString label = w->ui->labelCurrentTime->text();
    w->sliderDragging = true;
    report(*w, 2485);
    QCOMPARE(w->ui->horizontalSlider->value(), 1500);
    QCOMPARE(w->ui->labelCurrentTime->text(), label);
    QCOMPARE(w->lastEndHandledIndex, -1);
}

void tst_Engine::sliderRelease_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("expectedIndex");
    QTest::addColumn<QString>("expectedText");
    QTest::newRow("inside the second") << 5500 << 1 << "Sentence 1";
    QTest::newRow("gap before the second") << 3000 << 1 << "";
    QTest::newRow("inside the first") << 1200 << 0 << "Sentence 0";
}

void tst_Engine::sliderRelease()
{
    QFETCH(int, value);
    QFETCH(int, expectedIndex);
    QFETCH(QString, expectedText);
    auto w = openWindow({{1000, 2000}, {5000, 6000}}, 1);
    QVERIFY(w);
    w->seekGuardPosition = 1000;
    w->player->play();

    emit w->ui->horizontalSlider->sliderPressed();
    QVERIFY(w->sliderDragging);
    w->ui->horizontalSlider->setValue(value);
    emit w->ui->horizontalSlider->sliderReleased();
    QCOMPARE(w->player->playbackState(), QMediaPlayer::PausedState);
    QCOMPARE(w->player->position(), qint64(value));
    QCOMPARE(w->seekGuardPosition, qint64(-1));
    QCOMPARE(w->currentIndex, expectedIndex);
    QCOMPARE(w->subtitleTextItem->toPlainText(), expectedText);
    QVERIFY(w->sliderDragging);
    QTRY_VERIFY(!w->sliderDragging);
    QTRY_COMPARE(w->player->playbackState(), QMediaPlayer::PlayingState);
}

void tst_Engine::updateSliderRange()
{
    auto w = openWindow({{1000, 2000}, {2500, 3000}, {4000, 5000}, {6000, 7000}}, 1);
    QVERIFY(w);
    w->groupRightIndexes = {1, 2};
    w->playGroup = 1;
    w->rebuildPlayList();
    w->updateSliderRange();
    QCOMPARE(w->ui->horizontalSlider->minimum(), 2500);
    QCOMPARE(w->ui->horizontalSlider->maximum(), 5000);

    w->currentPlayList = nullptr;
    w->updateSliderRange();
    QCOMPARE(w->ui->horizontalSlider->minimum(), 0);
    QCOMPARE(w->ui->horizontalSlider->maximum(), int(w->player->duration()));
}

void tst_Engine::durationChanged()
{
    auto w = openWindow({{1000, 2000}, {5000, 6000}}, 1);
    QVERIFY(w);
    w->player->setPosition(5500);
    w->onDurationChanged(3600000);
    QCOMPARE(w->ui->horizontalSlider->maximum(), 3600000);
    QCOMPARE(w->ui->labelCurrentTime->text(), QString("00:05 / 01:00:00"));
    QCOMPARE(w->currentIndex, 1);
    QCOMPARE(w->subtitleTextItem->toPlainText(), QString("Sentence 1"));

    // The next report shows the position beside the length the engine has.
    report(*w, 5600);
    QCOMPARE(w->ui->labelCurrentTime->text(), "00:05 / " + PlayerWindow::formatTime(w->player->duration()));
}

void tst_Engine::loadedMediaStartsPlayback()
{
    auto w = openWindow({{1000, 2000}, {5000, 6000}}, 1);
    QVERIFY(w);
    w->player->setPosition(5200);
    w->onLoadedMedia(QMediaPlayer::BufferedMedia);
    QCOMPARE(w->player->playbackState(), QMediaPlayer::StoppedState);

    w->repeatRound = 2;
    w->onLoadedMedia(QMediaPlayer::LoadedMedia);
    QCOMPARE(w->currentIndex, 1);
    QCOMPARE(w->repeatRound, 0);
    QCOMPARE(w->subtitleTextItem->toPlainText(), QString("Sentence 1"));
    QTRY_COMPARE(w->player->playbackState(), QMediaPlayer::PlayingState);
}

void tst_Engine::playModeChange_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("expectedMode");
    QTest::addColumn<bool>("manualMoves");
    QTest::addColumn<bool>("repeatControls");
    QTest::newRow("normal play") << 0 << 0 << false << false;
    QTest::newRow("repeater") << 1 << 1 << true << false;
    QTest::newRow("auto next") << 2 << 2 << false << true;
    QTest::newRow("out of range: repeater") << 5 << 1 << true << false;
    QTest::newRow("negative: repeater") << -1 << 1 << true << false;
}

void tst_Engine::playModeChange()
{
    QFETCH(int, index);
    QFETCH(int, expectedMode);
    QFETCH(bool, manualMoves);
    QFETCH(bool, repeatControls);
    auto w = openWindow({{1000, 2000}, {5000, 6000}}, index == 0 ? 1 : 0);
    QVERIFY(w);
    w->repeatRound = 2;
    w->lastEndHandledIndex = 1;
    w->seekGuardPosition = 5000;
    w->onPlayModeChanged(index);
    QCOMPARE(w->playMode, expectedMode);
    QCOMPARE(w->requestedPlayMode, expectedMode);
    QVERIFY(!w->playModePending);
    QCOMPARE(w->repeatRound, 0);
    QCOMPARE(w->lastEndHandledIndex, -1);
    QCOMPARE(w->seekGuardPosition, qint64(-1));
    QCOMPARE(w->ui->btnNextSentence->isEnabled(), manualMoves);
    QCOMPARE(w->ui->btnSkipSentence->isEnabled(), manualMoves);
    QCOMPARE(!w->ui->spinRepeat->isHidden(), repeatControls);
    QCOMPARE(!w->ui->label4->isHidden(), repeatControls);
    QCOMPARE(w->ui->comboPlayMode->currentIndex(), expectedMode);
    QCOMPARE(QSettings("Orvi", "OrviLoop").value("global/playMode").toInt(), expectedMode);
}

void tst_Engine::playModeWithoutSubtitles()
{
    auto w = openWindow({}, 0);
    QVERIFY(w);
    w->ui->comboPlayMode->setCurrentIndex(2);
    QCOMPARE(w->requestedPlayMode, 2);
    QCOMPARE(w->playMode, 0);
    QVERIFY(w->playModePending);
    QCOMPARE(w->ui->comboPlayMode->currentIndex(), 0);
    QVERIFY(!w->ui->btnNextSentence->isEnabled());
    QVERIFY(!QSettings("Orvi", "OrviLoop").contains("global/playMode"));

    w->onPlayModeChanged(0);
    QVERIFY(!w->playModePending);
}

void tst_Engine::repeatCountChange_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("four") << 4 << 4;
    QTest::newRow("zero counts as one") << 0 << 1;
    QTest::newRow("negative counts as one") << -3 << 1;
}

void tst_Engine::repeatCountChange()
{
    QFETCH(int, value);
    QFETCH(int, expected);
    auto w = openWindow({{1000, 2000}}, 2);
    QVERIFY(w);
    w->requestedPlayMode = 2;
    if (value >= w->ui->spinRepeat->minimum())
        w->ui->spinRepeat->setValue(value);
    else
        w->onRepeatCountChanged(value);
    QCOMPARE(w->repeatCount, expected);
    QSettings settings("Orvi", "OrviLoop");
    QCOMPARE(settings.value("global/repeatCount").toInt(), expected);
    QCOMPARE(settings.value("global/playMode").toInt(), 2);
}

void tst_Engine::playPauseButton()
{
    auto w = openWindow({{1000, 2000}}, 1);
    QVERIFY(w);
    w->ui->btnPlayPause->click();
    QTRY_COMPARE(w->player->playbackState(), QMediaPlayer::PlayingState);
    QCOMPARE(w->ui->btnPlayPause->text(), QString("⏹"));
    w->ui->btnPlayPause->click();
    QTRY_COMPARE(w->player->playbackState(), QMediaPlayer::PausedState);
    QCOMPARE(w->ui->btnPlayPause->text(), QString("▶"));
    w->ui->btnPlayPause->click();
    QTRY_COMPARE(w->player->playbackState(), QMediaPlayer::PlayingState);
    QCOMPARE(w->ui->btnPlayPause->text(), QString("⏹"));
}

// ---- the contract of the media engines, on real media ----

namespace {

void addEngineRows(const char *row, const std::function<void(QTestData &)> &columns)
{
    for (const char *engine : {"mpv", "qt"})
        columns(QTest::newRow(qPrintable(QString("%1, %2").arg(engine, row))) << QString(engine));
}

} // namespace

std::unique_ptr<MediaEngine> tst_Engine::openLesson(const QString &engineName)
{
    qputenv("ORVILOOP_MEDIA_ENGINE", engineName.toUtf8());
    QString fallback;
    std::unique_ptr<MediaEngine> engine = createMediaEngine({}, nullptr, &fallback);
    if (!engine || engine->name() != engineName) {
        qWarning() << "no engine" << engineName << fallback;
        return nullptr;
    }
    QSignalSpy loaded(engine.get(), &MediaEngine::mediaStatusChanged);
    engine->setSource(QUrl::fromLocalFile(lesson));
    if (!QTest::qWaitFor([&] { return engine->mediaStatus() == QMediaPlayer::LoadedMedia; }, 10000))
        return nullptr;
    return engine;
}

// The window takes note of a jump the engine made: it does not seek again, and the pass that
// follows is a new one.
void tst_Engine::windowFollowsJumpOfEngine_data()
{
    QTest::addColumn<int>("playMode");
    QTest::addColumn<int>("sentence"); // current after the end
    QTest::newRow("repeater loops") << 1 << 0;
    QTest::newRow("auto next moves on") << 2 << 1;
}

void tst_Engine::windowFollowsJumpOfEngine()
{
    QFETCH(int, playMode);
    QFETCH(int, sentence);
    auto w = openWindow({{1000, 2000}, {5000, 6000}}, playMode);
    QVERIFY(w);
    w->repeatCount = 1;
    engine(*w).jumpsItself = true;
    w->currentIndex = 0;
    report(*w, 1500);
    const qint64 end = engine(*w).endPoint();
    report(*w, end);
    const qint64 leadStart = SentenceTiming::leadStart(w->subtitles, sentence);
    QCOMPARE(engine(*w).seeks, QList<qint64>{leadStart});
    QCOMPARE(w->currentIndex, sentence);
    QCOMPARE(w->lastEndHandledIndex, -1);
    QCOMPARE(engine(*w).endPoint(), SentenceTiming::passEndPoint(w->subtitles, sentence));
    // The lead-in, which may fall into the sentence before, keeps the sentence current.
    report(*w, leadStart);
    QCOMPARE(w->currentIndex, sentence);
    // The next pass's reports are taken as they come: its own end is acted on again.
    report(*w, w->subtitles.at(sentence).startMs + 100);
    report(*w, engine(*w).endPoint());
    QCOMPARE(engine(*w).seeks.size(), 2);
}

void tst_Engine::engineCarriesOutPassEnd_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<qint64>("jumpTo");
    QTest::addColumn<qint64>("nextEnd");
    QTest::addColumn<bool>("loops"); // the next pass ends in the same jump
    addEngineRows("loop of one sentence", [](QTestData &row) { row << qint64(300) << qint64(1700) << true; });
    addEngineRows("on to the next sentence",
                  [](QTestData &row) { row << qint64(2300) << qint64(3700) << false; });
}

void tst_Engine::engineCarriesOutPassEnd()
{
    QFETCH(QString, engine);
    QFETCH(qint64, jumpTo);
    QFETCH(qint64, nextEnd);
    QFETCH(bool, loops);
    const auto player = openLesson(engine);
    QVERIFY(player);
    QList<qint64> reports;
    QList<QPair<qint64, bool>> ends;
    connect(player.get(), &MediaEngine::positionChanged, this, [&](qint64 p) { reports.append(p); });
    connect(player.get(), &MediaEngine::endPointReached, this, [&](qint64 p, bool jumped) {
        ends.append({p, jumped});
        reports.append(-1); // where the pass ended
    });
    player->setPosition(300);
    player->play();
    player->setEndPoint(1700, MediaEngine::PassEnd::jump(jumpTo, 0, nextEnd));
    QTRY_VERIFY_WITH_TIMEOUT(ends.size() >= 2, 10000);
    player->stop();

    QCOMPARE(ends.at(0), qMakePair(qint64(1700), true));
    QCOMPARE(ends.at(1), qMakePair(nextEnd, loops));
    // Between the two ends only the next pass is reported, from its start to its end point.
    const qsizetype first = reports.indexOf(-1);
    const QList<qint64> nextPass = reports.mid(first + 1, reports.indexOf(-1, first + 1) - first - 1);
    QVERIFY(!nextPass.isEmpty());
    // Qt's back end reports every 100 ms, and one report may come just past the end point.
    const qint64 slack = engine == "qt" ? 150 : 0;
    for (qint64 p : nextPass)
        QVERIFY2(p >= jumpTo - 100 && p <= nextEnd + slack, qPrintable(QString::number(p)));
}

void tst_Engine::noReportFromBeforeSeek_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("target");
    addEngineRows("forward", [](QTestData &row) { row << qint64(300) << qint64(4000); });
    addEngineRows("back", [](QTestData &row) { row << qint64(4000) << qint64(800); });
}

void tst_Engine::noReportFromBeforeSeek()
{
    QFETCH(QString, engine);
    QFETCH(qint64, from);
    QFETCH(qint64, target);
    const auto player = openLesson(engine);
    QVERIFY(player);
    player->setPosition(from);
    player->play();
    QSignalSpy reports(player.get(), &MediaEngine::positionChanged);
    QTRY_VERIFY_WITH_TIMEOUT(reports.size() >= 3, 5000);
    reports.clear();
    player->setPosition(target);
    QTRY_VERIFY_WITH_TIMEOUT(reports.size() >= 5, 5000);
    const QList<QList<QVariant>> afterSeek = reports;
    player->stop();
    for (const QList<QVariant> &report : afterSeek) {
        const qint64 p = report.at(0).toLongLong();
        QVERIFY2(p >= target - 100 && p < target + 2000, qPrintable(QString::number(p)));
    }
}

void tst_Engine::loadedMediaArrives_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("before"); // opened first: "", the lesson, or a broken file
    QTest::addColumn<bool>("moveWhileOpening");
    addEngineRows("fresh", [](QTestData &row) { row << QString() << false; });
    addEngineRows("moved while opening", [](QTestData &row) { row << QString() << true; });
    addEngineRows("same source again", [](QTestData &row) { row << QString("lesson") << false; });
    addEngineRows("after an error", [](QTestData &row) { row << QString("broken") << false; });
}

void tst_Engine::loadedMediaArrives()
{
    QFETCH(QString, engine);
    QFETCH(QString, before);
    QFETCH(bool, moveWhileOpening);
    qputenv("ORVILOOP_MEDIA_ENGINE", engine.toUtf8());
    const std::unique_ptr<MediaEngine> player = createMediaEngine({}, nullptr);
    QCOMPARE(player->name(), engine);
    if (before == "lesson") {
        player->setSource(QUrl::fromLocalFile(lesson));
        QTRY_COMPARE_WITH_TIMEOUT(player->mediaStatus(), QMediaPlayer::LoadedMedia, 10000);
    } else if (before == "broken") {
        const QString broken = mediaDir.filePath("坏 file.wav");
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("RIFF, but nothing more");
        file.close();
        QSignalSpy failed(player.get(), &MediaEngine::errorOccurred);
        player->setSource(QUrl::fromLocalFile(broken));
        QTRY_VERIFY_WITH_TIMEOUT(!failed.isEmpty(), 10000);
    }
    int loaded = 0;
    connect(player.get(), &MediaEngine::mediaStatusChanged, this, [&](QMediaPlayer::MediaStatus status) {
        if (status == QMediaPlayer::LoadedMedia) {
            ++loaded;
            // The length is known by then: whoever acts on the loaded media may need it.
            QVERIFY(qAbs(player->duration() - 7000) <= 50);
        }
    });
    player->setSource(QUrl::fromLocalFile(lesson));
    if (moveWhileOpening) {
        player->setPosition(1000);
        // Not from inside the call: whoever moved the player hears of it afterwards.
        QCOMPARE(loaded, 0);
    }
    QTRY_COMPARE_WITH_TIMEOUT(loaded, 1, 10000);
    QTest::qWait(300);
    QCOMPARE(loaded, 1);
}

void tst_Engine::backClosesAndEndsEventLoop()
{
    auto w = openWindow({{1000, 2000}}, 1);
    QVERIFY(w);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QEventLoop loop;
    QTimer::singleShot(0, w.get(), [&] { w->ui->btnBack->click(); });
    QTimer::singleShot(5000, &loop, [&] { loop.exit(99); });
    QCOMPARE(loop.exec(), 0);
    QVERIFY(!w->isVisible());
}

QTEST_MAIN(tst_Engine)
#include "tst_engine.moc"
