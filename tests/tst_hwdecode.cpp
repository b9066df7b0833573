#include "gui/player/playerwindow.h"
#include "testsupport.h"
#ifdef ORVILOOP_HAVE_MPV
#include "media/mpvengine.h"
#endif
#include "ui_playerwindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <optional>
#include <sys/types.h>

namespace {

const char hwTypesVariable[] = "QT_FFMPEG_DECODING_HW_DEVICE_TYPES";

#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
const QList<QPair<QByteArray, QByteArray>> hardwareBlocks = {
    {"LIBVA_DRIVER_NAME", "orviloop-software-only"},
    {"VDPAU_DRIVER", "orviloop-software-only"},
    {"CUDA_VISIBLE_DEVICES", "-1"},
};
#endif

std::optional<QByteArray> environmentValue(const char *name)
{
    if (!qEnvironmentVariableIsSet(name))
        return std::nullopt;
    return qgetenv(name);
}

QStringList processArguments(const QString &pid)
{
    QFile file("/proc/" + pid + "/cmdline");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray data = file.readAll();
    if (data.endsWith('\0'))
        data.chop(1);
    QStringList arguments;
    for (const QByteArray &part : data.split('\0'))
        arguments.append(QString::fromLocal8Bit(part));
    return arguments;
}

// The pid of a running process whose command line is exactly `arguments`, or 0.
pid_t findProcess(const QStringList &arguments)
{
    const QStringList entries = QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        const pid_t pid = entry.toInt(&isPid);
        if (isPid && processArguments(entry) == arguments)
            return pid;
    }
    return 0;
}

// Where the process stands in `path`: the read offset of its descriptor for that file.
qint64 readOffset(pid_t pid, const QString &path)
{
    const QString fdDir = QString("/proc/%1/fd").arg(pid);
    // The descriptors are symbolic links; one to a regular file counts as a file, not as System.
    const QStringList fds = QDir(fdDir).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &fd : fds) {
        if (QFile::symLinkTarget(fdDir + "/" + fd) != path)
            continue;
        QFile info(QString("/proc/%1/fdinfo/%2").arg(pid).arg(fd));
        if (!info.open(QIODevice::ReadOnly))
            continue;
        // Files under /proc report a size of 0, so atEnd() would hold from the start.
        const QList<QByteArray> lines = info.readAll().split('\n');
        for (const QByteArray &line : lines) {
            if (line.startsWith("pos:"))
                return line.mid(4).trimmed().toLongLong();
        }
    }
    return -1;
}

bool processGone(pid_t pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const int afterName = line.lastIndexOf(')');
    return afterName > 0 && line.mid(afterName + 2, 1) == "Z";
}

// Ends the instance started by the switch however the test leaves.
struct ProcessKiller
{
    pid_t pid = 0;
    ~ProcessKiller()
    {
        if (pid <= 0)
            return;
        ::kill(pid, SIGKILL);
        if (!QTest::qWaitFor([this] { return processGone(pid); }, 5000))
            qWarning("the restarted instance %d did not end", int(pid));
    }
};

struct EnvironmentRestorer
{
    QByteArray name;
    std::optional<QByteArray> value = environmentValue(name.constData());
    ~EnvironmentRestorer()
    {
        if (value)
            qputenv(name.constData(), *value);
        else
            qunsetenv(name.constData());
    }
};

} // namespace

class tst_HwDecode : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void buttonAndEnvironmentFollowStore_data();
    void buttonAndEnvironmentFollowStore();
#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
    void userDriverChoiceKeptWhenOn();
#endif
    void clickRestartsWithCurrentFile_data();
    void clickRestartsWithCurrentFile();
    void failedRestartTellsUser_data();
    void failedRestartTellsUser();
    void restartResumesFileInNewInstance();

private:
    static bool storedHwDecode();
    static int runUntilQuit(PlayerWindow &window);
    static bool makeLesson(const QString &mediaPath, int seconds);
    QTemporaryDir settingsDir;
    QTemporaryDir workDir;
};

void tst_HwDecode::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    QVERIFY(workDir.isValid());
    useTemporarySettings(settingsDir);
}

void tst_HwDecode::init()
{
    clearSettings();
}

