// What setup.ini adds to the window's connections: the login of [sql] user and
// password in place of the built-in one, and the set_bind line (kept, changed
// or left out); each form of the lines attaches, reads the clock and runs a
// whole pass over embedded databases. And the readings told as warnings.
#include "app/SetupChecks.h"
#include "app/Unit1.h"
#include "db/FIBDatabase.h"
#include "platform/Settings.h"
#include "tests/support/Fakes.h"
#include "tests/support/FirebirdFixture.h"
#include "tests/support/FormEnvironment.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

using namespace ostrakel;
using namespace ostrakel::test;

namespace {

const std::string kBind = "set_bind=int128 to legacy;decfloat to legacy;time zone to legacy";

class ConnectionSettingsTest : public ::testing::Test {
protected:
    ConnectionSettingsTest() {
        dbs.Create("kalimbor_db.fdb", 3,
                   MouldTables({"insert into kalimbor values (1, 'M1', 'K-1', 5, 1, 10, null)"}));
        dbs.Create(
            "vendrel_data.fdb", 3,
            ReportTables({"insert into raporth values (10, 6.5)", "insert into raporth values (10, 2)"}));
    }
    void WriteSetup(const std::string& more) {
        WriteSetupIni(dir.Path(), dbs.Path(), dbs.Path(), more, "historia=1\nlog=1\n");
    }
    int64_t Counter() {
        return TRawAttachment(dbs.ConnectString("kalimbor_db.fdb"))
            .QueryInt("select counter from kalimbor where id = 1")
            .value_or(-1);
    }

