#pragma once

#include "core/subtitles/subtitleitem.h"

#include <QObject>

#include <functional>
#include <memory>

class ExportClaim;
class ExportJobReporter;

// Cuts one MP3 clip per sentence, then joins the clips and writes the LRC, each job on the
// global thread pool; results come back only through the signals, queued into the thread
// the worker lives in. A job never touches the worker itself: it reports through a relay
// it owns, so destroying the worker while a job runs drops the job's remaining signals.
// A worker holds its clip directory against every other export for as long as it lives
// (see ExportClaim); destroying it stops its jobs, as cancel() does.
class SubAudioExporter : public QObject
{
    Q_OBJECT

public:
    explicit SubAudioExporter(QObject *parent = nullptr);
    ~SubAudioExporter() override;

    // Takes clipDir for this worker's jobs before any is started, so that a window can say at
    // once why it cannot export. Returns an empty string, or what stands in the way. A job
    // takes its directory itself when it has not been taken, and fails when it cannot.
    QString claimClipDir(const QString &clipDir);
    // How many clips are cut at once; one per core unless set.
    void setParallelClips(int count);

    void fastExportAsync(const QString &sourcePath, const QList<SubtitleItem> &items, const QString &clipDir);
    // The second phase of an export: joins the clips the first phase cut for items and
    // writes the LRC from their measured lengths. The new MP3 and LRC replace the old pair
    // together or not at all. Ends with finished or failed.
    void generateLrcAndMp3Async(const QString &clipDir, const QString &outputDir,
                                const QList<SubtitleItem> &items, const QString &baseName);
    // Starts no further clip, ends the running ffmpeg and removes what they left unfinished;
    // the job then ends with failed.
    void cancel();

signals:
    void logMessage(const QString &msg);
    void progress(int current, int total);
    void finished(const QString &msg);
    void failed(const QString &msg);

private:
    using Job = std::function<bool(ExportJobReporter &, const ExportClaim &, QString *message)>;
    void startJob(const QString &clipDir, Job job);

    std::shared_ptr<ExportClaim> m_claim;
    int m_parallelClips;
};

// The signals of one running job. It lives as long as its job; the worker forwards them.
class ExportJobReporter : public QObject
{
    Q_OBJECT

signals:
    void logMessage(const QString &msg);
    void progress(int current, int total);
    void finished(const QString &msg);
    void failed(const QString &msg);
};