bool tst_HwDecode::storedHwDecode()
{
    return QSettings("Orvi", "OrviLoop").value("global/hwDecode", true).toBool();
}

// Clicks the switch inside a running event loop, so that its quit can end the loop.
// Returns the loop's exit code: 0 when the switch quit, 1 when it did not within 10 s.
int tst_HwDecode::runUntilQuit(PlayerWindow &window)
{
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
    watchdog.start(10000);
    QTimer::singleShot(0, &window, [&window] {
        QTest::mouseClick(childNamed<QPushButton>(window, "btnHwDecode"), Qt::LeftButton);
    });
    return QCoreApplication::exec();
}

void tst_HwDecode::buttonAndEnvironmentFollowStore_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("absent") << QVariant() << true;
    QTest::newRow("false") << QVariant(false) << false;
    QTest::newRow("true") << QVariant(true) << true;
}

// Every check builds a new window, as only the constructor applies the stored choice.
void tst_HwDecode::buttonAndEnvironmentFollowStore()
{
    QFETCH(QVariant, stored);
    QFETCH(bool, enabled);
    if (stored.isValid())
        QSettings("Orvi", "OrviLoop").setValue("global/hwDecode", stored);
    // Leftovers of the other state, which the constructor must replace.
    qputenv(hwTypesVariable, enabled ? "none" : "vaapi");
#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
    for (const auto &[name, value] : hardwareBlocks) {
        if (enabled)
            qputenv(name.constData(), value);
        else
            qunsetenv(name.constData());
    }
#endif

    PlayerWindow window(nullptr, QString());
    QCOMPARE(window.hardwareDecoding(), enabled);
#ifdef ORVILOOP_HAVE_MPV
    if (auto *mpv = qobject_cast<MpvEngine *>(window.mediaEngine()))
        QCOMPARE(mpv->mpvProperty("hwdec"), QString(enabled ? "auto-copy-safe" : "no"));
#endif
    if (window.mediaEngine()->name() == "qt") {
        QCOMPARE(qgetenv("QT_MEDIA_BACKEND"), QByteArray("ffmpeg"));
        QCOMPARE(environmentValue(hwTypesVariable),
                 enabled ? std::nullopt : std::optional<QByteArray>("none"));
#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
        for (const auto &[name, value] : hardwareBlocks)
            QCOMPARE(environmentValue(name.constData()),
                     enabled ? std::nullopt : std::optional<QByteArray>(value));
#endif
    }
    QCOMPARE(childNamed<QPushButton>(window, "btnHwDecode")->text(),
             QString(enabled ? "硬解:开" : "硬解:关"));
    QCOMPARE(childNamed<QPushButton>(window, "btnHwDecode")->toolTip(),
             QString(enabled ? "硬件解码已开启（CPU 占用低）。点击关闭 → 程序自动重启并接着播。\n"
                               "某部片子一播就闪退时，把它关掉再播。"
                             : "硬件解码已关闭，改用 CPU 软解（兼容性最好）。点击重新开启。"));
}

#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
void tst_HwDecode::userDriverChoiceKeptWhenOn()
{
    EnvironmentRestorer restoreDriver{"LIBVA_DRIVER_NAME"};
    qputenv("LIBVA_DRIVER_NAME", "iHD");
    PlayerWindow window(nullptr, QString());
    QVERIFY(window.hardwareDecoding());
    QCOMPARE(qgetenv("LIBVA_DRIVER_NAME"), QByteArray("iHD"));
}
#endif

void tst_HwDecode::clickRestartsWithCurrentFile_data()
{
    QTest::addColumn<QString>("currentFile");
    QTest::addColumn<QStringList>("arguments");
    const QString local = workDir.filePath("课程 一 'quoted'.mp4");
    QTest::newRow("local file, utf8 with blanks") << local << QStringList{"--play", local};
    QTest::newRow("no file") << QString() << QStringList{};
    const QString url = "https://example.com/视频/lesson 1.mp4";
    QTest::newRow("url") << url << QStringList{"--play", url};
}

