#include "core/align/sentencealignment.h"

#include <algorithm>

using namespace SpeechAlignment;

namespace {

// No edge found.
constexpr qint64 noPause = -1;

// The pause before segment k, as long as it is (up to the media's start for the first).
qint64 pauseBefore(const QList<SpeechSegment> &speech, qsizetype k)
{
    return k == 0 ? speech.at(k).startMs : speech.at(k).startMs - speech.at(k - 1).endMs;
}

qint64 pauseAfter(const QList<SpeechSegment> &speech, qsizetype k, qint64 durationMs)
{
    return k + 1 == speech.size() ? durationMs - speech.at(k).endMs
                                  : speech.at(k + 1).startMs - speech.at(k).endMs;
}

// Of the candidates (edge time, pause beside it) within reach of `old`, the one beside the
// longest pause, the nearest on a tie; noPause when there is none.
struct Edge
{
    qint64 atMs = 0;
    qint64 pauseMs = noPause;
    qint64 pauseFarMs = 0; // the pause's other end
};

template <typename EdgeOf> Edge clearestEdge(const QList<SpeechSegment> &speech, qint64 old, EdgeOf edgeOf)
{
    Edge best;
    for (qsizetype k = 0; k < speech.size(); ++k) {
        const Edge edge = edgeOf(k);
        if (edge.atMs < old - reachMs || edge.atMs > old + reachMs || edge.pauseMs <= 0)
            continue;
        const bool longer = edge.pauseMs > best.pauseMs;
        const bool asLongNearer =
            edge.pauseMs == best.pauseMs && std::abs(edge.atMs - old) < std::abs(best.atMs - old);
        if (longer || asLongNearer)
            best = edge;
    }
    return best;
}

qint64 alignedStart(const QList<SpeechSegment> &speech, const SubtitleItem &sentence)
{
    const Edge onset = clearestEdge(speech, sentence.startMs, [&](qsizetype k) {
        return Edge{speech.at(k).startMs, pauseBefore(speech, k),
                    speech.at(k).startMs - pauseBefore(speech, k)};
    });
    // The sentence must still hold speech after its onset, and a later start must not leave
    // out speech the sentence had.
    if (onset.pauseMs == noPause || onset.atMs >= sentence.endMs ||
        (onset.atMs > sentence.startMs && onset.pauseFarMs > sentence.startMs))
        return sentence.startMs;
    const qint64 margin = std::min(startMarginMs, onset.pauseMs / 2);
    return std::max(onset.atMs - margin, sentence.startMs - reachMs);
}

qint64 alignedEnd(const QList<SpeechSegment> &speech, qint64 durationMs, const SubtitleItem &sentence,
                  qint64 start)
{
    const Edge offset = clearestEdge(speech, sentence.endMs, [&](qsizetype k) {
        const qint64 pause = pauseAfter(speech, k, durationMs);
        return Edge{speech.at(k).endMs, pause, speech.at(k).endMs + pause};
    });
    if (offset.pauseMs == noPause || offset.atMs <= start ||
        (offset.atMs < sentence.endMs && offset.pauseFarMs < sentence.endMs))
        return sentence.endMs;
    const qint64 margin = std::min(endMarginMs, offset.pauseMs / 2);
    return std::min(offset.atMs + margin, sentence.endMs + reachMs);
}

// A move that makes sentence i and i + 1 overlap where they did not is taken back: the edge
// that moved towards the other.
bool undoNewOverlap(const QList<SubtitleItem> &old, QList<SubtitleItem> &aligned, qsizetype i)
{
    SubtitleItem &first = aligned[i];
    SubtitleItem &second = aligned[i + 1];
    if (first.endMs <= second.startMs || old.at(i).endMs > old.at(i + 1).startMs)
        return false;
    if (first.endMs > old.at(i).endMs)
        first.endMs = old.at(i).endMs;
    else if (second.startMs < old.at(i + 1).startMs)
        second.startMs = old.at(i + 1).startMs;
    else
        return false;
    return true;
}

} // namespace

SentenceAlignment alignToSpeech(const QList<SpeechSegment> &speech, qint64 durationMs,
                                const QList<SubtitleItem> &sentences, int onlyIndex)
{
    SentenceAlignment result{sentences, {}};
    for (qsizetype i = 0; i < sentences.size(); ++i) {
        if (onlyIndex >= 0 && i != onlyIndex)
            continue;
        SubtitleItem &sentence = result.sentences[i];
        const qint64 start = alignedStart(speech, sentences.at(i));
        sentence.endMs = alignedEnd(speech, durationMs, sentences.at(i), start);
        sentence.startMs = start;
    }
    for (bool changed = true; changed;) {
        changed = false;
        for (qsizetype i = 0; i + 1 < sentences.size(); ++i)
            changed = undoNewOverlap(sentences, result.sentences, i) || changed;
        // Taking a move back may leave a sentence that ends before it starts: it keeps its times.
        for (qsizetype i = 0; i < sentences.size(); ++i) {
            SubtitleItem &sentence = result.sentences[i];
            const bool movedEdge =
                sentence.startMs != sentences.at(i).startMs || sentence.endMs != sentences.at(i).endMs;
            if (movedEdge && sentence.endMs <= sentence.startMs) {
                sentence = sentences.at(i);
                changed = true;
            }
        }
    }
    for (qsizetype i = 0; i < sentences.size(); ++i) {
        const SubtitleItem &before = sentences.at(i);
        const SubtitleItem &after = result.sentences.at(i);
        if (before.startMs != after.startMs || before.endMs != after.endMs)
            result.moved.append(int(i));
    }
    return result;
}
