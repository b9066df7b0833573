#include "core/drill/sentencetiming.h"
#include "core/groups/group2store.h"
#include "keyboard.h"
#include "lessonmedia.h"
#include "gui/player/playerwindow.h"
#include "testsupport.h"
#include "ui_playerwindow.h"

#include <QElapsedTimer>
#include <QProgressBar>
#include <QSettings>
#include <QTest>
#include <QThread>

#include <functional>
#include <memory>

// The whole program path on a real, playing lesson: the media back end makes the position
// reports, the engine seeks, and the test listens to where playback really goes.

using Indexes = QList<int>;
using Keys = QList<int>;
Q_DECLARE_METATYPE(Indexes)

namespace {

// Sentence 0 and 5 are long, so that a ten-second jump from anywhere in sentence 0 lands
// inside sentence 5 and one back from the middle of sentence 5 lands inside sentence 0.
const QList<LessonCue> lessonCues{{100, 2100},  {3100, 3700},  {4700, 5300},  {6300, 6900},
                                  {7900, 8500}, {9900, 12700}, {13700, 14300}};
const qint64 lessonDuration = 15500;
const qint64 tail = 500;          // every gap is 1000 ms or more, and after the last sentence
const qint64 lateAllowance = 300; // how far past end + tail a report may still come

int sentenceAt(qint64 position)
{
    for (int i = 0; i < lessonCues.size(); ++i) {
        if (lessonCues.at(i).startMs <= position && position < lessonCues.at(i).endMs)
            return i;
    }
    return -1;
}

// Listens to the media player's position reports (after the window has handled each) and
// notes every time playback enters a sentence, which is one pass of that sentence.
class PassRecorder : public QObject
{
public:
    explicit PassRecorder(MediaEngine *player)
    {
        inside = sentenceAt(player->position());
        if (inside >= 0)
            passes << inside;
        connect(player, &MediaEngine::positionChanged, this, &PassRecorder::onPosition);
    }

    Indexes passes;
    qint64 maxPosition = -1;
    std::function<void(qint64)> onReport;

private:
    void onPosition(qint64 position)
    {
        maxPosition = qMax(maxPosition, position);
        const int sentence = sentenceAt(position);
        if (sentence >= 0 && sentence != inside)
            passes << sentence;
        inside = sentence;
        if (onReport)
            onReport(position);
    }

    int inside = -1;
};

} // namespace

class tst_Playback : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void repeaterLoopsOneSentence();
    void autoNextRepeatsAndResumesAfterReopen();
    void passGoesOnWhileTheWindowIsBusy();
    void keysOnPlayingLesson_data();
    void keysOnPlayingLesson();
    void spacePausesAndResumes();
    void spaceAtTheEndOfAPass_data();
    void spaceAtTheEndOfAPass();
    void lastSentenceRepeatsPastEndOfMedia_data();
    void lastSentenceRepeatsPastEndOfMedia();
    void storedRateIsPlayed_data();
    void storedRateIsPlayed();

private:
    // Stores what a previous run would have left, then opens the lesson as the program does.
    std::unique_ptr<PlayerWindow> open(int playMode, int repeatCount, qint64 storedPosition);
    static bool insideSentence(const PlayerWindow &window, int sentence, qint64 fromStart, qint64 beforeEnd);
    // What the window plays, for a failure's message.
    static QByteArray playing(const PlayerWindow &window);
    static QString fileGroup(const QString &path) { return "files/" + QString::number(qHash(path, 0)); }

    QTemporaryDir settingsDir;
    QTemporaryDir mediaDir;
    QString lessonPath;
};

// Playing inside `sentence`, at least `fromStart` after its start and `beforeEnd` before its end.
bool tst_Playback::insideSentence(const PlayerWindow &window, int sentence, qint64 fromStart,
                                  qint64 beforeEnd)
{
    const qint64 position = window.mediaEngine()->position();
    return window.repeatSession()->currentSentence() == sentence &&
           window.mediaEngine()->playbackState() == QMediaPlayer::PlayingState &&
           position >= lessonCues.at(sentence).startMs + fromStart &&
           position < lessonCues.at(sentence).endMs - beforeEnd;
}