// A stand-in for the program records the arguments it was started with.
void tst_HwDecode::clickRestartsWithCurrentFile()
{
    QFETCH(QString, currentFile);
    QFETCH(QStringList, arguments);
    const QString recorder = workDir.filePath("record arguments.sh");
    const QString record = recorder + ".args";
    QFile::remove(record);
    QFile script(recorder);
    QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
    script.write("#!/bin/sh\nprintf '%s\\0' \"$#\" \"$@\" > \"$0.tmp\"\nmv \"$0.tmp\" \"$0.args\"\n");
    script.close();
    QVERIFY(script.setPermissions(script.permissions() | QFile::ExeOwner));

    PlayerWindow window(nullptr, QString());
    window.setLessonFile(currentFile);
    window.setRestartProgram(recorder);
    QCOMPARE(runUntilQuit(window), 0);

    QVERIFY(!storedHwDecode());
    QCOMPARE(childNamed<QPushButton>(window, "btnHwDecode")->text(), QString("硬解:关"));
    QTRY_VERIFY(QFile::exists(record));
    QFile recorded(record);
    QVERIFY(recorded.open(QIODevice::ReadOnly));
    // The count, then each argument, each ended by a NUL.
    QStringList received = QString::fromUtf8(recorded.readAll()).split(QChar(0));
    QCOMPARE(received.takeLast(), QString());
    QCOMPARE(received.takeFirst().toInt(), arguments.size());
    QCOMPARE(received, arguments);
}

void tst_HwDecode::failedRestartTellsUser_data()
{
    QTest::addColumn<bool>("wasEnabled");
    QTest::addColumn<QString>("message");
    QTest::newRow("decoding was on") << true << "已切换为「硬解:关」，请手动重启程序后生效。";
    QTest::newRow("decoding was off") << false << "已切换为「硬解:开」，请手动重启程序后生效。";
}

void tst_HwDecode::failedRestartTellsUser()
{
    QFETCH(bool, wasEnabled);
    QFETCH(QString, message);
    QSettings("Orvi", "OrviLoop").setValue("global/hwDecode", wasEnabled);
    PlayerWindow window(nullptr, QString());
    window.setRestartProgram(workDir.filePath("没有这个程序"));

    QString title, text;
    QWidget *boxParent = nullptr;
    QMessageBox::StandardButtons buttons;
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        title = box->windowTitle();
        text = box->text();
        boxParent = box->parentWidget();
        buttons = box->standardButtons();
        box->button(QMessageBox::Ok)->click();
    });
    closer.start(20);
    QTest::mouseClick(childNamed<QPushButton>(window, "btnHwDecode"), Qt::LeftButton);
    closer.stop();

    QCOMPARE(text, message);
    QCOMPARE(title, QString("硬件解码"));
    QCOMPARE(boxParent, &window);
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(storedHwDecode(), !wasEnabled);
    QCOMPARE(window.hardwareDecoding(), !wasEnabled);
    QCOMPARE(childNamed<QPushButton>(window, "btnHwDecode")->text(),
             QString(wasEnabled ? "硬解:关" : "硬解:开"));
}

// A minute of video with one sentence every ten seconds, and its adopted subtitle beside it.
bool tst_HwDecode::makeLesson(const QString &mediaPath, int seconds)
{
    QProcess ffmpeg;
    // faststart puts the index in front, so the read offset follows the playing position.
    ffmpeg.start("ffmpeg",
                 {"-loglevel", "error", "-y", "-f", "lavfi", "-i",
                  QString("testsrc2=size=320x240:rate=25:duration=%1").arg(seconds), "-c:v", "libx264",
                  "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-movflags", "+faststart", mediaPath});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0)
        return false;
    QFile srt(QFileInfo(mediaPath).path() + "/" + QFileInfo(mediaPath).completeBaseName() + ".srt1");
    if (!srt.open(QIODevice::WriteOnly))
        return false;
    for (int i = 0; i < seconds / 10; ++i) {
        srt.write(QString("%1\n00:%2:%3,500 --> 00:%2:%4,000\nSentence %1\n\n")
                      .arg(i + 1)
                      .arg(i / 6, 2, 10, QChar('0'))
                      .arg(i % 6 * 10, 2, 10, QChar('0'))
                      .arg(i % 6 * 10 + 9, 2, 10, QChar('0'))
                      .toUtf8());
    }
    return true;
}

