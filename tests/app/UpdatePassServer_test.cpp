// The update pass with the reports database on the Firebird server on
// loopback: the server dropping its attachment in the middle of a pass, and
// the server stopped and started again, before a pass and before start-up.
#include "app/Unit1.h"
#include "db/FIBDatabase.h"
#include "db/FIBTransaction.h"
#include "platform/Files.h"
#include "tests/support/Fakes.h"
#include "tests/support/FirebirdFixture.h"
#include "tests/support/FormEnvironment.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace ostrakel;
using namespace ostrakel::test;

namespace {

class UpdatePassServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        OSTRAKEL_REQUIRE_TEST_SERVER();
        server = std::make_unique<TTestDatabases>(TTestDatabases::Server);
        const std::string reportsPath = server->Create("vendrel_data.fdb", 3, ReportTables());
        local.Create("kalimbor_db.fdb", 3, MouldTables());
        reports = std::make_unique<TRawAttachment>(reportsPath);
        moulds = std::make_unique<TRawAttachment>(local.ConnectString("kalimbor_db.fdb"));
        for (int id = 1; id <= 4; ++id) {
            moulds->Execute("insert into kalimbor values (" + std::to_string(id) + ", 'M" + std::to_string(id) +
                            "', 'K', 0, 1, " + std::to_string(id) + ", null)");
            reports->Execute("insert into raporth values (" + std::to_string(id) + ", " + std::to_string(id * 10) + ")");
        }
        WriteSetupIni(dir.Path(), local.Path(), ServerPrefix() + server->Path(), "", "historia=1\nlog=1\n");
        if (!StopsTheServer()) StartForm();
    }
    void TearDown() override {
        // Whatever a test did to the server, the tests after it find it running.
        if (server && !ServerAvailable()) ServerScript("start");
    }

    virtual bool StopsTheServer() const { return false; }
    void StartForm() {
        form = std::make_unique<TForm1>(TestFormEnvironment(dir.Path(), clock, dialogs, "T"));
        ASSERT_TRUE(dialogs.Shown.empty()) << dialogs.Shown.front().Text;
    }
    bool Pass() { return form->Guard([&] { form->Button1Click(); }); }

    // tests/db/server.sh on the server that CTest's fixture started.
    static bool ServerScript(const std::string& command) {
        return std::system((std::string(OSTRAKEL_SERVER_SH) + " " + command + " " + OSTRAKEL_FB_STATE +
                            " >/dev/null 2>&1")
                               .c_str()) == 0;
    }
    std::string Log() const { return FileExists(form->mylogfile) ? ReadAllBytes(form->mylogfile) : ""; }
    std::string Counters() {
        std::string text;
        for (int id = 1; id <= 4; ++id)
            text += std::to_string(Counter(id)) + " ";
        return text;
    }

    int64_t Counter(int id) {
        return moulds->QueryInt("select counter from kalimbor where id = " + std::to_string(id)).value_or(-1);
    }

    TTempDir dir;
    TTestDatabases local;
    std::unique_ptr<TTestDatabases> server;
    std::unique_ptr<TRawAttachment> reports, moulds;
    TFakeClock clock{EncodeDateTime({2024, 3, 5, 10, 20, 30, 0})};
    TFakeDialogs dialogs;
    std::unique_ptr<TForm1> form;
};

TEST_F(UpdatePassServerTest, TheReportsServerDroppingTheAttachmentEndsThePassWithTheLayersError) {
    // The server drops the program's attachment as the third mould's sum begins.
    int starts = 0;
    const int attachment = form->pFIBDatabaseReports->AttachmentID();
    form->pFIBTransaction2->BeforeStart = [&](TFIBTransaction*) {
        if (++starts == 3)
            reports->Execute("delete from mon$attachments where mon$attachment_id = " + std::to_string(attachment));
    };
    EXPECT_FALSE(form->Guard([&] { form->Button1Click(); }));
    ASSERT_EQ(dialogs.Shown.size(), 1u);
    EXPECT_TRUE(dialogs.Shown[0].Error);
    EXPECT_NE(dialogs.Shown[0].Text.find("Form1.pFIBTransaction2"), std::string::npos) << dialogs.Shown[0].Text;
    EXPECT_EQ(Counter(1), 10);
    EXPECT_EQ(Counter(2), 20) << "counters already written stay written";
    EXPECT_EQ(Counter(3), 0);
    EXPECT_EQ(Counter(4), 0);
    EXPECT_FALSE(FileExists(form->mylogfile)) << "the failed pass does not save";
    const std::string view = form->MemoText();
    EXPECT_NE(view.find("Sprawdzenie kalimbor: M3[K]"), std::string::npos);

    // The next pass finds the attachment gone, attaches again and finishes the work.
    EXPECT_TRUE(Pass()) << dialogs.Shown.back().Text;
    EXPECT_EQ(dialogs.Shown.size(), 1u);
    EXPECT_EQ(Counters(), "10 20 30 40 ");
    const std::string saved = Log();
    EXPECT_NE(saved.find("  Zaktualizowano licznik kalimbor :M2[K]  stan: 20"), std::string::npos);
    EXPECT_NE(saved.find("Sprawdzenie kalimbor: M3[K]"), std::string::npos);
    EXPECT_NE(saved.find("Ponowne po\xB3\xB9"
                         "czenie z baz\xB9 " + ServerPrefix() +
                         server->Path("vendrel_data.fdb")),
              std::string::npos)
        << saved;
}

