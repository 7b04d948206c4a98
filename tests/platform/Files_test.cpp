#include "platform/Exception.h"
#include "platform/Files.h"
#include "tests/support/TempDir.h"

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
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

// A umask for the lifetime of the object; a restrictive one, as an
// administrator's or a service's, would narrow any mode a new file asks for.
class TUmask {
public:
    explicit TUmask(mode_t mask) : FOld(umask(mask)) {}
    ~TUmask() { umask(FOld); }

private:
    mode_t FOld;
};

std::string LinkText(const std::string& name) {
    char buf[4096];
    const ssize_t n = readlink(name.c_str(), buf, sizeof buf);
    return n < 0 ? std::string() : std::string(buf, static_cast<size_t>(n));
}

// Every name under the directory, relative to it.
std::set<std::string> Names(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        names.insert(e.path().lexically_relative(dir).string());
    return names;
}

} // namespace

TEST(Files, WriteThenReadGivesTheSameBytesAndLeavesNoTemporaryFile) {
    test::TTempDir dir;
    const std::string name = dir.File("log.txt");
    std::string bytes;
    for (int i = 0; i < 100000; ++i) bytes += static_cast<char>(i * 7);
    {
        // A new file gets the mode any new file of the process gets.
        TUmask mask(027);
        WriteAllBytes(name, bytes);
    }
    struct stat st {};
    ASSERT_EQ(stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    WriteAllBytes(name, bytes + "more");
    EXPECT_EQ(ReadAllBytes(name), bytes + "more");
    EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"log.txt"}) << "no temporary file is left";
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
    EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"log.txt"}) << "no temporary file is left";
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

// A log that is a symbolic link, in each shape a set-up may give it: every
// link stays as it was, the file at the end gets the bytes, nothing else appears.
TEST(Files, ALinkIsWrittenThroughAndStays) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> links; // name, where it points (from the directory)
        std::string target;                                     // the file that gets the bytes
        bool targetExists;
    };
    const Case cases[] = {
        {"relative", {{"log.txt", "real/log.txt"}}, "real/log.txt", true},
        {"absolute", {{"log.txt", "<dir>real/log.txt"}}, "real/log.txt", true},
        {"through a second link", {{"log.txt", "mid"}, {"mid", "real/log.txt"}}, "real/log.txt", true},
        {"relative to the directory of a second link", {{"log.txt", "real/up"}, {"real/up", "../real/log.txt"}},
         "real/log.txt", true},
        {"to a file not there yet", {{"log.txt", "real/new.txt"}}, "real/new.txt", false},
    };
    for (const auto& c : cases) {
        test::TTempDir dir;
        std::filesystem::create_directory(dir.File("real"));
        if (c.targetExists) WriteAllBytes(dir.File(c.target), "old\r\n");
        for (auto [name, to] : c.links) {
            if (to.starts_with("<dir>")) to = dir.Path() + to.substr(5);
            ASSERT_EQ(symlink(to.c_str(), dir.File(name).c_str()), 0) << c.what;
        }
        std::set<std::string> before = Names(dir.Path());
        before.insert(c.target);

        WriteAllBytes(dir.File("log.txt"), "new\r\n");
        for (auto [name, to] : c.links) {
            if (to.starts_with("<dir>")) to = dir.Path() + to.substr(5);
            EXPECT_EQ(LinkText(dir.File(name)), to) << c.what << ": " << name << " is still the same link";
        }
        EXPECT_EQ(ReadAllBytes(dir.File(c.target)), "new\r\n") << c.what;
        EXPECT_EQ(Names(dir.Path()), before) << c.what << ": no temporary file is left";
    }
}

// Replacing the file keeps what the administrator gave it, whatever the
// umask: its permission bits, its group and (for a process that may) its owner.
TEST(Files, AReplacedFileKeepsItsModeGroupAndOwner) {
    const bool root = geteuid() == 0;
    struct Case {
        mode_t mode;
        uid_t uid; // -1: the process's own
        gid_t gid;
    };
    const Case cases[] = {
        {0640, static_cast<uid_t>(-1), static_cast<gid_t>(-1)},
        {0664, static_cast<uid_t>(-1), static_cast<gid_t>(-1)},
        {0604, static_cast<uid_t>(-1), static_cast<gid_t>(-1)},
        {0400, static_cast<uid_t>(-1), static_cast<gid_t>(-1)},
        {0640, static_cast<uid_t>(-1), 4343},
        {02660, static_cast<uid_t>(-1), 4343},
        {0640, 4242, 4343},
    };
    TUmask mask(077);
    for (const auto& c : cases) {
        if (!root && (c.uid != static_cast<uid_t>(-1) || c.gid != static_cast<gid_t>(-1))) continue;
        test::TTempDir dir;
        const std::string name = dir.File("log.txt");
        WriteAllBytes(name, "old");
        ASSERT_EQ(chown(name.c_str(), c.uid, c.gid), 0);
        ASSERT_EQ(chmod(name.c_str(), c.mode), 0);
        struct stat old {};
        ASSERT_EQ(stat(name.c_str(), &old), 0);

        WriteAllBytes(name, "new");
        struct stat now {};
        ASSERT_EQ(stat(name.c_str(), &now), 0);
        EXPECT_EQ(ReadAllBytes(name), "new");
        EXPECT_NE(now.st_ino, old.st_ino) << "replaced, not rewritten in place";
        EXPECT_EQ(now.st_mode & 07777, c.mode) << std::oct << c.mode;
        EXPECT_EQ(now.st_gid, old.st_gid) << std::oct << c.mode;
        EXPECT_EQ(now.st_uid, old.st_uid) << std::oct << c.mode;
    }
}

