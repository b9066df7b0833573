#include "core/align/speechactivity.h"

#include "core/export/ffmpegrun.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The noise floor: a low percentile of each half second, the lowest of those within a few
// seconds either way, so that it follows a recording whose noise changes but never rises into a
// stretch of speech.
constexpr int floorBlockFrames = 50;
constexpr int floorReachBlocks = 12;
constexpr double floorPercentile = 0.2;
// Speech lies this far above the floor, and never below the lowest threshold (digital silence).
constexpr float thresholdOverFloorDb = 10.0f;
constexpr float lowestThresholdDb = -70.0f;
// Stop gaps inside a word are filled; shorter stretches are clicks.
constexpr int fillGapFrames = 3;
constexpr int shortestRunFrames = 3;
// Pauses between words; a pause between sentences is longer.
constexpr qint64 joinGapMs = 180;

constexpr quint32 cacheMagic = 0x4F4C5341; // "OLSA"
constexpr quint32 cacheVersion = 5;

// The floor a block of frames gives. Its frames of digital silence do not count: a few of them
// (the padding at the end of an AAC file, the frame where the sound stops) would pull the floor
// below a recording's noise, and the noise beside them would pass for speech. A block of mostly
// silence is a pause of a clean recording: its floor is silence. A short last block of mostly
// silence tells nothing.
constexpr float noFloor = std::numeric_limits<float>::infinity();

float blockFloor(QList<float> block)
{
    const qsizetype frames = block.size();
    block.removeIf([](float level) { return level <= silenceDb; });
    if (block.size() < floorBlockFrames / 2)
        return frames < floorBlockFrames / 2 ? noFloor : silenceDb;
    const auto at = block.begin() + qsizetype(floorPercentile * (block.size() - 1));
    std::nth_element(block.begin(), at, block.end());
    return *at;
}

QList<float> noiseFloor(const QList<float> &levels)
{
    const qsizetype blocks = (levels.size() + floorBlockFrames - 1) / floorBlockFrames;
    QList<float> blockLow(blocks);
    for (qsizetype b = 0; b < blocks; ++b)
        blockLow[b] = blockFloor(levels.mid(b * floorBlockFrames, floorBlockFrames));
    QList<float> floor(levels.size());
    for (qsizetype b = 0; b < blocks; ++b) {
        const qsizetype from = std::max<qsizetype>(0, b - floorReachBlocks);
        const qsizetype to = std::min<qsizetype>(blocks, b + floorReachBlocks + 1);
        float lowest = *std::min_element(blockLow.begin() + from, blockLow.begin() + to);
        if (lowest == noFloor)
            lowest = silenceDb;
        const qsizetype end = std::min<qsizetype>(levels.size(), (b + 1) * floorBlockFrames);
        std::fill(floor.begin() + b * floorBlockFrames, floor.begin() + end, lowest);
    }
    return floor;
}

// Sets frames [from, to) of flags to value.
void setRun(QList<bool> &flags, qsizetype from, qsizetype to, bool value)
{
    std::fill(flags.begin() + from, flags.begin() + to, value);
}

// Runs of `value` no longer than maxFrames and lying between runs of the other value become
// the other value.
void removeShortRuns(QList<bool> &flags, bool value, int maxFrames)
{
    qsizetype i = 0;
    while (i < flags.size()) {
        if (flags.at(i) != value) {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < flags.size() && flags.at(end) == value)
            ++end;
        const bool inside = value ? true : (i > 0 && end < flags.size());
        if (inside && end - i <= maxFrames)
            setRun(flags, i, end, !value);
        i = end;
    }
}

// Frame levels of 16-bit mono samples at the stream's own rate, fed piece by piece: frame k
// ends at sample (k + 1) * rate / 100, so that no frame drifts at rates such as 22050 Hz.
class LevelMeter
{
public:
    explicit LevelMeter(QList<float> &levels)
        : levels(levels)
    {
    }

    void setRate(int samplesPerSecond)
    {
        rate = samplesPerSecond;
        frameEnd = rate / framesPerSecond;
    }
    int sampleRate() const { return rate; }

    // Kept until the rate is known.
    void feed(const QByteArray &bytes)
    {
        if (rate <= 0 || !pending.isEmpty()) {
            pending.append(bytes);
            if (rate <= 0)
                return;
            measure(std::exchange(pending, QByteArray()));
            return;
        }
        measure(bytes);
    }

    void finish()
    {
        if (inFrame() > 0)
            closeFrame();
    }

