#include "core/subtitles/subtitlereaders.h"

#include "core/subtitles/srtparser.h"

#include <QDebug>
#include <QFile>

namespace {

// Digits only, as a non-negative number; -1 otherwise.
qint64 digitsValue(QStringView digits)
{
    if (digits.isEmpty() || digits.size() > 9)
        return -1;
    qint64 value = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

// ".5", ".50" and ".500" are all half a second: the digits are a fraction, not a count.
qint64 fractionMs(QStringView digits)
{
    QString padded = digits.left(3).toString();
    padded = padded.leftJustified(3, u'0');
    return digitsValue(padded);
}

} // namespace

qint64 clockTimeMs(QStringView stamp)
{
    stamp = stamp.trimmed();
    const qsizetype lastColon = stamp.lastIndexOf(u':');
    if (lastColon < 0)
        return -1;
    const qsizetype firstColon = stamp.indexOf(u':');
    QStringView seconds = stamp.sliced(lastColon + 1);
    qint64 fraction = 0;
    const qsizetype point = std::max(seconds.indexOf(u'.'), seconds.indexOf(u','));
    if (point >= 0) {
        fraction = fractionMs(seconds.sliced(point + 1));
        seconds = seconds.first(point);
    }
    const bool withHours = firstColon != lastColon;
    const qint64 hours = withHours ? digitsValue(stamp.first(firstColon)) : 0;
    const qint64 minutes = withHours ? digitsValue(stamp.sliced(firstColon + 1, lastColon - firstColon - 1))
                                     : digitsValue(stamp.first(lastColon));
    const qint64 wholeSeconds = digitsValue(seconds);
    if (hours < 0 || minutes < 0 || wholeSeconds < 0 || fraction < 0)
        return -1;
    return ((hours * 60 + minutes) * 60 + wholeSeconds) * 1000 + fraction;
}

SubtitleFormat subtitleFormatOf(const QString &suffix, QStringView text)
{
    const QStringView head = text.first(std::min<qsizetype>(text.size(), 4096)).trimmed();
    if (head.startsWith(u"WEBVTT"))
        return SubtitleFormat::WebVtt;
    if (head.contains(u"[Script Info]", Qt::CaseInsensitive) ||
        head.contains(u"[Events]", Qt::CaseInsensitive))
        return SubtitleFormat::Ass;
    const QString lower = suffix.toLower();
    if (lower == "vtt")
        return SubtitleFormat::WebVtt;
    if (lower == "ass" || lower == "ssa")
        return SubtitleFormat::Ass;
    if (lower == "lrc")
        return SubtitleFormat::Lrc;
    return SubtitleFormat::Srt;
}

QList<SubtitleItem> readSubtitleBytes(const QByteArray &bytes, const QString &suffix, qint64 mediaLengthMs)
{
    const QString text = decodeSubtitleText(bytes);
    switch (subtitleFormatOf(suffix, text)) {
    case SubtitleFormat::WebVtt:
        return parseVttText(text);
    case SubtitleFormat::Ass:
        return parseAssText(text);
    case SubtitleFormat::Lrc:
        return parseLrcText(text, mediaLengthMs);
    case SubtitleFormat::Srt:
        break;
    }
    return parseSrtBytes(bytes);
}

QList<SubtitleItem> readSubtitleFile(const QString &path, qint64 mediaLengthMs)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug() << "无法打开字幕文件:" << path;
        return {};
    }
    const QString suffix = path.section(u'.', -1);
    return readSubtitleBytes(file.readAll(), suffix, mediaLengthMs);
}

QStringList otherSubtitleSuffixes()
{
    return {"vtt", "ass", "ssa", "lrc"};
}
