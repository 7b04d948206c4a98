#include "tests/support/FirebirdFixture.h"

#include "db/ClientLibrary.h"
#include "db/FIBDatabase.h"
#include "db/FIBErrors.h"
#include "db/FIBTransaction.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace ostrakel::test {

std::vector<std::string> SystemDBParams() {
    return {"user_name=SYSDBA", "password=plumtrove", "lc_ctype=WIN1250"};
}

namespace {

std::vector<std::string> Followed(std::vector<std::string> tables, const std::vector<std::string>& rows) {
    tables.insert(tables.end(), rows.begin(), rows.end());
    return tables;
}

} // namespace

std::vector<std::string> MouldTables(const std::vector<std::string>& rows) {
    return Followed(
        {"create table kalimbor (id integer not null primary key, nazwa varchar(60), kod1 varchar(20), "
         "counter integer, countmode integer, id_vendrel integer, counttch timestamp)",
         "create table KALIMBOR_LICZNIKI (id_f integer, stan integer, ostan integer, opis varchar(40), "
         "id_p integer, lm integer)"},
        rows);
}

std::vector<std::string> ReportTables(const std::vector<std::string>& rows) {
    return Followed({"create table raporth (toolid integer, d_l numeric(15,2))"}, rows);
}

void WriteSetupIni(const std::string& dir, const std::string& kalimbor, const std::string& vendrel,
                   const std::string& sql, const std::string& set) {
    std::ofstream(dir + "setup.ini", std::ios::binary)
        << "[sql]\nkalimbor=" << kalimbor << "\nvendrel=" << vendrel << "\n"
        << sql << "[set]\n"
        << set;
}

namespace {

std::string Quoted(const std::string& text) {
    std::string q = "'";
    for (char c : text) {
        q += c;
        if (c == '\'') q += '\'';
    }
    return q + "'";
}

// One-column output descriptor for singleton selects.
struct TOneColumn {
    std::vector<char> Storage = std::vector<char>(XSQLDA_LENGTH(1), 0);
    XSQLDA* Da() { return reinterpret_cast<XSQLDA*>(Storage.data()); }
    TOneColumn(short type, short length, void* data, short* null) {
        XSQLDA* da = Da();
        da->version = SQLDA_VERSION1;
        da->sqln = 1;
        da->sqld = 1;
        da->sqlvar[0].sqltype = static_cast<short>(type | 1);
        da->sqlvar[0].sqllen = length;
        da->sqlvar[0].sqlscale = 0;
        da->sqlvar[0].sqldata = static_cast<char*>(data);
        da->sqlvar[0].sqlind = null;
    }
};

} // namespace

TRawAttachment::TRawAttachment(const std::string& connectString, int dialect)
    : FLib(GetClientLibrary(kDefaultLibraryName)), FDialect(dialect) {
    std::string dpb(1, isc_dpb_version1);
    auto add = [&dpb](char code, const std::string& value) {
        dpb += code;
        dpb += static_cast<char>(value.size());
        dpb += value;
    };
    add(isc_dpb_user_name, kTestUser);
    add(isc_dpb_password, kTestPassword);
    add(isc_dpb_lc_ctype, "WIN1250");
    Check(FLib->isc_attach_database(StatusVector(), static_cast<short>(connectString.size()),
                                    connectString.c_str(), &FHandle, static_cast<short>(dpb.size()),
                                    dpb.data()));
}

TRawAttachment::~TRawAttachment() {
    if (FHandle) FLib->isc_detach_database(StatusVector(), &FHandle);
}

void TRawAttachment::Check(ISC_STATUS status) {
    if (status > 0) RaiseStatusError(*FLib, nullptr);
}

void TRawAttachment::Execute(const std::string& sql) {
    isc_tr_handle tr = Start(true);
    const ISC_STATUS status = FLib->isc_dsql_execute_immediate(
        StatusVector(), &FHandle, &tr, 0, sql.c_str(), static_cast<unsigned short>(FDialect), nullptr);
    if (status > 0) {
        ISC_STATUS_ARRAY ignored;
        FLib->isc_rollback_transaction(ignored, &tr);
        Check(status);
    }
    Check(FLib->isc_commit_transaction(StatusVector(), &tr));
}

std::optional<int64_t> TRawAttachment::QueryInt(isc_tr_handle* transaction, const std::string& sql) {
    ISC_INT64 value = 0;
    short null = 0;
    TOneColumn out(SQL_INT64, sizeof value, &value, &null);
    Check(FLib->isc_dsql_exec_immed2(StatusVector(), &FHandle, transaction, 0, sql.c_str(),
                                     static_cast<unsigned short>(FDialect), nullptr, out.Da()));
    if (null) return std::nullopt;
    return value;
}

std::string TRawAttachment::EngineVersion() {
    return QueryText("select rdb$get_context('SYSTEM', 'ENGINE_VERSION') from rdb$database");
}

std::string ServerVersionNumbers(TFIBDatabase& db) {
    return std::to_string(db.ServerMajorVersion()) + "." + std::to_string(db.ServerMinorVersion()) + "." +
           std::to_string(db.ServerRelease());
}

