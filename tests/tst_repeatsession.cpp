#include "core/drill/repeatsession.h"
#include "core/drill/sentencetiming.h"
#include "scriptedengine.h"

#include <QPair>
#include <QSignalSpy>
#include <QTest>

#include <memory>

// The repeat session alone, wired to a scripted engine as the window wires it to a real one: the
// test says where playback is, the engine records the seeks the session asks for.

using Times = QList<QPair<qint64, qint64>>;
using Positions = QList<qint64>;

namespace {

QList<SubtitleItem> lessonOf(const Times &times)
{
    QList<SubtitleItem> items;
    for (const auto &[start, end] : times)
        items << SubtitleItem{int(items.size()), start, end, QString("Sentence %1").arg(items.size())};
    return items;
}

RepeatSession::Playback playbackOf(QMediaPlayer::PlaybackState state)
{
    if (state == QMediaPlayer::PlayingState)
        return RepeatSession::Playback::Playing;
    return state == QMediaPlayer::PausedState ? RepeatSession::Playback::Paused
                                              : RepeatSession::Playback::Stopped;
}

// A minute of loaded media with these sentences, in this mode, landed where the play list put it.
struct Drill
{
    ScriptedEngine engine;
    RepeatSession session;

    Drill(const Times &times, PlayMode mode, int repeatCount = 1, const QList<int> &group2 = {})
    {
        QObject::connect(&engine, &MediaEngine::positionChanged, &session, &RepeatSession::onPosition);
        QObject::connect(&engine, &MediaEngine::endPointReached, &session, &RepeatSession::onEndPointReached);
        QObject::connect(
            &engine, &MediaEngine::playbackStateChanged, &session,
            [this](QMediaPlayer::PlaybackState state) { session.setPlayback(playbackOf(state)); });
        QObject::connect(&session, &RepeatSession::seekRequested, &engine, &MediaEngine::setPosition);
        QObject::connect(&session, &RepeatSession::endPointChanged, &engine,
                         qOverload<qint64, const PassEnd &>(&MediaEngine::setEndPoint));
        QObject::connect(&session, &RepeatSession::pauseRequested, &engine, &MediaEngine::pause);
        QObject::connect(&session, &RepeatSession::playRequested, &engine, &MediaEngine::play);
        engine.finishLoading(60000);
        session.setDuration(60000);
        session.setRepeatCount(repeatCount);
        session.setPlayMode(mode);
        session.setSentences(lessonOf(times), group2);
        land();
        engine.play();
    }
    // Playback has landed where the session put it.
    void land()
    {
        engine.settle();
        engine.seeks.clear();
    }
    // The sentence becomes current, as a seek to its start makes it.
    void goTo(int sentence)
    {
        session.seekTo(session.sentences().at(sentence).startMs);
        land();
    }
    void report(qint64 position) { engine.report(position); }
    void reports(const Positions &positions)
    {
        for (qint64 position : positions)
            report(position);
    }
};

} // namespace

class tst_RepeatSession : public QObject
{
    Q_OBJECT

private slots:
    void endOfPass_data();
    void endOfPass();
    void endOfPassByEngine_data() { endOfPass_data(); }
    void endOfPassByEngine();
    void autoNextRepeatsThenPlaysIntoCloseSentence();
    void endActedOnOncePerPass();
    void missedEndPointStillEndsPass();
    void endOfMediaRepeatsLastSentence();
    void overlappingCues_data();
    void overlappingCues();
    void gapBetweenSentencesClearsText();
    void playList_data();
    void playList();
    void groupSwitchSeeksOnce();
    void skipPutsSentenceIntoGroup2();
    void speakingPause();
    void spaceEndsSpeakingPauseEarly();
    void learnersOwnPauseHolds();
    void seekDropsSpeakingPause();
    void ratePerPass();
    void restore_data();
    void restore();
    void textByDisplayMode_data();
    void textByDisplayMode();
    void revealAndExtraLines();
    void slider_data();
    void slider();
    void seekTo_data();
    void seekTo();
    void playModeWithoutSentences();
};

