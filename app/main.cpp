// Program entry: the application, its one main window, the message loop.
#include "app/CommandLine.h"
#include "app/Signals.h"
#include "platform/FirebirdLock.h"

#include <cstdio>

int main(int argc, char* argv[]) {
    // Before any thread exists and before the client library is loaded: the
    // ending signals are taken on one thread of our own, never by the client.
    ostrakel::BlockTerminationSignals();
    // Before anything loads the client library: the embedded engine reads its
    // lock directory once, and a desktop user outside group firebird cannot
    // use Debian's shared one.
    if (const auto lock = ostrakel::UseOwnFirebirdLockIfNeeded()) {
        std::fprintf(stderr,
                     "ostrakel: %s cannot be used by this user, so embedded databases keep their locks in %s "
                     "(FIREBIRD_LOCK); another program that opens the same database files, isql-fb too, "
                     "needs FIREBIRD_LOCK=%s or membership of group firebird\n",
                     ostrakel::kDefaultFirebirdLock, lock->c_str(), lock->c_str());
    }
    // Without arguments the program is the window; options are the command line's.
    if (argc > 1) return ostrakel::RunCommandLine(argc, argv);
    return ostrakel::RunWindow({}, argc, argv);
}
