#pragma once

#include "subtitles/subtitleitem.h"

#include <QByteArray>

// Reads an SRT file into its accepted cues, in file order. A file that cannot be
// opened gives an empty list and one debug line; nothing is ever thrown or shown.
QList<SubtitleItem> parseSrtFile(const QString &path);

// The same reader on the raw bytes of a file already in memory: decoding (the encoding a
// byte-order mark names, UTF-8, UTF-16 or UTF-32; without one UTF-8, else the Chinese
// fallback encoding), blocks, cleaning.
QList<SubtitleItem> parseSrtBytes(const QByteArray &bytes);

// "HH:MM:SS,mmm" to milliseconds; malformed parts count as 0.
qint64 parseSrtTime(const QString &stamp);
