#include "core/export/exportclaim.h"
#include "core/export/exportcommands.h"
#include "core/export/exportjobs.h"
#include "core/export/ffmpegrun.h"
#include "core/export/mp3timing.h"
#include "core/export/subaudioexporter.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>
#include <filesystem>
#include <system_error>

using namespace ExportCommands;

namespace {

bool fail(QString *message, const QString &text)
{
    *message = text;
    return false;
}

// The clips this export cut, measured. Anything else in the clip directory is not ours.
bool measureClips(const QStringList &clips, QList<Mp3Timing> *timings, QString *message)
{
    if (std::none_of(clips.cbegin(), clips.cend(), [](const QString &clip) { return QFile::exists(clip); })) {
        qDebug() << "❌ no mp3 files";
        return fail(message, "没有可合并的音频片段，请先导出音轨");
    }
    for (const QString &clip : clips) {
        const Mp3Timing timing = measureMp3File(clip);
        if (!timing.valid) {
            qDebug() << "❌ unreadable clip:" << clip;
            return fail(message, "无法读取音频片段：" + clip);
        }
        timings->append(timing);
    }
    return true;
}

bool writeText(QFile &file, const QStringList &lines)
{
    QTextStream out(&file);
    for (const QString &line : lines)
        out << line;
    out.flush();
    file.close();
    return out.status() == QTextStream::Ok && file.error() == QFile::NoError;
}

bool writeConcatList(const QString &listPath, const QStringList &clips)
{
    QFile file(listPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QStringList lines;
    for (const QString &clip : clips)
        lines << concatListLine(clip);
    return writeText(file, lines);
}

bool writeLrc(const QString &path, const QString &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Text) && writeText(file, {text});
}

// The new results are made under hidden names beside the old ones (one export works in a
// folder at a time) and put in place only when both are complete.
struct Drafts
{
    Drafts(const QString &outputDir, const QString &baseName)
        : lrc(outputDir + "/." + baseName + ".joining.lrc")
        , mp3(outputDir + "/." + baseName + ".joining.mp3")
        , previousMp3(outputDir + "/." + baseName + ".previous.mp3")
    {
    }
    ~Drafts()
    {
        QFile::remove(lrc);
        QFile::remove(mp3);
    }
    const QString lrc;
    const QString mp3;
    const QString previousMp3;
};

std::filesystem::path nativePath(const QString &path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

// Moves from onto to, replacing a file there in one step.
bool replaceFile(const QString &from, const QString &to)
{
    std::error_code error;
    std::filesystem::rename(nativePath(from), nativePath(to), error);
    return !error;
}

// Puts the joined MP3 and its LRC in place of the old pair, both or neither: when the LRC
// cannot follow, the old MP3 comes back.
bool installPair(const Drafts &drafts, const QString &mp3, const QString &lrc)
{
    const bool hadMp3 = QFileInfo(mp3).isFile();
    if (hadMp3 && !replaceFile(mp3, drafts.previousMp3))
        return false;
    if (replaceFile(drafts.mp3, mp3)) {
        if (replaceFile(drafts.lrc, lrc)) {
            QFile::remove(drafts.previousMp3);
            return true;
        }
        QFile::remove(mp3);
    }
    if (hadMp3)
        replaceFile(drafts.previousMp3, mp3);
    return false;
}

qint64 totalFrames(const QList<Mp3Timing> &timings)
{
    qint64 frames = 0;
    for (const Mp3Timing &timing : timings)
        frames += timing.frames;
    return frames;
}

} // namespace

bool runGenerationJob(ExportJobReporter &reporter, const ExportClaim &claim, const QString &outputDir,
                      const QList<SubtitleItem> &items, const QString &baseName, QString *message)
{
    emit reporter.logMessage("开始生成MP3...");
    const QString clipDir = claim.clipDir();
    const QList<int> positions = clipPositions(items);
    QStringList clips;
    for (int position : positions)
        clips << clipPath(clipDir, position);
    QList<Mp3Timing> timings;
    if (!measureClips(clips, &timings, message))
        return false;
    if (!QDir().mkpath(outputDir)) {
        qDebug() << "❌ cannot create directory:" << outputDir;
        return fail(message, "无法创建目录：" + outputDir);
    }
    const QString listPath = clipDir + "/list.txt";
    if (!writeConcatList(listPath, clips)) {
        qDebug() << "❌ cannot write list:" << listPath;
        return fail(message, "无法写入列表文件：" + listPath);
    }
    // The tags come from the clips' real lengths: every clip is longer than its cue by the
    // encoder's priming and padding, so cue durations would drift away from the joined MP3.
    const QList<double> times =
        lrcLineTimes(int(items.size()), positions, joinedClipStarts(timings), joinedSeconds(timings));
    const Drafts drafts(outputDir, baseName);
    if (!writeLrc(drafts.lrc, lrcText(items, times))) {
        qDebug() << "❌ cannot write lrc:" << drafts.lrc;
        return fail(message, "无法写入歌词文件：" + drafts.lrc);
    }

    const FfmpegRun run = runFfmpeg(concatArguments(listPath, drafts.mp3), claim.stopRequested());
    if (run == FfmpegRun::Stopped)
        return fail(message, "导出已取消");
    if (run == FfmpegRun::Missing) {
        qDebug() << "❌ ffmpeg not found";
        return fail(message, ffmpegMissingMessage);
    }
    const QString lrcPath = outputDir + "/" + baseName + ".lrc";
    const QString mp3Path = outputDir + "/" + baseName + ".mp3";
    // ffmpeg exits with 0 even when the concat demuxer stops at a broken clip.
    if (run == FfmpegRun::Failed || measureMp3File(drafts.mp3).frames != totalFrames(timings) ||
        !installPair(drafts, mp3Path, lrcPath)) {
        // The clips stay, so that nothing is lost and the generation can be retried.
        qDebug() << "❌ join failed:" << mp3Path;
        return fail(message, "生成MP3失败，音频片段已保留在：\n" + clipDir);
    }
    for (const QString &clip : clips)
        QFile::remove(clip);
    qDebug() << "✅ final lrc:" << lrcPath;
    qDebug() << "✅ final mp3:" << mp3Path;
    *message = "生成成功，保存在：\n" + mp3Path;
    return true;
}
