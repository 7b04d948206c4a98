// The program as a desktop user runs it, as real processes over embedded
// databases: a user outside group firebird (an unused uid, through setpriv)
// gets a lock directory of its own; settings that read as other than written
// are told on standard error and in the dry run's output; the password of
// setup.ini never appears in what the program prints or logs.
#include "platform/Files.h"
#include "tests/support/FirebirdFixture.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/TempDir.h"

#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

using namespace ostrakel;
using namespace ostrakel::test;

namespace {

const std::string kLockNote = "embedded databases keep their locks in ";

// The program started with exactly the given environment (as a login gives
// it), through `prefix` (setpriv to another user) when one is given.
TRun RunProgram(const std::vector<std::string>& prefix, const std::vector<std::string>& args,
                const std::map<std::string, std::string>& vars) {
    QProcessEnvironment env;
    env.insert("PATH", "/usr/bin:/bin");
    for (const auto& [name, value] : vars)
        env.insert(QString::fromStdString(name), QString::fromStdString(value));
    return TProgram{OSTRAKEL_EXE, env, prefix}.Run(args);
}

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// Two embedded databases (one mould to update, 5 -> 9) and a program directory.
class DesktopUserTest : public ::testing::Test {
protected:
    DesktopUserTest() {
        dbs.Create("kalimbor_db.fdb", 3,
                   MouldTables({"insert into kalimbor values (1, 'M1', 'K-1', 5, 1, 10, null)"}));
        dbs.Create("vendrel_data.fdb", 3, ReportTables({"insert into raporth values (10, 9)"}));
        WriteSetup("");
    }
    void WriteSetup(const std::string& more, const std::string& set = "log=1\n") {
        WriteSetupIni(dir.Path(), dbs.Path(), dbs.Path(), more, set);
    }
    int64_t Counter() {
        return TRawAttachment(dbs.ConnectString("kalimbor_db.fdb"))
            .QueryInt("select counter from kalimbor where id = 1")
            .value_or(-1);
    }
    std::string Logs() const {
        std::string text;
        for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
            if (e.path().filename().string().starts_with("log_")) text += ReadAllBytes(e.path().string());
        return text;
    }

    TTestDatabases dbs;
    TTempDir dir;
};

// A uid that no account has: not root, in no group, firebird least of all.
uid_t UnusedUid() {
    for (uid_t uid = 61000; uid < 62000; ++uid)
        if (!getpwuid(uid)) return uid;
    return 0;
}

void GiveTo(const std::string& path, uid_t uid) {
    for (const auto& e : std::filesystem::recursive_directory_iterator(path))
        EXPECT_EQ(lchown(e.path().c_str(), uid, uid), 0) << e.path();
    EXPECT_EQ(lchown(path.c_str(), uid, uid), 0);
}

TEST_F(DesktopUserTest, AUserOutsideGroupFirebirdRunsThePassWithALockDirectoryOfItsOwn) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
    struct stat shared {};
    if (stat("/tmp/firebird", &shared) != 0 || (shared.st_mode & S_IRWXO) == S_IRWXO)
        GTEST_SKIP() << "/tmp/firebird is open to every user here";
    const uid_t uid = UnusedUid();
    ASSERT_NE(uid, 0u);
    TTempDir user; // the user's home and runtime directory
    std::filesystem::create_directories(user.File("home"));
    std::filesystem::create_directories(user.File("run"));
    std::filesystem::create_directories(user.File("cache"));
    std::filesystem::create_directories(user.File("given"));
    chmod(user.Path().c_str(), 0755);
    chmod(user.File("run").c_str(), 0700);
    GiveTo(user.Path(), uid);
    GiveTo(dbs.Path(), uid);
    GiveTo(dir.Path(), uid);
    chmod(dbs.Path().c_str(), 0755);
    chmod(dir.Path().c_str(), 0755);
    const std::vector<std::string> asUser = {"setpriv", "--reuid=" + std::to_string(uid),
                                             "--regid=" + std::to_string(uid), "--clear-groups", "--"};
    const std::string home = user.File("home");

    struct {
        const char* What;
        std::map<std::string, std::string> Vars;
        std::string LockDir; // where the engine's files must be
        bool Told;
    } cases[] = {
        {"runtime directory",
         {{"HOME", home}, {"XDG_RUNTIME_DIR", user.File("run")}},
         user.File("run/firebird"),
         true},
        {"cache directory", {{"HOME", home}}, home + "/.cache/ostrakel/firebird-lock", true},
        {"cache directory of XDG_CACHE_HOME",
         {{"HOME", home}, {"XDG_CACHE_HOME", user.File("cache")}},
         user.File("cache/ostrakel/firebird-lock"),
         true},
        {"FIREBIRD_LOCK given",
         {{"HOME", home}, {"FIREBIRD_LOCK", user.File("given")}},
         user.File("given"),
         false},
    };
    int64_t expected = 5;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        TRawAttachment(dbs.ConnectString("kalimbor_db.fdb")).Execute("update kalimbor set counter = 5");
        const TRun run = RunProgram(asUser, {"--once", "--dir", dir.Path()}, c.Vars);
        ASSERT_EQ(run.Status, 0) << run.Err;
        expected = 9;
        EXPECT_EQ(Counter(), expected);
        EXPECT_NE(run.Out.find("Zaktualizowano licznik kalimbor :M1[K-1]  stan: 9"), std::string::npos)
            << run.Out;
        EXPECT_EQ(Count(run.Err, kLockNote + c.LockDir + " "), c.Told ? 1u : 0u) << run.Err;
        EXPECT_EQ(Count(run.Err, kLockNote), c.Told ? 1u : 0u) << run.Err;
        struct stat st {};
        ASSERT_EQ(stat(c.LockDir.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, uid);
        if (c.Told) EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_TRUE(std::filesystem::exists(c.LockDir + "/fb_init")) << "the engine locked there";
    }
    // Root may use the shared directory: nothing changes and nothing is said.
    const TRun root = RunProgram({}, {"--once", "--dir", dir.Path()}, {{"HOME", home}});
    ASSERT_EQ(root.Status, 0) << root.Err;
    EXPECT_EQ(root.Err.find(kLockNote), std::string::npos) << root.Err;
}

