// The update pass with the reports database on the Firebird server on
// loopback, whose attachment the server drops in the middle of a pass.
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
#include <fstream>
#include <string>

using namespace ostrakel;
using namespace ostrakel::test;

namespace {

class UpdatePassServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!ServerAvailable()) {
            if (std::getenv("OSTRAKEL_FB_SERVER_REQUIRED")) FAIL() << "no Firebird server on 127.0.0.1:3050";
            GTEST_SKIP() << "no Firebird server on 127.0.0.1:3050";
        }
        server = std::make_unique<TTestDatabases>(TTestDatabases::Server);
        const std::string reportsPath = server->Create(
            "vendrel_data.fdb", 3, {"create table raporth (toolid integer, d_l numeric(15,2))"});
        local.Create("kalimbor_db.fdb", 3,
                     {"create table kalimbor (id integer not null primary key, nazwa varchar(60), kod1 varchar(20), "
                      "counter integer, countmode integer, id_vendrel integer, counttch timestamp)",
                      "create table KALIMBOR_LICZNIKI (id_f integer, stan integer, ostan integer, opis varchar(40), "
                      "id_p integer, lm integer)"});
        reports = std::make_unique<TRawAttachment>(reportsPath);
        moulds = std::make_unique<TRawAttachment>(local.ConnectString("kalimbor_db.fdb"));
        for (int id = 1; id <= 4; ++id) {
            moulds->Execute("insert into kalimbor values (" + std::to_string(id) + ", 'M" + std::to_string(id) +
                            "', 'K', 0, 1, " + std::to_string(id) + ", null)");
            reports->Execute("insert into raporth values (" + std::to_string(id) + ", " + std::to_string(id * 10) + ")");
        }
        std::ofstream(dir.File("setup.ini"), std::ios::binary)
            << "[sql]\nkalimbor=" << local.Path() << "\nvendrel=localhost:" << server->Path()
            << "\n[set]\nhistoria=1\nlog=1\n";
        form = std::make_unique<TForm1>(TestFormEnvironment(dir.Path(), clock, dialogs, "T"));
        ASSERT_TRUE(dialogs.Shown.empty()) << dialogs.Shown.front().Text;
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

    // The next pass fails clearly, without a crash or a hang.
    EXPECT_FALSE(form->Guard([&] { form->Button1Click(); }));
    ASSERT_EQ(dialogs.Shown.size(), 2u);
    EXPECT_FALSE(dialogs.Shown[1].Text.empty());
    EXPECT_EQ(Counter(3), 0);

    // Closing saves what the failed passes logged.
    ASSERT_TRUE(form->FormClose());
    const std::string saved = ReadAllBytes(form->mylogfile);
    EXPECT_NE(saved.find("  Zaktualizowano licznik kalimbor :M2[K]  stan: 20"), std::string::npos);
    EXPECT_NE(saved.find("Sprawdzenie kalimbor: M3[K]"), std::string::npos);
}

} // namespace
