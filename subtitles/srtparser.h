#pragma once

#include "subtitles/subtitleitem.h"

// Reads an SRT file into its accepted cues, in file order. A file that cannot be
// opened gives an empty list and one debug line; nothing is ever thrown or shown.
QList<SubtitleItem> parseSrtFile(const QString &path);

// "HH:MM:SS,mmm" to milliseconds; malformed parts count as 0.
qint64 parseSrtTime(const QString &stamp);
