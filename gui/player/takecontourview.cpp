#include "gui/player/takecontourview.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

const QColor speakerColor(230, 230, 230);
const QColor takeColor(60, 210, 110);
constexpr float envelopeRangeDb = 40.0f;
constexpr int margin = 8;

float peakOf(const QList<float> &levels)
{
    return levels.isEmpty() ? 0.0f : *std::max_element(levels.begin(), levels.end());
}

// The envelope as a line over the area, each below its own peak.
QPolygonF envelopeLine(const QList<float> &loudness, const QRectF &area)
{
    QPolygonF line;
    const float top = peakOf(loudness);
    const qsizetype frames = loudness.size();
    for (qsizetype k = 0; k < frames; ++k) {
        const double share =
            std::clamp(double(loudness[k] - top + envelopeRangeDb) / envelopeRangeDb, 0.0, 1.0);
        line << QPointF(area.left() + area.width() * double(k) / double(std::max<qsizetype>(1, frames - 1)),
                        area.bottom() - share * area.height());
    }
    return line;
}

// The range of both contours on a log scale, from the 3rd to the 97th percentile so that a
// stray octave error does not flatten the rest, with a little room.
std::pair<double, double> pitchRange(const TakeComparison &comparison)
{
    QList<double> octaves;
    for (const QList<float> *pitch : {&comparison.speaker.pitchHz, &comparison.take.pitchHz}) {
        for (float hz : *pitch) {
            if (hz > 0)
                octaves << std::log2(double(hz));
        }
    }
    if (octaves.isEmpty())
        return {std::log2(80.0), std::log2(400.0)};
    std::sort(octaves.begin(), octaves.end());
    const double low = octaves.at(qsizetype(0.03 * double(octaves.size() - 1)));
    const double high = octaves.at(qsizetype(0.97 * double(octaves.size() - 1)));
    return {low - 0.1, std::max(high, low + 0.5) + 0.1};
}

} // namespace

TakeContourView::TakeContourView(QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(300, 140);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    parent->installEventFilter(this);
    hide();
}

void TakeContourView::showComparison(const TakeComparison &comparison, int sentenceIndex)
{
    shown = comparison;
    sentence = sentenceIndex;
    placeInCorner();
    show();
    raise();
    update();
}

bool TakeContourView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parent() && event->type() == QEvent::Resize)
        placeInCorner();
    return QWidget::eventFilter(watched, event);
}

void TakeContourView::placeInCorner()
{
    move(parentWidget()->width() - width() - margin, margin);
}

void TakeContourView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 170));
    painter.drawRoundedRect(rect(), 8, 8);

    painter.setPen(Qt::white);
    const QString title = shown.isValid()
                              ? QString("第%1句  跟读相似度 %2").arg(sentence + 1).arg(qRound(shown.score))
                              : QString("第%1句  录音里没有听到声音").arg(sentence + 1);
    painter.drawText(QRectF(margin, 4, width() - 2 * margin, 18), Qt::AlignLeft | Qt::AlignVCenter, title);
    painter.setPen(speakerColor);
    painter.drawText(QRectF(margin, 4, width() - 2 * margin, 18), Qt::AlignRight | Qt::AlignVCenter, "原声");
    painter.setPen(takeColor);
    painter.drawText(QRectF(margin, 4, width() - 2 * margin - 36, 18), Qt::AlignRight | Qt::AlignVCenter,
                     "录音");
    if (!shown.isValid())
        return;
    const QRectF inside(margin, 26, width() - 2 * margin, height() - 26 - margin);
    drawEnvelopes(painter, QRectF(inside.left(), inside.top(), inside.width(), inside.height() * 0.4));
    drawContours(painter, QRectF(inside.left(), inside.top() + inside.height() * 0.45, inside.width(),
                                 inside.height() * 0.55));
}

void TakeContourView::drawEnvelopes(QPainter &painter, const QRectF &area) const
{
    QPolygonF speaker = envelopeLine(shown.speaker.loudness, area);
    speaker << area.bottomRight() << area.bottomLeft();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(speakerColor.red(), speakerColor.green(), speakerColor.blue(), 90));
    painter.drawPolygon(speaker);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(takeColor, 1.5));
    painter.drawPolyline(envelopeLine(shown.take.loudness, area));
}

void TakeContourView::drawContours(QPainter &painter, const QRectF &area) const
{
    // Plain names: a lambda may not capture a structured binding in C++17.
    const auto range = pitchRange(shown);
    const double low = range.first;
    const double high = range.second;
    const auto drawPitch = [&](const QList<float> &pitch, const QColor &color) {
        painter.setPen(QPen(color, 2.5, Qt::SolidLine, Qt::RoundCap));
        const qsizetype frames = pitch.size();
        for (qsizetype k = 0; k < frames; ++k) {
            if (pitch[k] <= 0)
                continue;
            const double x =
                area.left() + area.width() * double(k) / double(std::max<qsizetype>(1, frames - 1));
            const double y =
                area.bottom() - (std::log2(double(pitch[k])) - low) / (high - low) * area.height();
            painter.drawPoint(QPointF(x, y));
        }
    };
    painter.setPen(QColor(255, 255, 255, 40));
    painter.drawLine(area.topLeft(), area.topRight());
    drawPitch(shown.speaker.pitchHz, speakerColor);
    drawPitch(shown.take.pitchHz, takeColor);
}
