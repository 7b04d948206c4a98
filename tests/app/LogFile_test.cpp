// The log file through a whole start-up and close of the window: a file that
// a save would not write back as it was is left alone and the operator told,
// and a save keeps the link, mode, group and owner the administrator set up.
#include "app/Unit1.h"
#include "platform/Files.h"
#include "tests/support/Fakes.h"
#include "tests/support/FirebirdFixture.h"
#include "tests/support/FormEnvironment.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace ostrakel;
using namespace ostrakel::test;
using namespace std::string_literals;

namespace {

class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dbs.Create("vendrel_data.fdb");
        dbs.Create("kalimbor_db.fdb");
        WriteSetupIni(dir.Path(), dbs.Path(), dbs.Path());
    }

    TForm1& Start() {
        dialogs.Shown.clear();
        form = std::make_unique<TForm1>(TestFormEnvironment(dir.Path(), clock, dialogs, "05.03.2024 10:20:30"));
        return *form;
    }

    std::string Log() const { return dir.File("log_2024_3.txt"); }
    void WriteLog(const std::string& bytes) const { std::ofstream(Log(), std::ios::binary) << bytes; }

    TTempDir dir;       // the program directory
    TTestDatabases dbs; // where the databases lie
    TFakeClock clock{EncodeDateTime({2024, 3, 5, 10, 20, 30, 0})};
    TFakeDialogs dialogs;
    std::unique_ptr<TForm1> form;
};

TEST_F(LogFileTest, ALogASaveWouldNotWriteBackAsItWasIsLeftAloneAndTheOperatorTold) {
    struct Case {
        const char* what;
        std::string bytes;
        std::string reason;
    };
    const Case cases[] = {
        {"bad UTF-8 after the UTF-8 mark", "\xEF\xBB\xBF" "line one\r\nbad \xC3( byte\r\n",
         "Not valid UTF-8 at byte offset 17"},
        {"Windows-1250 text after the UTF-8 mark", "\xEF\xBB\xBF" "Zmiana \xB3\xF3" "dki\r\n",
         "Not valid UTF-8 at byte offset 10"},
        {"an odd UTF-16 tail", "\xFF\xFE" "a\0\r\0\n\0b"s, "Not valid UTF-16LE at byte offset 8"},
        {"a lone surrogate", "\xFE\xFF" "\0a\xD8\x00\0b"s, "Not valid UTF-16BE at byte offset 4"},
        {"a line separator the view would make a line break", "\xEF\xBB\xBF" "a\xE2\x80\xA8" "b\r\n",
         "Its text holds characters that the log view cannot keep"},
    };
    for (const auto& c : cases) {
        WriteLog(c.bytes);
        TForm1& f = Start();
        ASSERT_EQ(dialogs.Shown.size(), 1u) << c.what;
        EXPECT_TRUE(dialogs.Shown[0].Error) << c.what;
        EXPECT_EQ(dialogs.Shown[0].Text,
                  "Cannot open file \"" + Log() + "\". " + c.reason + "; the file is left unchanged.")
            << c.what;
        EXPECT_EQ(f.MemoText(), "Memo1") << c.what << ": not loaded, and the start not logged";

        // Every save leaves it as it is and says so; the window stays open.
        f.show();
        f.DoLogu("a line to keep");
        EXPECT_FALSE(f.close()) << c.what;
        ASSERT_EQ(dialogs.Shown.size(), 2u) << c.what;
        EXPECT_EQ(dialogs.Shown[1].Text,
                  "Cannot create file \"" + Log() + "\". " + c.reason + "; the file is left unchanged.")
            << c.what;
        EXPECT_EQ(ReadAllBytes(Log()), c.bytes) << c.what;

        // Once the administrator has mended the file, the next save puts the
        // view's kept lines after its text.
        WriteLog("\xEF\xBB\xBF" "mended\r\n");
        EXPECT_TRUE(f.close()) << c.what;
        EXPECT_EQ(ReadAllBytes(Log()), "\xEF\xBB\xBF" "mended\r\nMemo1\r\n05.03.2024 10:20:30   a line to keep")
            << c.what;
        form.reset();
    }
}

