#include "bench/pass/ApiPass.h"

#include "bench/pass/BenchData.h"

#include <cctype>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <unordered_map>

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

} // namespace

TApiPass::TApiPass(const std::string& dir, bool addHistory)
    : FMoulds(DatabaseName(dir, kMouldsFile)), FReports(DatabaseName(dir, kReportsFile)), FAddHistory(addHistory),
      FWalkSql(ServerText(kWalkText)), FSumSql(ServerText(kSumText)), FUpdateSql(ServerText(kUpdateText)),
      FInsertSql(ServerText(kInsertText)) {
    ISC_STATUS_ARRAY sv;
    Check(isc_dsql_allocate_statement(sv, FMoulds.Handle(), &FWalk), sv, "allocate walk");
    Check(isc_dsql_allocate_statement(sv, FReports.Handle(), &FSum), sv, "allocate sum");
    Check(isc_dsql_allocate_statement(sv, FMoulds.Handle(), &FWrite), sv, "allocate write");
    Check(isc_dsql_allocate_statement(sv, FMoulds.Handle(), &FInsert), sv, "allocate insert");
}

TApiPass::~TApiPass() {
    ISC_STATUS_ARRAY sv;
    for (isc_stmt_handle* st : {&FWalk, &FSum, &FWrite, &FInsert})
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
    if (!FSumPrepared) {
        Check(isc_dsql_prepare(sv, &FSumTr, &FSum, 0, FSumSql.c_str(), kDialect, FSumRow.Get()), sv,
              "prepare sum");
        FSumRow.AllocateAsDescribed();
        FSumPrepared = true;
    }
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
    const bool update = &text == &FUpdateSql;
    isc_stmt_handle& st = update ? FWrite : FInsert;
    bool& prepared = update ? FUpdatePrepared : FInsertPrepared;
    const bool failed = (!prepared && isc_dsql_prepare(sv, &FWriteTr, &st, 0, text.c_str(), kDialect, nullptr));
    if (!failed) prepared = true;
    if (failed || isc_dsql_execute(sv, &FWriteTr, &st, kDialect, input.Get()) ||
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

// ---------------------------------------------------------------- TApiBulkPass

namespace {

const std::string kGroupedSums = "select r.toolid, sum(r.d_l) as scykli from raporth R group by r.toolid";

std::string ApiBlockText(int moulds, bool history) {
    std::string text = "EXECUTE BLOCK (";
    for (int m = 0; m < moulds; ++m) {
        const std::string n = std::to_string(m);
        if (m) text += ",";
        text += "i" + n + " INTEGER=?,c" + n + " INTEGER=?,t" + n + " TIMESTAMP=?";
        if (history) text += ",o" + n + " INTEGER=?";
    }
    text += ")\r\nRETURNS (f VARCHAR(" + std::to_string(44 * moulds) + "))\r\nAS\r\nBEGIN\r\nf='';\r\n";
    for (int m = 0; m < moulds; ++m) {
        const std::string n = std::to_string(m);
        const std::string handler = "WHEN ANY DO f=f||'" + n + ",";
        text += "BEGIN UPDATE kalimbor SET counter=:c" + n + ",counttch=:t" + n + " WHERE id=:i" + n + ";" + handler +
                "0,'||GDSCODE||','||SQLCODE||';';END\r\n";
        if (history)
            text += "BEGIN INSERT INTO KALIMBOR_LICZNIKI (id_f,stan,ostan,opis,id_p,lm) VALUES (:i" + n + ",:c" + n +
                    ",:o" + n + ",'Raport Vendrel',-1,0);" + handler + "1,'||GDSCODE||','||SQLCODE||';';END\r\n";
    }
    text += "SUSPEND;\r\nEND";
    return text;
}

} // namespace

TApiBulkPass::TApiBulkPass(const std::string& dir, bool addHistory, int batch)
    : FMoulds(DatabaseName(dir, kMouldsFile)), FReports(DatabaseName(dir, kReportsFile)), FAddHistory(addHistory),
      FBatch(batch) {}

TApiBulkPass::~TApiBulkPass() {
    ISC_STATUS_ARRAY sv;
    for (isc_stmt_handle* st : {&FFull, &FTail})
        if (*st) isc_dsql_free_statement(sv, st, DSQL_drop);
    if (FWriteTr) isc_rollback_transaction(sv, &FWriteTr);
}

void TApiBulkPass::Send() {
    ISC_STATUS_ARRAY sv;
    const int n = static_cast<int>(FPending.size());
    if (!FWriteTr) FWriteTr = FMoulds.Start();
    const bool full = n == FBatch;
    isc_stmt_handle& st = full ? FFull : FTail;
    if (!st || (!full && FTailSize != n)) {
        if (!st) Check(isc_dsql_allocate_statement(sv, FMoulds.Handle(), &st), sv, "allocate block");
        const std::string text = ApiBlockText(n, FAddHistory);
        Check(isc_dsql_prepare(sv, &FWriteTr, &st, 0, text.c_str(), kDialect, nullptr), sv, "prepare block");
        if (!full) FTailSize = n;
    }
    const int per = FAddHistory ? 4 : 3;
    TSqlda in(per * n);
    for (int m = 0; m < n; ++m) {
        const TWrite& w = FPending[static_cast<size_t>(m)];
        in.SetLong(per * m, w.Id);
        in.SetLong(per * m + 1, w.Counter);
        in.SetTimestamp(per * m + 2, w.Stamp);
        if (FAddHistory) in.SetLong(per * m + 3, w.Old);
    }
    std::vector<char> result(44 * static_cast<size_t>(n) + 2);
    short nullFlag = 0;
    TSqlda out(1);
    XSQLVAR& f = out.Var(0);
    f.sqltype = SQL_VARYING | 1;
    f.sqllen = static_cast<short>(result.size() - 2);
    f.sqldata = result.data();
    f.sqlind = &nullFlag;
    Check(isc_dsql_execute2(sv, &FWriteTr, &st, kDialect, in.Get(), out.Get()), sv, "execute block");
    uint16_t length = 0;
    std::memcpy(&length, result.data(), 2);
    const std::string failures(result.data() + 2, length);
    for (char c : failures) FFailed += c == ';';
    if (FFirstFailure.empty() && !failures.empty()) FFirstFailure = failures.substr(0, failures.find(';'));
    FPending.clear();
    Check(isc_commit_transaction(sv, &FWriteTr), sv, "commit batch");
}

TPassCount TApiBulkPass::Run() {
    ISC_STATUS_ARRAY sv;
    TPassCount count;
    FFailed = 0;
    FFirstFailure.clear();
    std::unordered_map<int32_t, int32_t> sums;
    {
        isc_tr_handle tr = FReports.Start();
        isc_stmt_handle st = 0;
        Check(isc_dsql_allocate_statement(sv, FReports.Handle(), &st), sv, "allocate sums");
        TSqlda row(2);
        Check(isc_dsql_prepare(sv, &tr, &st, 0, kGroupedSums.c_str(), kDialect, row.Get()), sv, "prepare sums");
        row.AllocateAsDescribed();
        Check(isc_dsql_execute(sv, &tr, &st, kDialect, nullptr), sv, "execute sums");
        ISC_STATUS rc;
        while ((rc = isc_dsql_fetch(sv, &st, kDialect, row.Get())) == 0)
            if (!row.IsNull(0)) sums[Int32(row.Var(0))] = Int32(row.Var(1));
        if (rc != 100) Check(rc, sv, "fetch sums");
        isc_dsql_free_statement(sv, &st, DSQL_drop);
        Check(isc_commit_transaction(sv, &tr), sv, "commit sums");
    }
    isc_tr_handle walkTr = FMoulds.Start();
    isc_stmt_handle walk = 0;
    Check(isc_dsql_allocate_statement(sv, FMoulds.Handle(), &walk), sv, "allocate walk");
    TSqlda row(6);
    const std::string walkSql = ServerText(kWalkText);
    Check(isc_dsql_prepare(sv, &walkTr, &walk, 0, walkSql.c_str(), kDialect, row.Get()), sv, "prepare walk");
    row.AllocateAsDescribed();
    Check(isc_dsql_execute(sv, &walkTr, &walk, kDialect, nullptr), sv, "open walk");
    ISC_STATUS rc;
    while ((rc = isc_dsql_fetch(sv, &walk, kDialect, row.Get())) == 0) {
        ++count.Walked;
        const int32_t id = Int32(row.Var(0)), old = Int32(row.Var(3)), tool = Int32(row.Var(5));
        const auto it = sums.find(tool);
        const int32_t sum = it == sums.end() ? 0 : it->second;
        if (old == sum) continue;
        ++count.Changed;
        FPending.push_back({id, sum, old, Now()});
        if (static_cast<int>(FPending.size()) == FBatch) Send();
    }
    if (rc != 100) Check(rc, sv, "fetch walk");
    if (!FPending.empty()) Send();
    isc_dsql_free_statement(sv, &walk, DSQL_drop);
    Check(isc_commit_transaction(sv, &walkTr), sv, "commit walk");
    return count;
}

} // namespace ostrakel::bench
