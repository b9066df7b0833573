#include "player/shadowing.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

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

bool moveEdge(QList<SubtitleItem> &sentences, int index, Edge edge, qint64 deltaMs)
{
    if (index < 0 || index >= sentences.size())
        return false;
    SubtitleItem &sentence = sentences[index];
    if (edge == Edge::End) {
        if (sentence.endMs + deltaMs <= sentence.startMs)
            return false;
        sentence.endMs += deltaMs;
        return true;
    }
    const qint64 start = sentence.startMs + deltaMs;
    const bool afterPrevious = index == 0 || start >= sentences.at(index - 1).startMs;
    const bool beforeNext = index + 1 >= sentences.size() || start <= sentences.at(index + 1).startMs;
    if (start < 0 || start >= sentence.endMs || !afterPrevious || !beforeNext)
        return false;
    sentence.startMs = start;
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
