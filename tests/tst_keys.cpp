#include "core/groups/group2store.h"
#include "lessonmedia.h"
#include "core/drill/sentencetiming.h"
#include "playerwindowtest.h"
#include "testsupport.h"
#include "ui_playerwindow.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGraphicsTextItem>
#include <QSettings>
#include <QTest>

#include <memory>

// The key table and the right click on the video, sent as real input events to a window on a
// scripted media engine, loaded and standing still, so that every position is known when a key
// lands.

using Indexes = QList<int>;
Q_DECLARE_METATYPE(Indexes)

namespace {

// One minute of media; the last sentence ends two seconds before the media does.
const QList<LessonCue> lessonCues{{1000, 3000},   {5000, 7000},   {10000, 14000},
                                  {20000, 24000}, {30000, 34000}, {50000, 58000}};
const qint64 lessonDuration = 60000;

constexpr int rightClick = 0; // a "key" column value meaning a right click on the video

// A key pressed on the keyboard: it goes to the widget with the keyboard focus.
void typeKey(int key)
{
    QWidget *focused = QApplication::focusWidget();
    QVERIFY2(focused, "no widget has the keyboard");
    QTest::keyClick(focused, Qt::Key(key));
}

void press(QWidget *viewport, int key)
{
    if (key == rightClick)
        QTest::mouseClick(viewport, Qt::RightButton);
    else
        typeKey(key);
}

// What a learner may have done with the mouse just before pressing a key.
enum class LastUse { Nothing, RateBoxArrow, PlayModeList, Slider, RatesTyped };

} // namespace

Q_DECLARE_METATYPE(LastUse)

class tst_Keys : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void seekKeys_data();
    void seekKeys();
    void volumeKeys_data();
    void volumeKeys();
    void spaceTogglesPlayback();
    void keysWaitForTheEngine();
    void nextSentenceKeys_data();
    void nextSentenceKeys();
    void skipKey_data();
    void skipKey();
    void keysWithoutSubtitles_data();
    void keysWithoutSubtitles();
    void keysReachPlayerWhateverControlWasUsed_data();
    void keysReachPlayerWhateverControlWasUsed();
    void sliderClickJumps_data();
    void sliderClickJumps();

private:
    // A shown window with `media` and its subtitle loaded, standing still at `position`: nothing
    // starts playing by itself, and a seek reports its target from inside, as Qt's back end does.
    std::unique_ptr<PlayerWindow> openStill(const QString &media, qint64 position);

    QTemporaryDir settingsDir;
    QTemporaryDir mediaDir;
    QString lessonPath;
    QString barePath;
};

void tst_Keys::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    QVERIFY(mediaDir.isValid());
    useTemporarySettings(settingsDir);
    lessonPath = mediaDir.filePath("key lesson.wav");
    QCOMPARE(writeLesson(lessonPath, lessonCues, lessonDuration), QString());
    // The same sound without any subtitle beside it.
    barePath = mediaDir.filePath("bare.wav");
    QVERIFY(QFile::copy(lessonPath, barePath));
}

void tst_Keys::init()
{
    clearSettings();
}

std::unique_ptr<PlayerWindow> tst_Keys::openStill(const QString &media, qint64 position)
{
    auto *engine = new ScriptedEngine;
    auto window = std::make_unique<PlayerWindow>(nullptr, QString(), engine);
    QObject::disconnect(engine, &MediaEngine::mediaStatusChanged, window.get(), nullptr);
    window->loadSubtitles(media);
    engine->finishLoading(lessonDuration);
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window.get()))
        return nullptr;
    window->repeatSession()->seekTo(position);
    engine->settle();
    engine->report(position);
    engine->reportsFromInsideSeek = true;
    return window;
}

