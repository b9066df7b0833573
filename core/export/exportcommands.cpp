#include "core/export/exportcommands.h"

#include <QFileInfo>

#include <algorithm>

namespace ExportCommands {

ExportPaths exportPaths(const QString &mediaFile)
{
    const QFileInfo info(mediaFile);
    ExportPaths paths;
    paths.subtitlePath = info.path() + "/" + info.completeBaseName() + ".srt1";
    paths.clipDir = info.absolutePath() + "/mp3_temp";
    paths.outputDir = info.absolutePath() + "/mp3_output";
    paths.baseName = info.completeBaseName();
    paths.lrcPath = paths.outputDir + "/" + paths.baseName + ".lrc";
    paths.mp3Path = paths.outputDir + "/" + paths.baseName + ".mp3";
    return paths;
}

bool hasExportableSentences(const QList<SubtitleItem> &items)
{
    return std::any_of(items.cbegin(), items.cend(),
                       [](const SubtitleItem &item) { return item.endMs > item.startMs; });
}

QString secondsArgument(qint64 ms)
{
    return QString::number(ms / 1000.0, 'f', 3);
}

QString clipFileName(int position)
{
    return QString("%1.mp3").arg(position, 6, 10, QChar('0'));
}

QString clipPath(const QString &clipDir, int position)
{
    return clipDir + "/" + clipFileName(position);
}

QList<int> clipPositions(const QList<SubtitleItem> &items)
{
    QList<int> positions;
    for (int i = 0; i < int(items.size()); ++i) {
        if (items.at(i).endMs > items.at(i).startMs)
            positions.append(i);
    }
    return positions;
}

QStringList clipArguments(qint64 startMs, qint64 endMs, const QString &sourcePath, const QString &outputPath)
{
    return {"-y",
            "-ss",
            secondsArgument(startMs),
            "-t",
            secondsArgument(endMs - startMs),
            "-i",
            sourcePath,
            "-vn",
            "-af",
            "loudnorm=I=-16:TP=-1.5:LRA=11",
            "-acodec",
            "libmp3lame",
            "-ar",
            "44100",
            "-ac",
            "2",
            outputPath};
}

QStringList concatArguments(const QString &listPath, const QString &outputPath)
{
    return {"-y", "-f", "concat", "-safe", "0", "-i", listPath, "-c", "copy", outputPath};
}

QString concatListLine(const QString &path)
{
    // The demuxer reads '\'' inside a quoted string as a literal quote.
    QString quoted = path;
    quoted.replace("'", "'\\''");
    return "file '" + quoted + "'\n";
}

QString lrcTimeTag(double seconds)
{
    const auto whole = static_cast<qint64>(seconds);
    const qint64 minutes = static_cast<qint64>(seconds / 60);
    const qint64 secondsInMinute = whole % 60;
    const auto hundredths = static_cast<int>((seconds - whole) * 100);
    return QString("[%1:%2.%3]")
        .arg(minutes, 2, 10, QChar('0'))
        .arg(secondsInMinute, 2, 10, QChar('0'))
        .arg(hundredths, 2, 10, QChar('0'));
}

QString lrcText(const QList<SubtitleItem> &items, const QList<double> &times)
{
    QString text;
    for (qsizetype i = 0; i < items.size(); ++i)
        text += lrcTimeTag(times.at(i)) + items.at(i).text + "\n";
    return text;
}

} // namespace ExportCommands
