#pragma once

#include <QStringList>

#include <atomic>

enum class FfmpegRun { Succeeded, Missing, Failed, Stopped };

// Runs ffmpeg by bare name with its console output forwarded to ours and waits for it. When
// stop is set while it runs, ffmpeg is ended and Stopped returned; what it had written is
// the caller's to remove. ffmpeg also dies with this process, so that a program ended at once
// leaves nothing cutting on.
FfmpegRun runFfmpeg(const QStringList &arguments, const std::atomic_bool &stop);

// For a failed signal.
extern const char *const ffmpegMissingMessage;
