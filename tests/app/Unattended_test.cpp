// The program run by cron or a systemd timer: --once and --dry-run as real
// processes over two embedded databases (exit status, standard output and
// error, the databases, the log file), and the [sql] timeout of the connect.
#include "app/Unit1.h"
#include "db/FIBDatabase.h"
#include "platform/Files.h"
#include "platform/TextCodec.h"
#include "tests/support/Fakes.h"
#include "tests/support/FirebirdFixture.h"
#include "tests/support/FormEnvironment.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace ostrakel;
using namespace ostrakel::test;

namespace {

// The program as cron starts it: no display, no Qt platform chosen (the
// window, without arguments, on the off-screen platform).
TProgram Program(const std::vector<std::string>& args) {
    TProgram program{OSTRAKEL_EXE, EnvironmentWithoutDisplay()};
    if (args.empty() || args[0] == "--dir") program.Environment.insert("QT_QPA_PLATFORM", "offscreen");
    return program;
}

TRun RunProgram(const std::vector<std::string>& args) {
    return Program(args).Run(args);
}

class UnattendedTest : public ::testing::Test {
protected:
    UnattendedTest() {
        dbs.Create(
            "kalimbor_db.fdb", 3,
            MouldTables({// changes to 8; equal already; not counted; changes to 0 (no reports)
                         Utf8ToWin1250("insert into kalimbor values (1, 'Łódź', 'K-1', 5, 1, 10, null)"),
                         Utf8ToWin1250("insert into kalimbor values (2, 'Równa', 'K-2', 3, 1, 20, null)"),
                         "insert into kalimbor values (3, 'Tryb 0', 'K-3', 1, 0, 10, null)",
                         "insert into kalimbor values (4, 'Pusta', 'K-4', 7, 1, 30, null)"}));
        dbs.Create("vendrel_data.fdb", 3,
                   ReportTables({"insert into raporth values (10, 6)", "insert into raporth values (10, 2.5)",
                                 "insert into raporth values (20, 3)"}));
        WriteSetup("kalimbor=" + dbs.Path() + "\nvendrel=" + dbs.Path());
    }

    void WriteSetup(const std::string& sql, const std::string& set = "") {
        std::ofstream(dir.File("setup.ini"), std::ios::binary)
            << "[sql]\n"
            << sql << "\n[set]\ngodzina=3\nhistoria=1\nlog=1\n" << set;
    }
    // The databases as they are now (the program has ended: embedded files are
    // open in one process at a time).
    std::string Rows() {
        TRawAttachment moulds(dbs.ConnectString("kalimbor_db.fdb"));
        std::string rows;
        for (int id = 1; id <= 4; ++id)
            rows += std::to_string(
                        moulds.QueryInt("select counter from kalimbor where id = " + std::to_string(id))
                            .value_or(-1)) +
                    (moulds.QueryInt("select count(*) from kalimbor where counttch is null and id = " +
                                     std::to_string(id)) == 1
                         ? " "
                         : "* ");
        return rows + "history " +
               std::to_string(moulds.QueryInt("select count(*) from KALIMBOR_LICZNIKI").value_or(-1));
    }
    std::vector<std::string> LogFiles() const {
        std::vector<std::string> files;
        for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
            if (e.path().filename().string().starts_with("log_")) files.push_back(e.path().string());
        return files;
    }