void tst_Keys::seekKeys_data()
{
    QTest::addColumn<int>("playMode");
    QTest::addColumn<int>("key");
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("to");
    QTest::addColumn<int>("sentence");
    QTest::addColumn<QString>("text");
    // Normal play: in the repeater the end of the media would replay the last sentence at once.
    QTest::newRow("right near the end stops at the duration")
        << 0 << int(Qt::Key_Right) << qint64(57000) << qint64(60000) << 5 << "Sentence 5";
    QTest::newRow("left near the start stops at 0")
        << 1 << int(Qt::Key_Left) << qint64(4000) << qint64(0) << 0 << "";
    // The player's own report of the new position must not count as the end of sentence 0.
    QTest::newRow("right in the repeater leaves the sentence")
        << 1 << int(Qt::Key_Right) << qint64(2000) << qint64(12000) << 2 << "Sentence 2";
    // 15 000 lies after sentence 2: the next one is chosen, and it has not begun yet.
    QTest::newRow("left into a gap") << 1 << int(Qt::Key_Left) << qint64(25000) << qint64(15000) << 3 << "";
}

void tst_Keys::seekKeys()
{
    QFETCH(int, playMode);
    QFETCH(int, key);
    QFETCH(qint64, from);
    QFETCH(qint64, to);
    QFETCH(int, sentence);
    QFETCH(QString, text);
    auto window = openStill(lessonPath, from);
    QVERIFY(window);
    QCOMPARE(window->mediaEngine()->duration(), lessonDuration);
    window->repeatSession()->setPlayMode(PlayMode(playMode));

    typeKey(key);
    QTRY_COMPARE(window->mediaEngine()->position(), to);
    QCOMPARE(window->repeatSession()->currentSentence(), sentence);
    QCOMPARE(window->subtitleItem()->toPlainText(), text);
    // A jump by the user is a fresh start: no guard, no repetition carried over.
    QCOMPARE(window->repeatSession()->repeatRound(), 0);
}

void tst_Keys::volumeKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<float>("before");
    QTest::addColumn<float>("after");
    QTest::addColumn<QString>("volumeLine");
    QTest::addColumn<QString>("keyLine");
    QTest::newRow("up at 0.98 stops at full") << int(Qt::Key_Up) << 0.98f << 1.0f << "Volume: 100"
                                              << "Volume up: 0.98";
    QTest::newRow("down at 0.03 stops at silence") << int(Qt::Key_Down) << 0.03f << 0.0f << "Volume: 0"
                                                   << "Volume down: 0.03";
    QTest::newRow("up a step") << int(Qt::Key_Up) << 0.5f << 0.55f << "Volume: 55"
                               << "Volume up: 0.5";
    QTest::newRow("down a step") << int(Qt::Key_Down) << 0.5f << 0.45f << "Volume: 45"
                                 << "Volume down: 0.5";
}

void tst_Keys::volumeKeys()
{
    QFETCH(int, key);
    QFETCH(float, before);
    QFETCH(float, after);
    QFETCH(QString, volumeLine);
    QFETCH(QString, keyLine);
    auto window = openStill(lessonPath, 2000);
    QVERIFY(window);
    window->mediaEngine()->setVolume(before);

    QTest::ignoreMessage(QtDebugMsg, qPrintable(volumeLine));
    QTest::ignoreMessage(QtDebugMsg, qPrintable(keyLine));
    typeKey(key);
    QVERIFY2(qAbs(window->mediaEngine()->volume() - after) < 1e-4f,
             qPrintable(QString::number(window->mediaEngine()->volume())));
    QCOMPARE(window->mediaEngine()->position(), qint64(2000));
}

// A window opened from the library is shown before its engine is made: keys pressed meanwhile
// are handled, in their order, once its lesson has loaded (here, with none, once it is made).
void tst_Keys::keysWaitForTheEngine()
{
    auto *engine = new ScriptedEngine;
    PlayerWindow window(nullptr, QString(), engine, PlayerWindow::EngineStart::AfterFirstPaint);
    window.show();
    QTest::keyClick(&window, Qt::Key_Down);
    QTest::keyClick(&window, Qt::Key_Down);
    QTest::keyClick(&window, Qt::Key_Up);
    QVERIFY2(!window.mediaEngine(), "the engine was made before the window was painted");
    QTRY_COMPARE(window.mediaEngine(), engine);
    QVERIFY2(qAbs(engine->volume() - 0.95f) < 1e-4f, qPrintable(QString::number(engine->volume())));
}

