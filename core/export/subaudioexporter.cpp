#include "core/export/subaudioexporter.h"

#include "core/export/exportclaim.h"
#include "core/export/exportjobs.h"

#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

SubAudioExporter::SubAudioExporter(QObject *parent)
    : QObject(parent)
    , m_parallelClips(QThread::idealThreadCount())
{
}

SubAudioExporter::~SubAudioExporter()
{
    // Nobody would hear from the jobs any more, and a program that quits waits for them.
    cancel();
}

QString SubAudioExporter::claimClipDir(const QString &clipDir)
{
    if (m_claim && m_claim->clipDir() == clipDir)
        return {};
    QString error;
    m_claim = ExportClaim::take(clipDir, &error);
    return error;
}

void SubAudioExporter::setParallelClips(int count)
{
    m_parallelClips = qMax(1, count);
}

void SubAudioExporter::cancel()
{
    if (m_claim)
        m_claim->requestStop();
}

void SubAudioExporter::startJob(const QString &clipDir, Job job)
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

    const QString error = claimClipDir(clipDir);
    (void)QtConcurrent::run(QThreadPool::globalInstance(),
                            [reporter, claim = m_claim, error, job = std::move(job)]() mutable {
                                if (!error.isEmpty()) {
                                    emit reporter->failed(error);
                                    return;
                                }
                                QString message;
                                const bool succeeded = job(*reporter, *claim, &message);
                                // Let go of the directory before the end is told: then the worker alone holds
                                // it, and a worker deleted on hearing the end frees it for the next export at
                                // once.
                                claim.reset();
                                if (succeeded)
                                    emit reporter->finished(message);
                                else
                                    emit reporter->failed(message);
                            });
}

void SubAudioExporter::fastExportAsync(const QString &sourcePath, const QList<SubtitleItem> &items,
                                       const QString &clipDir)
{
    startJob(clipDir, [sourcePath, items, parallel = m_parallelClips](
                          ExportJobReporter &reporter, const ExportClaim &claim, QString *message) {
        return runClipJob(reporter, claim, sourcePath, items, parallel, message);
    });
}

void SubAudioExporter::generateLrcAndMp3Async(const QString &clipDir, const QString &outputDir,
                                              const QList<SubtitleItem> &items, const QString &baseName)
{
    startJob(clipDir, [outputDir, items, baseName](ExportJobReporter &reporter, const ExportClaim &claim,
                                                   QString *message) {
        return runGenerationJob(reporter, claim, outputDir, items, baseName, message);
    });
}
