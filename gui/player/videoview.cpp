#include "gui/player/videoview.h"

#include <QGraphicsItem>
#include <QPainter>

void VideoView::drawBackground(QPainter *painter, const QRectF &exposed)
{
    const QBrush stage = backgroundBrush();
    if (stage.style() == Qt::NoBrush || !scene())
        return;
    // In the viewport's pixels, a pixel wider than what is exposed so that no rounded edge is left.
    QRegion unfilled(mapFromScene(exposed).boundingRect().adjusted(-1, -1, 1, 1));
    // Only a turned picture leaves parts of its bounding rectangle uncovered.
    const bool upright = transform().type() <= QTransform::TxScale;
    for (const QGraphicsItem *item : scene()->items(exposed)) {
        const QPainterPath opaque = item->opaqueArea();
        if (opaque.isEmpty() || !item->isVisible() || item->effectiveOpacity() < 1.0 || !upright ||
            item->sceneTransform().type() > QTransform::TxScale)
            continue;
        // Three pixels in from each edge: a frame may be drawn up to two pixels smaller than its
        // place, and the place rounded to whole pixels a pixel larger.
        const QRect covered = mapFromScene(item->mapToScene(opaque.boundingRect())).boundingRect();
        unfilled -= covered.adjusted(3, 3, -3, -3);
    }
    painter->save();
    painter->resetTransform();
    for (const QRect &part : unfilled)
        painter->fillRect(part, stage);
    painter->restore();
}
