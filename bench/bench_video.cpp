// The video of a 1080p, 30 frames per second lesson through the real player window on each media
// engine: the time from opening the window (what "--play" does) to its first video frame, and the
// frames per second that reach the window's video item while the lesson plays.
// Goal: the libmpv engine shows the video in real time (30 fps), and its first frame comes no later
// than 1.2 times the QMediaPlayer engine's. The first frame is timed over several openings, the
// engines taking turns, and the medians are compared: one opening varies by tens of milliseconds.
// ORVILOOP_BENCH_VIDEO=file plays that file instead of the generated one;
// ORVILOOP_BENCH_FULL_SCREEN=1 shows the window full screen.

#include "gui/player/playerwindow.h"
#include "tests/testsupport.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGraphicsVideoItem>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QVideoFrame>
#include <QVideoSink>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

class VideoBench
{
public:
    struct Figures
    {
        double firstFrameMs = -1;
        double framesPerSecond = 0;
        QSize frameSize;
    };

    // Plays for `playMs`, or until the first frame when `playMs` is 0.
    static Figures play(const QString &media, const char *engine, int playMs)
    {
        qputenv("ORVILOOP_MEDIA_ENGINE", engine);
        QSettings("Orvi", "OrviLoop").clear();
        QElapsedTimer clock;
        clock.start();
        auto window = std::make_unique<PlayerWindow>(nullptr, media);
        if (qEnvironmentVariableIsSet("ORVILOOP_BENCH_FULL_SCREEN")) {
            // Without a window manager full screen is not granted: the window takes the screen.
            window->setGeometry(window->screen()->geometry());
            window->showFullScreen();
        } else {
            window->show();
        }
        Figures figures;
        QEventLoop loop;
        int frames = 0;
        qint64 countFromMs = -1;
        QVideoSink *sink = window->videoItem->videoSink();
        QObject::connect(sink, &QVideoSink::videoFrameChanged, window.get(), [&](const QVideoFrame &frame) {
            if (!frame.isValid())
                return;
            if (figures.firstFrameMs < 0)
                figures.firstFrameMs = double(clock.nsecsElapsed()) / 1e6;
            if (playMs == 0)
                loop.quit();
            figures.frameSize = frame.size();
            // Counted from the second second on, once the window has laid the video out.
            if (countFromMs < 0 && figures.firstFrameMs >= 0 && clock.elapsed() > figures.firstFrameMs + 1000)
                countFromMs = clock.elapsed();
            if (countFromMs >= 0)
                ++frames;
        });
        QTimer::singleShot(playMs == 0 ? 8000 : playMs, &loop, &QEventLoop::quit);
        loop.exec();
        if (countFromMs >= 0)
            figures.framesPerSecond = frames * 1000.0 / double(clock.elapsed() - countFromMs);
        return figures;
    }
};

namespace {

QString *mediaPath = nullptr;
constexpr int openings = 7;

void BM_Video(benchmark::State &state, const char *engine)
{
    VideoBench::Figures figures;
    for (auto _ : state)
        figures = VideoBench::play(*mediaPath, engine, 8000);
    if (figures.firstFrameMs < 0) {
        state.SkipWithError("no video frame reached the window");
        return;
    }
    state.counters["first_frame_ms"] = figures.firstFrameMs;
    state.counters["fps"] = figures.framesPerSecond;
    std::fprintf(stderr, "%s engine: first frame after %.0f ms, %.1f frames per second, frames of %dx%d\n",
                 engine, figures.firstFrameMs, figures.framesPerSecond, figures.frameSize.width(),
                 figures.frameSize.height());
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Both engines open the lesson in turn; a missing frame counts as the whole wait.
void BM_FirstFrame(benchmark::State &state)
{
    std::vector<double> qt, mpv;
    for (auto _ : state) {
        for (int i = 0; i < openings; ++i) {
            qt.push_back(VideoBench::play(*mediaPath, "qt", 0).firstFrameMs);
            mpv.push_back(VideoBench::play(*mediaPath, "mpv", 0).firstFrameMs);
        }
    }
    if (*std::min_element(qt.begin(), qt.end()) < 0 || *std::min_element(mpv.begin(), mpv.end()) < 0) {
        state.SkipWithError("an opening showed no video frame");
        return;
    }
    state.counters["qt_first_frame_ms"] = median(qt);
    state.counters["mpv_first_frame_ms"] = median(mpv);
    state.counters["ratio"] = median(mpv) / median(qt);
    std::fprintf(stderr, "first frame, median of %d openings: qt %.0f ms, mpv %.0f ms, ratio %.2f\n",
                 openings, median(qt), median(mpv), median(mpv) / median(qt));
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir settingsDir;
    QTemporaryDir mediaDir;
    useTemporarySettings(settingsDir);

    QString media = qEnvironmentVariable("ORVILOOP_BENCH_VIDEO");
    if (media.isEmpty()) {
        media = mediaDir.filePath("lesson 1080p.mp4");
        const int made = QProcess::execute(
            "ffmpeg", {"-hide_banner", "-loglevel", "error",   "-y",
                       "-f",           "lavfi",     "-i",      "testsrc2=size=1920x1080:rate=30:duration=12",
                       "-f",           "lavfi",     "-i",      "sine=frequency=440:duration=12",
                       "-c:v",         "libx264",   "-preset", "veryfast",
                       "-pix_fmt",     "yuv420p",   "-c:a",    "aac",
                       "-shortest",    media});
        if (made != 0)
            return 1;
    }
    mediaPath = &media;
    benchmark::RegisterBenchmark("FirstFrame", BM_FirstFrame)->Iterations(1)->Unit(benchmark::kMillisecond);
    for (const char *engine : {"qt", "mpv"}) {
        benchmark::RegisterBenchmark((std::string("Video/") + engine).c_str(), BM_Video, engine)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
