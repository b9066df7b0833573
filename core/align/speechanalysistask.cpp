#include "core/align/speechanalysistask.h"

#include <QPromise>
#include <QtConcurrent>

SpeechAnalysisTask::SpeechAnalysisTask(QObject *parent)
    : QObject(parent)
{
    connect(&watcher, &QFutureWatcher<SpeechAnalysis>::progressValueChanged, this,
            &SpeechAnalysisTask::progress);
    connect(&watcher, &QFutureWatcher<SpeechAnalysis>::finished, this, [this] {
        const QFuture<SpeechAnalysis> future = watcher.future();
        if (future.isValid() && future.resultCount() > 0)
            emit finished(future.result());
    });
}

SpeechAnalysisTask::~SpeechAnalysisTask()
{
    watcher.future().cancel();
}

bool SpeechAnalysisTask::start(const QString &media, const QString &cacheDirectory)
{
    if (isRunning())
        return false;
    watcher.setFuture(QtConcurrent::run([media, cacheDirectory](QPromise<SpeechAnalysis> &promise) {
        promise.setProgressRange(0, 100);
        promise.addResult(cachedSpeechAnalysis(media, cacheDirectory, [&promise](int percent) {
            promise.setProgressValue(percent);
            return !promise.isCanceled();
        }));
    }));
    return true;
}

bool SpeechAnalysisTask::isRunning() const
{
    return watcher.isRunning();
}
