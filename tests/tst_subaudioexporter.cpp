// The export jobs with the real ffmpeg on lessons generated here: a tone per sentence after a
// short silence, so that where each sentence begins can be found again in the joined MP3.

#include "lessonmedia.h"
#include "testsupport.h"

#include "core/export/exportcommands.h"
#include "core/export/mp3timing.h"
#include "core/export/subaudioexporter.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <cmath>
#include <csignal>
#ifdef Q_OS_UNIX
#include <signal.h>
#endif
#include <memory>

using namespace ExportCommands;

namespace {

const int sampleRate = 44100;
const qint64 leadSilenceMs = 300;

struct Lesson
{
    QString mediaPath;
    QList<SubtitleItem> items;
};

// A mono 16-bit WAV in which sentence k is leadSilenceMs of silence then a tone of
// toneMs[k]; each cue covers both, back to back. The SRT beside it is written too.
Lesson makeLesson(const QString &dir, const QString &name, const QList<qint64> &toneMs)
{
    Lesson lesson;
    lesson.mediaPath = dir + "/" + name + ".wav";
    QByteArray samples;
    QDataStream pcm(&samples, QIODevice::WriteOnly);
    pcm.setByteOrder(QDataStream::LittleEndian);
    QString srt;
    qint64 startMs = 0;
    for (int k = 0; k < toneMs.size(); ++k) {
        const qint64 endMs = startMs + leadSilenceMs + toneMs.at(k);
        for (qint64 i = startMs * sampleRate / 1000; i < endMs * sampleRate / 1000; ++i) {
            const bool tone = i >= (startMs + leadSilenceMs) * sampleRate / 1000;
            pcm << qint16(tone ? 9000 * std::sin(2 * M_PI * (300 + 20 * k) * i / sampleRate) : 0);
        }
        lesson.items.append({k, startMs, endMs, QString("句子 %1").arg(k)});
        srt += QString("%1\n%2 --> %3\n句子 %4\n\n")
                   .arg(k + 1)
                   .arg(lessonSrtTime(startMs), lessonSrtTime(endMs))
                   .arg(k);
        startMs = endMs;
    }
    QByteArray wav;
    QDataStream header(&wav, QIODevice::WriteOnly);
    header.setByteOrder(QDataStream::LittleEndian);
    header.writeRawData("RIFF", 4);
    header << quint32(36 + samples.size());
    header.writeRawData("WAVEfmt ", 8);
    header << quint32(16) << quint16(1) << quint16(1) << quint32(sampleRate) << quint32(sampleRate * 2)
           << quint16(2) << quint16(16);
    header.writeRawData("data", 4);
    header << quint32(samples.size());
    QFile media(lesson.mediaPath);
    if (media.open(QIODevice::WriteOnly))
        media.write(wav + samples);
    QFile subtitle(dir + "/" + name + ".srt1");
    if (subtitle.open(QIODevice::WriteOnly))
        subtitle.write(srt.toUtf8());
    return lesson;
}

QList<qint64> varyingTones(int count)
{
    QList<qint64> tones;
    for (int k = 0; k < count; ++k)
        tones.append(200 + (k * 397) % 1500); // 0.5 to 2 s per sentence with the lead
    return tones;
}

double integratedLoudness(const QString &path)
{
    const QString log =
        runAndRead("ffmpeg", {"-nostats", "-hide_banner", "-i", path, "-af", "ebur128", "-f", "null", "-"});
    // The summary, not the running value of the first 100 ms frame (silence: -70 LUFS).
    const QRegularExpressionMatch match =
        QRegularExpression(R"(Integrated loudness:\s+I:\s+(-?[\d.]+) LUFS)").match(log);
    return match.hasMatch() ? match.captured(1).toDouble() : 0.0;
}

// Where the tones begin in a decoded MP3, counted from its first audible sample as a
// player counts (asetpts drops the decoder's start offset).
QList<double> toneOnsets(const QString &path)
{
    const QString log =
        runAndRead("ffmpeg", {"-nostats", "-hide_banner", "-i", path, "-af",
                              "asetpts=N/SR/TB,silencedetect=noise=-45dB:duration=0.15", "-f", "null", "-"});
    QList<double> onsets;
    const QRegularExpression pattern(R"(silence_end: ([\d.]+))");
    for (auto it = pattern.globalMatch(log); it.hasNext();)
        onsets.append(it.next().captured(1).toDouble());
    return onsets;
}

// Every signal of a worker, in the order they arrive.
class SignalLog : public QObject
{
public:
    explicit SignalLog(SubAudioExporter *exporter)
    {
        connect(exporter, &SubAudioExporter::logMessage, this,
                [this](const QString &m) { events << "log " + m; });
        connect(exporter, &SubAudioExporter::progress, this,
                [this](int c, int t) { events << QString("progress %1/%2").arg(c).arg(t); });
        connect(exporter, &SubAudioExporter::finished, this, [this](const QString &m) {
            events << "finished " + m;
            ended = true;
        });
        connect(exporter, &SubAudioExporter::failed, this, [this](const QString &m) {
            events << "failed " + m;
            failure = m;
            ended = true;
        });
    }
    QStringList events;
    QString failure;
    bool ended = false;
};

QStringList sortedEntries(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files, QDir::Name);
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString readText(const QString &path)
{
    return QString::fromUtf8(readBytes(path));
}

// Makes clip files by cutting short tones straight from ffmpeg (the clip job's own output
// is tested elsewhere); each one has distinct content so that order can be checked.
void makeClip(const QString &path, double seconds)
{
    QProcess::execute("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                 QString("sine=frequency=400:duration=%1").arg(seconds), "-acodec",
                                 "libmp3lame", "-ar", "44100", "-ac", "2", path});
}

