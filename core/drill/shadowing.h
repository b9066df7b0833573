#pragma once

#include "core/subtitles/subtitleitem.h"

#include <QList>
#include <QString>

#include <optional>

// Rules of shadowing, where the learner repeats each sentence aloud: the pause to speak after a
// pass, the rate of each pass, and moving a sentence's times when its cue is off.
namespace Shadowing {

// The pause after a pass over `sentence` for the choice of the pause box (0 none, 1 one time,
// 2 one and a half times, 3 twice the sentence's length), plus half a second; 0 for none.
qint64 pauseMs(int choice, const SubtitleItem &sentence);

// A list of rates such as "0.7, 0.85, 1.0" (commas, Chinese commas, semicolons or blanks between);
// std::nullopt when an entry is not a number within minimum … maximum. An empty text is an
// empty list.
std::optional<QList<double>> parseRates(const QString &text, double minimum, double maximum);
QString formatRates(const QList<double> &rates);
// The rate of pass `pass` (from 0): its entry, the last one beyond the list, `fallback` without.
double rateForPass(const QList<double> &rates, int pass, double fallback);

// What a timing key moves.
enum class Edge { Start, End };
// Moves one edge of sentence `index` by deltaMs, at most up to its neighbour: a start no earlier
// than the previous sentence's end (or 0), an end no later than the next one's start, and a start
// no later than the next start. A sentence never ends before it starts. False, and nothing
// moved, when the edge cannot move at all.
bool moveEdge(QList<SubtitleItem> &sentences, int index, Edge edge, qint64 deltaMs);
// Moves every sentence by deltaMs; false, and nothing moved, when a start would fall below 0.
bool shiftAll(QList<SubtitleItem> &sentences, qint64 deltaMs);

} // namespace Shadowing
