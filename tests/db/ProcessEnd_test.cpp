// Connections at the end of the process: one still attached when the process
// exits is detached without a crash, whichever way the process ends; the
// client's own shutdown on a signal is heard and leaves a quiet close.
#include "db/ClientLibrary.h"
#include "db/FIBDatabase.h"
#include "db/FIBTransaction.h"
#include "tests/support/FirebirdFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

using namespace ostrakel;
using namespace ostrakel::test;

namespace {

// Each case attaches in a process of its own (re-run from the start, so no
// client library is loaded yet) and ends it with the connection attached.
struct TEndCase {
    const char* Name;
    std::function<void(const std::string& path)> Run;
};

void Attach(TFIBDatabase& db, const std::string& path) {
    db.SetDBParams(SystemDBParams());
    db.SetDBName(path);
    db.SetConnected(true);
}

TEST(ProcessEnd, AConnectionStillAttachedDetachesWithoutACrash) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // As in the program, a connection exists before the client library is loaded.
    TFIBDatabase first;
    TTestDatabases dbs;
    const std::string path = dbs.Create("a.fdb", 3, {"create table T (ID integer)"});
    const TEndCase cases[] = {
        {"a leaked connection, exit()",
         [](const std::string& p) {
             Attach(*new TFIBDatabase, p);
             std::exit(0);
         }},
        {"a static connection, exit()",
         [](const std::string& p) {
             static TFIBDatabase db;
             Attach(db, p);
             std::exit(0);
         }},
        {"a leaked connection with an active transaction, exit()",
         [](const std::string& p) {
             auto* db = new TFIBDatabase;
             Attach(*db, p);
             auto* tr = new TFIBTransaction;
             tr->SetDefaultDatabase(db);
             tr->StartTransaction();
             ExecuteIn(*tr, "insert into T values (1)");
             std::exit(0);
         }},
    };
    for (const TEndCase& c : cases) {
        EXPECT_EXIT(c.Run(path), ::testing::ExitedWithCode(0), "") << c.Name;
    }
    // Whatever a process left undone was rolled back, and nothing is left attached.
    TRawAttachment other(path);
    EXPECT_EQ(other.QueryInt("select count(*) from T"), 0);
    EXPECT_EQ(other.QueryInt("select count(*) from mon$attachments where mon$attachment_id <> "
                             "current_connection and mon$system_flag = 0"),
              0);
}

std::atomic<int> gShutdownsHeard{0};

TEST(ProcessEnd, TheClientsShutdownOnASignalIsHeardAndTheCloseIsQuiet) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TTestDatabases dbs;
    const std::string path = dbs.Create("a.fdb");
    auto run = [&] {
        SetClientShutdownHandler([] { ++gShutdownsHeard; });
        TFIBDatabase db;
        // Without the clock query: after a statement has run in this process the
        // client does not hear a signal raised by the process itself (open; the
        // program, sent SIGTERM from outside with the clock read, is tested by
        // tests/app/sigterm.sh).
        db.SetSynchronizeTime(false);
        Attach(db, path);
        // Once attached, the client has taken SIGTERM for itself. Its shutdown
        // thread may still be starting, and until then it drops the signal.
        for (int i = 0; i < 100 && gShutdownsHeard == 0; ++i) {
            if (i % 10 == 0) std::raise(SIGTERM);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (gShutdownsHeard == 0) std::exit(2);
        try {
            db.Close(); // the client has ended the attachment already
        } catch (...) {
            std::exit(3);
        }
        if (db.Connected()) std::exit(4);
        // The process may end only once the client's shutdown is over.
        WaitForClientShutdown(std::chrono::seconds(10));
        std::exit(0);
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}

} // namespace
