#include "gui/player/playerwindow.h"

#include "core/drill/sentencetiming.h"
#include "core/settings/settings.h"
#include "ui_playerwindow.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cmath>

// Persistence of the player state in the settings store.

namespace {

bool mediaHasLoaded(QMediaPlayer::MediaStatus status)
{
    return status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferingMedia ||
           status == QMediaPlayer::BufferedMedia;
}

} // namespace

void PlayerWindow::loadPlayerState()
{
    const Settings stored = Settings::load();
    playMode = int(stored.playMode);
    requestedPlayMode = playMode;
    subtitleDisplayMode = int(stored.subtitleDisplay);
    const double rate = stored.playRate;
    currentFile = stored.lastFile;
    repeatCount = stored.repeatCount;
    playGroup = int(stored.playGroup);
    filterChineseEnabled = stored.filterChinese;
    rootDir = stored.rootDir;
    qDebug() << "loadPlayerState rootDir:" << rootDir;

    updateFilterChineseButton();
    readShadowingSettings();
    storedGroup2Pending = true;

    // The repeat and mode widgets are connected already: setting them acts like the user. The
    // rate box is not: the player takes the rate as the box shows it, within the box's range.
    ui->doubleSpinBoxRate->setValue(rate);
    ui->spinRepeat->setValue(repeatCount);
    ui->comboPlayMode->setCurrentIndex(playMode);
    ui->comboSubtitleMode->setCurrentIndex(subtitleDisplayMode);
    player->setPlaybackRate(ui->doubleSpinBoxRate->value());

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

    const LessonPlace place = currentFile.isEmpty() ? LessonPlace() : LessonPlace::load(currentFile);
    qint64 position = place.position;
    int sentence = place.sentence;
    // The file may have been replaced by a shorter one since the position was stored.
    if (position < 0 || position > player->duration()) {
        position = 0;
        sentence = -1;
    }
    restoreSentence(position, sentence);
    setRepeatRound(std::clamp(place.repeatCounter, 0, repeatCount - 1));
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
    Settings stored = Settings::load();
    stored.playMode = PlayMode(requestedPlayMode);
    stored.subtitleDisplay = SubtitleDisplay(subtitleDisplayMode);
    stored.playRate = player->playbackRate();
    stored.lastFile = currentFile;
    stored.repeatCount = repeatCount;
    stored.playGroup = PlayGroup(playGroup);
    stored.filterChinese = filterChineseEnabled;
    stored.windowGeometry = saveGeometry();
    stored.windowState = saveState(0);
    stored.save();

    // A file that could not be opened has no place in it; the one stored before stays.
    if (!currentFile.isEmpty() && player->mediaStatus() != QMediaPlayer::InvalidMedia)
        LessonPlace{player->position(), repeatRound % std::max(1, repeatCount), currentIndex}.save(
            currentFile);
}
