// One program per settings directory, with the real program as a second
// process: a second window brings the running one to the front and ends;
// --once and --dry-run wait for another program's pass and then run, or give
// up after 30 seconds; the window's own pass waits as well. And the first
// start from the desktop, which writes the example settings.
#include "app/CommandLine.h"
#include "app/SingleInstance.h"
#include "app/Unit1.h"
#include "platform/Files.h"
#include "tests/support/Fakes.h"
#include "tests/support/FirebirdFixture.h"
#include "tests/support/FormEnvironment.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/TempDir.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace ostrakel;
using namespace ostrakel::test;
using namespace std::chrono_literals;

namespace {

// The program with the off-screen platform for the window, and with a runtime
// directory of its own or (empty) none, as from cron or `sudo -u`.
std::unique_ptr<QProcess> Start(const std::vector<std::string>& args, const std::string& runtime,
                                const std::string& config = {}) {
    TProgram program{OSTRAKEL_EXE, EnvironmentWithoutDisplay()};
    program.Environment.insert("QT_QPA_PLATFORM", "offscreen");
    if (runtime.empty()) program.Environment.remove("XDG_RUNTIME_DIR");
    else program.Environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime));
    if (!config.empty()) program.Environment.insert("XDG_CONFIG_HOME", QString::fromStdString(config));
    return program.Start(args);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class SingleInstanceTest : public ::testing::Test {
protected:
    // This process stands for the desktop session's window, with a runtime
    // directory that the other processes need not share.
    void SetUp() override {
        if (const char* old = getenv("XDG_RUNTIME_DIR")) oldRuntime = old;
        setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    }
    void TearDown() override {
        if (oldRuntime) setenv("XDG_RUNTIME_DIR", oldRuntime->c_str(), 1);
        else unsetenv("XDG_RUNTIME_DIR");
    }

    // Settings over two small embedded databases: one mould whose counter changes.
    void WriteWorkingSetup(const std::string& settingsDir) {
        dbs.Create("kalimbor_db.fdb", 3,
                   MouldTables({"insert into kalimbor values (1, 'Forma', 'K-1', 5, 1, 10, null)"}));
        dbs.Create("vendrel_data.fdb", 3, ReportTables({"insert into raporth values (10, 6)"}));
        WriteSetupIni(settingsDir, dbs.Path(), dbs.Path());
    }

    TTempDir runtime; // this process's runtime directory
    std::optional<std::string> oldRuntime;
    TTempDir settings;
    TTestDatabases dbs;
    TFakeClock clock{EncodeDateTime({2024, 3, 5, 10, 20, 30, 0})};
    TFakeDialogs dialogs;
};

} // namespace

// The running window (here, in the test's process, hidden in its tray) is
// reached under every name of its settings directory, and from a start with
// another runtime directory or none; the second start ends with status 0 and
// the window is in front. A start with other settings is a program of its own
// and keeps running.
TEST_F(SingleInstanceTest, ASecondWindowBringsTheRunningOneToTheFrontAndEnds) {
    TSingleInstance instance(settings.Path());
    ASSERT_TRUE(instance.BecomeTheWindow());
    TFormEnvironment env = TestFormEnvironment(settings.Path(), clock, dialogs, "T");
    env.TrayAvailable = true;
    TForm1 form(env);
    form.ShowAtStart(/*inTray=*/true);
    // As RunWindow answers a later start.
    instance.SetShowHandler([&form] { form.Guard([&form] { form.TrayIcon1Click(); }); });

    TTempDir links;
    const std::string link = links.File("settings-link");
    ASSERT_EQ(symlink(settings.Path().c_str(), link.c_str()), 0);
    TTempDir elsewhere;
    const std::pair<std::string, std::string> starts[] = {{settings.Path(), runtime.Path()},
                                                          {settings.Path() + ".", runtime.Path()},
                                                          {link, runtime.Path()},
                                                          {settings.Path(), ""},
                                                          {link, elsewhere.Path()}};
    for (const auto& [name, runtimeDir] : starts) {
        form.hide();
        ASSERT_FALSE(form.isVisible());
        auto p = Start({"--dir", name}, runtimeDir);
        const TRun run = Finished(*p, 20s);
        EXPECT_EQ(run.Status, 0) << name << " with runtime '" << runtimeDir << "'\n" << run.Err;
        EXPECT_TRUE(Contains(run.Err, "already running")) << run.Err;
        // The request may be answered just after the program ended.
        for (int i = 0; i < 50 && !form.isVisible(); ++i) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_TRUE(form.isVisible()) << "not brought to the front from " << name << " with runtime '"
                                      << runtimeDir << "'";
    }

    // Other settings: a window of its own (without setup.ini its box waits;
    // a signal ends it, and with status 0, although its log has no file).
    TTempDir other;
    auto p = Start({"--dir", other.Path()}, runtime.Path());
    EXPECT_FALSE(p->waitForFinished(3000)) << p->readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(p->processId()), SIGTERM);
    const TRun run = Finished(*p, 60s);
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_TRUE(Contains(run.Err, "the log has no file")) << run.Err;
}

