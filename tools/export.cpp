// orviloop-export MEDIA...: exports each media file as the player's export button does (one
// clip per sentence of its ".srt1", or of its ".srt" when it has none, then the LRC and the
// joined MP3 in "mp3_output" beside the media), one file after the other, printing progress
// and messages as lines. Exits non-zero when any export fails, so that a folder of lessons can
// be exported from a script. SIGTERM or Ctrl-C stops the export after the running ffmpeg
// (a second one at once) and exports no further file.

#include "core/library/termination.h"
#include "core/export/exportcommands.h"
#include "core/export/subaudioexporter.h"
#include "core/subtitles/srtparser.h"
#include "tools/consolestreams.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QPointer>
#include <QStringList>
#include <QTextStream>

#include <cstdio>
#include <functional>

namespace {

void printLine(QTextStream &stream, const QString &line)
{
    stream << line << Qt::endl;
}

// Runs one phase to its end; true when it finished, false when it failed.
bool runPhase(SubAudioExporter &exporter, const std::function<void()> &start)
{
    QEventLoop loop;
    bool succeeded = false;
    const auto finishedConnection =
        QObject::connect(&exporter, &SubAudioExporter::finished, &loop, [&](const QString &msg) {
            printLine(out(), msg);
            succeeded = true;
            loop.quit();
        });
    const auto failedConnection =
        QObject::connect(&exporter, &SubAudioExporter::failed, &loop, [&](const QString &msg) {
            printLine(err(), "❌ " + msg);
            loop.quit();
        });
    start();
    loop.exec();
    QObject::disconnect(finishedConnection);
    QObject::disconnect(failedConnection);
    return succeeded;
}

// The player exports the ".srt1" it has taken over. A lesson never opened in the player
// still has its ".srt": that one is read as it is, left in place and under its name.
QString subtitleToExport(const ExportCommands::ExportPaths &paths)
{
    if (QFileInfo::exists(paths.subtitlePath))
        return paths.subtitlePath;
    const QString plain = paths.subtitlePath.chopped(1);
    return QFileInfo::exists(plain) ? plain : paths.subtitlePath;
}

// The export running now, to be stopped by a termination signal.
QPointer<SubAudioExporter> runningExport;
bool stopRequested = false;

void stopExporting()
{
    printLine(err(), "正在停止导出（再按一次 Ctrl+C 立即退出）...");
    stopRequested = true;
    if (runningExport)
        runningExport->cancel();
}

bool exportMedia(const QString &mediaFile)
{
    const ExportCommands::ExportPaths paths = ExportCommands::exportPaths(mediaFile);
    printLine(out(), "== " + mediaFile);
    const QString subtitle = subtitleToExport(paths);
    const QList<SubtitleItem> items = parseSrtFile(subtitle);
    if (!ExportCommands::hasExportableSentences(items)) {
        printLine(err(), "❌ 没有可导出的句子：" + subtitle);
        return false;
    }
    printLine(out(), QString("字幕：%1（%2 句）").arg(subtitle).arg(items.size()));

    SubAudioExporter exporter;
    const QString busy = exporter.claimClipDir(paths.clipDir);
    if (!busy.isEmpty()) {
        printLine(err(), "❌ " + busy);
        return false;
    }
    runningExport = &exporter;
    QObject::connect(&exporter, &SubAudioExporter::logMessage, &exporter,
                     [](const QString &msg) { printLine(out(), msg); });
    QObject::connect(&exporter, &SubAudioExporter::progress, &exporter, [](int current, int total) {
        printLine(out(), QString("导出中 %1 / %2").arg(current).arg(total));
    });
    const bool clipsMade =
        runPhase(exporter, [&] { exporter.fastExportAsync(mediaFile, items, paths.clipDir); });
    return clipsMade && !stopRequested && runPhase(exporter, [&] {
               exporter.generateLrcAndMp3Async(paths.clipDir, paths.outputDir, items, paths.baseName);
           });
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList mediaFiles = app.arguments().mid(1);
    if (mediaFiles.isEmpty() || mediaFiles.first() == "--help") {
        std::fputs("usage: orviloop-export MEDIA...\n"
                   "Cuts one MP3 per sentence of MEDIA's .srt1 (else .srt) subtitle and joins them into\n"
                   "mp3_output/<name>.mp3 with a matching mp3_output/<name>.lrc.\n",
                   stderr);
        return 2;
    }
    onTerminationSignals(stopExporting);
    int failures = 0;
    for (const QString &mediaFile : mediaFiles) {
        if (stopRequested || !exportMedia(mediaFile))
            ++failures;
    }
    if (failures > 0)
        printLine(err(), QString("❌ %1 / %2 个文件导出失败").arg(failures).arg(mediaFiles.size()));
    return failures > 0 ? 1 : 0;
}
