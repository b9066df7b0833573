#include "gui/library/mainwindow.h"

#include "core/library/appdata.h"
#include "gui/player/playerwindow.h"
#include "core/subtitles/subtitlelookup.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QSettings>
#include <QSslSocket>
#include <QStatusBar>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    placeLabel = new QLabel(this);
    placeLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ui->statusbar->addWidget(placeLabel, 1);
    qDebug() << "SSL支持:" << QSslSocket::supportsSsl();
    qDebug() << "SSL版本:" << QSslSocket::sslLibraryVersionString();
    networkManager = new QNetworkAccessManager(this);
    rootDir = QCoreApplication::applicationDirPath();

    connect(ui->btnOrvi, &QPushButton::clicked, this, &MainWindow::loadNetworkCatalogue);
    connect(ui->btnSetDir, &QPushButton::clicked, this, &MainWindow::onSetDirClicked);
    connect(ui->btnExit, &QPushButton::clicked, this, &MainWindow::onExitClicked);
    connect(ui->listMedia, &QListWidget::itemDoubleClicked, this, &MainWindow::onFileDoubleClicked);

    loadRootDir();
}

MainWindow::~MainWindow()
{
    saveRootDir();
    delete ui;
}

void MainWindow::loadRootDir()
{
    QSettings settings("Orvi", "OrviLoop");
    settings.beginGroup("global");
    rootDir = settings.value("rootDir", appDataDirectory()).toString();
    settings.endGroup();
    if (!rootDir.isEmpty())
        loadMediaList(rootDir);
}

void MainWindow::saveRootDir()
{
    QSettings settings("Orvi", "OrviLoop");
    settings.beginGroup("global");
    settings.setValue("rootDir", rootDir);
    settings.endGroup();
    settings.sync();
}

void MainWindow::onSetDirClicked()
{
    const QString start = rootDir.isEmpty() ? QCoreApplication::applicationDirPath() : rootDir;
    const QString dir =
        QFileDialog::getExistingDirectory(this, tr("选择工作目录"), start, QFileDialog::ShowDirsOnly);
    qDebug() << QCoreApplication::applicationDirPath();
    qDebug() << rootDir;
    if (dir.isEmpty())
        return;
    rootDir = dir;
    loadMediaList(rootDir);
}

void MainWindow::loadMediaList(const QString &dir)
{
    ui->listMedia->clear();
    mediaFiles.clear();
    networkUrls.clear();
    pendingCatalogues.clear();
    statusBar()->clearMessage();

    QDir directory(dir);
    if (!directory.exists()) {
        showListedPlace("文件夹不存在：" + QDir::toNativeSeparators(dir));
        return;
    }
    showListedPlace("文件夹：" + QDir::toNativeSeparators(dir));
    // Whatever both media engines play.
    directory.setNameFilters({"*.mp4", "*.mkv", "*.avi", "*.mov", "*.m4v", "*.flv", "*.webm", "*.mp3",
                              "*.m4a", "*.aac", "*.wav", "*.flac", "*.ogg", "*.oga", "*.opus"});
    directory.setFilter(QDir::Files | QDir::NoDotAndDotDot);
    directory.setSorting(QDir::Name);
    mediaFiles = directory.entryInfoList();
    for (const QFileInfo &info : std::as_const(mediaFiles))
        ui->listMedia->addItem(info.fileName());
}

void MainWindow::showListedPlace(const QString &place)
{
    placeLabel->setText(place);
    placeLabel->setToolTip(place);
}

void MainWindow::onFileDoubleClicked(QListWidgetItem *item)
{
    if (!item)
        return;
    const int row = ui->listMedia->row(item);
    if (row < 0)
        return;

    QString target;
    if (!networkUrls.isEmpty()) {
        if (row >= networkUrls.size())
            return;
        target = networkUrls[row];
    } else {
        if (row >= mediaFiles.size())
            return;
        target = mediaFiles[row].absoluteFilePath();
    }
    if (target.isEmpty())
        return;
    qDebug() << "onFileDoubleClicked =" << target;

    if (target.startsWith("http", Qt::CaseInsensitive)) {
        downloadSubtitle(target, [this, target](const QString &) { openNetworkPlayer(target); });
        return;
    }
    openPlayer(target);
}

// Two windows on one lesson would each write their own times and groups over the other's.
PlayerWindow *MainWindow::openPlayerOf(const QString &lesson) const
{
    const bool network = !mediaUrlFor(lesson).isLocalFile();
    const QString wanted = network ? lesson : QFileInfo(lesson).canonicalFilePath();
    const auto players = findChildren<PlayerWindow *>(Qt::FindDirectChildrenOnly);
    for (PlayerWindow *player : players) {
        const QString open =
            network ? player->lessonFile() : QFileInfo(player->lessonFile()).canonicalFilePath();
        if (player->isVisible() && !open.isEmpty() && open == wanted)
            return player;
    }
    return nullptr;
}

bool MainWindow::raiseOpenPlayer(const QString &lesson) const
{
    PlayerWindow *open = openPlayerOf(lesson);
    if (!open)
        return false;
    open->setWindowState(open->windowState() & ~Qt::WindowMinimized);
    open->raise();
    open->activateWindow();
    return true;
}

void MainWindow::openPlayer(const QString &filePath)
{
    if (filePath.isEmpty() || !QFile::exists(filePath))
        return;
    if (raiseOpenPlayer(filePath))
        return;
    auto *playerWindow = new PlayerWindow(this, filePath);
    // A closed window is gone: it cannot write a stale place over a later window's at exit. It
    // saves its state as it closes, also by the window manager's button.
    playerWindow->setAttribute(Qt::WA_DeleteOnClose);

    // The player has looked for the subtitle in every form it reads, tracks inside the media too.
    if (!playerWindow->hasSubtitle())
        QMessageBox::warning(
            this, "提示",
            "未找到对应字幕（.srt1 / .srt / .vtt / .ass / .ssa / .lrc，或媒体内的字幕轨），将仅播放音视频");
    playerWindow->show();
}

void MainWindow::onExitClicked()
{
    close();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    qDebug() << "closeEvent" + rootDir;
    saveRootDir();
    QMainWindow::closeEvent(event);
}
