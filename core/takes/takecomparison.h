#pragma once

#include <QList>
#include <QString>

#include <optional>

// How a learner's take follows the speaker's sentence: the loudness envelope and the pitch
// contour of each, every 10 ms, and a score of how closely the take's melody and rhythm follow
// the speaker's.

struct VoiceTrack
{
    static constexpr int frameMs = 10;
    QList<float> loudness; // dBFS of each frame
    QList<float> pitchHz;  // the frame's fundamental, 0 where it is not voiced

    qsizetype frames() const { return loudness.size(); }
    qint64 durationMs() const { return qint64(frames()) * frameMs; }
};

// The rate the sound is compared at: enough for the fundamental and the envelope.
constexpr int comparisonRate = 16000;

// The sound of media (a path or a URL) from startMs, lengthMs long (all of it when negative),
// decoded by ffmpeg as 16 kHz mono; nothing when it cannot be read.
std::optional<QList<qint16>> readComparisonSound(const QString &media, qint64 startMs = 0,
                                                 qint64 lengthMs = -1);

// The envelope and the contour of 16 kHz mono samples.
VoiceTrack voiceTrack(const QList<qint16> &samples);

// From the first frame of speech to the last: a take begins before the learner speaks and a
// sentence carries its lead-in.
VoiceTrack voicedStretch(const VoiceTrack &track);

// The track stretched (or squeezed) to the given number of frames, so that it can be drawn and
// compared over the speaker's time.
VoiceTrack stretchedTo(const VoiceTrack &track, qsizetype frames);

struct TakeComparison
{
    VoiceTrack speaker;   // the sentence's speech
    VoiceTrack take;      // the take's speech, stretched to the sentence's
    double contour = 0;   // correlation of the two melodies, time-aligned by dynamic time warping
    double rhythm = 0;    // correlation of the two envelopes over the stretched time
    double register_ = 0; // 1 for the same pitch level, 0 for an octave or more apart
    double score = 0;     // 0–100, what the learner follows

    bool isValid() const { return speaker.frames() > 0 && take.frames() > 0; }
};

// Compares a take with the speaker's sentence (both as measured, silence around them included).
TakeComparison compareTake(const VoiceTrack &speaker, const VoiceTrack &take);
