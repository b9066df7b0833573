#include "player/playerwindow.h"

#include "app/appdata.h"
#include "ui_playerwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QGraphicsDropShadowEffect>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QGraphicsVideoItem>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QTextDocument>
#include <QTimer>
#include <QVideoFrame>
#include <QVideoSink>

#include <algorithm>
#include <cstdlib>

PlayerWindow::PlayerWindow(QWidget *parent, const QString &mediaPath, MediaEngine *engine)
    : QMainWindow(parent)
    , ui(new Ui::PlayerWindow)
    , mediaPath(mediaPath)
{
    ui->setupUi(this);
    setWindowTitle("复读机播放器OrviLoop   [空格] 暂停/播放   [→] 下一句  [↓] 跳过 [F] 全屏  ");
    ui->controlLayout->setAlignment(Qt::AlignRight);
#ifdef Q_OS_WIN
    std::system("chcp 65001");
#endif
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowMinimizeButtonHint);

    readHardwareDecodingChoice();
    if (engine)
        engine->setParent(this);
    else
        engine = createMediaEngine({hwDecodeEnabled}, this).release();
    player = engine;

    scene = new QGraphicsScene(this);
    ui->videoView->setScene(scene);
    videoItem = new QGraphicsVideoItem;
    scene->addItem(videoItem);
    ui->videoView->setAlignment(Qt::AlignCenter);
    ui->videoView->setTransformationAnchor(QGraphicsView::AnchorViewCenter);
    ui->videoView->setResizeAnchor(QGraphicsView::AnchorViewCenter);
    ui->videoView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->videoView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->videoView->setFrameShape(QFrame::NoFrame);

    subtitleTextItem = new QGraphicsTextItem;
    subtitleTextItem->setDefaultTextColor(Qt::white);
    auto *shadow = new QGraphicsDropShadowEffect;
    shadow->setColor(Qt::red);
    shadow->setOffset(1.0, 1.0);
    shadow->setBlurRadius(2.0);
    subtitleTextItem->setGraphicsEffect(shadow);
    subtitleTextItem->setFont(QFont("Microsoft YaHei", 36, 700, false));
    scene->addItem(subtitleTextItem);
    player->setVideoOutput(videoItem);

    ui->rootLayout->setStretch(0, 1);
    ui->rootLayout->setStretch(1, 0);
    ui->label5->setAlignment(Qt::AlignRight | Qt::AlignHCenter | Qt::AlignVCenter);
    ui->label4->setAlignment(Qt::AlignRight | Qt::AlignHCenter | Qt::AlignVCenter);

    for (int i = 0; i < ui->controlLayout->count(); ++i) {
        if (QWidget *widget = ui->controlLayout->itemAt(i)->widget())
            widget->setFixedWidth(70);
    }
    ui->horizontalSlider->setRange(0, 0);
    ui->horizontalSlider->setFixedWidth(300);
    ui->editPassRates->setFixedWidth(110);

    connect(ui->horizontalSlider, &QSlider::sliderPressed, this, [this] { sliderDragging = true; });
    connect(ui->horizontalSlider, &QSlider::sliderReleased, this, &PlayerWindow::onSliderReleased);
    connect(player, &MediaEngine::mediaStatusChanged, this, &PlayerWindow::onLoadedMedia);

    // The rate box takes its range before the stored rate is put into it: it shows the rate
    // that plays.
    ui->doubleSpinBoxRate->setRange(0.6, 2.0);
    ui->doubleSpinBoxRate->setSingleStep(0.2);
    // Two decimals: a rate per pass such as 0.85 shows as it plays.
    ui->doubleSpinBoxRate->setDecimals(2);
    // Connected before anything is loaded: the rate of a first pass is set as the lesson opens.
    connect(ui->doubleSpinBoxRate, &QDoubleSpinBox::valueChanged, player, &MediaEngine::setPlaybackRate);

    connectSignals();
    loadPlayerState();

    ui->btnPlayPause->setText("⏹");
    ui->btnNextSentence->setEnabled(playMode == 1);
    ui->btnSkipSentence->setEnabled(playMode == 1);

    connect(videoItem, &QGraphicsVideoItem::nativeSizeChanged, this, &PlayerWindow::layoutVideo);

    setFocusPolicy(Qt::StrongFocus);
    ui->videoView->setFocusPolicy(Qt::NoFocus);
    ui->comboSubtitleMode->setFocusPolicy(Qt::NoFocus);
    ui->comboPlayMode->setFocusPolicy(Qt::NoFocus);
    ui->spinRepeat->setFocusPolicy(Qt::NoFocus);
    ui->horizontalSlider->setFocusPolicy(Qt::NoFocus);
    ui->comboShadowPause->setFocusPolicy(Qt::NoFocus);
    // Only the list of rates is typed into; Return hands the keys back to the window.
    ui->editPassRates->setFocusPolicy(Qt::ClickFocus);
    const auto buttons = findChildren<QPushButton *>();
    for (QPushButton *button : buttons)
        button->setFocusPolicy(Qt::NoFocus);

    updateGroupButton();

    qDebug() << "video resolution:" << player->videoSize();

    if (QVideoSink *sink = player->videoSink()) {
        connect(sink, &QVideoSink::videoFrameChanged, this, [this](const QVideoFrame &frame) {
            if (frame.width() > 0 && frame.height() > 0)
                updateSubtitleFont();
        });
    }

    createBusyIndicator();
    createShadowPauseBar();
    connect(player, &MediaEngine::playbackStateChanged, this, &PlayerWindow::onPlaybackStateChanged);
    connect(player, &MediaEngine::errorOccurred, this, &PlayerWindow::onMediaError);
    createDonationLabel();
    ui->btnFilterMp3->hide();
}

