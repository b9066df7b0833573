#include "gui/player/playerwindow.h"

#include "core/library/appdata.h"
#include "gui/afterfirstpaint.h"
#include "gui/player/takecontourview.h"
#include "gui/player/takecontroller.h"
#include "gui/player/subtitleshadow.h"
#include "gui/player/videoframeitem.h"
#include "ui_playerwindow.h"

#include <QAbstractSpinBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QGraphicsDropShadowEffect>
#include <QGraphicsOpacityEffect>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QGraphicsVideoItem>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QPropertyAnimation>
#include <QStatusBar>
#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>
#include <QUrl>
#include <QVideoFrame>
#include <QVideoSink>

#include <algorithm>
#include <cstdlib>
#include <utility>

PlayerWindow::PlayerWindow(QWidget *parent, const QString &mediaPath, MediaEngine *engine, EngineStart start)
    : QMainWindow(parent)
    , ui(new Ui::PlayerWindow)
    , mediaPath(mediaPath)
{
    ui->setupUi(this);
    // One number format in every field of the window, the one the list of rates per pass is
    // typed in (where "," separates rates): a rate reads 0.85 whatever the learner's locale.
    setLocale(QLocale::c());
    // Named from the start: the library raises this window rather than open the lesson twice.
    lesson.file = mediaPath;
    updateTitle();
#ifdef Q_OS_WIN
    std::system("chcp 65001");
#endif
    readHardwareDecodingChoice();

    video.scene = new QGraphicsScene(this);
    ui->videoView->setScene(video.scene);
    ui->videoView->setAlignment(Qt::AlignCenter);
    ui->videoView->setTransformationAnchor(QGraphicsView::AnchorViewCenter);
    ui->videoView->setResizeAnchor(QGraphicsView::AnchorViewCenter);
    ui->videoView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->videoView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->videoView->setFrameShape(QFrame::NoFrame);
    // A player's dark stage: the white sentence reads on it when a lesson has no picture.
    ui->videoView->setBackgroundBrush(Qt::black);
    // The view fills every pixel itself (the stage, then the picture): nothing under it is
    // painted again with each frame.
    ui->videoView->viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    ui->label5->setAlignment(Qt::AlignRight | Qt::AlignHCenter | Qt::AlignVCenter);
    ui->label4->setAlignment(Qt::AlignRight | Qt::AlignHCenter | Qt::AlignVCenter);
    ui->horizontalSlider->setRange(0, 0);
    fitControlsToTheirTexts();
    // The rate box takes its range before the stored rate is put into it: it shows the rate
    // that plays.
    ui->doubleSpinBoxRate->setRange(0.6, 2.0);
    ui->doubleSpinBoxRate->setSingleStep(0.2);
    // Two decimals: a rate per pass such as 0.85 shows as it plays.
    ui->doubleSpinBoxRate->setDecimals(2);
    ui->btnFilterMp3->hide();
    // Shown by the drill where it needs them; hidden until then, so that a window shown before
    // its lesson opens is no wider than one shown with it.
    for (QWidget *control : std::initializer_list<QWidget *>{ui->label4, ui->spinRepeat, ui->editPassRates,
                                                             ui->btnFilterChinese})
        control->hide();
    keepKeysForThePlayer();

    if (engine)
        engine->setParent(this);
    if (start == EngineStart::WithWindow) {
        startEngine(engine);
        return;
    }
    pendingEngine = engine;
    keepingKeys = true;
    new AfterFirstPaint(this, [this] { startPendingEngine(); });
    // Should the window not be painted soon (hidden, or on a desktop that paints it late), its
    // lesson is not held up further.
    QTimer::singleShot(3000, this, &PlayerWindow::startPendingEngine);
}

void PlayerWindow::startPendingEngine()
{
    if (!player)
        startEngine(pendingEngine);
}

