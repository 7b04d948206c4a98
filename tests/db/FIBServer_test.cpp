// The connection and transactions through the suite's own Firebird server on
// loopback (localhost/PORT:path): the server's own login check, its version, a
// server that does not answer, and an attachment the server drops.
#include "db/FIBDatabase.h"
#include "db/FIBErrors.h"
#include "db/FIBTransaction.h"
#include "tests/support/Fakes.h"
#include "tests/support/FirebirdFixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

using namespace ostrakel;
using namespace ostrakel::test;

namespace {

// CTest starts the server (tests/db/server.sh) around these tests and says so
// in OSTRAKEL_FB_SERVER_REQUIRED; run by hand without a server they are skipped.
class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        OSTRAKEL_REQUIRE_TEST_SERVER();
        dbs = std::make_unique<TTestDatabases>(TTestDatabases::Server);
        path = dbs->Create("vendrel_data.fdb", 3, {"create table T (ID integer)"});
        form.SetName("Form1");
        db = form.Create<TpFIBDatabase>();
        db->SetName("pFIBDatabaseReports");
        db->SetDBParams(SystemDBParams());
        db->SetSQLDialect(3);
        db->SetDBName(path);
    }

    TScopedTimerService timers;
    std::unique_ptr<TTestDatabases> dbs;
    std::string path;
    TComponent form;
    TpFIBDatabase* db = nullptr;
};

TEST_F(ServerTest, ConnectsWithTheSystemsParameters) {
    ASSERT_EQ(path.rfind(ServerPrefix(), 0), 0u);
    db->SetConnected(true);
    ASSERT_TRUE(db->Connected());
    EXPECT_EQ(db->DBFileName(), dbs->Path("vendrel_data.fdb"));

    TRawAttachment other(path);
    EXPECT_EQ(ServerVersionNumbers(*db), other.EngineVersion());
    EXPECT_GT(db->ServerBuild(), 0);
    EXPECT_TRUE(db->IsFirebirdConnect());
    EXPECT_FALSE(db->IsUnicodeConnect());
    EXPECT_FALSE(db->NeedUnicodeFieldsTranslation());
    EXPECT_EQ(other.QueryText("select mon$remote_protocol from mon$attachments where mon$attachment_id = " +
                              std::to_string(db->AttachmentID())),
              "TCPv4");

    db->SetConnected(false);
    EXPECT_FALSE(db->Connected());
}

TEST_F(ServerTest, ADatabaseInADirectoryWithPolishLetters) {
    const std::string dir = "łódź";
    ASSERT_TRUE(std::filesystem::create_directory(dbs->Path(dir)));
    std::filesystem::permissions(dbs->Path(dir), std::filesystem::perms::all,
                                 std::filesystem::perm_options::replace);
    const std::string polish = dbs->Create(dir + "/kalimbor_db.fdb");
    ASSERT_EQ(polish, ServerPrefix() + dbs->Path(dir + "/kalimbor_db.fdb"));
    db->SetDBName(polish);
    db->SetConnected(true);
    EXPECT_EQ(db->DBFileName(), dbs->Path(dir + "/kalimbor_db.fdb"));
    db->SetConnected(false);
}

TEST_F(ServerTest, TheServerChecksTheLogin) {
    db->ConnectParams().SetPassword("wrong");
    try {
        db->SetConnected(true);
        FAIL() << "logged in with a wrong password";
    } catch (const EFIBInterBaseError& e) {
        const std::string text = e.what();
        EXPECT_EQ(text.rfind("Form1.pFIBDatabaseReports:\r\n", 0), 0u) << text;
        EXPECT_NE(text.find("Your user name and password are not defined"), std::string::npos) << text;
        EXPECT_TRUE(text.ends_with("\r\n")) << text;
        EXPECT_EQ(e.IBErrorCode(), isc_login);
    }
    EXPECT_FALSE(db->Connected());
    db->ConnectParams().SetPassword("plumtrove");
    db->SetConnected(true);
    EXPECT_TRUE(db->Connected());
}

TEST_F(ServerTest, AServerThatDoesNotAnswer) {
    const int port = UnusedPort();
    ASSERT_GT(port, 0);
    db->SetDBName("127.0.0.1/" + std::to_string(port) + ":" + dbs->Path("vendrel_data.fdb"));
    try {
        db->SetConnected(true);
        FAIL() << "attached through a port nobody listens on";
    } catch (const EFIBInterBaseError& e) {
        const std::string text = e.what();
        EXPECT_EQ(text.rfind("Form1.pFIBDatabaseReports:\r\n", 0), 0u) << text;
        EXPECT_NE(text.find("Unable to complete network request to host"), std::string::npos) << text;
    }
    EXPECT_FALSE(db->Connected());
}

TEST_F(ServerTest, CommitAndRollbackSeenFromASecondAttachment) {
    db->SetConnected(true);
    TRawAttachment other(path);
    TpFIBTransaction tr(&form);
    tr.SetDefaultDatabase(db);
    tr.StartTransaction();
    ExecuteIn(tr, "insert into T values (1)");
    tr.CommitRetaining();
    EXPECT_EQ(other.QueryInt("select count(*) from T"), 1);
    ExecuteIn(tr, "insert into T values (2)");
    tr.Rollback();
    EXPECT_EQ(other.QueryInt("select count(*) from T"), 1);
}

TEST_F(ServerTest, AnAttachmentTheServerDropsFailsEveryLaterCall) {
    db->SetConnected(true);
    TpFIBTransaction tr(&form);
    tr.SetDefaultDatabase(db);
    tr.StartTransaction();
    ExecuteIn(tr, "insert into T values (1)");
    {
        TRawAttachment other(path);
        other.Execute("delete from mon$attachments where mon$attachment_id = " +
                      std::to_string(db->AttachmentID()));
    }
    EXPECT_THROW(ExecuteIn(tr, "insert into T values (2)"), EFIBInterBaseError);
    EXPECT_THROW(tr.Commit(), EFIBInterBaseError);
    EXPECT_TRUE(tr.Active());
    EXPECT_FALSE(db->TestConnected());
    EXPECT_FALSE(db->Connected());
    EXPECT_FALSE(tr.Active());
    try {
        db->DBFileName();
        FAIL() << "asked a closed connection";
    } catch (const EFIBClientError& e) {
        EXPECT_EQ(e.SQLCode(), 12);
    }
    TRawAttachment other(path);
    EXPECT_EQ(other.QueryInt("select count(*) from T"), 0);
}

} // namespace
