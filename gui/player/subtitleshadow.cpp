#include "gui/player/subtitleshadow.h"
#include "gui/player/bandedpaint.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QPainter>

void SubtitleShadowEffect::draw(QPainter *painter)
{
    QPoint offset;
    // Qt keeps the sentence drawn in this pixmap until the sentence, its size or place changes.
    const QPixmap source = sourcePixmap(Qt::DeviceCoordinates, &offset, PadToEffectiveBoundingRect);
    if (source.isNull())
        return;
    if (source.cacheKey() != shadowedKey) {
        shadowed = withShadow(source);
        shadowedKey = source.cacheKey();
        ++made;
    }
    const QTransform restore = painter->worldTransform();
    painter->setWorldTransform(QTransform());
    const QRectF shadowArea(offset, shadowed.deviceIndependentSize());
    paintInBands(painter, shadowArea, [&] { painter->drawPixmap(offset, shadowed); });
    painter->setWorldTransform(restore);
}

// Qt's own shadow, drawn once into a pixmap of its own.
QPixmap SubtitleShadowEffect::withShadow(const QPixmap &source) const
{
    QPixmap plain = source;
    plain.setDevicePixelRatio(1.0);
    QGraphicsScene scene(QRectF(QPointF(0, 0), plain.size()));
    auto *item = scene.addPixmap(plain);
    auto *shadow = new QGraphicsDropShadowEffect;
    shadow->setColor(color());
    shadow->setOffset(offset());
    shadow->setBlurRadius(blurRadius());
    item->setGraphicsEffect(shadow);
    QImage image(plain.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        scene.render(&painter, QRectF(image.rect()), scene.sceneRect());
    }
    QPixmap result = QPixmap::fromImage(std::move(image));
    result.setDevicePixelRatio(source.devicePixelRatio());
    return result;
}
