// The update pass written directly on the client API: the same statement
// texts as the window sends, each prepared once and kept (as the window keeps
// the sum's, the update's and the history row's), the same three transactions
// with their starts, rollbacks and commits, in the same order.
#pragma once

#include "bench/pass/DirectApi.h"

#include <string>
#include <vector>

namespace ostrakel::bench {

// The texts as the server receives them: every :name becomes "?" and blanks.
std::string ServerText(const std::string& text);

// The window's statements, line breaks as its statement lines join them.
extern const std::string kWalkText, kSumText, kUpdateText, kInsertText;

struct TPassCount {
    int Walked = 0;
    int Changed = 0;
};

class TApiPass {
public:
    // Attaches dir/kalimbor_db.fdb and dir/vendrel_data.fdb.
    TApiPass(const std::string& dir, bool addHistory);
    ~TApiPass();
    TApiPass(const TApiPass&) = delete;
    TApiPass& operator=(const TApiPass&) = delete;

    TPassCount Run();

private:
    int32_t SumShots(int32_t toolId);
    void WriteCounter(int32_t mouldId, int32_t counter);
    void AddHistoryRow(int32_t mouldId, int32_t counter, int32_t oldCounter);
    // One write in a transaction of its own: committed, or rolled back on failure.
    void RunWrite(const std::string& text, TSqlda& input);

    TDirectAttachment FMoulds, FReports;
    bool FAddHistory;
    isc_tr_handle FWalkTr = 0, FSumTr = 0, FWriteTr = 0;
    isc_stmt_handle FWalk = 0, FSum = 0, FWrite = 0, FInsert = 0;
    bool FSumPrepared = false, FUpdatePrepared = false, FInsertPrepared = false;
    bool FWalkOpen = false, FSumOpen = false;
    TSqlda FWalkRow{6}, FSumRow{1}, FSumIn{1}, FUpdateIn{3}, FInsertIn{6};
    const std::string FWalkSql, FSumSql, FUpdateSql, FInsertSql;
};

// The bulk pass written directly on the client API, the best plain use of it
// found: every tool's sum in one grouped select, the walk, and the writes of
// up to batch moulds in one EXECUTE BLOCK (each write undone alone when it
// fails, the failures sent back in the block's one row, which isc_dsql_execute2
// brings with the execute: one round trip a batch), each batch committed in a
// transaction of its own, as the window commits them.
class TApiBulkPass {
public:
    TApiBulkPass(const std::string& dir, bool addHistory, int batch);
    ~TApiBulkPass();
    TApiBulkPass(const TApiBulkPass&) = delete;
    TApiBulkPass& operator=(const TApiBulkPass&) = delete;

    TPassCount Run();
    int FailedWrites() const { return FFailed; }
    // The first failure a block sent back: "n,w,gdscode,sqlcode".
    const std::string& FirstFailure() const { return FFirstFailure; }

private:
    struct TWrite {
        int32_t Id, Counter, Old;
        ISC_TIMESTAMP Stamp;
    };
    void Send();

    TDirectAttachment FMoulds, FReports;
    bool FAddHistory;
    int FBatch;
    isc_tr_handle FWriteTr = 0;
    isc_stmt_handle FFull = 0, FTail = 0;
    int FTailSize = 0;
    std::vector<TWrite> FPending;
    int FFailed = 0;
    std::string FFirstFailure;
};

} // namespace ostrakel::bench
