#include "keyboard.h"
#include "lessonmedia.h"
#include "core/drill/shadowing.h"
#include "core/drill/sentencetiming.h"
#include "playerwindowtest.h"
#include "core/subtitles/srtparser.h"
#include "testsupport.h"

#include "ui_playerwindow.h"

#include <QFile>
#include <QGraphicsTextItem>
#include <QProgressBar>
#include <QSignalSpy>
#include <QStringDecoder>
#include <QTest>
#include <QTime>
#include <QTimer>

#include <functional>

// Shadowing: the pause to speak after a pass, a rate per pass, the times of a sentence mended
// with keys and written back to its file, and the text shown while a key is held.

Q_DECLARE_METATYPE(Times)
using Rates = QList<double>;
using Positions = QList<qint64>;
using Action = std::function<void(PlayerWindow &)>;

class tst_Shadowing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void pauseLength_data();
    void pauseLength();
    void parseRates_data();
    void parseRates();
    void moveEdge_data();
    void moveEdge();
    void correctedFileReadsBack();

    void pauseAfterPass_data();
    void pauseAfterPass();
    void pauseEndedOrDropped_data();
    void pauseEndedOrDropped();
    void spaceAsTheSentenceEnds();
    void ratePerPass();
    void storedRatesPlayFromTheFirstPass();
    void timingKeys_data();
    void timingKeys();
    void revealKeyShowsHiddenText();

private:
    static ScriptedEngine &engine(const PlayerWindow &w) { return PlayerWindowTest::engine(w); }
    static void report(PlayerWindow &w, qint64 position) { PlayerWindowTest::report(w, position); }

    QTemporaryDir settingsDir;
    QTemporaryDir fileDir;
};

void tst_Shadowing::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    QVERIFY(fileDir.isValid());
    useTemporarySettings(settingsDir);
}

void tst_Shadowing::init()
{
    clearSettings();
}

void tst_Shadowing::pauseLength_data()
{
    QTest::addColumn<int>("choice");
    QTest::addColumn<qint64>("expected");
    // A sentence of 1.5 s.
    QTest::newRow("off") << 0 << qint64(0);
    QTest::newRow("once its length") << 1 << qint64(2000);
    QTest::newRow("one and a half") << 2 << qint64(2750);
    QTest::newRow("twice") << 3 << qint64(3500);
    QTest::newRow("unknown choice") << 7 << qint64(0);
}

void tst_Shadowing::pauseLength()
{
    QFETCH(int, choice);
    QFETCH(qint64, expected);
    QCOMPARE(Shadowing::pauseMs(choice, SubtitleItem{0, 1000, 2500, "s"}), expected);
}

void tst_Shadowing::parseRates_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<Rates>("rates");
    QTest::addColumn<Rates>("perPass"); // passes 0 … 3 at a rate box of 1.2
    QTest::newRow("three rates") << "0.7, 0.85, 1.0" << true << Rates{0.7, 0.85, 1.0}
                                 << Rates{0.7, 0.85, 1.0, 1.0};
    QTest::newRow("Chinese commas and blanks")
        << "0.7，1.0  1.5" << true << Rates{0.7, 1.0, 1.5} << Rates{0.7, 1.0, 1.5, 1.5};
    QTest::newRow("empty: the rate box") << "  " << true << Rates{} << Rates{1.2, 1.2, 1.2, 1.2};
    QTest::newRow("not a number") << "0.7, fast" << false << Rates{} << Rates{};
    QTest::newRow("below the rate box") << "0.3" << false << Rates{} << Rates{};
    QTest::newRow("above the rate box") << "1.0, 2.5" << false << Rates{} << Rates{};
}