isc_tr_handle TRawAttachment::Start(bool writable) {
    isc_tr_handle tr = 0;
    static const char writeTpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_concurrency, isc_tpb_wait};
    static const char readTpb[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_read_committed, isc_tpb_rec_version,
                                   isc_tpb_nowait};
    struct {
        isc_db_handle* db;
        int length;
        const char* tpb;
    } teb{&FHandle, writable ? int(sizeof writeTpb) : int(sizeof readTpb), writable ? writeTpb : readTpb};
    Check(FLib->isc_start_multiple(StatusVector(), &tr, 1, &teb));
    return tr;
}

std::optional<int64_t> TRawAttachment::QueryInt(const std::string& sql) {
    isc_tr_handle tr = Start(false);
    std::optional<int64_t> result;
    try {
        result = QueryInt(&tr, sql);
    } catch (...) {
        ISC_STATUS_ARRAY ignored;
        FLib->isc_rollback_transaction(ignored, &tr);
        throw;
    }
    Check(FLib->isc_commit_transaction(StatusVector(), &tr));
    return result;
}

std::string TRawAttachment::QueryText(const std::string& sql) {
    isc_tr_handle tr = Start(false);
    std::vector<char> buffer(2 + 1024, 0);
    short null = 0;
    TOneColumn out(SQL_VARYING, 1024, buffer.data(), &null);
    const ISC_STATUS status =
        FLib->isc_dsql_exec_immed2(StatusVector(), &FHandle, &tr, 0, sql.c_str(),
                                   static_cast<unsigned short>(FDialect), nullptr, out.Da());
    if (status > 0) {
        ISC_STATUS_ARRAY ignored;
        FLib->isc_rollback_transaction(ignored, &tr);
        Check(status);
    }
    Check(FLib->isc_commit_transaction(StatusVector(), &tr));
    if (null) return {};
    const auto length = static_cast<size_t>(*reinterpret_cast<unsigned short*>(buffer.data()));
    return std::string(buffer.data() + 2, length);
}

int TRawAttachment::AttachmentID() {
    return static_cast<int>(QueryInt("select current_connection from rdb$database").value_or(-1));
}

void TRawAttachment::CreateDatabase(const std::string& connectString, int dialect) {
    auto lib = GetClientLibrary(kDefaultLibraryName);
    isc_db_handle db = 0;
    isc_tr_handle tr = 0;
    const std::string sql = "CREATE DATABASE " + Quoted(connectString) + " USER " + Quoted(kTestUser) +
                            " PASSWORD " + Quoted(kTestPassword) +
                            " PAGE_SIZE 4096 DEFAULT CHARACTER SET WIN1250";
    if (lib->isc_dsql_execute_immediate(StatusVector(), &db, &tr, 0, sql.c_str(),
                                        static_cast<unsigned short>(dialect), nullptr) > 0)
        RaiseStatusError(*lib, nullptr);
    lib->isc_detach_database(StatusVector(), &db);
}

TTestDatabases::TTestDatabases(TKind kind) : FKind(kind) {
    // The server runs as its own user and must be able to write here.
    if (kind == Server)
        std::filesystem::permissions(FDir.Path(), std::filesystem::perms::all,
                                     std::filesystem::perm_options::replace);
}

std::string TTestDatabases::ConnectString(const std::string& name) const {
    return FKind == Server ? ServerPrefix() + Path(name) : Path(name);
}

std::string TTestDatabases::Create(const std::string& name, int dialect,
                                   const std::vector<std::string>& sql) {
    const std::string cs = ConnectString(name);
    TRawAttachment::CreateDatabase(cs, dialect);
    if (!sql.empty()) {
        TRawAttachment attachment(cs, dialect);
        for (const std::string& statement : sql)
            attachment.Execute(statement);
    }
    return cs;
}

void ExecuteIn(TFIBTransaction& transaction, const std::string& sql) {
    TFIBDatabase* db = transaction.MainDatabase();
    transaction.Call(db->ClientLibrary().isc_dsql_execute_immediate(
                         StatusVector(), db->HandlePtr(), transaction.HandlePtr(), 0, sql.c_str(),
                         static_cast<unsigned short>(db->SQLDialect()), nullptr),
                     true);
}

namespace {

// The first line of a file in the state directory; empty when there is none.
std::string StateLine(const char* name) {
    std::ifstream in(ServerStateDir() + "/" + name);
    std::string line;
    std::getline(in, line);
    return line;
}

} // namespace

std::string ServerStateDir() {
    const char* dir = std::getenv("OSTRAKEL_FB_STATE");
    return dir && *dir ? dir : OSTRAKEL_FB_STATE;
}

std::string ServerPrefix() {
    return StateLine("prefix");
}

int ServerPort() {
    const std::string port = StateLine("port");
    return port.empty() ? 0 : std::atoi(port.c_str());
}

bool ServerAvailable() {
    const int port = ServerPort();
    if (port <= 0 || port > 65535 || ServerPrefix().empty()) return false;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

int UnusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = 0;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

} // namespace ostrakel::test