// --once and --dry-run wait for the pass that another program runs with the
// same settings, whatever their environment (the same runtime directory as
// the window's, another, or none, as from cron or `sudo -u`): released within
// the wait, they run after it; held longer than 30 seconds, they end with
// status 1 and say why, having done nothing.
TEST_F(SingleInstanceTest, OnceAndDryRunWaitForAnotherPassThenRunOrGiveUp) {
    TTempDir busy; // a pass that never ends
    TTempDir elsewhere;
    WriteWorkingSetup(settings.Path());
    TSingleInstance releasedSoon(settings.Path()), heldLong(busy.Path());
    ASSERT_TRUE(releasedSoon.LockPass(0ms));
    ASSERT_TRUE(heldLong.LockPass(0ms));
    EXPECT_TRUE(FileExists(settings.File(".ostrakel-pass.lock"))) << "the lock lies with the settings";

    struct TCase {
        std::string option;
        bool released;
        std::string runtime;
        std::unique_ptr<QProcess> process;
    };
    std::vector<TCase> cases;
    for (const char* option : {"--once", "--dry-run"})
        for (bool released : {true, false}) cases.push_back({option, released, runtime.Path(), nullptr});
    cases.push_back({"--once", true, "", nullptr});
    cases.push_back({"--dry-run", true, elsewhere.Path(), nullptr});
    cases.push_back({"--once", false, "", nullptr});
    for (TCase& c : cases)
        c.process = Start({c.option, "--dir", c.released ? settings.Path() : busy.Path()}, c.runtime);
    std::this_thread::sleep_for(2s);
    const auto released = std::chrono::steady_clock::now();
    releasedSoon.UnlockPass();

    for (TCase& c : cases) {
        const TRun run = Finished(*c.process, 60s);
        const std::string what = c.option + (c.released ? " released" : " held") + ", runtime '" + c.runtime + "'";
        if (c.released) {
            EXPECT_EQ(run.Status, 0) << what << "\n" << run.Err;
            EXPECT_GE(run.Ended, released) << what;
            EXPECT_TRUE(Contains(run.Out, "Sprawdzono form: 1")) << what << "\n" << run.Out;
        } else {
            EXPECT_EQ(run.Status, 1) << what;
            EXPECT_TRUE(Contains(run.Err, "Another Ostrakel is running an update pass with the settings in " +
                                              busy.Path().substr(0, busy.Path().size() - 1)))
                << what << "\n" << run.Err;
            EXPECT_EQ(run.Out, "") << what;
        }
    }
    const TDateTimeParts today = DecodeDateTime(SystemClock().Now());
    EXPECT_TRUE(FileExists(settings.File("log_" + std::to_string(today.Year) + "_" + std::to_string(today.Month) +
                                         ".txt")))
        << "--once ran and saved its log";
}

