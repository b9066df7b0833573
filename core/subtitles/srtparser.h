#pragma once

#include "core/subtitles/subtitleitem.h"

#include <QByteArray>

class QRegularExpression;

// Reads an SRT file into its accepted cues, in file order. A file that cannot be
// opened gives an empty list and one debug line; nothing is ever thrown or shown.
QList<SubtitleItem> parseSrtFile(const QString &path);

// The same reader on the raw bytes of a file already in memory: decoding (the encoding a
// byte-order mark names, UTF-8, UTF-16 or UTF-32; without one UTF-8, else the Chinese
// fallback encoding), blocks, cleaning.
QList<SubtitleItem> parseSrtBytes(const QByteArray &bytes);

// The subtitle file `bytes` with the times of its accepted cues replaced by those of `items`
// (cue i of the file is items[i]); everything else stays as it was. UTF-8, without a
// byte-order mark, whatever the file's own encoding.
QByteArray srtWithTimes(const QByteArray &bytes, const QList<SubtitleItem> &items);

// Writes bytes to path in one step: all of them, or (a failed or short write) the file stays
// as it was and the result is false.
bool writeWholeFile(const QString &path, const QByteArray &bytes);

// Writes the times of `items` into the subtitle file at path, in one step (a failed write
// leaves the file as it was), after keeping the file as it first was beside it as path + ".orig".
bool saveSrtTimes(const QString &path, const QList<SubtitleItem> &items);

// "HH:MM:SS,mmm" (or "." before the milliseconds) to milliseconds; malformed parts count as 0.
qint64 parseSrtTime(const QString &stamp);
// Milliseconds as "HH:MM:SS,mmm".
QString srtTimeStamp(qint64 ms);

// The items as a fresh SRT file (numbered from 1, UTF-8), and that file written in one step.
QByteArray srtFromItems(const QList<SubtitleItem> &items);
bool writeSrtFile(const QString &path, const QList<SubtitleItem> &items);

// Shared with the readers of the other subtitle formats.
// The text of a subtitle file's bytes, decoded as parseSrtBytes does, without byte-order mark.
QString decodeSubtitleText(const QByteArray &bytes);
// Style override codes such as {\an8}; markup tags such as <i> or </font>.
const QRegularExpression &braceCodePattern();
const QRegularExpression &markupTagPattern();
// Splits at runs of CR/LF, trims every piece, drops the empty ones and joins with "\n".
QString joinTrimmedLines(QStringView view);
// False for an empty text and for sound descriptions such as "(applause)" or "[Music]".
bool isAcceptedCueText(const QString &text);