// A process that may not give a file away still keeps a group it belongs to.
TEST(Files, WithoutThePrivilegeToKeepTheOwnerTheGroupIsStillKept) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to set up a file of another owner";
    test::TTempDir dir;
    ASSERT_EQ(chmod(dir.Path().c_str(), 0777), 0);
    const std::string name = dir.File("log.txt");
    WriteAllBytes(name, "old");
    ASSERT_EQ(chown(name.c_str(), 5555, 4343), 0);
    ASSERT_EQ(chmod(name.c_str(), 0664), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // An ordinary user, 4242, with 4343 among its groups.
        const gid_t groups[] = {4343};
        if (setgroups(1, groups) != 0 || setgid(4242) != 0 || setuid(4242) != 0) _exit(2);
        try {
            WriteAllBytes(name, "new");
        } catch (...) {
            _exit(3);
        }
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    struct stat now {};
    ASSERT_EQ(stat(name.c_str(), &now), 0);
    EXPECT_EQ(ReadAllBytes(name), "new");
    EXPECT_EQ(now.st_uid, 4242u) << "the owner could not be kept";
    EXPECT_EQ(now.st_gid, 4343u);
    EXPECT_EQ(now.st_mode & 07777, 0664u);
}

// A link put where a temporary file might go does not make the save write
// elsewhere, and is not the save's to remove.
TEST(Files, ALinkAtATemporaryNameIsNotFollowed) {
    test::TTempDir dir;
    const std::string name = dir.File("log.txt");
    WriteAllBytes(name, "old");
    WriteAllBytes(dir.File("other.txt"), "someone else's");
    ASSERT_EQ(symlink("other.txt", (name + ".tmp~").c_str()), 0);
    WriteAllBytes(name, "new");
    EXPECT_EQ(ReadAllBytes(name), "new");
    EXPECT_EQ(ReadAllBytes(dir.File("other.txt")), "someone else's");
    EXPECT_EQ(LinkText(name), "") << "the log is a file, not the planted link";
    EXPECT_EQ(LinkText(name + ".tmp~"), "other.txt");
}

// Two processes saving the same file at the same moment (the window and
// --once with the same settings) each put a whole file in place: whichever
// rename comes last wins, and a reader never sees a part of either.
TEST(Files, TwoWritersAtOnceLeaveOneWholeContent) {
    test::TTempDir dir;
    const std::string name = dir.File("log.txt");
    const std::string contents[] = {std::string(1 << 20, 'a'), std::string((1 << 20) + 4096, 'b')};
    WriteAllBytes(name, contents[0]);
    std::atomic<bool> done{false};
    std::atomic<int> torn{0}, reads{0};
    std::thread reader([&] {
        while (!done) {
            const std::string now = ReadAllBytes(name);
            if (now != contents[0] && now != contents[1]) ++torn;
            ++reads;
        }
    });
    int failed = 0;
    for (int round = 0; round < 100; ++round) {
        std::atomic<int> ready{0};
        auto write = [&](const std::string& bytes) {
            ++ready;
            while (ready < 2) {
            }
            try {
                WriteAllBytes(name, bytes);
            } catch (const EFCreateError&) {
                ++failed;
            }
        };
        std::thread first(write, std::cref(contents[0])), second(write, std::cref(contents[1]));
        first.join();
        second.join();
        const std::string now = ReadAllBytes(name);
        ASSERT_TRUE(now == contents[0] || now == contents[1]) << "round " << round << ": " << now.size() << " bytes";
    }
    done = true;
    reader.join();
    EXPECT_EQ(failed, 0) << "a save failed because another ran beside it";
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";
    EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"log.txt"}) << "no temporary file is left";
}

TEST(Files, ProgramDirectoryEndsWithASeparatorAndHoldsTheExecutable) {
    const std::string dir = ProgramDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_EQ(ExtractFileName("/a/b/ostrakel"), "ostrakel");
    EXPECT_TRUE(FileExists(dir + "platform_tests"));
}
