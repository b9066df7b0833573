#include "core/settings/settings.h"
#include "gui/player/playerwindow.h"
#include "mainwindowtest.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace MainWindowTest;

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void firstRunListsApplicationDirectory();
    void mediaListFiltersAndOrders();
    void everyPlayableFormatIsListed_data();
    void everyPlayableFormatIsListed();
    void missingWorkingDirectoryListsNothing();
    void rootDirWrittenOnClose();
    void rootDirNotWrittenWithoutClose();
    void openPlayerWarnsWithoutSubtitle_data();
    void openPlayerWarnsWithoutSubtitle();
    void openPlayerIgnoresMissingFile();
    void openLessonIsRaisedNotOpenedTwice();
    void arrowsAndEnterOpenALesson();
    void playerClosedAloneSavesItsState();
    void subtitleLanguageChosen_data();
    void subtitleLanguageChosen();

private:
    static QString storedRootDir();
    static void touch(const QString &path);
    // Runs openPlayer and returns the text of the warning box it showed, if any.
    static QString openAndCatchWarning(MainWindow &window, const QString &path);

    QTemporaryDir settingsDir;
    QTemporaryDir mediaDir;
};

void tst_MainWindow::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    QVERIFY(mediaDir.isValid());
    useTemporarySettings(settingsDir);
}

void tst_MainWindow::init()
{
    clearSettings();
}

QString tst_MainWindow::storedRootDir()
{
    return QSettings("Orvi", "OrviLoop").value("global/rootDir").toString();
}

void tst_MainWindow::touch(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

void tst_MainWindow::firstRunListsApplicationDirectory()
{
    MainWindow window;
    const QString here = QCoreApplication::applicationDirPath();
    QCOMPARE(placeShown(window), "文件夹：" + QDir::toNativeSeparators(here));
    // The build puts the demo lesson beside the executables.
    QVERIFY(lessons(window).contains(here + "/OrviLoop Demo Audio.mp3"));
    QCOMPARE(window.windowTitle(), QString("Orvi 复读机播放器"));
}

void tst_MainWindow::mediaListFiltersAndOrders()
{
    QTemporaryDir dir;
    touch(dir.filePath("movie.MP4"));
    touch(dir.filePath("a.mp3"));
    touch(dir.filePath("notes.txt"));
    touch(dir.filePath("课文.flac"));
    QVERIFY(QDir(dir.path()).mkdir("clip.mp4"));
    QSettings("Orvi", "OrviLoop").setValue("global/rootDir", dir.path());

    MainWindow window;
    QCOMPARE(rows(window), (QStringList{"a.mp3", "movie.MP4", "课文.flac"}));
    QCOMPARE(lessons(window),
             (QStringList{dir.filePath("a.mp3"), dir.filePath("movie.MP4"), dir.filePath("课文.flac")}));
}

void tst_MainWindow::everyPlayableFormatIsListed_data()
{
    QTest::addColumn<QString>("name");
    for (const char *name : {"a.flv", "b.m4a", "c.webm", "d.ogg", "e.opus", "f.WAV", "g.FLAC", "h.mov"})
        QTest::newRow(name) << QString(name);
}

void tst_MainWindow::everyPlayableFormatIsListed()
{
    QFETCH(QString, name);
    QTemporaryDir dir;
    touch(dir.filePath(name));
    touch(dir.filePath(name + ".srt"));
    QSettings("Orvi", "OrviLoop").setValue("global/rootDir", dir.path());
    MainWindow window;
    QCOMPARE(rows(window), QStringList{name});
    // The status bar names the folder listed.
    QCOMPARE(placeShown(window), "文件夹：" + QDir::toNativeSeparators(dir.path()));
}

void tst_MainWindow::missingWorkingDirectoryListsNothing()
{
    const QString gone = mediaDir.filePath("gone");
    QSettings("Orvi", "OrviLoop").setValue("global/rootDir", gone);
    {
        MainWindow window;
        QVERIFY(rows(window).isEmpty());
        QCOMPARE(placeShown(window), "文件夹不存在：" + QDir::toNativeSeparators(gone));
    }
    QCOMPARE(storedRootDir(), gone);
}

void tst_MainWindow::rootDirWrittenOnClose()
{
    MainWindow window;
    chooseFolder(window, mediaDir.path());
    QCOMPARE(placeShown(window), "文件夹：" + QDir::toNativeSeparators(mediaDir.path()));
    QVERIFY(storedRootDir().isEmpty());
    window.close();
    QCOMPARE(storedRootDir(), mediaDir.path());
}

void tst_MainWindow::rootDirNotWrittenWithoutClose()
{
    QSettings("Orvi", "OrviLoop").setValue("global/rootDir", mediaDir.path());
    // A window that is never closed nor destroyed stands for a killed process. It stays
    // reachable to the end so that the leak checker does not count it.
    static MainWindow *window = nullptr;
    window = new MainWindow;
    chooseFolder(*window, settingsDir.path());
    QCOMPARE(placeShown(*window), "文件夹：" + QDir::toNativeSeparators(settingsDir.path()));
    QCOMPARE(storedRootDir(), mediaDir.path());
    window->hide();
}

QString tst_MainWindow::openAndCatchWarning(MainWindow &window, const QString &path)
{
    QString warning;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, &timer, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            warning = box->windowTitle() + "|" + box->text();
            box->accept();
        }
    });
    timer.start();
    window.openPlayer(path);
    // The player looks for the subtitle as it opens its lesson, once it is shown; the warning follows.
    if (auto *player = window.findChild<PlayerWindow *>()) {
        QSignalSpy opened(player, &PlayerWindow::lessonOpened);
        if (opened.wait(10000))
            QCoreApplication::processEvents();
    }
    return warning;
}