PlayerWindow::~PlayerWindow()
{
    savePlayerState();
    delete ui;
}

void PlayerWindow::onMediaError(QMediaPlayer::Error error, const QString &message)
{
    qDebug() << "播放失败:" << error << message;
    setWindowTitle("无法播放：" + message);
    // Not modal: the learner may be away, and the window must stay usable.
    auto *box = new QMessageBox(QMessageBox::Warning, "提示", "无法播放：" + currentFile + "\n" + message,
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

// A widget over the video view rather than an item of its scene: the scene is scaled to the
// video's size and may lie partly outside the view, the bar keeps its own size in the middle.
void PlayerWindow::createBusyIndicator()
{
    busyIndicator = new QProgressBar(ui->videoView);
    busyIndicator->setRange(0, 0);
    busyIndicator->setTextVisible(false);
    busyIndicator->setFixedSize(200, 20);
    busyIndicator->setStyleSheet("QProgressBar { background: rgba(0,0,0,100); border-radius: 10px; }"
                                 "QProgressBar::chunk { background: #00C0FF; border-radius: 10px; }");
    busyIndicator->setAttribute(Qt::WA_TransparentForMouseEvents);
    centerOverlayBars();
    busyIndicator->show();
}

// The busy indicator and the pause-to-speak bar share the middle of the view, over the video.
void PlayerWindow::centerOverlayBars()
{
    const QRect view = ui->videoView->rect();
    for (QProgressBar *bar : {busyIndicator, shadowPauseBar}) {
        if (!bar)
            continue;
        bar->move(view.center() - bar->rect().center());
        bar->raise();
    }
}

void PlayerWindow::createDonationLabel()
{
    donationLabel = new QLabel(this);
    donationLabel->setFixedSize(150, 150);
    const QString picturePath = appDataDirectory() + "/donation.jpg";
    QPixmap picture(picturePath);
    if (!picture.isNull()) {
        qDebug() << "✅ 图片加载成功:" << picturePath;
        donationLabel->setPixmap(picture.scaled(170, 170, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    } else {
        qDebug() << "❌ 图片加载失败:" << picturePath;
    }
    donationLabel->setStyleSheet("\n    QLabel {\n        background: rgba(0,0,0,80);\n"
                                 "        border-radius: 12px;\n    }\n");
    donationLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    donationLabel->setWindowOpacity(0.85);
    donationLabel->show();
}

void PlayerWindow::connectSignals()
{
    makeSliderJumpOnClick();
    connect(ui->btnFilterChinese, &QPushButton::clicked, this, &PlayerWindow::onFilterChineseClicked);
    connect(ui->btnBrowseSubtitles, &QPushButton::clicked, this, &PlayerWindow::onBrowseSubtitlesClicked);
    connect(ui->btnPlayPause, &QPushButton::clicked, this, &PlayerWindow::togglePlayback);
    connect(ui->btnNextSentence, &QPushButton::clicked, this, &PlayerWindow::nextSentence);
    connect(ui->btnSkipSentence, &QPushButton::clicked, this, &PlayerWindow::skipSentence);
    connect(player, &MediaEngine::positionChanged, this, &PlayerWindow::onPositionChanged);
    connect(player, &MediaEngine::endPointReached, this, &PlayerWindow::onEndPointReached);
    ui->videoView->viewport()->installEventFilter(this);
    updateRepeatControls();
    connect(ui->btnSwitchGroup, &QPushButton::clicked, this, &PlayerWindow::onSwitchGroupClicked);
    connect(ui->btnExportMp3, &QPushButton::clicked, this, &PlayerWindow::onExportMp3Clicked);
    connect(ui->btnFilterMp3, &QPushButton::clicked, this, &PlayerWindow::onFilterMp3Clicked);
    connect(ui->btnHwDecode, &QPushButton::clicked, this, &PlayerWindow::toggleHardwareDecoding);
    connect(player, &MediaEngine::durationChanged, this, &PlayerWindow::onDurationChanged);
    connect(ui->btnBack, &QPushButton::clicked, this, &PlayerWindow::onBtnBackClicked);
    connect(ui->comboPlayMode, &QComboBox::currentIndexChanged, this, &PlayerWindow::onPlayModeChanged);
    connect(ui->comboSubtitleMode, &QComboBox::currentIndexChanged, this,
            &PlayerWindow::onSubtitleModeChanged);
    connect(ui->spinRepeat, &QSpinBox::valueChanged, this, &PlayerWindow::onRepeatCountChanged);
    connect(ui->comboShadowPause, &QComboBox::currentIndexChanged, this, &PlayerWindow::onShadowPauseChanged);
    connect(ui->editPassRates, &QLineEdit::editingFinished, this, &PlayerWindow::onPassRatesEdited);
}

void PlayerWindow::updateRepeatControls()
{
    const bool autoNext = playMode == 2;
    ui->label4->setVisible(autoNext);
    ui->spinRepeat->setVisible(autoNext);
    ui->editPassRates->setVisible(autoNext);
}

void PlayerWindow::onPlaybackStateChanged(QMediaPlayer::PlaybackState state)
{
    // The pause to speak shows its own bar: nothing is loading.
    busyIndicator->setVisible(state != QMediaPlayer::PlayingState && !shadowPauseActive());
    showPlaybackState();
    // The media status may change just after the state; look once both have settled.
    if (state == QMediaPlayer::StoppedState) {
        QTimer::singleShot(0, this, [this] {
            if (player->playbackState() == QMediaPlayer::StoppedState &&
                player->mediaStatus() == QMediaPlayer::EndOfMedia)
                repeatAfterEndOfMedia();
        });
    }
}

void PlayerWindow::layoutVideo()
{
    if (!videoItem || !scene || !ui->videoView)
        return;
    // The media's own size: the frames the engine hands over may be smaller (see MediaEngine).
    const QSizeF nativeSize = player->videoSize();
    if (nativeSize.width() <= 0 || nativeSize.height() <= 0)
        return;

    const QWidget *viewport = ui->videoView->viewport();
    if (viewport->width() >= 160 && viewport->height() >= 90) {
        layoutRetryCount = 0;
        videoItem->setSize(nativeSize);
        const QRectF videoRect = videoItem->boundingRect();
        scene->setSceneRect(videoRect);
        ui->videoView->setSceneRect(videoRect.adjusted(0, -200, 0, 200));
        ui->videoView->resetTransform();
        ui->videoView->fitInView(videoItem, Qt::KeepAspectRatio);
        layoutSubtitle();
        return;
    }
    // The view has no usable size yet (the window is still being shown): try again shortly.
    if (layoutRetryCount <= 19) {
        ++layoutRetryCount;
        QTimer::singleShot(50, this, &PlayerWindow::layoutVideo);
    }
}

void PlayerWindow::layoutSubtitle()
{
    if (!subtitleTextItem || !videoItem)
        return;
    const QRectF videoRect = videoItem->sceneBoundingRect();
    subtitleTextItem->setTextWidth(videoRect.width());
    QTextOption option = subtitleTextItem->document()->defaultTextOption();
    option.setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    subtitleTextItem->document()->setDefaultTextOption(option);
    subtitleTextItem->setPos(videoRect.x(), videoRect.y() + subtitleTextItem->boundingRect().height() -
                                                0.03 * videoRect.height());
}

int PlayerWindow::subtitleFontPointSize() const
{
    const QSize size = player ? player->videoSize() : QSize();
    if (size.width() <= 0 || size.height() <= 0)
        return 36;
    return std::clamp(static_cast<int>(size.height() * 0.045), 18, 120);
}

void PlayerWindow::updateSubtitleFont()
{
    QFont font = ui->label4->font();
    font.setPointSize(subtitleFontPointSize());
    subtitleTextItem->setFont(font);
}

void PlayerWindow::positionDonationLabel()
{
    if (!donationLabel)
        return;
    const int viewWidth = ui->videoView->width();
    const int viewHeight = ui->videoView->height();
    const QRect bounds(0, 0, viewWidth, viewHeight);
    const QRect candidate(10, viewHeight - donationLabel->height() - 10, donationLabel->width(),
                          donationLabel->height());
    if (bounds.contains(candidate))
        donationLabel->move(candidate.topLeft());
    else
        donationLabel->move(viewWidth - donationLabel->width() - 10,
                            viewHeight - donationLabel->height() - 10);
}

void PlayerWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    layoutVideo();
    positionDonationLabel();
    centerOverlayBars();
}

void PlayerWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    const QWidget *viewport = ui->videoView->viewport();
    scene->setSceneRect(0, 0, viewport->width(), viewport->height());
    positionDonationLabel();
    centerOverlayBars();
    layoutRetryCount = 0;
    QTimer::singleShot(0, this, &PlayerWindow::layoutVideo);
    QTimer::singleShot(150, this, &PlayerWindow::layoutVideo);
}

void PlayerWindow::closeEvent(QCloseEvent *event)
{
    savePlayerState();
    QMainWindow::closeEvent(event);
}
