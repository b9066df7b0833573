#pragma once

#include <QStringList>

// The ffmpeg argument lists and file formats of the audio export.
namespace ExportCommands {
QStringList clipArguments(qint64 startMs, qint64 endMs, const QString &sourcePath, const QString &outputPath);
} // namespace ExportCommands
