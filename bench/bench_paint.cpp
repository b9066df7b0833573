// The painting of one video frame in the player's view, on the window's thread, without an
// engine: a frame of a small video scaled up to the size shown, and one rendered at that size
// (what the libmpv engine hands over for a large video), each under a sentence with its shadow.
// The stage is painted around the picture only; "/stage under picture" paints it under the
// picture as well, as a plain view does, for comparison in the same run.

#include "gui/player/subtitleshadow.h"
#include "gui/player/videoframeitem.h"
#include "gui/player/videoview.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QVideoFrame>
#include <QVideoFrameFormat>
#include <QVideoSink>
#include <QWindow>

namespace {

const QSize shownSize(900, 507);

QVideoFrame solidFrame(const QSize &size, QRgb colour)
{
    QVideoFrame frame(QVideoFrameFormat(size, QVideoFrameFormat::Format_BGRX8888));
    if (frame.map(QVideoFrame::WriteOnly)) {
        QImage(frame.bits(0), size.width(), size.height(), frame.bytesPerLine(0), QImage::Format_RGB32)
            .fill(colour);
        frame.unmap();
    }
    return frame;
}

template <typename View> void BM_PaintFrame(benchmark::State &state, QSize frameSize)
{
    QGraphicsScene scene;
    View view(&scene);
    view.setFrameShape(QFrame::NoFrame);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setBackgroundBrush(Qt::black);
    view.viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    // Room for the stage above and below the picture, as in the player's window.
    view.resize(shownSize + QSize(0, 120));
    scene.setSceneRect(0, 0, shownSize.width(), shownSize.height() + 120);
    auto *item = new VideoFrameItem;
    item->setPos(0, 60);
    item->setSize(shownSize);
    scene.addItem(item);
    auto *text = new QGraphicsTextItem("这是第一句 This is the first sentence");
    text->setDefaultTextColor(Qt::white);
    text->setFont(QFont(text->font().family(), 28, 700));
    auto *shadow = new SubtitleShadowEffect;
    shadow->setColor(Qt::black);
    shadow->setOffset(2, 2);
    shadow->setBlurRadius(6);
    text->setGraphicsEffect(shadow);
    text->setPos(20, 420);
    scene.addItem(text);
    view.show();
    while (!view.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();
    const QVideoFrame frames[] = {solidFrame(frameSize, qRgb(200, 40, 40)),
                                  solidFrame(frameSize, qRgb(40, 40, 200))};
    int next = 0;
    for (auto _ : state) {
        item->videoSink()->setVideoFrame(frames[next]);
        next = 1 - next;
        view.viewport()->repaint(view.mapFromScene(item->sceneBoundingRect()).boundingRect());
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QSize small(320, 180);
    for (const QSize &frame : {small, shownSize}) {
        const std::string name =
            "PaintFrame/" + std::to_string(frame.width()) + "x" + std::to_string(frame.height());
        benchmark::RegisterBenchmark(name.c_str(), BM_PaintFrame<VideoView>, frame)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((name + "/stage under picture").c_str(), BM_PaintFrame<QGraphicsView>,
                                     frame)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
