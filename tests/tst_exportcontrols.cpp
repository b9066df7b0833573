// The player's export button with the real ffmpeg: window title, button states and texts,
// message boxes (closed here as soon as they open), failures and a window gone mid-job.

#include "lessonmedia.h"
#include "gui/player/playerwindow.h"
#include "testsupport.h"
#include "ui_playerwindow.h"

#include "core/export/exportcommands.h"
#include "core/export/subaudioexporter.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>

namespace {

const int jobTimeoutMs = 60000;

// A tone of count × 300 ms with one 250 ms sentence every 300 ms, and its ".srt1".
QString makeLesson(const QString &dir, const QString &name, int count)
{
    const QString media = dir + "/" + name + ".wav";
    QProcess::execute("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                 QString("sine=frequency=440:duration=%1").arg(count * 0.3), media});
    QString srt;
    for (int k = 0; k < count; ++k)
        srt += QString("%1\n%2 --> %3\n第 %1 句\n\n")
                   .arg(k + 1)
                   .arg(lessonSrtTime(k * 300), lessonSrtTime(k * 300 + 250));
    QFile subtitle(dir + "/" + name + ".srt1");
    if (subtitle.open(QIODevice::WriteOnly))
        subtitle.write(srt.toUtf8());
    return media;
}

struct Box
{
    QString title;
    QString text;
    QMessageBox::Icon icon;
};

// Closes every message box as soon as it shows, noting what it said.
class BoxCloser : public QObject
{
public:
    BoxCloser()
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            const QWidgetList widgets = QApplication::topLevelWidgets();
            for (QWidget *widget : widgets) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                if (box && box->isVisible()) {
                    boxes.append({box->windowTitle(), box->text(), box->icon()});
                    box->done(QMessageBox::Ok);
                }
            }
        });
        timer.start(10);
    }
    QList<Box> boxes;
    QTimer timer;
};

QString describe(const QString &title, const PlayerWindow &window)
{
    const auto *exportButton = childNamed<QPushButton>(window, "btnExportMp3");
    const auto *filterButton = childNamed<QPushButton>(window, "btnFilterMp3");
    return QString("%1 | %2 %3 | %4 %5")
        .arg(title, exportButton->isEnabled() ? "on" : "off", exportButton->text(),
             filterButton->isEnabled() ? "on" : "off", filterButton->text());
}

// Each title the window shows, with the buttons as they are at that moment.
class ControlTrace : public QObject
{
public:
    explicit ControlTrace(PlayerWindow *window)
    {
        connect(window, &QWidget::windowTitleChanged, this, [this, window](const QString &title) {
            steps << describe(title, *window);
            // The start message sets the button text after the title; the join's end is
            // at least one ffmpeg run away, so a queued look sees the text it leaves.
            if (title == "开始生成MP3...")
                QMetaObject::invokeMethod(
                    this,
                    [this, window] {
                        generatingText = childNamed<QPushButton>(*window, "btnExportMp3")->text();
                    },
                    Qt::QueuedConnection);
        });
    }
    QStringList steps;
    QString generatingText;
};

QString step(const QString &title, bool exportOn, const QString &exportText, bool filterOn,
             const QString &filterText)
{
    return QString("%1 | %2 %3 | %4 %5")
        .arg(title, exportOn ? "on" : "off", exportText, filterOn ? "on" : "off", filterText);
}

} // namespace

class tst_ExportControls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void fullExportWalksThroughTheStates();
    void disabledControlsDoNothing_data();
    void disabledControlsDoNothing();
    void exportThatCannotStartStartsNothing_data();
    void exportThatCannotStartStartsNothing();
    void failureReenablesTheControls_data();
    void failureReenablesTheControls();
    void windowGoneMidJob_data();
    void windowGoneMidJob();

private:
    QTemporaryDir settingsDir;
};

void tst_ExportControls::initTestCase()
{
    useTemporarySettings(settingsDir);
    QVERIFY2(!QStandardPaths::findExecutable("ffmpeg").isEmpty(), "the export tests need ffmpeg");
}

void tst_ExportControls::cleanupTestCase()
{
    QThreadPool::globalInstance()->waitForDone();
}

