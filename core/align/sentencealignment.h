#pragma once

#include "core/align/speechactivity.h"
#include "core/subtitles/subtitleitem.h"

#include <QList>

// Moving sentence times onto the speech they cover.

struct SentenceAlignment
{
    QList<SubtitleItem> sentences; // all of them, the moved ones with their new times
    QList<int> moved;              // the indices whose start or end changed
};

namespace SpeechAlignment {
// The breath before a sentence and the decay after it.
constexpr qint64 startMarginMs = 140;
constexpr qint64 endMarginMs = 220;
// How far a time may move.
constexpr qint64 reachMs = 400;
} // namespace SpeechAlignment

// Moves the start of each sentence to just before the onset of its speech and its end to just
// after the speech's end, when a clear one lies within reachMs of the old time: the beginning
// (or end) of a stretch of speech, and where several do, the one beside the longest pause. A
// margin never reaches more than half-way into the pause, so a sentence never takes in its
// neighbour's speech, and a move that would make two sentences overlap is not made. Where no
// clear onset or end is found, the time stays. onlyIndex >= 0 aligns that sentence alone.
SentenceAlignment alignToSpeech(const QList<SpeechSegment> &speech, qint64 durationMs,
                                const QList<SubtitleItem> &sentences, int onlyIndex = -1);
