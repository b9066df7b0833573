#pragma once

#include <QStringList>

#include <atomic>
#include <functional>

enum class FfmpegRun { Succeeded, Missing, Failed, Stopped };

// Runs ffmpeg by bare name with its console output forwarded to ours and waits for it. When
// stop is set while it runs, ffmpeg is ended and Stopped returned; what it had written is
// the caller's to remove. ffmpeg also dies with this process, so that a program ended at once
// leaves nothing cutting on.
FfmpegRun runFfmpeg(const QStringList &arguments, const std::atomic_bool &stop);

// Runs ffmpeg as above but hands what it writes to its standard output to onOutput, piece by
// piece, as it comes; onOutput returns false to stop it (Stopped). Its console messages are
// collected in *messages (when given) rather than shown.
FfmpegRun readFfmpegOutput(const QStringList &arguments,
                           const std::function<bool(const QByteArray &)> &onOutput,
                           QByteArray *messages = nullptr);

// For a failed signal.
extern const char *const ffmpegMissingMessage;
