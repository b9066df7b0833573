#pragma once

#include "core/align/speechactivity.h"

#include <QFutureWatcher>
#include <QObject>

// The speech analysis of one lesson on a thread of the pool, for a window that must stay
// responsive: progress and the result come back as signals on the owner's thread. Destroying
// the task stops a running analysis (its ffmpeg ends within a moment).
class SpeechAnalysisTask : public QObject
{
    Q_OBJECT

public:
    explicit SpeechAnalysisTask(QObject *parent = nullptr);
    ~SpeechAnalysisTask() override;

    // Starts the analysis of `media` (kept in the cache directory); false while one runs.
    bool start(const QString &media, const QString &cacheDirectory = speechCacheDirectory());
    bool isRunning() const;

signals:
    void progress(int percent);
    void finished(const SpeechAnalysis &analysis);

private:
    QFutureWatcher<SpeechAnalysis> watcher;
};
