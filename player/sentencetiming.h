#pragma once

#include "subtitles/subtitleitem.h"

// Sentence timing arithmetic of the repeat engine, on a subtitle list.
namespace SentenceTiming {
qint64 leadStart(const QList<SubtitleItem> &items, int index);
qint64 tailMargin(const QList<SubtitleItem> &items, int index);
int indexAt(const QList<SubtitleItem> &items, qint64 position);
} // namespace SentenceTiming
