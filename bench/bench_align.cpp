// The speech analysis of a 60-minute lesson beside the plain decode of its sound by ffmpeg,
// in the same run: seconds for each and their ratio (targets: at most 10 s on two cores, within
// twice the decode alone). The lesson, espeak-ng sentences between pauses repeated for an hour
// and encoded as AAC, is made once and kept in /tmp for the next runs.

#include "core/align/sentencealignment.h"
#include "core/align/speechactivity.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <sys/resource.h>

namespace {

const QString benchDir = QDir::tempPath() + "/orviloop-bench-align";
const QString lessonPath = benchDir + "/sixty minutes.m4a";

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// One minute of sentences and pauses, looped to an hour.
bool makeLesson()
{
    if (QFile::exists(lessonPath))
        return true;
    QDir().mkpath(benchDir);
    const QStringList sentences{"She sells sea shells by the sea shore.",
                                "Five fat friars fried fish on Friday.",
                                "The quick brown fox jumps over the lazy dog.",
                                "Please pass the salt, thank you.", "How much wood would a woodchuck chuck?"};
    QStringList inputs;
    QString concat;
    for (int k = 0; k < 12; ++k) {
        const QString part = benchDir + QString("/part%1.wav").arg(k);
        if (!run("espeak-ng", {"-w", part, sentences.at(k % sentences.size())}))
            return false;
        inputs << "-i" << part;
        concat += QString("[%1:a]apad=pad_dur=%2[p%1];").arg(k).arg(0.7 + 0.05 * k, 0, 'f', 2);
    }
    for (int k = 0; k < 12; ++k)
        concat += QString("[p%1]").arg(k);
    concat += "concat=n=12:v=0:a=1[out]";
    const QString minute = benchDir + "/minute.wav";
    if (!run("ffmpeg", QStringList{"-v", "error", "-y"} + inputs +
                           QStringList{"-filter_complex", concat, "-map", "[out]", "-ar", "44100", minute}))
        return false;
    const QString partial = lessonPath + ".part.m4a";
    if (!run("ffmpeg", {"-v", "error", "-y", "-stream_loop", "-1", "-i", minute, "-t", "3600", "-ac", "2",
                        "-c:a", "aac", "-b:a", "96k", partial}))
        return false;
    return QFile::rename(partial, lessonPath);
}

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Processor time of this process and the programs it ran: on a shared machine the wall time
// says as much about the neighbours as about the work.
double cpuSecondsSoFar()
{
    return cpuSeconds(RUSAGE_SELF) + cpuSeconds(RUSAGE_CHILDREN);
}

struct Cost
{
    double wall = -1;
    double cpu = -1;
};

Cost plainDecode()
{
    QElapsedTimer clock;
    clock.start();
    const double cpu = cpuSecondsSoFar();
    if (!run("ffmpeg", {"-v", "error", "-nostdin", "-i", lessonPath, "-map", "0:a:0", "-f", "null", "-"}))
        return {};
    return {clock.nsecsElapsed() / 1e9, cpuSecondsSoFar() - cpu};
}

// The analysis as the player runs it for "全部对齐", aligning a sentence every five seconds.
Cost analysis(qsizetype *segments)
{
    QElapsedTimer clock;
    clock.start();
    const double cpu = cpuSecondsSoFar();
    const SpeechAnalysis analysis = analyseSpeech(lessonPath, [](int) { return true; });
    if (analysis.status != SpeechAnalysisStatus::Done)
        return {};
    const QList<SpeechSegment> speech = speechSegments(analysis.activity);
    QList<SubtitleItem> sentences;
    for (qint64 at = 0; at + 5000 < analysis.activity.durationMs(); at += 5000)
        sentences.append({int(sentences.size()), at, at + 3000, "sentence"});
    benchmark::DoNotOptimize(alignToSpeech(speech, analysis.activity.durationMs(), sentences));
    *segments = speech.size();
    return {clock.nsecsElapsed() / 1e9, cpuSecondsSoFar() - cpu};
}

void BM_SpeechAnalysisOfAnHour(benchmark::State &state)
{
    if (!makeLesson()) {
        state.SkipWithError("espeak-ng or ffmpeg could not make the lesson");
        return;
    }
    Cost decode{0, 0};
    Cost ours{0, 0};
    qsizetype segments = 0;
    for (auto _ : state) {
        const Cost plain = plainDecode();
        const Cost aligned = analysis(&segments);
        if (plain.wall < 0 || aligned.wall < 0) {
            state.SkipWithError("decoding the lesson failed");
            return;
        }
        decode = {decode.wall + plain.wall, decode.cpu + plain.cpu};
        ours = {ours.wall + aligned.wall, ours.cpu + aligned.cpu};
        state.SetIterationTime(aligned.wall);
    }
    const double n = double(state.iterations());
    state.counters["decode_s"] = decode.wall / n;
    state.counters["analysis_s"] = ours.wall / n;
    state.counters["analysis_to_decode"] = ours.wall / decode.wall;
    state.counters["decode_cpu_s"] = decode.cpu / n;
    state.counters["analysis_cpu_s"] = ours.cpu / n;
    state.counters["cpu_to_decode"] = ours.cpu / decode.cpu;
    state.counters["speech_segments"] = double(segments);
}

} // namespace

BENCHMARK(BM_SpeechAnalysisOfAnHour)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
