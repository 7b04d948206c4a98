#include "platform/Exception.h"
#include "platform/Files.h"
#include "tests/support/TempDir.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace ostrakel;

namespace {

// Limits the size of files this process may write, as a full disk would.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &FOld);
        FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = FOld;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~TFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &FOld);
        std::signal(SIGXFSZ, FOldHandler);
    }

private:
    rlimit FOld{};
    void (*FOldHandler)(int) = nullptr;
};

} // namespace

TEST(Files, WriteThenReadGivesTheSameBytesAndLeavesNoTemporaryFile) {
    test::TTempDir dir;
    const std::string name = dir.File("log.txt");
    std::string bytes;
    for (int i = 0; i < 100000; ++i) bytes += static_cast<char>(i * 7);
    WriteAllBytes(name, bytes);
    WriteAllBytes(name, bytes + "more");
    EXPECT_EQ(ReadAllBytes(name), bytes + "more");
    EXPECT_FALSE(FileExists(name + ".tmp~"));
    EXPECT_TRUE(FileExists(name));
    EXPECT_FALSE(FileExists(dir.Path())); // a directory is not a file
}

TEST(Files, AWriteThatFailsPartWayKeepsThePreviousContent) {
    test::TTempDir dir;
    const std::string name = dir.File("log.txt");
    WriteAllBytes(name, "old content\r\n");
    try {
        TFileSizeLimit limit(4096);
        WriteAllBytes(name, std::string(100000, 'x'));
        FAIL() << "the write should have failed";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Cannot create file \"" + name + "\". ", 0), 0u) << e.what();
    }
    EXPECT_EQ(ReadAllBytes(name), "old content\r\n");
    EXPECT_FALSE(FileExists(name + ".tmp~"));
}

TEST(Files, ErrorsNameTheFileAndTheSystemsReason) {
    test::TTempDir dir;
    const std::string missingDir = dir.File("no/such/dir/log.txt");
    try {
        WriteAllBytes(missingDir, "x");
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_STREQ(e.what(), ("Cannot create file \"" + missingDir + "\". No such file or directory").c_str());
    }
    try {
        WriteAllBytes("", "x");
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_STREQ(e.what(), "Cannot create file \"\". No such file or directory");
    }
    // /proc/self/mem opens but cannot be read from its start, even for root.
    const std::string unreadable = dir.File("unreadable.txt");
    ASSERT_EQ(symlink("/proc/self/mem", unreadable.c_str()), 0);
    try {
        ReadAllBytes(unreadable);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_STREQ(e.what(), ("Cannot open file \"" + unreadable + "\". Input/output error").c_str());
    }
}

TEST(Files, ProgramDirectoryEndsWithASeparatorAndHoldsTheExecutable) {
    const std::string dir = ProgramDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_EQ(ExtractFileName("/a/b/ostrakel"), "ostrakel");
    EXPECT_TRUE(FileExists(dir + "platform_tests"));
}
