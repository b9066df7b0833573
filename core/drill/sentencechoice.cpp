#include "core/drill/sentencechoice.h"

#include "core/drill/sentencetiming.h"

namespace SentenceChoice {

namespace {

bool isIndex(const QList<SubtitleItem> &items, int index)
{
    return index >= 0 && index < items.size();
}

bool holds(const SubtitleItem &item, qint64 position)
{
    return item.startMs <= position && position < item.endMs;
}

} // namespace

Span spanOf(const QList<SubtitleItem> &items, const QList<int> &playList)
{
    if (playList.isEmpty())
        return {};
    return {qMax(0, playList.first()), qMin(int(items.size()) - 1, playList.last())};
}

int holdingSentence(const QList<SubtitleItem> &items, Span span, qint64 position, int kept)
{
    if (span.contains(kept) && holds(items.at(kept), position))
        return kept;
    int found = -1;
    for (int i = span.first; i <= span.last; ++i) {
        const SubtitleItem &item = items.at(i);
        if (holds(item, position) && (found < 0 || item.startMs > items.at(found).startMs))
            found = i;
    }
    return found;
}

int sentenceForSeek(const QList<SubtitleItem> &items, qint64 position)
{
    const int holding = SentenceTiming::indexAt(items, position);
    if (holding < 0)
        return 0;
    if (position >= items.at(holding).endMs && isIndex(items, holding + 1))
        return holding + 1;
    return holding;
}

int playListMemberFor(const QList<SubtitleItem> &items, const QList<int> &playList, int sentence,
                      qint64 position)
{
    if (playList.isEmpty() || playList.contains(sentence))
        return sentence;
    const int nearest = SentenceTiming::nearestMember(items, playList, position);
    return nearest >= 0 ? nearest : sentence;
}

int nextInPlayList(const QList<SubtitleItem> &items, const QList<int> &playList, int current)
{
    if (!playList.isEmpty()) {
        const qsizetype at = playList.indexOf(current);
        if (at < 0 || at + 1 >= playList.size())
            return playList.first();
        return playList.at(at + 1);
    }
    const int next = current + 1;
    return next >= items.size() ? 0 : next;
}

EndAction endActionFor(int playMode, int repeatRound, int repeatCount, const QList<SubtitleItem> &items,
                       int index, int next)
{
    if (!isIndex(items, index))
        return {};
    if (playMode == 1)
        return {EndAction::Replay, index, false};
    if (playMode != 2)
        return {};
    if (repeatRound + 1 < repeatCount)
        return {EndAction::Replay, index, true};
    if (!isIndex(items, next))
        return {};
    // A sentence that follows closely is simply played into; the position scan picks it up.
    const qint64 gap = items.at(next).startMs - items.at(index).endMs;
    if (gap > 0 && gap <= 1000)
        return {};
    return {EndAction::Next, next, false};
}

} // namespace SentenceChoice