// The window's pass waits for another program's pass in the same way and
// runs when it ends; asked to end while it waits, it gives up silently (no box
// that nobody may be there to answer) and runs nothing.
TEST_F(SingleInstanceTest, TheWindowsPassWaitsForAnotherPass) {
    TSingleInstance other(settings.Path()), mine(settings.Path());
    ASSERT_TRUE(other.LockPass(0ms));
    std::atomic<bool> stop{true};
    TFormEnvironment env = TestFormEnvironment(settings.Path(), clock, dialogs, "T");
    env.Instance = &mine;
    env.StopRequested = &stop;
    TForm1 form(env);
    dialogs.Shown.clear(); // start-up's box: no setup.ini
    EXPECT_FALSE(form.Guard([&form] { form.Button1Click(); }));
    EXPECT_TRUE(dialogs.Shown.empty()) << dialogs.Shown[0].Text;

    // Released while it waits: the pass runs then (and stops at its connect:
    // there are no databases).
    stop = false;
    std::atomic<bool> released{false};
    std::thread release([&] {
        std::this_thread::sleep_for(500ms);
        released = true;
        other.UnlockPass();
    });
    EXPECT_FALSE(form.Guard([&form] { form.Button1Click(); }));
    EXPECT_TRUE(released) << "the pass did not wait";
    release.join();
    ASSERT_EQ(dialogs.Shown.size(), 1u);
    EXPECT_TRUE(Contains(dialogs.Shown[0].Text, "Database name is missing.")) << dialogs.Shown[0].Text;
    // The lock is free again after the pass, for another program.
    EXPECT_TRUE(other.LockPass(0ms));
}

// The desktop's first start: the user's own settings directory without
// setup.ini gets the example settings, readable by the user alone, and the
// user is told where; any other directory, or one with settings, is left as it is.
TEST_F(SingleInstanceTest, AFirstStartWritesTheExampleSettingsAndSaysWhere) {
    TTempDir config;
    setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    const std::string user = config.Path() + "ostrakel/";
    ASSERT_EQ(UserSettingsDir(), user);

    EXPECT_FALSE(OfferFirstSettings(settings.Path(), dialogs, "ostrakel")) << "not the user's own directory";
    EXPECT_FALSE(FileExists(settings.File("setup.ini")));
    ASSERT_TRUE(OfferFirstSettings(user, dialogs, "ostrakel"));
    const std::string ini = ReadAllBytes(user + "setup.ini");
    EXPECT_EQ(ini, ReadAllBytes(OSTRAKEL_SOURCE_DIR "/dist/setup.ini.example"));
    struct stat st {};
    ASSERT_EQ(stat((user + "setup.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(dialogs.Shown.size(), 1u);
    EXPECT_FALSE(dialogs.Shown[0].Error);
    EXPECT_TRUE(Contains(dialogs.Shown[0].Text, user + "setup.ini")) << dialogs.Shown[0].Text;
    EXPECT_FALSE(OfferFirstSettings(user, dialogs, "ostrakel")) << "settings that are there stay";
    EXPECT_EQ(dialogs.Shown.size(), 1u);
    unsetenv("XDG_CONFIG_HOME");

    // The real program, as the menu entry starts it, with no ~/.config/ostrakel
    // at all: it writes the example and waits in its box (a signal ends it).
    TTempDir config2;
    const std::string user2 = config2.Path() + "ostrakel";
    auto p = Start({"--dir", user2}, runtime.Path(), config2.Path());
    for (int i = 0; i < 300 && !FileExists(user2 + "/setup.ini"); ++i) std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(FileExists(user2 + "/setup.ini"));
    EXPECT_FALSE(p->waitForFinished(1000)) << "the box waits for the user";
    ::kill(static_cast<pid_t>(p->processId()), SIGTERM);
    const TRun run = Finished(*p, 60s);
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_TRUE(Contains(run.Err, user2 + "/setup.ini")) << run.Err;
    // --once with the same missing directory is refused as before.
    TTempDir config3;
    auto once = Start({"--once", "--dir", config3.Path() + "ostrakel"}, runtime.Path(), config3.Path());
    EXPECT_EQ(Finished(*once, 60s).Status, 2);
}