void tst_Shadowing::parseRates()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(Rates, rates);
    QFETCH(Rates, perPass);
    const std::optional<QList<double>> parsed = Shadowing::parseRates(text, 0.6, 2.0);
    QCOMPARE(parsed.has_value(), valid);
    if (!valid)
        return;
    QCOMPARE(*parsed, rates);
    for (int pass = 0; pass < perPass.size(); ++pass)
        QCOMPARE(Shadowing::rateForPass(*parsed, pass, 1.2), perPass.at(pass));
    QCOMPARE(Shadowing::parseRates(Shadowing::formatRates(*parsed), 0.6, 2.0), parsed);
}

void tst_Shadowing::moveEdge_data()
{
    QTest::addColumn<Times>("times");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("edge"); // 0 start, 1 end, 2 the whole subtitle
    QTest::addColumn<qint64>("delta");
    QTest::addColumn<Times>("expected"); // empty: the key does nothing
    const Times three{{50, 1000}, {2000, 3000}, {4000, 5000}};
    QTest::newRow("start of the first earlier")
        << three << 0 << 0 << qint64(-40) << Times{{10, 1000}, {2000, 3000}, {4000, 5000}};
    QTest::newRow("start of the first stops at 0")
        << three << 0 << 0 << qint64(-100) << Times{{0, 1000}, {2000, 3000}, {4000, 5000}};
    QTest::newRow("start stops at the previous end")
        << three << 1 << 0 << qint64(-1500) << Times{{50, 1000}, {1000, 3000}, {4000, 5000}};
    QTest::newRow("start already at the previous end")
        << Times{{0, 1000}, {1000, 2000}} << 1 << 0 << qint64(-100) << Times{};
    QTest::newRow("end stops at the next start")
        << three << 0 << 1 << qint64(1500) << Times{{50, 2000}, {2000, 3000}, {4000, 5000}};
    QTest::newRow("end of the last later")
        << three << 2 << 1 << qint64(100) << Times{{50, 1000}, {2000, 3000}, {4000, 5100}};
    QTest::newRow("end onto the start")
        << Times{{0, 1000}, {1000, 1100}} << 1 << 1 << qint64(-100) << Times{};
    QTest::newRow("start onto the end") << Times{{0, 1000}, {1000, 1100}} << 1 << 0 << qint64(100) << Times{};
    QTest::newRow("overlapping: no further into the one before")
        << Times{{0, 3000}, {2500, 4000}} << 1 << 0 << qint64(-100) << Times{};
    QTest::newRow("overlapping: no further into the next one")
        << Times{{0, 3000}, {2500, 4000}} << 0 << 1 << qint64(100) << Times{};
    QTest::newRow("overlapping: start out of the one before")
        << Times{{0, 3000}, {2500, 4000}} << 1 << 0 << qint64(100) << Times{{0, 3000}, {2600, 4000}};
    QTest::newRow("start stops at the next one's start")
        << Times{{0, 3000}, {2900, 4000}, {2950, 5000}} << 1 << 0 << qint64(100)
        << Times{{0, 3000}, {2950, 4000}, {2950, 5000}};
    QTest::newRow("no sentence") << three << -1 << 1 << qint64(100) << Times{};
    QTest::newRow("all earlier") << three << 0 << 2 << qint64(-50)
                                 << Times{{0, 950}, {1950, 2950}, {3950, 4950}};
    QTest::newRow("all earlier, below 0") << three << 0 << 2 << qint64(-100) << Times{};
}

void tst_Shadowing::moveEdge()
{
    QFETCH(Times, times);
    QFETCH(int, index);
    QFETCH(int, edge);
    QFETCH(qint64, delta);
    QFETCH(Times, expected);
    QList<SubtitleItem> sentences = lessonOf(times);
    const bool moved = edge == 2 ? Shadowing::shiftAll(sentences, delta)
                                 : Shadowing::moveEdge(sentences, index, Shadowing::Edge(edge), delta);
    QCOMPARE(moved, !expected.isEmpty());
    Times after;
    for (const SubtitleItem &sentence : sentences)
        after.append({sentence.startMs, sentence.endMs});
    QCOMPARE(after, expected.isEmpty() ? times : expected);
}

