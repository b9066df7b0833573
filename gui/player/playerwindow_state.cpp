#include "gui/player/playerwindow.h"

#include "core/drill/sentencetiming.h"
#include "core/settings/settings.h"
#include "ui_playerwindow.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QSignalBlocker>

#include <algorithm>

// Persistence of the player state in the settings store.

void PlayerWindow::loadPlayerState()
{
    const Settings stored = Settings::load();
    lesson.file = stored.lastFile;
    lesson.workingDirectory = stored.rootDir;
    session->setPlayGroup(stored.playGroup);
    session->setChineseLinesHidden(stored.filterChinese);
    qDebug() << "loadPlayerState lesson.workingDirectory:" << lesson.workingDirectory;

    updateFilterChineseButton();
    readShadowingSettings();
    storedGroup2Pending = true;

    session->setRepeatCount(stored.repeatCount);
    session->setDisplayMode(stored.subtitleDisplay);
    session->setPlayMode(stored.playMode);
    // The rate box is not connected to the session: the player takes the rate as the box shows
    // it, within the box's range.
    ui->doubleSpinBoxRate->setValue(stored.playRate);
    {
        const QSignalBlocker quietRepeat(ui->spinRepeat);
        const QSignalBlocker quietMode(ui->comboSubtitleMode);
        ui->spinRepeat->setValue(stored.repeatCount);
        ui->comboSubtitleMode->setCurrentIndex(int(stored.subtitleDisplay));
    }
    player->setPlaybackRate(ui->doubleSpinBoxRate->value());

    // A window opened for a file plays that file, one opened without plays the last one. One
    // opened for a network address plays that, once its opener has set where its subtitle is.
    if (!mediaPath.isEmpty()) {
        lesson.file = mediaPath;
        mediaPath.clear();
    }
    if (lesson.file.isEmpty() || !QFile::exists(lesson.file))
        return;

    restorePlaceOnLoad();
    loadSubtitles(lesson.file);
    qDebug() << "sentences:" << session->sentences().size() << "group 2:" << session->group2().size()
             << "play list:" << session->playList().size();
}

// Where the learner left this lesson, taken up once it has loaded.
void PlayerWindow::restorePlaceOnLoad()
{
    const LessonPlace place = lesson.file.isEmpty() ? LessonPlace() : LessonPlace::load(lesson.file);
    qint64 position = place.position;
    int sentence = place.sentence;
    if (position < 0) {
        position = 0;
        sentence = -1;
    }
    session->restorePlaceOnLoad(position, sentence, place.repeatCounter);
}

void PlayerWindow::savePlayerState()
{
    // Destroyed before its engine was made (closing makes it): nothing of the lesson was opened,
    // what is stored stays.
    if (!player)
        return;
    Settings stored = Settings::load();
    stored.playMode = session->requestedPlayMode();
    stored.subtitleDisplay = session->displayMode();
    stored.playRate = player->playbackRate();
    stored.lastFile = lesson.file;
    stored.repeatCount = session->repeatCount();
    stored.playGroup = session->playGroup();
    stored.filterChinese = session->chineseLinesHidden();
    stored.windowGeometry = saveGeometry();
    stored.windowState = saveState(0);
    stored.save();

    // A file that could not be opened has no place in it; the one stored before stays.
    if (!lesson.file.isEmpty() && player->mediaStatus() != QMediaPlayer::InvalidMedia)
        LessonPlace{player->position(), session->repeatRound() % std::max(1, session->repeatCount()),
                    session->currentSentence()}
            .save(lesson.file);
}