// Stopping and starting the server is for a server the tests started
// themselves; one that was running already is not ours to stop.
class ServerRestartTest : public UpdatePassServerTest {
protected:
    void SetUp() override {
        if (ServerAvailable() && !FileExists(std::string(OSTRAKEL_FB_STATE) + "/fbguard.pid"))
            GTEST_SKIP() << "the suite's server was not started by its script";
        UpdatePassServerTest::SetUp();
        reports.reset(); // the script's attachment would not live through the restart
    }
    void StopServer() {
        ASSERT_TRUE(ServerScript("stop"));
        ASSERT_FALSE(ServerAvailable());
    }
    void StartServer() { ASSERT_TRUE(ServerScript("start")); }
    int Occurrences(const std::string& text, const std::string& part) {
        int n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    }
    const std::string kReconnect = "Ponowne po\xB3\xB9"
                                   "czenie z baz\xB9 ";
};

TEST_F(ServerRestartTest, APassAfterTheServerRestartedReconnectsAndWritesTheCounters) {
    ASSERT_TRUE(Pass());
    ASSERT_EQ(Counters(), "10 20 30 40 ");
    moulds->Execute("update kalimbor set counter = 0");

    StopServer();
    EXPECT_FALSE(Pass());
    ASSERT_EQ(dialogs.Shown.size(), 1u);
    EXPECT_TRUE(dialogs.Shown[0].Error);
    EXPECT_NE(dialogs.Shown[0].Text.find("Form1.pFIBDatabaseReports"), std::string::npos)
        << dialogs.Shown[0].Text;
    EXPECT_EQ(Counters(), "0 0 0 0 ") << "the failed reconnect ends the pass before the walk";

    StartServer();
    ASSERT_TRUE(Pass()) << dialogs.Shown.back().Text;
    EXPECT_EQ(dialogs.Shown.size(), 1u);
    EXPECT_EQ(Counters(), "10 20 30 40 ");
    const std::string log = Log();
    EXPECT_EQ(Occurrences(log, kReconnect), 1) << log;
    EXPECT_NE(log.find(kReconnect + ServerPrefix() + server->Path("vendrel_data.fdb")), std::string::npos)
        << log;
    EXPECT_LT(log.find(kReconnect), log.rfind("Sprawdzenie kalimbor: M1[K]")) << "logged before the walk";

    // Connected again, the next pass has nothing to reconnect.
    ASSERT_TRUE(Pass());
    EXPECT_EQ(Occurrences(Log(), kReconnect), 1);
}

class ServerDownAtStartUpTest : public ServerRestartTest {
protected:
    bool StopsTheServer() const override { return true; }
};

TEST_F(ServerDownAtStartUpTest, APassAfterTheServerCameUpFinishesStartUpAndWritesTheCounters) {
    StopServer();
    form = std::make_unique<TForm1>(TestFormEnvironment(dir.Path(), clock, dialogs, "T"));
    ASSERT_EQ(dialogs.Shown.size(), 1u);
    EXPECT_FALSE(dialogs.Shown[0].Error) << "the connect's plain message box";
    EXPECT_TRUE(form->mylogfile.empty());

    StartServer();
    ASSERT_TRUE(Pass()) << dialogs.Shown.back().Text;
    EXPECT_EQ(dialogs.Shown.size(), 1u);
    EXPECT_EQ(Counters(), "10 20 30 40 ");
    ASSERT_FALSE(form->mylogfile.empty()) << "start-up is finished by the reconnect";
    const std::string log = Log();
    // Start-up's own line, then both connections, then the walk.
    const size_t start = log.find("T   start programu\r\n");
    const size_t reports = log.find(kReconnect + ServerPrefix() + server->Path("vendrel_data.fdb"));
    const size_t mouldsLine = log.find(kReconnect + local.Path("kalimbor_db.fdb"));
    const size_t walk = log.find("Sprawdzenie kalimbor: M1[K]");
    ASSERT_NE(start, std::string::npos) << log;
    ASSERT_NE(reports, std::string::npos) << log;
    ASSERT_NE(mouldsLine, std::string::npos) << log;
    EXPECT_LT(start, reports);
    EXPECT_LT(reports, mouldsLine);
    EXPECT_LT(mouldsLine, walk);
}

} // namespace