    qint64 samplesSeen() const { return seen; }

private:
    // A sample split between two pieces waits in `pending` for its second byte.
    void measure(const QByteArray &bytes)
    {
        const qsizetype samples = bytes.size() / 2;
        const auto *data = reinterpret_cast<const qint16 *>(bytes.constData());
        for (qsizetype i = 0; i < samples; ++i) {
            sumOfSquares += qint64(data[i]) * data[i];
            if (++seen == frameEnd)
                closeFrame();
        }
        if (bytes.size() % 2 != 0)
            pending = bytes.right(1);
    }

    qint64 frameStart() const { return qint64(levels.size()) * rate / framesPerSecond; }
    qint64 inFrame() const { return seen - frameStart(); }

    void closeFrame()
    {
        const double meanSquare = double(sumOfSquares) / double(inFrame()) / (32768.0 * 32768.0);
        const double db = meanSquare > 0 ? 10.0 * std::log10(meanSquare) : silenceDb;
        levels.append(float(std::max<double>(db, silenceDb)));
        sumOfSquares = 0;
        frameEnd = qint64(levels.size() + 1) * rate / framesPerSecond;
    }

    static constexpr int framesPerSecond = 1000 / SpeechActivity::frameMs;
    QList<float> &levels;
    QByteArray pending;
    int rate = 0;
    qint64 seen = 0;
    qint64 frameEnd = 0;
    qint64 sumOfSquares = 0;
};

// The rate of the decoded stream, as ffmpeg names its output; 0 while it has not.
int outputRate(const QByteArray &messages)
{
    const qsizetype output = messages.indexOf("Output #0");
    if (output < 0)
        return 0;
    static const QRegularExpression pattern(QStringLiteral("Audio: .*, (\\d+) Hz"));
    const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(messages.mid(output)));
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

qint64 durationFromMessages(const QByteArray &messages)
{
    static const QRegularExpression pattern(QStringLiteral("Duration: (\\d+):(\\d\\d):(\\d\\d)\\.(\\d\\d)"));
    const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(messages));
    if (!match.hasMatch())
        return -1;
    return ((match.captured(1).toLongLong() * 60 + match.captured(2).toLongLong()) * 60 +
            match.captured(3).toLongLong()) *
               1000 +
           match.captured(4).toLongLong() * 10;
}

QString lastMessageLine(const QByteArray &messages)
{
    const QList<QByteArray> lines = messages.trimmed().split('\n');
    return lines.isEmpty() ? QString() : QString::fromUtf8(lines.last().trimmed());
}

bool isLocal(const QString &media)
{
    return !media.startsWith(QLatin1StringView("http"), Qt::CaseInsensitive);
}

QString displayName(const QString &media)
{
    return isLocal(media) ? QFileInfo(media).fileName() : media;
}

SpeechAnalysis failure(SpeechAnalysisStatus status, const QString &message)
{
    SpeechAnalysis analysis;
    analysis.status = status;
    analysis.message = message;
    return analysis;
}

QString cacheFileName(const QString &media)
{
    QByteArray key = media.toUtf8();
    if (isLocal(media)) {
        const QFileInfo info(media);
        key = info.canonicalFilePath().toUtf8() + '\n' + QByteArray::number(info.size()) + '\n' +
              QByteArray::number(info.lastModified().toMSecsSinceEpoch());
    }
    key += '\n' + QByteArray::number(cacheVersion);
    return QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex() + ".speech";
}

bool readCache(const QString &path, SpeechActivity *activity)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QDataStream in(&file);
    in.setFloatingPointPrecision(QDataStream::SinglePrecision);
    quint32 magic = 0;
    quint32 version = 0;
    qint32 frameMs = 0;
    in >> magic >> version >> frameMs >> activity->levels;
    return in.status() == QDataStream::Ok && magic == cacheMagic && version == cacheVersion &&
           frameMs == SpeechActivity::frameMs;
}

void writeCache(const QString &path, const SpeechActivity &activity)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        QDataStream out(&file);
        out.setFloatingPointPrecision(QDataStream::SinglePrecision);
        out << cacheMagic << cacheVersion << qint32(SpeechActivity::frameMs) << activity.levels;
        if (file.commit())
            return;
    }
    // Only costs the analysis again next time.
    qDebug() << "无法保存语音分析缓存:" << path;
}

} // namespace

QList<bool> voicedFrames(const QList<float> &levels)
{
    const QList<float> floor = noiseFloor(levels);
    QList<bool> voiced(levels.size());
    for (qsizetype i = 0; i < levels.size(); ++i)
        voiced[i] = levels.at(i) > std::max(floor.at(i) + thresholdOverFloorDb, lowestThresholdDb);
    removeShortRuns(voiced, false, fillGapFrames);
    removeShortRuns(voiced, true, shortestRunFrames - 1);
    return voiced;
}