const int jobTimeoutMs = 60000;

QString exportTool()
{
    return qEnvironmentVariable("ORVILOOP_BUILD_DIR", QCoreApplication::applicationDirPath()) +
           "/orviloop-export";
}

// Sentences long enough that an export stopped on its first clip finds ffmpeg still at work.
const QList<qint64> longTones(6, 20000);

// What an export stopped while its first clips were cut leaves: those clips whole or not at
// all, and none of the clips that had not been started.
void checkStoppedClips(const Lesson &lesson, const QString &clipDir)
{
    for (int k = 0; k < lesson.items.size(); ++k) {
        const Mp3Timing clip = measureMp3File(clipPath(clipDir, k));
        if (k >= 2)
            QVERIFY2(!QFile::exists(clipPath(clipDir, k)), qPrintable(clipFileName(k)));
        else if (QFile::exists(clipPath(clipDir, k)))
            QVERIFY2(qAbs(clip.frameSeconds() - (lesson.items[k].endMs - lesson.items[k].startMs) / 1000.0) <
                         0.1,
                     qPrintable(QString("%1: %2 s").arg(clipFileName(k)).arg(clip.frameSeconds())));
    }
}

} // namespace

class tst_SubAudioExporter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void signalSequenceFor25Sentences();
    void zeroLengthSentenceLeavesNumberingGap_data();
    void zeroLengthSentenceLeavesNumberingGap();
    void clipsMatchCuesAndLoudness_data();
    void clipsMatchCuesAndLoudness();
    void parallelClipsMatchSequentialByteForByte();
    void lrcTagsMatchTheJoinedMp3();
    void joinTakesExactlyThisExportsClips_data();
    void joinTakesExactlyThisExportsClips();
    void joinWithoutClipFails();
    void joinFailureKeepsTheClipsAndTheOldPair_data();
    void joinFailureKeepsTheClipsAndTheOldPair();
    void ffmpegMissingFails_data();
    void ffmpegMissingFails();
    void failedClipsAreCountedAndStopTheExport();
    void outputDirectoryThatCannotBeMadeFails_data();
    void outputDirectoryThatCannotBeMadeFails();
    void secondExportInTheFolderStartsNothing_data();
    void secondExportInTheFolderStartsNothing();
    void quoteInMediaDirectoryExports();
    void destroyedWorkerStopsItsJob();
    void commandLineToolExportsAndReportsFailure();
    void commandLineToolStopsOnTermination_data();
    void commandLineToolStopsOnTermination();

private:
    QTemporaryDir settingsDir;
};

void tst_SubAudioExporter::initTestCase()
{
    useTemporarySettings(settingsDir);
    QVERIFY2(!QStandardPaths::findExecutable("ffmpeg").isEmpty(), "the export tests need ffmpeg");
}

void tst_SubAudioExporter::cleanupTestCase()
{
    QThreadPool::globalInstance()->waitForDone();
}

