#include "player/playerwindow.h"

#include "app/appdata.h"
#include "groups/group2store.h"
#include "ui_playerwindow.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <cmath>

// Persistence of the player state in the settings store.

namespace {

// The group holding one file's position: the file is known by the hash of its path
// exactly as stored, so another spelling of the same path is another entry.
QString fileGroup(const QString &file)
{
    return QString("files/%1").arg(qHash(file, 0));
}

bool mediaHasLoaded(QMediaPlayer::MediaStatus status)
{
    return status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferingMedia ||
           status == QMediaPlayer::BufferedMedia;
}

int storedPlayMode(int mode)
{
    return mode >= 0 && mode <= 2 ? mode : 1;
}

// A damaged store may hold anything; the back end gets a finite rate in 0.1 … 5.0.
double storedPlaybackRate(double rate)
{
    if (!std::isfinite(rate))
        return 1.0;
    return std::clamp(rate, 0.1, 5.0);
}

} // namespace

void PlayerWindow::loadPlayerState()
{
    double rate = 1.0;
    {
        QSettings settings("Orvi", "OrviLoop");
        settings.beginGroup("global");
        playMode = storedPlayMode(settings.value("playMode", 1).toInt());
        requestedPlayMode = playMode;
        subtitleDisplayMode = settings.value("subtitleDisplayMode", 0).toInt();
        rate = settings.value("playRate", 1.0).toDouble();
        currentFile = settings.value("lastFile", QString()).toString();
        repeatCount = std::max(1, settings.value("repeatCount", 1).toInt());
        playGroup = settings.value("playGroup", 0).toInt();
        filterChineseEnabled = settings.value("filterChineseEnabled", false).toBool();
        rootDir = settings.value("rootDir", appDataDirectory()).toString();
        ui->doubleSpinBoxRate->setValue(rate);
        settings.endGroup();
    }
    qDebug() << "loadPlayerState rootDir:" << rootDir;

    updateFilterChineseButton();
    detectChineseText();
    groupRightIndexes = Group2Store::read();

    // The repeat and mode widgets are connected already: setting them acts like the user.
    ui->doubleSpinBoxRate->setValue(rate);
    ui->spinRepeat->setValue(repeatCount);
    ui->comboPlayMode->setCurrentIndex(playMode);
    ui->comboSubtitleMode->setCurrentIndex(subtitleDisplayMode);
    player->setPlaybackRate(storedPlaybackRate(rate));

    requestedPlayMode = storedPlayMode(requestedPlayMode);
    if (subtitles.isEmpty()) {
        playModePending = requestedPlayMode != 0;
        applyPlayMode(0, false);
    } else {
        playModePending = false;
        applyPlayMode(requestedPlayMode, true);
    }

    // A window opened for a file plays that file, one opened without plays the last one.
    if (!mediaPath.isEmpty()) {
        currentFile = mediaPath;
        mediaPath.clear();
    }
    if (currentFile.isEmpty() || !QFile::exists(currentFile))
        return;

    loadSubtitles(currentFile);
    qDebug() << "groupAllIndexes:" << groupAllIndexes.size() << "groupLeftIndexes:" << groupLeftIndexes.size()
             << "groupRightIndexes:" << groupRightIndexes.size()
             << "currentPlayList:" << (currentPlayList ? currentPlayList->size() : 0);
    detectChineseText();
    connect(player, &QMediaPlayer::mediaStatusChanged, this, &PlayerWindow::restorePosition);
    restoreIfAlreadyLoaded();
}

// Qt 6.4's FFmpeg back end reports LoadedMedia at once when the player is moved while the
// media is still opening, which the play list does while the subtitles load: the restore
// would then wait for a notification that never comes. It runs on the next turn of the
// event loop instead, unless the real notification or another source came first.
void PlayerWindow::restoreIfAlreadyLoaded()
{
    QTimer::singleShot(0, this, [this] {
        if (!mediaHasLoaded(player->mediaStatus()))
            return;
        if (QObject::disconnect(player, &QMediaPlayer::mediaStatusChanged, this,
                                &PlayerWindow::restorePosition))
            restorePosition(QMediaPlayer::LoadedMedia);
    });
}

void PlayerWindow::restorePosition(QMediaPlayer::MediaStatus status)
{
    if (status != QMediaPlayer::LoadedMedia)
        return;
    // One shot: later status changes (another source, end of media) reach nobody.
    QObject::disconnect(player, &QMediaPlayer::mediaStatusChanged, nullptr, nullptr);

    qint64 position = 0;
    int counter = 0;
    if (!currentFile.isEmpty()) {
        QSettings settings("Orvi", "OrviLoop");
        settings.beginGroup(fileGroup(currentFile));
        position = settings.value("position", qint64(0)).toLongLong();
        counter = settings.value("repeatCounter", 0).toInt();
        settings.endGroup();
    }
    // The file may have been replaced by a shorter one since the position was stored.
    if (position < 0 || position > player->duration())
        position = 0;

    seekToPosition(position);
    repeatRound = std::clamp(counter, 0, repeatCount - 1);
    refreshSubtitle();
    reapplyPlaybackRate();
    player->play();
}

// Qt 6.4's FFmpeg back end opens each source at normal speed whatever rate the player holds:
// a rate set before the media loaded (the stored one, or the learner's for the previous
// lesson) reads back from playbackRate() but is not played. The back end takes no notice of
// the rate it already holds, so it is moved off it and back. Every rate change opens a new
// audio output, and this is done at normal speed too: an output opened with the media holds
// a little of its start, which would be heard before the first sentence.
void PlayerWindow::reapplyPlaybackRate()
{
    const qreal rate = player->playbackRate();
    const QSignalBlocker quiet(player);
    player->setPlaybackRate(rate == 1.0 ? 0.5 : 1.0);
    player->setPlaybackRate(rate);
    noteNewAudioOutput();
}

void PlayerWindow::savePlayerState()
{
    QSettings settings("Orvi", "OrviLoop");
    settings.beginGroup("global");
    settings.setValue("playMode", requestedPlayMode);
    settings.setValue("subtitleDisplayMode", subtitleDisplayMode);
    settings.setValue("playRate", player->playbackRate());
    settings.setValue("lastFile", currentFile);
    settings.setValue("repeatCount", repeatCount);
    settings.setValue("currentGroup", playGroup);
    settings.setValue("playGroup", playGroup);
    settings.setValue("filterChineseEnabled", filterChineseEnabled);
    settings.setValue("playbackRate", ui->doubleSpinBoxRate->value());
    settings.endGroup();

    if (!currentFile.isEmpty()) {
        settings.beginGroup(fileGroup(currentFile));
        settings.setValue("position", player->position());
        settings.setValue("repeatCounter", repeatRound % std::max(1, repeatCount));
        settings.endGroup();
    }

    settings.beginGroup("ui");
    settings.setValue("geometry", saveGeometry());
    settings.setValue("windowState", saveState(0));
    settings.endGroup();
    settings.sync();
}
