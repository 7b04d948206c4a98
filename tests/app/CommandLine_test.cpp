// The command line as the program reads it: what each form asks for, and the
// forms that are refused.
#include "app/CommandLine.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ostrakel;

namespace {

struct TCase {
    std::vector<std::string> Args; // "@" stands for an existing directory
    TCommandLine::TAction Action;
    bool WithDir = false;
    std::string ErrorPart = {}; // a part of the error's text
};

TEST(CommandLineTest, EachFormAndWhatItAsksFor) {
    test::TTempDir dir;
    const std::string noSlash = dir.Path().substr(0, dir.Path().size() - 1);
    const std::vector<TCase> cases = {
        {{}, TCommandLine::Window},
        {{"--once"}, TCommandLine::Once},
        {{"--dry-run"}, TCommandLine::DryRun},
        {{"--once", "--dry-run"}, TCommandLine::DryRun},
        {{"--dir", "@"}, TCommandLine::Window, true},
        {{"--once", "--dir=@"}, TCommandLine::Once, true},
        {{"--dir", "/nonexistent/x", "--dir", "@", "--dry-run"}, TCommandLine::DryRun, true},
        {{"--help"}, TCommandLine::Help},
        {{"-h", "--once"}, TCommandLine::Help},
        {{"--version"}, TCommandLine::Version},
        {{"--bogus"}, TCommandLine::BadUsage, false, "bogus"},
        {{"-once"}, TCommandLine::BadUsage, false, "Unknown options: o"},
        {{"--once", "extra"}, TCommandLine::BadUsage, false, "extra"},
        {{"--dir"}, TCommandLine::BadUsage, false, "dir"},
        {{"--dir", ""}, TCommandLine::BadUsage, false, "not a directory"},
        {{"--dir", "/nonexistent/x"}, TCommandLine::BadUsage, false, "/nonexistent/x"},
        {{"--dir", "@/setup.ini"}, TCommandLine::BadUsage, false, "not a directory"},
    };
    for (const TCase& c : cases) {
        std::vector<std::string> args;
        std::string shown;
        for (std::string a : c.Args) {
            if (const size_t at = a.find('@'); at != std::string::npos) a.replace(at, 1, noSlash);
            args.push_back(a);
            shown += a + " ";
        }
        const TCommandLine cl = ParseCommandLine(args);
        EXPECT_EQ(cl.Action, c.Action) << shown;
        EXPECT_EQ(cl.Dir, c.WithDir ? dir.Path() : "") << shown;
        if (!c.ErrorPart.empty())
            EXPECT_NE(cl.Error.find(c.ErrorPart), std::string::npos) << shown << cl.Error;
        EXPECT_EQ(cl.Error.find('\n'), std::string::npos) << "one line: " << cl.Error;

        const TFormEnvironment env = cl.Environment();
        EXPECT_EQ(env.ProgramDir, cl.Dir);
        EXPECT_EQ(env.NoWindow, cl.Headless()) << shown;
        EXPECT_EQ(env.DryRun, c.Action == TCommandLine::DryRun) << shown;
    }
}

// --tray goes to the window; a --dir that does not exist yet is taken only
// for the window, and only when it is the user's own settings directory,
// which the window makes on its first start.
TEST(CommandLineTest, TrayAndTheUsersOwnSettingsDirectory) {
    test::TTempDir config;
    setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    const std::string user = config.Path() + "ostrakel";
    struct TDirCase {
        std::vector<std::string> Args;
        TCommandLine::TAction Action;
        bool Tray;
    };
    const TDirCase cases[] = {
        {{"--tray"}, TCommandLine::Window, true},
        {{"--tray", "--dir", user}, TCommandLine::Window, true},
        {{"--dir", user + "/"}, TCommandLine::Window, false},
        {{"--once", "--dir", user}, TCommandLine::BadUsage, false},
        {{"--dry-run", "--dir", user}, TCommandLine::BadUsage, false},
        {{"--dir", config.Path() + "other"}, TCommandLine::BadUsage, false},
    };
    for (const TDirCase& c : cases) {
        const TCommandLine cl = ParseCommandLine(c.Args);
        EXPECT_EQ(cl.Action, c.Action) << c.Args.back();
        EXPECT_EQ(cl.Tray, c.Tray) << c.Args.back();
        if (c.Args.size() > 1 && cl.Action == TCommandLine::Window) EXPECT_EQ(cl.Dir, user + "/");
    }
    unsetenv("XDG_CONFIG_HOME");
}

TEST(CommandLineTest, HelpNamesEveryOption) {
    const std::string help = HelpText("ostrakel");
    for (const char* option : {"--once", "--dry-run", "--dir DIR", "--tray", "--help", "--version"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
    EXPECT_EQ(help.rfind("Usage: ostrakel ", 0), 0u);
}

} // namespace