void tst_RepeatSession::endOfPass_data()
{
    QTest::addColumn<Times>("times");
    QTest::addColumn<PlayMode>("mode");
    QTest::addColumn<int>("sentence");
    QTest::addColumn<qint64>("endPoint");
    QTest::addColumn<Positions>("seeks");
    QTest::addColumn<int>("current");
    const Times gap600{{0, 2000}, {2600, 4000}};
    const Times gap3000{{0, 2000}, {5000, 7000}};
    const Times overlap{{0, 3000}, {2500, 4000}};
    QTest::newRow("replay, gap 600, second")
        << gap600 << PlayMode::Repeat << 1 << qint64(4500) << Positions{2180} << 1;
    QTest::newRow("replay, gap 600, first")
        << gap600 << PlayMode::Repeat << 0 << qint64(2420) << Positions{0} << 0;
    QTest::newRow("replay, gap 3000, second")
        << gap3000 << PlayMode::Repeat << 1 << qint64(7500) << Positions{4500} << 1;
    QTest::newRow("replay, overlap, first")
        << overlap << PlayMode::Repeat << 0 << qint64(3000) << Positions{0} << 0;
    QTest::newRow("replay, overlap, second")
        << overlap << PlayMode::Repeat << 1 << qint64(4500) << Positions{3000} << 1;
    QTest::newRow("replay, first cue at 1800 ms")
        << Times{{1800, 3000}, {5000, 7000}} << PlayMode::Repeat << 0 << qint64(3500) << Positions{1300} << 0;
    QTest::newRow("next, far sentence")
        << gap3000 << PlayMode::AutoNext << 0 << qint64(2500) << Positions{4500} << 1;
    QTest::newRow("next, last wraps to the first")
        << Times{{1000, 2000}, {4000, 5000}, {8000, 9000}} << PlayMode::AutoNext << 2 << qint64(9500)
        << Positions{500} << 0;
    QTest::newRow("run on, normal play")
        << gap3000 << PlayMode::NormalPlay << 0 << qint64(-1) << Positions{} << 0;
    QTest::newRow("run on, auto next into a close sentence")
        << gap600 << PlayMode::AutoNext << 0 << qint64(-1) << Positions{} << 0;
}

// The engine holds the end of a pass at end + tail where the pass ends in a seek; the session
// seeks to the lead-in of what follows when it is reached.
void tst_RepeatSession::endOfPass()
{
    QFETCH(Times, times);
    QFETCH(PlayMode, mode);
    QFETCH(int, sentence);
    QFETCH(qint64, endPoint);
    QFETCH(Positions, seeks);
    QFETCH(int, current);
    Drill drill(times, mode);
    drill.goTo(sentence);
    drill.report(times.at(sentence).first + 100);
    QCOMPARE(drill.engine.endPoint(), endPoint);

    const qint64 end = SentenceTiming::endReachedAt(drill.session.sentences(), sentence) + 15;
    drill.report(end - 16);
    QVERIFY(drill.engine.seeks.isEmpty());
    drill.report(end);
    QCOMPARE(drill.engine.seeks, seeks);
    QCOMPARE(drill.session.currentSentence(), current);
    QCOMPARE(drill.session.repeatRound(), 0);
    if (!seeks.isEmpty()) {
        QCOMPARE(drill.session.text(), QString("Sentence %1").arg(current));
        // The pass that follows holds its own end at once: the loop stays tight.
        QCOMPARE(drill.engine.endPoint(), SentenceTiming::passEndPoint(drill.session.sentences(), current));
    }
}

