#include "core/drill/sentencetiming.h"

#include <limits>

namespace SentenceTiming {

namespace {

bool isIndex(const QList<SubtitleItem> &items, int index)
{
    return index >= 0 && index < items.size();
}

// Share of a short gap that is given to lead-in and tail: the rest is left to the neighbour.
qint64 shareOfGap(qint64 gap)
{
    if (gap <= 0)
        return 0;
    if (gap <= 999)
        return gap * 7 / 10;
    return 500;
}

} // namespace

qint64 leadStart(const QList<SubtitleItem> &items, int index)
{
    if (!isIndex(items, index))
        return 0;
    const qint64 start = items.at(index).startMs;
    if (index == 0)
        return qMax<qint64>(0, start - 500);
    const qint64 previousEnd = items.at(index - 1).endMs;
    qint64 lead = start - shareOfGap(start - previousEnd);
    // Overlapping cues: start where the previous sentence ends, not inside it.
    if (lead < previousEnd)
        lead = previousEnd;
    return qMax<qint64>(0, lead);
}

qint64 tailMargin(const QList<SubtitleItem> &items, int index)
{
    if (index < 0 || index >= items.size() - 1)
        return 500;
    return shareOfGap(items.at(index + 1).startMs - items.at(index).endMs);
}

qint64 endReachedAt(const QList<SubtitleItem> &items, int index)
{
    if (!isIndex(items, index))
        return std::numeric_limits<qint64>::max();
    return items.at(index).endMs + tailMargin(items, index) - 15;
}

qint64 passEndPoint(const QList<SubtitleItem> &items, int index)
{
    if (!isIndex(items, index))
        return std::numeric_limits<qint64>::max();
    return items.at(index).endMs + tailMargin(items, index);
}

int indexAt(const QList<SubtitleItem> &items, qint64 position)
{
    int low = 0;
    int high = int(items.size()) - 1;
    int found = -1;
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        if (items.at(middle).startMs <= position) {
            found = middle;
            low = middle + 1;
        } else {
            high = middle - 1;
        }
    }
    return found;
}

int nearestMember(const QList<SubtitleItem> &items, const QList<int> &playList, qint64 position)
{
    int best = -1;
    qint64 bestDistance = std::numeric_limits<qint64>::max();
    for (int member : playList) {
        if (!isIndex(items, member))
            continue;
        const SubtitleItem &item = items.at(member);
        qint64 distance = 0;
        if (position < item.startMs)
            distance = item.startMs - position;
        else if (position > item.endMs)
            distance = position - item.endMs;
        if (distance < bestDistance) {
            best = member;
            bestDistance = distance;
        }
    }
    return best;
}

QString formatTime(qint64 ms)
{
    const qint64 s = ms / 1000;
    const auto field = [](qint64 value) { return QString("%1").arg(value, 2, 10, QChar('0')); };
    if (s < 3600)
        return field(s % 3600 / 60) + ':' + field(s % 60);
    return field(s / 3600) + ':' + field(s % 3600 / 60) + ':' + field(s % 60);
}

} // namespace SentenceTiming