void tst_SubAudioExporter::signalSequenceFor25Sentences()
{
    QTemporaryDir dir;
    const Lesson lesson = makeLesson(dir.path(), "lesson", QList<qint64>(25, 100));
    SubAudioExporter exporter;
    SignalLog log(&exporter);
    exporter.fastExportAsync(lesson.mediaPath, lesson.items, dir.path() + "/mp3_temp");
    QTRY_VERIFY_WITH_TIMEOUT(log.ended, jobTimeoutMs);

    QStringList expected = {"log 导出中..."};
    for (int i = 0; i < 25; ++i) {
        expected << QString("progress %1/25").arg(i + 1);
        if (i % 10 == 0)
            expected << QString("log 导出中 %1 / 25").arg(i);
    }
    expected << "finished 导出完成，请点击生成MP3按钮";
    QCOMPARE(log.events, expected);
    QCOMPARE(sortedEntries(dir.path() + "/mp3_temp").size(), 25);
}

void tst_SubAudioExporter::zeroLengthSentenceLeavesNumberingGap_data()
{
    QTest::addColumn<int>("skipped");
    QTest::addColumn<QStringList>("clips");
    QTest::newRow("middle") << 2 << QStringList{"000000.mp3", "000001.mp3", "000003.mp3"};
    QTest::newRow("last") << 3 << QStringList{"000000.mp3", "000001.mp3", "000002.mp3"};
}

void tst_SubAudioExporter::zeroLengthSentenceLeavesNumberingGap()
{
    QFETCH(int, skipped);
    QTemporaryDir dir;
    Lesson lesson = makeLesson(dir.path(), "gap", {100, 100, 100, 100});
    lesson.items[skipped].endMs = lesson.items[skipped].startMs;
    SubAudioExporter exporter;
    SignalLog log(&exporter);
    exporter.fastExportAsync(lesson.mediaPath, lesson.items, dir.path() + "/mp3_temp");
    QTRY_VERIFY_WITH_TIMEOUT(log.ended, jobTimeoutMs);

    QTEST(sortedEntries(dir.path() + "/mp3_temp"), "clips");
    // Progress counts the clips made, up to the number there are to make.
    QCOMPARE(log.events.filter("progress"), (QStringList{"progress 1/3", "progress 2/3", "progress 3/3"}));
    QCOMPARE(log.events.last(), "finished 导出完成，请点击生成MP3按钮");
}

void tst_SubAudioExporter::clipsMatchCuesAndLoudness_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("plain") << "media";
    QTest::newRow("spaces and Chinese") << "我的 课程/第 1 课";
}

void tst_SubAudioExporter::clipsMatchCuesAndLoudness()
{
    QFETCH(QString, folder);
    QTemporaryDir dir;
    const QString mediaDir = dir.path() + "/" + folder;
    QVERIFY(QDir().mkpath(mediaDir));
    const Lesson lesson = makeLesson(mediaDir, "声音 lesson", {500, 1400});
    SubAudioExporter exporter;
    SignalLog log(&exporter);
    exporter.fastExportAsync(lesson.mediaPath, lesson.items, mediaDir + "/mp3_temp");
    QTRY_VERIFY_WITH_TIMEOUT(log.ended, jobTimeoutMs);
    QCOMPARE(log.failure, QString());

    for (int k = 0; k < lesson.items.size(); ++k) {
        const QString clip = clipPath(mediaDir + "/mp3_temp", k);
        const double cueSeconds = (lesson.items[k].endMs - lesson.items[k].startMs) / 1000.0;
        const double clipSeconds = ffprobeDuration(clip);
        QVERIFY2(qAbs(clipSeconds - cueSeconds) <= 0.060,
                 qPrintable(QString("clip %1: %2 s for a %3 s cue").arg(k).arg(clipSeconds).arg(cueSeconds)));
        const double loudness = integratedLoudness(clip);
        QVERIFY2(qAbs(loudness + 16.0) <= 1.5, qPrintable(QString("clip %1: %2 LUFS").arg(k).arg(loudness)));
    }
}

