#include "core/library/termination.h"

#include <QCoreApplication>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};
int watchdogPipe[2] = {-1, -1};
// Atomic rather than a plain flag: two signals sent at once may be handled on two threads at
// the same moment, and each must know whether it is the second.
std::atomic<bool> signalReceived{false};
static_assert(std::atomic<bool>::is_always_lock_free, "read and written in a signal handler");

// Only async-signal-safe work here: the event loop picks the byte up.
void onTerminationSignal(int number)
{
    if (signalReceived.exchange(true)) {
        // Blocked until this handler returns, then it ends the process as if unhandled.
        std::signal(number, SIG_DFL);
        std::raise(number);
        return;
    }
    const char byte = char(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    if (watchdogPipe[1] >= 0) {
        [[maybe_unused]] const ssize_t woken = ::write(watchdogPipe[1], &byte, 1);
    }
}

// A thread of its own, asleep until the first signal: it ends the process after the grace
// period whatever the event loop is doing.
void startWatchdog(int graceMs)
{
    if (::pipe(watchdogPipe) != 0)
        return;
    std::thread([graceMs] {
        char number = 0;
        while (::read(watchdogPipe[0], &number, 1) < 0 && errno == EINTR) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(graceMs));
        ::_exit(128 + number);
    }).detach();
}

} // namespace

void onTerminationSignals(std::function<void()> stop, int graceMs)
{
    if (signalPipe[0] >= 0 || ::pipe(signalPipe) != 0)
        return;
    if (graceMs >= 0)
        startWatchdog(graceMs);
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
void onTerminationSignals(std::function<void()>, int) {}
#endif