// The media engine, the drill and everything that acts on them, then the lesson loaded.
void PlayerWindow::startEngine(MediaEngine *engine)
{
    QString engineFailure;
    if (!engine)
        engine = createMediaEngine({hwDecode.enabled}, this, &engineFailure).release();
    player = engine;
    session = new RepeatSession(this);
    if (!engineFailure.isEmpty())
        statusBar()->showMessage(engineFailure + "，改用 Qt 播放");

    // Made with the engine: the first video item loads Qt Multimedia's back end and its libraries.
    video.item = new VideoFrameItem;
    video.scene->addItem(video.item);
    video.subtitleItem = new QGraphicsTextItem;
    video.subtitleItem->setDefaultTextColor(Qt::white);
    auto *shadow = new SubtitleShadowEffect;
    shadow->setColor(Qt::red);
    shadow->setOffset(1.0, 1.0);
    shadow->setBlurRadius(2.0);
    video.subtitleItem->setGraphicsEffect(shadow);
    video.subtitleItem->setFont(QFont("Microsoft YaHei", 36, 700, false));
    video.scene->addItem(video.subtitleItem);
    player->setVideoOutput(video.item);

    connect(ui->horizontalSlider, &QSlider::sliderPressed, session, &RepeatSession::holdSlider);
    connect(ui->horizontalSlider, &QSlider::sliderReleased, this, &PlayerWindow::onSliderReleased);
    connect(player, &MediaEngine::mediaStatusChanged, this, &PlayerWindow::onMediaStatusChanged);
    connectSession();

    // Connected before anything is loaded: the rate of a first pass is set as the lesson opens.
    connect(ui->doubleSpinBoxRate, &QDoubleSpinBox::valueChanged, player, &MediaEngine::setPlaybackRate);

    connectSignals();
    loadPlayerState();

    ui->btnPlayPause->setText("⏹");
    showPlayMode(session->playMode());

    connect(video.item, &QGraphicsVideoItem::nativeSizeChanged, this, &PlayerWindow::layoutVideo);

    showGroup(session->playGroup());

    qDebug() << "video resolution:" << player->videoSize();

    if (QVideoSink *sink = player->videoSink()) {
        connect(sink, &QVideoSink::videoFrameChanged, this, [this](const QVideoFrame &frame) {
            if (frame.width() > 0 && frame.height() > 0)
                updateSubtitleFont();
        });
    }

    createBusyIndicator();
    createShadowPauseBar();
    createAlignControls();
    takes = new TakeController({[this] { return lesson.file; }, [this] { return session->currentSentence(); },
                                [this](int i) {
                                    const QList<SubtitleItem> &sentences = session->sentences();
                                    return i >= 0 && i < sentences.size() ? std::optional(sentences.at(i))
                                                                          : std::nullopt;
                                }},
                               this);
    takes->attachControls(ui->checkRecordTakes, ui->btnPlayTake, new TakeContourView(ui->videoView));
    connect(session, &RepeatSession::speakingPauseStarted, takes, &TakeController::onSpeakingPauseStarted);
    connect(session, &RepeatSession::speakingPauseEnded, takes, &TakeController::onSpeakingPauseEnded);
    // The take is heard alone, then its sentence from its start.
    connect(takes, &TakeController::takePlaybackStarted, session, &RepeatSession::hold);
    connect(takes, &TakeController::sentenceReplayRequested, session, &RepeatSession::replaySentence);
    connect(player, &MediaEngine::playbackStateChanged, this, &PlayerWindow::onPlaybackStateChanged);
    createDonationLabel();
    // Set last: the controls made above take no keys either.
    keepKeysForThePlayer();
    // Where showEvent puts it, for a window shown before it was made.
    positionDonationLabel();

    if (player->source().isEmpty())
        handleKeptKeys();
    emit lessonOpened(hasSubtitle());
}

// After the lesson has loaded, and its place been restored: a key such as N then moves on from
// there, rather than being undone by the restore.
void PlayerWindow::handleKeptKeys()
{
    if (!std::exchange(keepingKeys, false))
        return;
    for (const auto &key : std::exchange(keptKeys, {})) {
        if (key->type() == QEvent::KeyPress)
            keyPressEvent(key.get());
        else
            keyReleaseEvent(key.get());
    }
}

PlayerWindow::~PlayerWindow()
{
    savePlayerState();
    delete ui;
}

