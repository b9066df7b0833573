#include "gui/player/playerwindow.h"
#include "playerwindowtest.h"
#include "scriptedengine.h"
#include "testsupport.h"
#include "ui_playerwindow.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGraphicsProxyWidget>
#include <QGraphicsTextItem>
#include <QGraphicsVideoItem>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QTest>
#include <QVideoFrame>
#include <QVideoFrameFormat>
#include <QVideoSink>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/stat.h>
#endif

class tst_PlayerWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void formMatchesDesign();
    void missingFileStillShowsWindow();
    void subtitleFontFollowsVideoHeight_data();
    void subtitleFontFollowsVideoHeight();
    void viewLeavesRoomAboveAndBelowVideo();
    void donationLabelSitsInsideView();
    void pictureGivesWayToTheSentence();
    void overlayBarsSitWholeOverTheVideo_data();
    void overlayBarsSitWholeOverTheVideo();
    void exportGenerationButtonNeverVisible();
    void lessonPathsInAnyScriptPlay_data();
    void lessonPathsInAnyScriptPlay();
    void unplayableFileSaysSo_data();
    void unplayableFileSaysSo();
    void terminationEndsStalledProgram();
    void fitsLaptopScreenInEveryPlayMode_data();
    void fitsLaptopScreenInEveryPlayMode();
    void oneNumberFormatInAnyLocale_data();
    void oneNumberFormatInAnyLocale();
    void sentenceReadableWithoutPicture();
    void showsLessonNameAndLength();

private:
    static void showFrame(PlayerWindow &window, const QSize &size);
    static int textWidth(QWidget *control);
    QTemporaryDir settingsDir;
};

void tst_PlayerWindow::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    useTemporarySettings(settingsDir);
}

void tst_PlayerWindow::init()
{
    clearSettings();
}

void tst_PlayerWindow::showFrame(PlayerWindow &window, const QSize &size)
{
    QVideoFrame frame(QVideoFrameFormat(size, QVideoFrameFormat::Format_BGRA8888));
    window.mediaEngine()->videoSink()->setVideoFrame(frame);
}

void tst_PlayerWindow::formMatchesDesign()
{
    PlayerWindow window(nullptr, QString());
    QCOMPARE(window.size(), QSize(900, 600));
    QCOMPARE(window.windowTitle(),
             QString("复读机播放器OrviLoop   [空格] 暂停/播放  [N] 下一句  [F12] 加入组2  [F] 全屏"));
    QCOMPARE(childNamed<QComboBox>(window, "comboPlayMode")->count(), 3);
    QCOMPARE(childNamed<QComboBox>(window, "comboPlayMode")->itemText(2), QString("自动下一句"));
    QCOMPARE(childNamed<QComboBox>(window, "comboSubtitleMode")->itemText(3), QString("末轮显示"));
    QCOMPARE(childNamed<QPushButton>(window, "btnSkipSentence")->toolTip(),
             QString("把当前句加入组2并进入下一句（F12）"));
    QCOMPARE(childNamed<QSpinBox>(window, "spinRepeat")->minimum(), 1);
    QCOMPARE(childNamed<QSpinBox>(window, "spinRepeat")->maximum(), 100);
    // The window manager's own buttons, the close button among them.
    QVERIFY(!window.windowFlags().testFlag(Qt::CustomizeWindowHint));
    QCOMPARE(childNamed<QDoubleSpinBox>(window, "doubleSpinBoxRate")->minimum(), 0.6);
    QCOMPARE(childNamed<QDoubleSpinBox>(window, "doubleSpinBoxRate")->maximum(), 2.0);
    QCOMPARE(childNamed<QDoubleSpinBox>(window, "doubleSpinBoxRate")->value(), 1.0);
    QCOMPARE(window.focusPolicy(), Qt::StrongFocus);
    QCOMPARE(childNamed<QPushButton>(window, "btnPlayPause")->focusPolicy(), Qt::NoFocus);
    QCOMPARE(childNamed<QGraphicsView>(window, "videoView")->focusPolicy(), Qt::NoFocus);
    QCOMPARE(window.subtitleItem()->font().pointSize(), 36);
    QCOMPARE(window.subtitleItem()->defaultTextColor(), QColor(Qt::white));
}

