// One program per settings directory. The window holds the directory's
// instance lock for its life and answers on a local socket; a second window
// started with the same setup.ini asks the first to come to the front and
// ends. Every update pass (the window's and --once's or --dry-run's whole run)
// holds the directory's pass lock, so two passes over the same databases never
// run at once. Both locks are flock(2) locks on hidden files in the settings
// directory (.ostrakel.lock, .ostrakel-pass.lock), so that every process with
// those settings finds them whatever its environment; the kernel releases
// them when their process ends, however it ends.
#pragma once

#include <QObject>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

class QLocalServer;

namespace ostrakel {

// How long a pass waits for another program's pass to end.
inline constexpr std::chrono::seconds kPassWait{30};

class TSingleInstance : public QObject {
public:
    // settingsDir: where setup.ini is read. The lock files lie there; where
    // the directory cannot be written, in the user's own directory, chosen
    // from the user id and the user's home in the password database (never
    // from the environment): /run/user/<uid> when it is the user's, else
    // ~/.cache/ostrakel. The window's socket lies in the user's directory,
    // named by a hash of the canonical settings directory. Without any place
    // there are no locks (said on standard error).
    explicit TSingleInstance(const std::string& settingsDir);
    ~TSingleInstance() override;
    TSingleInstance(const TSingleInstance&) = delete;
    TSingleInstance& operator=(const TSingleInstance&) = delete;

    // The canonical settings directory, as the messages name it.
    const std::string& SettingsDir() const { return FSettingsDir; }

    // The window's side: takes the instance lock and listens for the requests
    // of later starts; false when another window holds the lock.
    bool BecomeTheWindow();
    // What a request to come to the front does; one that came before the
    // handler was set runs as soon as it is.
    void SetShowHandler(std::function<void()> handler);
    // A later start's side: asks the running window to come to the front.
    // False when no window took the request within `wait`.
    bool AskToShow(std::chrono::milliseconds wait = std::chrono::seconds(5));

    // Takes the pass lock, waiting up to `wait` (checking `stop` as it waits)
    // for another program's pass to end; false when it did not. Taken again
    // by the same object it only counts; each success needs an UnlockPass.
    bool LockPass(std::chrono::milliseconds wait, const std::atomic<bool>* stop = nullptr);
    void UnlockPass();

private:
    void Answer();

    std::string FSettingsDir;
    std::string FInstanceLock; // empty: none
    std::string FPassLock;
    unsigned FLockMode = 0600; // of a lock file made in the user's directory
    std::string FSocket;
    int FInstanceFd = -1;
    int FPassFd = -1;
    int FPassDepth = 0;
    std::unique_ptr<QLocalServer> FServer;
    std::function<void()> FShow;
    bool FShowPending = false;
};

// Holds the pass lock while it lives (nothing when `instance` is null); raises
// when another program's pass did not end within kPassWait, and aborts
// silently (EAbort) when `stop` was raised while it waited.
class TPassHold {
public:
    TPassHold(TSingleInstance* instance, const std::atomic<bool>* stop);
    ~TPassHold();
    TPassHold(const TPassHold&) = delete;
    TPassHold& operator=(const TPassHold&) = delete;

private:
    TSingleInstance* FInstance;
};

// The text of a pass that could not start because another was running.
std::string OtherPassText(const std::string& settingsDir);

} // namespace ostrakel
