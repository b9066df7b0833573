#include "gui/player/playerwindow.h"

#include "core/settings/settings.h"
#include "ui_playerwindow.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QProcess>

// The hardware decoding switch, put into force by restarting the program.

// The media engine takes the choice when it is made, before it plays anything.
void PlayerWindow::readHardwareDecodingChoice()
{
    useQtMultimediaFFmpegBackend();
    hwDecode.enabled = Settings::load().hwDecode;
    updateHwDecodeButton();
}

void PlayerWindow::updateHwDecodeButton()
{
    if (!ui || !ui->btnHwDecode)
        return;
    if (hwDecode.enabled) {
        ui->btnHwDecode->setText("硬解:开");
        ui->btnHwDecode->setToolTip("硬件解码已开启（CPU 占用低）。点击关闭 → 程序自动重启并接着播。\n"
                                    "某部片子一播就闪退时，把它关掉再播。");
    } else {
        ui->btnHwDecode->setText("硬解:关");
        ui->btnHwDecode->setToolTip("硬件解码已关闭，改用 CPU 软解（兼容性最好）。点击重新开启。");
    }
}

// The media engine takes its choice only when it is made, so the new choice needs a new process,
// which reopens the current file at the position saved just before.
void PlayerWindow::toggleHardwareDecoding()
{
    hwDecode.enabled = !hwDecode.enabled;
    Settings stored = Settings::load();
    stored.hwDecode = hwDecode.enabled;
    stored.save();
    updateHwDecodeButton();
    savePlayerState();

    const QString program =
        hwDecode.restartProgram.isEmpty() ? QCoreApplication::applicationFilePath() : hwDecode.restartProgram;
    if (QProcess::startDetached(program, restartArguments(), QString())) {
        QCoreApplication::quit();
        return;
    }
    QMessageBox::information(
        this, "硬件解码",
        QString("已切换为「%1」，请手动重启程序后生效。").arg(hwDecode.enabled ? "硬解:开" : "硬解:关"));
}

QStringList PlayerWindow::restartArguments() const
{
    if (lesson.file.isEmpty())
        return {};
    return {QStringLiteral("--play"), lesson.file};
}