// Told with the end point where the pass leads, the engine seeks there itself the moment the
// sound reaches the end; the session follows without a seek of its own, and arms the next pass.
void tst_RepeatSession::endOfPassByEngine()
{
    QFETCH(Times, times);
    QFETCH(PlayMode, mode);
    QFETCH(int, sentence);
    QFETCH(Positions, seeks);
    QFETCH(int, current);
    Drill drill(times, mode);
    drill.engine.jumpsItself = true;
    drill.goTo(sentence);
    drill.report(times.at(sentence).first + 100);
    const qint64 end = drill.engine.endPoint();
    if (seeks.isEmpty()) {
        QVERIFY(!drill.engine.passEnd().jumps());
        return;
    }
    QCOMPARE(drill.engine.passEnd().jumpTo, seeks.first());
    drill.report(end);
    QCOMPARE(drill.engine.seeks, seeks);
    QCOMPARE(drill.session.currentSentence(), current);
    QCOMPARE(drill.session.text(), QString("Sentence %1").arg(current));
    const qint64 nextEnd = SentenceTiming::passEndPoint(drill.session.sentences(), current);
    QCOMPARE(drill.engine.endPoint(), nextEnd);
    // The pass after is told to the engine as well: a loop goes round with no seek of ours.
    drill.engine.settle();
    drill.report(times.at(current).first + 100);
    QCOMPARE(drill.engine.passEnd().jumps(), true);
    drill.report(nextEnd);
    QCOMPARE(drill.engine.seeks.size(), 2);
}

// Three passes, then the next sentence, 800 ms later, is simply played into; the one after it,
// 2 s further on, is sought.
void tst_RepeatSession::autoNextRepeatsThenPlaysIntoCloseSentence()
{
    Drill drill({{1000, 2000}, {2800, 4000}, {6000, 7000}}, PlayMode::AutoNext, 3);
    const qint64 endPointOfFirst = 2000 + 560;
    for (int pass = 0; pass < 2; ++pass) {
        drill.report(1000);
        QCOMPARE(drill.session.repeatRound(), pass);
        QCOMPARE(drill.engine.endPoint(), endPointOfFirst);
        drill.report(endPointOfFirst);
        QCOMPARE(drill.session.repeatRound(), pass + 1);
        QCOMPARE(drill.engine.position(), qint64(500));
    }
    drill.land();
    drill.report(1000);
    QCOMPARE(drill.engine.endPoint(), qint64(-1));
    drill.report(endPointOfFirst - 15);
    QCOMPARE(drill.session.repeatRound(), 0);
    QVERIFY(drill.engine.seeks.isEmpty());
    QCOMPARE(drill.session.text(), QString());
    drill.report(2800);
    QCOMPARE(drill.session.currentSentence(), 1);
    QCOMPARE(drill.session.text(), QString("Sentence 1"));

    for (int pass = 0; pass < 3; ++pass)
        drill.reports({2800, 4500});
    QCOMPARE(drill.engine.seeks, (Positions{2240, 2240, 5500}));
    QCOMPARE(drill.session.currentSentence(), 2);
    QCOMPARE(drill.session.text(), QString("Sentence 2"));
}

// However many reports fall into the tail, the end is acted on once; stale ones reach nobody.
void tst_RepeatSession::endActedOnOncePerPass()
{
    Drill drill({{1000, 2000}, {5000, 6000}}, PlayMode::AutoNext, 3);
    QSignalSpy seeks(&drill.session, &RepeatSession::seekRequested);
    drill.reports({1500, 2500, 2490, 2590});
    QCOMPARE(drill.session.repeatRound(), 1);
    QCOMPARE(seeks.size(), 1);
    drill.reports({1000, 2500});
    QCOMPARE(drill.session.repeatRound(), 2);
    QCOMPARE(seeks.size(), 2);
}

// A back end that never says it reached the end point: a report well past it ends the pass.
void tst_RepeatSession::missedEndPointStillEndsPass()
{
    Drill drill({{1000, 2000}, {5000, 6000}}, PlayMode::Repeat);
    drill.report(1500);
    QCOMPARE(drill.engine.endPoint(), qint64(2500));
    drill.session.onPosition(2600);
    QVERIFY(drill.engine.seeks.isEmpty());
    drill.session.onPosition(2750);
    QCOMPARE(drill.engine.seeks, Positions{500});
}

