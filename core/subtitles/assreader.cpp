#include "core/subtitles/srtparser.h"
#include "core/subtitles/subtitlereaders.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

// Where Start, End and Text stand among the fields of a Dialogue line.
struct EventFormat
{
    int fieldCount =
        10; // Layer (or Marked), Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text
    int start = 1;
    int end = 2;
};

EventFormat eventFormatOf(QStringView fieldList)
{
    const QList<QStringView> fields = fieldList.split(u',');
    EventFormat format;
    format.fieldCount = int(fields.size());
    format.start = format.end = -1;
    for (int i = 0; i < fields.size(); ++i) {
        if (fields.at(i).trimmed().compare(u"Start", Qt::CaseInsensitive) == 0)
            format.start = i;
        else if (fields.at(i).trimmed().compare(u"End", Qt::CaseInsensitive) == 0)
            format.end = i;
    }
    if (format.start < 0 || format.end < 0 || format.start == format.fieldCount - 1 ||
        format.end == format.fieldCount - 1)
        return EventFormat{};
    return format;
}

// The text is the last field: the commas in it are its own.
QList<QStringView> splitEventFields(QStringView line, int fieldCount)
{
    QList<QStringView> fields;
    qsizetype from = 0;
    while (fields.size() < fieldCount - 1) {
        const qsizetype comma = line.indexOf(u',', from);
        if (comma < 0)
            return {};
        fields.append(line.sliced(from, comma - from));
        from = comma + 1;
    }
    fields.append(line.sliced(from));
    return fields;
}

QString cleanAssText(QStringView field)
{
    QString text = field.toString();
    if (text.contains(u'{'))
        text.remove(braceCodePattern());
    if (text.contains(u'\\')) {
        text.replace(QLatin1StringView("\\N"), QLatin1StringView("\n"));
        text.replace(QLatin1StringView("\\n"), QLatin1StringView("\n"));
        text.replace(QLatin1StringView("\\h"), QLatin1StringView(" "));
    }
    return joinTrimmedLines(text);
}

} // namespace

QList<SubtitleItem> parseAssText(QStringView text)
{
    QList<SubtitleItem> items;
    bool inEvents = false;
    EventFormat format;
    for (QStringView line : text.split(u'\n')) {
        line = line.trimmed();
        if (line.startsWith(u'[')) {
            inEvents = line.compare(u"[Events]", Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!inEvents)
            continue;
        if (line.startsWith(u"Format:", Qt::CaseInsensitive)) {
            format = eventFormatOf(line.sliced(7));
            continue;
        }
        // Comment lines and everything else are not spoken.
        if (!line.startsWith(u"Dialogue:", Qt::CaseInsensitive))
            continue;
        const QList<QStringView> fields = splitEventFields(line.sliced(9), format.fieldCount);
        if (fields.isEmpty())
            continue;
        const qint64 startMs = clockTimeMs(fields.at(format.start));
        const qint64 endMs = clockTimeMs(fields.at(format.end));
        QString cleaned = cleanAssText(fields.last());
        if (startMs < 0 || endMs < 0 || !isAcceptedCueText(cleaned))
            continue;
        items.append(SubtitleItem{0, startMs, endMs, std::move(cleaned)});
    }
    // Events may stand in any order in the file; sentences follow the media.
    std::stable_sort(items.begin(), items.end(),
                     [](const SubtitleItem &a, const SubtitleItem &b) { return a.startMs < b.startMs; });
    for (int i = 0; i < items.size(); ++i)
        items[i].index = i;
    return items;
}
