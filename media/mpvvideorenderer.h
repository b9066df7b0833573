#pragma once

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QThread>

#include <atomic>
#include <memory>

struct mpv_handle;
struct mpv_render_context;
class QGraphicsVideoItem;
class QGraphicsView;
class QOffscreenSurface;
class MpvGlTarget;
class QVideoFrame;

// Renders mpv's video in memory on a thread of its own and hands each frame to the video item's
// sink, so the window shows it like any other video. Frames are rendered in the layout of QImage's
// RGB32, at the size the item is shown at (the view copies them to the screen as they are). On
// the processor, a video smaller than that keeps its own size and the view scales it; with the
// graphics processor (MpvGlTarget) every frame comes at the size shown.
class MpvVideoRenderer : public QObject
{
    Q_OBJECT

public:
    MpvVideoRenderer(mpv_handle *mpv, QGraphicsVideoItem *item);
    ~MpvVideoRenderer() override;

    // The video's display size, as mpv reports it (0 when there is no video).
    void setVideoSize(int width, int height);
    int framesPresented() const { return presented; }

private:
    void openOnGraphicsProcessor(mpv_handle *mpv, bool evenSoftware);
    void openInMemory(mpv_handle *mpv);
    static void onUpdate(void *renderer);
    void renderFrame();
    int renderInMemory(QSize size, uchar *pixels, int stride, bool waitUntilDue);
    void present(const QVideoFrame &frame);
    void chooseRenderSize();
    const QGraphicsView *view() const;
    QSize shownSize() const;
    QSize firstFrameLimit() const;

    mpv_render_context *context = nullptr;
    // Both only with the graphics processor: the surface is the GUI thread's, the target the
    // render thread's.
    std::unique_ptr<QOffscreenSurface> surface;
    std::unique_ptr<MpvGlTarget> gl;
    QThread thread;
    QObject *worker = nullptr; // lives in the thread, the context of the rendering calls
    QPointer<QGraphicsVideoItem> item;
    QSize videoSize;
    mutable QMutex sizeMutex;
    QSize renderSize;
    std::atomic<bool> renderQueued{false};
    std::atomic<int> framesInFlight{0};
    // The render thread's own: mpv's current frame was drawn before its size was known; a frame
    // has been drawn for the item.
    bool unshownFrame = false;
    bool shownAny = false;
    int presented = 0;
};