QList<SpeechSegment> speechSegments(const SpeechActivity &activity)
{
    const QList<bool> voiced = voicedFrames(activity.levels);
    QList<SpeechSegment> segments;
    for (qsizetype i = 0; i < voiced.size();) {
        if (!voiced.at(i)) {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < voiced.size() && voiced.at(end))
            ++end;
        const SpeechSegment run{i * SpeechActivity::frameMs, end * SpeechActivity::frameMs};
        if (!segments.isEmpty() && run.startMs - segments.last().endMs <= joinGapMs)
            segments.last().endMs = run.endMs;
        else
            segments.append(run);
        i = end;
    }
    return segments;
}

SpeechAnalysis analyseSpeech(const QString &media, const SpeechAnalysisReport &report)
{
    if (isLocal(media) && !QFileInfo(media).isReadable())
        return failure(SpeechAnalysisStatus::Unreadable, "无法读取媒体文件：" + media);

    SpeechAnalysis analysis;
    LevelMeter meter(analysis.activity.levels);
    QByteArray messages;
    qint64 durationMs = -1;
    int reported = -1;
    const auto onOutput = [&](const QByteArray &piece) {
        if (meter.sampleRate() <= 0)
            meter.setRate(outputRate(messages));
        meter.feed(piece);
        if (durationMs < 0)
            durationMs = durationFromMessages(messages);
        const int percent = durationMs > 0 && meter.sampleRate() > 0
                                ? int(std::min<qint64>(99, meter.samplesSeen() * 1000 / meter.sampleRate() *
                                                               100 / durationMs))
                                : 0;
        if (percent == reported && !piece.isEmpty())
            return true;
        reported = percent;
        return report(percent);
    };
    // Mono at 8 kHz by the plainest resampler (no filter): cheaper than the stream's own rate
    // through the pipe, and the sound above 4 kHz (fricatives) still counts, folded down. Half a
    // second a write: the pipe is read in few pieces. A track that starts after the file's
    // start (a video's sound delayed) is padded with silence, so that its times are the player's.
    const QString filters("aresample=8000:filter_size=1:phase_shift=0:first_pts=0,asetnsamples=n=4000:p=0");
    const QStringList arguments{"-hide_banner", "-nostdin", "-nostats", "-v",    "info", "-i",  media,
                                "-map",         "0:a:0",    "-vn",      "-sn",   "-dn",  "-af", filters,
                                "-ac",          "1",        "-f",       "s16le", "-"};
    switch (readFfmpegOutput(arguments, onOutput, &messages)) {
    case FfmpegRun::Missing:
        return failure(SpeechAnalysisStatus::FfmpegMissing, ffmpegMissingMessage);
    case FfmpegRun::Stopped:
        return failure(SpeechAnalysisStatus::Stopped, QString());
    case FfmpegRun::Failed:
        if (messages.contains("matches no streams"))
            return failure(SpeechAnalysisStatus::NoSound,
                           "这个文件没有声音，无法对齐：" + displayName(media));
        return failure(SpeechAnalysisStatus::DecodeFailed,
                       "无法读取媒体文件的声音：" + displayName(media) + "\n" + lastMessageLine(messages));
    case FfmpegRun::Succeeded:
        break;
    }
    meter.finish();
    if (meter.sampleRate() <= 0)
        return failure(SpeechAnalysisStatus::DecodeFailed, "无法读取媒体文件的声音：" + displayName(media));
    if (analysis.activity.levels.isEmpty())
        return failure(SpeechAnalysisStatus::NoSound, "这个文件没有声音，无法对齐：" + displayName(media));
    analysis.status = SpeechAnalysisStatus::Done;
    report(100);
    return analysis;
}

SpeechAnalysis cachedSpeechAnalysis(const QString &media, const QString &cacheDirectory,
                                    const SpeechAnalysisReport &report)
{
    const QString cachePath = QDir(cacheDirectory).filePath(cacheFileName(media));
    SpeechAnalysis analysis;
    if (readCache(cachePath, &analysis.activity)) {
        analysis.status = SpeechAnalysisStatus::Done;
        report(100);
        return analysis;
    }
    analysis = analyseSpeech(media, report);
    if (analysis.status == SpeechAnalysisStatus::Done)
        writeCache(cachePath, analysis.activity);
    return analysis;
}

QString speechCacheDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + "/speech";
}
