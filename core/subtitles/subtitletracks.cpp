#include "core/subtitles/subtitletracks.h"

#include "core/subtitles/srtparser.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace {

constexpr int probeTimeoutMs = 15000;
// ffmpeg reads the whole media to reach every cue of a track.
constexpr int extractTimeoutMs = 120000;

// Runs an FFmpeg program and gives its standard output; empty when it did not end well.
QByteArray runForOutput(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {};
    return process.readAllStandardOutput();
}

TrackSentences readTrack(const QString &mediaPath, const SubtitleTrack &track)
{
    TrackSentences result;
    result.source = QString("媒体内字幕轨 %1（%2%3）")
                        .arg(track.number + 1)
                        .arg(track.codec)
                        .arg(track.language.isEmpty() ? QString() : ", " + track.language);
    const QByteArray srt = runForOutput("ffmpeg",
                                        {"-nostdin", "-v", "error", "-i", mediaPath, "-map",
                                         QString("0:s:%1").arg(track.number), "-f", "srt", "-"},
                                        extractTimeoutMs);
    result.items = parseSrtBytes(srt);
    if (result.items.isEmpty())
        result.problem = srt.isEmpty() ? "无法读取媒体中的字幕轨：" + result.source
                                       : "媒体中的字幕轨没有可用的句子：" + result.source;
    return result;
}

// Whether most of the sentences' lines are lines of the other list too: one text, whatever
// its times.
bool hasTheSameText(const QList<SubtitleItem> &sentences, const QList<SubtitleItem> &other)
{
    QSet<QString> otherLines;
    for (const SubtitleItem &item : other)
        otherLines.insert(item.text.trimmed());
    const auto found = std::count_if(sentences.cbegin(), sentences.cend(), [&](const SubtitleItem &item) {
        return otherLines.contains(item.text.trimmed());
    });
    return !sentences.isEmpty() && found * 2 > sentences.size();
}

} // namespace

bool SubtitleTrack::isBitmap() const
{
    static const QStringList pictureCodecs{"hdmv_pgs_subtitle", "dvd_subtitle", "dvb_subtitle", "xsub"};
    return pictureCodecs.contains(codec);
}

MediaProbe probeMedia(const QString &mediaPath)
{
    const QByteArray json = runForOutput("ffprobe",
                                         {"-v", "error", "-show_entries",
                                          "stream=codec_type,codec_name:stream_tags=language:format=duration",
                                          "-of", "json", mediaPath},
                                         probeTimeoutMs);
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    MediaProbe probe;
    probe.ok = !root.isEmpty();
    bool hasDuration = false;
    const double seconds =
        root.value("format").toObject().value("duration").toString().toDouble(&hasDuration);
    if (hasDuration)
        probe.durationMs = qint64(seconds * 1000);
    for (const QJsonValue &stream : root.value("streams").toArray()) {
        const QJsonObject fields = stream.toObject();
        if (fields.value("codec_type").toString() != "subtitle")
            continue;
        probe.tracks.append(SubtitleTrack{int(probe.tracks.size()), fields.value("codec_name").toString(),
                                          fields.value("tags").toObject().value("language").toString()});
    }
    return probe;
}

bool isSameLanguage(const QString &tag, const QString &language)
{
    // The language itself, without the region or script after "-" or "_".
    const auto languageOf = [](const QString &code) {
        const QStringView bare = QStringView(code).left(code.indexOf(QRegularExpression("[-_]")));
        const QLocale::Language known = QLocale::codeToLanguage(bare);
        return known != QLocale::AnyLanguage ? QLocale::languageToCode(known) : bare.toString().toLower();
    };
    return !tag.isEmpty() && !language.isEmpty() && languageOf(tag) == languageOf(language);
}

QList<SubtitleTrack> textTracksInOrder(const MediaProbe &probe, const QString &language)
{
    QList<SubtitleTrack> tracks;
    for (const SubtitleTrack &track : probe.tracks) {
        if (!track.isBitmap())
            tracks.append(track);
    }
    const auto wanted = std::find_if(tracks.begin(), tracks.end(), [&](const SubtitleTrack &track) {
        return isSameLanguage(track.language, language);
    });
    std::rotate(tracks.begin(), wanted, wanted == tracks.end() ? wanted : wanted + 1);
    return tracks;
}

TrackSentences readTrackSentences(const QString &mediaPath, const QString &language)
{
    return readTrackSentences(mediaPath, probeMedia(mediaPath), language);
}

TrackSentences readTrackSentences(const QString &mediaPath, const MediaProbe &probe, const QString &language)
{
    const QList<SubtitleTrack> tracks = textTracksInOrder(probe, language);
    if (tracks.isEmpty()) {
        TrackSentences result;
        if (!probe.tracks.isEmpty())
            result.problem = "媒体中的字幕轨是图像字幕（PGS / VobSub），无法用于复读";
        return result;
    }
    return readTrack(mediaPath, tracks.first());
}

TrackSentences readSecondTrackSentences(const QString &mediaPath, const QString &language,
                                        const QList<SubtitleItem> &sentences)
{
    QList<SubtitleTrack> tracks = textTracksInOrder(probeMedia(mediaPath), language);
    if (tracks.size() < 2)
        return {};
    // The lesson's sentences may have been taken from another track than the language now
    // chosen would take: the first track whose text is not theirs, the one they are from last.
    std::rotate(tracks.begin(), tracks.begin() + 1, tracks.end());
    for (const SubtitleTrack &track : tracks) {
        TrackSentences read = readTrack(mediaPath, track);
        if (!read.items.isEmpty() && !hasTheSameText(sentences, read.items))
            return read;
    }
    return {};
}
