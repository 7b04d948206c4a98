// Start-up connects the reports database and then the mould database; a failed
// connect is shown in the plain box and ends start-up before the log is named.
#include "app/Unit1.h"
#include "db/FIBDatabase.h"
#include "db/FIBTransaction.h"
#include "tests/support/Fakes.h"
#include "tests/support/FormEnvironment.h"
#include "tests/support/FirebirdFixture.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

using namespace ostrakel;
using namespace ostrakel::test;

namespace {

class ConnectAtStartUpTest : public ::testing::Test {
protected:
    void WriteIni(const std::string& kalimbor, const std::string& vendrel) {
        WriteSetupIni(dir.Path(), kalimbor, vendrel);
    }

    TForm1& Start() {
        form = std::make_unique<TForm1>(TestFormEnvironment(dir.Path(), clock, dialogs, "05.03.2024 10:20:30"));
        return *form;
    }

    TTempDir dir;       // the program directory
    TTestDatabases dbs; // where the databases lie
    TFakeClock clock{EncodeDateTime({2024, 3, 5, 10, 20, 30, 0})};
    TFakeDialogs dialogs;
    std::unique_ptr<TForm1> form;
};

TEST_F(ConnectAtStartUpTest, WithoutSetupTheNameIsMissing) {
    TForm1& f = Start();
    ASSERT_EQ(dialogs.Shown.size(), 1u);
    EXPECT_FALSE(dialogs.Shown[0].Error) << "a plain box, not the error box";
    EXPECT_EQ(dialogs.Shown[0].Title, f.ApplicationTitle());
    EXPECT_EQ(f.ApplicationTitle(), "ostrakel");
    // The layer's text, and where setup.ini was looked for.
    EXPECT_EQ(dialogs.Shown[0].Text, "Database name is missing.\r\n\r\nsetup.ini was not found: " + dir.File("setup.ini"));
    EXPECT_EQ(f.mylogfile, "");
    EXPECT_EQ(f.MemoText(), "Memo1");
    EXPECT_FALSE(f.pFIBDatabaseReports->Connected());
    EXPECT_FALSE(f.pFIBDatabaseMoulds->Connected());
}

TEST_F(ConnectAtStartUpTest, WrongMouldPathKeepsTheReportsConnection) {
    dbs.Create("vendrel_data.fdb");
    WriteIni(dbs.Path("nowhere/"), dbs.Path());
    TForm1& f = Start();
    EXPECT_EQ(f.pFIBDatabaseReports->DBName(), dbs.Path("vendrel_data.fdb"));
    EXPECT_EQ(f.pFIBDatabaseMoulds->DBName(), dbs.Path("nowhere/kalimbor_db.fdb"));
    EXPECT_TRUE(f.pFIBDatabaseReports->Connected());
    EXPECT_FALSE(f.pFIBDatabaseMoulds->Connected());
    ASSERT_EQ(dialogs.Shown.size(), 1u);
    EXPECT_FALSE(dialogs.Shown[0].Error);
    EXPECT_EQ(dialogs.Shown[0].Title, f.ApplicationTitle());
    EXPECT_EQ(f.ApplicationTitle(), "ostrakel");
    EXPECT_EQ(dialogs.Shown[0].Text.rfind("Form1.pFIBDatabaseMoulds:\r\n", 0), 0u) << dialogs.Shown[0].Text;
    EXPECT_NE(dialogs.Shown[0].Text.find("kalimbor_db.fdb"), std::string::npos) << dialogs.Shown[0].Text;
    EXPECT_EQ(f.mylogfile, "");
    EXPECT_EQ(f.MemoText(), "Memo1") << "nothing logged";
}

TEST_F(ConnectAtStartUpTest, BothPathsRightLoadsTheLogAndLogsTheStart) {
    dbs.Create("vendrel_data.fdb");
    dbs.Create("kalimbor_db.fdb");
    WriteIni(dbs.Path(), dbs.Path());
    std::ofstream(dir.File("log_2024_3.txt"), std::ios::binary) << "earlier line\r\n";
    TForm1& f = Start();
    EXPECT_TRUE(dialogs.Shown.empty()) << dialogs.Shown[0].Text;
    EXPECT_TRUE(f.pFIBDatabaseReports->Connected());
    EXPECT_TRUE(f.pFIBDatabaseMoulds->Connected());
    EXPECT_EQ(f.pFIBDatabaseReports->SQLDialect(), 3);
    EXPECT_EQ(f.mylogfile, dir.File("log_2024_3.txt"));
    EXPECT_EQ(f.MemoText(), "earlier line\r\n05.03.2024 10:20:30   start programu\r\n");

    // Both attachments go with the window.
    const std::string reports = f.pFIBDatabaseReports->DBName();
    form.reset();
    TRawAttachment check(reports);
    EXPECT_EQ(
        check.QueryInt("select count(*) from mon$attachments where mon$attachment_id <> current_connection "
                       "and mon$system_flag = 0"),
        0);
}

TEST_F(ConnectAtStartUpTest, AnUnreadableLogStopsStartUpInTheErrorBoxAndIsLeftAlone) {
    dbs.Create("vendrel_data.fdb");
    dbs.Create("kalimbor_db.fdb");
    WriteIni(dbs.Path(), dbs.Path());
    const std::string log = dir.File("log_2024_3.txt");
    ASSERT_EQ(symlink("/proc/self/mem", log.c_str()), 0); // opens, but cannot be read
    TForm1& f = Start();
    ASSERT_EQ(dialogs.Shown.size(), 1u);
    EXPECT_TRUE(dialogs.Shown[0].Error);
    EXPECT_EQ(dialogs.Shown[0].Title, "ostrakel");
    EXPECT_EQ(dialogs.Shown[0].Text, "Cannot open file \"" + log + "\". Input/output error.");
    EXPECT_EQ(f.mylogfile, log);
    EXPECT_EQ(f.MemoText(), "Memo1") << "not loaded, and the start not logged";
    EXPECT_TRUE(f.pFIBDatabaseMoulds->Connected());

    // Closing cannot save over a log it never read: the window stays open.
    f.show();
    EXPECT_FALSE(f.close());
    char target[64] = {};
    ASSERT_GT(readlink(log.c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "/proc/self/mem");
}

TEST_F(ConnectAtStartUpTest, TheConnectionsCarryTheirDesign) {
    TForm1& f = Start();
    // The three lines of the design, then the request for the Firebird 3 types.
    std::vector<std::string> design = SystemDBParams();
    design.push_back("set_bind=int128 to legacy;decfloat to legacy;time zone to legacy");
    for (TpFIBDatabase* db : {f.pFIBDatabaseReports, f.pFIBDatabaseMoulds}) {
        EXPECT_EQ(db->DBParams().Lines(), design);
        EXPECT_EQ(db->SQLDialect(), 3);
        EXPECT_EQ(db->Timeout(), 0u);
        EXPECT_EQ(db->WaitForRestoreConnect(), 0u);
        EXPECT_FALSE(db->AutoReconnect());
        EXPECT_FALSE(db->UseLoginPrompt());
        EXPECT_TRUE(db->SynchronizeTime());
        EXPECT_EQ(db->Owner(), &f);
    }
    EXPECT_EQ(f.pFIBDatabaseReports->NamePath(), "Form1.pFIBDatabaseReports");
    EXPECT_EQ(f.pFIBDatabaseMoulds->InternalTransaction()->Name(), "pFIBDatabaseMoulds_InternalTransaction");
}

} // namespace
