#include "gui/player/playerwindow.h"

#include "core/settings/settings.h"
#include "gui/player/takecontroller.h"
#include "core/subtitles/mendedtimes.h"

#include "ui_playerwindow.h"

#include <QDebug>
#include <QGraphicsVideoItem>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QTimer>

// Shadowing: a pause to speak after each pass, a rate per pass, the times of a sentence mended
// on the spot, and its text shown on demand.

using SentenceChoice::EndAction;

void PlayerWindow::readShadowingSettings()
{
    const Settings stored = Settings::load();
    shadowPauseChoice = stored.shadowPause;
    passRates = Shadowing::parseRates(stored.passRates, ui->doubleSpinBoxRate->minimum(),
                                      ui->doubleSpinBoxRate->maximum())
                    .value_or(QList<double>());
    const QSignalBlocker quietCombo(ui->comboShadowPause);
    ui->comboShadowPause->setCurrentIndex(shadowPauseChoice);
    ui->editPassRates->setText(Shadowing::formatRates(passRates));
}

// ---- the pause to speak ----

void PlayerWindow::createShadowPauseBar()
{
    shadowPauseBar = new QProgressBar(ui->videoView);
    shadowPauseBar->setFixedSize(200, 20);
    shadowPauseBar->setAlignment(Qt::AlignCenter);
    shadowPauseBar->setStyleSheet(
        "QProgressBar { background: rgba(0,0,0,100); color: white; border-radius: 10px; }"
        "QProgressBar::chunk { background: #30C060; border-radius: 10px; }");
    shadowPauseBar->setAttribute(Qt::WA_TransparentForMouseEvents);
    shadowPauseBar->hide();
    centerOverlayBars();

    shadowPause.timer = new QTimer(this);
    shadowPause.timer->setSingleShot(true);
    connect(shadowPause.timer, &QTimer::timeout, this, &PlayerWindow::finishShadowPause);
    shadowPause.ticker = new QTimer(this);
    shadowPause.ticker->setInterval(100);
    connect(shadowPause.ticker, &QTimer::timeout, this, &PlayerWindow::showShadowPauseLeft);
    clock.start();
}

void PlayerWindow::onShadowPauseChanged(int choice)
{
    shadowPauseChoice = std::clamp(choice, 0, 3);
    Settings stored = Settings::load();
    stored.shadowPause = shadowPauseChoice;
    stored.save();
    armEndPoint();
}

bool PlayerWindow::shadowPauseActive() const
{
    return shadowPause.timer && shadowPause.timer->isActive();
}

// The pass has been heard to its end: the learner speaks now, and playback goes on as the engine
// decided when the time is up.
void PlayerWindow::beginShadowPause(const EndAction &action, qint64 pauseMs)
{
    // The seek the engine decided on is made at once, paused, so that only the sound has to
    // start again when the time is up.
    player->pause();
    takes->onSpeakingPauseStarted(lastEndHandledIndex, pauseMs);
    shadowPause.runsOn = !carryOutEndAction(action);
    shadowPause.endsAtMs = clock.elapsed() + pauseMs;
    shadowPause.timer->start(int(pauseMs));
    shadowPause.ticker->start();
    shadowPauseBar->setRange(0, int(pauseMs));
    showShadowPauseLeft();
    shadowPauseBar->show();
    busyIndicator->hide();
    showPlaybackState();
}

void PlayerWindow::showShadowPauseLeft()
{
    const qint64 left = qMax<qint64>(0, shadowPause.endsAtMs - clock.elapsed());
    shadowPauseBar->setValue(int(left));
    shadowPauseBar->setFormat(QString("跟读 %1 秒").arg(double(left) / 1000.0, 0, 'f', 1));
}

// The time is up, or the learner ends the pause (Space): on as planned.
void PlayerWindow::finishShadowPause()
{
    if (!shadowPause.timer)
        return;
    takes->onSpeakingPauseEnded(lastEndHandledIndex);
    shadowPause.timer->stop();
    shadowPause.ticker->stop();
    shadowPauseBar->hide();
    if (shadowPause.runsOn)
        player->setEndPoint(-1);
    player->play();
}

// A seek, another play mode or another group: the plan is dropped, playback goes on.
void PlayerWindow::cancelShadowPause()
{
    if (!shadowPauseActive())
        return;
    takes->onSpeakingPauseEnded(lastEndHandledIndex);
    shadowPause.timer->stop();
    shadowPause.ticker->stop();
    shadowPauseBar->hide();
    player->play();
}

// ---- a rate per pass ----

void PlayerWindow::onPassRatesEdited()
{
    const auto rates = Shadowing::parseRates(ui->editPassRates->text(), ui->doubleSpinBoxRate->minimum(),
                                             ui->doubleSpinBoxRate->maximum());
    // A list that cannot be read is not taken: the field says so until it is mended.
    ui->editPassRates->setStyleSheet(rates ? QString() : QString("QLineEdit { background: #FFD0D0; }"));
    setFocus();
    if (!rates)
        return;
    passRates = *rates;
    Settings stored = Settings::load();
    stored.passRates = Shadowing::formatRates(passRates);
    stored.save();
    applyPassRate();
}

// In auto next each pass plays at its own rate; the rate box shows it.
void PlayerWindow::applyPassRate()
{
    if (playMode != 2 || passRates.isEmpty())
        return;
    ui->doubleSpinBoxRate->setValue(
        Shadowing::rateForPass(passRates, repeatRound, ui->doubleSpinBoxRate->value()));
}

// ---- mending the times ----

void PlayerWindow::moveSentenceEdge(Shadowing::Edge edge, qint64 deltaMs)
{
    if (Shadowing::moveEdge(subtitles, currentIndex, edge, deltaMs))
        saveCorrectedTimes();
}

void PlayerWindow::shiftSubtitle(qint64 deltaMs)
{
    if (Shadowing::shiftAll(subtitles, deltaMs))
        saveCorrectedTimes();
}

// The next pass takes the new times at once; the file takes them for the export and the next
// session.
void PlayerWindow::saveCorrectedTimes()
{
    armEndPoint();
    if (currentPlayList && !currentPlayList->isEmpty())
        updateSliderRange();
    if (subtitlePath.isEmpty())
        return;
    const MendedTimes::Saved saved = MendedTimes::save(subtitlePath, subtitles);
    if (saved == MendedTimes::Saved::InFile) {
        qDebug() << "字幕时间已修正:" << subtitlePath;
        return;
    }
    qDebug() << "无法写入字幕文件:" << subtitlePath;
    // Once per subtitle: every further key would only say it again.
    if (unwritableSubtitleTold == subtitlePath)
        return;
    unwritableSubtitleTold = subtitlePath;
    const QString kept = saved == MendedTimes::Saved::Kept ? "修正的时间已另存，再次打开本课时仍会使用"
                                                           : "修正的时间只在本次播放中有效";
    showNotice("无法写入字幕文件（文件夹只读或磁盘已满）：\n" + subtitlePath + "\n" + kept);
}

// ---- the text on demand ----

void PlayerWindow::setRevealed(bool shown)
{
    if (revealed == shown)
        return;
    revealed = shown;
    refreshSubtitle();
}
