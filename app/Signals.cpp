#include "app/Signals.h"

#include "db/ClientLibrary.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace ostrakel {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The pipe's writing end, for the handlers; -1 while no closer lives.
std::atomic<int> gWriteEnd{-1};

void Notify(unsigned char what) {
    const int fd = gWriteEnd.load();
    if (fd < 0) return;
    const int saved = errno;
    // A full pipe already holds a request; one more adds nothing.
    [[maybe_unused]] const ssize_t written = ::write(fd, &what, 1);
    errno = saved;
}

void OnSignal(int signal) {
    Notify(static_cast<unsigned char>(signal));
}

// The client does not say which signal it caught; it catches SIGINT and SIGTERM.
void OnClientShutdown() {
    Notify(SIGTERM);
}

} // namespace

TSignalCloser::TSignalCloser() {
    if (::pipe2(FPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    gWriteEnd.store(FPipe[1]);
    FNotifier = std::make_unique<QSocketNotifier>(FPipe[0], QSocketNotifier::Read);
    connect(FNotifier.get(), &QSocketNotifier::activated, this, [this] { ReadPipe(); });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &action, &FPrevious[i]);
    SetClientShutdownHandler(OnClientShutdown);
}

TSignalCloser::~TSignalCloser() {
    SetClientShutdownHandler(nullptr);
    // The client's own shutdown on the signal may still run on its thread.
    WaitForClientShutdown(std::chrono::seconds(10));
    if (FPipe[0] < 0) return;
    for (size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &FPrevious[i], nullptr);
    gWriteEnd.store(-1);
    FNotifier.reset();
    ::close(FPipe[0]);
    ::close(FPipe[1]);
}

void TSignalCloser::ReadPipe() {
    unsigned char buffer[64];
    ssize_t n;
    while ((n = ::read(FPipe[0], buffer, sizeof buffer)) > 0)
        if (!FReceived) FReceived = buffer[0];
    // Every loop ends, modal boxes included: nobody may be there to answer them.
    if (FReceived) QCoreApplication::exit(0);
}

} // namespace ostrakel
