#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// What the search for a media file's subtitle tried, found and did on disk.
struct SubtitleLookup
{
    QString baseName;        // the media's complete base name: the subtitle's name without suffix
    QStringList directories; // searched, in this order
    QString path;            // the subtitle chosen; empty when none was found
    QStringList log;         // debug lines of the files deleted, renamed or written on the way
    QString takenFrom;       // the other subtitle or media track the chosen ".srt1" was written from
    QString problem;         // why a subtitle found in another form gives no sentence, for the learner
};

// The media source for a path: a network URL when the path starts with "http" in any letter
// case, a local file otherwise.
QUrl mediaUrlFor(const QString &path);

// Where the subtitles downloaded from a network video's server are kept: a folder of that server
// (host and port) under "网络字幕" in the working directory, apart from the learner's own files,
// so that a download never takes the place of a local lesson's subtitle.
QString networkSubtitleDirectory(const QUrl &media, const QString &workingDirectory);

// Where the subtitle of a media may lie: beside a local file, then in the working directory.
// A network video's URL path names no local directory; its subtitle is the one downloaded into
// the server's folder, the only one searched.
QStringList subtitleDirectories(const QUrl &media, const QString &workingDirectory);

// Searches those directories for base name + ".srt1" or ".srt", and failing both for a name
// that differs only in letter case. The ".srt1" name marks a subtitle taken over by the
// player: a lone ".srt" is renamed to it, a ".srt" beside it is deleted as a duplicate.
// Failing those, a ".vtt", ".ass", ".ssa" or ".lrc" of the same name, then a text track inside
// a local media file, is taken over as a ".srt1" written from its sentences; the original stays.
SubtitleLookup lookUpSubtitle(const QUrl &media, const QString &workingDirectory);

// The debug line that ends a load: the sentences read from the chosen file, or the
// directories searched in vain.
QString subtitleLoadedLine(const QString &path, qsizetype sentences);
QString subtitleNotFoundLine(const SubtitleLookup &lookup);
