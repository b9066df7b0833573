#include "media/mpvvideorenderer.h"
#include "media/mpvgltarget.h"

#include <QDebug>
#include <QGraphicsScene>
#include <QGraphicsVideoItem>
#include <QGraphicsView>
#include <QMutexLocker>
#include <QOffscreenSurface>
#include <QVideoFrame>
#include <QVideoFrameFormat>
#include <QVideoSink>

#include <mpv/client.h>
#include <mpv/render.h>

namespace {

// Frames waiting for the GUI thread beyond this are not handed over: a busy window shows the
// newest frame late rather than a queue of old ones.
constexpr int maxFramesInFlight = 2;

// Before the item has been laid out its shown size means nothing; a first frame at most this
// size gives the layout the video's shape.
const QSize largestFirstFrame(1280, 720);

} // namespace

MpvVideoRenderer::MpvVideoRenderer(mpv_handle *mpv, QGraphicsVideoItem *item)
    : item(item)
{
    thread.setObjectName("mpv video");
    worker = new QObject;
    worker->moveToThread(&thread);
    connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    thread.start();
    const MpvRenderPath path = mpvRenderPath();
    if (path != MpvRenderPath::Software)
        openOnGraphicsProcessor(mpv, path == MpvRenderPath::OpenGL);
    if (!context)
        openInMemory(mpv);
    if (!context) {
        qDebug() << "mpv:"
                 << "no video renderer";
        thread.quit();
        thread.wait();
        return;
    }
    mpv_render_context_set_update_callback(context, &MpvVideoRenderer::onUpdate, this);
}

void MpvVideoRenderer::openOnGraphicsProcessor(mpv_handle *mpv, bool evenSoftware)
{
    surface = std::make_unique<QOffscreenSurface>();
    surface->create();
    QMetaObject::invokeMethod(
        worker,
        [&] {
            gl = std::make_unique<MpvGlTarget>(surface.get());
            context = gl->open(mpv, evenSoftware);
            if (!context)
                gl.reset();
        },
        Qt::BlockingQueuedConnection);
    if (context)
        qDebug() << "mpv: video drawn by" << gl->renderer();
    else
        surface.reset();
}

void MpvVideoRenderer::openInMemory(mpv_handle *mpv)
{
    mpv_render_param params[] = {{MPV_RENDER_PARAM_API_TYPE, const_cast<char *>(MPV_RENDER_API_TYPE_SW)},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (mpv_render_context_create(&context, mpv, params) < 0)
        context = nullptr;
}

MpvVideoRenderer::~MpvVideoRenderer()
{
    if (!context)
        return;
    // No more calls from mpv first: they would queue work for the thread's object.
    mpv_render_context_set_update_callback(context, nullptr, nullptr);
    if (gl) {
        QMetaObject::invokeMethod(
            worker,
            [this] {
                gl->close(context);
                gl.reset();
            },
            Qt::BlockingQueuedConnection);
    }
    thread.quit();
    thread.wait();
    if (!surface) // else freed above, in its OpenGL context
        mpv_render_context_free(context);
}

// Called by mpv from its own threads: only queue the work.
void MpvVideoRenderer::onUpdate(void *renderer)
{
    auto *self = static_cast<MpvVideoRenderer *>(renderer);
    if (self->renderQueued.exchange(true))
        return;
    QMetaObject::invokeMethod(
        self->worker, [self] { self->renderFrame(); }, Qt::QueuedConnection);
}

void MpvVideoRenderer::renderFrame()
{
    renderQueued = false;
    const bool newFrame = mpv_render_context_update(context) & MPV_RENDER_UPDATE_FRAME;
    QSize size;
    {
        QMutexLocker lock(&sizeMutex);
        size = renderSize;
    }
    const bool wanted = !size.isEmpty();
    // The first frame usually comes before its size is known here: it is drawn again once it is,
    // rather than shown only with the next frame.
    if (!newFrame && !(wanted && unshownFrame))
        return;
    unshownFrame = !wanted;
    if (!wanted)
        size = QSize(16, 16); // mpv waits for its frame to be taken even when nobody shows it
    // Laid out as QImage's RGB32, which the view copies to the screen as it is.
    const bool bgra = !gl || gl->readsBgra();
    QVideoFrame frame(QVideoFrameFormat(size, bgra ? QVideoFrameFormat::Format_BGRX8888
                                                   : QVideoFrameFormat::Format_RGBX8888));
    if (!frame.map(QVideoFrame::WriteOnly))
        return;
    // mpv holds each frame back until it is due; the first one is shown as soon as it is there,
    // a still picture until the sound starts.
    const int result = gl ? gl->render(context, size, frame.bits(0), frame.bytesPerLine(0), shownAny)
                          : renderInMemory(size, frame.bits(0), frame.bytesPerLine(0), shownAny);
    frame.unmap();
    shownAny = shownAny || (result >= 0 && wanted);
    if (result < 0 || !wanted || framesInFlight.load() >= maxFramesInFlight)
        return;
    ++framesInFlight;
    QMetaObject::invokeMethod(
        this, [this, frame] { present(frame); }, Qt::QueuedConnection);
}

int MpvVideoRenderer::renderInMemory(QSize size, uchar *pixels, int stride, bool waitUntilDue)
{
    int dimensions[2] = {size.width(), size.height()};
    // "bgra" rather than "bgr0": the padding byte is then opaque, not garbage.
    size_t lineBytes = size_t(stride);
    int block = waitUntilDue ? 1 : 0;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_SW_SIZE, dimensions},
                                 {MPV_RENDER_PARAM_SW_FORMAT, const_cast<char *>("bgra")},
                                 {MPV_RENDER_PARAM_SW_STRIDE, &lineBytes},
                                 {MPV_RENDER_PARAM_SW_POINTER, pixels},
                                 {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &block},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    return mpv_render_context_render(context, params);
}

