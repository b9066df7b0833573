// The clip job on a generated 10-minute lesson of 100 sentences (5 s each, 1 s apart), cut
// one clip after the other and then one clip per core at once, in the same run: seconds per
// sentence for each, their ratio (target on two cores: at most 0.6), and how much of a
// sentence is only starting ffmpeg (an empty run, "ffmpeg -version", costs the process start
// and the library loading, nothing else).

#include "core/export/subaudioexporter.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QThread>
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

// Seconds the clip job takes with the given number of clips at once, or -1 when it failed.
double clipJobSeconds(BenchLesson &bench, int parallelClips)
{
    SubAudioExporter exporter;
    exporter.setParallelClips(parallelClips);
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
    return ok ? clock.nsecsElapsed() / 1e9 : -1.0;
}

void BM_ClipJob(benchmark::State &state)
{
    BenchLesson &bench = lesson();
    if (!QFile::exists(bench.media)) {
        state.SkipWithError("ffmpeg could not make the lesson");
        return;
    }
    const int cores = QThread::idealThreadCount();
    double sequential = 0.0;
    double parallel = 0.0;
    for (auto _ : state) {
        const double one = clipJobSeconds(bench, 1);
        const double all = clipJobSeconds(bench, cores);
        if (one < 0 || all < 0) {
            state.SkipWithError("the clip job failed");
            return;
        }
        sequential += one;
        parallel += all;
        state.SetIterationTime(all);
    }
    const double sentences = double(state.iterations() * sentenceCount);
    const double start = emptyRunSeconds();
    state.counters["cores"] = cores;
    state.counters["sequential_s_per_sentence"] = sequential / sentences;
    state.counters["parallel_s_per_sentence"] = parallel / sentences;
    state.counters["parallel_to_sequential"] = parallel / sequential;
    state.counters["start_s"] = start;
    state.counters["start_share"] = start / (sequential / sentences);
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
