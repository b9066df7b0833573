#include "gui/player/playerwindow.h"

#include "core/drill/sentencetiming.h"
#include "core/settings/settings.h"

#include "ui_playerwindow.h"

#include <QCoreApplication>
#include <QGraphicsTextItem>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QTimer>

// The drill's wiring: what the media engine reports goes to the session, what the session
// decides goes to the engine, and the window draws what both say.

namespace {

RepeatSession::Playback playbackOf(QMediaPlayer::PlaybackState state)
{
    switch (state) {
    case QMediaPlayer::PlayingState:
        return RepeatSession::Playback::Playing;
    case QMediaPlayer::PausedState:
        return RepeatSession::Playback::Paused;
    default:
        return RepeatSession::Playback::Stopped;
    }
}

} // namespace

void PlayerWindow::connectSession()
{
    connect(player, &MediaEngine::positionChanged, this, &PlayerWindow::onPositionChanged);
    connect(player, &MediaEngine::positionChanged, session, &RepeatSession::onPosition);
    connect(player, &MediaEngine::endPointReached, session, &RepeatSession::onEndPointReached);
    connect(player, &MediaEngine::playbackStateChanged, session,
            [this](QMediaPlayer::PlaybackState state) { session->setPlayback(playbackOf(state)); });

    connect(session, &RepeatSession::seekRequested, player, &MediaEngine::setPosition);
    connect(session, &RepeatSession::endPointChanged, player,
            qOverload<qint64, const PassEnd &>(&MediaEngine::setEndPoint));
    connect(session, &RepeatSession::pauseRequested, player, &MediaEngine::pause);
    connect(session, &RepeatSession::playRequested, player, &MediaEngine::play);
    // The rate box shows the rate of the pass, and hands it to the engine.
    connect(session, &RepeatSession::rateChanged, ui->doubleSpinBoxRate, &QDoubleSpinBox::setValue);
    connect(session, &RepeatSession::textChanged, this, &PlayerWindow::showText);
    connect(session, &RepeatSession::playModeChanged, this, &PlayerWindow::showPlayMode);
    // New sentences come with a new play list.
    connect(session, &RepeatSession::playListChanged, this, [this](PlayGroup group) {
        showGroup(group);
        updateSliderRange();
        updateFilterChineseButton();
    });
    connect(session, &RepeatSession::group2Changed, this, &PlayerWindow::onGroup2Changed);
    connect(session, &RepeatSession::speakingPauseStarted, this, &PlayerWindow::showShadowPause);
    connect(session, &RepeatSession::speakingPauseProgress, this, &PlayerWindow::showShadowPauseLeft);
    connect(session, &RepeatSession::speakingPauseEnded, this, [this] {
        overlay.shadowPauseBar->hide();
        showPlaybackState();
    });
}

void PlayerWindow::onPositionChanged(qint64 position)
{
    if (session->isSliderHeld())
        return;
    moveSlider(int(position));
    showTime(position, player->duration());
}

// The engine reports the position many times a second; the slider is repainted only when its
// handle moves by a pixel, which on a long lesson is seldom.
void PlayerWindow::moveSlider(int position)
{
    QSlider *slider = ui->horizontalSlider;
    const auto pixelOf = [slider](int value) {
        return QStyle::sliderPositionFromValue(slider->minimum(), slider->maximum(), value, slider->width());
    };
    const int value = qBound(slider->minimum(), position, slider->maximum());
    if (value == slider->value() || (slider->isVisible() && pixelOf(value) == pixelOf(slider->value())))
        return;
    slider->setValue(value);
}

void PlayerWindow::onMediaStatusChanged(QMediaPlayer::MediaStatus status)
{
    if (status == QMediaPlayer::InvalidMedia)
        handleKeptKeys();
    if (status != QMediaPlayer::LoadedMedia)
        return;
    if (player->duration() != session->duration())
        session->setDuration(player->duration());
    session->onMediaLoaded();
    handleKeptKeys();
}

void PlayerWindow::showTime(qint64 position, qint64 duration)
{
    // Shown to the second: most reports leave the text as it is, and the label is not touched.
    const QString text = SentenceTiming::formatTime(position) + " / " + SentenceTiming::formatTime(duration);
    if (ui->labelCurrentTime->text() != text)
        ui->labelCurrentTime->setText(text);
}

void PlayerWindow::onDurationChanged(qint64 duration)
{
    ui->horizontalSlider->setRange(0, int(duration));
    showTime(player->position(), duration);
    session->setDuration(duration);
}

void PlayerWindow::onRepeatCountChanged(int value)
{
    session->setRepeatCount(value);
    savePlayModeSettings();
}

void PlayerWindow::onPlayModeChanged(int index)
{
    session->setPlayMode(index >= 0 && index <= 2 ? PlayMode(index) : PlayMode::Repeat);
    savePlayModeSettings();
}

// The mode played, which a lesson without sentences keeps at normal play.
void PlayerWindow::showPlayMode(PlayMode mode)
{
    const bool manualMoves = mode == PlayMode::Repeat;
    ui->btnNextSentence->setEnabled(manualMoves);
    ui->btnSkipSentence->setEnabled(manualMoves);
    updateRepeatControls();
    if (ui->comboPlayMode->currentIndex() != int(mode)) {
        const QSignalBlocker blocker(ui->comboPlayMode);
        ui->comboPlayMode->setCurrentIndex(int(mode));
    }
}

void PlayerWindow::savePlayModeSettings()
{
    Settings stored = Settings::load();
    stored.playMode = session->requestedPlayMode();
    stored.repeatCount = session->repeatCount();
    stored.save();
}

// While the learner speaks the drill goes on: the button stops it.
void PlayerWindow::showPlaybackState()
{
    const bool going =
        player->playbackState() == QMediaPlayer::PlayingState || session->speakingPauseActive();
    ui->btnPlayPause->setText(going ? "⏹" : "▶");
}

void PlayerWindow::showText(const QString &text)
{
    video.subtitleItem->setPlainText(text);
    // The "never" display mode keeps the item hidden until the text is asked for.
    video.subtitleItem->setVisible(session->displayMode() != SubtitleDisplay::Never || session->isRevealed());
    backText();
    layoutSubtitle();
}

void PlayerWindow::onBtnBackClicked()
{
    close();
    QCoreApplication::exit(0);
}