void tst_MainWindow::openPlayerWarnsWithoutSubtitle_data()
{
    QTest::addColumn<QString>("media");
    QTest::addColumn<QString>("subtitle");
    QTest::addColumn<bool>("warns");
    QTest::newRow("srt beside") << "talk.mp4"
                                << "talk.srt" << false;
    QTest::newRow("srt1 beside") << "talk2.mp4"
                                 << "talk2.srt1" << false;
    QTest::newRow("none") << "bare.mp4"
                          << "" << true;
    QTest::newRow("a.b looks for a.b.srt, not a.srt") << "a.b.mp4"
                                                      << "a.srt1" << true;
    QTest::newRow("utf8 name") << "第一课.mp3"
                               << "第一课.srt" << false;
    QTest::newRow("webvtt beside") << "talk3.mp4"
                                   << "talk3.vtt" << false;
}

void tst_MainWindow::openPlayerWarnsWithoutSubtitle()
{
    QFETCH(QString, media);
    QFETCH(QString, subtitle);
    QFETCH(bool, warns);
    QTemporaryDir dir;
    touch(dir.filePath(media));
    if (!subtitle.isEmpty()) {
        QFile srt(dir.filePath(subtitle));
        QVERIFY(srt.open(QIODevice::WriteOnly));
        srt.write(subtitle.endsWith(".vtt") ? "WEBVTT\n\n00:00.000 --> 00:01.000\nHello\n"
                                            : "1\n00:00:00,000 --> 00:00:01,000\nHello\n");
    }
    MainWindow window;
    const QString warning = openAndCatchWarning(window, dir.filePath(media));
    QCOMPARE(warning.isEmpty(), !warns);
    if (warns)
        QVERIFY2(warning.startsWith("提示|未找到对应字幕"), qPrintable(warning));
    const auto players = window.findChildren<PlayerWindow *>();
    QCOMPARE(players.size(), 1);
    QVERIFY(players.first()->isVisible());
}

