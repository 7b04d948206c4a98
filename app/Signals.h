// The signals that end the program (SIGTERM, SIGINT, SIGHUP), taken on one
// thread of their own and turned into one request on the event loop.
#pragma once

#include <QObject>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QSocketNotifier;

namespace ostrakel {

// Blocks the three signals in the calling thread, so in every thread started
// from it afterwards. The first thing main does, before the application object
// and before the client library is loaded: the client then never sees the
// signals (its own shutdown from a thread of its own would end what the main
// thread owns), and only the closer's thread takes them.
void BlockTerminationSignals();

// Whether the main thread is waiting for a server (a connect, which may hang
// with no timeout set), and whether the log view holds lines not yet saved:
// what the closer needs to know when the main thread does not answer.
struct TProgramState {
    std::atomic<bool> Connecting{false};
    std::atomic<bool> UnsavedLog{false};

    // What asks the servers to give up the statements the main thread waits
    // for; set by the window while its connections exist, run by the closer.
    void SetCancel(std::function<void()> cancel) {
        const std::lock_guard guard(FLock);
        FCancel = std::move(cancel);
    }
    void Cancel() {
        const std::lock_guard guard(FLock);
        if (FCancel) FCancel();
    }

private:
    std::mutex FLock;
    std::function<void()> FCancel;
};

// Marks the main thread as waiting for a connect while it lives.
class TConnectWait {
public:
    explicit TConnectWait(TProgramState* state) : FState(state) {
        if (FState) FState->Connecting = true;
    }
    ~TConnectWait() {
        if (FState) FState->Connecting = false;
    }
    TConnectWait(const TConnectWait&) = delete;
    TConnectWait& operator=(const TConnectWait&) = delete;

private:
    TProgramState* FState;
};

// While it lives, each of the three signals ends every running event loop with
// status 0, raises StopRequested() at once (a running pass stops after its
// current mould) and is remembered: the program then closes its window as a
// close does. A main thread still busy a quarter of the grace time after the
// first signal has the statement it waits for cancelled (State().Cancel()), so
// a long sum ends the pass too. One that has not finished within the grace
// time (a connect that hangs on a server that never answers) is not waited
// for: the process ends from the signal thread, with `abandonStatus` when no
// log line is left unsaved and with 1 otherwise, saying why on standard error.
class TSignalCloser : public QObject {
public:
    explicit TSignalCloser(int abandonStatus = 0, std::chrono::milliseconds grace = std::chrono::milliseconds(4000));
    ~TSignalCloser() override;
    TSignalCloser(const TSignalCloser&) = delete;
    TSignalCloser& operator=(const TSignalCloser&) = delete;

    // The first signal that asked the program to end; 0 while none has.
    int Received() const { return FReceived.load(); }
    const std::atomic<bool>& StopRequested() const { return FStop; }
    // What the main thread tells of itself.
    TProgramState& State() { return FState; }

private:
    void Watch();
    void ReadPipe();

    int FPipe[2] = {-1, -1};  // signal thread -> event loop
    int FQuit[2] = {-1, -1};  // destructor -> signal thread
    int FSignalFd = -1;
    std::unique_ptr<QSocketNotifier> FNotifier;
    std::atomic<int> FReceived{0};
    std::atomic<bool> FStop{false};
    TProgramState FState;
    const int FAbandonStatus;
    const std::chrono::milliseconds FGrace;
    std::thread FThread;
};

} // namespace ostrakel