void tst_SubAudioExporter::parallelClipsMatchSequentialByteForByte()
{
    QTemporaryDir dir;
    const Lesson lesson = makeLesson(dir.path(), "并行", varyingTones(9));
    const ExportPaths paths = exportPaths(lesson.mediaPath);
    QList<QList<QByteArray>> runs;
    for (int parallelClips : {1, 4}) {
        SubAudioExporter exporter;
        exporter.setParallelClips(parallelClips);
        SignalLog log(&exporter);
        exporter.fastExportAsync(lesson.mediaPath, lesson.items, paths.clipDir);
        QTRY_VERIFY_WITH_TIMEOUT(log.ended, jobTimeoutMs);
        QList<QByteArray> files;
        for (int k = 0; k < lesson.items.size(); ++k)
            files << readBytes(clipPath(paths.clipDir, k));
        log.ended = false;
        exporter.generateLrcAndMp3Async(paths.clipDir, paths.outputDir, lesson.items, paths.baseName);
        QTRY_VERIFY_WITH_TIMEOUT(log.ended, jobTimeoutMs);
        QCOMPARE(log.failure, QString());
        runs << (files << readBytes(paths.lrcPath) << readBytes(paths.mp3Path));
    }
    for (int k = 0; k < runs.at(0).size(); ++k) {
        QVERIFY2(!runs.at(0).at(k).isEmpty(), qPrintable(QString("file %1 missing").arg(k)));
        QVERIFY2(runs.at(0).at(k) == runs.at(1).at(k), qPrintable(QString("file %1 differs").arg(k)));
    }
}

void tst_SubAudioExporter::lrcTagsMatchTheJoinedMp3()
{
    QTemporaryDir dir;
    const Lesson lesson = makeLesson(dir.path(), "四十句", varyingTones(40));
    const ExportPaths paths = exportPaths(lesson.mediaPath);
    SubAudioExporter exporter;
    SignalLog log(&exporter);
    exporter.fastExportAsync(lesson.mediaPath, lesson.items, paths.clipDir);
    QTRY_VERIFY_WITH_TIMEOUT(log.ended, 4 * jobTimeoutMs);
    QCOMPARE(log.failure, QString());
    double clipsSeconds = 0.0;
    for (const QString &clip : sortedEntries(paths.clipDir))
        clipsSeconds += ffprobeDuration(paths.clipDir + "/" + clip);
    // An older, longer LRC of the same name must be replaced, not appended to.
    QVERIFY(QDir().mkpath(paths.outputDir));
    QFile old(paths.lrcPath);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write(QByteArray(4096, 'x')) == 4096);
    old.close();

    log.ended = false;
    exporter.generateLrcAndMp3Async(paths.clipDir, paths.outputDir, lesson.items, paths.baseName);
    QTRY_VERIFY_WITH_TIMEOUT(log.ended, jobTimeoutMs);
    QCOMPARE(log.events.last(), "finished 生成成功，保存在：\n" + paths.mp3Path);
    QCOMPARE(sortedEntries(paths.clipDir), QStringList{"list.txt"});
    const double joinedSeconds = ffprobeDuration(paths.mp3Path);
    QVERIFY2(qAbs(joinedSeconds - clipsSeconds) <= 0.01 * clipsSeconds,
             qPrintable(QString("%1 s joined, %2 s of clips").arg(joinedSeconds).arg(clipsSeconds)));

    const QStringList lines = readText(paths.lrcPath).split("\n", Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 40);
    const QList<double> onsets = toneOnsets(paths.mp3Path);
    QCOMPARE(onsets.size(), 40);
    const QRegularExpression tag(R"(^\[(\d+):(\d\d)\.(\d\d)\]句子 (\d+)$)");
    for (int k = 0; k < 40; ++k) {
        const QRegularExpressionMatch match = tag.match(lines.at(k));
        QVERIFY2(match.hasMatch(), qPrintable(lines.at(k)));
        QCOMPARE(match.captured(4).toInt(), k);
        const double tagSeconds =
            match.captured(1).toInt() * 60 + match.captured(2).toInt() + match.captured(3).toInt() / 100.0;
        const double clipStart = onsets.at(k) - leadSilenceMs / 1000.0;
        QVERIFY2(
            qAbs(tagSeconds - clipStart) <= 0.030,
            qPrintable(QString("sentence %1: tag %2 s, clip at %3 s").arg(k).arg(tagSeconds).arg(clipStart)));
    }
}

void tst_SubAudioExporter::joinTakesExactlyThisExportsClips_data()
{
    QTest::addColumn<QList<SubtitleItem>>("items");
    QTest::addColumn<QStringList>("leftovers");
    QTest::newRow("three clips") << QList<SubtitleItem>{{0, 0, 500, "a"},
                                                        {1, 500, 900, "b"},
                                                        {2, 900, 1500, "c"}}
                                 << QStringList{};
    QTest::newRow("numbering gap") << QList<SubtitleItem>{{0, 0, 500, "a"},
                                                          {1, 500, 500, "-"},
                                                          {2, 500, 900, "c"}}
                                   << QStringList{};
    // A failed export of a longer lesson left its clips here: they are not this export's.
    QTest::newRow("another lesson's clips") << QList<SubtitleItem>{{0, 0, 500, "a"}, {1, 500, 900, "b"}}
                                            << QStringList{"000002.mp3", "000003.mp3", "000007.mp3"};
}

