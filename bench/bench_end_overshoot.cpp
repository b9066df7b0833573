// How far past a sentence's end the learner hears the lesson before the repeat engine loops.
// A lesson of pure tones (one frequency per sentence, silence between) is drilled through the
// real player window on the PulseAudio null sink while the sink's monitor is recorded; the
// recording alone tells how long each tone went on sounding. Per handled end it gives the
// audible overshoot past end + tail, whether the next sentence's tone leaked in before the
// loop, and the silence at the restart; on both media engines, at three rates, and the pitch
// the tones are heard at (1.0: the speaker's own).
// Goal on the libmpv engine: overshoot p95 within ±15 ms at every rate, the first pass included,
// and no tone of the next sentence; the QMediaPlayer engine, with its end timer, within 30 ms.
// The first pass after playback starts is reported apart, with any tone heard before it: on the
// QMediaPlayer engine the output opened at the start holds audio its clock does not count yet.
//
// ORVILOOP_BENCH_ENGINE=qt or =mpv runs only the cases of that engine (default: both).
// ORVILOOP_BENCH_VERBOSE=1 lists every measured end, ORVILOOP_BENCH_TRACE=1 every position report,
// ORVILOOP_BENCH_DUMP=file keeps the recording (raw 16-bit mono, 44.1 kHz).
// Needs parec and a PulseAudio server whose default sink is a null sink.

#include "gui/player/playerwindow.h"
#include "core/settings/settings.h"
#include "tests/soundanalysis.h"
#include "tests/testsupport.h"

#include "ui_playerwindow.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iterator>
#include <memory>

// Reaches into the window as the benchmark's only switch of the end timer.
class EndOvershootBench
{
public:
    static void setup(PlayerWindow &w, int mode, int repeats, double rate)
    {
        childNamed<QDoubleSpinBox>(w, "doubleSpinBoxRate")->setValue(rate);
        childNamed<QComboBox>(w, "comboPlayMode")->setCurrentIndex(mode);
        childNamed<QSpinBox>(w, "spinRepeat")->setValue(repeats);
    }
    static void traceReports(PlayerWindow &w)
    {
        auto *clock = new QElapsedTimer;
        clock->start();
        QObject::connect(w.mediaEngine(), &MediaEngine::positionChanged, &w, [clock, &w](qint64 position) {
            std::fprintf(stderr, "    report %lld at %lld: wall - position/rate %.1f\n",
                         static_cast<long long>(position), static_cast<long long>(clock->elapsed()),
                         double(clock->elapsed()) - double(position) / w.mediaEngine()->playbackRate());
        });
    }
};

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr int sampleRate = 44100;
constexpr qint64 mediaMs = 9000;

struct Sentence
{
    qint64 start;
    qint64 end;
    qint64 toneEnd; // the tone runs on past the cue so that playing on past end + tail is audible
    qint64 tail;
    double hz;
};

// Three sentences with a wide gap (tail 500; the tone sounds 300 ms past end + tail, then
// silence up to the lead-in of the next) and one with a close gap of 400 ms (tail 280): its
// tone stops at its end, and the next sentence's tone starts 120 ms after end + tail.
const Sentence lesson[] = {
    {1000, 1600, 2400, 500, 500},
    {3200, 3800, 4600, 500, 900},
    {5400, 6000, 6000, 280, 1300},
    {6400, 7000, 7800, 500, 1700},
};
constexpr int sentenceCount = int(std::size(lesson));

bool isWide(int k)
{
    return lesson[k].toneEnd > lesson[k].end;
}

void writeWav(const QString &path)
{
    const qint64 frames = mediaMs * sampleRate / 1000;
    QByteArray pcm(frames * 2, '\0');
    auto *samples = reinterpret_cast<qint16 *>(pcm.data());
    for (const Sentence &s : lesson) {
        for (qint64 i = s.start * sampleRate / 1000; i < s.toneEnd * sampleRate / 1000; ++i)
            samples[i] = qint16(12000 * std::sin(2 * pi * s.hz * double(i) / sampleRate));
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + pcm.size());
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(sampleRate) << quint32(sampleRate * 2)
        << quint16(2) << quint16(16);
    out.writeRawData("data", 4);
    out << quint32(pcm.size());
    out.writeRawData(pcm.constData(), int(pcm.size()));
}

