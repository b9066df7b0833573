#pragma once

#include "subtitles/subtitleitem.h"

#include <QObject>

#include <functional>

class ExportJobReporter;

// Cuts one MP3 clip per sentence, writes the LRC and joins the clips, each job on the
// global thread pool; results come back only through the signals, queued into the thread
// the worker lives in. A job never touches the worker itself: it reports through a relay
// it owns, so destroying the worker (or its window) while a job runs drops the job's
// remaining signals instead of crashing.
class SubAudioExporter : public QObject
{
    Q_OBJECT

public:
    explicit SubAudioExporter(QObject *parent = nullptr);

    void fastExportAsync(const QString &sourcePath, const QList<SubtitleItem> &items, const QString &clipDir);
    // Writes the LRC from the clips in clipDir: each line where its sentence's clip begins in
    // the joined MP3. Emits failed when the file cannot be written, nothing on success.
    void generateFinalLrcAsync(const QString &outputDir, const QList<SubtitleItem> &items,
                               const QString &baseName, const QString &clipDir);
    void concatMp3Async(const QString &clipDir, const QString &outputDir, const QString &baseName);
    // The second phase of an export: the LRC and then the join, one after the other on one
    // pool thread (the LRC needs the clips the join removes). Ends with finished or failed.
    void generateLrcAndMp3Async(const QString &clipDir, const QString &outputDir,
                                const QList<SubtitleItem> &items, const QString &baseName);

signals:
    void logMessage(const QString &msg);
    void progress(int current, int total);
    void finished(const QString &msg);
    void failed(const QString &msg);

private:
    void startJob(std::function<void(ExportJobReporter &)> job);
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
