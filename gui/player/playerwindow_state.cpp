#include "gui/player/playerwindow.h"

#include "core/library/appdata.h"
#include "core/drill/sentencetiming.h"
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

// A damaged store may hold anything; the rate box takes a finite rate.
double storedPlaybackRate(double rate)
{
    return std::isfinite(rate) ? rate : 1.0;
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
        settings.endGroup();
    }
    qDebug() << "loadPlayerState rootDir:" << rootDir;

    updateFilterChineseButton();
    readShadowingSettings();
    storedGroup2Pending = true;

    // The repeat and mode widgets are connected already: setting them acts like the user. The
    // rate box is not: the player takes the rate as the box shows it, within the box's range.
    ui->doubleSpinBoxRate->setValue(storedPlaybackRate(rate));
    ui->spinRepeat->setValue(repeatCount);
    ui->comboPlayMode->setCurrentIndex(playMode);
    ui->comboSubtitleMode->setCurrentIndex(subtitleDisplayMode);
    player->setPlaybackRate(ui->doubleSpinBoxRate->value());

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
    connect(player, &MediaEngine::mediaStatusChanged, this, &PlayerWindow::restorePosition);
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
        if (QObject::disconnect(player, &MediaEngine::mediaStatusChanged, this,
                                &PlayerWindow::restorePosition))
            restorePosition(QMediaPlayer::LoadedMedia);
    });
}

void PlayerWindow::restorePosition(QMediaPlayer::MediaStatus status)
{
    if (status != QMediaPlayer::LoadedMedia)
        return;
    // One shot: later status changes (another source, end of media) reach nobody.
    QObject::disconnect(player, &MediaEngine::mediaStatusChanged, nullptr, nullptr);

    qint64 position = 0;
    int counter = 0;
    int sentence = -1;
    if (!currentFile.isEmpty()) {
        QSettings settings("Orvi", "OrviLoop");
        settings.beginGroup(fileGroup(currentFile));
        position = settings.value("position", qint64(0)).toLongLong();
        counter = settings.value("repeatCounter", 0).toInt();
        sentence = settings.value("sentence", -1).toInt();
        settings.endGroup();
    }
    // The file may have been replaced by a shorter one since the position was stored.
    if (position < 0 || position > player->duration()) {
        position = 0;
        sentence = -1;
    }
    restoreSentence(position, sentence);
    setRepeatRound(std::clamp(counter, 0, repeatCount - 1));
    refreshSubtitle();
    player->play();
}

// The tail of one sentence and the lead-in of the next overlap: a position stored there returns
// to the sentence that was current, when the store says which one it was.
void PlayerWindow::restoreSentence(qint64 position, int sentence)
{
    const bool inPlayList = isSentenceIndex(sentence) && currentPlayList &&
                            (currentPlayList->isEmpty() || currentPlayList->contains(sentence));
    if (!inPlayList || position < sentenceLeadStart(sentence) ||
        position > SentenceTiming::passEndPoint(subtitles, sentence)) {
        seekToPosition(position);
        return;
    }
    beginSentencePass(sentence);
    movePlayer(position, qMax(position, subtitles.at(sentence).startMs));
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

    // A file that could not be opened has no place in it; the one stored before stays.
    if (!currentFile.isEmpty() && player->mediaStatus() != QMediaPlayer::InvalidMedia) {
        settings.beginGroup(fileGroup(currentFile));
        settings.setValue("position", player->position());
        settings.setValue("repeatCounter", repeatRound % std::max(1, repeatCount));
        settings.setValue("sentence", currentIndex);
        settings.endGroup();
    }

    settings.beginGroup("ui");
    settings.setValue("geometry", saveGeometry());
    settings.setValue("windowState", saveState(0));
    settings.endGroup();
    settings.sync();
}
