#include "gui/player/playerwindow.h"

#include "core/library/appdata.h"
#include "core/drill/sentencetiming.h"
#include "ui_playerwindow.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QSettings>
#include <QSignalBlocker>

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
    int playMode = 1;
    int displayMode = 0;
    int repeatCount = 1;
    {
        QSettings settings("Orvi", "OrviLoop");
        settings.beginGroup("global");
        playMode = storedPlayMode(settings.value("playMode", 1).toInt());
        displayMode = std::clamp(settings.value("subtitleDisplayMode", 0).toInt(), 0, 3);
        rate = settings.value("playRate", 1.0).toDouble();
        currentFile = settings.value("lastFile", QString()).toString();
        repeatCount = std::max(1, settings.value("repeatCount", 1).toInt());
        session->setPlayGroup(PlayGroup(std::clamp(settings.value("playGroup", 0).toInt(), 0, 2)));
        session->setChineseLinesHidden(settings.value("filterChineseEnabled", false).toBool());
        rootDir = settings.value("rootDir", appDataDirectory()).toString();
        settings.endGroup();
    }
    qDebug() << "loadPlayerState rootDir:" << rootDir;

    updateFilterChineseButton();
    readShadowingSettings();
    storedGroup2Pending = true;

    session->setRepeatCount(repeatCount);
    session->setDisplayMode(SubtitleDisplay(displayMode));
    session->setPlayMode(PlayMode(playMode));
    // The rate box is not connected to the session: the player takes the rate as the box shows
    // it, within the box's range.
    ui->doubleSpinBoxRate->setValue(storedPlaybackRate(rate));
    {
        const QSignalBlocker quietRepeat(ui->spinRepeat);
        const QSignalBlocker quietMode(ui->comboSubtitleMode);
        ui->spinRepeat->setValue(repeatCount);
        ui->comboSubtitleMode->setCurrentIndex(displayMode);
    }
    player->setPlaybackRate(ui->doubleSpinBoxRate->value());

    // A window opened for a file plays that file, one opened without plays the last one. One
    // opened for a network address plays that, once its opener has set where its subtitle is.
    if (!mediaPath.isEmpty()) {
        currentFile = mediaPath;
        mediaPath.clear();
    }
    if (currentFile.isEmpty() || !QFile::exists(currentFile))
        return;

    restorePlaceOnLoad();
    loadSubtitles(currentFile);
    qDebug() << "sentences:" << session->sentences().size() << "group 2:" << session->group2().size()
             << "play list:" << session->playList().size();
}

// Where the learner left this lesson, taken up once it has loaded.
void PlayerWindow::restorePlaceOnLoad()
{
    QSettings settings("Orvi", "OrviLoop");
    settings.beginGroup(fileGroup(currentFile));
    qint64 position = settings.value("position", qint64(0)).toLongLong();
    const int counter = settings.value("repeatCounter", 0).toInt();
    int sentence = settings.value("sentence", -1).toInt();
    settings.endGroup();
    if (position < 0) {
        position = 0;
        sentence = -1;
    }
    session->restorePlaceOnLoad(position, sentence, counter);
}

void PlayerWindow::savePlayerState()
{
    QSettings settings("Orvi", "OrviLoop");
    settings.beginGroup("global");
    settings.setValue("playMode", int(session->requestedPlayMode()));
    settings.setValue("subtitleDisplayMode", int(session->displayMode()));
    settings.setValue("playRate", player->playbackRate());
    settings.setValue("lastFile", currentFile);
    settings.setValue("repeatCount", session->repeatCount());
    settings.setValue("currentGroup", int(session->playGroup()));
    settings.setValue("playGroup", int(session->playGroup()));
    settings.setValue("filterChineseEnabled", session->chineseLinesHidden());
    settings.setValue("playbackRate", ui->doubleSpinBoxRate->value());
    settings.endGroup();

    // A file that could not be opened has no place in it; the one stored before stays.
    if (!currentFile.isEmpty() && player->mediaStatus() != QMediaPlayer::InvalidMedia) {
        settings.beginGroup(fileGroup(currentFile));
        settings.setValue("position", player->position());
        settings.setValue("repeatCounter", session->repeatRound() % session->repeatCount());
        settings.setValue("sentence", session->currentSentence());
        settings.endGroup();
    }

    settings.beginGroup("ui");
    settings.setValue("geometry", saveGeometry());
    settings.setValue("windowState", saveState(0));
    settings.endGroup();
    settings.sync();
}