// Only the times change: sound notes, tags and the file's own encoding are read as before.
void tst_Shadowing::correctedFileReadsBack()
{
    const QString text = "1\n00:00:01,000 --> 00:00:02,000\n<i>你好</i> world\n\n"
                         "2\n00:00:02,500 --> 00:00:03,000\n[音乐]\n\n"
                         "3\n00:00:04,000 --> 00:00:05,500 X1:10\n第三句\nline two\n";
    const QString path = fileDir.filePath("课 lesson.srt1");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringEncoder("GB18030").encode(text));
    file.close();
    const QByteArray original = [&] {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    QList<SubtitleItem> sentences = parseSrtFile(path);
    QCOMPARE(sentences.size(), 2);
    sentences[0].startMs = 900;
    sentences[1].endMs = 5600;

    QVERIFY(saveSrtTimes(path, sentences));
    QCOMPARE(parseSrtFile(path), sentences);
    QVERIFY(QFile::exists(path + ".orig"));
    sentences[1].endMs = 5700;
    QVERIFY(saveSrtTimes(path, sentences));
    QCOMPARE(parseSrtFile(path), sentences);
    // The subtitle as it first was is kept, not overwritten by the second correction.
    QFile orig(path + ".orig");
    QVERIFY(orig.open(QIODevice::ReadOnly));
    QCOMPARE(orig.readAll(), original);
    QVERIFY(parseSrtFile(path).at(0).text.contains("你好"));
}

void tst_Shadowing::pauseAfterPass_data()
{
    QTest::addColumn<int>("playMode");
    QTest::addColumn<int>("repeats");
    QTest::addColumn<qint64>("pause");
    QTest::addColumn<Positions>("seeksAfter"); // the seeks made for what follows the pause
    QTest::addColumn<int>("sentenceAfter");
    QTest::addColumn<int>("roundAfter");
    // Sentence 0 is 1000 ms long and ends at 2000, with a tail of 500; the next one starts 5000.
    QTest::newRow("repeater: the same sentence again") << 1 << 1 << qint64(1500) << Positions{500} << 0 << 0;
    QTest::newRow("auto next: its second pass") << 2 << 3 << qint64(1500) << Positions{500} << 0 << 1;
    QTest::newRow("auto next: then the next sentence") << 2 << 1 << qint64(1500) << Positions{4500} << 1 << 0;
    QTest::newRow("normal play: runs on") << 0 << 1 << qint64(1500) << Positions{} << 0 << 0;
}

// At the end point (the tail heard) playback stands still for the pause, already moved where the
// engine decided, and goes on from there when the time is up; the end is acted on once.
void tst_Shadowing::pauseAfterPass()
{
    QFETCH(int, playMode);
    QFETCH(int, repeats);
    QFETCH(qint64, pause);
    QFETCH(Positions, seeksAfter);
    QFETCH(int, sentenceAfter);
    QFETCH(int, roundAfter);
    auto w = PlayerWindowTest::open(Times{{1000, 2000}, {5000, 6000}}, playMode);
    w->show();
    childNamed<QSpinBox>(*w, "spinRepeat")->setValue(repeats);
    childNamed<QComboBox>(*w, "comboShadowPause")->setCurrentIndex(1);
    engine(*w).play();
    report(*w, 1500);
    QCOMPARE(engine(*w).endPoint(), qint64(2500));
    report(*w, 2500);
    QVERIFY(w->repeatSession()->speakingPauseActive());
    QCOMPARE(childNamed<QProgressBar>(*w, "shadowPauseBar")->maximum(), int(pause));
    QCOMPARE(engine(*w).playbackState(), QMediaPlayer::PausedState);
    QCOMPARE(engine(*w).seeks, seeksAfter);
    QVERIFY(childNamed<QProgressBar>(*w, "shadowPauseBar")->isVisible());
    QVERIFY(!childNamed<QProgressBar>(*w, "busyIndicator")->isVisible());
    QCOMPARE(childNamed<QPushButton>(*w, "btnPlayPause")->text(), QString("⏹"));
    QCOMPARE(w->repeatSession()->currentSentence(), sentenceAfter);
    report(*w, 2500); // a report from where it stands changes nothing
    QVERIFY(w->repeatSession()->speakingPauseActive());

    QTRY_VERIFY_WITH_TIMEOUT(!w->repeatSession()->speakingPauseActive(), 3000);
    QCOMPARE(engine(*w).playbackState(), QMediaPlayer::PlayingState);
    QCOMPARE(engine(*w).seeks, seeksAfter);
    QCOMPARE(w->repeatSession()->currentSentence(), sentenceAfter);
    QCOMPARE(w->repeatSession()->repeatRound(), roundAfter);
    if (seeksAfter.isEmpty())
        QCOMPARE(engine(*w).endPoint(), qint64(-1));
}

