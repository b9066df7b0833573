#include "core/subtitles/secondsubtitle.h"

#include "core/subtitles/subtitlereaders.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

QString findSecondSubtitle(const QString &mediaPath)
{
    const QFileInfo media(mediaPath);
    // A language tag such as "zh", "eng", "zh-CN" or "pt_BR" between the lesson's name and the suffix.
    static const QRegularExpression languageTag(QStringLiteral("^[A-Za-z]{2,3}(?:[-_][A-Za-z0-9]{2,4})?$"));
    const QStringList suffixes = QStringList{"srt", "srt1"} + otherSubtitleSuffixes();
    const QString prefix = media.completeBaseName() + '.';
    const QFileInfoList entries = media.dir().entryInfoList(QDir::Files | QDir::Readable, QDir::Name);
    for (const QFileInfo &entry : entries) {
        const QString name = entry.completeBaseName();
        if (!name.startsWith(prefix, Qt::CaseInsensitive) || !suffixes.contains(entry.suffix().toLower()))
            continue;
        if (languageTag.match(name.sliced(prefix.size())).hasMatch())
            return entry.absoluteFilePath();
    }
    return {};
}

QStringList pairByOverlap(const QList<SubtitleItem> &sentences, const QList<SubtitleItem> &second)
{
    QStringList paired(sentences.size());
    for (const SubtitleItem &cue : second) {
        qsizetype best = -1;
        qint64 bestOverlap = 0;
        for (qsizetype i = 0; i < sentences.size(); ++i) {
            const qint64 overlap =
                std::min(cue.endMs, sentences.at(i).endMs) - std::max(cue.startMs, sentences.at(i).startMs);
            if (overlap > bestOverlap) {
                bestOverlap = overlap;
                best = i;
            }
        }
        if (best >= 0)
            paired[best] += (paired.at(best).isEmpty() ? "" : "\n") + cue.text;
    }
    return paired;
}
