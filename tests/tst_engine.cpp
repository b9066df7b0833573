#include "core/drill/sentencetiming.h"
#include "lessonmedia.h"
#include "playerwindowtest.h"
#include "testsupport.h"

#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
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
    void sliderMovesByWholePixels();
    void playModeChange_data();
    void playModeChange();
    void playModeWithoutSubtitles();
    void repeatCountChange();
    void playButtonAndSpace_data();
    void playButtonAndSpace();
    void engineCarriesOutPassEnd_data();
    void engineCarriesOutPassEnd();
    void noReportFromBeforeSeek_data();
    void noReportFromBeforeSeek();
    void loadedMediaArrives_data();
    void loadedMediaArrives();
    void backClosesAndEndsEventLoop(); // last: it leaves the application quitting

private:
    template <typename T> static T *control(const PlayerWindow &w, const char *name)
    {
        return w.findChild<T *>(QString::fromLatin1(name));
    }

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

// A report within the pixel the handle stands on leaves the slider alone (no repaint); one a
// pixel on moves it to the very place reported.
void tst_Engine::sliderMovesByWholePixels()
{
    auto w = PlayerWindowTest::open(Times{{1000, 2000}, {5000, 6000}}, 1);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    auto *slider = control<QSlider>(*w, "horizontalSlider");
    const int msPerPixel = (slider->maximum() - slider->minimum()) / slider->width();
    QVERIFY(msPerPixel > 2);
    // The value at the middle of the pixel a place within the first sentence falls on.
    const int pixel =
        QStyle::sliderPositionFromValue(slider->minimum(), slider->maximum(), 1300, slider->width());
    const int start =
        QStyle::sliderValueFromPosition(slider->minimum(), slider->maximum(), pixel, slider->width());
    PlayerWindowTest::report(*w, start);
    QCOMPARE(slider->value(), start);
    QSignalSpy moved(slider, &QSlider::valueChanged);
    PlayerWindowTest::report(*w, start + 1);
    QCOMPARE(moved.count(), 0);
    PlayerWindowTest::report(*w, start + 2 * msPerPixel);
    QCOMPARE(slider->value(), start + 2 * msPerPixel);
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
    // As the program does: the engine's libraries are loading on their own thread when it is made.
    prepareMediaEngine();
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