QByteArray tst_Playback::playing(const PlayerWindow &window)
{
    return QString("sentence %1, state %2, media status %3, at %4 ms")
        .arg(window.repeatSession()->currentSentence())
        .arg(window.mediaEngine()->playbackState())
        .arg(window.mediaEngine()->mediaStatus())
        .arg(window.mediaEngine()->position())
        .toUtf8();
}

void tst_Playback::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    QVERIFY(mediaDir.isValid());
    useTemporarySettings(settingsDir);
    lessonPath = mediaDir.filePath("playback lesson.wav");
    QCOMPARE(writeLesson(lessonPath, lessonCues, lessonDuration), QString());
}

void tst_Playback::init()
{
    clearSettings();
}

std::unique_ptr<PlayerWindow> tst_Playback::open(int playMode, int repeatCount, qint64 storedPosition)
{
    {
        QSettings settings("Orvi", "OrviLoop");
        settings.setValue("global/playMode", playMode);
        settings.setValue("global/repeatCount", repeatCount);
        settings.setValue(fileGroup(lessonPath) + "/position", storedPosition);
        settings.sync();
    }
    auto window = std::make_unique<PlayerWindow>(nullptr, lessonPath);
    window->show();
    return window;
}

void tst_Playback::repeaterLoopsOneSentence()
{
    auto window = open(1, 1, 3200);
    QTRY_VERIFY2_WITH_TIMEOUT(insideSentence(*window, 1, 0, 0), playing(*window).constData(), 10000);

    PassRecorder recorder(window->mediaEngine());
    // The pass under way and three more.
    QTRY_VERIFY_WITH_TIMEOUT(recorder.passes.size() >= 4, 15000);
    QCOMPARE(recorder.passes, Indexes(recorder.passes.size(), 1));
    QVERIFY2(recorder.maxPosition <= lessonCues.at(1).endMs + tail + lateAllowance,
             qPrintable(QString::number(recorder.maxPosition)));
    QCOMPARE(window->repeatSession()->currentSentence(), 1);
}

void tst_Playback::autoNextRepeatsAndResumesAfterReopen()
{
    auto window = open(2, 3, 3200);
    QTRY_VERIFY2_WITH_TIMEOUT(insideSentence(*window, 1, 0, 0), playing(*window).constData(), 10000);

    // The learner pauses in the middle of the second pass of sentence 2, then closes.
    PassRecorder recorder(window->mediaEngine());
    qint64 pausedAt = -1;
    recorder.onReport = [&](qint64 position) {
        if (pausedAt < 0 && window->repeatSession()->currentSentence() == 2 &&
            window->repeatSession()->repeatRound() == 1 && position >= lessonCues.at(2).startMs + 100 &&
            position < lessonCues.at(2).endMs - 200) {
            window->mediaEngine()->pause();
            pausedAt = position;
        }
    };
    QTRY_VERIFY_WITH_TIMEOUT(pausedAt >= 0, 30000);
    QCOMPARE(recorder.passes, (Indexes{1, 1, 1, 2, 2}));
    QTRY_COMPARE(window->mediaEngine()->playbackState(), QMediaPlayer::PausedState);
    const qint64 closedAt = window->mediaEngine()->position();
    window->close();
    window.reset();
    {
        QSettings settings("Orvi", "OrviLoop");
        QCOMPARE(settings.value(fileGroup(lessonPath) + "/position").toLongLong(), closedAt);
        QCOMPARE(settings.value(fileGroup(lessonPath) + "/repeatCounter").toInt(), 1);
    }

    // A window opened without a file takes the last one, where it was left. The first report
    // inside the sentence is looked at as it comes: on a busy machine the rest of the pass may end
    // before a poll would look.
    PlayerWindow reopened(nullptr, QString());
    PassRecorder resumed(reopened.mediaEngine());
    resumed.passes.clear(); // what the engine holds before the lesson is loaded
    qint64 resumedAt = -1;
    int roundOnResume = -1;
    resumed.onReport = [&](qint64 position) {
        if (resumedAt < 0 && sentenceAt(position) == 2 &&
            reopened.mediaEngine()->playbackState() == QMediaPlayer::PlayingState) {
            resumedAt = position;
            roundOnResume = reopened.repeatSession()->repeatRound();
        }
    };
    reopened.show();
    QCOMPARE(reopened.lessonFile(), lessonPath);
    // The rest of the second pass, the third, then the next sentence.
    QTRY_VERIFY_WITH_TIMEOUT(resumed.passes.size() >= 3, 15000);
    QCOMPARE(resumed.passes.mid(0, 3), (Indexes{2, 2, 3}));
    QCOMPARE(roundOnResume, 1);
    QVERIFY2(qAbs(resumedAt - closedAt) < 300, qPrintable(QString::number(resumedAt - closedAt)));
}

