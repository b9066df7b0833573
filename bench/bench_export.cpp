// The clip job on a generated 10-minute lesson of 100 sentences (5 s each, 1 s apart):
// seconds per sentence, and how much of that is only starting ffmpeg (an empty run,
// "ffmpeg -version", costs the process start and the library loading, nothing else).

#include "export/subaudioexporter.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

const int sentenceCount = 100;
const qint64 sentenceMs = 5000;
const qint64 strideMs = 6000;

struct BenchLesson
{
    QTemporaryDir dir;
    QString media;
    QList<SubtitleItem> items;
};

// Speech-like enough for loudnorm: a tone under pink noise, 48 kHz stereo as a video's track.
BenchLesson &lesson()
{
    static BenchLesson lesson = [] {
        BenchLesson made;
        made.media = made.dir.path() + "/十分钟 lesson.wav";
        const QString seconds = QString::number(sentenceCount * strideMs / 1000);
        QProcess::execute("ffmpeg",
                          {"-v", "error", "-y", "-f", "lavfi", "-i",
                           "sine=frequency=220:sample_rate=48000:duration=" + seconds, "-f", "lavfi", "-i",
                           "anoisesrc=color=pink:amplitude=0.1:sample_rate=48000:duration=" + seconds,
                           "-filter_complex", "amix=inputs=2,aformat=channel_layouts=stereo", made.media});
        for (int k = 0; k < sentenceCount; ++k)
            made.items.append({k, k * strideMs, k * strideMs + sentenceMs, QString("sentence %1").arg(k)});
        return made;
    }();
    return lesson;
}

// One process start as the clip job pays it per sentence.
void runEmptyFfmpeg()
{
    QProcess process;
    process.start("ffmpeg", {"-hide_banner", "-version"});
    process.waitForFinished(-1);
    benchmark::DoNotOptimize(process.readAllStandardOutput());
}

double emptyRunSeconds()
{
    const int runs = 20;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < runs; ++i)
        runEmptyFfmpeg();
    return clock.nsecsElapsed() / 1e9 / runs;
}

void BM_ClipJob(benchmark::State &state)
{
    BenchLesson &bench = lesson();
    if (!QFile::exists(bench.media)) {
        state.SkipWithError("ffmpeg could not make the lesson");
        return;
    }
    double jobSeconds = 0.0;
    for (auto _ : state) {
        SubAudioExporter exporter;
        QEventLoop loop;
        bool ok = false;
        QObject::connect(&exporter, &SubAudioExporter::finished, &loop, [&] {
            ok = true;
            loop.quit();
        });
        QObject::connect(&exporter, &SubAudioExporter::failed, &loop, &QEventLoop::quit);
        QElapsedTimer clock;
        clock.start();
        exporter.fastExportAsync(bench.media, bench.items, bench.dir.path() + "/mp3_temp");
        loop.exec();
        if (!ok) {
            state.SkipWithError("the clip job failed");
            return;
        }
        jobSeconds += clock.nsecsElapsed() / 1e9;
        state.SetIterationTime(clock.nsecsElapsed() / 1e9);
    }
    const double perSentence = jobSeconds / double(state.iterations() * sentenceCount);
    const double start = emptyRunSeconds();
    state.counters["start_s"] = start;
    state.counters["start_share"] = start / perSentence;
    state.counters["s_per_sentence"] =
        benchmark::Counter(double(state.iterations() * sentenceCount),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_EmptyFfmpegRun(benchmark::State &state)
{
    for (auto _ : state)
        runEmptyFfmpeg();
}

} // namespace

BENCHMARK(BM_ClipJob)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_EmptyFfmpegRun)->Iterations(50)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