QByteArray stamp(qint64 ms)
{
    return QString("%1:%2:%3,%4")
        .arg(ms / 3600000, 2, 10, QChar('0'))
        .arg(ms / 60000 % 60, 2, 10, QChar('0'))
        .arg(ms / 1000 % 60, 2, 10, QChar('0'))
        .arg(ms % 1000, 3, 10, QChar('0'))
        .toLatin1();
}

QByteArray srt()
{
    QByteArray text;
    for (int k = 0; k < sentenceCount; ++k)
        text += QByteArray::number(k + 1) + "\n" + stamp(lesson[k].start) + " --> " + stamp(lesson[k].end) +
                "\nTone " + QByteArray::number(k) + "\n\n";
    return text;
}

void waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start(2);
    loop.exec();
}

// ---- the recording ----

constexpr int windowFrames = sampleRate / 100; // 10 ms
constexpr int hopFrames = windowFrames / 2;

double goertzelPower(const qint16 *x, int n, double hz)
{
    return tonePower(x, n, hz, sampleRate);
}

struct Run
{
    int sentence;
    double startMs;
    double endMs;
    double length() const { return endMs - startMs; }
};

// Which sentence's tone sounds in each 10 ms window (5 ms apart), merged into runs.
QList<Run> toneRuns(const QByteArray &pcm, double pitch)
{
    const auto *x = reinterpret_cast<const qint16 *>(pcm.constData());
    const qint64 frames = pcm.size() / 2;
    // A full window of the tone gives (A n / 2)^2; a window at least half filled passes.
    const double threshold = std::pow(12000.0 * windowFrames / 2 * 0.5, 2) * 0.5;
    QList<Run> runs;
    for (qint64 at = 0; at + windowFrames <= frames; at += hopFrames) {
        int best = -1;
        double bestPower = threshold;
        for (int k = 0; k < sentenceCount; ++k) {
            const double power = goertzelPower(x + at, windowFrames, lesson[k].hz * pitch);
            if (power > bestPower) {
                best = k;
                bestPower = power;
            }
        }
        const double centreMs = (double(at) + windowFrames / 2.0) * 1000.0 / sampleRate;
        if (best < 0)
            continue;
        if (!runs.isEmpty() && runs.last().sentence == best && centreMs - runs.last().endMs < 8)
            runs.last().endMs = centreMs;
        else
            runs.append({best, centreMs, centreMs});
    }
    // A run is measured between window centres: one hop short of its true length.
    for (Run &run : runs)
        run.endMs += 1000.0 * hopFrames / sampleRate;
    return runs;
}

// Qt 6.4 plays faster by resampling, so its tones come out at rate times their pitch; libmpv keeps it.
double pitchOf(const QByteArray &pcm, double rate)
{
    const auto sounding = [&](double pitch) {
        double ms = 0;
        for (const Run &run : toneRuns(pcm, pitch))
            ms += run.length();
        return ms;
    };
    return sounding(rate) >= sounding(1.0) ? rate : 1.0;
}

struct Figures
{
    QList<double> overshoot;
    QList<double> restartSilence;
    int closeEnds = 0;
    int nextHeard = 0;
    int saturated = 0;
    double firstPass = std::nan(""); // the pass the playback started with, kept apart
    double heardBeforeFirstPass = 0; // tone (ms) sounding before the playback's first pass
};

