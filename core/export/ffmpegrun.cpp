#include "core/export/ffmpegrun.h"

#include <QProcess>

#ifdef Q_OS_LINUX
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>
#endif

const char *const ffmpegMissingMessage = "找不到 ffmpeg：请安装 ffmpeg 并把它所在的目录加入 PATH 后重试";

namespace {

// How often a running ffmpeg looks whether it is to stop.
const int stopPollMs = 50;

// widePipe: a pipe of a megabyte on its standard output, so that a long stream of samples
// passes in few reads.
void dieWithThisProcess(QProcess &process, bool widePipe = false)
{
#ifdef Q_OS_LINUX
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent, widePipe] {
        if (widePipe)
            ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1 << 20);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) // gone before the line above took effect
            ::_exit(1);
    });
#else
    Q_UNUSED(process);
    Q_UNUSED(widePipe);
#endif
}

} // namespace

FfmpegRun runFfmpeg(const QStringList &arguments, const std::atomic_bool &stop)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    dieWithThisProcess(process);
    process.start("ffmpeg", arguments);
    if (!process.waitForStarted(-1))
        return FfmpegRun::Missing;
    process.closeWriteChannel();
    while (!process.waitForFinished(stopPollMs) && process.state() != QProcess::NotRunning) {
        if (stop) {
            process.kill();
            process.waitForFinished(-1);
            return FfmpegRun::Stopped;
        }
    }
    const bool ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return ok ? FfmpegRun::Succeeded : FfmpegRun::Failed;
}

FfmpegRun readFfmpegOutput(const QStringList &arguments,
                           const std::function<bool(const QByteArray &)> &onOutput, QByteArray *messages)
{
    QProcess process;
    dieWithThisProcess(process, true);
    process.start("ffmpeg", arguments);
    if (!process.waitForStarted(-1))
        return FfmpegRun::Missing;
    process.closeWriteChannel();
    const auto keepMessages = [&] {
        const QByteArray text = process.readAllStandardError();
        if (messages)
            messages->append(text);
    };
    // The output is taken as it comes: a pipe left full would stall ffmpeg.
    while (process.state() != QProcess::NotRunning || process.bytesAvailable() > 0) {
        if (process.bytesAvailable() == 0)
            process.waitForReadyRead(stopPollMs);
        keepMessages();
        const QByteArray piece = process.readAllStandardOutput();
        if (!onOutput(piece)) {
            process.kill();
            process.waitForFinished(-1);
            return FfmpegRun::Stopped;
        }
    }
    process.waitForFinished(-1);
    keepMessages();
    const bool ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return ok ? FfmpegRun::Succeeded : FfmpegRun::Failed;
}
