#pragma once

#include "core/takes/takecomparison.h"

#include <QWidget>

// The speaker's sentence and the learner's last take side by side: both loudness envelopes
// above, both pitch contours below, over the sentence's time, with the take's score. It sits in
// the top right corner of the widget it is made on and follows its size.
class TakeContourView : public QWidget
{
    Q_OBJECT

public:
    explicit TakeContourView(QWidget *parent);

    void showComparison(const TakeComparison &comparison, int sentence);
    const TakeComparison &comparison() const { return shown; }

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void placeInCorner();
    void drawEnvelopes(QPainter &painter, const QRectF &area) const;
    void drawContours(QPainter &painter, const QRectF &area) const;

    TakeComparison shown;
    int sentence = -1;
};
