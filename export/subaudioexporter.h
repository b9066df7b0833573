#pragma once

#include "subtitles/subtitleitem.h"

#include <QObject>

// Cuts one MP3 clip per sentence, writes the LRC and joins the clips, each job on the
// global thread pool; results come back only through the signals.
class SubAudioExporter : public QObject
{
    Q_OBJECT

public:
    explicit SubAudioExporter(QObject *parent = nullptr);

    void fastExportAsync(const QString &sourcePath, const QList<SubtitleItem> &items, const QString &clipDir);
    void generateFinalLrcAsync(const QString &outputDir, const QList<SubtitleItem> &items,
                               const QString &baseName);
    void concatMp3Async(const QString &clipDir, const QString &outputDir, const QString &baseName);

signals:
    void logMessage(const QString &msg);
    void progress(int current, int total);
    void finished(const QString &msg);
    void failed(const QString &msg);
};
