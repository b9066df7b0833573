#include "export/subaudioexporter.h"

#include "export/exportcommands.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTextStream>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <memory>

using namespace ExportCommands;

namespace {

enum class FfmpegRun { Succeeded, Missing, Failed };

const char *const ffmpegMissingMessage = "找不到 ffmpeg：请安装 ffmpeg 并把它所在的目录加入 PATH 后重试";

// Runs ffmpeg by bare name with its console output forwarded to ours, and waits for it.
FfmpegRun runFfmpeg(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start("ffmpeg", arguments);
    if (!process.waitForStarted(-1))
        return FfmpegRun::Missing;
    process.closeWriteChannel();
    process.waitForFinished(-1);
    const bool ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return ok ? FfmpegRun::Succeeded : FfmpegRun::Failed;
}

// ffmpeg can exit with 0 and leave a file without a single frame (a cue past the end of
// the media, for example): only audio frames make a clip.
bool mp3Written(const QString &path)
{
    return measureMp3File(path).valid;
}

// The clips to join, in name order: with fixed-width names that is sentence order.
QStringList listClips(const QString &clipDir)
{
    return QDir(clipDir).entryList({"*.mp3"}, QDir::Files, QDir::Name);
}

void runClipJob(ExportJobReporter &reporter, const QString &sourcePath, const QList<SubtitleItem> &items,
                const QString &clipDir)
{
    if (!QDir().mkpath(clipDir)) {
        qDebug() << "❌ cannot create directory:" << clipDir;
        emit reporter.failed("无法创建目录：" + clipDir);
        return;
    }
    emit reporter.logMessage("导出中...");
    const int total = int(items.size());
    int failedClips = 0;
    for (int i = 0; i < total; ++i) {
        const SubtitleItem &item = items.at(i);
        if (item.endMs <= item.startMs)
            continue; // no clip, but the position keeps its number
        const QString output = clipPath(clipDir, i);
        const FfmpegRun run = runFfmpeg(clipArguments(item.startMs, item.endMs, sourcePath, output));
        if (run == FfmpegRun::Missing) {
            qDebug() << "❌ ffmpeg not found";
            emit reporter.failed(ffmpegMissingMessage);
            return;
        }
        if (run == FfmpegRun::Failed || !mp3Written(output)) {
            // A broken clip must not be joined later as if it were this sentence.
            QFile::remove(output);
            ++failedClips;
            qDebug() << "❌ clip failed:" << output;
        }
        emit reporter.progress(i + 1, total);
        if (i % 10 == 0)
            emit reporter.logMessage(QString("导出中 %1 / %2").arg(i).arg(total));
    }
    if (failedClips > 0) {
        emit reporter.failed(
            QString("导出失败：%1 句无法剪切成 MP3，已剪好的片段保留在：\n%2").arg(failedClips).arg(clipDir));
        return;
    }
    qDebug() << "✅ export finished";
    emit reporter.finished("导出完成，请点击生成MP3按钮");
}

bool checkClipsExist(ExportJobReporter &reporter, const QStringList &clips)
{
    if (!clips.isEmpty())
        return true;
    qDebug() << "❌ no mp3 files";
    emit reporter.failed("没有可合并的音频片段，请先导出音轨");
    return false;
}

bool checkOutputDir(ExportJobReporter &reporter, const QString &outputDir)
{
    if (QDir().mkpath(outputDir))
        return true;
    qDebug() << "❌ cannot create directory:" << outputDir;
    emit reporter.failed("无法创建目录：" + outputDir);
    return false;
}

bool runLrcJob(ExportJobReporter &reporter, const QString &outputDir, const QList<SubtitleItem> &items,
               const QString &baseName, const QString &clipDir)
{
    // The tags come from the clips' real lengths: every clip is longer than its cue by the
    // encoder's priming and padding, so cue durations would drift away from the joined MP3.
    const QStringList clips = listClips(clipDir);
    QList<Mp3Timing> timings;
    for (const QString &clip : clips) {
        const Mp3Timing timing = measureMp3File(clipDir + "/" + clip);
        if (!timing.valid) {
            qDebug() << "❌ unreadable clip:" << clipDir + "/" + clip;
            emit reporter.failed("无法读取音频片段：" + clipDir + "/" + clip);
            return false;
        }
        timings.append(timing);
    }
    const QList<double> times =
        lrcLineTimes(int(items.size()), clips, joinedClipStarts(timings), joinedSeconds(timings));

    const QString path = outputDir + "/" + baseName + ".lrc";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        qDebug() << "❌ cannot write lrc:" << path;
        emit reporter.failed("无法写入歌词文件：" + path);
        return false;
    }
    QTextStream out(&file);
    for (qsizetype i = 0; i < items.size(); ++i)
        out << lrcTimeTag(times.at(i)) << items.at(i).text << "\n";
    out.flush();
    file.close();
    if (out.status() != QTextStream::Ok || file.error() != QFile::NoError) {
        qDebug() << "❌ cannot write lrc:" << path;
        emit reporter.failed("无法写入歌词文件：" + path);
        return false;
    }
    qDebug() << "✅ final lrc:" << path;
    return true;
}