// The tail of the last sentence runs past the media's end: the end of the media ends the pass.
void tst_RepeatSession::endOfMediaRepeatsLastSentence()
{
    Drill drill({{1000, 2000}, {58000, 59900}}, PlayMode::Repeat);
    drill.goTo(1);
    drill.report(59000);
    drill.engine.reachEndOfMedia();
    drill.session.onEndOfMedia();
    QCOMPARE(drill.engine.seeks, Positions{57500});
    QCOMPARE(drill.engine.playbackState(), QMediaPlayer::PlayingState);
}

void tst_RepeatSession::overlappingCues_data()
{
    QTest::addColumn<PlayMode>("mode");
    QTest::addColumn<int>("currentAt2900");
    QTest::addColumn<Positions>("seeks");
    // A repeated sentence keeps the position until its own end; normal play lets the later cue in.
    QTest::newRow("repeater keeps its sentence") << PlayMode::Repeat << 0 << Positions{0};
    QTest::newRow("normal play takes the later cue") << PlayMode::NormalPlay << 1 << Positions{};
}

void tst_RepeatSession::overlappingCues()
{
    QFETCH(PlayMode, mode);
    QFETCH(int, currentAt2900);
    QFETCH(Positions, seeks);
    Drill drill({{0, 3000}, {2500, 4000}}, mode);
    drill.reports({1000, 2500, 2700, 2900});
    QCOMPARE(drill.session.currentSentence(), currentAt2900);
    QCOMPARE(drill.session.text(), QString("Sentence %1").arg(currentAt2900));
    drill.report(3000);
    QCOMPARE(drill.engine.seeks, seeks);
}

void tst_RepeatSession::gapBetweenSentencesClearsText()
{
    Drill drill({{1000, 2000}, {5000, 6000}}, PlayMode::NormalPlay);
    QSignalSpy texts(&drill.session, &RepeatSession::textChanged);
    drill.reports({1500, 3000, 5000});
    QCOMPARE(texts.size(), 2);
    QCOMPARE(texts.at(0).at(0).toString(), QString());
    QCOMPARE(texts.at(1).at(0).toString(), QString("Sentence 1"));
}

void tst_RepeatSession::playList_data()
{
    QTest::addColumn<PlayGroup>("group");
    QTest::addColumn<QList<int>>("group2");
    QTest::addColumn<QList<int>>("playList");
    QTest::addColumn<Positions>("nextSeeks");
    QTest::newRow("all") << PlayGroup::All << QList<int>{1, 3} << QList<int>{0, 1, 2, 3, 4}
                         << Positions{1500, 3500};
    QTest::newRow("group 2") << PlayGroup::Group2 << QList<int>{1, 3} << QList<int>{1, 3}
                             << Positions{5500, 1500};
    QTest::newRow("group 1 skips group 2")
        << PlayGroup::Group1 << QList<int>{1, 3} << QList<int>{0, 2, 4} << Positions{3500, 7500};
    QTest::newRow("without group 2 every sentence plays")
        << PlayGroup::Group2 << QList<int>{} << QList<int>{0, 1, 2, 3, 4} << Positions{1500, 3500};
    QTest::newRow("a stored group 2 beyond the lesson is cut")
        << PlayGroup::Group2 << QList<int>{3, 9, 3} << QList<int>{3} << Positions{5500, 5500};
}

// Sentences 2 s apart: the play list of the group, its first sentence sought, N moving along it.
void tst_RepeatSession::playList()
{
    QFETCH(PlayGroup, group);
    QFETCH(QList<int>, group2);
    QFETCH(QList<int>, playList);
    QFETCH(Positions, nextSeeks);
    ScriptedEngine engine;
    RepeatSession session;
    QObject::connect(&session, &RepeatSession::seekRequested, &engine, &MediaEngine::setPosition);
    QSignalSpy lists(&session, &RepeatSession::playListChanged);
    session.setPlayGroup(group);
    session.setSentences(lessonOf({{0, 1000}, {2000, 3000}, {4000, 5000}, {6000, 7000}, {8000, 9000}}),
                         group2);
    QCOMPARE(session.playList(), playList);
    QCOMPARE(lists.last().at(1).value<QList<int>>(), playList);
    QCOMPARE(engine.seeks, Positions{session.sentences().at(playList.first()).startMs});
    QCOMPARE(session.currentSentence(), playList.first());
    engine.seeks.clear();
    session.next();
    session.next();
    QCOMPARE(engine.seeks, nextSeeks);
}

