#pragma once

#include <QList>
#include <QString>

#include <functional>

// Where a lesson's sound holds speech: the level of every 10 ms of its first sound track,
// decoded by ffmpeg in mono, and the stretches of speech read from it against a
// noise floor that follows the recording. Measured here rather than by a voice-activity library:
// Debian packages none, and the edges of speech near times already known need no more.

struct SpeechSegment
{
    qint64 startMs = 0; // the first frame above the speech threshold
    qint64 endMs = 0;   // the end of the last one
};

struct SpeechActivity
{
    static constexpr int frameMs = 10;
    QList<float> levels; // dBFS of each frame (its RMS), never below silenceDb

    qint64 durationMs() const { return qint64(levels.size()) * frameMs; }
};

constexpr float silenceDb = -100.0f;

// Which frames hold speech: above a threshold a few decibels over the noise floor around them
// (a low percentile of the levels nearby), with stop gaps filled and clicks dropped.
QList<bool> voicedFrames(const QList<float> &levels);

// The stretches of speech: voiced frames, joined across the pauses between words (up to
// joinGapMs) so that a word gap does not pass for the end of a sentence.
QList<SpeechSegment> speechSegments(const SpeechActivity &activity);

enum class SpeechAnalysisStatus { Done, NoSound, Unreadable, DecodeFailed, FfmpegMissing, Stopped };

struct SpeechAnalysis
{
    SpeechAnalysisStatus status = SpeechAnalysisStatus::Stopped;
    SpeechActivity activity;
    QString message; // for the learner when the analysis failed
};

// Told the percentage done from time to time; returns false to stop the analysis.
using SpeechAnalysisReport = std::function<bool(int percent)>;

// Decodes the media (a path or a URL) and measures it.
SpeechAnalysis analyseSpeech(const QString &media, const SpeechAnalysisReport &report);

// The same, computed once per lesson: kept in cacheDirectory under a name made of the media's
// path, size and modification time, and read from there the next time.
SpeechAnalysis cachedSpeechAnalysis(const QString &media, const QString &cacheDirectory,
                                    const SpeechAnalysisReport &report);

// The program's own cache directory for the analyses.
QString speechCacheDirectory();