void tst_ExportControls::fullExportWalksThroughTheStates()
{
    QTemporaryDir dir;
    const QString mediaDir = dir.path() + "/我的 课程";
    QVERIFY(QDir().mkpath(mediaDir));
    PlayerWindow window(nullptr, QString());
    window.setLessonFile(makeLesson(mediaDir, "Lesson 1", 25));
    const ExportCommands::ExportPaths paths = ExportCommands::exportPaths(window.lessonFile());
    const QString done = "生成成功，保存在：\n" + paths.mp3Path;
    // The title has it on one line.
    const QString doneTitle = "生成成功，保存在： " + paths.mp3Path;
    const QString filterText = "生成MP3";
    const QStringList expected = [&] {
        QStringList expected{step("导出中...", false, "导出中...", false, filterText)};
        for (int i = 0; i < 25; ++i) {
            expected << step(QString("导出中 %1 / 25").arg(i + 1), false, "导出中...", false, filterText);
            if (i % 10 == 0)
                expected << step(QString("导出中 %1 / 25").arg(i), false, "导出中...", false, filterText);
        }
        // The export's end enables both buttons for a moment before the generation starts.
        return expected << step("导出完成，请点击生成MP3按钮", true, "导出音轨", true, filterText)
                        << step("开始生成MP3...", false, "导出音轨", false, "处理中...")
                        << step(doneTitle, true, "导出音轨", true, filterText);
    }();

    // A second press from the Done state runs it all again and replaces the results.
    for (int run = 0; run < 2; ++run) {
        BoxCloser closer;
        ControlTrace trace(&window);
        childNamed<QPushButton>(window, "btnExportMp3")->click();
        QCOMPARE(childNamed<QPushButton>(window, "btnExportMp3")->isEnabled(), false);
        QCOMPARE(childNamed<QPushButton>(window, "btnExportMp3")->text(), "导出中...");
        QTRY_VERIFY_WITH_TIMEOUT(trace.steps.size() >= expected.size(), jobTimeoutMs);
        QCOMPARE(trace.steps, expected);
        QCOMPARE(trace.generatingText, "生成中...");
        // One message, at the end.
        QCOMPARE(closer.boxes.size(), 1);
        QCOMPARE(closer.boxes.at(0).title, "提示");
        QCOMPARE(closer.boxes.at(0).text, done);
        QCOMPARE(QDir(paths.clipDir).entryList(QDir::Files), QStringList{"list.txt"});
        QVERIFY(QFileInfo(paths.mp3Path).size() > 0);
        QCOMPARE(QFile(paths.lrcPath).open(QIODevice::ReadOnly), true);
    }
}

void tst_ExportControls::disabledControlsDoNothing_data()
{
    QTest::addColumn<bool>("generation");
    QTest::newRow("export button disabled") << false;
    QTest::newRow("generation button disabled") << true;
}

void tst_ExportControls::disabledControlsDoNothing()
{
    QFETCH(bool, generation);
    QTemporaryDir dir;
    PlayerWindow window(nullptr, QString());
    window.setLessonFile(makeLesson(dir.path(), "lesson", 2));
    const QString title = window.windowTitle();
    QPushButton *button = childNamed<QPushButton>(window, generation ? "btnFilterMp3" : "btnExportMp3");
    button->setEnabled(false);
    // As a click that reached the button just before it was disabled.
    emit button->clicked();
    QCOMPARE(window.findChildren<SubAudioExporter *>().size(), 0);
    QCOMPARE(window.windowTitle(), title);
    QVERIFY(!QFileInfo::exists(dir.path() + "/mp3_temp") && !QFileInfo::exists(dir.path() + "/mp3_output"));
}

void tst_ExportControls::exportThatCannotStartStartsNothing_data()
{
    QTest::addColumn<QByteArray>("subtitle");
    QTest::addColumn<bool>("folderBusy");
    QTest::addColumn<QString>("messagePart");
    QTest::newRow("no .srt1") << QByteArray() << false << "/空 课.srt1";
    QTest::newRow("no valid cue") << QByteArray("1\n00:00:02,000 --> 00:00:02,000\nzero\n\nnot a cue\n")
                                  << false << "/空 课.srt1";
    // Another window, or orviloop-export, is exporting a lesson of the same folder.
    QTest::newRow("another export in the folder") << QByteArray("keep") << true << "另一个导出";
}

void tst_ExportControls::exportThatCannotStartStartsNothing()
{
    QFETCH(QByteArray, subtitle);
    QFETCH(bool, folderBusy);
    QFETCH(QString, messagePart);
    QTemporaryDir dir;
    const QString media = makeLesson(dir.path(), "空 课", 2);
    QFile srt(dir.path() + "/空 课.srt1");
    if (subtitle.isEmpty())
        QVERIFY(srt.remove());
    else if (subtitle != "keep")
        QVERIFY(srt.open(QIODevice::WriteOnly | QIODevice::Truncate) && srt.write(subtitle) > 0);
    srt.close();
    SubAudioExporter otherExport;
    if (folderBusy)
        QCOMPARE(otherExport.claimClipDir(dir.path() + "/mp3_temp"), QString());
    PlayerWindow window(nullptr, QString());
    window.setLessonFile(media);

    BoxCloser closer;
    childNamed<QPushButton>(window, "btnExportMp3")->click();
    QCOMPARE(closer.boxes.size(), 1);
    QCOMPARE(closer.boxes.at(0).title, "提示");
    QVERIFY2(closer.boxes.at(0).text.contains(messagePart), qPrintable(closer.boxes.at(0).text));
    QCOMPARE(window.findChildren<SubAudioExporter *>().size(), 0);
    QVERIFY(childNamed<QPushButton>(window, "btnExportMp3")->isEnabled() &&
            childNamed<QPushButton>(window, "btnFilterMp3")->isEnabled());
    QCOMPARE(childNamed<QPushButton>(window, "btnExportMp3")->text(), "导出音轨");
    QCOMPARE(QDir(dir.path() + "/mp3_temp").entryList({"*.mp3"}, QDir::Files), QStringList());
}

