#pragma once

#include "core/subtitles/subtitleitem.h"

#include <QStringList>

// A second subtitle shown under the sentence on demand: a file beside the lesson named
// <lesson>.<language>.<ext> (e.g. "课文.zh.srt", "lesson.en.vtt"), in any format read.

// The first such file beside the media in name order; empty when there is none.
QString findSecondSubtitle(const QString &mediaPath);

// For each sentence, the text of the second subtitle's cues that overlap it in time, each cue
// given to the sentence it overlaps most; "" for a sentence no cue overlaps.
QStringList pairByOverlap(const QList<SubtitleItem> &sentences, const QList<SubtitleItem> &second);
