#include "core/subtitles/srtparser.h"
#include "core/subtitles/subtitlereaders.h"

#include <QHash>
#include <QRegularExpression>

namespace {

QList<QStringView> textLines(QStringView text)
{
    QList<QStringView> lines = text.split(u'\n');
    for (QStringView &line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
    }
    return lines;
}

// A block of NOTE, STYLE or REGION: the keyword alone or followed by white space.
bool isSkippedBlock(QStringView firstLine)
{
    for (const QStringView keyword : {QStringView(u"NOTE"), QStringView(u"STYLE"), QStringView(u"REGION")}) {
        if (firstLine.startsWith(keyword) &&
            (firstLine.size() == keyword.size() || firstLine.at(keyword.size()).isSpace()))
            return true;
    }
    return false;
}

// The reading of ruby text (<rt>) and inline time stamps (<00:01.500>) go with their tags.
const QRegularExpression &rubyTextPattern()
{
    static const QRegularExpression pattern(QStringLiteral("<rt\\b[^>]*>.*?</rt\\s*>"),
                                            QRegularExpression::DotMatchesEverythingOption);
    return pattern;
}

const QRegularExpression &timeTagPattern()
{
    static const QRegularExpression pattern(QStringLiteral("<[0-9][0-9:.]*>"));
    return pattern;
}

const QRegularExpression &characterReferencePattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("&(#[0-9]{1,7}|#[xX][0-9a-fA-F]{1,6}|[a-zA-Z][a-zA-Z0-9]*);"));
    return pattern;
}

// The named references subtitles use; others stay as written.
const QHash<QString, QChar> &namedReferences()
{
    static const QHash<QString, QChar> names{{"amp", u'&'},
                                             {"lt", u'<'},
                                             {"gt", u'>'},
                                             {"quot", u'"'},
                                             {"apos", u'\''},
                                             {"nbsp", u' '},
                                             {"lrm", QChar(0x200E)},
                                             {"rlm", QChar(0x200F)},
                                             {"mdash", QChar(0x2014)},
                                             {"ndash", QChar(0x2013)},
                                             {"hellip", QChar(0x2026)},
                                             {"lsquo", QChar(0x2018)},
                                             {"rsquo", QChar(0x2019)},
                                             {"ldquo", QChar(0x201C)},
                                             {"rdquo", QChar(0x201D)},
                                             {"laquo", QChar(0x00AB)},
                                             {"raquo", QChar(0x00BB)},
                                             {"copy", QChar(0x00A9)},
                                             {"reg", QChar(0x00AE)},
                                             {"trade", QChar(0x2122)},
                                             {"deg", QChar(0x00B0)},
                                             {"middot", QChar(0x00B7)},
                                             {"bull", QChar(0x2022)},
                                             {"times", QChar(0x00D7)},
                                             {"divide", QChar(0x00F7)},
                                             {"euro", QChar(0x20AC)},
                                             {"pound", QChar(0x00A3)},
                                             {"yen", QChar(0x00A5)},
                                             {"cent", QChar(0x00A2)},
                                             {"sect", QChar(0x00A7)},
                                             {"para", QChar(0x00B6)},
                                             {"shy", QChar(0x00AD)},
                                             {"iexcl", QChar(0x00A1)},
                                             {"iquest", QChar(0x00BF)},
                                             {"ensp", QChar(0x2002)},
                                             {"emsp", QChar(0x2003)},
                                             {"thinsp", QChar(0x2009)}};
    return names;
}

QString decodeCharacterReferences(const QString &text)
{
    if (!text.contains(u'&'))
        return text;
    QString decoded;
    qsizetype copied = 0;
    QRegularExpressionMatchIterator matches = characterReferencePattern().globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        const QString name = match.captured(1);
        QString replacement;
        if (name.startsWith(u'#')) {
            bool ok = false;
            const bool hex = name.size() > 1 && (name.at(1) == u'x' || name.at(1) == u'X');
            const uint code = name.mid(hex ? 2 : 1).toUInt(&ok, hex ? 16 : 10);
            if (ok && code > 0 && code <= 0x10FFFF && !QChar::isSurrogate(code))
                replacement = QString::fromUcs4(reinterpret_cast<const char32_t *>(&code), 1);
        } else if (const auto found = namedReferences().constFind(name); found != namedReferences().cend()) {
            replacement = *found;
        }
        if (replacement.isEmpty())
            continue;
        decoded += QStringView(text).sliced(copied, match.capturedStart() - copied);
        decoded += replacement;
        copied = match.capturedEnd();
    }
    decoded += QStringView(text).sliced(copied);
    return decoded;
}

QString cleanVttText(QString text)
{
    if (text.contains(u'<')) {
        text.remove(rubyTextPattern());
        text.remove(timeTagPattern());
        text.remove(markupTagPattern());
    }
    return joinTrimmedLines(decodeCharacterReferences(text));
}

} // namespace

QList<SubtitleItem> parseVttText(QStringView text)
{
    const QList<QStringView> lines = textLines(text);
    QList<SubtitleItem> items;
    qsizetype at = 0;
    auto blockEnd = [&lines](qsizetype from) {
        while (from < lines.size() && !lines.at(from).trimmed().isEmpty())
            ++from;
        return from;
    };
    // The header: "WEBVTT" and its metadata lines, up to the first blank line.
    if (!lines.isEmpty() && lines.first().startsWith(u"WEBVTT"))
        at = blockEnd(0);
    while (at < lines.size()) {
        if (lines.at(at).trimmed().isEmpty()) {
            ++at;
            continue;
        }
        const qsizetype end = blockEnd(at);
        qsizetype timing = lines.at(at).contains(u"-->") ? at : at + 1; // else a cue identifier first
        if (isSkippedBlock(lines.at(at)) || timing >= end || !lines.at(timing).contains(u"-->")) {
            at = end;
            continue;
        }
        const QStringView timeLine = lines.at(timing);
        const qsizetype arrow = timeLine.indexOf(u"-->");
        // Cue settings such as "align:start line:0" follow the end time after white space.
        const QStringView afterArrow = timeLine.sliced(arrow + 3).trimmed();
        qsizetype endOfStamp = 0;
        while (endOfStamp < afterArrow.size() && !afterArrow.at(endOfStamp).isSpace())
            ++endOfStamp;
        const qint64 startMs = clockTimeMs(timeLine.first(arrow));
        const qint64 endMs = clockTimeMs(afterArrow.first(endOfStamp));
        QString raw;
        for (qsizetype i = timing + 1; i < end; ++i) {
            raw += lines.at(i);
            raw += u'\n';
        }
        at = end;
        QString cleaned = cleanVttText(std::move(raw));
        if (startMs < 0 || endMs < 0 || !isAcceptedCueText(cleaned))
            continue;
        items.append(SubtitleItem{int(items.size()), startMs, endMs, std::move(cleaned)});
    }
    return items;
}
