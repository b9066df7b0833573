#include "core/export/mp3timing.h"

#include <QFile>

#include <cctype>
#include <cstring>

double Mp3Timing::frameSeconds() const
{
    return sampleRate > 0 ? double(frames) * samplesPerFrame / sampleRate : 0.0;
}

double Mp3Timing::playableSeconds() const
{
    if (sampleRate <= 0)
        return 0.0;
    return double(frames * samplesPerFrame - encoderDelay - encoderPadding) / sampleRate;
}

namespace {

struct FrameHeader
{
    int length = 0;
    int samples = 0;
    int sampleRate = 0;
    int sideInfoSize = 0;
};

// Layer III only: that is what the clips are encoded with.
bool parseFrameHeader(const uchar *p, FrameHeader &header)
{
    static const int bitratesV1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int bitratesV2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    static const int rates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return false;
    const int versionBits = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (versionBits == 1 || layerBits != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return false;
    const bool mpeg1 = versionBits == 3;
    const int rateRow = mpeg1 ? 0 : (versionBits == 2 ? 1 : 2);
    const bool mono = (p[3] >> 6) == 3;
    const int padding = (p[2] >> 1) & 1;
    const int bitrate = (mpeg1 ? bitratesV1 : bitratesV2)[bitrateIndex] * 1000;
    header.sampleRate = rates[rateRow][rateIndex];
    header.samples = mpeg1 ? 1152 : 576;
    header.length = (mpeg1 ? 144 : 72) * bitrate / header.sampleRate + padding;
    header.sideInfoSize = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    return true;
}

qint64 skipId3v2(const QByteArray &data)
{
    if (data.size() < 10 || !data.startsWith("ID3"))
        return 0;
    const auto *p = reinterpret_cast<const uchar *>(data.constData());
    const qint64 size =
        (qint64(p[6] & 0x7F) << 21) | ((p[7] & 0x7F) << 14) | ((p[8] & 0x7F) << 7) | (p[9] & 0x7F);
    const bool hasFooter = p[5] & 0x10;
    return 10 + size + (hasFooter ? 10 : 0);
}

quint32 bigEndian32(const uchar *p)
{
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | p[3];
}

// The Xing/Info frame carries no audio; its LAME tag notes the priming and padding samples.
bool readInfoFrame(const uchar *frame, const FrameHeader &header, Mp3Timing &timing)
{
    const int tagOffset = 4 + header.sideInfoSize;
    if (tagOffset + 8 > header.length)
        return false;
    const uchar *tag = frame + tagOffset;
    if (memcmp(tag, "Xing", 4) != 0 && memcmp(tag, "Info", 4) != 0)
        return false;
    const quint32 flags = bigEndian32(tag + 4);
    int lameOffset = tagOffset + 8;
    lameOffset += (flags & 1) ? 4 : 0;   // frame count
    lameOffset += (flags & 2) ? 4 : 0;   // byte count
    lameOffset += (flags & 4) ? 100 : 0; // seek table
    lameOffset += (flags & 8) ? 4 : 0;   // quality
    if (lameOffset + 24 <= header.length && std::isalnum(frame[lameOffset])) {
        const uchar *delayPadding = frame + lameOffset + 21;
        timing.encoderDelay = (delayPadding[0] << 4) | (delayPadding[1] >> 4);
        timing.encoderPadding = ((delayPadding[1] & 0x0F) << 8) | delayPadding[2];
        timing.hasEncoderTag = true;
    }
    return true;
}

} // namespace

Mp3Timing measureMp3(const QByteArray &data)
{
    Mp3Timing timing;
    const auto *bytes = reinterpret_cast<const uchar *>(data.constData());
    const qint64 size = data.size();
    qint64 pos = skipId3v2(data);
    bool first = true;
    FrameHeader header;
    while (pos + 4 <= size) {
        if (!parseFrameHeader(bytes + pos, header) || pos + header.length > size) {
            ++pos; // not a frame here (junk or a trailing tag): look further on
            continue;
        }
        if (first) {
            first = false;
            timing.sampleRate = header.sampleRate;
            timing.samplesPerFrame = header.samples;
            if (readInfoFrame(bytes + pos, header, timing)) {
                pos += header.length;
                continue;
            }
        }
        // Only frames of the stream's own format count; a false sync in junk would not match.
        if (header.sampleRate == timing.sampleRate && header.samples == timing.samplesPerFrame)
            ++timing.frames;
        pos += header.length;
    }
    timing.valid = timing.frames > 0;
    return timing;
}

Mp3Timing measureMp3File(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return measureMp3(file.readAll());
}

QList<double> joinedClipStarts(const QList<Mp3Timing> &clips)
{
    QList<double> starts;
    if (clips.isEmpty())
        return starts;
    // A player skips the joined file's priming once, at its start; the priming of every
    // later clip stays in the stream, so each clip's sentence begins after its own.
    const int firstDelay = clips.first().encoderDelay;
    double framesBefore = 0.0;
    for (const Mp3Timing &clip : clips) {
        const double primingShift =
            clip.sampleRate > 0 ? double(clip.encoderDelay - firstDelay) / clip.sampleRate : 0.0;
        starts.append(framesBefore + primingShift);
        framesBefore += clip.frameSeconds();
    }
    return starts;
}

double joinedSeconds(const QList<Mp3Timing> &clips)
{
    if (clips.isEmpty())
        return 0.0;
    return joinedClipStarts(clips).last() + clips.last().playableSeconds();
}

QList<double> lrcLineTimes(int itemCount, const QList<int> &clipPositions, const QList<double> &clipStarts,
                           double joinedEnd)
{
    QList<double> times;
    times.reserve(itemCount);
    qsizetype next = 0;
    for (int position = 0; position < itemCount; ++position) {
        while (next < clipPositions.size() && clipPositions.at(next) < position)
            ++next;
        times.append(next < clipPositions.size() ? clipStarts.at(next) : joinedEnd);
    }
    return times;
}
