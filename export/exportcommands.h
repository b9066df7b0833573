#pragma once

#include "subtitles/subtitleitem.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The ffmpeg argument lists, file names and file formats of the audio export, and the
// measurement of MP3 clips that places each sentence in the joined MP3.
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

QStringList clipArguments(qint64 startMs, qint64 endMs, const QString &sourcePath, const QString &outputPath);
QStringList concatArguments(const QString &listPath, const QString &outputPath);

// One line of the concat demuxer's list: file '<path>' with every ' written as '\''.
QString concatListLine(const QString &path);

// "[mm:ss.xx]", truncated to hundredths; minutes grow past two digits, there is no hours field.
QString lrcTimeTag(double seconds);

// What the MP3 frame headers of a file tell about its length. The joined MP3 is the clips'
// audio frames back to back, so frame counts place each clip in it exactly.
struct Mp3Timing
{
    bool valid = false;
    qint64 frames = 0;       // audio frames, without the Xing/Info frame
    int samplesPerFrame = 0; // 1152 for MPEG-1 Layer III, 576 for MPEG-2/2.5
    int sampleRate = 0;
    int encoderDelay = 0;   // priming samples noted in the LAME tag
    int encoderPadding = 0; // padding samples noted in the LAME tag
    bool hasEncoderTag = false;

    double frameSeconds() const;    // every frame, priming and padding included
    double playableSeconds() const; // what a gapless player plays
};
Mp3Timing measureMp3(const QByteArray &data);
Mp3Timing measureMp3File(const QString &path);

// Where the audio of each clip begins in the MP3 that joins them in this order (stream copy:
// the joined file keeps the first clip's priming, each later clip brings its own).
QList<double> joinedClipStarts(const QList<Mp3Timing> &clips);
double joinedSeconds(const QList<Mp3Timing> &clips);

// The LRC time of each of itemCount sentences: the start of the clip named after its
// position, or, for a sentence without a clip, the start of the next clip (the end of the
// joined MP3 after the last one). clipNames are sorted, clipStarts belong to them.
QList<double> lrcLineTimes(int itemCount, const QStringList &clipNames, const QList<double> &clipStarts,
                           double joinedEnd);

} // namespace ExportCommands