    TTestDatabases dbs;
    TTempDir dir;
};

TEST_F(UnattendedTest, OnceWritesTheCountersEchoesTheLogAndSavesIt) {
    const TRun run = RunProgram({"--once", "--dir", dir.Path()});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(Rows(), "8* 3 1 0* history 2");
    // Every log line on standard output, in order, each with its date and time.
    const std::vector<std::string> lines = {"start programu",
                                            "Sprawdzenie kalimbor: Łódź[K-1]",
                                            "  Zaktualizowano licznik kalimbor :Łódź[K-1]  stan: 8",
                                            "Sprawdzenie kalimbor: Równa[K-2]",
                                            "Sprawdzenie kalimbor: Pusta[K-4]",
                                            "  Zaktualizowano licznik kalimbor :Pusta[K-4]  stan: 0"};
    size_t at = 0;
    for (const std::string& line : lines) {
        at = run.Out.find("   " + line + "\n", at);
        ASSERT_NE(at, std::string::npos) << line << " in\n" << run.Out;
    }
    // Last comes what the pass did: moulds checked, counters written, writes failed.
    EXPECT_TRUE(run.Out.ends_with("\nSprawdzono form: 3, zmieniono: 2, nieudanych zapisów: 0\n")) << run.Out;
    EXPECT_EQ(std::count(run.Out.begin(), run.Out.end(), '\n'), static_cast<long>(lines.size() + 1)) << run.Out;

    // The log file holds the same lines, in the program's Windows-1250.
    const std::vector<std::string> logs = LogFiles();
    ASSERT_EQ(logs.size(), 1u);
    const std::string text = DecodeText(ReadAllBytes(logs[0]), TTextEncoding::Ansi);
    EXPECT_EQ(text.rfind("Memo1\r\n", 0), 0u);
    for (const std::string& line : lines)
        EXPECT_NE(text.find("   " + line), std::string::npos) << line;

    // A second run finds nothing to change and adds its lines to the same file.
    const TRun again = RunProgram({"--once", "--dir", dir.Path()});
    ASSERT_EQ(again.Status, 0) << again.Err;
    EXPECT_EQ(again.Out.find("Zaktualizowano"), std::string::npos);
    EXPECT_EQ(Rows(), "8* 3 1 0* history 2");
    EXPECT_GT(ReadAllBytes(logs[0]).size(), Utf8ToWin1250(text).size());
}

TEST_F(UnattendedTest, DryRunListsTheChangesAndLeavesEveryRowAndTheLogAsTheyWere) {
    const std::string before = Rows();
    // An existing log is neither loaded into a file nor written back.
    const std::string logName = LogFileNameFor(dir.Path(), SystemClock().Now());
    std::ofstream(logName, std::ios::binary) << "stary log\r\n";

    const TRun run = RunProgram({"--dry-run", "--dir", dir.Path()});
    ASSERT_EQ(run.Status, 0) << run.Err;
    // The reports table has no index on toolid: the dry run says what that costs.
    EXPECT_EQ(run.Out, "Łódź\tK-1\t5\t8\nPusta\tK-4\t7\t0\n"
                       "Uwaga: tabela raporth nie ma indeksu zaczynającego się od toolid; bez zbiorczo=1 suma "
                       "każdej formy czyta wszystkie raporty (czas rośnie jak formy × raporty)\n"
                       "Sprawdzono form: 3, do zmiany: 2\n");
    EXPECT_EQ(Rows(), before);
    // With such an index it says nothing of it.
    TRawAttachment(dbs.ConnectString("vendrel_data.fdb")).Execute("create index raporth_tool on raporth (toolid, d_l)");
    const TRun indexed = RunProgram({"--dry-run", "--dir", dir.Path()});
    ASSERT_EQ(indexed.Status, 0) << indexed.Err;
    EXPECT_EQ(indexed.Out, "Łódź\tK-1\t5\t8\nPusta\tK-4\t7\t0\nSprawdzono form: 3, do zmiany: 2\n");
    // The bulk pass reads every sum at once: without the index it says nothing of it either.
    TRawAttachment(dbs.ConnectString("vendrel_data.fdb")).Execute("drop index raporth_tool");
    WriteSetup("kalimbor=" + dbs.Path() + "\nvendrel=" + dbs.Path(), "zbiorczo=1\n");
    const TRun bulk = RunProgram({"--dry-run", "--dir", dir.Path()});
    ASSERT_EQ(bulk.Status, 0) << bulk.Err;
    EXPECT_EQ(bulk.Out, "Łódź\tK-1\t5\t8\nPusta\tK-4\t7\t0\nSprawdzono form: 3, do zmiany: 2\n");
    EXPECT_EQ(Rows(), "5 3 1 7 history 0");
    EXPECT_EQ(ReadAllBytes(logName), "stary log\r\n");
    EXPECT_EQ(LogFiles().size(), 1u);
}

struct TFailure {
    const char* What;
    std::vector<std::string> Args; // "@" stands for the test's directory
    std::string Sql;               // the [sql] section; empty keeps the working one
    int Status;
    std::string ErrPart;
};

TEST_F(UnattendedTest, FailuresEndWithTheirStatusAndTheErrorOnStandardError) {
    const std::vector<TFailure> cases = {
        {"no database names", {"--once", "--dir", "@"}, "x=1", 1, "Database name is missing."},
        {"no database names, dry run", {"--dry-run", "--dir", "@"}, "x=1", 1, "Database name is missing."},
        {"a wrong mould database",
         {"--once", "--dir", "@"},
         "kalimbor=/nonexistent/\nvendrel=" + dbs.Path(),
         1,
         "Form1.pFIBDatabaseMoulds"},
        {"a log that cannot be written", {"--once", "--dir", "@"}, "", 1, "Cannot create file"},
        {"an unknown option", {"--twice"}, "", 2, "twice"},
        {"a directory that is not there", {"--once", "--dir", "@/nonexistent"}, "", 2, "not a directory"},
    };
    const std::string blocker = LogFileNameFor(dir.Path(), SystemClock().Now());
    for (const TFailure& c : cases) {
        WriteSetup(c.Sql.empty() ? "kalimbor=" + dbs.Path() + "\nvendrel=" + dbs.Path() : c.Sql);
        // A directory in the log file's place makes every save fail.
        if (c.ErrPart == "Cannot create file") std::filesystem::create_directory(blocker);
        std::vector<std::string> args;
        for (std::string a : c.Args) {
            if (a[0] == '@') a = dir.Path() + a.substr(1);
            args.push_back(a);
        }
        const TRun run = RunProgram(args);
        std::filesystem::remove(blocker);
        EXPECT_EQ(run.Status, c.Status) << c.What << "\n" << run.Err;
        EXPECT_NE(run.Err.find(c.ErrPart), std::string::npos) << c.What << "\n" << run.Err;
        if (c.Status == 2) EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
        // Each error is told once, a failed save too.
        const size_t first = run.Err.find(c.ErrPart);
        EXPECT_EQ(run.Err.find(c.ErrPart, first + 1), std::string::npos) << c.What << " told twice:\n" << run.Err;
        EXPECT_TRUE(LogFiles().empty()) << c.What;
    }
    EXPECT_EQ(Rows(), "8* 3 1 0* history 2") << "the run with the unwritable log wrote its counters";
}

TEST_F(UnattendedTest, AWriteThatFailsIsLoggedCountedAndEndsWithStatusThree) {
    // The database refuses the history row of mould 4; its counter is written.
    TRawAttachment(dbs.ConnectString("kalimbor_db.fdb"))
        .Execute("alter table KALIMBOR_LICZNIKI add constraint no_four check (id_f <> 4)");
    const TRun run = RunProgram({"--once", "--dir", dir.Path()});
    EXPECT_EQ(run.Status, 3) << run.Err;
    EXPECT_EQ(Rows(), "8* 3 1 0* history 1");
    const size_t update = run.Out.find("  Zaktualizowano licznik kalimbor :Pusta[K-4]  stan: 0\n");
    ASSERT_NE(update, std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("     Nie zapisano historii: ", update), std::string::npos) << run.Out;
    EXPECT_EQ(run.Out.find("Nie zapisano licznika"), std::string::npos) << run.Out;
    EXPECT_TRUE(run.Out.ends_with("\nSprawdzono form: 3, zmieniono: 2, nieudanych zapisów: 1\n")) << run.Out;
}

// The connections' parameter lines under the [sql] timeout key.
TEST(ConnectTimeoutTest, TheKeyAddsTheConnectTimeoutLineAndOnlyThen) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"timeout=2\n", "connect_timeout=2"},
        {"timeout= 0x0A\n", "connect_timeout=10"},
        {"timeout=255\n", "connect_timeout=255"},
        {"timeout=300\n", "connect_timeout=255"}, // one byte: 300 would wrap to 44 seconds
        {"timeout=0\n", ""},
        {"timeout=-5\n", ""},
        {"timeout=zwei\n", ""},
        {"timeout=\n", ""},
    };
    for (const auto& [key, line] : cases) {
        TTempDir dir;
        std::ofstream(dir.File("setup.ini"), std::ios::binary) << "[sql]\n" << key;
        TFakeClock clock;
        TFakeDialogs dialogs;
        TForm1 form(TestFormEnvironment(dir.Path(), clock, dialogs, "T"));
        std::vector<std::string> expected = SystemDBParams();
        expected.push_back("set_bind=int128 to legacy;decfloat to legacy;time zone to legacy");
        if (!line.empty()) expected.push_back(line);
        EXPECT_EQ(form.pFIBDatabaseReports->DBParams().Lines(), expected) << key;
        EXPECT_EQ(form.pFIBDatabaseMoulds->DBParams().Lines(), expected) << key;
    }
}