void tst_SubAudioExporter::joinTakesExactlyThisExportsClips()
{
    QFETCH(QList<SubtitleItem>, items);
    QFETCH(QStringList, leftovers);
    QTemporaryDir dir;
    const QString clipDir = dir.path() + "/课 mp3_temp";
    const QString outputDir = dir.path() + "/mp3_output";
    QVERIFY(QDir().mkpath(clipDir));
    for (const QString &leftover : leftovers)
        makeClip(clipDir + "/" + leftover, 2.0);
    QString expectedList;
    double clipsSeconds = 0.0;
    for (int position : clipPositions(items)) {
        makeClip(clipPath(clipDir, position), 0.5 + 0.25 * position);
        expectedList += concatListLine(clipPath(clipDir, position));
        clipsSeconds += ffprobeDuration(clipPath(clipDir, position));
    }

    SubAudioExporter exporter;
    SignalLog log(&exporter);
    exporter.generateLrcAndMp3Async(clipDir, outputDir, items, "joined");
    QTRY_VERIFY_WITH_TIMEOUT(log.ended, jobTimeoutMs);
    QCOMPARE(log.events, (QStringList{"log 开始生成MP3...",
                                      "finished 生成成功，保存在：\n" + outputDir + "/joined.mp3"}));
    QCOMPARE(readText(clipDir + "/list.txt"), expectedList);
    QCOMPARE(sortedEntries(clipDir), leftovers + QStringList{"list.txt"});
    QVERIFY(qAbs(ffprobeDuration(outputDir + "/joined.mp3") - clipsSeconds) <= 0.01 * clipsSeconds);
    QCOMPARE(sortedEntries(outputDir), (QStringList{"joined.lrc", "joined.mp3"}));

    // A second run right after finds nothing to join and says so.
    log.events.clear();
    log.ended = false;
    exporter.generateLrcAndMp3Async(clipDir, outputDir, items, "joined");
    QTRY_VERIFY_WITH_TIMEOUT(log.ended, jobTimeoutMs);
    QVERIFY(log.events.last().startsWith("failed "));
    QVERIFY(QFile::exists(outputDir + "/joined.mp3"));
}

void tst_SubAudioExporter::joinWithoutClipFails()
{
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.path() + "/mp3_temp"));
    SubAudioExporter exporter;
    SignalLog log(&exporter);
    QTest::ignoreMessage(QtDebugMsg, "❌ no mp3 files");
    exporter.generateLrcAndMp3Async(dir.path() + "/mp3_temp", dir.path() + "/mp3_output", {{0, 0, 1000, "a"}},
                                    "x");
    QTRY_VERIFY_WITH_TIMEOUT(log.ended, jobTimeoutMs);
    QVERIFY(!log.failure.isEmpty());
    QVERIFY(log.events.filter("finished").isEmpty());
    // Neither an LRC nor an MP3 that matches nothing.
    QVERIFY(!QFile::exists(dir.path() + "/mp3_output/x.lrc"));
}

void tst_SubAudioExporter::joinFailureKeepsTheClipsAndTheOldPair_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("broken clip") << "broken";
    // ffmpeg exits with 0 after joining frames the joined file cannot hold.
    QTest::newRow("clip of another sample rate") << "rate";
    QTest::newRow("MP3 cannot be put in place") << "blocked";
}

