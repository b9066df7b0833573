#include "app/termination.h"

#include <QApplication>

void closeWindowsOnTerminationSignals()
{
    onTerminationSignals([] {
        QApplication::closeAllWindows();
        QCoreApplication::quit();
    });
}

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};
volatile sig_atomic_t signalReceived = 0;

// Only async-signal-safe work here: the event loop picks the byte up.
void onTerminationSignal(int number)
{
    if (signalReceived) {
        // Blocked until this handler returns, then it ends the process as if unhandled.
        std::signal(number, SIG_DFL);
        std::raise(number);
        return;
    }
    signalReceived = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

} // namespace

void onTerminationSignals(std::function<void()> stop)
{
    if (signalPipe[0] >= 0 || ::pipe(signalPipe) != 0)
        return;
    ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier, stop = std::move(stop)] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(signalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        stop();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}
#else
void onTerminationSignals(std::function<void()>) {}
#endif
