#include "lessonmedia.h"
#include "gui/player/playerwindow.h"
#include "scriptedengine.h"
#include "core/subtitles/mendedtimes.h"
#include "core/subtitles/srtparser.h"
#include "testsupport.h"

#include "ui_playerwindow.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QStorageInfo>
#include <QTest>
#include <QTimer>

#include <memory>

// A lesson in a folder that takes no writes, a read-only mount or a full disk: mended times are
// neither cut short nor lost, and the learner is told why.

class tst_Unwritable : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void mendedTimesKept_data();
    void mendedTimesKept();
    void exportNamesReadOnlyFolder();

private:
    bool mount(const QStringList &options);
    void fillUpTo(qint64 freeBytes);
    std::unique_ptr<PlayerWindow> openLesson();

    QTemporaryDir settingsDir;
    QTemporaryDir dataDir;
    QTemporaryDir mountPoint;
    QString lessonPath;
};

void tst_Unwritable::initTestCase()
{
    QVERIFY(settingsDir.isValid() && dataDir.isValid() && mountPoint.isValid());
    useTemporarySettings(settingsDir);
    // The times that wait go under the program's data folder: a temporary one here.
    qputenv("XDG_DATA_HOME", dataDir.path().toUtf8());
    lessonPath = mountPoint.filePath("lesson.mp4");
}

void tst_Unwritable::init()
{
    clearSettings();
    QVERIFY(QDir(dataDir.path()).removeRecursively() && QDir().mkpath(dataDir.path()));
    if (!mount({"-t", "tmpfs", "-o", "size=1m", "tmpfs", mountPoint.path()}))
        QSKIP("mounting a file system is not allowed here (the test needs root)");
}

void tst_Unwritable::cleanup()
{
    QProcess::execute("umount", {mountPoint.path()});
}

bool tst_Unwritable::mount(const QStringList &options)
{
    QProcess mount;
    mount.start("mount", options);
    return mount.waitForFinished() && mount.exitStatus() == QProcess::NormalExit && mount.exitCode() == 0;
}

void tst_Unwritable::fillUpTo(qint64 freeBytes)
{
    QFile filler(mountPoint.filePath("filler"));
    QVERIFY(filler.open(QIODevice::WriteOnly));
    const qint64 available = QStorageInfo(mountPoint.path()).bytesAvailable();
    QCOMPARE(filler.write(QByteArray(available - freeBytes, 'x')), available - freeBytes);
}

// The window as a lesson opens in it, on an engine that reads nothing.
std::unique_ptr<PlayerWindow> tst_Unwritable::openLesson()
{
    auto *engine = new ScriptedEngine;
    auto window = std::make_unique<PlayerWindow>(nullptr, QString(), engine);
    QObject::disconnect(engine, &MediaEngine::mediaStatusChanged, window.get(), nullptr);
    window->loadSubtitles(lessonPath);
    engine->finishLoading(3600000);
    window->show();
    return window;
}

void tst_Unwritable::mendedTimesKept_data()
{
    QTest::addColumn<QString>("subtitle");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<qint64>("freeBytes");  // -1: as it comes
    QTest::addColumn<bool>("mendedBefore"); // the ".orig" copy is there already
    // The subtitle cannot even be adopted as ".srt1" there.
    QTest::newRow("read-only folder") << "lesson.srt" << true << qint64(-1) << false;
    // Room for the ".orig" copy, not for the new subtitle beside it.
    QTest::newRow("full disk, first nudge") << "lesson.srt1" << false << qint64(70 * 1024) << false;
    QTest::newRow("full disk, later nudge") << "lesson.srt1" << false << qint64(20 * 1024) << true;
}

