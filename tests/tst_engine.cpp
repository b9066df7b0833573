#include "playerwindowtest.h"
#include "testsupport.h"

#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <memory>

// The window between the media engine and the repeat session, on a scripted engine: what the
// engine reports reaches the session, what the session decides reaches the engine, and the
// controls show both. The drill's own decisions are tst_repeatsession's.

class tst_Engine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void reportsReachSessionAndControls();
    void sliderRangeFollowsPlayList();
    void playModeChange_data();
    void playModeChange();
    void playModeWithoutSubtitles();
    void repeatCountChange();
    void playButtonAndSpace_data();
    void playButtonAndSpace();
    void backClosesAndEndsEventLoop(); // last: it leaves the application quitting

private:
    template <typename T> static T *control(const PlayerWindow &w, const char *name)
    {
        return w.findChild<T *>(QString::fromLatin1(name));
    }

    QTemporaryDir settingsDir;
};

void tst_Engine::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    useTemporarySettings(settingsDir);
}

void tst_Engine::init()
{
    clearSettings();
}

// A report moves the slider and the time, and the session's seek at the end of the pass reaches
// the engine, with the end point of the next pass.
void tst_Engine::reportsReachSessionAndControls()
{
    auto w = PlayerWindowTest::open(Times{{1000, 2000}, {5000, 6000}}, 1);
    ScriptedEngine &engine = PlayerWindowTest::engine(*w);
    PlayerWindowTest::report(*w, 1500);
    QCOMPARE(control<QSlider>(*w, "horizontalSlider")->value(), 1500);
    QCOMPARE(control<QLabel>(*w, "labelCurrentTime")->text(), QString("00:01 / 01:00"));
    QCOMPARE(engine.endPoint(), qint64(2500));
    PlayerWindowTest::report(*w, 2500);
    QCOMPARE(engine.seeks, QList<qint64>{500});
    QCOMPARE(engine.endPoint(), qint64(2500));
    QCOMPARE(w->repeatSession()->text(), QString("Sentence 0"));
}

void tst_Engine::sliderRangeFollowsPlayList()
{
    auto w = PlayerWindowTest::open(Times{{1000, 2000}, {2500, 3000}, {4000, 5000}, {6000, 7000}}, 1, {1, 2});
    auto *slider = control<QSlider>(*w, "horizontalSlider");
    QCOMPARE(slider->minimum(), 1000);
    QCOMPARE(slider->maximum(), 7000);
    control<QPushButton>(*w, "btnSwitchGroup")->click();
    QCOMPARE(slider->minimum(), 2500);
    QCOMPARE(slider->maximum(), 5000);
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
}

void tst_Engine::playModeChange()
{
    QFETCH(int, index);
    QFETCH(int, expectedMode);
    QFETCH(bool, manualMoves);
    QFETCH(bool, repeatControls);
    auto w = PlayerWindowTest::open(Times{{1000, 2000}, {5000, 6000}}, index == 0 ? 1 : 0);
    control<QComboBox>(*w, "comboPlayMode")->setCurrentIndex(index);
    QCOMPARE(int(w->repeatSession()->playMode()), expectedMode);
    QCOMPARE(control<QPushButton>(*w, "btnNextSentence")->isEnabled(), manualMoves);
    QCOMPARE(control<QPushButton>(*w, "btnSkipSentence")->isEnabled(), manualMoves);
    QCOMPARE(!control<QSpinBox>(*w, "spinRepeat")->isHidden(), repeatControls);
    QCOMPARE(!control<QLabel>(*w, "label4")->isHidden(), repeatControls);
    QCOMPARE(QSettings("Orvi", "OrviLoop").value("global/playMode").toInt(), expectedMode);
}

// Without sentences the list shows normal play; the mode asked for is kept and stored.
void tst_Engine::playModeWithoutSubtitles()
{
    auto w = PlayerWindowTest::open(Times{}, 0);
    auto *combo = control<QComboBox>(*w, "comboPlayMode");
    combo->setCurrentIndex(2);
    QCOMPARE(w->repeatSession()->requestedPlayMode(), PlayMode::AutoNext);
    QCOMPARE(w->repeatSession()->playMode(), PlayMode::NormalPlay);
    QCOMPARE(combo->currentIndex(), 0);
    QVERIFY(!control<QPushButton>(*w, "btnNextSentence")->isEnabled());
    QCOMPARE(QSettings("Orvi", "OrviLoop").value("global/playMode").toInt(), 2);
}

void tst_Engine::repeatCountChange()
{
    auto w = PlayerWindowTest::open(Times{{1000, 2000}}, 2);
    control<QSpinBox>(*w, "spinRepeat")->setValue(4);
    QCOMPARE(w->repeatSession()->repeatCount(), 4);
    QCOMPARE(QSettings("Orvi", "OrviLoop").value("global/repeatCount").toInt(), 4);
}

void tst_Engine::playButtonAndSpace_data()
{
    QTest::addColumn<bool>("space");
    QTest::newRow("the button") << false;
    QTest::newRow("Space") << true;
}

// The button shows what playback does, whichever of the two the learner used.
void tst_Engine::playButtonAndSpace()
{
    QFETCH(bool, space);
    auto w = PlayerWindowTest::open(Times{{1000, 2000}}, 1);
    auto *button = control<QPushButton>(*w, "btnPlayPause");
    const auto toggle = [&] {
        if (space)
            QTest::keyClick(w.get(), Qt::Key_Space);
        else
            button->click();
    };
    const MediaEngine *engine = w->mediaEngine();
    for (const auto &[state, text] :
         {std::pair{QMediaPlayer::PlayingState, "⏹"}, std::pair{QMediaPlayer::PausedState, "▶"},
          std::pair{QMediaPlayer::PlayingState, "⏹"}}) {
        toggle();
        QTRY_COMPARE(engine->playbackState(), state);
        QCOMPARE(button->text(), QString(text));
    }
}

void tst_Engine::backClosesAndEndsEventLoop()
{
    auto w = PlayerWindowTest::open(Times{{1000, 2000}}, 1);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QEventLoop loop;
    QTimer::singleShot(0, w.get(), [&] { control<QPushButton>(*w, "btnBack")->click(); });
    QTimer::singleShot(5000, &loop, [&] { loop.exit(99); });
    QCOMPARE(loop.exec(), 0);
    QVERIFY(!w->isVisible());
}

QTEST_MAIN(tst_Engine)
#include "tst_engine.moc"
