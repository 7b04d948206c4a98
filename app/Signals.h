// The signals that end the program (SIGTERM, SIGINT, SIGHUP) and the client
// library's own shutdown on a signal, turned into one request on the event loop.
#pragma once

#include <QObject>

#include <csignal>
#include <memory>

class QSocketNotifier;

namespace ostrakel {

// While it lives, each of the three signals, and the Firebird client's shutdown
// on one of them, ends every running event loop with status 0 and is
// remembered: the program then closes its window as a close does. Signals are
// written into a pipe by the handler (all a handler may do) and read on the
// main thread. The handlers are installed before any database is attached, so
// the client, which takes SIGINT and SIGTERM at its first attach, keeps
// calling them.
class TSignalCloser : public QObject {
public:
    TSignalCloser();
    ~TSignalCloser() override;
    TSignalCloser(const TSignalCloser&) = delete;
    TSignalCloser& operator=(const TSignalCloser&) = delete;

    // The first signal that asked the program to end; 0 while none has.
    int Received() const { return FReceived; }

private:
    void ReadPipe();

    int FPipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> FNotifier;
    struct sigaction FPrevious[3] = {};
    int FReceived = 0;
};

} // namespace ostrakel