    TTestDatabases dbs;
    TTempDir dir;
    TFakeClock clock;
    TFakeDialogs dialogs;
};

TEST_F(ConnectionSettingsTest, BothConnectionsCarryTheLinesOfSetupIniAndRunAPass) {
    const std::string design = "user_name=SYSDBA|password=plumtrove|lc_ctype=WIN1250|";
    struct {
        const char* What;
        std::string Sql;
        std::string Lines; // joined with "|"
    } cases[] = {
        {"nothing said", "", design + kBind + "|"},
        {"another binding", "set_bind=time zone to legacy\n", design + "set_bind=time zone to legacy|"},
        {"no binding", "set_bind=\n", design},
        {"login of its own", "user=SYSDBA\npassword=Inne-Haslo\n",
         "user_name=SYSDBA|password=Inne-Haslo|lc_ctype=WIN1250|" + kBind + "|"},
        {"empty login keys keep the built-in one", "user=\npassword=\n", design + kBind + "|"},
        {"with the connect timeout", "timeout=20\n", design + kBind + "|connect_timeout=20|"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        TRawAttachment(dbs.ConnectString("kalimbor_db.fdb")).Execute("update kalimbor set counter = 5");
        WriteSetup(c.Sql);
        dialogs.Shown.clear();
        TForm1 form(TestFormEnvironment(dir.Path(), clock, dialogs, "T"));
        ASSERT_TRUE(dialogs.Shown.empty()) << dialogs.Shown.front().Text;
        for (TpFIBDatabase* db : {form.pFIBDatabaseReports, form.pFIBDatabaseMoulds}) {
            std::string lines;
            for (const std::string& line : db->DBParams().Lines())
                lines += line + "|";
            EXPECT_EQ(lines, c.Lines) << db->Name();
            EXPECT_TRUE(db->Connected());
            EXPECT_LT(std::fabs(db->DifferenceTime()), 1.0 / 86400) << "the clock was read";
        }
        ASSERT_TRUE(form.Guard([&] { form.Button1Click(); }));
        EXPECT_EQ(Counter(), 8);
        // Neither the description nor anything shown tells the password.
        EXPECT_EQ(form.Description().find("Inne-Haslo"), std::string::npos);
        EXPECT_EQ(form.Description().find("plumtrove"), std::string::npos);
        EXPECT_TRUE(dialogs.Shown.empty());
    }
}

TEST(SetupChecks, ValuesThatReadAsOtherThanWritten) {
    TTempDir dir;
    const std::string file = dir.File("setup.ini");
    struct {
        const char* Set;
        std::vector<std::string> Warnings; // after "<file>: "
    } cases[] = {
        {"godzina=3\nhistoria=1\nlog=0\nzbiorczo=$1\n", {}},
        {"godzina=23\n", {}},
        {"godzina=0\n", {}},
        {"godzina=\n", {"[set] godzina= is not a whole number; it is read as 3, the default"}},
        {"godzina=3 ; w nocy\n",
         {"[set] godzina=3 ; w nocy is not a whole number; it is read as 3, the default"}},
        {"godzina=5h\n", {"[set] godzina=5h is not a whole number; it is read as 3, the default"}},
        {"godzina=24\n",
         {"[set] godzina=24 is not an hour from 0 to 23; it is read as 24 and the daily update never runs"}},
        {"godzina=-1\n",
         {"[set] godzina=-1 is not an hour from 0 to 23; it is read as 65535 and the daily update never "
          "runs"}},
        {"historia=tak\nlog=yes\nzbiorczo=1.0\n",
         {"[set] historia=tak is not a whole number; it is read as 0 (off)",
          "[set] log=yes is not a whole number; it is read as 0 (off)",
          "[set] zbiorczo=1.0 is not a whole number; it is read as 0 (off)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Set);
        std::ofstream(file, std::ios::binary) << "[set]\n" << c.Set;
        std::vector<std::string> expected;
        for (const std::string& w : c.Warnings)
            expected.push_back(file + ": " + w);
        EXPECT_EQ(SettingsWarnings(TIniFile(file)), expected);
    }
    struct {
        const char* Sql;
        const char* Warning;
    } timeouts[] = {
        {"timeout=255\n", nullptr},
        {"timeout=0\n", nullptr},
        {"timeout=256\n", "[sql] timeout=256 is longer than the client can wait; it is read as 255 seconds"},
        {"timeout=pół minuty\n",
         "[sql] timeout=pół minuty is not a whole number; it is read as 0 (no connect timeout)"},
        // Polish letters travel in Windows-1250; a Cyrillic one cannot (and is not shown).
        {"password=zażółć\n", nullptr},
        {"password=пароль\n",
         "[sql] password holds characters that the connections' character set (Windows-1250) cannot carry; "
         "the server will refuse the login"},
        {"user=оператор\n",
         "[sql] user holds characters that the connections' character set (Windows-1250) cannot carry; "
         "the server will refuse the login"},
    };
    for (const auto& t : timeouts) {
        SCOPED_TRACE(t.Sql);
        std::ofstream(file, std::ios::binary) << "[sql]\n" << t.Sql;
        const std::vector<std::string> warnings = SettingsWarnings(TIniFile(file));
        EXPECT_EQ(warnings,
                  t.Warning ? std::vector<std::string>{file + ": " + t.Warning} : std::vector<std::string>{});
    }
}

TEST(SetupChecks, APasswordOthersCanReadIsTold) {
    TTempDir dir;
    const std::string file = dir.File("setup.ini");
    struct {
        const char* Text;
        mode_t Mode;
        bool Told;
    } cases[] = {
        {"[sql]\npassword=x\n", 0644, true},      {"[sql]\npassword=x\n", 0640, true},
        {"[sql]\npassword=x\n", 0604, true},      {"[sql]\npassword=x\n", 0600, false},
        {"[sql]\nuser=KIEROWNIK\n", 0644, false}, {"[sql]\npassword=\n", 0644, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Text) + std::to_string(c.Mode));
        std::ofstream(file, std::ios::binary) << c.Text;
        chmod(file.c_str(), c.Mode);
        const auto warning = PasswordFileWarning(TIniFile(file));
        ASSERT_EQ(warning.has_value(), c.Told);
        if (warning) {
            EXPECT_EQ(*warning,
                      file +
                          " holds the database password and other users can read it; make it private "
                          "with: chmod 600 " +
                          file);
        }
    }
}

} // namespace