// The engine makes the jump to the next pass where the sound is, not when the window's thread gets
// round to it: the window stands still across the end of a pass, and by the time it runs again
// the next pass, at its own rate, has been playing for a while.
void tst_Playback::passGoesOnWhileTheWindowIsBusy()
{
    {
        QSettings settings("Orvi", "OrviLoop");
        settings.setValue("global/passRates", "1.0 1.25");
    }
    auto window = open(2, 2, 3200);
    if (window->mediaEngine()->name() != "mpv")
        QSKIP("QMediaPlayer takes its seeks on the window's thread");
    QTRY_VERIFY2_WITH_TIMEOUT(insideSentence(*window, 1, 300, 150), playing(*window).constData(), 10000);
    const auto &sentences = window->repeatSession()->sentences();
    const qint64 passStart = SentenceTiming::leadStart(sentences, 1);
    const qint64 endPoint = SentenceTiming::passEndPoint(sentences, 1);

    // Busy from before the end point until half a second after it: less than the next pass
    // lasts, which the engine would loop until told more.
    QThread::msleep(quint64(endPoint - window->mediaEngine()->position() + 500));
    bool jumped = false;
    qint64 firstAfterJump = -1;
    MediaEngine *engine = window->mediaEngine();
    connect(engine, &MediaEngine::endPointReached, window.get(), [&](qint64, bool by) { jumped = by; });
    connect(engine, &MediaEngine::positionChanged, window.get(), [&](qint64 position) {
        if (jumped && firstAfterJump < 0)
            firstAfterJump = position;
    });
    QTRY_VERIFY_WITH_TIMEOUT(firstAfterJump >= 0, 5000);
    QCOMPARE(window->repeatSession()->currentSentence(), 1);
    QCOMPARE(window->repeatSession()->repeatRound(), 1);
    QCOMPARE(engine->playbackRate(), 1.25);
    QVERIFY2(firstAfterJump >= passStart + 300,
             qPrintable(QString("%1 ms into the next pass").arg(firstAfterJump - passStart)));
}

void tst_Playback::keysOnPlayingLesson_data()
{
    QTest::addColumn<Keys>("keys");
    QTest::addColumn<Indexes>("landings"); // the sentence playing after each key
    QTest::addColumn<Indexes>("group2");
    QTest::newRow("N moves on") << Keys{Qt::Key_N} << Indexes{1} << Indexes{};
    QTest::newRow("right jumps ten seconds") << Keys{Qt::Key_Right} << Indexes{5} << Indexes{};
    QTest::newRow("left jumps back") << Keys{Qt::Key_Right, Qt::Key_Left} << Indexes{5, 0} << Indexes{};
    QTest::newRow("F12 puts aside and moves on") << Keys{Qt::Key_F12} << Indexes{1} << Indexes{0};
}