Figures analyse(const QList<Run> &runs, double rate)
{
    Figures f;
    bool sawFirstPass = false;
    // The last run was cut by the end of the drill.
    for (qsizetype i = 0; i + 1 < runs.size(); ++i) {
        const Run &run = runs.at(i);
        const Sentence &s = lesson[run.sentence];
        // Fragments (the tail of a leaked next tone, a lead-in) are not passes over a sentence.
        if (run.length() < double(s.end - s.start) / rate - 10) {
            if (!sawFirstPass)
                f.heardBeforeFirstPass += run.length();
            continue;
        }
        const bool firstPass = !sawFirstPass;
        sawFirstPass = true;
        const Run &next = runs.at(i + 1);
        const bool loops = next.sentence == run.sentence;
        const bool leaks =
            next.sentence == run.sentence + 1 && i + 2 < runs.size() &&
            runs.at(i + 2).sentence == run.sentence &&
            next.length() < double(lesson[next.sentence].end - lesson[next.sentence].start) / rate;
        if (isWide(run.sentence)) {
            const double full = double(s.toneEnd - s.start) / rate;
            if (run.length() >= full - 10) {
                // Played through: the engine did not act before the whole tone had sounded,
                // or the playback was meant to run on.
                if (!loops)
                    continue;
                ++f.saturated;
            }
            const double overshoot = run.length() - double(s.end + s.tail - s.start) / rate;
            // The first pass plays from a freshly opened output, on a clock the later seeks
            // no longer share (see above): it is counted apart.
            if (firstPass)
                f.firstPass = overshoot;
            else
                f.overshoot.append(overshoot);
            if (qEnvironmentVariableIsSet("ORVILOOP_BENCH_VERBOSE"))
                std::fprintf(stderr, "    sentence %d at %.0f ms: overshoot %.1f ms\n", run.sentence,
                             run.startMs, overshoot);
        } else if (loops || leaks) {
            ++f.closeEnds;
            if (leaks)
                ++f.nextHeard;
        }
        if (loops)
            f.restartSilence.append(next.startMs - run.endMs);
        else if (leaks)
            f.restartSilence.append(runs.at(i + 2).startMs - next.endMs);
    }
    return f;
}

double percentile(QList<double> values, double p)
{
    if (values.isEmpty())
        return std::nan("");
    std::sort(values.begin(), values.end());
    const qsizetype rank = qsizetype(std::ceil(p * double(values.size()))) - 1;
    return values.at(std::clamp<qsizetype>(rank, 0, values.size() - 1));
}

// ---- the drill ----

QTemporaryDir *workDir = nullptr;

QString lessonPath()
{
    const QString media = workDir->filePath("tones.wav");
    if (!QFile::exists(media))
        writeWav(media);
    // The window takes the subtitle over under its own name; give it a fresh one each time.
    QFile::remove(workDir->filePath("tones.srt1"));
    QFile subtitle(workDir->filePath("tones.srt"));
    if (subtitle.open(QIODevice::WriteOnly))
        subtitle.write(srt());
    return media;
}

// Drills the lesson and returns the recording of what the sink played.
QByteArray drill(int mode, double rate, const std::string &engine, int endsPerSentence)
{
    clearSettings();
    // The lesson opens at the rate of the last session, as the learner's would.
    Settings stored;
    stored.playRate = rate;
    stored.save();
    const QString media = lessonPath();

    QProcess recorder;
    recorder.start("parec", {"--device=orviloop_null.monitor", "--format=s16le", "--rate=44100",
                             "--channels=1", "--latency-msec=10", "--raw"});
    if (!recorder.waitForStarted(5000))
        return {};
    waitUntil([] { return false; }, 300);

    qputenv("ORVILOOP_MEDIA_ENGINE", engine.c_str());
    auto w = std::make_unique<PlayerWindow>(nullptr, media);
    if (qEnvironmentVariableIsSet("ORVILOOP_BENCH_TRACE"))
        EndOvershootBench::traceReports(*w);
    EndOvershootBench::setup(*w, mode, 3, rate);

    const int totalEnds = endsPerSentence * sentenceCount;
    int handled = 0;
    QObject::connect(w->mediaEngine(), &MediaEngine::endPointReached, w.get(), [&] {
        ++handled;
        // The repeater loops on one sentence until told to move on.
        if (mode == 1 && handled % endsPerSentence == 0 && handled < totalEnds)
            QTimer::singleShot(0, w->repeatSession(), &RepeatSession::next);
    });
    QElapsedTimer clock;
    clock.start();
    const int budgetMs = int(totalEnds * 2500 / rate) + 5000;
    waitUntil([&] { return handled >= totalEnds; }, budgetMs);
    // Let the last pass sound into the recording, then stop.
    waitUntil([] { return false; }, int(1500 / rate));
    w->mediaEngine()->pause();
    waitUntil([] { return false; }, 300);
    w.reset();
    recorder.terminate();
    recorder.waitForFinished(3000);
    const QByteArray pcm = recorder.readAllStandardOutput();
    if (qEnvironmentVariableIsSet("ORVILOOP_BENCH_DUMP")) {
        QFile dump(qEnvironmentVariable("ORVILOOP_BENCH_DUMP"));
        if (dump.open(QIODevice::WriteOnly))
            dump.write(pcm);
    }
    return pcm;
}

