#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

// One subtitle cue: one sentence of the lesson.
struct SubtitleItem
{
    int index = 0;      // position among the accepted cues of its file, from 0 without gaps
    qint64 startMs = 0; // milliseconds from the start of the media
    qint64 endMs = 0;
    QString text; // cleaned lines joined by "\n", never empty

    bool operator==(const SubtitleItem &other) const
    {
        return index == other.index && startMs == other.startMs && endMs == other.endMs && text == other.text;
    }
};
