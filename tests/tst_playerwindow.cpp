#include "player/playerwindow.h"
#include "scriptedengine.h"
#include "testsupport.h"
#include "ui_playerwindow.h"

#include <QGraphicsProxyWidget>
#include <QGraphicsTextItem>
#include <QGraphicsVideoItem>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
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
    void exportGenerationButtonNeverVisible();
    void lessonPathsInAnyScriptPlay_data();
    void lessonPathsInAnyScriptPlay();
    void unplayableFileSaysSo_data();
    void unplayableFileSaysSo();
    void terminationEndsStalledProgram();

private:
    static void showFrame(PlayerWindow &window, const QSize &size);
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
    window.player->videoSink()->setVideoFrame(frame);
}

void tst_PlayerWindow::formMatchesDesign()
{
    PlayerWindow window(nullptr, QString());
    QCOMPARE(window.size(), QSize(900, 600));
    QVERIFY(window.windowTitle().startsWith("复读机播放器OrviLoop   [空格] 暂停/播放"));
    QCOMPARE(window.ui->comboPlayMode->count(), 3);
    QCOMPARE(window.ui->comboPlayMode->itemText(2), QString("自动下一句"));
    QCOMPARE(window.ui->comboSubtitleMode->itemText(3), QString("末轮显示"));
    QCOMPARE(window.ui->btnSkipSentence->toolTip(), QString("把当前句加入组2并进入下一句（↓）"));
    QCOMPARE(window.ui->spinRepeat->minimum(), 1);
    QCOMPARE(window.ui->spinRepeat->maximum(), 100);
    QCOMPARE(window.ui->horizontalSlider->width(), 300);
    QCOMPARE(window.ui->btnBack->maximumWidth(), 70);
    QCOMPARE(window.ui->doubleSpinBoxRate->minimum(), 0.6);
    QCOMPARE(window.ui->doubleSpinBoxRate->maximum(), 2.0);
    QCOMPARE(window.ui->doubleSpinBoxRate->value(), 1.0);
    QCOMPARE(window.focusPolicy(), Qt::StrongFocus);
    QCOMPARE(window.ui->btnPlayPause->focusPolicy(), Qt::NoFocus);
    QCOMPARE(window.ui->videoView->focusPolicy(), Qt::NoFocus);
    QCOMPARE(window.subtitleTextItem->font().pointSize(), 36);
    QCOMPARE(window.subtitleTextItem->defaultTextColor(), QColor(Qt::white));
}

void tst_PlayerWindow::missingFileStillShowsWindow()
{
    PlayerWindow window(nullptr, settingsDir.filePath("no such lesson.mp4"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.ui->btnPlayPause->isVisible());
    // The back end may report playing for a moment before it gives up on the file.
    QTRY_VERIFY(window.busyIndicator->isVisible());
    QVERIFY(window.busyIndicatorProxy->isVisible());
    QVERIFY(window.donationLabel->isVisible());
    QVERIFY(!window.donationLabel->pixmap().isNull());
    QVERIFY(window.subtitles.isEmpty());
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
    QCOMPARE(window.subtitleFontPointSize(), 36);
    showFrame(window, video);
    QCOMPARE(window.subtitleFontPointSize(), points);
    QCOMPARE(window.subtitleTextItem->font().pointSize(), points);
}

void tst_PlayerWindow::viewLeavesRoomAboveAndBelowVideo()
{
    PlayerWindow window(nullptr, QString(), new ScriptedEngine); // frames come from the test
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    showFrame(window, QSize(640, 360));
    QTRY_COMPARE(window.videoItem->size(), QSizeF(640, 360));
    const QRectF videoRect = window.videoItem->boundingRect();
    const QRectF viewRect = window.ui->videoView->sceneRect();
    QCOMPARE(viewRect.height(), videoRect.height() + 400);
    QCOMPARE(viewRect.top(), videoRect.top() - 200);
    QCOMPARE(viewRect.width(), videoRect.width());
    QCOMPARE(window.subtitleTextItem->textWidth(), window.videoItem->sceneBoundingRect().width());
}

void tst_PlayerWindow::donationLabelSitsInsideView()
{
    PlayerWindow window(nullptr, QString());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QSize view = window.ui->videoView->size();
    QCOMPARE(window.donationLabel->pos(), QPoint(10, view.height() - 150 - 10));
}

void tst_PlayerWindow::exportGenerationButtonNeverVisible()
{
    PlayerWindow window(nullptr, QString());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!window.ui->btnFilterMp3->isVisible());
    QVERIFY(window.ui->btnExportMp3->isVisible());
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
        QCOMPARE(window.currentFile, path);
        QTRY_VERIFY_WITH_TIMEOUT(window.player->mediaStatus() != QMediaPlayer::LoadingMedia &&
                                     window.player->mediaStatus() != QMediaPlayer::NoMedia,
                                 10000);
        QVERIFY(window.player->mediaStatus() != QMediaPlayer::InvalidMedia);
        QVERIFY(window.player->duration() > 2500);
        played = window.player->source();
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

QTEST_MAIN(tst_PlayerWindow)
#include "tst_playerwindow.moc"
