#include "core/drill/chineselines.h"

#include <QRegularExpression>

#include <algorithm>

namespace ChineseLines {

namespace {

const QRegularExpression &ideograph()
{
    static const QRegularExpression pattern("[\\x{4e00}-\\x{9fa5}]");
    return pattern;
}

} // namespace

bool anyIn(const QList<SubtitleItem> &sentences)
{
    return std::any_of(sentences.cbegin(), sentences.cend(),
                       [](const SubtitleItem &item) { return item.text.contains(ideograph()); });
}

QString removedFrom(const QString &text)
{
    static const QRegularExpression lineBreaks("[\\r\\n]+");
    QStringList kept;
    const QStringList lines = text.split(lineBreaks, Qt::KeepEmptyParts);
    for (const QString &line : lines) {
        if (!line.contains(ideograph()))
            kept << line;
    }
    return kept.join('\n');
}

} // namespace ChineseLines
