// Database files in directories named with letters beyond ASCII: created,
// opened embedded, written, their name read back, and a refused attach whose
// text names the path as the operator wrote it. Built twice: with the process
// locale left at "C" (as under CI) and with a UTF-8 one (as under Qt).
#include "db/FIBDatabase.h"
#include "db/FIBErrors.h"
#include "db/FIBTransaction.h"
#include "tests/support/Fakes.h"
#include "tests/support/FirebirdFixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using namespace ostrakel;
using namespace ostrakel::test;

namespace {

TEST(NonAsciiPath, DatabasesInDirectoriesWithPolishLettersOpen) {
    // Polish letters, and letters that Windows-1250 cannot hold at all.
    for (const std::string dir : {"łódź-Żółw", "Київ"}) {
        SCOPED_TRACE(dir);
        TScopedTimerService timers;
        TTestDatabases dbs;
        ASSERT_TRUE(std::filesystem::create_directory(dbs.Path(dir)));
        const std::string path = dbs.Create(dir + "/kalimbor_db.fdb", 3, {"create table T (ID integer)"});
        ASSERT_TRUE(std::filesystem::exists(path)) << "the file carries its name as UTF-8 bytes";

        TComponent form;
        form.SetName("Form1");
        auto* db = form.Create<TpFIBDatabase>();
        db->SetName("pFIBDatabaseMoulds");
        db->SetDBParams(SystemDBParams());
        db->SetSQLDialect(3);
        db->SetDBName(path);
        db->SetConnected(true);
        ASSERT_TRUE(db->Connected());
        EXPECT_EQ(db->DBName(), path);
        EXPECT_EQ(db->DBFileName(), path);

        TpFIBTransaction tr(&form);
        tr.SetDefaultDatabase(db);
        tr.StartTransaction();
        ExecuteIn(tr, "insert into T values (1)");
        tr.Commit();
        TRawAttachment other(path);
        EXPECT_EQ(other.QueryInt("select count(*) from T"), 1);

        auto* reports = form.Create<TpFIBDatabase>();
        reports->SetName("pFIBDatabaseReports");
        reports->SetDBParams(SystemDBParams());
        reports->SetDBName(dbs.Path(dir + "/vendrel_data.fdb"));
        try {
            reports->SetConnected(true);
            FAIL() << "attached to a missing file";
        } catch (const EFIBInterBaseError& e) {
            const std::string text = e.what();
            EXPECT_EQ(text.rfind("Form1.pFIBDatabaseReports:\r\n", 0), 0u) << text;
            EXPECT_NE(text.find("I/O error during \"open\" operation for file \"" +
                                dbs.Path(dir + "/vendrel_data.fdb") + "\".\r\n"),
                      std::string::npos)
                << text;
        }
        db->SetConnected(false);
    }
}

} // namespace
