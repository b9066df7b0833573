#pragma once

#include "core/subtitles/subtitleitem.h"

#include <QByteArray>
#include <QString>

// Readers of the subtitle formats beside SRT. Each gives the same list as the SRT reader:
// cleaned, trimmed text, sound descriptions dropped, index i at position i.

enum class SubtitleFormat { Srt, WebVtt, Ass, Lrc };

// WebVTT: header, NOTE, STYLE and REGION blocks skipped, cue settings ignored, tags and
// inline time stamps removed, character references decoded. File order.
QList<SubtitleItem> parseVttText(QStringView text);

// ASS/SSA: the Dialogue lines of [Events] through its Format line, sorted by start.
QList<SubtitleItem> parseAssText(QStringView text);

// LRC: a line lasts until the next time tag; the last one until [length:], else until
// mediaLengthMs, else five seconds. Lines with the same time are one sentence.
QList<SubtitleItem> parseLrcText(QStringView text, qint64 mediaLengthMs = -1);

// "[h:]mm:ss[.fraction]" with "." or "," before a fraction of a second; -1 when malformed.
qint64 clockTimeMs(QStringView stamp);

// The format of a subtitle file: its content where it names itself (a WEBVTT header, an
// ASS section), else its suffix (lower case, without the dot), else SRT.
SubtitleFormat subtitleFormatOf(const QString &suffix, QStringView text);

// The subtitle in its own format, decoded as SRT files are.
QList<SubtitleItem> readSubtitleBytes(const QByteArray &bytes, const QString &suffix,
                                      qint64 mediaLengthMs = -1);
QList<SubtitleItem> readSubtitleFile(const QString &path, qint64 mediaLengthMs = -1);

// The suffixes read besides SRT, in the order the lookup tries them.
QStringList otherSubtitleSuffixes();
