#pragma once

#include <QGraphicsVideoItem>
#include <QImage>
#include <QVideoFrame>
#include <QVideoFrameFormat>

#include <tuple>

struct SwsContext;

// The video item of the player's view. It takes its frames from its sink like any video item, but
// draws them itself: a frame whose pixels QImage can read is drawn as it is, one pixel to one
// pixel when it was made at the size it is shown at (what the libmpv engine hands over); any other
// frame is converted and scaled once, to the size it is shown at. Qt 6.4's own drawing converts
// every frame on the graphics processor and reads it back, which on a machine without one costs
// more than decoding the video.
class VideoFrameItem : public QGraphicsVideoItem
{
    Q_OBJECT

public:
    explicit VideoFrameItem(QGraphicsItem *parent = nullptr);
    ~VideoFrameItem() override;

    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;
    // The frame's place while it has one without transparency: the view paints no stage under it.
    QPainterPath opaqueArea() const override;

    // Frames converted before drawing (those QImage cannot read as they are), for tests.
    int framesConverted() const { return converted; }

private:
    void takeFrame(const QVideoFrame &frame);
    // The frame's picture with `pixels` as its size (in device pixels), made once per frame and size.
    QImage pictureAt(const QSize &pixels);
    QImage convert(const QSize &pixels);

    QVideoFrame frame;
    // Either the mapped frame itself, or the frame converted for `pictureSize`.
    QImage picture;
    QSize pictureSize;
    bool mapped = false;
    SwsContext *scaler = nullptr;
    // What `scaler` was made and its colours set up for: frame size, FFmpeg's format, target size.
    using ScalerSetUp =
        std::tuple<QSize, int, QSize, QVideoFrameFormat::ColorSpace, QVideoFrameFormat::ColorRange>;
    ScalerSetUp scalerSetUp;
    int converted = 0;
};