void PlayerWindow::onMediaError(QMediaPlayer::Error error, const QString &message)
{
    handleKeptKeys();
    qDebug() << "播放失败:" << error << message;
    setWindowTitle("无法播放：" + message);
    // Not modal: the learner may be away, and this window and the library must stay usable.
    auto *box = new QMessageBox(QMessageBox::Warning, "提示", "无法播放：" + lesson.file + "\n" + message,
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

// Over the video rather than in the title: the title is not seen in full screen, and a box
// would stop the drill. One label serves every such message.
void PlayerWindow::showNotice(const QString &text)
{
    if (!overlay.noticeLabel) {
        overlay.noticeLabel = new QLabel(ui->videoView);
        overlay.noticeLabel->setObjectName("noticeLabel");
        overlay.noticeLabel->setWordWrap(true);
        overlay.noticeLabel->setAlignment(Qt::AlignCenter);
        overlay.noticeLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
        overlay.noticeLabel->setStyleSheet(
            "QLabel { background: rgba(0,0,0,180); color: white; font-size: 16px;"
            " border-radius: 8px; padding: 10px; }");
        overlay.noticeLabel->setGraphicsEffect(new QGraphicsOpacityEffect(overlay.noticeLabel));
        overlay.noticeTimer = new QTimer(this);
        overlay.noticeTimer->setObjectName("noticeTimer");
        overlay.noticeTimer->setSingleShot(true);
        connect(overlay.noticeTimer, &QTimer::timeout, overlay.noticeLabel, [this] {
            auto *fade =
                new QPropertyAnimation(overlay.noticeLabel->graphicsEffect(), "opacity", overlay.noticeLabel);
            fade->setDuration(1000);
            fade->setEndValue(0.0);
            connect(fade, &QPropertyAnimation::finished, overlay.noticeLabel, &QLabel::hide);
            fade->start(QAbstractAnimation::DeleteWhenStopped);
        });
    }
    qDebug().noquote() << "提示:" << text;
    // A fade still running would hide the new text.
    if (auto *fading = overlay.noticeLabel->findChild<QPropertyAnimation *>())
        fading->stop();
    static_cast<QGraphicsOpacityEffect *>(overlay.noticeLabel->graphicsEffect())->setOpacity(1.0);
    overlay.noticeLabel->setText(text);
    positionNotice();
    overlay.noticeLabel->show();
    overlay.noticeLabel->raise();
    overlay.noticeTimer->start(8000);
}

void PlayerWindow::positionNotice()
{
    if (!overlay.noticeLabel)
        return;
    const int width = std::max(200, ui->videoView->width() - 40);
    overlay.noticeLabel->setFixedWidth(std::min(width, 640));
    overlay.noticeLabel->adjustSize();
    // Low in the view: the sentence is drawn at the top.
    overlay.noticeLabel->move((ui->videoView->width() - overlay.noticeLabel->width()) / 2,
                              ui->videoView->height() - overlay.noticeLabel->height() - 20);
}

QString PlayerWindow::lessonName() const
{
    const QString path = lesson.file.isEmpty() ? mediaPath : lesson.file;
    if (path.startsWith("http", Qt::CaseInsensitive))
        return QUrl(path).fileName();
    return QFileInfo(path).fileName();
}

// The lesson's name first, as desktop windows name their document, then the keys.
void PlayerWindow::updateTitle()
{
    const QString name = lessonName();
    const QString program =
        name.isEmpty() ? QString("复读机播放器OrviLoop") : name + " - 复读机播放器OrviLoop";
    setWindowTitle(program + "   [空格] 暂停/播放  [N] 下一句  [F12] 加入组2  [F] 全屏");
    showLessonName();
}

// The name also shows in the window itself (in full screen there is no title); a long one is
// shortened in the middle, where names of a series differ least.
void PlayerWindow::showLessonName()
{
    const QString name = lessonName();
    QLabel *label = ui->labelLesson;
    label->setToolTip(lesson.file.isEmpty() ? mediaPath : lesson.file);
    label->setText(label->fontMetrics().elidedText(name, Qt::ElideMiddle, label->width()));
}

// Every control as wide as its text needs, in two rows: the transport above, the drill below,
// so that the window fits a laptop screen in every play mode.
void PlayerWindow::fitControlsToTheirTexts()
{
    const auto combos = findChildren<QComboBox *>();
    for (QComboBox *combo : combos) {
        combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        combo->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    // A button narrows to its text, not below it: a minimum width of its own would cut a
    // longer text such as "请先分组".
    const auto buttons = findChildren<QPushButton *>();
    for (QPushButton *button : buttons) {
        button->setMinimumWidth(0);
        button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }
    const QFontMetrics metrics = fontMetrics();
    ui->horizontalSlider->setMinimumWidth(200);
    ui->labelCurrentTime->setMinimumWidth(metrics.horizontalAdvance("00:00:00 / 00:00:00"));
    ui->labelCurrentTime->setText("00:00 / 00:00");
    ui->editPassRates->setMinimumWidth(metrics.horizontalAdvance("0.75, 0.85, 1.0") + 12);
    // The name takes what the drill row leaves and never widens the window.
    ui->labelLesson->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    ui->settingsLayout->setStretchFactor(ui->labelLesson, 1);
    ui->labelLesson->setMinimumWidth(80);
    ui->labelLesson->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    ui->labelLesson->installEventFilter(this);
}

// The keyboard belongs to the player: no control keeps it after the mouse has used one, so
// Space, N, the arrows and the timing keys always reach keyPressEvent. Only a text field takes
// keys, and only once clicked into; Return or a click elsewhere gives them back.
void PlayerWindow::keepKeysForThePlayer()
{
    setFocusPolicy(Qt::StrongFocus);
    const auto widgets = findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        const bool textField =
            qobject_cast<QLineEdit *>(widget) && !qobject_cast<QAbstractSpinBox *>(widget->parentWidget());
        widget->setFocusPolicy(textField ? Qt::ClickFocus : Qt::NoFocus);
    }
    setFocus();
}

// A widget over the video view rather than an item of its scene: the scene is scaled to the
// video's size and may lie partly outside the view, the bar keeps its own size in the middle.
void PlayerWindow::createBusyIndicator()
{
    overlay.busyIndicator = new QProgressBar(ui->videoView);
    overlay.busyIndicator->setObjectName("busyIndicator");
    overlay.busyIndicator->setRange(0, 0);
    overlay.busyIndicator->setTextVisible(false);
    overlay.busyIndicator->setFixedSize(200, 20);
    overlay.busyIndicator->setStyleSheet("QProgressBar { background: rgba(0,0,0,100); border-radius: 10px; }"
                                         "QProgressBar::chunk { background: #00C0FF; border-radius: 10px; }");
    overlay.busyIndicator->setAttribute(Qt::WA_TransparentForMouseEvents);
    centerOverlayBars();
    overlay.busyIndicator->show();
}

// The busy indicator and the pause-to-speak bar share the middle of the view, over the video.
void PlayerWindow::centerOverlayBars()
{
    for (QProgressBar *bar : {overlay.busyIndicator, overlay.shadowPauseBar}) {
        if (!bar)
            continue;
        bar->move(overlayBarCenter() - bar->rect().center());
        bar->raise();
    }
}

// Below the sentence, which is drawn at the top of a video and in the middle of a lesson
// without picture.
QPoint PlayerWindow::overlayBarCenter() const
{
    const QRect view = ui->videoView->rect();
    return {view.center().x(), view.top() + view.height() * 3 / 4};
}

void PlayerWindow::createDonationLabel()
{
    overlay.donationLabel = new QLabel(this);
    overlay.donationLabel->setObjectName("donationLabel");
    overlay.donationLabel->setFixedSize(150, 150);
    const QString picturePath = appDataDirectory() + "/donation.jpg";
    const QPixmap picture =
        QPixmap(picturePath).scaled(170, 170, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (!picture.isNull()) {
        qDebug() << "✅ 图片加载成功:" << picturePath;
        overlay.donationLabel->setPixmap(picture);
    } else {
        qDebug() << "❌ 图片加载失败:" << picturePath;
    }
    // It lies over the video, so it is drawn again with every frame: a picture that covers all of
    // it hides the translucent background, which then is not painted, nor the video under it.
    if (!picture.isNull() && !picture.hasAlphaChannel() &&
        picture.width() >= overlay.donationLabel->width() &&
        picture.height() >= overlay.donationLabel->height())
        overlay.donationLabel->setAttribute(Qt::WA_OpaquePaintEvent);
    else
        overlay.donationLabel->setStyleSheet("\n    QLabel {\n        background: rgba(0,0,0,80);\n"
                                             "        border-radius: 12px;\n    }\n");
    overlay.donationLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    overlay.donationLabel->setWindowOpacity(0.85);
    overlay.donationLabel->show();
}

void PlayerWindow::connectSignals()
{
    // Before the first source: the Qt engine tells of a file it cannot open while it is handed over.
    connect(player, &MediaEngine::errorOccurred, this, &PlayerWindow::onMediaError);
    makeSliderJumpOnClick();
    connect(ui->btnFilterChinese, &QPushButton::clicked, this, &PlayerWindow::onFilterChineseClicked);
    connect(ui->btnBrowseSubtitles, &QPushButton::clicked, this, &PlayerWindow::onBrowseSubtitlesClicked);
    connect(ui->btnPlayPause, &QPushButton::clicked, session, &RepeatSession::togglePlay);
    connect(ui->btnNextSentence, &QPushButton::clicked, session, &RepeatSession::next);
    connect(ui->btnSkipSentence, &QPushButton::clicked, session, &RepeatSession::skip);
    ui->videoView->viewport()->installEventFilter(this);
    updateRepeatControls();
    connect(ui->btnSwitchGroup, &QPushButton::clicked, session, &RepeatSession::switchGroup);
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
    const bool autoNext = session->playMode() == PlayMode::AutoNext;
    ui->label4->setVisible(autoNext);
    ui->spinRepeat->setVisible(autoNext);
    ui->editPassRates->setVisible(autoNext);
}

void PlayerWindow::onPlaybackStateChanged(QMediaPlayer::PlaybackState state)
{
    // The pause to speak shows its own bar: nothing is loading.
    overlay.busyIndicator->setVisible(state != QMediaPlayer::PlayingState && !session->speakingPauseActive());
    showPlaybackState();
    // The media status may change just after the state; look once both have settled.
    if (state == QMediaPlayer::StoppedState) {
        QTimer::singleShot(0, this, [this] {
            if (player->playbackState() == QMediaPlayer::StoppedState &&
                player->mediaStatus() == QMediaPlayer::EndOfMedia)
                session->onEndOfMedia();
        });
    }
}

void PlayerWindow::layoutVideo()
{
    if (!video.item || !video.scene || !ui->videoView)
        return;
    const QWidget *viewport = ui->videoView->viewport();
    // The media's own size: the frames the engine hands over may be smaller (see MediaEngine).
    const QSizeF nativeSize = player->videoSize();
    if (nativeSize.width() <= 0 || nativeSize.height() <= 0) {
        // No picture (yet): the sentence has the whole view.
        const QRectF viewRect(QPointF(0, 0), QSizeF(viewport->size()));
        video.scene->setSceneRect(viewRect);
        ui->videoView->setSceneRect(viewRect);
        ui->videoView->resetTransform();
        layoutSubtitle();
        return;
    }

    if (viewport->width() >= 160 && viewport->height() >= 90) {
        layoutRetryCount = 0;
        video.item->setSize(nativeSize);
        const QRectF videoRect = video.item->boundingRect();
        video.scene->setSceneRect(videoRect);
        ui->videoView->setSceneRect(videoRect.adjusted(0, -200, 0, 200));
        ui->videoView->resetTransform();
        ui->videoView->fitInView(video.item, Qt::KeepAspectRatio);
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
    if (!video.subtitleItem || !video.item)
        return;
    // Over the picture, or across the whole view of a lesson without one.
    const QSize picture = player ? player->videoSize() : QSize();
    const bool overPicture = picture.width() > 0 && picture.height() > 0;
    const QRectF area = overPicture ? video.item->sceneBoundingRect() : video.scene->sceneRect();
    video.subtitleItem->setTextWidth(area.width());
    QTextOption option = video.subtitleItem->document()->defaultTextOption();
    option.setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    video.subtitleItem->document()->setDefaultTextOption(option);
    const qreal textHeight = video.subtitleItem->boundingRect().height();
    if (overPicture)
        video.subtitleItem->setPos(area.x(), area.y() + textHeight - 0.03 * area.height());
    else
        video.subtitleItem->setPos(area.x(), area.center().y() - textHeight / 2);
    keepSentenceClearOfPicture();
}

// Where the sentence's lines are drawn, in the window's coordinates: each line as wide as its
// text, not the whole width the item is laid out in.
QList<QRect> PlayerWindow::sentenceLinesInWindow() const
{
    QList<QRect> lines;
    if (!video.subtitleItem || !video.subtitleItem->isVisible())
        return lines;
    const QTextDocument *document = video.subtitleItem->document();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        const QTextLayout *layout = block.layout();
        const QPointF blockAt = document->documentLayout()->blockBoundingRect(block).topLeft();
        for (int i = 0; layout && i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            if (line.naturalTextWidth() <= 0) // no sentence shown: nothing to keep clear
                continue;
            const QRectF inScene =
                video.subtitleItem->mapRectToScene(line.naturalTextRect().translated(blockAt));
            const QRect inViewport = ui->videoView->mapFromScene(inScene).boundingRect();
            lines << inViewport.translated(ui->videoView->viewport()->mapTo(this, QPoint(0, 0)));
        }
    }
    return lines;
}

// The picture in the corner lies over the video; the sentence is what the learner reads. Where a
// line of it would fall under the picture, the picture gives way until the sentence moves on.
void PlayerWindow::keepSentenceClearOfPicture()
{
    if (!overlay.donationLabel)
        return;
    const QRect picture = overlay.donationLabel->geometry();
    const QList<QRect> lines = sentenceLinesInWindow();
    const bool covers = std::any_of(lines.cbegin(), lines.cend(),
                                    [&](const QRect &line) { return line.intersects(picture); });
    overlay.donationLabel->setVisible(!covers);
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
    // Called for every frame: the same font set again would lay the sentence out and draw it anew.
    if (video.subtitleItem->font() != font) {
        video.subtitleItem->setFont(font);
        keepSentenceClearOfPicture();
    }
}

void PlayerWindow::positionDonationLabel()
{
    if (!overlay.donationLabel)
        return;
    const int viewWidth = ui->videoView->width();
    const int viewHeight = ui->videoView->height();
    const QRect bounds(0, 0, viewWidth, viewHeight);
    const QRect candidate(10, viewHeight - overlay.donationLabel->height() - 10,
                          overlay.donationLabel->width(), overlay.donationLabel->height());
    if (bounds.contains(candidate))
        overlay.donationLabel->move(candidate.topLeft());
    else
        overlay.donationLabel->move(viewWidth - overlay.donationLabel->width() - 10,
                                    viewHeight - overlay.donationLabel->height() - 10);
    keepSentenceClearOfPicture();
}

void PlayerWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    layoutVideo();
    positionDonationLabel();
    positionNotice();
    centerOverlayBars();
}

void PlayerWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    const QWidget *viewport = ui->videoView->viewport();
    video.scene->setSceneRect(0, 0, viewport->width(), viewport->height());
    positionDonationLabel();
    centerOverlayBars();
    layoutRetryCount = 0;
    QTimer::singleShot(0, this, &PlayerWindow::layoutVideo);
    QTimer::singleShot(150, this, &PlayerWindow::layoutVideo);
}

void PlayerWindow::closeEvent(QCloseEvent *event)
{
    // Closed as it opens: the lesson is stored as opened, as by a window whose engine is made.
    startPendingEngine();
    savePlayerState();
    QMainWindow::closeEvent(event);
}
