#include "bench/pass/ApiPass.h"

#include "bench/pass/BenchData.h"

#include <cctype>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace ostrakel::bench {

const std::string kWalkText =
    "select id,nazwa,kod1,counter,countmode,id_vendrel from  kalimbor where  countmode=1  and id_vendrel<>0";
const std::string kSumText = "select  sum (r.d_l) as scykli from raporth R where r.toolid =:tid";
const std::string kUpdateText =
    "UPDATE kalimbor set counter=:counter, counttch=:counttch  \r\nWHERE id = :id";
const std::string kInsertText = "Insert into KALIMBOR_LICZNIKI (id_f,stan,ostan,opis,id_p,lm   ) Values ( "
                                ":id_f,:stan,:ostan,:opis,:id_p,:lm )";

std::string ServerText(const std::string& text) {
    // These four texts hold no strings or comments, so every colon starts a name.
    std::string server = text;
    for (size_t i = 0; i < server.size(); ++i) {
        if (server[i] != ':') continue;
        server[i] = '?';
        for (size_t k = i + 1;
             k < server.size() && (std::isalnum(static_cast<unsigned char>(server[k])) || server[k] == '_');
             ++k)
            server[k] = ' ';
    }
    return server;
}

namespace {

int32_t Int32(XSQLVAR& v) {
    if (v.sqlind && *v.sqlind == -1) return 0;
    int64_t value = 0;
    switch (v.sqltype & ~1) {
    case SQL_SHORT: {
        int16_t s;
        std::memcpy(&s, v.sqldata, 2);
        value = s;
        break;
    }
    case SQL_LONG: {
        int32_t l;
        std::memcpy(&l, v.sqldata, 4);
        value = l;
        break;
    }
    case SQL_INT64:
        std::memcpy(&value, v.sqldata, 8);
        break;
    default:
        throw EApiError("unexpected column type");
    }
    for (short s = v.sqlscale; s < 0; ++s)
        value /= 10;                    // decimals cut off toward 0
    return static_cast<int32_t>(value); // then the low 32 bits
}

ISC_TIMESTAMP Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm tm{};
    localtime_r(&ts.tv_sec, &tm);
    ISC_TIMESTAMP stamp;
    isc_encode_timestamp(&tm, &stamp);
    stamp.timestamp_time += static_cast<ISC_TIME>(ts.tv_nsec / 1000000 * 10);
    return stamp;
}

std::string File(const std::string& dir, const char* name) {
    return (std::filesystem::path(dir) / name).string();
}

} // namespace

TApiPass::TApiPass(const std::string& dir, bool addHistory)
    : FMoulds(File(dir, kMouldsFile)), FReports(File(dir, kReportsFile)), FAddHistory(addHistory),
      FWalkSql(ServerText(kWalkText)), FSumSql(ServerText(kSumText)), FUpdateSql(ServerText(kUpdateText)),
      FInsertSql(ServerText(kInsertText)) {
    ISC_STATUS_ARRAY sv;
    Check(isc_dsql_allocate_statement(sv, FMoulds.Handle(), &FWalk), sv, "allocate walk");
    Check(isc_dsql_allocate_statement(sv, FReports.Handle(), &FSum), sv, "allocate sum");
    Check(isc_dsql_allocate_statement(sv, FMoulds.Handle(), &FWrite), sv, "allocate write");
}

TApiPass::~TApiPass() {
    ISC_STATUS_ARRAY sv;
    for (isc_stmt_handle* st : {&FWalk, &FSum, &FWrite})
        if (*st) isc_dsql_free_statement(sv, st, DSQL_drop);
    for (isc_tr_handle* tr : {&FWalkTr, &FSumTr, &FWriteTr})
        if (*tr) isc_rollback_transaction(sv, tr);
}