void tst_MainWindow::openPlayerIgnoresMissingFile()
{
    MainWindow window;
    const QString warning = openAndCatchWarning(window, mediaDir.filePath("nothing.mp4"));
    QVERIFY(warning.isEmpty());
    QVERIFY(window.findChildren<PlayerWindow *>().isEmpty());
    window.openPlayer(QString());
    QVERIFY(window.findChildren<PlayerWindow *>().isEmpty());
}

// Two windows on one lesson would write their times, groups and places over each other's.
void tst_MainWindow::openLessonIsRaisedNotOpenedTwice()
{
    QTemporaryDir dir;
    touch(dir.filePath("lesson.mp4"));
    touch(dir.filePath("lesson.srt"));
    MainWindow window;
    window.openPlayer(dir.filePath("lesson.mp4"));
    const QPointer<PlayerWindow> first = window.findChildren<PlayerWindow *>().value(0);
    QVERIFY(first);
    // Another spelling of the same file is the same lesson.
    window.openPlayer(dir.path() + "/./lesson.mp4");
    QCOMPARE(window.findChildren<PlayerWindow *>(), QList<PlayerWindow *>{first});

    // A closed window is gone, so the next opening is a new one.
    first->close();
    QTRY_VERIFY(!first);
    window.openPlayer(dir.filePath("lesson.mp4"));
    QCOMPARE(window.findChildren<PlayerWindow *>().size(), 1);
}

// The list has the keys as the window opens: a lesson is chosen and opened without the mouse.
void tst_MainWindow::arrowsAndEnterOpenALesson()
{
    QTemporaryDir dir;
    for (const char *name : {"a.mp3", "a.srt", "b.mp3", "b.srt"})
        touch(dir.filePath(name));
    Settings stored = Settings::load();
    stored.rootDir = dir.path();
    stored.save();
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(QApplication::focusWidget(), list(window));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    const auto players = window.findChildren<PlayerWindow *>();
    QCOMPARE(players.size(), 1);
    QCOMPARE(players.first()->lessonFile(), dir.filePath("b.mp3"));
}

// The window manager's close button closes the player as closing always did: its state is
// saved, and the library window stays.
void tst_MainWindow::playerClosedAloneSavesItsState()
{
    const QString lesson = QCoreApplication::applicationDirPath() + "/OrviLoop Demo Audio.mp3";
    QVERIFY(QFileInfo::exists(lesson));
    MainWindow window;
    window.show();
    window.openPlayer(lesson);
    QPointer<PlayerWindow> player = window.findChild<PlayerWindow *>();
    QVERIFY(player);
    QVERIFY(QTest::qWaitForWindowExposed(player));
    QVERIFY(player->close());
    QTRY_VERIFY(!player);
    QVERIFY(window.isVisible());
    QCOMPARE(QSettings("Orvi", "OrviLoop").value("global/lastFile").toString(), lesson);
}

void tst_MainWindow::subtitleLanguageChosen_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("storedAfter");
    QTest::newRow("first run, Chinese chosen") << ""
                                               << "字幕轨:第一条"
                                               << "字幕轨:中文"
                                               << "zh";
    QTest::newRow("English, back to the first track") << "en"
                                                      << "字幕轨:英语"
                                                      << "字幕轨:第一条"
                                                      << "";
    QTest::newRow("a code set by hand is kept") << "jpn"
                                                << "字幕轨:jpn"
                                                << "字幕轨:jpn"
                                                << "jpn";
}

// The language of the media's text track that the next lessons take.
void tst_MainWindow::subtitleLanguageChosen()
{
    QFETCH(QString, stored);
    QFETCH(QString, shown);
    QFETCH(QString, choice);
    QFETCH(QString, storedAfter);
    Settings settings = Settings::load();
    settings.subtitleLanguage = stored;
    settings.save();
    MainWindow window;
    auto *languages = childNamed<QComboBox>(window, "comboSubtitleLanguage");
    QCOMPARE(languages->currentText(), shown);
    languages->setCurrentText(choice);
    QCOMPARE(Settings::load().subtitleLanguage, storedAfter);
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
