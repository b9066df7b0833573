#include "core/export/exportclaim.h"
#include "core/export/exportcommands.h"
#include "core/export/exportjobs.h"
#include "core/export/ffmpegrun.h"
#include "core/export/mp3timing.h"
#include "core/export/subaudioexporter.h"

#include <QDebug>
#include <QFile>
#include <QMutex>
#include <QThreadPool>

#include <atomic>

using namespace ExportCommands;

namespace {

// What the clips cut side by side have come to. Each clip's end is told under the lock, so
// progress counts up one by one whichever clip ends first.
class ClipTally
{
public:
    ClipTally(ExportJobReporter &reporter, int total)
        : m_reporter(reporter)
        , m_total(total)
    {
    }

    // False once a clip has failed or ffmpeg is missing: no further clip starts.
    bool goesOn() const { return !m_halted; }

    void record(FfmpegRun run, const QString &clip)
    {
        QMutexLocker locker(&m_mutex);
        switch (run) {
        case FfmpegRun::Succeeded:
            ++m_made;
            emit m_reporter.progress(m_made, m_total);
            if ((m_made - 1) % 10 == 0)
                emit m_reporter.logMessage(QString("导出中 %1 / %2").arg(m_made - 1).arg(m_total));
            break;
        case FfmpegRun::Failed:
            qDebug() << "❌ clip failed:" << clip;
            ++m_failed;
            m_halted = true;
            break;
        case FfmpegRun::Missing:
            m_missing = true;
            m_halted = true;
            break;
        case FfmpegRun::Stopped:
            break;
        }
    }

    bool succeeded(const ExportClaim &claim, QString *message) const
    {
        if (claim.stopRequested()) {
            qDebug() << "❌ export stopped:" << claim.clipDir();
            *message = "导出已取消";
        } else if (m_missing) {
            qDebug() << "❌ ffmpeg not found";
            *message = ffmpegMissingMessage;
        } else if (m_failed > 0) {
            *message = QString("导出失败：%1 句无法剪切成 MP3，已剪好的片段保留在：\n%2")
                           .arg(m_failed)
                           .arg(claim.clipDir());
        } else {
            qDebug() << "✅ export finished";
            *message = "导出完成，请点击生成MP3按钮";
            return true;
        }
        return false;
    }

private:
    ExportJobReporter &m_reporter;
    const int m_total;
    QMutex m_mutex;
    int m_made = 0;
    int m_failed = 0;
    bool m_missing = false;
    std::atomic_bool m_halted = false;
};

void cutClip(ClipTally &tally, const ExportClaim &claim, const QString &sourcePath, const SubtitleItem &item,
             const QString &clip)
{
    if (!tally.goesOn() || claim.stopRequested())
        return;
    FfmpegRun run =
        runFfmpeg(clipArguments(item.startMs, item.endMs, sourcePath, clip), claim.stopRequested());
    // ffmpeg can exit with 0 and leave a file without a single frame (a cue past the end of
    // the media, for example): only audio frames make a clip.
    if (run == FfmpegRun::Succeeded && !measureMp3File(clip).valid)
        run = FfmpegRun::Failed;
    // A broken or unfinished clip must not be joined later as if it were this sentence.
    if (run == FfmpegRun::Failed || run == FfmpegRun::Stopped)
        QFile::remove(clip);
    tally.record(run, clip);
}

} // namespace

bool runClipJob(ExportJobReporter &reporter, const ExportClaim &claim, const QString &sourcePath,
                const QList<SubtitleItem> &items, int parallelClips, QString *message)
{
    emit reporter.logMessage("导出中...");
    const QList<int> positions = clipPositions(items);
    ClipTally tally(reporter, int(positions.size()));
    {
        // A pool of the job's own: ffmpeg runs block their threads, and the global pool
        // also carries this job and the window's other work.
        QThreadPool pool;
        pool.setMaxThreadCount(parallelClips);
        for (int position : positions) {
            pool.start([&, position] {
                cutClip(tally, claim, sourcePath, items.at(position), clipPath(claim.clipDir(), position));
            });
        }
        pool.waitForDone();
    }
    return tally.succeeded(claim, message);
}