void report(const char *name, const Figures &f)
{
    std::fprintf(stderr,
                 "%-28s overshoot ms p50 %6.1f p95 %6.1f (n=%lld, played through %d)  restart silence ms p50 "
                 "%6.1f p95 %6.1f  next tone heard %d/%d  first pass %.1f (tone heard before it %.1f)\n",
                 name, percentile(f.overshoot, 0.5), percentile(f.overshoot, 0.95),
                 static_cast<long long>(f.overshoot.size()), f.saturated, percentile(f.restartSilence, 0.5),
                 percentile(f.restartSilence, 0.95), f.nextHeard, f.closeEnds, f.firstPass,
                 f.heardBeforeFirstPass);
}

void BM_EndOvershoot(benchmark::State &state, const std::string &name, int mode, double rate,
                     const std::string &engine)
{
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        const QByteArray pcm = drill(mode, rate, engine, 3);
        state.SetIterationTime(double(clock.elapsed()) / 1000.0);
        if (pcm.isEmpty()) {
            state.SkipWithError("no recording (is parec there, and a PulseAudio server?)");
            return;
        }
        const double pitch = pitchOf(pcm, rate);
        const Figures f = analyse(toneRuns(pcm, pitch), rate);
        report(name.c_str(), f);
        std::fprintf(stderr, "    tones found at %.1f times their pitch\n", pitch);
        state.counters["overshoot_p50_ms"] = percentile(f.overshoot, 0.5);
        state.counters["overshoot_p95_ms"] = percentile(f.overshoot, 0.95);
        state.counters["restart_p50_ms"] = percentile(f.restartSilence, 0.5);
        state.counters["restart_p95_ms"] = percentile(f.restartSilence, 0.95);
        state.counters["next_heard"] = f.nextHeard;
        state.counters["first_pass_overshoot_ms"] = f.firstPass;
        state.counters["heard_before_first_pass_ms"] = f.heardBeforeFirstPass;
        state.counters["close_ends"] = f.closeEnds;
        state.counters["pitch"] = pitch;
        state.counters["ends"] = double(f.overshoot.size() + f.closeEnds);
    }
}

void registerCases()
{
    const QByteArray only = qgetenv("ORVILOOP_BENCH_ENGINE");
    for (const std::string engine : {"mpv", "qt"}) {
        if (!only.isEmpty() && only.toStdString() != engine)
            continue;
        for (int mode : {1, 2}) {
            for (double rate : {0.6, 1.0, 2.0}) {
                const std::string name = "EndOvershoot/" + engine + "/mode" + std::to_string(mode) + "/rate" +
                                         QByteArray::number(rate, 'f', 1).toStdString();
                benchmark::RegisterBenchmark(name.c_str(), BM_EndOvershoot, name, mode, rate, engine)
                    ->Iterations(1)
                    ->UseManualTime()
                    ->Unit(benchmark::kSecond);
            }
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir settingsDir;
    QTemporaryDir lessonDir;
    workDir = &lessonDir;
    // Never the user's settings (the configuration directory itself stays: PulseAudio finds
    // its server through it).
    useTemporarySettings(settingsDir);

    registerCases();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