void tst_PlayerWindow::missingFileStillShowsWindow()
{
    PlayerWindow window(nullptr, settingsDir.filePath("no such lesson.mp4"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(childNamed<QPushButton>(window, "btnPlayPause")->isVisible());
    // The back end may report playing for a moment before it gives up on the file.
    QTRY_VERIFY(childNamed<QProgressBar>(window, "busyIndicator")->isVisible());
    QVERIFY(childNamed<QLabel>(window, "donationLabel")->isVisible());
    QVERIFY(!childNamed<QLabel>(window, "donationLabel")->pixmap().isNull());
    QVERIFY(window.repeatSession()->sentences().isEmpty());
}

void tst_PlayerWindow::subtitleFontFollowsVideoHeight_data()
{
    QTest::addColumn<QSize>("video");
    QTest::addColumn<int>("points");
    QTest::newRow("1080 lines") << QSize(1920, 1080) << 48;
    QTest::newRow("360 lines clamped up") << QSize(640, 360) << 18;
    QTest::newRow("4320 lines clamped down") << QSize(7680, 4320) << 120;
    QTest::newRow("720 lines") << QSize(1280, 720) << 32;
}

void tst_PlayerWindow::subtitleFontFollowsVideoHeight()
{
    QFETCH(QSize, video);
    QFETCH(int, points);
    PlayerWindow window(nullptr, QString(), new ScriptedEngine); // frames come from the test
    QCOMPARE(window.subtitleItem()->font().pointSize(), 36);
    showFrame(window, video);
    QCOMPARE(window.subtitleItem()->font().pointSize(), points);
}

void tst_PlayerWindow::viewLeavesRoomAboveAndBelowVideo()
{
    PlayerWindow window(nullptr, QString(), new ScriptedEngine); // frames come from the test
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    showFrame(window, QSize(640, 360));
    QTRY_COMPARE(window.videoOutput()->size(), QSizeF(640, 360));
    const QRectF videoRect = window.videoOutput()->boundingRect();
    const QRectF viewRect = childNamed<QGraphicsView>(window, "videoView")->sceneRect();
    QCOMPARE(viewRect.height(), videoRect.height() + 400);
    QCOMPARE(viewRect.top(), videoRect.top() - 200);
    QCOMPARE(viewRect.width(), videoRect.width());
    QCOMPARE(window.subtitleItem()->textWidth(), window.videoOutput()->sceneBoundingRect().width());
}

void tst_PlayerWindow::donationLabelSitsInsideView()
{
    PlayerWindow window(nullptr, QString());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QSize view = childNamed<QGraphicsView>(window, "videoView")->size();
    QCOMPARE(childNamed<QLabel>(window, "donationLabel")->pos(), QPoint(10, view.height() - 150 - 10));
}

// A sentence long enough to wrap reaches the corner the picture lies in; the picture is hidden
// while that sentence is shown, and back for a short one.
void tst_PlayerWindow::pictureGivesWayToTheSentence()
{
    const QString longSentence =
        "Thank you very much for all of the kind help you gave us with the lessons today, "
        "and for the patience you showed every one of us in the class this morning\n"
        "非常感谢你今天在课程上给我们的所有帮助，也感谢你今天早上对班上每个人的耐心";
    auto window = PlayerWindowTest::open({{0, 1000, 3000, longSentence}, {1, 4000, 6000, "Hi"}}, 1);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    showFrame(*window, QSize(1280, 720));
    auto *picture = childNamed<QLabel>(*window, "donationLabel");
    const QRect corner = picture->geometry();
    QTRY_VERIFY2(!picture->isVisible(),
                 qPrintable(QString("picture at %1,%2; sentence at %3")
                                .arg(corner.x())
                                .arg(corner.y())
                                .arg(window->subtitleItem()->sceneBoundingRect().y())));
    PlayerWindowTest::goTo(*window, 1);
    QTRY_VERIFY(picture->isVisible());
    QCOMPARE(picture->geometry(), corner);
}

void tst_PlayerWindow::overlayBarsSitWholeOverTheVideo_data()
{
    QTest::addColumn<bool>("fullScreen");
    QTest::newRow("window") << false;
    QTest::newRow("full screen") << true;
}

// The busy indicator and the pause-to-speak bar: whole, over the video, below the sentence.
void tst_PlayerWindow::overlayBarsSitWholeOverTheVideo()
{
    QFETCH(bool, fullScreen);
    PlayerWindow window(nullptr, QString(), new ScriptedEngine);
    if (fullScreen)
        window.showFullScreen();
    else
        window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    showFrame(window, QSize(640, 360));
    QTRY_COMPARE(window.videoOutput()->size(), QSizeF(640, 360));
    const QGraphicsView *view = childNamed<QGraphicsView>(window, "videoView");
    const QRect video = view->mapFromScene(window.videoOutput()->sceneBoundingRect()).boundingRect();
    for (const QProgressBar *bar : {childNamed<QProgressBar>(window, "busyIndicator"),
                                    childNamed<QProgressBar>(window, "shadowPauseBar")}) {
        QCOMPARE(bar->parentWidget(), view);
        QCOMPARE(bar->geometry().center(), QPoint(view->rect().center().x(), view->height() * 3 / 4));
        QVERIFY2(
            video.contains(bar->geometry()),
            qPrintable(
                QString("%1,%2 %3x%4").arg(bar->x()).arg(bar->y()).arg(bar->width()).arg(bar->height())));
    }
}

void tst_PlayerWindow::exportGenerationButtonNeverVisible()
{
    PlayerWindow window(nullptr, QString());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!childNamed<QPushButton>(window, "btnFilterMp3")->isVisible());
    QVERIFY(childNamed<QPushButton>(window, "btnExportMp3")->isVisible());
}

void tst_PlayerWindow::lessonPathsInAnyScriptPlay_data()
{
    QTest::addColumn<QString>("relativePath");
    QTest::newRow("ascii with blanks") << "my lessons/lesson one.wav";
    QTest::newRow("chinese folder and name") << "课文/第一课 听力.wav";
    QTest::newRow("latin-1 accents") << "leçons/été.wav";
    QTest::newRow("chinese suffix") << "lesson.音频";
}

void tst_PlayerWindow::lessonPathsInAnyScriptPlay()
{
    QFETCH(QString, relativePath);
    const QString path = settingsDir.filePath(relativePath);
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    const QStringList tone{"-hide_banner", "-loglevel", "error", "-y",
                           "-f",           "lavfi",     "-i",    "sine=frequency=440:duration=3",
                           "-f",           "wav",       path};
    QCOMPARE(QProcess::execute("ffmpeg", tone), 0);

    QUrl played;
    {
        PlayerWindow window(nullptr, path);
        QCOMPARE(window.lessonFile(), path);
        QTRY_VERIFY_WITH_TIMEOUT(window.mediaEngine()->mediaStatus() != QMediaPlayer::LoadingMedia &&
                                     window.mediaEngine()->mediaStatus() != QMediaPlayer::NoMedia,
                                 10000);
        QVERIFY(window.mediaEngine()->mediaStatus() != QMediaPlayer::InvalidMedia);
        QVERIFY(window.mediaEngine()->duration() > 2500);
        played = window.mediaEngine()->source();
    }
    // A link made for playing goes with the window; the lesson itself stays.
    QVERIFY(QFileInfo::exists(path));
    if (played != QUrl::fromLocalFile(path))
        QVERIFY(!QFileInfo::exists(played.toLocalFile()));
}

void tst_PlayerWindow::unplayableFileSaysSo_data()
{
    QTest::addColumn<QByteArray>("contents"); // "cut": the first kilobytes of a real MP4
    QTest::newRow("zero bytes") << QByteArray();
    QTest::newRow("text") << QByteArray("not a video at all\n");
    QTest::newRow("cut mp4") << QByteArray("cut");
    // A local file never leads to a network address, whatever it names inside.
    QTest::newRow("playlist naming a server") << QByteArray("#EXTM3U\nhttp://127.0.0.1:%1/lesson.mp4\n");
    QTest::newRow("stream list naming a server")
        << QByteArray("#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:5.0,\nhttp://127.0.0.1:%1/lesson.mp4\n"
                      "#EXT-X-ENDLIST\n");
}

// Both engines say so in the same words, in a box that blocks neither window; no place is
// stored for a file that never played.
void tst_PlayerWindow::unplayableFileSaysSo()
{
    QFETCH(QByteArray, contents);
    QProcess server; // records every request it gets
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start("python3",
                 {"-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "-d", settingsDir.path()});
    QVERIFY(server.waitForReadyRead(10000));
    const QByteArray banner = server.readAll();
    const QByteArray port = banner.mid(banner.indexOf("port ") + 5).split(' ').first();
    const QString path = settingsDir.filePath("unplayable.mp4");
    if (contents == "cut") {
        QCOMPARE(QProcess::execute("ffmpeg", {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                              "testsrc=duration=5:size=320x240", path}),
                 0);
        QVERIFY(QFile::resize(path, 4096));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents.replace("%1", port));
    }
    QFile::copy(path, settingsDir.filePath("lesson.mp4")); // what the playlist names

    QWidget library;
    library.show();
    {
        PlayerWindow window(&library, path);
        window.show();
        QMessageBox *box = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((box = window.findChild<QMessageBox *>()) && box->isVisible(), 15000);
        QVERIFY2(box->text().startsWith("无法播放：" + path), qPrintable(box->text()));
        QCOMPARE(box->windowModality(), Qt::NonModal);
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }
    QVERIFY(QSettings("Orvi", "OrviLoop").childGroups().contains("global"));
    QVERIFY2(!QSettings("Orvi", "OrviLoop").childGroups().contains("files"),
             qPrintable(QSettings("Orvi", "OrviLoop").allKeys().join(' ')));
    QTest::qWait(500);
    QVERIFY2(!server.readAll().contains("GET"), "the player fetched what a local file named");
    server.kill();
    server.waitForFinished();
}

// A lesson that never answers (a pipe nobody writes to) holds the opening; the program still
// ends within a second of SIGTERM.
void tst_PlayerWindow::terminationEndsStalledProgram()
{
#ifdef Q_OS_UNIX
    const QString stalled = settingsDir.filePath("stalled.mp4");
    QVERIFY(::mkfifo(QFile::encodeName(stalled).constData(), 0600) == 0);
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_CONFIG_HOME", settingsDir.filePath("program-config"));
    program.setProcessEnvironment(environment);
    program.start(qEnvironmentVariable("ORVILOOP_BUILD_DIR", QCoreApplication::applicationDirPath()) +
                      "/orviloop",
                  {"--play", stalled});
    QVERIFY(program.waitForStarted());
    QVERIFY(!program.waitForFinished(3000)); // stalled in the opening, not gone
    QElapsedTimer ending;
    ending.start();
    ::kill(pid_t(program.processId()), SIGTERM);
    QVERIFY(program.waitForFinished(5000));
    QVERIFY2(ending.elapsed() < 1200, qPrintable(QString::number(ending.elapsed())));
    QFile::remove(stalled);
#else
    QSKIP("termination signals are a Unix matter");
#endif
}

// How wide a control must be for its whole text: a button's frame, a combo box's arrow besides.
int tst_PlayerWindow::textWidth(QWidget *control)
{
    const QFontMetrics metrics = control->fontMetrics();
    if (const auto *label = qobject_cast<QLabel *>(control))
        return metrics.horizontalAdvance(label->text());
    if (const auto *button = qobject_cast<QAbstractButton *>(control))
        return metrics.horizontalAdvance(button->text()) + 8;
    int widest = 0;
    if (const auto *combo = qobject_cast<QComboBox *>(control)) {
        for (int i = 0; i < combo->count(); ++i)
            widest = qMax(widest, metrics.horizontalAdvance(combo->itemText(i)) + 20);
    }
    return widest;
}

void tst_PlayerWindow::fitsLaptopScreenInEveryPlayMode_data()
{
    QTest::addColumn<int>("playMode");
    QTest::newRow("normal play") << 0;
    QTest::newRow("repeater") << 1;
    QTest::newRow("auto next") << 2;
}

// At its narrowest the window fits 1280 × 720 with the window manager's frame, every control
// showing its whole text, the longest ones included.
void tst_PlayerWindow::fitsLaptopScreenInEveryPlayMode()
{
    QFETCH(int, playMode);
    QList<SubtitleItem> sentences = lessonOf({{1000, 3000}});
    sentences[0].text = "你好";
    auto window = PlayerWindowTest::open(sentences, playMode);
    childNamed<QLabel>(*window, "labelCurrentTime")->setText("01:05:33 / 01:30:00");
    childNamed<QPushButton>(*window, "btnSwitchGroup")->setText("请先分组");
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QSize least = window->minimumSizeHint().expandedTo(window->minimumSize());
    QVERIFY2(least.width() <= 1260 && least.height() <= 680,
             qPrintable(QString("%1 x %2").arg(least.width()).arg(least.height())));
    window->resize(least);
    QTRY_COMPARE(window->width(), least.width());
    const auto controls = childNamed<QWidget>(*window, "centralwidget")->findChildren<QWidget *>();
    for (QWidget *control : controls) {
        if (control->isVisible() && control != childNamed<QLabel>(*window, "labelLesson"))
            QVERIFY2(control->width() >= textWidth(control), qPrintable(control->objectName()));
    }
}

void tst_PlayerWindow::oneNumberFormatInAnyLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::newRow("German decimal comma") << "de_DE";
    QTest::newRow("Chinese") << "zh_CN";
}

// The rate box writes a rate as the list of rates per pass takes it, and takes it back.
void tst_PlayerWindow::oneNumberFormatInAnyLocale()
{
    QFETCH(QString, locale);
    QLocale::setDefault(QLocale(locale));
    auto window = PlayerWindowTest::open(Times{{1000, 3000}}, 2);
    QLocale::setDefault(QLocale::c());
    QDoubleSpinBox *rate = childNamed<QDoubleSpinBox>(*window, "doubleSpinBoxRate");
    rate->setValue(0.7);
    QCOMPARE(rate->text(), QString("0.70"));
    QCOMPARE(rate->valueFromText(rate->text()), 0.7);
    childNamed<QLineEdit>(*window, "editPassRates")->setText(rate->text() + ", 1");
    emit childNamed<QLineEdit>(*window, "editPassRates")->editingFinished();
    QCOMPARE(window->repeatSession()->ratesPerPass(), (QList<double>{0.7, 1.0}));
}

// A lesson without a picture shows its sentence whole and white on a dark view.
void tst_PlayerWindow::sentenceReadableWithoutPicture()
{
    auto window = PlayerWindowTest::open(Times{{1000, 3000}}, 1);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QGraphicsView *view = childNamed<QGraphicsView>(*window, "videoView");
    const auto textRect = [&] {
        return view->mapFromScene(window->subtitleItem()->sceneBoundingRect()).boundingRect();
    };
    // The window lays itself out once shown.
    QTRY_VERIFY(textRect().width() > 100 &&
                view->viewport()->rect().adjusted(-1, -1, 1, 1).contains(textRect()));
    const QRect text = textRect();
    const QImage picture = view->viewport()->grab().toImage();
    int bright = 0;
    int dark = 0;
    for (int y = text.top(); y < text.bottom(); ++y) {
        for (int x = text.left(); x < text.right(); ++x) {
            bright += qGray(picture.pixel(x, y)) > 200;
            dark += qGray(picture.pixel(x, y)) < 60;
        }
    }
    QVERIFY2(bright > 100 && dark > bright, qPrintable(QString("%1 bright, %2 dark").arg(bright).arg(dark)));
}

void tst_PlayerWindow::showsLessonNameAndLength()
{
    {
        PlayerWindow window(nullptr, settingsDir.filePath("第一课 听力.mp3"), new ScriptedEngine);
        QVERIFY(window.windowTitle().startsWith("第一课 听力.mp3 - 复读机播放器OrviLoop   [空格]"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(childNamed<QLabel>(window, "labelLesson")->text(), QString("第一课 听力.mp3"));
    }
    auto window = PlayerWindowTest::open(Times{{1000, 3000}}, 1);
    PlayerWindowTest::report(*window, 2000);
    QCOMPARE(childNamed<QLabel>(*window, "labelCurrentTime")->text(), QString("00:02 / 01:00"));
}

QTEST_MAIN(tst_PlayerWindow)
#include "tst_playerwindow.moc"
