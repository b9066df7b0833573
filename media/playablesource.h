#pragma once

#include <QString>
#include <QUrl>

#include <memory>

class QTemporaryDir;

// Qt 6.4's FFmpeg back end hands a local path to FFmpeg as Latin-1, so it cannot open a
// lesson whose path holds other characters, such as a Chinese file or folder name. Such a
// file is played through a symbolic link with a plain name in a private directory, which
// lives as long as this object.
class PlayableSource
{
public:
    PlayableSource();
    ~PlayableSource();

    // The URL to give the media player for source: the source itself, or a link to it.
    QUrl urlFor(const QUrl &source);

private:
    QString linkFor(const QString &localFile);

    std::unique_ptr<QTemporaryDir> linkDir;
    QString currentLink;
    int linkCount = 0;
};

// True when every character of path is ASCII, so any back end can open it as it is.
bool isPlainAsciiPath(const QString &path);