// The audio frames of all clips, or -1 with the first unreadable clip named. ffmpeg exits
// with 0 even when the concat demuxer stops at a broken clip, so the joined MP3 is checked
// against this count.
qint64 countClipFrames(const QString &clipDir, const QStringList &clips, QString *unreadable)
{
    qint64 frames = 0;
    for (const QString &clip : clips) {
        const Mp3Timing timing = measureMp3File(clipDir + "/" + clip);
        if (!timing.valid) {
            *unreadable = clipDir + "/" + clip;
            return -1;
        }
        frames += timing.frames;
    }
    return frames;
}

bool writeConcatList(const QString &listPath, const QString &clipDir, const QStringList &clips)
{
    QFile file(listPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QTextStream out(&file);
    for (const QString &clip : clips)
        out << concatListLine(clipDir + "/" + clip);
    out.flush();
    file.close();
    return out.status() == QTextStream::Ok && file.error() == QFile::NoError;
}

void runJoinJob(ExportJobReporter &reporter, const QString &clipDir, const QString &outputDir,
                const QString &baseName)
{
    const QStringList clips = listClips(clipDir);
    if (!checkClipsExist(reporter, clips) || !checkOutputDir(reporter, outputDir))
        return;
    QString unreadable;
    const qint64 clipFrames = countClipFrames(clipDir, clips, &unreadable);
    if (clipFrames < 0) {
        qDebug() << "❌ unreadable clip:" << unreadable;
        emit reporter.failed("无法读取音频片段：" + unreadable);
        return;
    }
    const QString listPath = clipDir + "/list.txt";
    if (!writeConcatList(listPath, clipDir, clips)) {
        qDebug() << "❌ cannot write list:" << listPath;
        emit reporter.failed("无法写入列表文件：" + listPath);
        return;
    }
    const QString output = outputDir + "/" + baseName + ".mp3";
    const FfmpegRun run = runFfmpeg(concatArguments(listPath, output));
    if (run == FfmpegRun::Missing) {
        qDebug() << "❌ ffmpeg not found";
        emit reporter.failed(ffmpegMissingMessage);
        return;
    }
    if (run == FfmpegRun::Failed || measureMp3File(output).frames != clipFrames) {
        // The clips stay, so that nothing is lost and the generation can be retried.
        qDebug() << "❌ join failed:" << output;
        emit reporter.failed("生成MP3失败，音频片段已保留在：\n" + clipDir);
        return;
    }
    for (const QString &clip : clips)
        QFile::remove(clipDir + "/" + clip);
    emit reporter.finished("生成成功，保存在：\n" + output);
    qDebug() << "✅ final mp3:" << output;
}

} // namespace

SubAudioExporter::SubAudioExporter(QObject *parent)
    : QObject(parent)
{
}

void SubAudioExporter::startJob(std::function<void(ExportJobReporter &)> job)
{
    // The relay belongs to the job alone. Its queued connections end with the worker, so a
    // worker destroyed mid-job simply stops hearing from it; nothing is left dangling.
    auto reporter = std::make_shared<ExportJobReporter>();
    connect(reporter.get(), &ExportJobReporter::logMessage, this, &SubAudioExporter::logMessage,
            Qt::QueuedConnection);
    connect(reporter.get(), &ExportJobReporter::progress, this, &SubAudioExporter::progress,
            Qt::QueuedConnection);
    connect(reporter.get(), &ExportJobReporter::finished, this, &SubAudioExporter::finished,
            Qt::QueuedConnection);
    connect(reporter.get(), &ExportJobReporter::failed, this, &SubAudioExporter::failed,
            Qt::QueuedConnection);
    // It only emits, from the pool thread, and is destroyed there when the job ends.
    reporter->moveToThread(nullptr);
    (void)QtConcurrent::run(QThreadPool::globalInstance(),
                            [reporter, job = std::move(job)] { job(*reporter); });
}

void SubAudioExporter::fastExportAsync(const QString &sourcePath, const QList<SubtitleItem> &items,
                                       const QString &clipDir)
{
    startJob([sourcePath, items, clipDir](ExportJobReporter &reporter) {
        runClipJob(reporter, sourcePath, items, clipDir);
    });
}

void SubAudioExporter::generateFinalLrcAsync(const QString &outputDir, const QList<SubtitleItem> &items,
                                             const QString &baseName, const QString &clipDir)
{
    startJob([outputDir, items, baseName, clipDir](ExportJobReporter &reporter) {
        runLrcJob(reporter, outputDir, items, baseName, clipDir);
    });
}

void SubAudioExporter::concatMp3Async(const QString &clipDir, const QString &outputDir,
                                      const QString &baseName)
{
    startJob([clipDir, outputDir, baseName](ExportJobReporter &reporter) {
        emit reporter.logMessage("开始生成MP3...");
        runJoinJob(reporter, clipDir, outputDir, baseName);
    });
}

void SubAudioExporter::generateLrcAndMp3Async(const QString &clipDir, const QString &outputDir,
                                              const QList<SubtitleItem> &items, const QString &baseName)
{
    startJob([clipDir, outputDir, items, baseName](ExportJobReporter &reporter) {
        emit reporter.logMessage("开始生成MP3...");
        // Without clips neither an LRC nor an MP3 would match anything.
        if (!checkClipsExist(reporter, listClips(clipDir)) || !checkOutputDir(reporter, outputDir))
            return;
        if (runLrcJob(reporter, outputDir, items, baseName, clipDir))
            runJoinJob(reporter, clipDir, outputDir, baseName);
    });
}
