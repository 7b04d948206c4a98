// Connections at the end of the process: one still attached when the process
// exits is detached without a crash, whichever way the process ends.
#include "db/FIBDatabase.h"
#include "db/FIBTransaction.h"
#include "tests/support/FirebirdFixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

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

} // namespace
