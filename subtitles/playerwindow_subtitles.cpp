#include "player/playerwindow.h"

#include "groups/group2store.h"
#include "subtitles/mendedtimes.h"
#include "subtitles/subtitlelookup.h"
#include "ui_playerwindow.h"

#include <QDebug>
#include <QFileInfo>
#include <QUrl>

// Loading the subtitle of a media file into the player.

namespace {

constexpr QStringView noSentenceLabel(u"字幕文件中没有可用的句子：");

void writeDebugLine(const QString &line)
{
    qDebug().noquote() << line;
}

} // namespace

void PlayerWindow::loadSubtitles(const QString &path)
{
    if (path.isEmpty())
        return;
    currentFile = path;
    updateTitle();
    subtitles.clear();
    beginSentencePass(0);

    const QUrl url = mediaUrlFor(path);
    player->setSource(url);

    const SubtitleLookup lookup = lookUpSubtitle(url, rootDir);
    for (const QString &line : lookup.log)
        writeDebugLine(line);
    const bool found = !lookup.path.isEmpty() && QFileInfo::exists(lookup.path);
    subtitlePath = found ? lookup.path : QString();
    if (found) {
        subtitles = MendedTimes::read(lookup.path);
        subtitles.removeIf([](const SubtitleItem &item) { return item.text.trimmed().isEmpty(); });
        writeDebugLine(subtitleLoadedLine(lookup.path, subtitles.size()));
    } else {
        writeDebugLine(subtitleNotFoundLine(lookup));
    }
    if (storedGroup2Pending) {
        // A damaged store may claim billions of entries; a lesson uses no more than its sentences.
        storedGroup2Pending = false;
        groupRightIndexes = Group2Store::read(int(subtitles.size()));
    }
    showNoSentenceNotice(found && subtitles.isEmpty() ? QFileInfo(lookup.path).fileName() : QString());

    detectChineseText();
    applyPlayModeForSubtitles();
    rebuildPlayList();
}

void PlayerWindow::setWorkingDirectory(const QString &dir)
{
    rootDir = dir;
}

// A subtitle file that gives no sentence (a foreign encoding, sound notes only, unreadable)
// would otherwise look like a lesson without subtitle; the title says so until a load that
// reads sentences, or has no subtitle file at all, puts the usual title back.
void PlayerWindow::showNoSentenceNotice(const QString &subtitleName)
{
    if (subtitleName.isEmpty()) {
        if (windowTitle().startsWith(noSentenceLabel))
            setWindowTitle(titleBeforeNoSentenceNotice);
        return;
    }
    if (!windowTitle().startsWith(noSentenceLabel))
        titleBeforeNoSentenceNotice = windowTitle();
    setWindowTitle(noSentenceLabel.toString() + subtitleName + "（只能正常播放）");
}

// Without subtitles only normal play makes sense; the mode the user asked for waits in
// requestedPlayMode until a file with subtitles comes.
void PlayerWindow::applyPlayModeForSubtitles()
{
    QComboBox *combo = ui ? ui->comboPlayMode : nullptr;
    if (!subtitles.isEmpty()) {
        if (combo) {
            combo->setEnabled(true);
            combo->setToolTip(QString());
        }
        if (playModePending) {
            playModePending = false;
            applyPlayMode(requestedPlayMode, false);
        } else {
            applyPlayMode(playMode, false);
        }
        return;
    }
    playModePending = requestedPlayMode != 0;
    applyPlayMode(0, false);
    if (combo) {
        combo->setEnabled(false);
        combo->setToolTip("未找到字幕：只能正常播放");
    }
}