// The real program is started by the switch; it must open the same file and go on from
// where the old instance stood. The new instance offers no way in, so the test watches
// how far it has read into the media file: a resumed player reads far into it at once.
void tst_HwDecode::restartResumesFileInNewInstance()
{
    const QString program = QCoreApplication::applicationDirPath() + "/orviloop";
    QVERIFY2(QFileInfo(program).isExecutable(), qPrintable(program));
    QVERIFY(QDir(workDir.path()).mkpath("课程 lesson"));
    const QString media = workDir.filePath("课程 lesson/第一课 one.mp4");
    const int seconds = 60;
    const qint64 resumeAt = 42000; // inside sentence 5 (40.5 s to 49 s)
    QVERIFY(makeLesson(media, seconds));

    // The new instance finds the same store and needs no screen.
    EnvironmentRestorer restoreConfig{"XDG_CONFIG_HOME"};
    EnvironmentRestorer restorePlatform{"QT_QPA_PLATFORM"};
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(settingsDir.path()));
    qputenv("QT_QPA_PLATFORM", "offscreen");

    // The program is started through a script that keeps what it prints.
    const QString wrapper = workDir.filePath("restart orviloop.sh");
    const QString log = wrapper + ".log";
    QFile script(wrapper);
    QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
    script.write("#!/bin/sh\nexec \"$ORVILOOP_PROGRAM\" \"$@\" 2> \"$0.log\"\n");
    script.close();
    QVERIFY(script.setPermissions(script.permissions() | QFile::ExeOwner));
    EnvironmentRestorer restoreProgram{"ORVILOOP_PROGRAM"};
    qputenv("ORVILOOP_PROGRAM", QFile::encodeName(program));

    PlayerWindow window(nullptr, media);
    QVERIFY(window.hardwareDecoding());
    window.setRestartProgram(wrapper);
    window.show();
    QTRY_COMPARE_WITH_TIMEOUT(window.mediaEngine()->mediaStatus() == QMediaPlayer::LoadedMedia ||
                                  window.mediaEngine()->mediaStatus() == QMediaPlayer::BufferedMedia,
                              true, 15000);
    QTRY_VERIFY2_WITH_TIMEOUT(window.mediaEngine()->position() > 1000,
                              qPrintable(QString("%1 %2 %3")
                                             .arg(window.mediaEngine()->position())
                                             .arg(window.mediaEngine()->playbackState())
                                             .arg(window.mediaEngine()->mediaStatus())),
                              15000);
    // Through the engine, so that it drills the sentence there instead of jumping back.
    window.repeatSession()->seekTo(resumeAt);
    window.mediaEngine()->play();
    QTRY_VERIFY2_WITH_TIMEOUT(window.mediaEngine()->position() >= resumeAt,
                              qPrintable(QString::number(window.mediaEngine()->position())), 15000);

    ProcessKiller newInstance;
    QCOMPARE(runUntilQuit(window), 0);
    const QString fileKey = QString("files/%1/position").arg(qHash(media, 0));
    const qint64 stored = QSettings("Orvi", "OrviLoop").value(fileKey, 0).toLongLong();
    QVERIFY2(stored >= resumeAt && stored < 49000, qPrintable(QString::number(stored)));

    const QStringList arguments{program, "--play", media};
    QTRY_VERIFY_WITH_TIMEOUT((newInstance.pid = findProcess(arguments)) > 0, 10000);

    // Played from the start it would stay below a quarter of the file for a long while.
    const qint64 size = QFileInfo(media).size();
    const qint64 resumedOffset = size * (stored - 3000) / (seconds * 1000);
    QTRY_VERIFY2_WITH_TIMEOUT(readOffset(newInstance.pid, media) >= resumedOffset,
                              qPrintable(QString("read offset %1 of %2, expected at least %3")
                                             .arg(readOffset(newInstance.pid, media))
                                             .arg(size)
                                             .arg(resumedOffset)),
                              20000);

    // It plays with hardware decoding off, as the engine itself says.
    const auto logText = [&] {
        QFile file(log);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    const QString offLine =
        window.mediaEngine()->name() == "mpv" ? "mpv hwdec: \"no\"" : QString(hwTypesVariable) + ": \"none\"";
    QTRY_VERIFY2_WITH_TIMEOUT(logText().contains(offLine), qPrintable(logText()), 10000);
}

QTEST_MAIN(tst_HwDecode)
#include "tst_hwdecode.moc"