// All, group 2, group 1, all again; each switch seeks once, to the first sentence of the list.
void tst_RepeatSession::groupSwitchSeeksOnce()
{
    Drill drill({{0, 1000}, {2000, 3000}, {4000, 5000}}, PlayMode::Repeat, 1, {1});
    QSignalSpy lists(&drill.session, &RepeatSession::playListChanged);
    const QList<PlayGroup> expected{PlayGroup::Group2, PlayGroup::Group1, PlayGroup::All};
    const Positions firstStarts{2000, 0, 0};
    for (int i = 0; i < expected.size(); ++i) {
        drill.land();
        drill.session.switchGroup();
        QCOMPARE(drill.session.playGroup(), expected.at(i));
        QCOMPARE(drill.engine.seeks, Positions{firstStarts.at(i)});
        QCOMPARE(lists.last().at(0).value<PlayGroup>(), expected.at(i));
    }
}

// F12: the sentence goes to group 2 and the next one of the play list plays; the only sentence
// left starts again.
void tst_RepeatSession::skipPutsSentenceIntoGroup2()
{
    Drill drill({{0, 1000}, {2000, 3000}, {4000, 5000}}, PlayMode::Repeat);
    QSignalSpy group2(&drill.session, &RepeatSession::group2Changed);
    drill.goTo(1);
    drill.session.skip();
    QCOMPARE(group2.last().at(0).value<QList<int>>(), QList<int>{1});
    QCOMPARE(drill.session.group1(), (QList<int>{0, 2}));
    QCOMPARE(drill.session.currentSentence(), 2);
    QCOMPARE(drill.engine.seeks, Positions{3500});

    drill.session.switchGroup(); // group 2: sentence 1 alone
    drill.land();
    drill.session.skip();
    QCOMPARE(drill.session.currentSentence(), 1);
    QCOMPARE(drill.engine.seeks, Positions{1500});
}

// After each pass the learner speaks: the engine is paused at the lead-in of what follows, the
// time left is told, and playback goes on by itself when it is up.
void tst_RepeatSession::speakingPause()
{
    Drill drill({{1000, 2000}, {5000, 6000}}, PlayMode::Repeat);
    drill.session.setPauseChoice(1); // once the sentence's length, plus half a second
    QSignalSpy started(&drill.session, &RepeatSession::speakingPauseStarted);
    QSignalSpy progress(&drill.session, &RepeatSession::speakingPauseProgress);
    QSignalSpy ended(&drill.session, &RepeatSession::speakingPauseEnded);
    drill.reports({1500, 2500});
    QCOMPARE(started.size(), 1);
    QCOMPARE(started.at(0).at(0).toInt(), 0);
    QCOMPARE(started.at(0).at(1).toLongLong(), qint64(1500));
    QCOMPARE(drill.engine.playbackState(), QMediaPlayer::PausedState);
    QCOMPARE(drill.engine.seeks, Positions{500});
    QVERIFY(drill.session.speakingPauseActive());
    QTRY_VERIFY(progress.size() >= 3);
    QVERIFY(progress.last().at(1).toLongLong() < 1500);
    QTRY_COMPARE(ended.size(), 1);
    QCOMPARE(drill.engine.playbackState(), QMediaPlayer::PlayingState);
    QVERIFY(!drill.session.speakingPauseActive());
}

