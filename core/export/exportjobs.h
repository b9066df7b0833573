#pragma once

#include "core/subtitles/subtitleitem.h"

#include <QList>
#include <QString>

class ExportClaim;
class ExportJobReporter;

// The two phases of an export, each run on one thread of the global pool in the clip
// directory its claim holds. Each reports its steps through the reporter and returns
// whether it succeeded, with the text for the finished or failed signal in message.

// One clip per sentence with a length, up to parallelClips ffmpeg at once.
bool runClipJob(ExportJobReporter &reporter, const ExportClaim &claim, const QString &sourcePath,
                const QList<SubtitleItem> &items, int parallelClips, QString *message);

// Joins the clips of items and writes the LRC beside the joined MP3.
bool runGenerationJob(ExportJobReporter &reporter, const ExportClaim &claim, const QString &outputDir,
                      const QList<SubtitleItem> &items, const QString &baseName, QString *message);
