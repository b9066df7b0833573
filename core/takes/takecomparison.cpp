#include "core/takes/takecomparison.h"

#include "core/export/ffmpegrun.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>

namespace {

constexpr int hopSamples = comparisonRate * VoiceTrack::frameMs / 1000;
// The fundamental of a speaking voice: 60–500 Hz. YIN's window, its threshold on the
// normalised difference, and the level a voiced frame has at least.
constexpr int shortestLag = comparisonRate / 500;
constexpr int longestLag = comparisonRate / 60;
constexpr int yinWindow = 400;
constexpr double yinThreshold = 0.2;
// Without a dip that deep, the deepest one counts while it is this deep (a breathy voice).
constexpr double yinFallbackThreshold = 0.35;
constexpr float quietestVoiceDb = -55.0f;
// Speech is what lies within this much of the loudest frame.
constexpr float speechRangeDb = 30.0f;
// An envelope is compared over this range below its peak, the rest is silence.
constexpr float envelopeRangeDb = 40.0f;
// The rhythm is that of syllables: the envelopes are compared smoothed over this many frames.
constexpr int syllableFrames = 9;
// Warping is held to this share of the sentence either way.
constexpr double warpBand = 0.2;

float frameLevel(const qint16 *x, int count)
{
    double sum = 0;
    for (int i = 0; i < count; ++i)
        sum += double(x[i]) * x[i];
    const double meanSquare = count > 0 ? sum / count / (32768.0 * 32768.0) : 0;
    return meanSquare > 1e-10 ? float(10.0 * std::log10(meanSquare)) : -100.0f;
}

// YIN (de Cheveigné and Kawahara): the first dip of the cumulative mean normalised difference
// below the threshold, refined by a parabola; 0 when there is none.
float framePitch(const qint16 *x)
{
    std::array<double, longestLag + 1> difference{};
    for (int lag = 1; lag <= longestLag; ++lag) {
        double sum = 0;
        for (int j = 0; j < yinWindow; ++j) {
            const double delta = double(x[j]) - x[j + lag];
            sum += delta * delta;
        }
        difference[lag] = sum;
    }
    std::array<double, longestLag + 1> normalised{};
    normalised[0] = 1;
    double running = 0;
    for (int lag = 1; lag <= longestLag; ++lag) {
        running += difference[lag];
        normalised[lag] = running > 0 ? difference[lag] * lag / running : 1;
    }
    int chosen = -1;
    for (int lag = shortestLag; lag < longestLag; ++lag) {
        if (normalised[lag] < yinThreshold) {
            chosen = lag;
            break;
        }
    }
    if (chosen < 0) {
        const auto deepest =
            std::min_element(normalised.begin() + shortestLag, normalised.begin() + longestLag);
        if (*deepest < yinFallbackThreshold)
            chosen = int(deepest - normalised.begin());
    }
    if (chosen < 0)
        return 0;
    while (chosen + 1 < longestLag && normalised[chosen + 1] < normalised[chosen])
        ++chosen;
    const double before = normalised[chosen - 1], at = normalised[chosen], after = normalised[chosen + 1];
    const double curve = before - 2 * at + after;
    const double shift = curve > 0 ? 0.5 * (before - after) / curve : 0;
    return float(comparisonRate / (chosen + std::clamp(shift, -0.5, 0.5)));
    return 0;
}

float peak(const QList<float> &levels)
{
    return levels.isEmpty() ? -100.0f : *std::max_element(levels.begin(), levels.end());
}

double semitones(float hz)
{
    return 12.0 * std::log2(double(hz) / 100.0);
}

std::optional<double> medianSemitones(const QList<float> &pitch)
{
    QList<double> voiced;
    for (float hz : pitch) {
        if (hz > 0)
            voiced << semitones(hz);
    }
    if (voiced.isEmpty())
        return std::nullopt;
    const auto middle = voiced.begin() + voiced.size() / 2;
    std::nth_element(voiced.begin(), middle, voiced.end());
    return *middle;
}

double correlation(const QList<double> &a, const QList<double> &b)
{
    const qsizetype n = std::min(a.size(), b.size());
    if (n < 3)
        return 0;
    const double meanA = std::accumulate(a.begin(), a.begin() + n, 0.0) / n;
    const double meanB = std::accumulate(b.begin(), b.begin() + n, 0.0) / n;
    double ab = 0, aa = 0, bb = 0;
    for (qsizetype i = 0; i < n; ++i) {
        ab += (a[i] - meanA) * (b[i] - meanB);
        aa += (a[i] - meanA) * (a[i] - meanA);
        bb += (b[i] - meanB) * (b[i] - meanB);
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

// The envelope below its peak, as a share of the range compared: 0 at the peak, -1 for silence.
QList<double> envelopeShape(const QList<float> &loudness)
{
    const float top = peak(loudness);
    QList<double> shape;
    shape.reserve(loudness.size());
    for (float level : loudness)
        shape << std::clamp(double(level - top) / envelopeRangeDb, -1.0, 0.0);
    return shape;
}

// The melody around its own middle, in octaves; NaN where the frame is not voiced.
QList<double> melodyShape(const QList<float> &pitch)
{
    const std::optional<double> middle = medianSemitones(pitch);
    QList<double> shape;
    shape.reserve(pitch.size());
    for (float hz : pitch)
        shape << (hz > 0 && middle ? (semitones(hz) - *middle) / 12.0
                                   : std::numeric_limits<double>::quiet_NaN());
    return shape;
}

// The pairs of frames dynamic time warping matches, over the envelope and the melody, held to
// a band around the diagonal (the take is already stretched to the speaker's length).
QList<std::pair<qsizetype, qsizetype>> warpingPath(const VoiceTrack &a, const VoiceTrack &b)
{
    const qsizetype n = a.frames(), m = b.frames();
    const QList<double> envelopeA = envelopeShape(a.loudness), envelopeB = envelopeShape(b.loudness);
    const QList<double> melodyA = melodyShape(a.pitchHz), melodyB = melodyShape(b.pitchHz);
    const auto cost = [&](qsizetype i, qsizetype j) {
        double c = std::abs(envelopeA[i] - envelopeB[j]);
        const bool voicedA = !std::isnan(melodyA[i]), voicedB = !std::isnan(melodyB[j]);
        if (voicedA && voicedB)
            c += std::min(1.0, std::abs(melodyA[i] - melodyB[j]) * 2);
        else if (voicedA != voicedB)
            c += 0.5;
        return c;
    };
    const qsizetype band = std::max<qsizetype>(2, qsizetype(warpBand * double(std::max(n, m))));
    constexpr double unreachable = std::numeric_limits<double>::infinity();
    QList<double> total(n * m, unreachable);
    const auto at = [&](qsizetype i, qsizetype j) -> double & { return total[i * m + j]; };
    for (qsizetype i = 0; i < n; ++i) {
        const qsizetype diagonal = m > 1 && n > 1 ? i * (m - 1) / (n - 1) : 0;
        for (qsizetype j = std::max<qsizetype>(0, diagonal - band); j < std::min(m, diagonal + band + 1);
             ++j) {
            double best = i == 0 && j == 0 ? 0 : unreachable;
            if (i > 0)
                best = std::min(best, at(i - 1, j));
            if (j > 0)
                best = std::min(best, at(i, j - 1));
            if (i > 0 && j > 0)
                best = std::min(best, at(i - 1, j - 1));
            at(i, j) = best + cost(i, j);
        }
    }
    QList<std::pair<qsizetype, qsizetype>> path;
    qsizetype i = n - 1, j = m - 1;
    while (i >= 0 && j >= 0) {
        path.prepend({i, j});
        if (i == 0 && j == 0)
            break;
        const double diagonalStep = i > 0 && j > 0 ? at(i - 1, j - 1) : unreachable;
        const double upStep = i > 0 ? at(i - 1, j) : unreachable;
        const double leftStep = j > 0 ? at(i, j - 1) : unreachable;
        if (diagonalStep <= upStep && diagonalStep <= leftStep) {
            --i;
            --j;
        } else if (upStep <= leftStep) {
            --i;
        } else {
            --j;
        }
    }
    return path;
}

QList<double> smoothed(const QList<double> &values)
{
    QList<double> out(values.size());
    for (qsizetype i = 0; i < values.size(); ++i) {
        const qsizetype from = std::max<qsizetype>(0, i - syllableFrames / 2);
        const qsizetype to = std::min(values.size(), i + syllableFrames / 2 + 1);
        out[i] = std::accumulate(values.begin() + from, values.begin() + to, 0.0) / double(to - from);
    }
    return out;
}

double melodyCorrelation(const VoiceTrack &a, const VoiceTrack &b)
{
    QList<double> melodyA, melodyB;
    for (const auto &[i, j] : warpingPath(a, b)) {
        if (a.pitchHz[i] > 0 && b.pitchHz[j] > 0) {
            melodyA << semitones(a.pitchHz[i]);
            melodyB << semitones(b.pitchHz[j]);
        }
    }
    // A few voiced frames say nothing of a melody.
    return melodyA.size() >= 10 ? correlation(melodyA, melodyB) : 0;
}

} // namespace

std::optional<QList<qint16>> readComparisonSound(const QString &media, qint64 startMs, qint64 lengthMs)
{
    QStringList arguments{"-hide_banner", "-nostdin", "-nostats", "-v", "error"};
    if (startMs > 0)
        arguments << "-ss" << QString::number(double(startMs) / 1000.0, 'f', 3);
    if (lengthMs >= 0)
        arguments << "-t" << QString::number(double(lengthMs) / 1000.0, 'f', 3);
    arguments << "-i" << media << "-map"
              << "0:a:0"
              << "-vn"
              << "-ac"
              << "1"
              << "-ar" << QString::number(comparisonRate) << "-f"
              << "s16le"
              << "-";
    QByteArray bytes;
    const auto collect = [&bytes](const QByteArray &piece) {
        bytes += piece;
        return true;
    };
    if (readFfmpegOutput(arguments, collect) != FfmpegRun::Succeeded)
        return std::nullopt;
    QList<qint16> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.constData(), size_t(samples.size()) * 2);
    return samples;
}

VoiceTrack voiceTrack(const QList<qint16> &samples)
{
    VoiceTrack track;
    const qsizetype frames = samples.size() / hopSamples;
    for (qsizetype k = 0; k < frames; ++k)
        track.loudness << frameLevel(samples.constData() + k * hopSamples, hopSamples);
    const float voicedFloor = std::max(quietestVoiceDb, peak(track.loudness) - speechRangeDb);
    for (qsizetype k = 0; k < frames; ++k) {
        const qsizetype from = k * hopSamples;
        const bool room = from + yinWindow + longestLag <= samples.size();
        track.pitchHz << (room && track.loudness[k] >= voicedFloor ? framePitch(samples.constData() + from)
                                                                   : 0.0f);
    }
    return track;
}

VoiceTrack voicedStretch(const VoiceTrack &track)
{
    const float floor = std::max(quietestVoiceDb, peak(track.loudness) - speechRangeDb);
    const auto loud = [floor](float level) { return level >= floor; };
    const auto first = std::find_if(track.loudness.begin(), track.loudness.end(), loud);
    if (first == track.loudness.end())
        return {};
    const auto last = std::find_if(track.loudness.rbegin(), track.loudness.rend(), loud);
    const qsizetype from = first - track.loudness.begin();
    const qsizetype count = (track.loudness.rend() - last) - from;
    return VoiceTrack{track.loudness.mid(from, count), track.pitchHz.mid(from, count)};
}

VoiceTrack stretchedTo(const VoiceTrack &track, qsizetype frames)
{
    VoiceTrack stretched;
    if (track.frames() == 0 || frames <= 0)
        return stretched;
    const double step = frames > 1 ? double(track.frames() - 1) / double(frames - 1) : 0;
    for (qsizetype k = 0; k < frames; ++k) {
        const double at = k * step;
        const qsizetype below = std::min(qsizetype(at), track.frames() - 1);
        const qsizetype above = std::min(below + 1, track.frames() - 1);
        const double share = at - double(below);
        stretched.loudness << float(track.loudness[below] * (1 - share) + track.loudness[above] * share);
        // Pitch is not blended: a voiced frame next to an unvoiced one would fall to half.
        stretched.pitchHz << track.pitchHz[share < 0.5 ? below : above];
    }
    return stretched;
}

TakeComparison compareTake(const VoiceTrack &speaker, const VoiceTrack &take)
{
    TakeComparison comparison;
    comparison.speaker = voicedStretch(speaker);
    comparison.take = stretchedTo(voicedStretch(take), comparison.speaker.frames());
    if (!comparison.isValid())
        return comparison;
    comparison.contour = melodyCorrelation(comparison.speaker, comparison.take);
    comparison.rhythm = correlation(smoothed(envelopeShape(comparison.speaker.loudness)),
                                    smoothed(envelopeShape(comparison.take.loudness)));
    const std::optional<double> speakerLevel = medianSemitones(comparison.speaker.pitchHz);
    const std::optional<double> takeLevel = medianSemitones(comparison.take.pitchHz);
    comparison.register_ =
        speakerLevel && takeLevel ? std::max(0.0, 1.0 - std::abs(*speakerLevel - *takeLevel) / 12.0) : 0.0;
    // The melody counts most; then the rhythm; the pitch level a little, as a voice far above or
    // below the speaker's does not sound like the sentence.
    comparison.score = 100.0 * (0.5 * std::max(0.0, comparison.contour) +
                                0.3 * std::max(0.0, comparison.rhythm) + 0.2 * comparison.register_);
    return comparison;
}
