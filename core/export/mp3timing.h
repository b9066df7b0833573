#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// What the MP3 frame headers of a clip tell about its length, and where each sentence lies in
// the MP3 that joins the clips. The joined MP3 is the clips' audio frames back to back, so
// frame counts place each clip in it exactly, where cue durations would drift.
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

// The LRC time of each of itemCount sentences: the start of the clip cut for its position,
// or, for a sentence without a clip, the start of the next clip (the end of the joined MP3
// after the last one). clipPositions are ascending; clipStarts belong to them.
QList<double> lrcLineTimes(int itemCount, const QList<int> &clipPositions, const QList<double> &clipStarts,
                           double joinedEnd);