void tst_SubAudioExporter::joinFailureKeepsTheClipsAndTheOldPair()
{
    QFETCH(QString, fault);
    QTemporaryDir dir;
    const QString clipDir = dir.path() + "/mp3_temp";
    const QString outputDir = dir.path() + "/mp3_output";
    QVERIFY(QDir().mkpath(clipDir) && QDir().mkpath(outputDir));
    for (int k = 0; k < 3; ++k)
        makeClip(clipPath(clipDir, k), 0.5);
    if (fault == "broken") {
        QFile second(clipPath(clipDir, 1));
        QVERIFY(second.open(QIODevice::WriteOnly | QIODevice::Truncate));
        second.write("this is no mp3 at all");
    } else if (fault == "rate") {
        QCOMPARE(QProcess::execute("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "sine=duration=0.5",
                                              "-acodec", "libmp3lame", "-ar", "22050", clipPath(clipDir, 1)}),
                 0);
    }
    // The results of an earlier export: they stay as they are, both of them.
    const QString mp3 = outputDir + "/x.mp3";
    if (fault == "blocked")
        QVERIFY(QDir().mkpath(mp3)); // a directory where the MP3 goes
    else
        makeClip(mp3, 1.0);
    const QByteArray oldMp3 = readBytes(mp3);
    QFile lrc(outputDir + "/x.lrc");
    QVERIFY(lrc.open(QIODevice::WriteOnly) && lrc.write("[00:00.00]old\n") > 0);
    lrc.close();

    SubAudioExporter exporter;
    SignalLog log(&exporter);
    exporter.generateLrcAndMp3Async(clipDir, outputDir,
                                    {{0, 0, 500, "a"}, {1, 500, 1000, "b"}, {2, 1000, 1500, "c"}}, "x");
    QTRY_VERIFY_WITH_TIMEOUT(log.ended, jobTimeoutMs);
    QVERIFY2(!log.failure.isEmpty(), qPrintable(log.events.join(" | ")));
    QVERIFY(log.events.filter("finished").isEmpty());
    QCOMPARE(QDir(clipDir).entryList({"*.mp3"}, QDir::Files, QDir::Name),
             (QStringList{"000000.mp3", "000001.mp3", "000002.mp3"}));
    QCOMPARE(readText(outputDir + "/x.lrc"), "[00:00.00]old\n");
    QCOMPARE(readBytes(mp3), oldMp3);
    QCOMPARE(QDir(outputDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             (QStringList{"x.lrc", "x.mp3"}));
}

void tst_SubAudioExporter::ffmpegMissingFails_data()
{
    QTest::addColumn<bool>("join");
    QTest::newRow("clip job") << false;
    QTest::newRow("join") << true;
}

void tst_SubAudioExporter::ffmpegMissingFails()
{
    QFETCH(bool, join);
    QTemporaryDir dir;
    QTemporaryDir emptyBin;
    const Lesson lesson = makeLesson(dir.path(), "lesson", {100, 100, 100});
    const ExportPaths paths = exportPaths(lesson.mediaPath);
    if (join) {
        QVERIFY(QDir().mkpath(paths.clipDir));
        for (int k = 0; k < 3; ++k)
            makeClip(clipPath(paths.clipDir, k), 0.5);
    }
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", emptyBin.path().toLocal8Bit());
    SubAudioExporter exporter;
    SignalLog log(&exporter);
    if (join)
        exporter.generateLrcAndMp3Async(paths.clipDir, paths.outputDir, lesson.items, paths.baseName);
    else
        exporter.fastExportAsync(lesson.mediaPath, lesson.items, paths.clipDir);
    const bool ended = QTest::qWaitFor([&] { return log.ended; }, jobTimeoutMs);
    qputenv("PATH", path);
    QVERIFY(ended);

    QVERIFY2(log.failure.contains("ffmpeg"), qPrintable(log.failure));
    QVERIFY(log.events.filter("finished").isEmpty());
    // The clip job stops at once instead of counting every sentence as done.
    QVERIFY(log.events.filter("progress").isEmpty());
    QCOMPARE(QFile::exists(clipPath(paths.clipDir, 0)), join);
}

void tst_SubAudioExporter::failedClipsAreCountedAndStopTheExport()
{
    QTemporaryDir dir;
    Lesson lesson = makeLesson(dir.path(), "lesson", QList<qint64>(10, 100));
    // Two cues past the end of the media early in the list: ffmpeg writes no audio for them.
    lesson.items[1] = {1, 60000, 61000, "beyond"};
    lesson.items[2] = {2, 62000, 63000, "beyond"};
    SubAudioExporter exporter;
    SignalLog log(&exporter);
    exporter.fastExportAsync(lesson.mediaPath, lesson.items, dir.path() + "/mp3_temp");
    QTRY_VERIFY_WITH_TIMEOUT(log.ended, jobTimeoutMs);

    QVERIFY2(log.failure.contains("句无法剪切"), qPrintable(log.failure));
    QVERIFY(log.events.filter("finished").isEmpty());
    const QStringList clips = sortedEntries(dir.path() + "/mp3_temp");
    QVERIFY(!clips.contains("000001.mp3") && !clips.contains("000002.mp3"));
    // The clips not started by then never are; the few running then are made whole.
    QVERIFY2(clips.size() < 8, qPrintable(clips.join(" ")));
    for (const QString &clip : clips)
        QVERIFY(measureMp3File(dir.path() + "/mp3_temp/" + clip).valid);
}

