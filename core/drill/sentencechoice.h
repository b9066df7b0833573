#pragma once

#include "core/subtitles/subtitleitem.h"

#include <QList>

// The repeat engine's choices of sentence, on a subtitle list in ascending start order and the
// play list drawn from it. A sentence index is a position in the subtitle list; -1 means none.
namespace SentenceChoice {

// The sentences a play list spans, from its first member to its last (every index between them,
// members or not); empty (first > last) when it spans none of the list.
struct Span
{
    int first = 0;
    int last = -1;
    bool contains(int index) const { return index >= first && index <= last; }
};
Span spanOf(const QList<SubtitleItem> &items, const QList<int> &playList);

// The sentence of the span that holds position: the later start wins, then the lower index.
// `kept`, when it holds the position, keeps it even where a later cue overlaps (a sentence being
// repeated keeps the position until its own end).
int holdingSentence(const QList<SubtitleItem> &items, Span span, qint64 position, int kept);

// The sentence a seek to position belongs to: the one holding it, or the next one after its
// end; the first one before any sentence.
int sentenceForSeek(const QList<SubtitleItem> &items, qint64 position);

// `sentence` when the play list holds it (or there is no play list), else the member nearest
// to position, else `sentence`.
int playListMemberFor(const QList<SubtitleItem> &items, const QList<int> &playList, int sentence,
                      qint64 position);

// The member after `current` in the play list, wrapping to its first; the first member when
// `current` is not one. Without a play list the next sentence, wrapping to 0.
int nextInPlayList(const QList<SubtitleItem> &items, const QList<int> &playList, int current);

// What the end of a pass over sentence `index` leads to.
struct EndAction
{
    enum Kind { RunOn, Replay, Next };
    Kind kind = RunOn;
    int sentence = -1;       // the sentence played next for Replay and Next
    bool countsPass = false; // Replay in auto-next mode: one more repetition of the same sentence
    bool operator==(const EndAction &other) const
    {
        return kind == other.kind && sentence == other.sentence && countsPass == other.countsPass;
    }
};
// playMode: 0 normal play, 1 repeater, 2 auto next; `next` is the sentence after `index` in the
// play list. In auto next a next sentence that follows within a second is played into.
EndAction endActionFor(int playMode, int repeatRound, int repeatCount, const QList<SubtitleItem> &items,
                       int index, int next);

} // namespace SentenceChoice
