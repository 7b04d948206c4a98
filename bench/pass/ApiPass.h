// The update pass written directly on the client API: the same statement
// texts as the window sends, a prepare per text change, the same three
// transactions with their starts, rollbacks and commits, in the same order.
#pragma once

#include "bench/pass/DirectApi.h"

#include <string>

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
    isc_stmt_handle FWalk = 0, FSum = 0, FWrite = 0;
    bool FWalkOpen = false, FSumOpen = false;
    TSqlda FWalkRow{6}, FSumRow{1}, FSumIn{1}, FUpdateIn{3}, FInsertIn{6};
    const std::string FWalkSql, FSumSql, FUpdateSql, FInsertSql;
};

} // namespace ostrakel::bench
