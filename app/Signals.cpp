#include "app/Signals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace ostrakel {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

sigset_t TerminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kSignals) sigaddset(&set, s);
    return set;
}

void WriteByte(int fd, unsigned char what) {
    // A full pipe already holds a request; one more adds nothing.
    [[maybe_unused]] const ssize_t written = ::write(fd, &what, 1);
}

} // namespace

void BlockTerminationSignals() {
    const sigset_t set = TerminationSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TSignalCloser::TSignalCloser(int abandonStatus, std::chrono::milliseconds grace)
    : FAbandonStatus(abandonStatus), FGrace(grace) {
    // Where main has not done it yet (a test), this thread at least takes part.
    BlockTerminationSignals();
    const sigset_t set = TerminationSignals();
    FSignalFd = ::signalfd(-1, &set, SFD_CLOEXEC);
    if (FSignalFd < 0 || ::pipe2(FPipe, O_CLOEXEC | O_NONBLOCK) != 0 || ::pipe2(FQuit, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "ostrakel: signals cannot be taken (%s); the program ends only by its window\n",
                     std::strerror(errno));
        return;
    }
    FNotifier = std::make_unique<QSocketNotifier>(FPipe[0], QSocketNotifier::Read);
    connect(FNotifier.get(), &QSocketNotifier::activated, this, [this] { ReadPipe(); });
    FThread = std::thread([this] { Watch(); });
}

TSignalCloser::~TSignalCloser() {
    if (FThread.joinable()) {
        WriteByte(FQuit[1], 1);
        FThread.join();
    }
    FNotifier.reset();
    for (int fd : {FPipe[0], FPipe[1], FQuit[0], FQuit[1], FSignalFd})
        if (fd >= 0) ::close(fd);
}

void TSignalCloser::Watch() {
    using Clock = std::chrono::steady_clock;
    pollfd fds[2] = {{FSignalFd, POLLIN, 0}, {FQuit[0], POLLIN, 0}};
    // Both times count from the first signal; later ones change nothing.
    std::optional<Clock::time_point> cancelAt, deadline;
    for (;;) {
        int timeout = -1; // no signal yet: wait for one
        if (deadline) {
            const Clock::time_point next = cancelAt ? std::min(*cancelAt, *deadline) : *deadline;
            timeout = static_cast<int>(
                std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count()));
        }
        const int n = ::poll(fds, 2, timeout);
        if (n < 0 && errno == EINTR) continue;
        if (n > 0 && fds[1].revents) return; // the main thread has finished
        if (n > 0 && (fds[0].revents & POLLIN)) {
            signalfd_siginfo info;
            if (::read(FSignalFd, &info, sizeof info) == sizeof info && FReceived.load() == 0) {
                FReceived = static_cast<int>(info.ssi_signo);
                FStop = true;
                WriteByte(FPipe[1], static_cast<unsigned char>(info.ssi_signo));
                deadline = Clock::now() + FGrace;
                cancelAt = Clock::now() + FGrace / 4;
            }
            continue;
        }
        if (cancelAt && Clock::now() >= *cancelAt) {
            // Still busy: whatever statement it waits for is given up.
            cancelAt.reset();
            FState.Cancel();
            continue;
        }
        if (deadline && Clock::now() >= *deadline) break;
    }
    // The main thread did not come back: it waits for a server that does not
    // answer. Nothing it holds can be closed from here; the process ends.
    const int signal = FReceived.load();
    const bool unsaved = FState.UnsavedLog.load();
    std::fprintf(stderr, "ostrakel: ended by signal %d (%s) while %s%s\n", signal, strsignal(signal),
                 FState.Connecting.load() ? "waiting for a database server to answer a connect"
                                          : "the program did not finish in time",
                 unsaved ? "; the log lines of this run were not saved" : "");
    std::fflush(stderr);
    ::_exit(unsaved ? 1 : FAbandonStatus);
}

void TSignalCloser::ReadPipe() {
    unsigned char buffer[64];
    while (::read(FPipe[0], buffer, sizeof buffer) > 0) {
    }
    // Every loop ends, modal boxes included: nobody may be there to answer them.
    if (FReceived.load()) QCoreApplication::exit(0);
}

} // namespace ostrakel
