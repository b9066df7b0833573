#include "gui/library/mainwindow.h"

#include "gui/player/playerwindow.h"
#include "core/settings/settings.h"
#include "core/subtitles/subtitlelookup.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QSslSocket>
#include <QStatusBar>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    placeLabel = new QLabel(this);
    placeLabel->setObjectName("placeLabel");
    placeLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ui->statusbar->addWidget(placeLabel, 1);
    qDebug() << "SSL支持:" << QSslSocket::supportsSsl();
    qDebug() << "SSL版本:" << QSslSocket::sslLibraryVersionString();
    networkManager = new QNetworkAccessManager(this);
    rootDir = QCoreApplication::applicationDirPath();

    connect(ui->btnOrvi, &QPushButton::clicked, this, &MainWindow::loadNetworkCatalogue);
    connect(ui->btnSetDir, &QPushButton::clicked, this, &MainWindow::onSetDirClicked);
    connect(ui->btnExit, &QPushButton::clicked, this, &MainWindow::onExitClicked);
    // A double-click, or Enter on the row chosen with the arrow keys, opens the lesson.
    connect(ui->listMedia, &QListWidget::itemActivated, this, &MainWindow::onLessonActivated);
    fillSubtitleLanguages();
    ui->listMedia->setFocus();

    loadRootDir();
}

MainWindow::~MainWindow()
{
    saveRootDir();
    delete ui;
}

// The languages learners' lessons come in; a track's tag in any form of the code matches.
void MainWindow::fillSubtitleLanguages()
{
    static const QList<std::pair<const char *, const char *>> languages{
        {"", "字幕轨:第一条"}, {"en", "字幕轨:英语"},     {"zh", "字幕轨:中文"},    {"ja", "字幕轨:日语"},
        {"ko", "字幕轨:韩语"}, {"fr", "字幕轨:法语"},     {"de", "字幕轨:德语"},    {"es", "字幕轨:西班牙语"},
        {"ru", "字幕轨:俄语"}, {"it", "字幕轨:意大利语"}, {"pt", "字幕轨:葡萄牙语"}};
    for (const auto &[code, name] : languages)
        ui->comboSubtitleLanguage->addItem(QString::fromUtf8(name), QString::fromLatin1(code));
    // A code set by hand in the store is kept and shown as it is.
    const QString stored = Settings::load().subtitleLanguage;
    int row = ui->comboSubtitleLanguage->findData(stored);
    if (row < 0) {
        ui->comboSubtitleLanguage->addItem("字幕轨:" + stored, stored);
        row = ui->comboSubtitleLanguage->count() - 1;
    }
    ui->comboSubtitleLanguage->setCurrentIndex(row);
    connect(ui->comboSubtitleLanguage, &QComboBox::currentIndexChanged, this,
            &MainWindow::onSubtitleLanguageChosen);
}

// Taken by the lessons opened from now on whose sentences come from a track inside the media.
void MainWindow::onSubtitleLanguageChosen(int row)
{
    Settings stored = Settings::load();
    stored.subtitleLanguage = ui->comboSubtitleLanguage->itemData(row).toString();
    stored.save();
}

void MainWindow::loadRootDir()
{
    rootDir = Settings::load().rootDir;
    if (!rootDir.isEmpty())
        loadMediaList(rootDir);
}

void MainWindow::saveRootDir()
{
    Settings stored = Settings::load();
    stored.rootDir = rootDir;
    stored.save();
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
    const QFileInfoList files = directory.entryInfoList();
    for (const QFileInfo &info : files)
        addListedLesson(info.fileName(), info.absoluteFilePath());
}

// Each row carries what it opens: a file's path or a network video's address.
void MainWindow::addListedLesson(const QString &name, const QString &lesson)
{
    auto *item = new QListWidgetItem(name, ui->listMedia);
    item->setData(lessonRole, lesson);
    if (ui->listMedia->count() == 1)
        ui->listMedia->setCurrentItem(item);
}

void MainWindow::showListedPlace(const QString &place)
{
    placeLabel->setText(place);
    placeLabel->setToolTip(place);
}

void MainWindow::onLessonActivated(QListWidgetItem *item)
{
    if (!item)
        return;
    const QString target = item->data(lessonRole).toString();
    if (target.isEmpty())
        return;
    qDebug() << "onLessonActivated =" << target;

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
    // Shown first, its engine and lesson next: the window does not wait for the engine's libraries.
    auto *playerWindow =
        new PlayerWindow(this, filePath, nullptr, PlayerWindow::EngineStart::AfterFirstPaint);
    // A closed window is gone: it cannot write a stale place over a later window's at exit. It
    // saves its state as it closes, also by the window manager's button.
    playerWindow->setAttribute(Qt::WA_DeleteOnClose);

    // The player has looked for the subtitle in every form it reads, tracks inside the media too.
    // Queued: the warning waits for the learner outside the window's own start. Over the player,
    // which has the keys again once it is answered.
    connect(
        playerWindow, &PlayerWindow::lessonOpened, playerWindow,
        [playerWindow](bool subtitleFound) {
            if (!subtitleFound && playerWindow->isVisible())
                QMessageBox::warning(
                    playerWindow, "提示",
                    "未找到对应字幕（.srt1 / .srt / .vtt / .ass / .ssa / .lrc，或媒体内的字幕轨），"
                    "将仅播放音视频");
        },
        Qt::QueuedConnection);
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
