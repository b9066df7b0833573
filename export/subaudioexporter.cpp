#include "export/subaudioexporter.h"

SubAudioExporter::SubAudioExporter(QObject *parent)
    : QObject(parent)
{
}

void SubAudioExporter::fastExportAsync(const QString &, const QList<SubtitleItem> &, const QString &) {}
void SubAudioExporter::generateFinalLrcAsync(const QString &, const QList<SubtitleItem> &, const QString &) {}
void SubAudioExporter::concatMp3Async(const QString &, const QString &, const QString &) {}
