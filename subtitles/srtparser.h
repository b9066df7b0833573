#pragma once

#include "subtitles/subtitleitem.h"

#include <QByteArray>

// Reads an SRT file into its accepted cues, in file order. A file that cannot be
// opened gives an empty list and one debug line; nothing is ever thrown or shown.
QList<SubtitleItem> parseSrtFile(const QString &path);

// The same reader on the raw bytes of a file already in memory: decoding (UTF-8 with or
// without byte-order mark, else the Chinese fallback encoding), blocks, cleaning.
QList<SubtitleItem> parseSrtBytes(const QByteArray &bytes);

// "HH:MM:SS,mmm" to milliseconds; malformed parts count as 0.
qint64 parseSrtTime(const QString &stamp);
