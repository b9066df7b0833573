// orviloop-srtdump FILE...: prints the cues the player reads from each subtitle file (SRT,
// WebVTT, ASS/SSA, LRC) or from the first text track of a media file, one JSON object per cue
// per line, so that a subtitle that plays oddly can be looked at from outside.

#include "core/subtitles/srtparser.h"
#include "core/subtitles/subtitlereaders.h"
#include "core/subtitles/subtitletracks.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonArray>
#include <QStringList>

#include <cstdio>

namespace {

QByteArray cueToJsonLine(const SubtitleItem &item)
{
    // QJsonObject sorts its keys; the fields are written in their own order instead, with
    // QJsonDocument only escaping the text (quotes, backslashes, control characters).
    const QByteArray quotedText =
        QJsonDocument(QJsonArray{item.text}).toJson(QJsonDocument::Compact).chopped(1).sliced(1);
    return "{\"index\":" + QByteArray::number(item.index) +
           ",\"startMs\":" + QByteArray::number(item.startMs) +
           ",\"endMs\":" + QByteArray::number(item.endMs) + ",\"text\":" + quotedText + "}\n";
}

bool isSubtitleFile(const QFileInfo &info)
{
    const QString suffix = info.suffix().toLower();
    return suffix == "srt" || suffix == "srt1" || otherSubtitleSuffixes().contains(suffix);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList files = app.arguments().mid(1);
    if (files.isEmpty()) {
        std::fputs("usage: orviloop-srtdump FILE...\n", stderr);
        return 2;
    }
    int status = 0;
    for (const QString &file : files) {
        // An unreadable file must not pass for a file without cues.
        const QFileInfo info(file);
        if (!info.isFile() || !info.isReadable())
            status = 1;
        QList<SubtitleItem> items;
        if (isSubtitleFile(info) || !info.isFile()) {
            items = readSubtitleFile(file);
        } else {
            const TrackSentences track = readTrackSentences(file);
            items = track.items;
            if (!track.problem.isEmpty()) {
                std::fputs(qPrintable(track.problem + '\n'), stderr);
                status = 1;
            }
        }
        for (const SubtitleItem &item : items)
            std::fputs(cueToJsonLine(item).constData(), stdout);
    }
    return status;
}
