// What the video view draws for each frame: the frame itself, one pixel to one, or converted once;
// the sentence's shadow made once for as long as the sentence stands; the stage painted only
// around an opaque picture.

#include "gui/player/bandedpaint.h"
#include "gui/player/subtitleshadow.h"
#include "gui/player/videoframeitem.h"
#include "gui/player/videoview.h"

#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QGraphicsView>
#include <QPainter>
#include <QVideoFrame>
#include <QVideoFrameFormat>
#include <QVideoSink>
#include <QtTest>

class tst_VideoPaint : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void drawsFrameOnePixelToOne();
    void convertsOtherFramesOncePerFrame_data();
    void convertsOtherFramesOncePerFrame();
    void blursShadowOncePerSentence();
    void bandsPaintAsOneDraw_data();
    void bandsPaintAsOneDraw();
    void framesWithoutTransparencyAreOpaque_data();
    void framesWithoutTransparencyAreOpaque();
    void paintsStageAroundOpaqueItemsOnly();

private:
    // A scene twice the size of the view, so the view scales the items down by half.
    QImage shown();
    static QVideoFrame solidYuvFrame(const QSize &size, uchar y, uchar u, uchar v);

    std::unique_ptr<QGraphicsScene> scene;
    std::unique_ptr<VideoView> view;
    VideoFrameItem *item = nullptr;
};

void tst_VideoPaint::init()
{
    scene = std::make_unique<QGraphicsScene>();
    view = std::make_unique<VideoView>(scene.get());
    view->setFrameShape(QFrame::NoFrame);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setBackgroundBrush(Qt::black);
    view->resize(400, 300);
    item = new VideoFrameItem;
    item->setSize(QSizeF(800, 600));
    scene->addItem(item);
    scene->setSceneRect(0, 0, 800, 600);
    view->scale(0.5, 0.5);
}

