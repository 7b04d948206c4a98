// Temporary Firebird databases for the tests, embedded or on the loopback server,
// and a plain attachment of their own that runs SQL through the client API.
#pragma once

#include "tests/support/TempDir.h"

#include <ibase.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ostrakel {
class IIBClientLibrary;
class TFIBTransaction;
class TFIBDatabase;
} // namespace ostrakel

namespace ostrakel::test {

inline constexpr const char* kTestUser = "SYSDBA";
inline constexpr const char* kTestPassword = "plumtrove";

// A connection's parsed server version as "major.minor.release".
std::string ServerVersionNumbers(TFIBDatabase& db);

// The parameter lines both of the system's connections carry.
std::vector<std::string> SystemDBParams();

// The mould database's tables as the program reads and writes them (the moulds
// and the history of their counters), followed by the given statements (rows).
std::vector<std::string> MouldTables(const std::vector<std::string>& rows = {});
// The reports database's table (each report's mould and its shots), followed
// by the given statements.
std::vector<std::string> ReportTables(const std::vector<std::string>& rows = {});

// Writes setup.ini in dir (given with its trailing "/"): [sql] with the two
// databases' connection strings and the further lines `sql`, then [set] with
// the lines `set`.
void WriteSetupIni(const std::string& dir, const std::string& kalimbor, const std::string& vendrel,
                   const std::string& sql = "", const std::string& set = "log=1\n");

// An attachment outside the layer under test (the "second attachment"), with
// statements run by isc_dsql_execute_immediate, each in a committed transaction.
class TRawAttachment {
public:
    explicit TRawAttachment(const std::string& connectString, int dialect = 3);
    ~TRawAttachment();
    TRawAttachment(const TRawAttachment&) = delete;
    TRawAttachment& operator=(const TRawAttachment&) = delete;

    void Execute(const std::string& sql);
    // A singleton select of one integer column; nullopt for NULL.
    std::optional<int64_t> QueryInt(const std::string& sql);
    // The same inside a transaction the caller started.
    std::optional<int64_t> QueryInt(isc_tr_handle* transaction, const std::string& sql);
    // A singleton select of one text column, as its Windows-1250 bytes.
    std::string QueryText(const std::string& sql);

    isc_db_handle* Handle() { return &FHandle; }
    IIBClientLibrary& Lib() { return *FLib; }
    int AttachmentID();
    // The engine's own version text, "major.minor.release".
    std::string EngineVersion();

    // Creates a database with DEFAULT CHARACTER SET WIN1250 in the given dialect.
    static void CreateDatabase(const std::string& connectString, int dialect = 3);

private:
    void Check(ISC_STATUS status);
    // A write (concurrency, wait) or read-only (read committed, no wait) transaction.
    isc_tr_handle Start(bool writable);

    std::shared_ptr<IIBClientLibrary> FLib;
    isc_db_handle FHandle = 0;
    int FDialect;
};

// A directory of test databases removed with everything in it. On the server
// the directory is opened to the server's own user, which writes the files.
class TTestDatabases {
public:
    enum TKind { Embedded, Server };
    explicit TTestDatabases(TKind kind = Embedded);

    // Creates name.fdb (dialect, WIN1250) and runs the statements on it; gives its connection string.
    std::string Create(const std::string& name, int dialect = 3, const std::vector<std::string>& sql = {});
    // The file path (with a trailing "/" for the directory itself when name is empty).
    std::string Path(const std::string& name = "") const { return FDir.Path() + name; }
    // What a connection's DBName gets: the path, or ServerPrefix() and the path on the server.
    std::string ConnectString(const std::string& name) const;

private:
    TTempDir FDir;
    TKind FKind;
};

// Runs one statement inside a transaction of the layer, through its Call
// (which raises the layer's error), on its main connection.
void ExecuteIn(TFIBTransaction& transaction, const std::string& sql);

// The test suite's own Firebird server (tests/db/server.sh), never the machine's:
// its state directory ($OSTRAKEL_FB_STATE, else the build tree's fbserver/), and
// from the files `server.sh start` wrote there the connection prefix
// ("localhost/3057:"; empty before a start) and the port (0 before a start).
std::string ServerStateDir();
std::string ServerPrefix();
int ServerPort();

// True when the suite's server was started and something answers on its port.
bool ServerAvailable();

// For a fixture's SetUp (GoogleTest's FAIL and GTEST_SKIP return from the
// function they stand in): without the suite's server the test fails where
// CTest started the server and says so in OSTRAKEL_FB_SERVER_REQUIRED, and is
// skipped when run by hand.
#define OSTRAKEL_REQUIRE_TEST_SERVER()                                                                     \
    do {                                                                                                   \
        if (!::ostrakel::test::ServerAvailable()) {                                                        \
            if (std::getenv("OSTRAKEL_FB_SERVER_REQUIRED"))                                                \
                FAIL() << "the suite's Firebird server does not answer (state in "                         \
                       << ::ostrakel::test::ServerStateDir() << ")";                                       \
            GTEST_SKIP() << "the suite's Firebird server is not running (tests/db/server.sh start "        \
                         << ::ostrakel::test::ServerStateDir() << ")";                                     \
        }                                                                                                  \
    } while (false)

// A loopback port nothing listens on at the moment of the call (the kernel's
// pick for an ephemeral bind), for connects that must find no server.
int UnusedPort();

} // namespace ostrakel::test
