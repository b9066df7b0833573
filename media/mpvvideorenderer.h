#pragma once

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QThread>

#include <atomic>

struct mpv_handle;
struct mpv_render_context;
class QGraphicsVideoItem;
class QGraphicsView;
class QVideoFrame;

// Renders mpv's video in memory on a thread of its own and hands each frame to the video item's
// sink, so the window shows it like any other video. Frames are rendered in the layout of QImage's
// RGB32, at the size the item is shown at (the view copies them to the screen as they are), or at
// the video's own size when that is smaller (the view scales them).
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
    static void onUpdate(void *renderer);
    void renderFrame();
    void present(const QVideoFrame &frame);
    void chooseRenderSize();
    const QGraphicsView *view() const;
    QSize shownSize() const;
    QSize firstFrameLimit() const;

    mpv_render_context *context = nullptr;
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
