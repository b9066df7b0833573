#include "core/subtitles/subtitletracks.h"

#include "core/subtitles/srtparser.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

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

TrackSentences readTrackSentences(const QString &mediaPath, const QString &language)
{
    TrackSentences result;
    const MediaProbe probe = probeMedia(mediaPath);
    const SubtitleTrack *chosen = nullptr;
    for (const SubtitleTrack &track : probe.tracks) {
        if (track.isBitmap())
            continue;
        if (!chosen || (!language.isEmpty() && track.language == language && chosen->language != language))
            chosen = &track;
    }
    if (!chosen) {
        if (!probe.tracks.isEmpty())
            result.problem = "媒体中的字幕轨是图像字幕（PGS / VobSub），无法用于复读";
        return result;
    }
    result.source = QString("媒体内字幕轨 %1（%2%3）")
                        .arg(chosen->number + 1)
                        .arg(chosen->codec)
                        .arg(chosen->language.isEmpty() ? QString() : ", " + chosen->language);
    const QByteArray srt = runForOutput("ffmpeg",
                                        {"-nostdin", "-v", "error", "-i", mediaPath, "-map",
                                         QString("0:s:%1").arg(chosen->number), "-f", "srt", "-"},
                                        extractTimeoutMs);
    result.items = parseSrtBytes(srt);
    if (result.items.isEmpty())
        result.problem = srt.isEmpty() ? "无法读取媒体中的字幕轨：" + result.source
                                       : "媒体中的字幕轨没有可用的句子：" + result.source;
    return result;
}
