#include "gui/player/playerwindow.h"

#include "core/settings/settings.h"
#include "gui/player/takecontroller.h"
#include "core/subtitles/mendedtimes.h"

#include "ui_playerwindow.h"

#include <QDebug>
#include <QProgressBar>
#include <QSignalBlocker>

// Shadowing: the pause to speak after each pass drawn, a rate per pass, the times of a sentence
// mended on the spot.

void PlayerWindow::readShadowingSettings()
{
    const Settings stored = Settings::load();
    const int pauseChoice = stored.shadowPause;
    const QList<double> rates = Shadowing::parseRates(stored.passRates, ui->doubleSpinBoxRate->minimum(),
                                                      ui->doubleSpinBoxRate->maximum())
                                    .value_or(QList<double>());
    session->setPauseChoice(pauseChoice);
    session->setPassRates(rates);
    const QSignalBlocker quietCombo(ui->comboShadowPause);
    ui->comboShadowPause->setCurrentIndex(pauseChoice);
    ui->editPassRates->setText(Shadowing::formatRates(rates));
}

// ---- the pause to speak ----

void PlayerWindow::createShadowPauseBar()
{
    overlay.shadowPauseBar = new QProgressBar(ui->videoView);
    overlay.shadowPauseBar->setObjectName("shadowPauseBar");
    overlay.shadowPauseBar->setFixedSize(200, 20);
    overlay.shadowPauseBar->setAlignment(Qt::AlignCenter);
    overlay.shadowPauseBar->setStyleSheet(
        "QProgressBar { background: rgba(0,0,0,100); color: white; border-radius: 10px; }"
        "QProgressBar::chunk { background: #30C060; border-radius: 10px; }");
    overlay.shadowPauseBar->setAttribute(Qt::WA_TransparentForMouseEvents);
    overlay.shadowPauseBar->hide();
    centerOverlayBars();
}

void PlayerWindow::onShadowPauseChanged(int choice)
{
    session->setPauseChoice(choice);
    Settings stored = Settings::load();
    stored.shadowPause = std::clamp(choice, 0, 3);
    stored.save();
}

// The pass has been heard to its end: the learner speaks now.
void PlayerWindow::showShadowPause(int sentence, qint64 lengthMs)
{
    overlay.shadowPauseBar->setRange(0, int(lengthMs));
    showShadowPauseLeft(sentence, lengthMs);
    overlay.shadowPauseBar->show();
    overlay.busyIndicator->hide();
    showPlaybackState();
}

void PlayerWindow::showShadowPauseLeft(int, qint64 leftMs)
{
    overlay.shadowPauseBar->setValue(int(leftMs));
    overlay.shadowPauseBar->setFormat(QString("跟读 %1 秒").arg(double(leftMs) / 1000.0, 0, 'f', 1));
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
    session->setPassRates(*rates);
    Settings stored = Settings::load();
    stored.passRates = Shadowing::formatRates(*rates);
    stored.save();
}

// ---- mending the times ----

void PlayerWindow::moveSentenceEdge(Shadowing::Edge edge, qint64 deltaMs)
{
    if (session->moveSentenceEdge(edge, deltaMs))
        saveCorrectedTimes();
}

void PlayerWindow::shiftSubtitle(qint64 deltaMs)
{
    if (session->shiftSentences(deltaMs))
        saveCorrectedTimes();
}

// The next pass takes the new times at once; the file takes them for the export and the next
// session.
void PlayerWindow::saveCorrectedTimes()
{
    if (!session->playList().isEmpty())
        updateSliderRange();
    if (lesson.subtitlePath.isEmpty())
        return;
    const MendedTimes::Saved saved = MendedTimes::save(lesson.subtitlePath, session->sentences());
    if (saved == MendedTimes::Saved::InFile) {
        qDebug() << "字幕时间已修正:" << lesson.subtitlePath;
        return;
    }
    qDebug() << "无法写入字幕文件:" << lesson.subtitlePath;
    // Once per subtitle: every further key would only say it again.
    if (lesson.unwritableSubtitleTold == lesson.subtitlePath)
        return;
    lesson.unwritableSubtitleTold = lesson.subtitlePath;
    const QString kept = saved == MendedTimes::Saved::Kept ? "修正的时间已另存，再次打开本课时仍会使用"
                                                           : "修正的时间只在本次播放中有效";
    showNotice("无法写入字幕文件（文件夹只读或磁盘已满）：\n" + lesson.subtitlePath + "\n" + kept);
}
