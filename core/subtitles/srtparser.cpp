#include "core/subtitles/srtparser.h"

#include <QDebug>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringDecoder>

#include <optional>

namespace {

constexpr QStringView timeSeparator(u" --> ");

// Qt 6 reads "local 8-bit" as UTF-8 everywhere but on Windows code pages, and a UTF-8
// fallback would turn a GBK subtitle into replacement characters. Probe it with the
// UTF-8 bytes of one Chinese character.
bool localEightBitIsUtf8()
{
    static const bool isUtf8 = QString::fromLocal8Bit("\xE4\xB8\xAD") == QString(QChar(0x4E2D));
    return isUtf8;
}

QString decodeFallback(const QByteArray &bytes)
{
    if (localEightBitIsUtf8()) {
        // GB18030 is a superset of GBK, the usual encoding of Chinese subtitles that are not UTF-8.
        QStringDecoder gb18030("GB18030");
        if (gb18030.isValid())
            return gb18030.decode(bytes);
    }
    return QString::fromLocal8Bit(bytes);
}

QString decodeSubtitleBytes(const QByteArray &bytes)
{
    // Stateless: bytes that end inside a character are an error like any other broken
    // sequence, not a character left for more input that never comes.
    constexpr auto stateless = QStringDecoder::Flag::Stateless;

    // A byte-order mark names the encoding: UTF-8, or the UTF-16 and UTF-32 that Windows
    // tools save as "Unicode". Such a file is read in it even where it is broken.
    if (const std::optional<QStringConverter::Encoding> named = QStringConverter::encodingForData(bytes)) {
        QStringDecoder decoder(*named, stateless);
        return decoder.decode(bytes);
    }

    // Broken UTF-8 is told apart from a valid file that happens to contain U+FFFD itself;
    // only the former is read in the fallback encoding. One decoding pass tells both.
    QStringDecoder utf8(QStringDecoder::Utf8, stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return decodeFallback(bytes);
}

// Hands out the lines of a text as QTextStream::readLine does: a line ends at LF, a CR
// right before the LF is dropped, and a final line without LF still counts.
class LineReader
{
public:
    explicit LineReader(QStringView text)
        : text(text)
    {
    }

    bool atEnd() const { return pos >= text.size(); }
    qsizetype position() const { return pos; }

    QStringView readLine()
    {
        if (atEnd())
            return {};
        qsizetype end = text.indexOf(u'\n', pos);
        qsizetype next = end + 1;
        if (end < 0) {
            end = text.size();
            next = end;
        } else if (end > pos && text.at(end - 1) == u'\r') {
            --end;
        }
        const QStringView line = text.sliced(pos, end - pos);
        pos = next;
        return line;
    }

private:
    QStringView text;
    qsizetype pos = 0;
};

int toIntOrZero(QStringView part)
{
    bool ok = false;
    const int value = part.toInt(&ok, 10);
    return ok ? value : 0;
}

qint64 parseTime(QStringView stamp)
{
    const qsizetype firstColon = stamp.indexOf(u':');
    if (firstColon < 0)
        return 0;
    const qsizetype secondColon = stamp.indexOf(u':', firstColon + 1);
    if (secondColon < 0 || stamp.indexOf(u':', secondColon + 1) >= 0)
        return 0;
    const QStringView secondsPart = stamp.sliced(secondColon + 1);
    // Many subtitles from the web (WebVTT saved as .srt) write a period before the milliseconds.
    qsizetype comma = secondsPart.indexOf(u',');
    if (comma < 0)
        comma = secondsPart.indexOf(u'.');
    const qint64 hours = toIntOrZero(stamp.first(firstColon));
    const qint64 minutes = toIntOrZero(stamp.sliced(firstColon + 1, secondColon - firstColon - 1));
    qint64 seconds = 0;
    qint64 millis = 0;
    if (comma < 0) {
        seconds = toIntOrZero(secondsPart);
    } else {
        seconds = toIntOrZero(secondsPart.first(comma));
        const QStringView rest = secondsPart.sliced(comma + 1);
        const qsizetype nextComma = rest.indexOf(u',');
        millis = toIntOrZero(nextComma < 0 ? rest : rest.first(nextComma));
    }
    // 64 bits throughout: a stamp of 596 hours or more overflowed the old 32-bit sum.
    return (hours * 3600 + minutes * 60 + seconds) * 1000 + millis;
}

// Splits a time line at " --> " into exactly two parts, as QString::split would count them.
bool splitTimeLine(QStringView line, QStringView *start, QStringView *end)
{
    const qsizetype at = line.indexOf(timeSeparator);
    if (at < 0)
        return false;
    const qsizetype endFrom = at + timeSeparator.size();
    if (line.indexOf(timeSeparator, endFrom) >= 0)
        return false;
    *start = line.first(at);
    *end = line.sliced(endFrom);
    return true;
}

bool isLineBreak(QChar c)
{
    return c == u'\r' || c == u'\n';
}

} // namespace

// Style override codes such as {\an8}.
const QRegularExpression &braceCodePattern()
{
    static const QRegularExpression pattern(QStringLiteral("\\{[^{}]*\\}"));
    return pattern;
}

// Markup tags such as <i> or </font>; a "<" not opening a tag stays.
const QRegularExpression &markupTagPattern()
{
    static const QRegularExpression pattern(QStringLiteral("</?\\s*[a-zA-Z][^>]*>"));
    return pattern;
}

// Splits at runs of CR/LF, trims every piece, drops the empty ones and joins with "\n".
QString joinTrimmedLines(QStringView view)
{
    QString joined;
    joined.reserve(view.size());
    qsizetype pieceStart = 0;
    for (qsizetype i = 0; i <= view.size(); ++i) {
        if (i < view.size() && !isLineBreak(view.at(i)))
            continue;
        const QStringView piece = view.sliced(pieceStart, i - pieceStart).trimmed();
        if (!piece.isEmpty()) {
            if (!joined.isEmpty())
                joined.append(u'\n');
            joined.append(piece);
        }
        pieceStart = i + 1;
    }
    return joined;
}

namespace {

bool needsMarkupCleaning(QStringView text)
{
    for (const QChar c : text) {
        if (c == u'{' || c == u'<' || c == u'\\')
            return true;
    }
    return false;
}

// The cue's lines as the cleaning sees them: each line followed by "\n".
QString rawTextOf(QStringView block)
{
    QString raw;
    raw.reserve(block.size() + 1);
    LineReader lines(block);
    while (!lines.atEnd()) {
        raw.append(lines.readLine());
        raw.append(u'\n');
    }
    return raw;
}

// Takes the block of text lines as it stands in the file. Most cues hold no braces, tags
// or escapes; for them the earlier steps change nothing that the final split and trim
// would not, so the block goes straight to that step.
QString cleanCueText(QStringView block)
{
    if (!needsMarkupCleaning(block))
        return joinTrimmedLines(block);
    QString text = rawTextOf(block).trimmed();
    if (text.contains(u'{'))
        text.remove(braceCodePattern());
    if (text.contains(u'<'))
        text.remove(markupTagPattern());
    if (text.contains(u'\\')) {
        text.replace(QLatin1StringView("\\N"), QLatin1StringView("\n"));
        text.replace(QLatin1StringView("\\n"), QLatin1StringView("\n"));
    }
    return joinTrimmedLines(text).trimmed();
}

} // namespace

// Sound descriptions such as "(applause)" or "[Music]" are not sentences.
bool isAcceptedCueText(const QString &text)
{
    if (text.isEmpty())
        return false;
    if (text.startsWith(u'(') && text.endsWith(u')'))
        return false;
    if (text.startsWith(u'[') && text.endsWith(u']'))
        return false;
    return true;
}

namespace {

bool isCueNumber(QStringView line)
{
    bool isNumber = false;
    (void)line.toInt(&isNumber, 10);
    return isNumber;
}

// The text lines of a cue, up to the first blank line (consumed) or the end of the text,
// as one view into the text.
QStringView collectTextBlock(QStringView text, LineReader &reader)
{
    const qsizetype start = reader.position();
    qsizetype end = start;
    while (!reader.atEnd()) {
        const QStringView line = reader.readLine();
        if (line.trimmed().isEmpty())
            break;
        end = line.data() - text.data() + line.size();
    }
    return text.sliced(start, end - start);
}

} // namespace

namespace {

// Walks the cues of a text; onCue(timeLine, startMs, endMs, cleanedText) for each accepted one,
// in file order.
template <typename OnCue> void walkCues(QStringView text, OnCue onCue)
{
    LineReader reader(text);
    while (!reader.atEnd()) {
        const QStringView numberLine = reader.readLine().trimmed();
        if (numberLine.isEmpty())
            continue;
        if (!isCueNumber(numberLine))
            continue;

        const QStringView timeLine = reader.readLine().trimmed();
        QStringView startStamp;
        QStringView endStamp;
        if (!splitTimeLine(timeLine, &startStamp, &endStamp))
            continue;
        const qint64 startMs = parseTime(startStamp);
        const qint64 endMs = parseTime(endStamp);

        QString cleaned = cleanCueText(collectTextBlock(text, reader));
        if (!isAcceptedCueText(cleaned))
            continue;
        onCue(timeLine, startMs, endMs, std::move(cleaned));
    }
}

} // namespace

QString srtTimeStamp(qint64 ms)
{
    return QString("%1:%2:%3,%4")
        .arg(ms / 3600000, 2, 10, QChar('0'))
        .arg(ms / 60000 % 60, 2, 10, QChar('0'))
        .arg(ms / 1000 % 60, 2, 10, QChar('0'))
        .arg(ms % 1000, 3, 10, QChar('0'));
}

QString decodeSubtitleText(const QByteArray &bytes)
{
    QString decoded = decodeSubtitleBytes(bytes);
    if (decoded.startsWith(QChar(0xFEFF)))
        decoded.remove(0, 1);
    return decoded;
}

QList<SubtitleItem> parseSrtBytes(const QByteArray &bytes)
{
    const QString decoded = decodeSubtitleText(bytes);
    QList<SubtitleItem> items;
    // A cue takes some 60 characters or more; growing the list step by step costs more.
    items.reserve(decoded.size() / 64);
    walkCues(decoded, [&items](QStringView, qint64 startMs, qint64 endMs, QString &&cleaned) {
        items.append(SubtitleItem{int(items.size()), startMs, endMs, std::move(cleaned)});
    });
    return items;
}

QByteArray srtWithTimes(const QByteArray &bytes, const QList<SubtitleItem> &items)
{
    const QString text = decodeSubtitleText(bytes);
    QString rewritten;
    rewritten.reserve(text.size() + 64);
    qsizetype copiedUpTo = 0;
    int index = 0;
    walkCues(text, [&](QStringView timeLine, qint64 startMs, qint64 endMs, QString &&) {
        const int cue = index++;
        if (cue >= items.size() || (items.at(cue).startMs == startMs && items.at(cue).endMs == endMs))
            return;
        const qsizetype at = timeLine.data() - text.constData();
        rewritten.append(QStringView(text).sliced(copiedUpTo, at - copiedUpTo));
        rewritten.append(srtTimeStamp(items.at(cue).startMs) + " --> " + srtTimeStamp(items.at(cue).endMs));
        copiedUpTo = at + timeLine.size();
    });
    rewritten.append(QStringView(text).sliced(copiedUpTo));
    return rewritten.toUtf8();
}

bool writeWholeFile(const QString &path, const QByteArray &bytes)
{
    // A full disk takes part of a write without an error: the count written tells.
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

bool saveSrtTimes(const QString &path, const QList<SubtitleItem> &items)
{
    QFile original(path);
    if (!original.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = original.readAll();
    original.close();
    // The subtitle as it came is kept once, however often its times are mended later.
    const QString untouched = path + ".orig";
    if (!QFile::exists(untouched) && !writeWholeFile(untouched, bytes))
        return false;
    return writeWholeFile(path, srtWithTimes(bytes, items));
}

QList<SubtitleItem> parseSrtFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug() << "无法打开字幕文件:" << path;
        return {};
    }
    const QByteArray bytes = file.readAll();
    file.close();
    return parseSrtBytes(bytes);
}

qint64 parseSrtTime(const QString &stamp)
{
    return parseTime(stamp);
}

QByteArray srtFromItems(const QList<SubtitleItem> &items)
{
    QString srt;
    for (const SubtitleItem &item : items)
        srt += QString::number(item.index + 1) + '\n' + srtTimeStamp(item.startMs) + " --> " +
               srtTimeStamp(item.endMs) + '\n' + item.text + "\n\n";
    return srt.toUtf8();
}

bool writeSrtFile(const QString &path, const QList<SubtitleItem> &items)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(srtFromItems(items));
    return file.commit();
}
