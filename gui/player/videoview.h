#pragma once

#include <QGraphicsView>

// The player's stage. Its background is painted only where no item covers it with an opaque
// picture: a video frame already fills every pixel of its place, and filling them first as well
// cost a fifth of each frame's painting.
class VideoView : public QGraphicsView
{
    Q_OBJECT

public:
    using QGraphicsView::QGraphicsView;

protected:
    void drawBackground(QPainter *painter, const QRectF &exposed) override;
};
