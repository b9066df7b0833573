#include "media/playablesource.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>

bool isPlainAsciiPath(const QString &path)
{
    return std::all_of(path.cbegin(), path.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

PlayableSource::PlayableSource() = default;

PlayableSource::~PlayableSource() = default;

QUrl PlayableSource::urlFor(const QUrl &source)
{
    if (!currentLink.isEmpty()) {
        QFile::remove(currentLink);
        currentLink.clear();
    }
#ifdef Q_OS_UNIX
    if (source.isLocalFile() && !isPlainAsciiPath(source.toLocalFile())) {
        const QString link = linkFor(source.toLocalFile());
        if (!link.isEmpty())
            return QUrl::fromLocalFile(link);
    }
#endif
    return source;
}

QString PlayableSource::linkFor(const QString &localFile)
{
    if (!linkDir)
        linkDir = std::make_unique<QTemporaryDir>();
    if (!linkDir->isValid())
        return {};
    // The suffix helps FFmpeg guess the container; a new name per file keeps the back end
    // from mistaking one lesson for the one before.
    const QString suffix = QFileInfo(localFile).suffix();
    QString name = QString("lesson-%1").arg(++linkCount);
    if (!suffix.isEmpty() && isPlainAsciiPath(suffix))
        name += "." + suffix;
    const QString link = linkDir->filePath(name);
    if (!QFile::link(QFileInfo(localFile).absoluteFilePath(), link)) {
        qDebug() << "无法为媒体文件建立链接:" << localFile;
        return {};
    }
    currentLink = link;
    return link;
}