void tst_Keys::spaceTogglesPlayback()
{
    auto window = openStill(lessonPath, 2000);
    QVERIFY(window);
    // The button shows what the key did.
    for (const auto &[state, text] :
         {std::pair{QMediaPlayer::PlayingState, "⏹"}, std::pair{QMediaPlayer::PausedState, "▶"},
          std::pair{QMediaPlayer::PlayingState, "⏹"}}) {
        typeKey(Qt::Key_Space);
        QTRY_COMPARE(window->mediaEngine()->playbackState(), state);
        QCOMPARE(childNamed<QPushButton>(*window, "btnPlayPause")->text(), QString(text));
    }
}

void tst_Keys::nextSentenceKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("sentence");
    QTest::addColumn<qint64>("position");
    // From sentence 1 to sentence 2, whose lead-in starts 500 ms before it.
    QTest::newRow("N") << int(Qt::Key_N) << 2 << qint64(9500);
    QTest::newRow("Return") << int(Qt::Key_Return) << 2 << qint64(9500);
    QTest::newRow("Enter") << int(Qt::Key_Enter) << 2 << qint64(9500);
    QTest::newRow("right click on the video") << rightClick << 2 << qint64(9500);
    QTest::newRow("another key does nothing") << int(Qt::Key_A) << 1 << qint64(6000);
}

void tst_Keys::nextSentenceKeys()
{
    QFETCH(int, key);
    QFETCH(int, sentence);
    QFETCH(qint64, position);
    auto window = openStill(lessonPath, 6000);
    QVERIFY(window);

    press(childNamed<QGraphicsView>(*window, "videoView")->viewport(), key);
    QTRY_COMPARE(window->mediaEngine()->position(), position);
    QCOMPARE(window->repeatSession()->currentSentence(), sentence);
    if (sentence != 1) {
        QCOMPARE(window->subtitleItem()->toPlainText(), QString("Sentence %1").arg(sentence));
    }
}

void tst_Keys::skipKey_data()
{
    QTest::addColumn<Indexes>("storedGroup2");
    QTest::addColumn<int>("playGroup");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<int>("sentence");
    QTest::addColumn<Indexes>("group2");
    QTest::addColumn<int>("playGroupAfter");
    // The slider range the play list gives afterwards; -1 where the same sentence starts
    // again and the range is left as it was.
    QTest::addColumn<int>("sliderMin");
    QTest::addColumn<int>("sliderMax");

    QTest::newRow("playing all") << Indexes{} << 0 << 1 << 2 << Indexes{1} << 0 << 1000 << 58000;
    QTest::newRow("first of group 1: the slider shrinks")
        << Indexes{3} << 2 << 0 << 1 << Indexes{0, 3} << 2 << 5000 << 58000;
    QTest::newRow("last of group 1: wraps, the slider shrinks")
        << Indexes{3} << 2 << 5 << 0 << Indexes{3, 5} << 2 << 1000 << 34000;
    QTest::newRow("only sentence of group 2 starts again")
        << Indexes{2} << 1 << 2 << 2 << Indexes{2} << 1 << -1 << -1;
    QTest::newRow("last sentence of group 1: all are played")
        << Indexes{0, 1, 2, 3, 4} << 2 << 5 << 5 << Indexes{0, 1, 2, 3, 4, 5} << 0 << -1 << -1;
}