// The log as a plain file and as a link to a file elsewhere: each keeps
// what it was, and the file gets the saved text with its mode, group and
// owner as they were, also under a restrictive umask (as a service may have).
TEST_F(LogFileTest, ASaveKeepsTheLinkModeGroupAndOwnerOfTheLog) {
    const bool root = geteuid() == 0;
    std::filesystem::create_directory(dir.File("logs"));
    for (const bool linked : {false, true}) {
        const std::string target = linked ? dir.File("logs/2024_3.txt") : Log();
        std::filesystem::remove(Log());
        std::ofstream(target, std::ios::binary) << "\xEF\xBB\xBF" "earlier\r\n";
        if (root) {
            ASSERT_EQ(chown(target.c_str(), 4242, 4343), 0);
        }
        ASSERT_EQ(chmod(target.c_str(), 0640), 0);
        struct stat old {};
        ASSERT_EQ(stat(target.c_str(), &old), 0);
        if (linked) {
            ASSERT_EQ(symlink("logs/2024_3.txt", Log().c_str()), 0);
        }

        const mode_t mask = umask(077);
        TForm1& f = Start();
        EXPECT_TRUE(dialogs.Shown.empty()) << dialogs.Shown[0].Text;
        f.show();
        const bool closed = f.close();
        umask(mask);
        EXPECT_TRUE(closed);
        form.reset();

        const auto kind = std::filesystem::symlink_status(Log()).type();
        EXPECT_EQ(kind, linked ? std::filesystem::file_type::symlink : std::filesystem::file_type::regular);
        if (linked && kind == std::filesystem::file_type::symlink) {
            EXPECT_EQ(std::filesystem::read_symlink(Log()), "logs/2024_3.txt");
        }
        EXPECT_EQ(ReadAllBytes(target), "\xEF\xBB\xBF" "earlier\r\n05.03.2024 10:20:30   start programu\r\n")
            << "linked: " << linked;
        struct stat now {};
        ASSERT_EQ(stat(target.c_str(), &now), 0);
        EXPECT_EQ(now.st_mode & 07777, 0640u) << "linked: " << linked;
        EXPECT_EQ(now.st_gid, old.st_gid) << "linked: " << linked;
        EXPECT_EQ(now.st_uid, old.st_uid) << "linked: " << linked;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("logs")), {}), 1)
        << "nothing but the log in its directory";
}

// Another program with the same settings (--once beside the window) saves the
// log between two saves of the window, whether or not the file was there when
// the window started: the window's save keeps the other's lines and puts its
// own new ones after them, and its view shows the file as saved. A second
// round adds only what is new on each side.
TEST_F(LogFileTest, ASaveKeepsTheLinesAnotherProgramSavedMeanwhile) {
    auto other = [this](const std::string& line) {
        TForm1 once(TestFormEnvironment(dir.Path(), clock, dialogs, "O"));
        once.DoLogu(line);
        EXPECT_TRUE(once.FormClose()) << line;
    };
    for (const bool existed : {true, false}) {
        std::filesystem::remove(Log());
        if (existed) WriteLog("\xEF\xBB\xBF" "earlier\r\n");
        form = std::make_unique<TForm1>(TestFormEnvironment(dir.Path(), clock, dialogs, "W"));
        TForm1& window = *form;
        window.DoLogu("window 1");
        other("once 1");
        window.DoLogu("window 2");
        ASSERT_TRUE(window.FormClose()) << dialogs.Shown.back().Text;
        other("once 2");
        window.DoLogu("window 3");
        ASSERT_TRUE(window.FormClose()) << dialogs.Shown.back().Text;

        // Without a file at the start each view begins with the designed
        // "Memo1" and its last line has no line break.
        const std::string first = existed ? "\xEF\xBB\xBF" "earlier\r\nO   start programu\r\nO   once 1\r\n"
                                          : "Memo1\r\nO   start programu\r\nO   once 1\r\n";
        const std::string windows = existed ? "W   start programu\r\nW   window 1\r\nW   window 2\r\n"
                                            : "Memo1\r\nW   start programu\r\nW   window 1\r\nW   window 2";
        const std::string second = existed ? "O   start programu\r\nO   once 2\r\nW   window 3\r\n"
                                           : "\r\nO   start programu\r\nO   once 2\r\nW   window 3";
        const std::string bytes = ReadAllBytes(Log());
        EXPECT_EQ(bytes, first + windows + second) << "the file was there: " << existed;
        EXPECT_EQ(EncodeText(window.MemoText(), window.LogEncoding()), bytes) << "the file was there: " << existed;
        form.reset();
    }
}

} // namespace
