#include "player/sentencetiming.h"

namespace SentenceTiming {
qint64 leadStart(const QList<SubtitleItem> &, int) { return 0; }
qint64 tailMargin(const QList<SubtitleItem> &, int) { return 500; }
int indexAt(const QList<SubtitleItem> &, qint64) { return -1; }
} // namespace SentenceTiming