void tst_SubAudioExporter::outputDirectoryThatCannotBeMadeFails_data()
{
    QTest::addColumn<QString>("blocked");
    QTest::newRow("clip directory") << "mp3_temp";
    QTest::newRow("output directory") << "mp3_output";
}

void tst_SubAudioExporter::outputDirectoryThatCannotBeMadeFails()
{
    QFETCH(QString, blocked);
    QTemporaryDir dir;
    const Lesson lesson = makeLesson(dir.path(), "课", {300});
    const ExportPaths paths = exportPaths(lesson.mediaPath);
    if (blocked == "mp3_output") {
        QVERIFY(QDir().mkpath(paths.clipDir));
        makeClip(clipPath(paths.clipDir, 0), 0.5);
    }
    QFile blocker(dir.path() + "/" + blocked);
    QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the directory should be

    SubAudioExporter exporter;
    SignalLog log(&exporter);
    if (blocked == "mp3_temp")
        exporter.fastExportAsync(lesson.mediaPath, lesson.items, paths.clipDir);
    else
        exporter.generateLrcAndMp3Async(paths.clipDir, paths.outputDir, lesson.items, paths.baseName);
    QTRY_VERIFY_WITH_TIMEOUT(log.ended, jobTimeoutMs);
    QVERIFY2(log.failure.contains(dir.path() + "/" + blocked), qPrintable(log.failure));
    QVERIFY(log.events.filter("finished").isEmpty());
    if (blocked == "mp3_output")
        QCOMPARE(sortedEntries(paths.clipDir), QStringList{"000000.mp3"});
}

void tst_SubAudioExporter::secondExportInTheFolderStartsNothing_data()
{
    QTest::addColumn<bool>("commandLine");
    QTest::newRow("another worker") << false;
    QTest::newRow("orviloop-export") << true;
}

void tst_SubAudioExporter::secondExportInTheFolderStartsNothing()
{
    QFETCH(bool, commandLine);
    QTemporaryDir dir;
    const Lesson lesson = makeLesson(dir.path(), "lesson B", {300, 300});
    const ExportPaths paths = exportPaths(lesson.mediaPath);
    // Another lesson's export in the same folder holds its clip directory.
    auto first = std::make_unique<SubAudioExporter>();
    QCOMPARE(first->claimClipDir(paths.clipDir), QString());
    if (commandLine) {
        int exitCode = -1;
        const QString output = runAndRead(exportTool(), {lesson.mediaPath}, &exitCode);
        QCOMPARE(exitCode, 1);
        QVERIFY2(output.contains("另一个导出") && output.contains(paths.clipDir), qPrintable(output));
    } else {
        SubAudioExporter second;
        SignalLog log(&second);
        second.fastExportAsync(lesson.mediaPath, lesson.items, paths.clipDir);
        QTRY_VERIFY_WITH_TIMEOUT(log.ended, jobTimeoutMs);
        QCOMPARE(log.events.size(), 1);
        QVERIFY2(log.failure.contains("另一个导出"), qPrintable(log.failure));
    }
    QCOMPARE(sortedEntries(paths.clipDir), QStringList());
    // Once that export is over, the folder is free.
    first.reset();
    QCOMPARE(SubAudioExporter().claimClipDir(paths.clipDir), QString());
}

void tst_SubAudioExporter::quoteInMediaDirectoryExports()
{
    QTemporaryDir dir;
    const QString mediaDir = dir.path() + "/Tom's 课";
    QVERIFY(QDir().mkpath(mediaDir));
    const Lesson lesson = makeLesson(mediaDir, "it's", {300, 400, 500});
    const ExportPaths paths = exportPaths(lesson.mediaPath);
    SubAudioExporter exporter;
    SignalLog log(&exporter);
    exporter.fastExportAsync(lesson.mediaPath, lesson.items, paths.clipDir);
    QTRY_VERIFY_WITH_TIMEOUT(log.ended, jobTimeoutMs);
    log.ended = false;
    exporter.generateLrcAndMp3Async(paths.clipDir, paths.outputDir, lesson.items, paths.baseName);
    QTRY_VERIFY_WITH_TIMEOUT(log.ended, jobTimeoutMs);

    QCOMPARE(log.failure, QString());
    QCOMPARE(toneOnsets(paths.mp3Path).size(), 3);
    QCOMPARE(readText(paths.lrcPath).count("\n"), 3);
}

