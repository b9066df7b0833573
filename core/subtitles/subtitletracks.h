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

// Whether a track's language tag names `language`, in any form media and learners write it:
// "en", "eng", "en-US"; "zh", "chi", "zho", "zh_CN".
bool isSameLanguage(const QString &tag, const QString &language);

// The text tracks in the order they are taken: the first in `language` (the first track when
// none is, or no language is given), then the others as the media has them. Bitmap tracks are
// left out: they cannot be drilled.
QList<SubtitleTrack> textTracksInOrder(const MediaProbe &probe, const QString &language = {});

// The sentences of the first track of that order. `source` names the track for the learner;
// `problem` says why there is no sentence although the media has tracks (pictures only,
// unreadable, empty). Both empty: the media has none.
struct TrackSentences
{
    QList<SubtitleItem> items;
    QString source;
    QString problem;
};

TrackSentences readTrackSentences(const QString &mediaPath, const QString &language = {});
// The same with the media probed already.
TrackSentences readTrackSentences(const QString &mediaPath, const MediaProbe &probe, const QString &language);

// The sentences of the track after that one, shown as a second subtitle; empty when the media
// has one text track or none. A track with the text of the lesson's `sentences` is passed over.
TrackSentences readSecondTrackSentences(const QString &mediaPath, const QString &language = {},
                                        const QList<SubtitleItem> &sentences = {});