void tst_Unwritable::mendedTimesKept()
{
    QFETCH(QString, subtitle);
    QFETCH(bool, readOnly);
    QFETCH(qint64, freeBytes);
    QFETCH(bool, mendedBefore);
    QList<LessonCue> cues;
    for (int i = 0; i < 1000; ++i)
        cues.append({i * 3000 + 500, i * 3000 + 2500});
    const QByteArray original = lessonSrt(cues).toUtf8();
    const QString subtitlePath = mountPoint.filePath(subtitle);
    QVERIFY(writeWholeFile(lessonPath, {}) && writeWholeFile(subtitlePath, original));
    if (mendedBefore)
        QVERIFY(writeWholeFile(subtitlePath + ".orig", original));
    if (readOnly)
        QVERIFY(mount({"-o", "remount,ro", mountPoint.path()}));
    if (freeBytes >= 0)
        fillUpTo(freeBytes);

    auto window = openLesson();
    QCOMPARE(window->repeatSession()->sentences().size(), 1000);
    QTest::keyClick(window.get(), Qt::Key_Period); // every sentence 100 ms later
    QFile file(subtitlePath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), original);
    QVERIFY(childNamed<QLabel>(*window, "noticeLabel") &&
            childNamed<QLabel>(*window, "noticeLabel")->isVisible());
    QVERIFY2(childNamed<QLabel>(*window, "noticeLabel")->text().contains("无法写入字幕文件") &&
                 childNamed<QLabel>(*window, "noticeLabel")->text().contains("已另存"),
             qPrintable(childNamed<QLabel>(*window, "noticeLabel")->text()));
    // Told once: the next key keeps the times, and says nothing new.
    childNamed<QLabel>(*window, "noticeLabel")->hide();
    QTest::keyClick(window.get(), Qt::Key_Period);
    QVERIFY(!childNamed<QLabel>(*window, "noticeLabel")->isVisible());
    QCOMPARE(window->repeatSession()->sentences().first().startMs, 700);
    // It fades by itself.
    childNamed<QLabel>(*window, "noticeLabel")->show();
    childNamed<QTimer>(*window, "noticeTimer")->setInterval(0);
    QTRY_VERIFY(!childNamed<QLabel>(*window, "noticeLabel")->isVisible());
    window.reset();

    // The next session takes the mended times, though the file still has the old ones.
    QCOMPARE(openLesson()->repeatSession()->sentences().first().startMs, 700);
    QCOMPARE(parseSrtFile(subtitlePath).first().startMs, 500);

    // Once the folder takes writes again, the times go into the file and wait no longer.
    if (readOnly)
        QVERIFY(mount({"-o", "remount,rw", mountPoint.path()}));
    QVERIFY(QFile::remove(mountPoint.filePath("filler")) || readOnly);
    const QString waiting = MendedTimes::waitingFile(subtitlePath, original);
    QVERIFY(QFile::exists(waiting));
    const auto reopened = openLesson();
    QCOMPARE(reopened->repeatSession()->sentences().last().endMs, 999 * 3000 + 2700);
    QCOMPARE(parseSrtFile(reopened->subtitleFile()).last().endMs, 999 * 3000 + 2700);
    QVERIFY(!QFile::exists(waiting));
}

// A read-only folder holding only the plain subtitle: the export names the folder, not a
// missing ".srt1".
void tst_Unwritable::exportNamesReadOnlyFolder()
{
    QVERIFY(writeWholeFile(lessonPath, {}));
    QVERIFY(writeWholeFile(mountPoint.filePath("lesson.srt"), lessonSrt({{500, 2500}}).toUtf8()));
    QVERIFY(mount({"-o", "remount,ro", mountPoint.path()}));
    auto window = openLesson();
    QString said;
    QTimer closer;
    connect(&closer, &QTimer::timeout, &closer, [&said] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            said = box->text();
            box->accept();
        }
    });
    closer.start(20);
    childNamed<QPushButton>(*window, "btnExportMp3")->click();
    QCOMPARE(said, "文件夹只读，无法导出：\n" + mountPoint.path());
    QVERIFY(childNamed<QPushButton>(*window, "btnExportMp3")->isEnabled());
}

QTEST_MAIN(tst_Unwritable)
#include "tst_unwritable.moc"
