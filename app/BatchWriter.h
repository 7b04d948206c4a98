// The bulk pass's writes in batches: the counter updates and history rows of
// up to a batch of moulds go to the server in one EXECUTE BLOCK, each write in
// a block of its own whose failure is undone alone and reported back, so the
// pass logs what it would log writing one mould at a time. Each batch is
// committed on its own.
#pragma once

#include "platform/Component.h"
#include "platform/DateTime.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace ostrakel {

class IIBClientLibrary;
class TpFIBDatabase;
class TpFIBQuery;
class TpFIBTransaction;

// The most a block can carry: a statement may name tables at most 255 times
// (Firebird's contexts), and one mould's update takes two and its history
// insert one. The text (about 350 characters a mould) stays far below the
// server's 64 KiB.
inline constexpr int kMaxBatchSize = 85;
// Moulds per block: as many as a block carries. Measured with
// ostrakel_pass_bench --server --latency-us 500 --only-bulk --rounds 3
// --forced-writes on --batch K (10,000 moulds, 1,000,000 reports; 9,200
// walked, 8,800 changed, history on; 1.3 ms round trip), moulds/s by K:
// 8: 3,847; 16: 5,529; 32: 7,299; 48: 7,959; 64: 8,101; 85: 8,641 (round
// trips a pass 1,134 down to 139), the pass then committing once at its
// end; the commit of every batch adds two round trips and a synchronous
// write a batch, which favours the largest batch the more (85: 6,056 moulds/s,
// 336 round trips a pass). Embedded (--only-bulk --rounds 5
// --forced-writes on) the size matters little: 16: 11,298; 64: 10,678;
// 85: 10,471, the grouped sum of every tool taking most of the pass.
inline constexpr int kDefaultBatchSize = kMaxBatchSize;

// One mould's writes: its new counter with the update time, and the history
// row (new and old counter) when history is on.
struct TMouldWrite {
    int32_t MouldId = 0;
    int32_t Counter = 0;
    int32_t OldCounter = 0;
    TDateTime Stamp = 0;
};

// The text a failed write is told by: the first line of its error's text,
// after the line that only names the component which raised it.
std::string FirstLine(const std::exception& error);

// The text a failed write is told by, from what the block's error handler
// sees of the error: its SQL code's text as the client library gives it (the
// first line of the same error raised to the client), and where that text has
// its own full stop the engine's text of the error code after it, without the
// names the engine would put in (the handler does not get them).
std::string BatchFailureText(IIBClientLibrary& lib, int sqlCode, int gdsCode);

class TBatchWriter : public TComponent {
public:
    // Line: a log line to write. Outcome: after a mould's update line, what
    // did not reach the database: the first line of the counter's and of the
    // history row's failure (empty: written).
    using TLineSink = std::function<void(const std::string& line)>;
    using TOutcomeSink = std::function<void(const std::string& counterFailed, const std::string& historyFailed)>;

    TBatchWriter(TComponent* owner, TpFIBDatabase* database, TpFIBTransaction* transaction);

    // Between 1 and kMaxBatchSize.
    void SetBatchSize(int moulds);

    // A pass begins: with or without history rows, where its lines go.
    void StartPass(bool history, TLineSink log, TOutcomeSink outcome);
    // A line of the pass: written at once while no write waits, else held
    // until the writes before it are sent.
    void Log(const std::string& line);
    // Queues one mould's writes and its update line; a full batch is sent.
    void Add(const TMouldWrite& write, const std::string& updateLine);
    // Sends what waits in the writer's transaction (started here when it is
    // not active) and commits it, then hands on every held line in order and
    // each mould's outcome after its update line: a batch is written, or not,
    // before its lines say so. A batch that the server refuses as a whole
    // (before any of its writes stays) is sent again one write at a time, each
    // failure told by its own error's first line. A transaction that cannot
    // start, or a commit that fails (the batch then rolled back), raises after
    // the held lines are handed on with that error's first line as the failure
    // of every write that had not failed already; the transaction is not left
    // active.
    void Flush();

    // Batches the server refused as a whole (whose writes then went one at a time).
    int RefusedBatches() const { return FRefusedBatches; }

    // What a block writes of each mould.
    enum class TWrites { Both, Counter, History };

private:
    struct THeld {
        std::string Line;
        int Write = -1; // the write whose outcome follows this line
    };
    struct TStatement {
        TpFIBQuery* Query = nullptr; // a member of this writer
        int Moulds = 0;
        TWrites Writes = TWrites::Both;
    };
    TpFIBQuery& StatementFor(int moulds, TWrites writes);
    // Sends writes first .. first + count - 1; failures go into the lists at their places.
    void Send(size_t first, size_t count, TWrites writes, std::vector<std::string>& counterFailed,
              std::vector<std::string>& historyFailed);

    TpFIBDatabase* FDatabase;
    TpFIBTransaction* FTransaction;
    int FBatchSize = kDefaultBatchSize;
    bool FHistory = false;
    TLineSink FLog;
    TOutcomeSink FOutcome;
    std::vector<TMouldWrite> FWrites;
    std::vector<THeld> FHeld;
    TStatement FStatements[4];
    int FRefusedBatches = 0;
};

} // namespace ostrakel
