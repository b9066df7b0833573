#pragma once

#include "core/subtitles/subtitleitem.h"

#include <QList>
#include <QString>

// Sentence timing arithmetic of the repeat engine, on a subtitle list in ascending start order.
namespace SentenceTiming {

// Where a seek to sentence `index` lands: a little before its start, never inside the previous
// sentence and never below 0; 0 for an index outside the list.
qint64 leadStart(const QList<SubtitleItem> &items, int index);

// How long playback runs on after the end of sentence `index` before the end is acted on.
qint64 tailMargin(const QList<SubtitleItem> &items, int index);

// The end of sentence `index` counts as reached from this position on (end + tail - 15): position
// reports come in steps, and one just short of the end must not let the next step run past it.
qint64 endReachedAt(const QList<SubtitleItem> &items, int index);

// Where a pass over sentence `index` ends when the media back end stops it exactly: end + tail.
qint64 passEndPoint(const QList<SubtitleItem> &items, int index);

// The last sentence whose start is at or before `position` (bisection); -1 when there is none.
int indexAt(const QList<SubtitleItem> &items, qint64 position);

// The member of `playList` nearest to `position` (0 inside a sentence, else the distance to its
// start or end); on equal distances the earlier member wins. Members that are not indices of
// `items` are skipped; -1 when none qualifies.
int nearestMember(const QList<SubtitleItem> &items, const QList<int> &playList, qint64 position);

// "mm:ss" below one hour, "hh:mm:ss" from one hour on.
QString formatTime(qint64 ms);

} // namespace SentenceTiming