TEST_F(DesktopUserTest, SettingsThatReadAsOtherThanWrittenAreToldOnceAndInTheDryRun) {
    WriteSetup("timeout=600\n", "godzina=3 ; w nocy\nhistoria=tak\nlog=1\n");
    const std::string file = dir.File("setup.ini");
    const std::vector<std::string> warnings = {
        file + ": [set] godzina=3 ; w nocy is not a whole number; it is read as 3, the default",
        file + ": [set] historia=tak is not a whole number; it is read as 0 (off)",
        file + ": [sql] timeout=600 is longer than the client can wait; it is read as 255 seconds",
    };
    for (const char* mode : {"--dry-run", "--once"}) {
        SCOPED_TRACE(mode);
        const TRun run = RunProgram({}, {mode, "--dir", dir.Path()}, {{"HOME", dir.Path()}});
        ASSERT_EQ(run.Status, 0) << run.Err;
        for (const std::string& w : warnings) {
            EXPECT_EQ(Count(run.Err, w + "\n"), 1u) << run.Err;
            EXPECT_EQ(Count(run.Out, w + "\n"), std::string(mode) == "--dry-run" ? 1u : 0u) << run.Out;
        }
    }
    // An hour the clock never shows: the daily pass never runs, and says so.
    WriteSetup("", "godzina=24\nlog=1\n");
    const TRun late = RunProgram({}, {"--dry-run", "--dir", dir.Path()}, {{"HOME", dir.Path()}});
    EXPECT_NE(late.Out.find(file +
                            ": [set] godzina=24 is not an hour from 0 to 23; it is read as 24 and the daily "
                            "update never runs\n"),
              std::string::npos)
        << late.Out;
    // Settings that read as written say nothing.
    WriteSetup("timeout=30\n", "godzina=0x3\nhistoria=1\nlog=1\n");
    const TRun clean = RunProgram({}, {"--dry-run", "--dir", dir.Path()}, {{"HOME", dir.Path()}});
    EXPECT_EQ(clean.Err.find("setup.ini"), std::string::npos) << clean.Err;
}

TEST_F(DesktopUserTest, ThePasswordOfSetupIniIsNeverPrintedOrLogged) {
    const std::string secret = "Sekret-9f3e1";
    struct {
        const char* What;
        std::string Sql;
        int Status;
    } cases[] = {
        {"a pass", "user=SYSDBA\npassword=" + secret + "\n", 0},
        // The engine checks the user's rights even embedded: the user line is the one used.
        {"a user without rights", "user=KIEROWNIK\npassword=" + secret + "\n", 1},
        {"a database that is not there", "kalimbor=/nonexistent/\nuser=KIEROWNIK\npassword=" + secret + "\n",
         1},
        {"a password too long for its item", "password=" + secret + std::string(300, 'x') + "\n", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        std::ofstream(dir.File("setup.ini"), std::ios::binary)
            << "[sql]\n"
            << c.Sql << "kalimbor=" << dbs.Path() << "\nvendrel=" << dbs.Path() << "\n[set]\nlog=1\n";
        chmod(dir.File("setup.ini").c_str(), 0644);
        for (const char* mode : {"--once", "--dry-run"}) {
            const TRun run = RunProgram({}, {mode, "--dir", dir.Path()}, {{"HOME", dir.Path()}});
            EXPECT_EQ(run.Status, c.Status) << mode << run.Err;
            EXPECT_EQ(run.Out.find(secret), std::string::npos) << mode << run.Out;
            EXPECT_EQ(run.Err.find(secret), std::string::npos) << mode << run.Err;
            // A file others can read is named, with the fix.
            EXPECT_EQ(Count(run.Err, dir.File("setup.ini") +
                                         " holds the database password and other users can "
                                         "read it; make it private with: chmod 600 " +
                                         dir.File("setup.ini") + "\n"),
                      1u)
                << run.Err;
        }
        EXPECT_EQ(Logs().find(secret), std::string::npos);
    }
    // A private file says nothing of it.
    chmod(dir.File("setup.ini").c_str(), 0600);
    const TRun run = RunProgram({}, {"--dry-run", "--dir", dir.Path()}, {{"HOME", dir.Path()}});
    EXPECT_EQ(run.Err.find("chmod"), std::string::npos) << run.Err;
}

} // namespace
