#include "player/playerwindow.h"

#include "ui_playerwindow.h"

#include "export/exportcommands.h"
#include "export/subaudioexporter.h"
#include "subtitles/srtparser.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

// The player's export controls: the clips first, then the LRC and the joined MP3.

QString PlayerWindow::exportSubtitlePath(const QString &mediaFile)
{
    return ExportCommands::exportPaths(mediaFile).subtitlePath;
}

bool PlayerWindow::checkSentencesToExport(const QList<SubtitleItem> &items, const QString &subtitlePath)
{
    if (ExportCommands::hasExportableSentences(items))
        return true;
    // Starting anyway would end in an empty export and a window stuck in "生成中...".
    QMessageBox::information(this, "提示",
                             "没有可导出的句子：找不到字幕文件，或其中没有有效的句子\n" + subtitlePath);
    return false;
}

void PlayerWindow::showExportFailure(const QString &msg)
{
    ui->btnExportMp3->setEnabled(true);
    ui->btnFilterMp3->setEnabled(true);
    ui->btnExportMp3->setText("导出音轨");
    setWindowTitle(msg);
    QMessageBox::warning(this, "提示", msg);
}

void PlayerWindow::onExportMp3Clicked()
{
    if (!ui->btnExportMp3->isEnabled())
        return;
    const ExportCommands::ExportPaths paths = ExportCommands::exportPaths(currentFile);
    const QList<SubtitleItem> items = parseSrtFile(paths.subtitlePath);
    if (!checkSentencesToExport(items, paths.subtitlePath))
        return;

    ui->btnExportMp3->setEnabled(false);
    ui->btnFilterMp3->setEnabled(false);
    ui->btnExportMp3->setText("导出中...");

    auto *exporter = new SubAudioExporter(this);
    connect(exporter, &SubAudioExporter::logMessage, this, [this](const QString &msg) {
        setWindowTitle(msg);
        ui->btnExportMp3->setText("导出中...");
        QMessageBox::information(this, "提示", "导出中，可能需要几分钟，请耐心等候...");
    });
    connect(exporter, &SubAudioExporter::progress, this, [this](int current, int total) {
        setWindowTitle(QString("导出中 %1 / %2").arg(current).arg(total));
    });
    connect(exporter, &SubAudioExporter::finished, this, [this, exporter](const QString &msg) {
        ui->btnExportMp3->setEnabled(true);
        ui->btnFilterMp3->setEnabled(true);
        ui->btnExportMp3->setText("导出音轨");
        setWindowTitle(msg);
        exporter->deleteLater();
        onFilterMp3Clicked();
    });
    connect(exporter, &SubAudioExporter::failed, this, [this, exporter](const QString &msg) {
        exporter->deleteLater();
        showExportFailure(msg);
    });
    // The worker is a child of this window: if the window goes first, the job's
    // remaining signals are dropped with it.
    exporter->fastExportAsync(currentFile, items, paths.clipDir);
}

void PlayerWindow::onFilterMp3Clicked()
{
    if (!ui->btnFilterMp3->isEnabled())
        return;
    const ExportCommands::ExportPaths paths = ExportCommands::exportPaths(currentFile);
    if (!QDir().mkpath(paths.outputDir)) {
        qDebug() << "❌ cannot create directory:" << paths.outputDir;
        showExportFailure("无法创建目录：" + paths.outputDir);
        return;
    }
    const QList<SubtitleItem> items = parseSrtFile(paths.subtitlePath);
    if (!checkSentencesToExport(items, paths.subtitlePath))
        return;

    ui->btnExportMp3->setEnabled(false);
    ui->btnFilterMp3->setEnabled(false);
    ui->btnFilterMp3->setText("处理中...");

    auto *exporter = new SubAudioExporter(this);
    connect(exporter, &SubAudioExporter::logMessage, this, [this](const QString &msg) {
        setWindowTitle(msg);
        ui->btnExportMp3->setText("生成中...");
    });
    connect(exporter, &SubAudioExporter::finished, this, [this, exporter](const QString &msg) {
        exporter->deleteLater();
        ui->btnExportMp3->setEnabled(true);
        ui->btnFilterMp3->setEnabled(true);
        ui->btnExportMp3->setText("成功生成");
        setWindowTitle(msg);
        QMessageBox::information(this, "提示", msg);
    });
    connect(exporter, &SubAudioExporter::failed, this, [this, exporter](const QString &msg) {
        exporter->deleteLater();
        showExportFailure(msg);
    });
    // The LRC is written from the clips before the join removes them, so the two run in turn.
    exporter->generateLrcAndMp3Async(paths.clipDir, paths.outputDir, items, paths.baseName);
}
