#include "player/playerwindow.h"
#include "scriptedengine.h"
#include "testsupport.h"
#include "ui_playerwindow.h"

#include <QGraphicsTextItem>
#include <QGraphicsVideoItem>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QTest>
#include <QVideoFrame>
#include <QVideoFrameFormat>
#include <QVideoSink>

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
    void overlayBarsSitWholeOverTheVideo_data();
    void overlayBarsSitWholeOverTheVideo();
    void exportGenerationButtonNeverVisible();
    void lessonPathsInAnyScriptPlay_data();
    void lessonPathsInAnyScriptPlay();

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

void tst_PlayerWindow::overlayBarsSitWholeOverTheVideo_data()
{
    QTest::addColumn<bool>("fullScreen");
    QTest::newRow("window") << false;
    QTest::newRow("full screen") << true;
}

// The busy indicator and the pause-to-speak bar: whole, in the middle of the video.
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
    QTRY_COMPARE(window.videoItem->size(), QSizeF(640, 360));
    const QGraphicsView *view = window.ui->videoView;
    const QRect video = view->mapFromScene(window.videoItem->sceneBoundingRect()).boundingRect();
    for (const QProgressBar *bar : {window.busyIndicator, window.shadowPauseBar}) {
        QCOMPARE(bar->parentWidget(), view);
        QCOMPARE(bar->geometry().center(), view->rect().center());
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

QTEST_MAIN(tst_PlayerWindow)
#include "tst_playerwindow.moc"