// Space ends the pause at once; in normal play the pause runs on from the end, with no end point.
void tst_RepeatSession::spaceEndsSpeakingPauseEarly()
{
    Drill drill({{1000, 2000}, {5000, 6000}}, PlayMode::NormalPlay);
    drill.session.setPauseChoice(3);
    QCOMPARE(drill.engine.endPoint(), qint64(2500));
    drill.reports({1500, 2500});
    QVERIFY(drill.session.speakingPauseActive());
    QVERIFY(drill.engine.seeks.isEmpty());
    drill.session.togglePlay();
    QVERIFY(!drill.session.speakingPauseActive());
    QCOMPARE(drill.engine.playbackState(), QMediaPlayer::PlayingState);
    QCOMPARE(drill.engine.endPoint(), qint64(-1));
}

// Paused by the learner as the sentence ended: no pause to speak, the seek is made, and Space
// goes on.
void tst_RepeatSession::learnersOwnPauseHolds()
{
    Drill drill({{1000, 2000}, {5000, 6000}}, PlayMode::Repeat);
    drill.session.setPauseChoice(2);
    QSignalSpy started(&drill.session, &RepeatSession::speakingPauseStarted);
    drill.report(1500);
    drill.session.togglePlay();
    QCOMPARE(drill.engine.playbackState(), QMediaPlayer::PausedState);
    drill.report(2500);
    QCOMPARE(started.size(), 0);
    QCOMPARE(drill.engine.seeks, Positions{500});
    QCOMPARE(drill.engine.playbackState(), QMediaPlayer::PausedState);
    drill.session.togglePlay();
    QCOMPARE(drill.engine.playbackState(), QMediaPlayer::PlayingState);
}

// A seek, another mode: the plan is dropped and playback goes on from there.
void tst_RepeatSession::seekDropsSpeakingPause()
{
    Drill drill({{1000, 2000}, {5000, 6000}}, PlayMode::Repeat);
    drill.session.setPauseChoice(1);
    QSignalSpy ended(&drill.session, &RepeatSession::speakingPauseEnded);
    drill.reports({1500, 2500});
    drill.session.seekBy(4000);
    QCOMPARE(ended.size(), 1);
    QCOMPARE(drill.engine.seeks, (Positions{500, 4500}));
    QCOMPARE(drill.engine.playbackState(), QMediaPlayer::PlayingState);
    drill.reports({5500, 6500});
    QVERIFY(drill.session.speakingPauseActive());
    drill.session.setPlayMode(PlayMode::NormalPlay);
    QCOMPARE(ended.size(), 2);
    QCOMPARE(drill.engine.playbackState(), QMediaPlayer::PlayingState);
}

// In auto next each pass plays at its own rate; past the list the last rate stays.
void tst_RepeatSession::ratePerPass()
{
    Drill drill({{1000, 2000}, {5000, 6000}}, PlayMode::AutoNext, 4);
    QSignalSpy rates(&drill.session, &RepeatSession::rateChanged);
    drill.session.setPassRates({0.7, 0.85});
    for (int pass = 0; pass < 4; ++pass) {
        drill.land();
        drill.reports({1500, 2500});
    }
    QList<qreal> seen;
    for (const QList<QVariant> &signal : rates)
        seen << signal.at(0).toReal();
    // Set, then passes 1, 2, 3, then the next sentence's first pass.
    QCOMPARE(seen, (QList<qreal>{0.7, 0.85, 0.85, 0.85, 0.7}));
    QCOMPARE(drill.session.currentSentence(), 1);
}

void tst_RepeatSession::restore_data()
{
    QTest::addColumn<qint64>("position");
    QTest::addColumn<int>("sentence");
    QTest::addColumn<int>("round");
    QTest::addColumn<Positions>("seeks");
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("restoredRound");
    // Sentences {1000, 2000}, {2300, 4000}: the tail of the first overlaps the lead-in of the second.
    QTest::newRow("the tail of the sentence that was current")
        << qint64(2150) << 0 << 1 << Positions{2150} << 0 << 1;
    QTest::newRow("inside a sentence") << qint64(3000) << 1 << 2 << Positions{3000} << 1 << 2;
    QTest::newRow("no sentence stored: the one at the place")
        << qint64(3000) << -1 << 0 << Positions{3000} << 1 << 0;
    QTest::newRow("a round beyond the count") << qint64(3000) << 1 << 9 << Positions{3000} << 1 << 2;
    QTest::newRow("past the media's end: from the start")
        << qint64(90000) << 1 << 1 << Positions{500} << 0 << 1;
}

