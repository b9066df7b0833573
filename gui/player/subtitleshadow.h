#pragma once

#include <QGraphicsDropShadowEffect>
#include <QPixmap>

// The sentence's shadow, blurred once for each text and size it is drawn at. The video under the
// sentence is repainted for every frame, and so is the sentence; Qt's own shadow blurs it anew
// each time, which cost more than decoding a small video.
class SubtitleShadowEffect : public QGraphicsDropShadowEffect
{
    Q_OBJECT

public:
    using QGraphicsDropShadowEffect::QGraphicsDropShadowEffect;

    // How often the shadow was blurred, for tests.
    int shadowsMade() const { return made; }

protected:
    void draw(QPainter *painter) override;

private:
    QPixmap withShadow(const QPixmap &source) const;

    QPixmap shadowed;
    qint64 shadowedKey = 0;
    int made = 0;
};
