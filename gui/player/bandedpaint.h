#pragma once

#include <QPaintDevice>
#include <QPainter>
#include <QRectF>

#include <cmath>

// Qt's raster painting hands any fill of 96 lines or more to its thread pool in slices. For a
// picture drawn 30 times a second that wakes the pool's threads for every slice and puts the
// painting thread to sleep until they are done, which costs more processor time than the slices
// themselves. Drawn in bands of fewer lines (the painter clipped to each in turn), the picture is
// painted on the calling thread alone, pixel for pixel the same. `area` is where `draw` paints,
// in the painter's coordinates without its transform.
template <typename Draw> void paintInBands(QPainter *painter, const QRectF &area, Draw draw)
{
    constexpr int bandLines = 64; // in device pixels
    const qreal step = bandLines / painter->device()->devicePixelRatioF();
    const int bands = int(std::ceil(area.height() / step));
    const QTransform world = painter->worldTransform();
    for (int band = 0; band < bands; ++band) {
        // Each edge computed once for the bands on both sides: they neither overlap nor part.
        const qreal top = area.top() + band * step;
        const qreal bottom = band + 1 == bands ? area.bottom() : area.top() + (band + 1) * step;
        painter->save();
        painter->resetTransform();
        painter->setClipRect(QRectF(QPointF(area.left(), top), QPointF(area.right(), bottom)),
                             Qt::IntersectClip);
        painter->setWorldTransform(world);
        draw();
        painter->restore();
    }
}