void tst_RepeatSession::restore()
{
    QFETCH(qint64, position);
    QFETCH(int, sentence);
    QFETCH(int, round);
    QFETCH(Positions, seeks);
    QFETCH(int, current);
    QFETCH(int, restoredRound);
    Drill drill({{1000, 2000}, {2300, 4000}}, PlayMode::AutoNext, 3);
    drill.engine.pause();
    drill.session.restorePlaceOnLoad(position, sentence, round);
    drill.session.onMediaLoaded();
    QCOMPARE(drill.engine.seeks, seeks);
    QCOMPARE(drill.session.currentSentence(), current);
    QCOMPARE(drill.session.repeatRound(), restoredRound);
    QCOMPARE(drill.engine.playbackState(), QMediaPlayer::PlayingState);
    // One shot: the next load leaves playback where it is.
    drill.land();
    drill.session.onMediaLoaded();
    QVERIFY(drill.engine.seeks.isEmpty());
}

void tst_RepeatSession::textByDisplayMode_data()
{
    QTest::addColumn<SubtitleDisplay>("display");
    QTest::addColumn<PlayMode>("mode");
    QTest::addColumn<QList<bool>>("shownOnPass");
    QTest::newRow("always") << SubtitleDisplay::Always << PlayMode::AutoNext << QList<bool>{true, true, true};
    QTest::newRow("never") << SubtitleDisplay::Never << PlayMode::AutoNext
                           << QList<bool>{false, false, false};
    QTest::newRow("first pass") << SubtitleDisplay::FirstPass << PlayMode::AutoNext
                                << QList<bool>{true, false, false};
    QTest::newRow("last pass") << SubtitleDisplay::LastPass << PlayMode::AutoNext
                               << QList<bool>{false, false, true};
    QTest::newRow("first pass, repeater counts none")
        << SubtitleDisplay::FirstPass << PlayMode::Repeat << QList<bool>{true, true, true};
}

void tst_RepeatSession::textByDisplayMode()
{
    QFETCH(SubtitleDisplay, display);
    QFETCH(PlayMode, mode);
    QFETCH(QList<bool>, shownOnPass);
    Drill drill({{1000, 2000}, {5000, 6000}}, mode, 3);
    drill.session.setDisplayMode(display);
    for (bool shown : shownOnPass) {
        drill.land();
        drill.report(1500);
        QCOMPARE(drill.session.text(), shown ? QString("Sentence 0") : QString());
        drill.report(2500);
    }
}

// H held shows the sentence whatever the mode; the Chinese lines may go, the second subtitle's
// line comes with the sentence.
void tst_RepeatSession::revealAndExtraLines()
{
    Drill drill({{1000, 2000}, {5000, 6000}}, PlayMode::NormalPlay);
    drill.session.setSentenceTimes(
        {SubtitleItem{0, 1000, 2000, "Hello\n你好"}, SubtitleItem{1, 5000, 6000, "Bye"}});
    drill.session.setDisplayMode(SubtitleDisplay::Never);
    drill.report(1500);
    QCOMPARE(drill.session.text(), QString());
    drill.session.reveal(true);
    QCOMPARE(drill.session.text(), QString("Hello\n你好"));
    drill.report(3000); // asked for, the text stays between sentences
    QCOMPARE(drill.session.text(), QString("Hello\n你好"));
    drill.session.setChineseLinesHidden(true);
    QCOMPARE(drill.session.text(), QString("Hello"));
    drill.session.setSecondLines({"Bonjour", "Au revoir"});
    drill.session.setSecondLinesShown(true);
    QCOMPARE(drill.session.text(), QString("Hello\nBonjour"));
    drill.session.reveal(false);
    QCOMPARE(drill.session.text(), QString());
}