void tst_Shadowing::pauseEndedOrDropped_data()
{
    QTest::addColumn<Action>("action");
    QTest::addColumn<Positions>("seeks");
    QTest::addColumn<int>("sentence");
    QTest::newRow("Space ends it as planned")
        << Action([](PlayerWindow &w) { typeKey(w, Qt::Key_Space); }) << Positions{500} << 0;
    QTest::newRow("N goes to the next sentence")
        << Action([](PlayerWindow &w) { typeKey(w, Qt::Key_N); }) << Positions{500, 4500} << 1;
    QTest::newRow("a seek drops the plan")
        << Action([](PlayerWindow &w) { w.repeatSession()->seekBy(3000); }) << Positions{500, 3500} << 1;
    QTest::newRow("another mode runs on")
        << Action([](PlayerWindow &w) { childNamed<QComboBox>(w, "comboPlayMode")->setCurrentIndex(0); })
        << Positions{500} << 0;
    QTest::newRow("another group starts it") << Action([](PlayerWindow &w) {
        w.repeatSession()->setGroups({0}, {1});
        w.repeatSession()->switchGroup();
    }) << Positions{500, 1000, 5000} << 1;
}

void tst_Shadowing::pauseEndedOrDropped()
{
    QFETCH(Action, action);
    QFETCH(Positions, seeks);
    QFETCH(int, sentence);
    auto w = PlayerWindowTest::open(Times{{1000, 2000}, {5000, 6000}}, 1);
    w->show();
    childNamed<QComboBox>(*w, "comboShadowPause")->setCurrentIndex(3);
    engine(*w).play();
    report(*w, 1500);
    report(*w, 2500);
    QVERIFY(w->repeatSession()->speakingPauseActive());
    action(*w);
    QVERIFY(!w->repeatSession()->speakingPauseActive());
    QVERIFY(!childNamed<QProgressBar>(*w, "shadowPauseBar")->isVisible());
    QCOMPARE(engine(*w).playbackState(), QMediaPlayer::PlayingState);
    QCOMPARE(engine(*w).seeks, seeks);
    QCOMPARE(w->repeatSession()->currentSentence(), sentence);
}

// Space pressed in the tail, just before the engine tells of the end: the learner's pause holds,
// with no pause to speak over it, and the next Space plays the next pass.
void tst_Shadowing::spaceAsTheSentenceEnds()
{
    auto w = PlayerWindowTest::open(Times{{1000, 2000}, {5000, 6000}}, 1);
    w->show();
    childNamed<QComboBox>(*w, "comboShadowPause")->setCurrentIndex(1);
    engine(*w).play();
    report(*w, 2300);
    QTest::keyClick(w.get(), Qt::Key_Space);
    report(*w, 2500);
    QVERIFY(!w->repeatSession()->speakingPauseActive());
    QVERIFY(!childNamed<QProgressBar>(*w, "shadowPauseBar")->isVisible());
    QCOMPARE(engine(*w).playbackState(), QMediaPlayer::PausedState);
    QCOMPARE(childNamed<QPushButton>(*w, "btnPlayPause")->text(), QString("▶"));
    QCOMPARE(engine(*w).seeks, Positions{500});
    QTest::keyClick(w.get(), Qt::Key_Space);
    QCOMPARE(engine(*w).playbackState(), QMediaPlayer::PlayingState);
    QCOMPARE(childNamed<QPushButton>(*w, "btnPlayPause")->text(), QString("⏹"));
    QCOMPARE(engine(*w).seeks, Positions{500});
    QCOMPARE(w->repeatSession()->currentSentence(), 0);
}

