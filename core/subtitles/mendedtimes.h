#pragma once

#include "core/subtitles/subtitleitem.h"

#include <QString>

// Mended times that a subtitle's own file cannot take (a read-only folder, a full disk) wait
// under the program's data folder, known by the subtitle's path and its contents as they are.
// They are used when the lesson opens again, and go into the file once it takes them.
namespace MendedTimes {

enum class Saved {
    InFile, // the subtitle file has the times
    Kept,   // the file could not take them; they wait in the data folder
    Lost,   // neither could be written
};

// Writes the times of `items` into the subtitle at path, or keeps them apart when it cannot.
Saved save(const QString &subtitlePath, const QList<SubtitleItem> &items);

// The sentences of the subtitle at path, with the times kept for it when there are any; these
// are written into the file when it takes them now.
QList<SubtitleItem> read(const QString &subtitlePath);

// Where the times for the subtitle at path, holding these bytes, wait.
QString waitingFile(const QString &subtitlePath, const QByteArray &bytes);

} // namespace MendedTimes
