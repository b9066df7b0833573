#include "gui/player/videoframeitem.h"
#include "gui/player/bandedpaint.h"

#include <QPainter>
#include <QPaintDevice>
#include <QVideoFrameFormat>
#include <QVideoSink>

#ifdef ORVILOOP_HAVE_SWSCALE
extern "C" {
#include <libswscale/swscale.h>
}
#endif

namespace {

#ifdef ORVILOOP_HAVE_SWSCALE
// FFmpeg's name for a frame's layout; `swapChroma` when its planes come as Y, V, U.
AVPixelFormat ffmpegFormat(QVideoFrameFormat::PixelFormat format, bool *swapChroma)
{
    *swapChroma = format == QVideoFrameFormat::Format_YV12;
    switch (format) {
    case QVideoFrameFormat::Format_YUV420P:
    case QVideoFrameFormat::Format_YV12:
        return AV_PIX_FMT_YUV420P;
    case QVideoFrameFormat::Format_YUV422P:
        return AV_PIX_FMT_YUV422P;
    case QVideoFrameFormat::Format_NV12:
        return AV_PIX_FMT_NV12;
    case QVideoFrameFormat::Format_NV21:
        return AV_PIX_FMT_NV21;
    case QVideoFrameFormat::Format_UYVY:
        return AV_PIX_FMT_UYVY422;
    case QVideoFrameFormat::Format_YUYV:
        return AV_PIX_FMT_YUYV422;
    case QVideoFrameFormat::Format_P010:
        return AV_PIX_FMT_P010LE;
    case QVideoFrameFormat::Format_Y8:
        return AV_PIX_FMT_GRAY8;
    default:
        return AV_PIX_FMT_NONE;
    }
}

// High-definition video is in BT.709 colours; FFmpeg would take BT.601.
void matchColours(SwsContext *scaler, const QVideoFrameFormat &format)
{
    const int space = format.colorSpace() == QVideoFrameFormat::ColorSpace_BT709    ? SWS_CS_ITU709
                      : format.colorSpace() == QVideoFrameFormat::ColorSpace_BT2020 ? SWS_CS_BT2020
                                                                                    : SWS_CS_DEFAULT;
    const int fullRange = format.colorRange() == QVideoFrameFormat::ColorRange_Full ? 1 : 0;
    const int *coefficients = sws_getCoefficients(space);
    sws_setColorspaceDetails(scaler, coefficients, fullRange, coefficients, 1, 0, 1 << 16, 1 << 16);
}
#endif

// Whether the picture drawn for such a frame may let what is under it show through.
bool hasTransparency(QVideoFrameFormat::PixelFormat format)
{
    const QImage::Format direct = QVideoFrameFormat::imageFormatFromPixelFormat(format);
    if (direct != QImage::Format_Invalid) {
        const QPixelFormat pixels = QImage::toPixelFormat(direct);
        return pixels.alphaSize() > 0 && pixels.alphaUsage() == QPixelFormat::UsesAlpha;
    }
#ifdef ORVILOOP_HAVE_SWSCALE
    // FFmpeg converts these to RGB32.
    bool swapChroma = false;
    if (ffmpegFormat(format, &swapChroma) != AV_PIX_FMT_NONE)
        return false;
#endif
    return true;
}

} // namespace

VideoFrameItem::VideoFrameItem(QGraphicsItem *parent)
    : QGraphicsVideoItem(parent)
{
    connect(videoSink(), &QVideoSink::videoFrameChanged, this, &VideoFrameItem::takeFrame);
}

VideoFrameItem::~VideoFrameItem()
{
    takeFrame({});
#ifdef ORVILOOP_HAVE_SWSCALE
    sws_freeContext(scaler);
#endif
}

void VideoFrameItem::takeFrame(const QVideoFrame &next)
{
    picture = QImage(); // it may point into the mapped frame
    pictureSize = QSize();
    if (mapped)
        frame.unmap();
    mapped = false;
    frame = next;
}

void VideoFrameItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    if (!frame.isValid())
        return;
    const QRectF area = boundingRect();
    const QTransform toView = painter->combinedTransform();
    // The view only moves and scales the scene; anything else is drawn the plain way.
    if (toView.type() > QTransform::TxScale) {
        painter->drawImage(area, pictureAt(frame.size()));
        return;
    }
    const qreal ratio = painter->device()->devicePixelRatioF();
    const QRectF shownAt = toView.mapRect(area);
    const QRect pixels = QRectF(shownAt.topLeft() * ratio, shownAt.size() * ratio).toRect();
    if (pixels.isEmpty())
        return;
    const QImage &shown = pictureAt(pixels.size());
    if (shown.isNull())
        return;
    painter->save();
    const QSize off = shown.size() - pixels.size();
    if (qAbs(off.width()) <= 2 && qAbs(off.height()) <= 2) {
        // One picture pixel to one screen pixel: a copy of the lines, no scaling. A pixel or two
        // of rounding in the size the engine chose is not worth scaling for.
        painter->resetTransform();
        const QPointF at = QPointF(pixels.topLeft()) / ratio;
        paintInBands(painter, QRectF(at, QSizeF(shown.size()) / ratio),
                     [&] { painter->drawImage(at, shown); });
    } else {
        // A frame smaller than shown (the libmpv engine renders a small video at its own size), or
        // one from before a resize.
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        paintInBands(painter, shownAt, [&] { painter->drawImage(area, shown); });
    }
    painter->restore();
}

QPainterPath VideoFrameItem::opaqueArea() const
{
    QPainterPath area;
    if (frame.isValid() && !hasTransparency(frame.pixelFormat()))
        area.addRect(boundingRect());
    return area;
}

QImage VideoFrameItem::pictureAt(const QSize &pixels)
{
    if (!picture.isNull() && (pictureSize == pixels || mapped))
        return picture;
    const QImage::Format direct = QVideoFrameFormat::imageFormatFromPixelFormat(frame.pixelFormat());
    if (direct != QImage::Format_Invalid) {
        if (!frame.map(QVideoFrame::ReadOnly))
            return {};
        mapped = true;
        picture = QImage(frame.bits(0), frame.width(), frame.height(), frame.bytesPerLine(0), direct);
    } else {
        picture = convert(pixels);
        ++converted;
    }
    pictureSize = pixels;
    return picture;
}

// Converts and scales in one step with FFmpeg's scaler where it knows the layout; otherwise Qt
// converts the frame at its own size.
QImage VideoFrameItem::convert(const QSize &pixels)
{
#ifdef ORVILOOP_HAVE_SWSCALE
    bool swapChroma = false;
    const AVPixelFormat source = ffmpegFormat(frame.pixelFormat(), &swapChroma);
    if (source != AV_PIX_FMT_NONE && frame.map(QVideoFrame::ReadOnly)) {
        // An even width: for an odd one FFmpeg interpolates the colours of every pixel, which
        // costs six times as much. The pixel less is within what paint() draws one to one.
        const QSize shown(qMax(2, pixels.width() & ~1), pixels.height());
        scaler =
            sws_getCachedContext(scaler, frame.width(), frame.height(), source, shown.width(), shown.height(),
                                 AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
        QImage image;
        if (scaler) {
            // Setting the colours up again for every frame costs a fifth of a small video's
            // decoding.
            const QVideoFrameFormat format = frame.surfaceFormat();
            const ScalerSetUp setUp{frame.size(), int(source), shown, format.colorSpace(),
                                    format.colorRange()};
            if (setUp != scalerSetUp) {
                matchColours(scaler, format);
                scalerSetUp = setUp;
            }
            const uint8_t *planes[4] = {};
            int strides[4] = {};
            for (int plane = 0; plane < frame.planeCount() && plane < 4; ++plane) {
                planes[plane] = frame.bits(plane);
                strides[plane] = frame.bytesPerLine(plane);
            }
            if (swapChroma) {
                std::swap(planes[1], planes[2]);
                std::swap(strides[1], strides[2]);
            }
            // BGRA with an opaque alpha byte is, on little-endian machines, QImage's RGB32.
            image = QImage(shown, QImage::Format_RGB32);
            uint8_t *target[4] = {image.bits()};
            const int targetStrides[4] = {int(image.bytesPerLine())};
            sws_scale(scaler, planes, strides, 0, frame.height(), target, targetStrides);
        }
        frame.unmap();
        if (!image.isNull())
            return image;
    }
#endif
    Q_UNUSED(pixels);
    return frame.toImage();
}