// Auto next with a list of two rates and four passes: the last rate holds for the rest.
void tst_Shadowing::ratePerPass()
{
    auto w = PlayerWindowTest::open(Times{{1000, 2000}, {5000, 6000}}, 2);
    childNamed<QSpinBox>(*w, "spinRepeat")->setValue(4);
    childNamed<QLineEdit>(*w, "editPassRates")->setText("0.7, 1.4");
    emit childNamed<QLineEdit>(*w, "editPassRates")->editingFinished();
    QCOMPARE(QSettings("Orvi", "OrviLoop").value("global/passRates").toString(), QString("0.7, 1.4"));
    QCOMPARE(engine(*w).playbackRate(), 0.7);
    for (const double rate : {1.4, 1.4, 1.4}) {
        report(*w, 1500);
        report(*w, 2500);
        QCOMPARE(engine(*w).playbackRate(), rate);
        QCOMPARE(childNamed<QDoubleSpinBox>(*w, "doubleSpinBoxRate")->value(), rate);
        report(*w, 1000);
    }
    report(*w, 1500);
    report(*w, 2500);
    QCOMPARE(w->repeatSession()->currentSentence(), 1);
    QCOMPARE(engine(*w).playbackRate(), 0.7);

    // A list that cannot be read is not taken.
    childNamed<QLineEdit>(*w, "editPassRates")->setText("0.7, quick");
    emit childNamed<QLineEdit>(*w, "editPassRates")->editingFinished();
    QCOMPARE(w->repeatSession()->ratesPerPass(), (Rates{0.7, 1.4}));
    QVERIFY(!childNamed<QLineEdit>(*w, "editPassRates")->styleSheet().isEmpty());
}

// The rates of the last session apply to the very first pass of the lesson opened at start.
void tst_Shadowing::storedRatesPlayFromTheFirstPass()
{
    QSettings settings("Orvi", "OrviLoop");
    settings.setValue("global/playMode", 2);
    settings.setValue("global/passRates", "0.7, 1.0");
    settings.sync();
    const QString mediaPath = fileDir.filePath("rates lesson.mp4");
    QVERIFY(QFile(mediaPath).open(QIODevice::WriteOnly));
    QFile srt(fileDir.filePath("rates lesson.srt1"));
    QVERIFY(srt.open(QIODevice::WriteOnly));
    srt.write(lessonSrt({{1000, 2000}, {4000, 5000}}).toUtf8());
    srt.close();
    auto *media = new ScriptedEngine;
    PlayerWindow w(nullptr, mediaPath, media);
    media->finishLoading(60000);
    QCOMPARE(media->playbackState(), QMediaPlayer::PlayingState);
    QCOMPARE(media->playbackRate(), 0.7);
    QCOMPARE(childNamed<QDoubleSpinBox>(w, "doubleSpinBoxRate")->value(), 0.7);
}