void MpvVideoRenderer::present(const QVideoFrame &frame)
{
    --framesInFlight;
    if (!item)
        return;
    item->videoSink()->setVideoFrame(frame);
    ++presented;
    chooseRenderSize();
}

void MpvVideoRenderer::setVideoSize(int width, int height)
{
    videoSize = QSize(width, height);
    chooseRenderSize();
    if (context)
        onUpdate(this);
}

const QGraphicsView *MpvVideoRenderer::view() const
{
    if (!item || !item->scene() || item->scene()->views().isEmpty())
        return nullptr;
    return item->scene()->views().constFirst();
}

QSize MpvVideoRenderer::shownSize() const
{
    const QGraphicsView *view = this->view();
    if (!view)
        return {};
    // Rounded as the video item rounds the place it draws a frame at.
    const QRectF shown = view->viewportTransform().mapRect(item->sceneBoundingRect());
    const qreal ratio = view->devicePixelRatioF();
    return QRectF(shown.topLeft() * ratio, shown.size() * ratio).toRect().size();
}

// Until the item is laid out, the video will be fitted into the view: a frame at most the view's
// size costs less to draw and has the video's shape.
QSize MpvVideoRenderer::firstFrameLimit() const
{
    const QGraphicsView *view = this->view();
    if (!view)
        return largestFirstFrame;
    const QSize viewport = view->viewport()->size() * view->devicePixelRatioF();
    return viewport.width() >= 160 && viewport.height() >= 90 ? viewport.boundedTo(largestFirstFrame)
                                                              : largestFirstFrame;
}

void MpvVideoRenderer::chooseRenderSize()
{
    QSize size;
    if (videoSize.width() > 0 && videoSize.height() > 0) {
        const QSize shown = shownSize();
        const bool laidOut = item && item->nativeSize().isValid() && !shown.isEmpty();
        // A video larger than shown is rendered at exactly the size shown: the view then copies
        // the frame to the screen. On the processor one smaller than shown keeps its own size and
        // the view scales it: mpv's conversion of the few pixels it has costs less than
        // converting the many shown. The graphics processor scales it for nothing.
        const QSize limit = laidOut ? shown : firstFrameLimit();
        const bool fits = !gl && videoSize.width() <= limit.width() && videoSize.height() <= limit.height();
        size = fits ? videoSize : videoSize.scaled(limit, Qt::KeepAspectRatio);
        size = size.expandedTo(QSize(2, 2));
    }
    QMutexLocker lock(&sizeMutex);
    // A pixel or two of rounding is not worth a new layout.
    if (qAbs(size.width() - renderSize.width()) > 2 || qAbs(size.height() - renderSize.height()) > 2 ||
        size.isEmpty() != renderSize.isEmpty())
        renderSize = size;
}
