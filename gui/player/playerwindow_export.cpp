#include "gui/player/playerwindow.h"

#include "ui_playerwindow.h"

#include "core/export/exportcommands.h"
#include "core/export/subaudioexporter.h"
#include "core/subtitles/srtparser.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QMessageBox>

#include <functional>

// The player's export controls: the clips first, then the LRC and the joined MP3, both phases
// by one worker that holds the media's clip directory from the press to the end.

namespace {

// A window title is one line: a line break in a message would show as a box.
QString asTitle(const QString &message)
{
    return QString(message).replace('\n', ' ');
}

// Runs onClose when the window closes: an export nobody can see end must not run on, and a
// program that quits would otherwise wait for every clip of the lesson.
class ExportCloseWatcher : public QObject
{
public:
    ExportCloseWatcher(QWidget *window, SubAudioExporter *exporter, std::function<void()> onClose)
        : QObject(exporter)
        , m_onClose(std::move(onClose))
    {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Close)
            m_onClose();
        return false;
    }

private:
    std::function<void()> m_onClose;
};

} // namespace

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

// The clips and the joined file are written beside the lesson. In a folder that takes nothing
// the subtitle is not even adopted, so "no subtitle" would name the wrong cause.
bool PlayerWindow::checkExportFolderWritable()
{
    const QFileInfo folder(QFileInfo(lesson.file).absolutePath());
    if (!folder.exists() || folder.isWritable())
        return true;
    QMessageBox::warning(this, "提示", "文件夹只读，无法导出：\n" + folder.filePath());
    return false;
}

SubAudioExporter *PlayerWindow::createExporter(const QString &clipDir)
{
    auto *exporter = new SubAudioExporter(this);
    const QString obstacle = exporter->claimClipDir(clipDir);
    if (!obstacle.isEmpty()) {
        delete exporter;
        QMessageBox::warning(this, "提示", obstacle);
        return nullptr;
    }
    // Deleting the worker stops its jobs and, once their ffmpeg have ended, frees the folder.
    new ExportCloseWatcher(this, exporter, [this, exporter] {
        disconnect(exporter, nullptr, this, nullptr);
        exporter->deleteLater();
        resetExportControls();
    });
    return exporter;
}

void PlayerWindow::resetExportControls()
{
    ui->btnExportMp3->setEnabled(true);
    ui->btnFilterMp3->setEnabled(true);
    ui->btnExportMp3->setText("导出音轨");
    ui->btnFilterMp3->setText("生成MP3");
}

void PlayerWindow::showExportFailure(const QString &msg)
{
    resetExportControls();
    setWindowTitle(asTitle(msg));
    QMessageBox::warning(this, "提示", msg);
}

void PlayerWindow::onExportMp3Clicked()
{
    if (!ui->btnExportMp3->isEnabled() || !checkExportFolderWritable())
        return;
    const ExportCommands::ExportPaths paths = ExportCommands::exportPaths(lesson.file);
    const QList<SubtitleItem> items = parseSrtFile(paths.subtitlePath);
    if (!checkSentencesToExport(items, paths.subtitlePath))
        return;
    SubAudioExporter *exporter = createExporter(paths.clipDir);
    if (!exporter)
        return;

    ui->btnExportMp3->setEnabled(false);
    ui->btnFilterMp3->setEnabled(false);
    ui->btnExportMp3->setText("导出中...");

    // The title tells how far it is; one message, at the very end, is all the learner has to
    // close.
    connect(exporter, &SubAudioExporter::logMessage, this, [this](const QString &msg) {
        setWindowTitle(asTitle(msg));
        ui->btnExportMp3->setText("导出中...");
    });
    connect(exporter, &SubAudioExporter::progress, this, [this](int current, int total) {
        setWindowTitle(QString("导出中 %1 / %2").arg(current).arg(total));
    });
    connect(exporter, &SubAudioExporter::finished, this, [this, exporter](const QString &msg) {
        resetExportControls();
        setWindowTitle(asTitle(msg));
        // The same worker goes on, so the folder stays claimed between the two phases.
        disconnect(exporter, nullptr, this, nullptr);
        startGeneration(exporter);
    });
    connect(exporter, &SubAudioExporter::failed, this, [this, exporter](const QString &msg) {
        exporter->deleteLater();
        showExportFailure(msg);
    });
    exporter->fastExportAsync(lesson.file, items, paths.clipDir);
}

void PlayerWindow::onFilterMp3Clicked()
{
    if (!ui->btnFilterMp3->isEnabled() || !checkExportFolderWritable())
        return;
    if (SubAudioExporter *exporter = createExporter(ExportCommands::exportPaths(lesson.file).clipDir))
        startGeneration(exporter);
}

void PlayerWindow::startGeneration(SubAudioExporter *exporter)
{
    const ExportCommands::ExportPaths paths = ExportCommands::exportPaths(lesson.file);
    const QList<SubtitleItem> items = parseSrtFile(paths.subtitlePath);
    if (!checkSentencesToExport(items, paths.subtitlePath)) {
        exporter->deleteLater(); // it may be telling the end of the clips just now
        return;
    }

    ui->btnExportMp3->setEnabled(false);
    ui->btnFilterMp3->setEnabled(false);
    ui->btnFilterMp3->setText("处理中...");

    connect(exporter, &SubAudioExporter::logMessage, this, [this](const QString &msg) {
        setWindowTitle(asTitle(msg));
        ui->btnExportMp3->setText("生成中...");
    });
    connect(exporter, &SubAudioExporter::finished, this, [this, exporter](const QString &msg) {
        exporter->deleteLater();
        resetExportControls(); // ready for the next export
        setWindowTitle(asTitle(msg));
        QMessageBox::information(this, "提示", msg);
    });
    connect(exporter, &SubAudioExporter::failed, this, [this, exporter](const QString &msg) {
        exporter->deleteLater();
        showExportFailure(msg);
    });
    exporter->generateLrcAndMp3Async(paths.clipDir, paths.outputDir, items, paths.baseName);
}