// A listener on loopback that accepts every connection and never answers.
class TSilentListener {
public:
    TSilentListener() {
        FSocket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(FSocket, 8);
        socklen_t length = sizeof address;
        ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &length);
        FPort = ntohs(address.sin_port);
        FThread = std::thread([this] {
            while (!FStop) {
                const int client = ::accept(FSocket, nullptr, nullptr);
                if (client < 0) continue;
                FAccepted.push_back(client);
                ++FCount;
            }
        });
    }
    ~TSilentListener() {
        FStop = true;
        ::shutdown(FSocket, SHUT_RDWR);
        FThread.join();
        ::close(FSocket);
        for (int c : FAccepted)
            ::close(c);
    }
    int Port() const { return FPort; }
    size_t Accepted() const { return FCount; }

private:
    int FSocket = -1;
    int FPort = 0;
    std::atomic<bool> FStop{false};
    std::vector<int> FAccepted; // the listener thread's alone until it has ended
    std::atomic<size_t> FCount{0};
    std::thread FThread;
};

TEST(ConnectTimeoutTest, AServerThatNeverAnswersGivesTheConnectErrorAfterTheTimeout) {
    TSilentListener listener;
    TTempDir dir;
    std::ofstream(dir.File("setup.ini"), std::ios::binary)
        << "[sql]\nkalimbor=/x/\nvendrel=127.0.0.1/" << listener.Port() << ":/x/\ntimeout=2\n";
    TFakeClock clock;
    TFakeDialogs dialogs;
    const auto start = std::chrono::steady_clock::now();
    TForm1 form(TestFormEnvironment(dir.Path(), clock, dialogs, "T"));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(dialogs.Shown.size(), 1u);
    EXPECT_NE(dialogs.Shown[0].Text.find("Form1.pFIBDatabaseReports"), std::string::npos)
        << dialogs.Shown[0].Text;
    EXPECT_GE(listener.Accepted(), 1u) << "the connect reached the listener";
    // Without the key the client waits for minutes; with it, it gives up after 2 s.
    EXPECT_GE(seconds, 1.5);
    EXPECT_LT(seconds, 10.0);
    EXPECT_FALSE(form.pFIBDatabaseReports->Connected());
}

