// How promptly the repeater loops: a lesson of 20 tone sentences is drilled in the repeater
// through the real player window and media pipeline (PulseAudio null sink), each sentence
// looping twice before the N key moves on. For every handled end it reports how far past
// end + tail - 15 the playback was when the loop's seek was issued, and how long it took from
// that seek to the first position report inside the sentence again (median, 95th percentile).
//
// The seek is seen as the first report that jumps back; the position at that moment is taken
// from the report before it, run on at the playback rate for the time since. Both media engines
// are drilled in one run.
// Run: bench_loop_latency [--benchmark_filter=mpv]

#include "gui/player/playerwindow.h"
#include "core/drill/sentencetiming.h"
#include "tests/lessonmedia.h"
#include "core/settings/settings.h"
#include "tests/testsupport.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int sentenceCount = 20;
constexpr int loopsPerSentence = 2;
constexpr int timeoutMs = 240000;

QTemporaryDir *lessonDir = nullptr;

// Lengths of 400 to 800 ms; gaps of 400, 700, 1000 and 1500 ms give tails of 280, 490, 500, 500.
QList<LessonCue> lessonCues()
{
    static const qint64 gaps[] = {400, 700, 1000, 1500};
    QList<LessonCue> cues;
    qint64 start = 600;
    for (int k = 0; k < sentenceCount; ++k) {
        const qint64 end = start + 400 + (k % 3) * 200;
        cues.append({start, end});
        start = end + gaps[k % 4];
    }
    return cues;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const size_t rank = size_t(p * double(values.size() - 1) + 0.5);
    return values.at(std::min(rank, values.size() - 1));
}

} // namespace

// Reaches into the window to hear each report before the engine.
class LoopLatencyBench : public QObject
{
public:
    struct Figures
    {
        std::vector<double> lateMs;
        std::vector<double> settleMs;
        std::vector<double> reportIntervalMs;
        bool complete = false;
    };

    static Figures drill(const QString &lesson, const char *engine)
    {
        clearSettings();
        Settings stored;
        stored.playMode = PlayMode::Repeat;
        stored.repeatCount = 1;
        stored.save();
        qputenv("ORVILOOP_MEDIA_ENGINE", engine);
        PlayerWindow window(nullptr, lesson);
        window.show();
        LoopLatencyBench probe(window);
        QEventLoop loop;
        probe.done = [&] { loop.quit(); };
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
        probe.figures.complete = probe.sentence >= window.repeatSession()->sentences().size();
        return probe.figures;
    }

private:
    enum class Phase { WaitInside, Playing, Settling };

    explicit LoopLatencyBench(PlayerWindow &w)
        : window(w)
    {
        clock.start();
        // The probe hears each report first, so it knows the report on which the engine acts.
        RepeatSession *session = window.repeatSession();
        disconnect(window.mediaEngine(), &MediaEngine::positionChanged, session, &RepeatSession::onPosition);
        connect(window.mediaEngine(), &MediaEngine::positionChanged, this, &LoopLatencyBench::onReport);
        connect(window.mediaEngine(), &MediaEngine::positionChanged, session, &RepeatSession::onPosition);
    }

    bool inside(qint64 position) const
    {
        const SubtitleItem &item = window.repeatSession()->sentences().at(sentence);
        return item.startMs <= position && position < item.endMs;
    }

    void onReport(qint64 position)
    {
        const qint64 now = clock.nsecsElapsed();
        if (sentence >= window.repeatSession()->sentences().size())
            return;
        if (lastNs > 0 && position > lastPosition)
            figures.reportIntervalMs.push_back(double(now - lastNs) / 1e6);
        switch (phase) {
        case Phase::WaitInside:
            if (inside(position))
                phase = Phase::Playing;
            break;
        case Phase::Playing:
            if (position < lastPosition - 200) {
                const double at =
                    double(lastPosition) + double(now - lastNs) / 1e6 * window.mediaEngine()->playbackRate();
                figures.lateMs.push_back(
                    at - double(SentenceTiming::endReachedAt(window.repeatSession()->sentences(), sentence)));
                seekNs = now;
                phase = Phase::Settling;
            }
            break;
        case Phase::Settling:
            if (inside(position)) {
                figures.settleMs.push_back(double(now - seekNs) / 1e6);
                phase = Phase::Playing;
                if (++loops == loopsPerSentence)
                    moveOn();
            }
            break;
        }
        lastPosition = position;
        lastNs = now;
    }

    // The learner presses N once the sentence has looped often enough.
    void moveOn()
    {
        loops = 0;
        phase = Phase::WaitInside;
        if (++sentence >= window.repeatSession()->sentences().size()) {
            QTimer::singleShot(0, this, [this] { done(); });
            return;
        }
        QTimer::singleShot(0, this, [this] {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_N, Qt::NoModifier);
            QCoreApplication::sendEvent(&window, &press);
        });
    }

    PlayerWindow &window;
    QElapsedTimer clock;
    Figures figures;
    std::function<void()> done;
    Phase phase = Phase::WaitInside;
    int sentence = 0;
    int loops = 0;
    qint64 lastPosition = -1;
    qint64 lastNs = 0;
    qint64 seekNs = 0;
};

namespace {

void loopLatency(benchmark::State &state, const char *engine)
{
    const QString lesson = lessonDir->filePath("latency lesson.wav");
    LoopLatencyBench::Figures figures;
    for (auto _ : state) {
        QElapsedTimer wall;
        wall.start();
        figures = LoopLatencyBench::drill(lesson, engine);
        state.SetIterationTime(double(wall.nsecsElapsed()) / 1e9);
    }
    if (!figures.complete)
        state.SkipWithError("the drill did not get through every sentence in time");
    state.counters["ends"] = double(figures.lateMs.size());
    state.counters["late_median_ms"] = percentile(figures.lateMs, 0.5);
    state.counters["late_p95_ms"] = percentile(figures.lateMs, 0.95);
    state.counters["late_max_ms"] = percentile(figures.lateMs, 1.0);
    state.counters["settle_median_ms"] = percentile(figures.settleMs, 0.5);
    state.counters["settle_p95_ms"] = percentile(figures.settleMs, 0.95);
    state.counters["report_interval_median_ms"] = percentile(figures.reportIntervalMs, 0.5);
    std::printf("%s engine: %zu ends; past end + tail - 15 at the seek: median %.1f ms, p95 %.1f ms, "
                "max %.1f ms; seek to first report inside: median %.1f ms, p95 %.1f ms\n",
                engine, figures.lateMs.size(), percentile(figures.lateMs, 0.5),
                percentile(figures.lateMs, 0.95), percentile(figures.lateMs, 1.0),
                percentile(figures.settleMs, 0.5), percentile(figures.settleMs, 0.95));
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    benchmark::Initialize(&argc, argv);
    QApplication app(argc, argv);
    QTemporaryDir settingsDir;
    QTemporaryDir media;
    if (!settingsDir.isValid() || !media.isValid())
        return 1;
    useTemporarySettings(settingsDir);
    lessonDir = &media;
    const QString error =
        writeLesson(media.filePath("latency lesson.wav"), lessonCues(), lessonCues().last().endMs + 1500);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    for (const char *engine : {"qt", "mpv"}) {
        benchmark::RegisterBenchmark((std::string("loop_latency/") + engine).c_str(), loopLatency, engine)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kSecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
