#pragma once

#include "core/subtitles/subtitleitem.h"

#include <QList>
#include <QString>

// The Chinese-line filter of the subtitle overlay: a line counts as Chinese when it holds an
// ideograph of U+4E00 … U+9FA5.
namespace ChineseLines {

// True when some sentence holds a Chinese ideograph.
bool anyIn(const QList<SubtitleItem> &sentences);

// The text without its Chinese lines; a run of line breaks counts as one break, and empty
// parts stay (a text ending in a break still ends in one).
QString removedFrom(const QString &text);

} // namespace ChineseLines
