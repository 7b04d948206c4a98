// The real program run as a process by a test: how it is started (its
// executable, the environment it gets, a command that runs it such as setpriv
// to another user) and what its run gave (status, standard output and error).
#pragma once

#include <QProcess>
#include <QProcessEnvironment>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace ostrakel::test {

// A finished run: the exit status (-1 when the program did not start, crashed
// or was killed), everything it wrote, and when it was seen to end.
struct TRun {
    int Status = -1;
    std::string Out, Err;
    std::chrono::steady_clock::time_point Ended;
};

// The environment of this process less what would give the program a display:
// DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM (as cron starts a program).
QProcessEnvironment EnvironmentWithoutDisplay();

struct TProgram {
    std::string Executable;
    // Exactly what the program gets (nothing of this process's own beyond it).
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    // A command line the executable and its arguments are appended to; empty
    // runs the executable itself.
    std::vector<std::string> Prefix = {};

    // The program started with the arguments; the test fails when it does not start.
    std::unique_ptr<QProcess> Start(const std::vector<std::string>& args) const;
    // Start, then Finished.
    TRun Run(const std::vector<std::string>& args,
             std::chrono::milliseconds limit = std::chrono::minutes(2)) const;
};

// Waits at most `limit` for the end of a started program while this process's
// own event loop runs (the program may be talking to a window of the test's);
// one still running then fails the test and is killed.
TRun Finished(QProcess& p, std::chrono::milliseconds limit = std::chrono::minutes(2));

} // namespace ostrakel::test
