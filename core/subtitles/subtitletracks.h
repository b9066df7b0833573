#pragma once

#include "core/subtitles/subtitleitem.h"

#include <QString>

// The subtitle tracks inside a media file, read with FFmpeg's command-line programs.

struct SubtitleTrack
{
    int number = 0; // among the media's subtitle tracks, as ffmpeg's "0:s:N" counts them
    QString codec;  // "subrip", "ass", "webvtt", "mov_text", "hdmv_pgs_subtitle", ...
    QString language;
    bool isBitmap() const;
};

struct MediaProbe
{
    bool ok = false; // ffprobe ran and read the file
    qint64 durationMs = -1;
    QList<SubtitleTrack> tracks;
};

MediaProbe probeMedia(const QString &mediaPath);

// The sentences of the media's first text track (the first in `language` where one is in it).
// `source` names the track for the learner; `problem` says why there is no sentence although
// the media has tracks (pictures only, unreadable, empty). Both empty: the media has none.
struct TrackSentences
{
    QList<SubtitleItem> items;
    QString source;
    QString problem;
};

TrackSentences readTrackSentences(const QString &mediaPath, const QString &language = {});