QImage tst_VideoPaint::shown()
{
    return view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QVideoFrame tst_VideoPaint::solidYuvFrame(const QSize &size, uchar y, uchar u, uchar v)
{
    QVideoFrame frame(QVideoFrameFormat(size, QVideoFrameFormat::Format_YUV420P));
    if (!frame.map(QVideoFrame::WriteOnly))
        return {};
    const uchar values[3] = {y, u, v};
    for (int plane = 0; plane < 3; ++plane)
        memset(frame.bits(plane), values[plane], size_t(frame.mappedBytes(plane)));
    frame.unmap();
    return frame;
}

// A one-pixel line of the frame stays one sharp pixel: the frame is copied, not scaled.
void tst_VideoPaint::drawsFrameOnePixelToOne()
{
    QVideoFrame frame(QVideoFrameFormat(QSize(400, 300), QVideoFrameFormat::Format_BGRX8888));
    QVERIFY(frame.map(QVideoFrame::WriteOnly));
    QImage pixels(frame.bits(0), 400, 300, frame.bytesPerLine(0), QImage::Format_RGB32);
    pixels.fill(Qt::red);
    for (int y = 0; y < 300; ++y)
        pixels.setPixel(123, y, qRgb(0, 255, 0));
    frame.unmap();
    item->videoSink()->setVideoFrame(frame);

    const QImage picture = shown();
    QCOMPARE(picture.pixel(123, 150), qRgb(0, 255, 0));
    QCOMPARE(picture.pixel(122, 150), qRgb(255, 0, 0));
    QCOMPARE(picture.pixel(124, 150), qRgb(255, 0, 0));
    QCOMPARE(picture.pixel(0, 0), qRgb(255, 0, 0));
    QCOMPARE(picture.pixel(399, 299), qRgb(255, 0, 0));
    QCOMPARE(item->framesConverted(), 0);
}

void tst_VideoPaint::convertsOtherFramesOncePerFrame_data()
{
    QTest::addColumn<QSize>("frameSize");
    QTest::addColumn<int>("shownWidth");
    QTest::newRow("smaller than shown") << QSize(64, 48) << 400;
    QTest::newRow("larger than shown") << QSize(1280, 960) << 400;
    // Converted a pixel narrower, an even width FFmpeg converts cheaply, and still drawn as it is.
    QTest::newRow("shown at an odd width") << QSize(64, 48) << 399;
}

// A frame QImage cannot read is converted at the size shown, once however often it is drawn.
void tst_VideoPaint::convertsOtherFramesOncePerFrame()
{
    QFETCH(QSize, frameSize);
    QFETCH(int, shownWidth);
    item->setSize(QSizeF(shownWidth * 2, 600));
    scene->setSceneRect(0, 0, shownWidth * 2, 600);
    // Red and blue in the colours of video (limited range).
    item->videoSink()->setVideoFrame(solidYuvFrame(frameSize, 81, 90, 240));
    for (int i = 0; i < 3; ++i)
        shown();
    QCOMPARE(item->framesConverted(), 1);
    const QImage picture = shown();
    for (const QPoint &at : {QPoint(2, 2), QPoint(200, 150), QPoint(shownWidth - 3, 297)}) {
        const QRgb red = picture.pixel(at);
        QVERIFY2(qRed(red) > 200 && qGreen(red) < 50 && qBlue(red) < 50,
                 qPrintable(QString("%1 at %2,%3").arg(QColor(red).name()).arg(at.x()).arg(at.y())));
    }

    item->videoSink()->setVideoFrame(solidYuvFrame(frameSize, 41, 240, 110));
    const QRgb blue = shown().pixel(200, 150);
    QVERIFY2(qBlue(blue) > 200 && qRed(blue) < 50 && qGreen(blue) < 50, qPrintable(QColor(blue).name()));
    QCOMPARE(item->framesConverted(), 2);
}

// Frames repaint the sentence over them; its shadow is made again only for a new sentence.
void tst_VideoPaint::blursShadowOncePerSentence()
{
    auto *text = new QGraphicsTextItem("这是一句话");
    text->setDefaultTextColor(Qt::white);
    text->setFont(QFont(text->font().family(), 40));
    auto *shadow = new SubtitleShadowEffect;
    shadow->setColor(Qt::red);
    shadow->setOffset(1.0, 1.0);
    shadow->setBlurRadius(2.0);
    text->setGraphicsEffect(shadow);
    scene->addItem(text);
    for (int i = 0; i < 3; ++i) {
        item->videoSink()->setVideoFrame(solidYuvFrame(QSize(64, 48), 16, 128, 128));
        shown();
    }
    QCOMPARE(shadow->shadowsMade(), 1);
    // The shadow is there: red pixels beside the white text on the black frame.
    const QRect textArea = view->mapFromScene(text->sceneBoundingRect()).boundingRect();
    const QImage picture = shown().copy(textArea);
    int reddish = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            reddish += qRed(picture.pixel(x, y)) > 60 && qGreen(picture.pixel(x, y)) < 40;
    QVERIFY2(reddish > 20, qPrintable(QString::number(reddish)));

    text->setPlainText("下一句");
    shown();
    QCOMPARE(shadow->shadowsMade(), 2);
}

void tst_VideoPaint::bandsPaintAsOneDraw_data()
{
    QTest::addColumn<qreal>("ratio");
    QTest::newRow("one device pixel to a point") << 1.0;
    QTest::newRow("a quarter more") << 1.25;
    QTest::newRow("two device pixels to a point") << 2.0;
}

// A translucent picture scaled over another shows any line drawn twice or left out by the bands.
void tst_VideoPaint::bandsPaintAsOneDraw()
{
    QFETCH(qreal, ratio);
    QImage picture(57, 31, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qPremultiply(qRgba(x * 4, y * 8, 255 - x * 4, 90 + y * 3)));
    const QRectF target(3.4, 7.7, 333.3, 201.1);
    const auto paint = [&](bool inBands) {
        QImage canvas(QSize(400, 260) * ratio, QImage::Format_RGB32);
        canvas.setDevicePixelRatio(ratio);
        canvas.fill(Qt::darkGreen);
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.translate(1.5, 2.25);
        const auto draw = [&] { painter.drawImage(target, picture); };
        if (inBands)
            paintInBands(&painter, painter.worldTransform().mapRect(target), draw);
        else
            draw();
        painter.end();
        return canvas;
    };
    QCOMPARE(paint(true), paint(false));
}

void tst_VideoPaint::framesWithoutTransparencyAreOpaque_data()
{
    QTest::addColumn<QVideoFrameFormat::PixelFormat>("format");
    QTest::addColumn<bool>("opaque");
    QTest::newRow("what libmpv hands over") << QVideoFrameFormat::Format_BGRX8888 << true;
    QTest::newRow("converted before drawing") << QVideoFrameFormat::Format_YUV420P << true;
    QTest::newRow("with transparency") << QVideoFrameFormat::Format_ARGB8888 << false;
    QTest::newRow("no frame") << QVideoFrameFormat::Format_Invalid << false;
}

void tst_VideoPaint::framesWithoutTransparencyAreOpaque()
{
    QFETCH(QVideoFrameFormat::PixelFormat, format);
    QFETCH(bool, opaque);
    if (format != QVideoFrameFormat::Format_Invalid)
        item->videoSink()->setVideoFrame(QVideoFrame(QVideoFrameFormat(QSize(64, 48), format)));
    QCOMPARE(item->opaqueArea().boundingRect(), opaque ? item->boundingRect() : QRectF());
}

// An item that says it is opaque but draws nothing shows where the stage was left unpainted.
void tst_VideoPaint::paintsStageAroundOpaqueItemsOnly()
{
    struct OpaqueItem : QGraphicsRectItem
    {
        using QGraphicsRectItem::QGraphicsRectItem;
        QPainterPath opaqueArea() const override { return shape(); }
        void paint(QPainter *, const QStyleOptionGraphicsItem *, QWidget *) override {}
    };
    scene->addItem(new OpaqueItem(200, 100, 400, 300)); // at 100,50 to 300,200 in the view
    QImage canvas(view->viewport()->size(), QImage::Format_RGB32);
    canvas.fill(Qt::magenta);
    {
        QPainter painter(&canvas);
        view->render(&painter, QRectF(canvas.rect()), view->viewport()->rect());
    }
    const QRgb black = qRgb(0, 0, 0);
    const QRgb unpainted = QColor(Qt::magenta).rgb();
    QCOMPARE(canvas.pixel(200, 125), unpainted);
    QCOMPARE(canvas.pixel(50, 125), black);
    QCOMPARE(canvas.pixel(350, 125), black);
    QCOMPARE(canvas.pixel(200, 25), black);
    QCOMPARE(canvas.pixel(200, 250), black);
    // Its edges are painted: a frame drawn two pixels smaller than its place leaves nothing behind.
    QCOMPARE(canvas.pixel(101, 125), black);
    QCOMPARE(canvas.pixel(298, 198), black);
}

QTEST_MAIN(tst_VideoPaint)
#include "tst_videopaint.moc"