void tst_ExportControls::failureReenablesTheControls_data()
{
    QTest::addColumn<bool>("hideFfmpeg");
    QTest::addColumn<QString>("blockedDir");
    QTest::addColumn<QString>("messagePart");
    QTest::newRow("ffmpeg not on PATH") << true << QString() << "ffmpeg";
    QTest::newRow("output directory cannot be made") << false << "mp3_output"
                                                     << "mp3_output";
}

void tst_ExportControls::failureReenablesTheControls()
{
    QFETCH(bool, hideFfmpeg);
    QFETCH(QString, blockedDir);
    QFETCH(QString, messagePart);
    QTemporaryDir dir;
    QTemporaryDir emptyBin;
    PlayerWindow window(nullptr, QString());
    window.setLessonFile(makeLesson(dir.path(), "it's", 3));
    if (!blockedDir.isEmpty()) {
        QFile blocker(dir.path() + "/" + blockedDir);
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the directory should be
    }
    const QByteArray path = qgetenv("PATH");
    if (hideFfmpeg)
        qputenv("PATH", emptyBin.path().toLocal8Bit());

    BoxCloser closer;
    childNamed<QPushButton>(window, "btnExportMp3")->click();
    // The warning may open on top of the start message's box: look for it among all.
    const auto warning = [&] {
        return std::find_if(closer.boxes.cbegin(), closer.boxes.cend(),
                            [](const Box &box) { return box.icon == QMessageBox::Warning; });
    };
    const bool failed = QTest::qWaitFor([&] { return warning() != closer.boxes.cend(); }, jobTimeoutMs);
    qputenv("PATH", path);
    QVERIFY(failed);
    const Box failure = *warning();
    QCOMPARE(failure.title, "提示");
    QVERIFY2(failure.text.contains(messagePart), qPrintable(failure.text));
    QCOMPARE(window.windowTitle(), failure.text);
    QVERIFY(childNamed<QPushButton>(window, "btnExportMp3")->isEnabled() &&
            childNamed<QPushButton>(window, "btnFilterMp3")->isEnabled());
    QCOMPARE(childNamed<QPushButton>(window, "btnExportMp3")->text(), "导出音轨");
    // The clips a failed generation could not join are kept for the next try.
    if (!blockedDir.isEmpty())
        QCOMPARE(QDir(dir.path() + "/mp3_temp").entryList({"*.mp3"}, QDir::Files).size(), 3);
    else
        QVERIFY(!QFileInfo::exists(dir.path() + "/mp3_output"));
}

void tst_ExportControls::windowGoneMidJob_data()
{
    QTest::addColumn<bool>("destroy");
    QTest::newRow("closed") << false;
    QTest::newRow("destroyed") << true;
}

void tst_ExportControls::windowGoneMidJob()
{
    QFETCH(bool, destroy);
    QTemporaryDir dir;
    QPointer<PlayerWindow> window = new PlayerWindow(nullptr, QString());
    window->setLessonFile(makeLesson(dir.path(), "lesson", 12));
    window->show();
    BoxCloser closer;
    bool gone = false;
    connect(window, &QWidget::windowTitleChanged, &closer, [&](const QString &title) {
        if (title != "导出中 4 / 12" || gone)
            return;
        gone = true;
        // From the event loop itself, once no box of the window is open.
        QTimer::singleShot(0, &closer, [&] {
            if (destroy)
                delete window.data();
            else
                window->close();
        });
    });
    childNamed<QPushButton>(*window, "btnExportMp3")->click();
    QTRY_VERIFY_WITH_TIMEOUT(gone, jobTimeoutMs);
    if (destroy)
        QTRY_VERIFY(window.isNull());
    else
        QTRY_VERIFY(window->findChildren<SubAudioExporter *>().isEmpty());
    // The job stops instead of cutting the rest of the lesson for nobody (and for a program
    // that waits for it before it can end), and the folder is free again.
    QThreadPool::globalInstance()->waitForDone();
    const int boxesAtTheEnd = int(closer.boxes.size());
    QCoreApplication::processEvents();
    QCOMPARE(closer.boxes.size(), boxesAtTheEnd);
    QVERIFY(QDir(dir.path() + "/mp3_temp").entryList({"*.mp3"}, QDir::Files).size() < 12);
    QVERIFY(!QFileInfo::exists(dir.path() + "/mp3_output/lesson.mp3"));
    QCOMPARE(SubAudioExporter().claimClipDir(dir.path() + "/mp3_temp"), QString());
    if (!destroy) {
        QVERIFY(childNamed<QPushButton>(*window, "btnExportMp3")->isEnabled());
        QCOMPARE(childNamed<QPushButton>(*window, "btnExportMp3")->text(), "导出音轨");
        delete window.data();
    }
}

QTEST_MAIN(tst_ExportControls)
#include "tst_exportcontrols.moc"