void tst_Shadowing::timingKeys_data()
{
    QTest::addColumn<Times>("times");
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("key");
    QTest::addColumn<Times>("expected"); // empty: the key does nothing
    const Times three{{1000, 2000}, {3000, 4000}, {5000, 6000}};
    QTest::newRow("[ on the first") << three << 0 << int(Qt::Key_BracketLeft)
                                    << Times{{900, 2000}, {3000, 4000}, {5000, 6000}};
    QTest::newRow("' on the last") << three << 2 << int(Qt::Key_Apostrophe)
                                   << Times{{1000, 2000}, {3000, 4000}, {5000, 6100}};
    QTest::newRow("; on an overlapped one")
        << Times{{0, 3000}, {2500, 4000}} << 0 << int(Qt::Key_Semicolon) << Times{{0, 2900}, {2500, 4000}};
    QTest::newRow("[ stops at the end before")
        << Times{{1000, 2000}, {2050, 3000}} << 1 << int(Qt::Key_BracketLeft)
        << Times{{1000, 2000}, {2000, 3000}};
    QTest::newRow("' stops at the next start")
        << Times{{1000, 2000}, {2050, 3000}} << 0 << int(Qt::Key_Apostrophe)
        << Times{{1000, 2050}, {2050, 3000}};
    QTest::newRow("] onto its end") << Times{{0, 1000}, {1000, 1100}} << 1 << int(Qt::Key_BracketRight)
                                    << Times{};
    QTest::newRow(". moves all") << three << 1 << int(Qt::Key_Period)
                                 << Times{{1100, 2100}, {3100, 4100}, {5100, 6100}};
    QTest::newRow(", below 0") << Times{{50, 1000}} << 0 << int(Qt::Key_Comma) << Times{};
}

// The next pass takes the new times at once, and the file, read back, has them.
void tst_Shadowing::timingKeys()
{
    QFETCH(Times, times);
    QFETCH(int, current);
    QFETCH(int, key);
    QFETCH(Times, expected);
    const QString path = fileDir.filePath(QString("%1.srt1").arg(QTest::currentDataTag()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    for (const SubtitleItem &sentence : lessonOf(times))
        file.write(QString("%1\n%2 --> %3\n%4\n\n")
                       .arg(sentence.index + 1)
                       .arg(QTime(0, 0).addMSecs(int(sentence.startMs)).toString("HH:mm:ss,zzz"),
                            QTime(0, 0).addMSecs(int(sentence.endMs)).toString("HH:mm:ss,zzz"), sentence.text)
                       .toUtf8());
    file.close();
    auto w = PlayerWindowTest::open(times, 1);
    w->setSubtitleFile(path);
    PlayerWindowTest::goTo(*w, current);

    typeKey(*w, Qt::Key(key));
    const QList<SubtitleItem> now = expected.isEmpty() ? lessonOf(times) : lessonOf(expected);
    QCOMPARE(w->repeatSession()->sentences(), now);
    QCOMPARE(engine(*w).endPoint(), w->repeatSession()->sentences().at(current).endMs +
                                        SentenceTiming::tailMargin(w->repeatSession()->sentences(), current));
    QCOMPARE(parseSrtFile(path), now);
    QCOMPARE(QFile::exists(path + ".orig"), !expected.isEmpty());
}

void tst_Shadowing::revealKeyShowsHiddenText()
{
    auto w = PlayerWindowTest::open(Times{{1000, 2000}, {5000, 6000}}, 1);
    childNamed<QComboBox>(*w, "comboSubtitleMode")->setCurrentIndex(1);
    report(*w, 1500);
    QVERIFY(!w->subtitleItem()->isVisible());

    pressKey(*w, Qt::Key_H);
    QVERIFY(w->subtitleItem()->isVisible());
    QCOMPARE(w->subtitleItem()->toPlainText(), QString("Sentence 0"));
    report(*w, 1600);
    QVERIFY(w->subtitleItem()->isVisible());
    releaseKey(*w, Qt::Key_H);
    QVERIFY(!w->subtitleItem()->isVisible());

    // A left button held on the video while the text is hidden does the same.
    QTest::mousePress(childNamed<QGraphicsView>(*w, "videoView")->viewport(), Qt::LeftButton);
    QVERIFY(w->subtitleItem()->isVisible());
    QTest::mouseRelease(childNamed<QGraphicsView>(*w, "videoView")->viewport(), Qt::LeftButton);
    QVERIFY(!w->subtitleItem()->isVisible());
}

QTEST_MAIN(tst_Shadowing)
#include "tst_shadowing.moc"
