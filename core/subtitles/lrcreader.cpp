#include "core/subtitles/srtparser.h"
#include "core/subtitles/subtitlereaders.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

constexpr qint64 lastLineWithoutMediaMs = 5000;

struct LyricLine
{
    qint64 timeMs = 0;
    QString text; // empty: a line that only ends the one before it
};

// Word time tags of enhanced LRC, such as <00:12.30>.
const QRegularExpression &wordTimePattern()
{
    static const QRegularExpression pattern(QStringLiteral("<[0-9]+:[0-9]+(?:[.:][0-9]+)?>"));
    return pattern;
}

QString cleanLyricText(QStringView rest)
{
    QString text = rest.toString();
    if (text.contains(u'<')) {
        text.remove(wordTimePattern());
        text.remove(markupTagPattern());
    }
    return joinTrimmedLines(text);
}

// Lines of the same time are the lines of one sentence (as FFmpeg writes a two-line cue).
QList<LyricLine> mergedByTime(QList<LyricLine> lines)
{
    std::stable_sort(lines.begin(), lines.end(),
                     [](const LyricLine &a, const LyricLine &b) { return a.timeMs < b.timeMs; });
    QList<LyricLine> merged;
    for (LyricLine &line : lines) {
        if (!merged.isEmpty() && merged.last().timeMs == line.timeMs) {
            if (!line.text.isEmpty())
                merged.last().text += (merged.last().text.isEmpty() ? "" : "\n") + line.text;
            continue;
        }
        merged.append(std::move(line));
    }
    return merged;
}

} // namespace

QList<SubtitleItem> parseLrcText(QStringView text, qint64 mediaLengthMs)
{
    QList<LyricLine> lines;
    qint64 offsetMs = 0;
    qint64 lengthMs = -1;
    for (QStringView line : text.split(u'\n')) {
        line = line.trimmed();
        QList<qint64> times;
        while (line.startsWith(u'[')) {
            const qsizetype close = line.indexOf(u']');
            if (close < 0)
                break;
            const QStringView tag = line.sliced(1, close - 1);
            line = line.sliced(close + 1).trimmed();
            const qint64 time = clockTimeMs(tag);
            if (time >= 0) {
                times.append(time);
                continue;
            }
            // Metadata: only the offset and the length matter here.
            const qsizetype colon = tag.indexOf(u':');
            const QStringView key = tag.first(std::max<qsizetype>(colon, 0)).trimmed();
            const QStringView value = tag.sliced(colon + 1).trimmed();
            if (key.compare(u"offset", Qt::CaseInsensitive) == 0) {
                bool ok = false;
                const qint64 offset = value.toLongLong(&ok);
                // Bounded to a day: the subtraction below must not overflow.
                offsetMs = ok ? std::clamp<qint64>(offset, -86400000, 86400000) : offsetMs;
            } else if (key.compare(u"length", Qt::CaseInsensitive) == 0) {
                lengthMs = clockTimeMs(value);
            }
        }
        const QString cleaned = cleanLyricText(line);
        for (const qint64 time : std::as_const(times))
            lines.append(LyricLine{time, cleaned});
    }
    // A positive offset shows every line that much sooner.
    for (LyricLine &line : lines)
        line.timeMs = std::max<qint64>(0, line.timeMs - offsetMs);
    const QList<LyricLine> merged = mergedByTime(std::move(lines));

    const qint64 mediaEnd = lengthMs >= 0 ? lengthMs : mediaLengthMs;
    QList<SubtitleItem> items;
    for (qsizetype i = 0; i < merged.size(); ++i) {
        if (!isAcceptedCueText(merged.at(i).text))
            continue;
        const qint64 startMs = merged.at(i).timeMs;
        qint64 endMs = startMs + lastLineWithoutMediaMs;
        if (i + 1 < merged.size())
            endMs = merged.at(i + 1).timeMs;
        else if (mediaEnd > startMs)
            endMs = mediaEnd;
        items.append(SubtitleItem{int(items.size()), startMs, endMs, merged.at(i).text});
    }
    return items;
}
