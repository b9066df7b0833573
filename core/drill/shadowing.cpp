#include "core/drill/shadowing.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

namespace Shadowing {

qint64 pauseMs(int choice, const SubtitleItem &sentence)
{
    static const double factors[] = {0.0, 1.0, 1.5, 2.0};
    if (choice <= 0 || choice >= int(std::size(factors)))
        return 0;
    const qint64 length = qMax<qint64>(0, sentence.endMs - sentence.startMs);
    return qint64(std::llround(double(length) * factors[choice])) + 500;
}

std::optional<QList<double>> parseRates(const QString &text, double minimum, double maximum)
{
    static const QRegularExpression separators(QStringLiteral("[,，;；、\\s]+"));
    QList<double> rates;
    const QStringList entries = text.split(separators, Qt::SkipEmptyParts);
    for (const QString &entry : entries) {
        bool ok = false;
        const double rate = entry.toDouble(&ok);
        if (!ok || !std::isfinite(rate) || rate < minimum || rate > maximum)
            return std::nullopt;
        rates.append(rate);
    }
    return rates;
}

QString formatRates(const QList<double> &rates)
{
    QStringList entries;
    for (double rate : rates)
        entries.append(QString::number(rate));
    return entries.join(", ");
}

double rateForPass(const QList<double> &rates, int pass, double fallback)
{
    if (rates.isEmpty())
        return fallback;
    return rates.at(std::clamp<qsizetype>(pass, 0, rates.size() - 1));
}

namespace {

// Moves `edgeMs` by deltaMs, but no further than `limitMs` in the direction it moves; false when
// it cannot move at all.
bool moveUpTo(qint64 &edgeMs, qint64 deltaMs, qint64 limitMs)
{
    const qint64 target = deltaMs < 0 ? qMax(edgeMs + deltaMs, limitMs) : qMin(edgeMs + deltaMs, limitMs);
    if (deltaMs < 0 ? target >= edgeMs : target <= edgeMs)
        return false;
    edgeMs = target;
    return true;
}

} // namespace

bool moveEdge(QList<SubtitleItem> &sentences, int index, Edge edge, qint64 deltaMs)
{
    if (index < 0 || index >= sentences.size())
        return false;
    constexpr qint64 unlimited = std::numeric_limits<qint64>::max();
    const qint64 previousEnd = index > 0 ? sentences.at(index - 1).endMs : 0;
    const qint64 nextStart = index + 1 < sentences.size() ? sentences.at(index + 1).startMs : unlimited;
    SubtitleItem moved = sentences.at(index);
    // A move never makes sentences overlap: a start stops at the previous sentence's end, an end
    // at the next one's start. A start moved later stays before the next start (start order).
    const bool ok = edge == Edge::Start
                        ? moveUpTo(moved.startMs, deltaMs, deltaMs < 0 ? previousEnd : nextStart)
                        : moveUpTo(moved.endMs, deltaMs, deltaMs < 0 ? -unlimited : nextStart);
    if (!ok || moved.startMs >= moved.endMs)
        return false;
    sentences[index] = moved;
    return true;
}

bool shiftAll(QList<SubtitleItem> &sentences, qint64 deltaMs)
{
    const bool fits = std::all_of(sentences.cbegin(), sentences.cend(), [deltaMs](const SubtitleItem &item) {
        return item.startMs + deltaMs >= 0 && item.endMs + deltaMs >= 0;
    });
    if (!fits || sentences.isEmpty())
        return false;
    for (SubtitleItem &sentence : sentences) {
        sentence.startMs += deltaMs;
        sentence.endMs += deltaMs;
    }
    return true;
}

} // namespace Shadowing
