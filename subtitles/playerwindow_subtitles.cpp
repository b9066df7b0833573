#include "player/playerwindow.h"

#include "subtitles/srtparser.h"
#include "ui_playerwindow.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

// Finding, adopting and loading the subtitle of a media file.

namespace {

QUrl mediaUrl(const QString &path)
{
    if (path.startsWith(QLatin1StringView("http"), Qt::CaseInsensitive))
        return QUrl(path, QUrl::TolerantMode);
    return QUrl::fromLocalFile(path);
}

// The file whose neighbours are searched: the local file, or the path part of a URL.
QString lookupPath(const QUrl &url)
{
    return url.isLocalFile() ? url.toLocalFile() : url.path(QUrl::FullyDecoded);
}

QStringList directoriesToTry(const QString &firstDirectory, const QString &rootDir)
{
    QStringList directories{firstDirectory};
    const QString workingDirectory = QDir::cleanPath(rootDir);
    if (workingDirectory != firstDirectory)
        directories.append(workingDirectory);
    return directories;
}

// A subtitle whose name differs from the media's only in letter case, taken where it is.
QString findByListing(const QString &directory, const QString &baseName)
{
    const QStringList filters{"*.srt", "*.srt1", "*.SRT", "*.SRT1", "*.Srt"};
    const QFileInfoList entries =
        QDir(directory).entryInfoList(filters, QDir::Files | QDir::Readable, QDir::Unsorted);
    for (const QFileInfo &entry : entries) {
        const QString suffix = entry.suffix().toLower();
        if ((suffix == "srt1" || suffix == "srt") &&
            entry.completeBaseName().compare(baseName, Qt::CaseInsensitive) == 0)
            return entry.absoluteFilePath();
    }
    return {};
}

// The ".srt1" name marks a subtitle the player has taken over: a lone ".srt" moves to it,
// and a ".srt" beside an ".srt1" is a leftover duplicate.
QString adoptSubtitleIn(const QString &directory, const QString &baseName)
{
    const QDir dir(directory);
    const QString adopted = dir.filePath(baseName + ".srt1");
    const QString plain = dir.filePath(baseName + ".srt");
    const bool hasAdopted = QFileInfo::exists(adopted);
    const bool hasPlain = QFileInfo::exists(plain);
    if (hasAdopted && hasPlain) {
        QFile::remove(plain);
        qDebug() << "删除重复字幕:" << plain;
        return adopted;
    }
    if (hasAdopted)
        return adopted;
    if (hasPlain) {
        if (!QFile::rename(plain, adopted))
            return plain;
        qDebug() << "字幕重命名:" << plain << "->" << adopted;
        return adopted;
    }
    return findByListing(directory, baseName);
}

QString findSubtitle(const QStringList &directories, const QString &baseName)
{
    for (const QString &directory : directories) {
        if (directory.isEmpty() || baseName.isEmpty())
            continue;
        const QString chosen = adoptSubtitleIn(directory, baseName);
        if (!chosen.isEmpty())
            return chosen;
    }
    return {};
}

} // namespace

void PlayerWindow::loadSubtitles(const QString &path)
{
    if (path.isEmpty())
        return;
    currentFile = path;
    subtitles.clear();
    currentIndex = 0;
    repeatRound = 0;

    const QUrl url = mediaUrl(path);
    player->setSource(playableSource.urlFor(url));

    const QFileInfo lookup(lookupPath(url));
    const QString baseName = lookup.completeBaseName();
    const QStringList directories = directoriesToTry(QDir::cleanPath(lookup.absolutePath()), rootDir);
    const QString chosen = findSubtitle(directories, baseName);

    if (!chosen.isEmpty() && QFileInfo::exists(chosen)) {
        subtitles = parseSrtFile(chosen);
        subtitles.removeIf([](const SubtitleItem &item) { return item.text.trimmed().isEmpty(); });
        qDebug() << "字幕加载成功:" << chosen << "共" << subtitles.size() << "句";
    } else {
        qDebug() << "未找到字幕:" << baseName << "(.srt1 / .srt)，已尝试目录:" << directories;
    }

    detectChineseText();
    applyPlayModeForSubtitles();
    rebuildPlayList();
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