void tst_SubAudioExporter::destroyedWorkerStopsItsJob()
{
    QTemporaryDir dir;
    const Lesson lesson = makeLesson(dir.path(), "lesson", longTones);
    const QString clipDir = dir.path() + "/mp3_temp";
    auto *exporter = new SubAudioExporter;
    exporter->setParallelClips(2);
    SignalLog log(exporter);
    exporter->fastExportAsync(lesson.mediaPath, lesson.items, clipDir);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(clipPath(clipDir, 0)), jobTimeoutMs); // ffmpeg at work on it
    delete exporter;                                                             // as a closed window does
    const qsizetype eventsAtDeletion = log.events.size();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    QCOMPARE(log.events.size(), eventsAtDeletion);
    checkStoppedClips(lesson, clipDir);
    QCOMPARE(SubAudioExporter().claimClipDir(clipDir), QString());
}

void tst_SubAudioExporter::commandLineToolExportsAndReportsFailure()
{
    QTemporaryDir dir;
    const Lesson lesson = makeLesson(dir.path(), "第 2 课", {300, 400});
    const QString tool = exportTool();
    int exitCode = -1;
    const QString output = runAndRead(tool, {lesson.mediaPath}, &exitCode);
    QCOMPARE(exitCode, 0);
    QVERIFY(output.contains("导出中 2 / 2"));
    QVERIFY(output.contains("生成成功，保存在：\n" + exportPaths(lesson.mediaPath).mp3Path));
    QCOMPARE(readText(exportPaths(lesson.mediaPath).lrcPath).count("\n"), 2);

    // A lesson without subtitle fails, the next one is still exported, and the exit says so.
    QFile(lesson.mediaPath).copy(dir.path() + "/无字幕.wav");
    // A lesson never opened in the player has only its ".srt": read, and left as it is.
    const Lesson other = makeLesson(dir.path(), "other", {300});
    QVERIFY(QFile::rename(dir.path() + "/other.srt1", dir.path() + "/other.srt"));
    runAndRead(tool, {dir.path() + "/无字幕.wav", other.mediaPath}, &exitCode);
    QCOMPARE(exitCode, 1);
    QVERIFY(QFile::exists(exportPaths(other.mediaPath).mp3Path));
    QVERIFY(QFile::exists(dir.path() + "/other.srt") && !QFile::exists(dir.path() + "/other.srt1"));
}

void tst_SubAudioExporter::commandLineToolStopsOnTermination_data()
{
    QTest::addColumn<QList<int>>("signalNumbers");
    QTest::newRow("SIGTERM: ends ffmpeg, removes its clip, starts no more") << QList<int>{SIGTERM};
    // Two of a kind sent at once would arrive as one.
    QTest::newRow("second signal: ends at once") << QList<int>{SIGINT, SIGTERM};
}

void tst_SubAudioExporter::commandLineToolStopsOnTermination()
{
#ifdef Q_OS_UNIX
    QFETCH(QList<int>, signalNumbers);
    QTemporaryDir dir;
    const Lesson lesson = makeLesson(dir.path(), "lesson", longTones);
    const ExportPaths paths = exportPaths(lesson.mediaPath);
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    // A second file that is never begun.
    tool.start(exportTool(), {lesson.mediaPath, lesson.mediaPath});
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(clipPath(paths.clipDir, 0)), jobTimeoutMs);
    for (int number : signalNumbers)
        ::kill(pid_t(tool.processId()), number);
    QVERIFY(tool.waitForFinished(jobTimeoutMs));
    const QString output = QString::fromUtf8(tool.readAll());
    if (signalNumbers.size() == 1) {
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), 1);
        QVERIFY2(output.contains("导出已取消") && output.count("== ") == 1, qPrintable(output));
        checkStoppedClips(lesson, paths.clipDir);
    } else {
        QCOMPARE(tool.exitStatus(), QProcess::CrashExit);
    }
    // A lock left by a process that is gone does not keep the folder.
    QCOMPARE(SubAudioExporter().claimClipDir(paths.clipDir), QString());
#else
    QSKIP("termination signals are a Unix matter");
#endif
}

QTEST_GUILESS_MAIN(tst_SubAudioExporter)
#include "tst_subaudioexporter.moc"