// In the repeater, whatever the key moved to is the sentence that loops from then on.
void tst_Playback::keysOnPlayingLesson()
{
    QFETCH(Keys, keys);
    QFETCH(Indexes, landings);
    QFETCH(Indexes, group2);
    auto window = open(1, 1, 0);
    QTRY_VERIFY2_WITH_TIMEOUT(insideSentence(*window, 0, 100, 600), playing(*window).constData(), 10000);

    for (int i = 0; i < keys.size(); ++i) {
        typeKey(*window, Qt::Key(keys.at(i)));
        // In a long sentence, far enough from its end that a following ten-second jump
        // stays inside a sentence too.
        const LessonCue &landing = lessonCues.at(landings.at(i));
        const qint64 beforeEnd = landing.endMs - landing.startMs >= 2000 ? 600 : 0;
        QTRY_VERIFY2_WITH_TIMEOUT(insideSentence(*window, landings.at(i), 0, beforeEnd),
                                  playing(*window).constData(), 10000);
    }
    const int looped = landings.last();
    PassRecorder recorder(window->mediaEngine());
    QTRY_VERIFY_WITH_TIMEOUT(recorder.passes.size() >= 2, 10000);
    QCOMPARE(recorder.passes, Indexes(recorder.passes.size(), looped));
    QVERIFY(recorder.maxPosition <= lessonCues.at(looped).endMs + tail + lateAllowance);
    QCOMPARE(Group2Store::read(), group2);
}

void tst_Playback::spacePausesAndResumes()
{
    auto window = open(1, 1, 0);
    QTRY_VERIFY2_WITH_TIMEOUT(insideSentence(*window, 0, 100, 600), playing(*window).constData(), 10000);

    typeKey(*window, Qt::Key_Space);
    QTRY_COMPARE(window->mediaEngine()->playbackState(), QMediaPlayer::PausedState);
    const qint64 pausedAt = window->mediaEngine()->position();
    QTest::qWait(500);
    QCOMPARE(window->mediaEngine()->position(), pausedAt);

    typeKey(*window, Qt::Key_Space);
    QTRY_COMPARE(window->mediaEngine()->playbackState(), QMediaPlayer::PlayingState);
    QTRY_VERIFY_WITH_TIMEOUT(window->mediaEngine()->position() > pausedAt + 200, 5000);
}

void tst_Playback::spaceAtTheEndOfAPass_data()
{
    QTest::addColumn<qint64>("pressAt"); // after the end of sentence 0, by the clock
    QTest::newRow("early in the tail") << qint64(100);
    QTest::newRow("late in the tail") << qint64(450);
    QTest::newRow("as the pause begins") << qint64(650);
}

// Space as a sentence ends, with a pause to speak chosen. Pressed before the pause has begun it
// pauses, and that pause holds, with no pause to speak over it; pressed in the pause to speak it
// ends that. Either way the drill goes on after it.
void tst_Playback::spaceAtTheEndOfAPass()
{
    QFETCH(qint64, pressAt);
    QSettings("Orvi", "OrviLoop").setValue("global/shadowPause", 1);
    auto window = open(1, 1, 0);
    QTRY_VERIFY2_WITH_TIMEOUT(insideSentence(*window, 0, 100, 600), playing(*window).constData(), 10000);
    // The reports come every 100 ms or so, and stop short of the end: the press is timed.
    const qint64 end = lessonCues.at(0).endMs;
    QTRY_VERIFY_WITH_TIMEOUT(window->mediaEngine()->position() >= end - 300, 5000);
    QTest::qWait(int(end + pressAt - window->mediaEngine()->position()));
    const bool wasSpeaking = window->repeatSession()->speakingPauseActive();
    QTest::keyClick(window.get(), Qt::Key_Space);
    QTest::qWait(1500);
    if (!wasSpeaking) {
        QCOMPARE(window->mediaEngine()->playbackState(), QMediaPlayer::PausedState);
        QVERIFY(!window->repeatSession()->speakingPauseActive());
        QVERIFY(!childNamed<QProgressBar>(*window, "shadowPauseBar")->isVisible());
        QCOMPARE(childNamed<QPushButton>(*window, "btnPlayPause")->text(), QString("▶"));
        QTest::keyClick(window.get(), Qt::Key_Space);
    }
    QTRY_COMPARE(window->mediaEngine()->playbackState(), QMediaPlayer::PlayingState);
    QCOMPARE(childNamed<QPushButton>(*window, "btnPlayPause")->text(), QString("⏹"));
    // The sentence again, and the pause to speak after it.
    QTRY_VERIFY_WITH_TIMEOUT(window->repeatSession()->speakingPauseActive(), 6000);
    QCOMPARE(window->repeatSession()->currentSentence(), 0);
}