void tst_Keys::skipKey()
{
    QFETCH(Indexes, storedGroup2);
    QFETCH(int, playGroup);
    QFETCH(int, skipped);
    QFETCH(int, sentence);
    QFETCH(Indexes, group2);
    QFETCH(int, playGroupAfter);
    QFETCH(int, sliderMin);
    QFETCH(int, sliderMax);
    Group2Store::write(storedGroup2);
    QSettings("Orvi", "OrviLoop").setValue("global/playGroup", playGroup);
    const qint64 inside = lessonCues.at(skipped).startMs + 100;
    auto window = openStill(lessonPath, inside);
    QVERIFY(window);
    QCOMPARE(int(window->repeatSession()->playGroup()), playGroup);
    if (sliderMin < 0) {
        sliderMin = childNamed<QSlider>(*window, "horizontalSlider")->minimum();
        sliderMax = childNamed<QSlider>(*window, "horizontalSlider")->maximum();
    }

    typeKey(Qt::Key_F12);
    QCOMPARE(window->repeatSession()->currentSentence(), sentence);
    QCOMPARE(window->repeatSession()->group2(), group2);
    QCOMPARE(Group2Store::read(), group2);
    QVERIFY(!window->repeatSession()->group1().contains(skipped));
    QCOMPARE(int(window->repeatSession()->playGroup()), playGroupAfter);
    QCOMPARE(childNamed<QSlider>(*window, "horizontalSlider")->minimum(), sliderMin);
    QCOMPARE(childNamed<QSlider>(*window, "horizontalSlider")->maximum(), sliderMax);
    QTRY_COMPARE(window->mediaEngine()->position(),
                 SentenceTiming::leadStart(window->repeatSession()->sentences(), sentence));
}

void tst_Keys::keysWithoutSubtitles_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<float>("volume");
    QTest::addColumn<bool>("playing");
    QTest::addColumn<bool>("fullScreen");
    QTest::newRow("Left") << int(Qt::Key_Left) << 0.5f << false << false;
    QTest::newRow("Right") << int(Qt::Key_Right) << 0.5f << false << false;
    QTest::newRow("N") << int(Qt::Key_N) << 0.5f << false << false;
    QTest::newRow("Return") << int(Qt::Key_Return) << 0.5f << false << false;
    QTest::newRow("F12") << int(Qt::Key_F12) << 0.5f << false << false;
    QTest::newRow("right click") << rightClick << 0.5f << false << false;
    QTest::newRow("Space still plays") << int(Qt::Key_Space) << 0.5f << true << false;
    QTest::newRow("Up still works") << int(Qt::Key_Up) << 0.55f << false << false;
    QTest::newRow("Down still works") << int(Qt::Key_Down) << 0.45f << false << false;
    QTest::newRow("F still works") << int(Qt::Key_F) << 0.5f << false << true;
}

void tst_Keys::keysWithoutSubtitles()
{
    QFETCH(int, key);
    QFETCH(float, volume);
    QFETCH(bool, playing);
    QFETCH(bool, fullScreen);
    auto window = openStill(barePath, 30000);
    QVERIFY(window);
    QVERIFY(window->repeatSession()->sentences().isEmpty());
    window->mediaEngine()->setVolume(0.5f);

    press(childNamed<QGraphicsView>(*window, "videoView")->viewport(), key);
    QTRY_COMPARE(window->mediaEngine()->playbackState() == QMediaPlayer::PlayingState, playing);
    if (!playing)
        QCOMPARE(window->mediaEngine()->position(), qint64(30000));
    QVERIFY(qAbs(window->mediaEngine()->volume() - volume) < 1e-4f);
    QCOMPARE(window->isFullScreen(), fullScreen);
    QVERIFY(Group2Store::read().isEmpty());
    // Escape leaves full screen, as F does.
    if (fullScreen) {
        press(childNamed<QGraphicsView>(*window, "videoView")->viewport(), Qt::Key_Escape);
        QVERIFY(!window->isFullScreen());
    }
}

void tst_Keys::keysReachPlayerWhateverControlWasUsed_data()
{
    QTest::addColumn<LastUse>("lastUse");
    QTest::newRow("just opened") << LastUse::Nothing;
    QTest::newRow("rate box arrow clicked") << LastUse::RateBoxArrow;
    QTest::newRow("play mode chosen from its list") << LastUse::PlayModeList;
    QTest::newRow("slider clicked") << LastUse::Slider;
    QTest::newRow("rates typed, then Return") << LastUse::RatesTyped;
}