void tst_RepeatSession::slider_data()
{
    QTest::addColumn<qint64>("value");
    QTest::addColumn<int>("current");
    QTest::addColumn<QString>("text");
    QTest::newRow("inside the second") << qint64(5500) << 1 << "Sentence 1";
    QTest::newRow("gap before the second") << qint64(3000) << 1 << "";
    QTest::newRow("inside the first") << qint64(1200) << 0 << "Sentence 0";
}

// While the slider is held reports move nothing; let go, playback is paused, sought, and goes on
// once the seek has settled.
void tst_RepeatSession::slider()
{
    QFETCH(qint64, value);
    QFETCH(int, current);
    QFETCH(QString, text);
    Drill drill({{1000, 2000}, {5000, 6000}}, PlayMode::Repeat);
    drill.report(1500);
    drill.session.holdSlider();
    QCOMPARE(drill.engine.endPoint(), qint64(-1));
    drill.report(2485);
    QVERIFY(drill.engine.seeks.isEmpty());
    drill.session.releaseSlider(value);
    QCOMPARE(drill.engine.playbackState(), QMediaPlayer::PausedState);
    QCOMPARE(drill.engine.seeks, Positions{value});
    QCOMPARE(drill.session.currentSentence(), current);
    QCOMPARE(drill.session.text(), text);
    QTRY_VERIFY(!drill.session.isSliderHeld());
    QCOMPARE(drill.engine.playbackState(), QMediaPlayer::PlayingState);
    QCOMPARE(drill.engine.endPoint(), SentenceTiming::passEndPoint(drill.session.sentences(), current));
}

void tst_RepeatSession::seekTo_data()
{
    QTest::addColumn<QList<int>>("group2");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<int>("current");
    QTest::addColumn<qint64>("target");
    const QList<int> all;
    QTest::newRow("inside: exact position") << all << qint64(4500) << 2 << qint64(4500);
    QTest::newRow("gap: lead-in of the next") << all << qint64(5500) << 3 << qint64(5500);
    QTest::newRow("negative: the first sentence") << all << qint64(-300) << 0 << qint64(0);
    QTest::newRow("inside a non-member: the nearest member")
        << QList<int>{1, 4} << qint64(6500) << 4 << qint64(7500);
}

// Sentences {0,1000}, {2000,3000}, {4000,5000}, {6000,7000}, {8000,9000}.
void tst_RepeatSession::seekTo()
{
    QFETCH(QList<int>, group2);
    QFETCH(qint64, position);
    QFETCH(int, current);
    QFETCH(qint64, target);
    ScriptedEngine engine;
    RepeatSession session;
    QObject::connect(&session, &RepeatSession::seekRequested, &engine, &MediaEngine::setPosition);
    session.setPlayGroup(PlayGroup::Group2);
    session.setSentences(lessonOf({{0, 1000}, {2000, 3000}, {4000, 5000}, {6000, 7000}, {8000, 9000}}),
                         group2);
    engine.seeks.clear();
    session.seekTo(position);
    QCOMPARE(session.currentSentence(), current);
    QCOMPARE(engine.seeks, Positions{target});
}

// Without sentences only normal play makes sense; the mode asked for comes with a lesson.
void tst_RepeatSession::playModeWithoutSentences()
{
    RepeatSession session;
    QSignalSpy modes(&session, &RepeatSession::playModeChanged);
    session.setPlayMode(PlayMode::AutoNext);
    QCOMPARE(session.playMode(), PlayMode::NormalPlay);
    QCOMPARE(session.requestedPlayMode(), PlayMode::AutoNext);
    session.setSentences(lessonOf({{1000, 2000}}), {});
    QCOMPARE(session.playMode(), PlayMode::AutoNext);
    QCOMPARE(modes.last().at(0).value<PlayMode>(), PlayMode::AutoNext);
    session.setSentences({}, {});
    QCOMPARE(session.playMode(), PlayMode::NormalPlay);
}

QTEST_MAIN(tst_RepeatSession)
#include "tst_repeatsession.moc"