void tst_Playback::lastSentenceRepeatsPastEndOfMedia_data()
{
    QTest::addColumn<int>("playMode");
    QTest::addColumn<qint64>("mediaEnd");
    QTest::addColumn<int>("restartsWanted");
    QTest::addColumn<int>("expectedIndex");
    // The media ends 150 ms after the last cue, before its end point (end + tail - 15) is ever
    // reported: the end of the media must count as the end of the sentence.
    QTest::newRow("repeater replays the last sentence") << 1 << qint64(3350) << 1 << 1;
    QTest::newRow("auto next wraps to the first") << 2 << qint64(3350) << 1 << 0;
    // The end point lies inside the media, but the back end has read the whole file by then:
    // every loop must start again, not only the first.
    QTest::newRow("repeater keeps looping near the end") << 1 << qint64(4700) << 3 << 1;
}

void tst_Playback::lastSentenceRepeatsPastEndOfMedia()
{
    QFETCH(int, playMode);
    QFETCH(qint64, mediaEnd);
    QFETCH(int, restartsWanted);
    QFETCH(int, expectedIndex);
    const QList<LessonCue> cues{{200, 1200}, {2200, 3200}};
    const QString path = mediaDir.filePath(QString("ending at %1.wav").arg(mediaEnd));
    QCOMPARE(writeLesson(path, cues, mediaEnd), QString());
    {
        QSettings settings("Orvi", "OrviLoop");
        settings.setValue("global/playMode", playMode);
        settings.setValue(fileGroup(path) + "/position", 2300);
        settings.sync();
    }
    PlayerWindow window(nullptr, path);
    window.show();
    QTRY_VERIFY_WITH_TIMEOUT(
        window.repeatSession()->currentSentence() == 1 && window.mediaEngine()->position() >= 2300, 10000);

    int restarts = 0;
    qint64 previous = window.mediaEngine()->position();
    connect(window.mediaEngine(), &MediaEngine::positionChanged, &window, [&](qint64 position) {
        if (position + 500 < previous)
            ++restarts;
        previous = position;
    });
    QTRY_VERIFY_WITH_TIMEOUT(restarts >= restartsWanted, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(window.mediaEngine()->playbackState(), QMediaPlayer::PlayingState, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(window.mediaEngine()->position() >= cues.at(expectedIndex).startMs, 5000);
    QCOMPARE(window.repeatSession()->currentSentence(), expectedIndex);
}

void tst_Playback::storedRateIsPlayed_data()
{
    QTest::addColumn<double>("rate");
    QTest::newRow("slow") << 0.6;
    QTest::newRow("fast") << 2.0;
}

// The rate of the last session is set before the lesson is opened; the lesson must play at it,
// not only report it. Measured once the back end has settled (its reports stall at the start).
void tst_Playback::storedRateIsPlayed()
{
    QFETCH(double, rate);
    {
        QSettings settings("Orvi", "OrviLoop");
        settings.setValue("global/playRate", rate);
        settings.sync();
    }
    auto window = open(0, 1, 0);
    const MediaEngine *engine = window->mediaEngine();
    QTRY_VERIFY2_WITH_TIMEOUT(
        engine->playbackState() == QMediaPlayer::PlayingState && engine->position() > 1500,
        qPrintable(QString("state %1 at %2 ms").arg(engine->playbackState()).arg(engine->position())), 10000);
    QVERIFY(qAbs(window->mediaEngine()->playbackRate() - rate) < 1e-3);

    QElapsedTimer wall;
    wall.start();
    const qint64 from = window->mediaEngine()->position();
    QTest::qWait(2000);
    const double speed = double(window->mediaEngine()->position() - from) / double(wall.elapsed());
    QVERIFY2(qAbs(speed - rate) < 0.25 * rate, qPrintable(QString("played at %1").arg(speed)));
}

QTEST_MAIN(tst_Playback)
#include "tst_playback.moc"