// ↓ ↓ then N: the volume goes down and the next sentence comes, whatever the mouse used last.
void tst_Keys::keysReachPlayerWhateverControlWasUsed()
{
    QFETCH(LastUse, lastUse);
    auto window = openStill(lessonPath, 6000);
    QVERIFY(window);
    const QList<SubtitleItem> times = window->repeatSession()->sentences();
    const auto state = window->mediaEngine()->playbackState();
    if (lastUse == LastUse::RateBoxArrow) {
        QTest::mouseClick(childNamed<QDoubleSpinBox>(*window, "doubleSpinBoxRate"), Qt::LeftButton, {},
                          QPoint(childNamed<QDoubleSpinBox>(*window, "doubleSpinBoxRate")->width() - 4, 4));
        QCOMPARE(childNamed<QDoubleSpinBox>(*window, "doubleSpinBoxRate")->value(), 1.2);
    } else if (lastUse == LastUse::PlayModeList) {
        QTest::mouseClick(childNamed<QComboBox>(*window, "comboPlayMode"), Qt::LeftButton);
        QAbstractItemView *list = childNamed<QComboBox>(*window, "comboPlayMode")->view();
        QTRY_VERIFY(list->isVisible());
        // The list takes no release that comes as fast as a double click's.
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualRect(list->model()->index(1, 0)).center());
        QTRY_VERIFY(!list->isVisible() && window->isActiveWindow());
    } else if (lastUse == LastUse::Slider) {
        QTest::mouseClick(childNamed<QSlider>(*window, "horizontalSlider"), Qt::LeftButton);
    } else if (lastUse == LastUse::RatesTyped) {
        // Space, "." and "," belong to the rates while they are typed.
        window->repeatSession()->setPlayMode(PlayMode(2));
        QTest::mouseClick(childNamed<QLineEdit>(*window, "editPassRates"), Qt::LeftButton);
        for (const int key : {Qt::Key_0, Qt::Key_Period, Qt::Key_7, Qt::Key_Comma, Qt::Key_Space, Qt::Key_1})
            typeKey(key);
        QCOMPARE(window->mediaEngine()->playbackState(), state);
        typeKey(Qt::Key_Return);
        QCOMPARE(window->repeatSession()->ratesPerPass(), (QList<double>{0.7, 1.0}));
        window->repeatSession()->setPlayMode(PlayMode(1));
    }
    QCOMPARE(window->repeatSession()->sentences().at(1).startMs, times.at(1).startMs);
    const double rate = childNamed<QDoubleSpinBox>(*window, "doubleSpinBoxRate")->value();
    window->mediaEngine()->setVolume(0.5f);
    window->repeatSession()->seekTo(window->repeatSession()->sentences().at(1).startMs);

    typeKey(Qt::Key_Down);
    typeKey(Qt::Key_Down);
    QVERIFY(qAbs(window->mediaEngine()->volume() - 0.4f) < 1e-4f);
    QCOMPARE(childNamed<QDoubleSpinBox>(*window, "doubleSpinBoxRate")->value(), rate);
    typeKey(Qt::Key_N);
    QCOMPARE(window->repeatSession()->currentSentence(), 2);
}

void tst_Keys::sliderClickJumps_data()
{
    QTest::addColumn<double>("at"); // share of the slider's width
    QTest::newRow("a third in") << 0.33;
    QTest::newRow("near the end") << 0.9;
}

// A click on the groove jumps there at once, without a drag.
void tst_Keys::sliderClickJumps()
{
    QFETCH(double, at);
    auto window = openStill(lessonPath, 2000);
    QVERIFY(window);
    window->repeatSession()->setPlayMode(PlayMode(0));
    QSlider *slider = childNamed<QSlider>(*window, "horizontalSlider");
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(int(slider->width() * at), slider->height() / 2));
    const int span = slider->maximum() - slider->minimum();
    const double expected = slider->minimum() + span * at;
    QVERIFY2(qAbs(slider->value() - expected) < span * 0.05, qPrintable(QString::number(slider->value())));
    QTRY_COMPARE(window->mediaEngine()->position(), qint64(slider->value()));
    QTRY_VERIFY(!window->repeatSession()->isSliderHeld());
}

QTEST_MAIN(tst_Keys)
#include "tst_keys.moc"
