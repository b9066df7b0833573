#pragma once

#include "core/subtitles/subtitleitem.h"

#include <QList>
#include <QString>
#include <QStringList>

// The ffmpeg argument lists, file names and file formats of the audio export.
namespace ExportCommands {

// The files of one export, all derived from the media file.
struct ExportPaths
{
    QString subtitlePath; // the ".srt1" beside the media
    QString clipDir;      // "mp3_temp" beside the media
    QString outputDir;    // "mp3_output" beside the media
    QString baseName;     // the media's file name without its last suffix
    QString lrcPath;
    QString mp3Path;
};
ExportPaths exportPaths(const QString &mediaFile);

// True when at least one sentence is long enough to give a clip.
bool hasExportableSentences(const QList<SubtitleItem> &items);

// Milliseconds as seconds with exactly three decimals ("12.340").
QString secondsArgument(qint64 ms);
// "%06d.mp3": fixed-width names, so that name order is sentence order.
QString clipFileName(int position);
QString clipPath(const QString &clipDir, int position);
// The positions that get a clip, ascending: the sentences with a length. An export cuts,
// joins and removes exactly these clips and leaves anything else in the clip directory.
QList<int> clipPositions(const QList<SubtitleItem> &items);

QStringList clipArguments(qint64 startMs, qint64 endMs, const QString &sourcePath, const QString &outputPath);
QStringList concatArguments(const QString &listPath, const QString &outputPath);

// One line of the concat demuxer's list: file '<path>' with every ' written as '\''.
QString concatListLine(const QString &path);

// "[mm:ss.xx]", truncated to hundredths; minutes grow past two digits, there is no hours field.
QString lrcTimeTag(double seconds);

// The LRC file's text: each sentence's text after the tag of its time, one line per
// sentence (a text of several lines goes on untagged), no header.
QString lrcText(const QList<SubtitleItem> &items, const QList<double> &times);

} // namespace ExportCommands