TPassCount TApiPass::Run() {
    ISC_STATUS_ARRAY sv;
    TPassCount count;
    if (FWalkOpen) {
        Check(isc_dsql_free_statement(sv, &FWalk, DSQL_close), sv, "close walk");
        FWalkOpen = false;
    }
    // The walk's transaction starts with the first pass and stays.
    if (!FWalkTr) FWalkTr = FMoulds.Start();
    Check(isc_dsql_prepare(sv, &FWalkTr, &FWalk, 0, FWalkSql.c_str(), kDialect, FWalkRow.Get()), sv,
          "prepare walk");
    FWalkRow.AllocateAsDescribed();
    Check(isc_dsql_execute(sv, &FWalkTr, &FWalk, kDialect, nullptr), sv, "open walk");
    FWalkOpen = true;
    ISC_STATUS rc;
    while ((rc = isc_dsql_fetch(sv, &FWalk, kDialect, FWalkRow.Get())) == 0) {
        ++count.Walked;
        const int32_t mouldId = Int32(FWalkRow.Var(0));
        const int32_t oldCounter = Int32(FWalkRow.Var(3));
        const int32_t toolId = Int32(FWalkRow.Var(5));
        const int32_t sum = SumShots(toolId);
        if (oldCounter == sum) continue;
        ++count.Changed;
        WriteCounter(mouldId, sum);
        if (FAddHistory) AddHistoryRow(mouldId, sum, oldCounter);
    }
    if (rc != 100) Check(rc, sv, "fetch walk");
    return count;
}

int32_t TApiPass::SumShots(int32_t toolId) {
    ISC_STATUS_ARRAY sv;
    if (FSumTr) {
        if (FSumOpen) Check(isc_dsql_free_statement(sv, &FSum, DSQL_close), sv, "close sum");
        FSumOpen = false;
        Check(isc_rollback_transaction(sv, &FSumTr), sv, "rollback sum");
    }
    FSumTr = FReports.Start();
    Check(isc_dsql_prepare(sv, &FSumTr, &FSum, 0, FSumSql.c_str(), kDialect, FSumRow.Get()), sv,
          "prepare sum");
    FSumRow.AllocateAsDescribed();
    FSumIn.SetLong(0, toolId);
    Check(isc_dsql_execute(sv, &FSumTr, &FSum, kDialect, FSumIn.Get()), sv, "execute sum");
    FSumOpen = true;
    Check(isc_dsql_fetch(sv, &FSum, kDialect, FSumRow.Get()), sv, "fetch sum");
    return Int32(FSumRow.Var(0));
}

void TApiPass::RunWrite(const std::string& text, TSqlda& input) {
    ISC_STATUS_ARRAY sv;
    if (FWriteTr) Check(isc_rollback_transaction(sv, &FWriteTr), sv, "rollback write");
    FWriteTr = FMoulds.Start();
    if (isc_dsql_prepare(sv, &FWriteTr, &FWrite, 0, text.c_str(), kDialect, nullptr) ||
        isc_dsql_execute(sv, &FWriteTr, &FWrite, kDialect, input.Get()) ||
        isc_commit_transaction(sv, &FWriteTr)) {
        // As the window does: a failed write is undone and the pass goes on.
        Check(isc_rollback_transaction(sv, &FWriteTr), sv, "rollback write");
    }
}

void TApiPass::WriteCounter(int32_t mouldId, int32_t counter) {
    FUpdateIn.SetLong(0, counter);
    FUpdateIn.SetTimestamp(1, Now());
    FUpdateIn.SetLong(2, mouldId);
    RunWrite(FUpdateSql, FUpdateIn);
}

void TApiPass::AddHistoryRow(int32_t mouldId, int32_t counter, int32_t oldCounter) {
    FInsertIn.SetLong(0, mouldId);
    FInsertIn.SetLong(1, counter);
    FInsertIn.SetLong(2, oldCounter);
    FInsertIn.SetText(3, "Raport Vendrel");
    FInsertIn.SetLong(4, -1);
    FInsertIn.SetLong(5, 0);
    RunWrite(FInsertSql, FInsertIn);
}

} // namespace ostrakel::bench
