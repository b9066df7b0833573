#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

// A generated lesson: a WAV file that sounds a tone during each sentence and is silent
// between them, and beside it the subtitle (base name + ".srt1") whose cues match the tones.

struct LessonCue
{
    qint64 startMs;
    qint64 endMs;
};

inline QString lessonSrtTime(qint64 ms)
{
    return QString("%1:%2:%3,%4")
        .arg(ms / 3600000, 2, 10, QChar('0'))
        .arg(ms / 60000 % 60, 2, 10, QChar('0'))
        .arg(ms / 1000 % 60, 2, 10, QChar('0'))
        .arg(ms % 1000, 3, 10, QChar('0'));
}

inline QString lessonSrt(const QList<LessonCue> &cues)
{
    QString text;
    for (int i = 0; i < cues.size(); ++i) {
        text += QString("%1\n%2 --> %3\nSentence %4\n\n")
                    .arg(i + 1)
                    .arg(lessonSrtTime(cues.at(i).startMs), lessonSrtTime(cues.at(i).endMs))
                    .arg(i);
    }
    return text;
}

// The tone's envelope for ffmpeg's expression source: 1 inside a cue, 0 elsewhere.
inline QString lessonToneExpression(const QList<LessonCue> &cues)
{
    QStringList windows;
    for (const LessonCue &cue : cues)
        windows << QString("between(t,%1,%2)")
                       .arg(cue.startMs / 1000.0, 0, 'f', 3)
                       .arg(cue.endMs / 1000.0, 0, 'f', 3);
    return QString("0.3*sin(2*PI*440*t)*(%1)").arg(windows.isEmpty() ? "0" : windows.join('+'));
}

// Writes the media and its subtitle; returns an empty string on success, else what failed.
inline QString writeLesson(const QString &mediaPath, const QList<LessonCue> &cues, qint64 durationMs)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                            QString("aevalsrc=exprs='%1':s=16000:d=%2")
                                .arg(lessonToneExpression(cues))
                                .arg(durationMs / 1000.0, 0, 'f', 3),
                            "-c:a", "pcm_s16le", mediaPath});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitStatus() != QProcess::NormalExit ||
        ffmpeg.exitCode() != 0)
        return "ffmpeg: " + QString::fromLocal8Bit(ffmpeg.readAllStandardError());

    const QFileInfo media(mediaPath);
    QFile srt(media.absoluteDir().filePath(media.completeBaseName() + ".srt1"));
    if (!srt.open(QIODevice::WriteOnly) || srt.write(lessonSrt(cues).toUtf8()) < 0)
        return "cannot write " + srt.fileName();
    return {};
}

// A silent mono WAV of the given length, for tests that make the position reports themselves.
inline bool makeSilence(const QString &path, int seconds)
{
    QProcess sox;
    sox.start("sox", {"-n", "-r", "8000", "-c", "1", path, "trim", "0", QString::number(seconds)});
    return sox.waitForFinished(30000) && sox.exitStatus() == QProcess::NormalExit && sox.exitCode() == 0;
}

// A small H.264 video with an AAC tone, a key frame every second, so that seeks land close.
inline bool makeTestVideo(const QString &path, int seconds)
{
    const QString length = QString::number(seconds);
    const QStringList arguments{
        "-hide_banner", "-loglevel", "error",   "-y",
        "-f",           "lavfi",     "-i",      "testsrc=size=64x48:rate=5:duration=" + length,
        "-f",           "lavfi",     "-i",      "sine=frequency=440:duration=" + length,
        "-c:v",         "libx264",   "-preset", "ultrafast",
        "-g",           "5",         "-c:a",    "aac",
        "-shortest",    path};
    return QProcess::execute("ffmpeg", arguments) == 0;
}

// Runs a program to its end; what it printed, both channels.
inline QString runAndRead(const QString &program, const QStringList &arguments, int *exitCode = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.waitForFinished(-1);
    if (exitCode)
        *exitCode = process.exitCode();
    return QString::fromUtf8(process.readAll());
}

// The duration ffprobe gives a media file, in seconds.
inline double ffprobeDuration(const QString &path)
{
    return runAndRead("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of",
                                  "default=noprint_wrappers=1:nokey=1", path})
        .trimmed()
        .toDouble();
}
