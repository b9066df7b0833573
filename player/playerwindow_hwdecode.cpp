#include "player/playerwindow.h"

#include "ui_playerwindow.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QProcess>
#include <QSettings>

// The hardware decoding switch, put into force by restarting the program.

namespace {

#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
// The FFmpeg back end of Qt before 6.5 ignores QT_FFMPEG_DECODING_HW_DEVICE_TYPES and tries every
// hardware device the codec offers (VA-API, VDPAU, CUDA). Pointing each library at a driver or
// device that does not exist makes its initialisation fail, so the back end decodes in software.
struct HardwareBlock
{
    const char *variable;
    const char *value;
};
constexpr HardwareBlock hardwareBlocks[] = {
    {"LIBVA_DRIVER_NAME", "orviloop-software-only"},
    {"VDPAU_DRIVER", "orviloop-software-only"},
    {"CUDA_VISIBLE_DEVICES", "-1"},
};

void blockHardwareDecoders()
{
    for (const HardwareBlock &block : hardwareBlocks)
        qputenv(block.variable, block.value);
}

// Only our own values are taken back: a driver the user chose stays chosen. Our values may
// also come from the instance that restarted us, as the environment is inherited.
void releaseHardwareDecoders()
{
    for (const HardwareBlock &block : hardwareBlocks) {
        if (qgetenv(block.variable) == block.value)
            qunsetenv(block.variable);
    }
}
#endif

} // namespace

void PlayerWindow::applyMediaBackendEnvironment()
{
    qputenv("QT_MEDIA_BACKEND", "ffmpeg");
    hwDecodeEnabled = QSettings("Orvi", "OrviLoop").value("global/hwDecode", true).toBool();
    if (hwDecodeEnabled)
        qunsetenv("QT_FFMPEG_DECODING_HW_DEVICE_TYPES");
    else
        qputenv("QT_FFMPEG_DECODING_HW_DEVICE_TYPES", "none");
#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
    if (hwDecodeEnabled)
        releaseHardwareDecoders();
    else
        blockHardwareDecoders();
#endif
    updateHwDecodeButton();
}

void PlayerWindow::updateHwDecodeButton()
{
    if (!ui || !ui->btnHwDecode)
        return;
    if (hwDecodeEnabled) {
        ui->btnHwDecode->setText("硬解:开");
        ui->btnHwDecode->setToolTip("硬件解码已开启（CPU 占用低）。点击关闭 → 程序自动重启并接着播。\n"
                                    "某部片子一播就闪退时，把它关掉再播。");
    } else {
        ui->btnHwDecode->setText("硬解:关");
        ui->btnHwDecode->setToolTip("硬件解码已关闭，改用 CPU 软解（兼容性最好）。点击重新开启。");
    }
}

// The back end reads its choice only at start, so the new choice needs a new process,
// which reopens the current file at the position saved just before.
void PlayerWindow::toggleHardwareDecoding()
{
    hwDecodeEnabled = !hwDecodeEnabled;
    {
        QSettings settings("Orvi", "OrviLoop");
        settings.setValue("global/hwDecode", hwDecodeEnabled);
        settings.sync();
    }
    updateHwDecodeButton();
    savePlayerState();

    const QString program =
        restartProgram.isEmpty() ? QCoreApplication::applicationFilePath() : restartProgram;
    if (QProcess::startDetached(program, restartArguments(), QString())) {
        QCoreApplication::quit();
        return;
    }
    QMessageBox::information(
        this, "硬件解码",
        QString("已切换为「%1」，请手动重启程序后生效。").arg(hwDecodeEnabled ? "硬解:开" : "硬解:关"));
}

QStringList PlayerWindow::restartArguments() const
{
    if (currentFile.isEmpty())
        return {};
    return {QStringLiteral("--play"), currentFile};
}
