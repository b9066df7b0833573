#include "core/subtitles/subtitlelookup.h"

#include "core/subtitles/srtparser.h"
#include "core/subtitles/subtitlereaders.h"
#include "core/subtitles/subtitletracks.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Writes the items as qDebug would print them on one line.
template <typename... Items> QString debugLine(const Items &...items)
{
    QString line;
    {
        QDebug stream(&line);
        (stream << ... << items);
    }
    if (line.endsWith(u' '))
        line.chop(1);
    return line;
}

// The file whose name the subtitle shares: the local file, or the path part of a URL.
QFileInfo lookupFile(const QUrl &media)
{
    return QFileInfo(media.isLocalFile() ? media.toLocalFile() : media.path(QUrl::FullyDecoded));
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

QString adoptSubtitleIn(const QString &directory, const QString &baseName, QStringList *log)
{
    const QDir dir(directory);
    const QString adopted = dir.filePath(baseName + ".srt1");
    const QString plain = dir.filePath(baseName + ".srt");
    const bool hasAdopted = QFileInfo::exists(adopted);
    const bool hasPlain = QFileInfo::exists(plain);
    if (hasAdopted && hasPlain) {
        QFile::remove(plain);
        log->append(debugLine("删除重复字幕:", plain));
        return adopted;
    }
    if (hasAdopted)
        return adopted;
    if (hasPlain) {
        if (!QFile::rename(plain, adopted))
            return plain;
        log->append(debugLine("字幕重命名:", plain, "->", adopted));
        return adopted;
    }
    return findByListing(directory, baseName);
}

// The lesson's subtitle in another format, tried in the order of otherSubtitleSuffixes().
QString findOtherFormat(const QString &directory, const QString &baseName)
{
    const QFileInfoList entries = QDir(directory).entryInfoList(QDir::Files | QDir::Readable, QDir::Name);
    for (const QString &suffix : otherSubtitleSuffixes()) {
        for (const QFileInfo &entry : entries) {
            if (entry.suffix().compare(suffix, Qt::CaseInsensitive) == 0 &&
                entry.completeBaseName().compare(baseName, Qt::CaseInsensitive) == 0)
                return entry.absoluteFilePath();
        }
    }
    return {};
}

// The sentences of another subtitle file or of the media's own track, and the directory its
// ".srt1" goes to. Nothing found: empty items and no problem.
TrackSentences readOtherSource(const QUrl &media, const QStringList &directories, const QString &baseName,
                               QString *targetDirectory)
{
    const QString mediaPath = media.isLocalFile() ? media.toLocalFile() : QString();
    const bool mediaOnDisk = !mediaPath.isEmpty() && QFileInfo(mediaPath).isFile();
    for (const QString &directory : directories) {
        const QString found = directory.isEmpty() ? QString() : findOtherFormat(directory, baseName);
        if (found.isEmpty())
            continue;
        *targetDirectory = directory;
        // An LRC's last line lasts until the end of the media.
        const bool isLrc = QFileInfo(found).suffix().compare("lrc", Qt::CaseInsensitive) == 0;
        const qint64 lengthMs = isLrc && mediaOnDisk ? probeMedia(mediaPath).durationMs : -1;
        TrackSentences read{readSubtitleFile(found, lengthMs), QFileInfo(found).fileName(), {}};
        if (read.items.isEmpty())
            read.problem = "字幕文件中没有可用的句子：" + read.source;
        return read;
    }
    if (!mediaOnDisk)
        return {};
    *targetDirectory = QFileInfo(mediaPath).absolutePath();
    return readTrackSentences(mediaPath);
}

void takeOverOtherSource(const QUrl &media, SubtitleLookup *lookup)
{
    QString directory;
    const TrackSentences read = readOtherSource(media, lookup->directories, lookup->baseName, &directory);
    lookup->problem = read.problem;
    if (read.items.isEmpty())
        return;
    const QString target = QDir(directory).filePath(lookup->baseName + ".srt1");
    if (!writeSrtFile(target, read.items)) {
        lookup->problem = "无法写入字幕文件：" + target;
        return;
    }
    lookup->log.append(debugLine("字幕转换:", read.source, "->", target));
    lookup->path = target;
    lookup->takenFrom = read.source;
}

} // namespace

QUrl mediaUrlFor(const QString &path)
{
    if (path.startsWith(QLatin1StringView("http"), Qt::CaseInsensitive))
        return QUrl(path, QUrl::TolerantMode);
    return QUrl::fromLocalFile(path);
}

QString networkSubtitleDirectory(const QUrl &media, const QString &workingDirectory)
{
    const int defaultPort = media.scheme().compare("http", Qt::CaseInsensitive) == 0 ? 80 : 443;
    QString server = media.host(QUrl::EncodeUnicode) + '_' + QString::number(media.port(defaultPort));
    // An IPv6 address or an odd host must not make a path of it.
    for (QChar &c : server) {
        if (!c.isLetterOrNumber() && c != '.' && c != '-' && c != '_')
            c = '_';
    }
    return QDir::cleanPath(workingDirectory) + "/网络字幕/" + server;
}

QStringList subtitleDirectories(const QUrl &media, const QString &workingDirectory)
{
    const QString working = QDir::cleanPath(workingDirectory);
    if (!media.isLocalFile())
        return {networkSubtitleDirectory(media, working)};
    const QString beside = QDir::cleanPath(lookupFile(media).absolutePath());
    if (working == beside)
        return {beside};
    return {beside, working};
}

SubtitleLookup lookUpSubtitle(const QUrl &media, const QString &workingDirectory)
{
    SubtitleLookup lookup;
    lookup.baseName = lookupFile(media).completeBaseName();
    lookup.directories = subtitleDirectories(media, workingDirectory);
    if (lookup.baseName.isEmpty())
        return lookup;
    for (const QString &directory : std::as_const(lookup.directories)) {
        if (directory.isEmpty())
            continue;
        lookup.path = adoptSubtitleIn(directory, lookup.baseName, &lookup.log);
        if (!lookup.path.isEmpty())
            return lookup;
    }
    takeOverOtherSource(media, &lookup);
    return lookup;
}

QString subtitleLoadedLine(const QString &path, qsizetype sentences)
{
    return debugLine("字幕加载成功:", path, "共", sentences, "句");
}

QString subtitleNotFoundLine(const SubtitleLookup &lookup)
{
    return debugLine("未找到字幕:", lookup.baseName, "(.srt1 / .srt)，已尝试目录:", lookup.directories);
}