// A signal while a connect waits for a server that never answers (no timeout
// set: the client would wait for minutes) ends the program within 5 s: the
// window as its close does (status 0, nothing was logged yet), --once with 1.
TEST(ConnectTimeoutTest, ASignalDuringAConnectThatHangsEndsTheProgramAtOnce) {
    struct TCase {
        const char* What;
        std::vector<std::string> Args;
        int Status;
    };
    for (const TCase& c : {TCase{"the window", {"--dir"}, 0}, TCase{"--once", {"--once", "--dir"}, 1}}) {
        TSilentListener listener;
        TTempDir dir;
        WriteSetupIni(dir.Path(), "/x/", "127.0.0.1/" + std::to_string(listener.Port()) + ":/x/");
        std::vector<std::string> args = c.Args;
        args.push_back(dir.Path());
        const std::unique_ptr<QProcess> p = Program(args).Start(args);
        for (int i = 0; i < 100 && listener.Accepted() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_GE(listener.Accepted(), 1u) << c.What << ": the connect did not reach the listener";
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto start = std::chrono::steady_clock::now();
        p->terminate(); // SIGTERM
        const TRun run = Finished(*p, std::chrono::seconds(20));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 5.0) << c.What;
        EXPECT_EQ(run.Status, c.Status) << c.What << "\n" << run.Err;
        EXPECT_NE(run.Err.find("connect"), std::string::npos) << c.What << " does not say why:\n" << run.Err;
    }
}

} // namespace
