#include "app/BatchWriter.h"

#include "db/ClientLibrary.h"
#include "db/FIBDatabase.h"
#include "db/FIBErrors.h"
#include "db/FIBQuery.h"
#include "db/FIBTransaction.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <exception>

namespace ostrakel {

namespace {

std::string FirstLineOf(std::string_view text) {
    return std::string(text.substr(0, text.find_first_of("\r\n")));
}

void CapitaliseFirst(std::string& bytes) {
    if (!bytes.empty() && bytes[0] >= 'a' && bytes[0] <= 'z') bytes[0] = static_cast<char>(bytes[0] - 'a' + 'A');
}

// The block for a number of moulds. Every value comes in as a parameter; each
// write is a block of its own whose handler undoes it alone (the statement's
// own savepoint) and sends back a row: the mould's place in the batch, which
// write (0 the counter, 1 the history row) and the error's codes.
std::string BlockText(int moulds, TBatchWriter::TWrites writes) {
    const bool counter = writes != TBatchWriter::TWrites::History;
    const bool history = writes != TBatchWriter::TWrites::Counter;
    std::string text = "EXECUTE BLOCK (";
    for (int m = 0; m < moulds; ++m) {
        const std::string n = std::to_string(m);
        if (m) text += ",";
        text += "i" + n + " INTEGER=:i" + n + ",c" + n + " INTEGER=:c" + n;
        if (counter) text += ",t" + n + " TIMESTAMP=:t" + n;
        if (history) text += ",o" + n + " INTEGER=:o" + n;
    }
    text += ")\r\nRETURNS (n INTEGER,w INTEGER,g INTEGER,s INTEGER)\r\nAS\r\nBEGIN\r\n";
    for (int m = 0; m < moulds; ++m) {
        const std::string n = std::to_string(m);
        const std::string handler = "WHEN ANY DO BEGIN n=" + n + ";w=";
        if (counter)
            text += "BEGIN UPDATE kalimbor SET counter=:c" + n + ",counttch=:t" + n + " WHERE id=:i" + n + ";" +
                    handler + "0;g=GDSCODE;s=SQLCODE;SUSPEND;END END\r\n";
        if (history)
            text += "BEGIN INSERT INTO KALIMBOR_LICZNIKI (id_f,stan,ostan,opis,id_p,lm) VALUES (:i" + n + ",:c" + n +
                    ",:o" + n + ",'Raport Vendrel',-1,0);" + handler + "1;g=GDSCODE;s=SQLCODE;SUSPEND;END END\r\n";
    }
    text += "END";
    return text;
}

} // namespace

std::string FirstLine(const std::exception& error) {
    std::string_view text = error.what();
    if (const auto* fib = dynamic_cast<const EFIBError*>(&error); fib && !fib->RaiserName().empty()) {
        const std::string nameLine = fib->RaiserName() + ":\r\n";
        if (text.starts_with(nameLine)) text.remove_prefix(nameLine.size());
    }
    return FirstLineOf(text);
}

std::string BatchFailureText(IIBClientLibrary& lib, int sqlCode, int gdsCode) {
    char buffer[1024] = {};
    lib.isc_sql_interprete(static_cast<short>(sqlCode), buffer, sizeof buffer);
    buffer[sizeof buffer - 1] = '\0';
    std::string bytes(buffer);
    for (size_t at = bytes.find("\\n"); at != std::string::npos; at = bytes.find("\\n", at)) bytes.erase(at, 2);
    CapitaliseFirst(bytes);
    std::string text = Win1250ToUtf8(bytes);
    // Raised to the client, the error's text begins with this line; a text
    // with its own full stop keeps the engine's text on its line.
    if (!text.empty() && text.back() != '.') return FirstLineOf(text + ".");
    // The engine's text of the code, its arguments (names of the objects) empty.
    ISC_STATUS status[2 + 2 * 10 + 1] = {isc_arg_gds, gdsCode};
    static const char kNoName[] = "";
    int at = 2;
    for (int i = 0; i < 10; ++i) {
        status[at++] = isc_arg_string;
        status[at++] = reinterpret_cast<ISC_STATUS>(kNoName);
    }
    status[at] = isc_arg_end;
    const ISC_STATUS* cursor = status;
    char engine[1024] = {};
    const ISC_LONG length = lib.InterpretStatus(engine, sizeof engine, &cursor);
    std::string engineBytes = length > 0 ? std::string(engine, std::min<size_t>(static_cast<size_t>(length), sizeof engine))
                                         : std::string();
    CapitaliseFirst(engineBytes);
    text += Win1250ToUtf8(engineBytes);
    if (text.empty()) return "Error code " + std::to_string(gdsCode) + ", SQL code " + std::to_string(sqlCode) + ".";
    if (text.back() != '.') text += '.';
    return FirstLineOf(text);
}

TBatchWriter::TBatchWriter(TComponent* owner, TpFIBDatabase* database, TpFIBTransaction* transaction)
    : TComponent(owner), FDatabase(database), FTransaction(transaction) {
    SetName("BatchWriter");
}

void TBatchWriter::SetBatchSize(int moulds) { FBatchSize = std::clamp(moulds, 1, kMaxBatchSize); }

void TBatchWriter::StartPass(bool history, TLineSink log, TOutcomeSink outcome) {
    FHistory = history;
    FLog = std::move(log);
    FOutcome = std::move(outcome);
    FWrites.clear();
    FHeld.clear();
}

void TBatchWriter::Log(const std::string& line) {
    if (FWrites.empty())
        FLog(line);
    else
        FHeld.push_back({line, -1});
}

void TBatchWriter::Add(const TMouldWrite& write, const std::string& updateLine) {
    FWrites.push_back(write);
    FHeld.push_back({updateLine, static_cast<int>(FWrites.size()) - 1});
    if (static_cast<int>(FWrites.size()) >= FBatchSize) Flush();
}

TpFIBQuery& TBatchWriter::StatementFor(int moulds, TWrites writes) {
    // A full batch, a batch of another size (the pass's tail), and the two
    // single writes: each kept prepared while its text stays.
    const int slot = writes == TWrites::Counter && moulds == 1 && FHistory ? 2
                     : writes == TWrites::History                          ? 3
                     : moulds == FBatchSize                               ? 0
                                                                          : 1;
    TStatement& st = FStatements[static_cast<size_t>(slot)];
    if (!st.Query) {
        static const char* const kNames[] = {"pFIBQueryBatch", "pFIBQueryBatchTail", "pFIBQueryBatchCounter",
                                             "pFIBQueryBatchHistory"};
        st.Query = Create<TpFIBQuery>();
        st.Query->SetName(kNames[slot]);
        st.Query->SetDatabase(FDatabase);
        st.Query->SetTransaction(FTransaction);
    }
    if (st.Moulds != moulds || st.Writes != writes) {
        st.Query->Close();
        st.Query->SQL().SetText(BlockText(moulds, writes));
        st.Moulds = moulds;
        st.Writes = writes;
    }
    return *st.Query;
}

void TBatchWriter::Send(size_t first, size_t count, TWrites writes, std::vector<std::string>& counterFailed,
                        std::vector<std::string>& historyFailed) {
    const int moulds = static_cast<int>(count);
    TpFIBQuery& q = StatementFor(moulds, writes);
    TFIBXSQLDA& params = q.Params();
    int p = 0;
    for (size_t m = first; m < first + count; ++m) {
        const TMouldWrite& w = FWrites[m];
        params.Vars(p++).SetAsInteger(w.MouldId);
        params.Vars(p++).SetAsInteger(w.Counter);
        if (writes != TWrites::History) params.Vars(p++).SetAsDateTime(w.Stamp);
        if (writes != TWrites::Counter) params.Vars(p++).SetAsInteger(w.OldCounter);
    }
    q.ExecQuery();
    IIBClientLibrary& lib = q.ClientLibrary();
    // Every row is fetched: the block runs on as its rows are read.
    for (; !q.Eof(); q.Next()) {
        const int m = q.FieldByName("n").AsInteger();
        if (m < 0 || m >= moulds) continue;
        std::string& failed =
            (q.FieldByName("w").AsInteger() == 0 ? counterFailed : historyFailed)[first + static_cast<size_t>(m)];
        failed = BatchFailureText(lib, q.FieldByName("s").AsInteger(), q.FieldByName("g").AsInteger());
    }
    q.Close();
}

void TBatchWriter::Flush() {
    const size_t moulds = FWrites.size();
    std::vector<std::string> counterFailed(moulds), historyFailed(moulds);
    std::exception_ptr error;
    if (moulds > 0) {
        try {
            if (!FTransaction->Active()) FTransaction->StartTransaction();
        } catch (const std::exception& e) {
            // Nothing was written; the pass ends with this error once the lines are out.
            const std::string why = FirstLine(e);
            std::fill(counterFailed.begin(), counterFailed.end(), why);
            if (FHistory) std::fill(historyFailed.begin(), historyFailed.end(), why);
            error = std::current_exception();
        }
        if (!error) try {
                Send(0, moulds, FHistory ? TWrites::Both : TWrites::Counter, counterFailed, historyFailed);
            } catch (const std::exception&) {
                // The block was refused as a whole before any write of it stayed
                // (a table or a right that one kind of write lacks, a value the
                // block cannot take): each write goes again on its own, so that
                // what can be written is, and each failure is told by its own error.
                ++FRefusedBatches;
                std::fill(counterFailed.begin(), counterFailed.end(), std::string());
                std::fill(historyFailed.begin(), historyFailed.end(), std::string());
                for (size_t m = 0; m < moulds; ++m) {
                    const TWrites kinds[] = {TWrites::Counter, TWrites::History};
                    for (TWrites kind : kinds) {
                        if (kind == TWrites::History && !FHistory) continue;
                        try {
                            Send(m, 1, kind, counterFailed, historyFailed);
                        } catch (const std::exception& e) {
                            (kind == TWrites::Counter ? counterFailed : historyFailed)[m] = FirstLine(e);
                        }
                    }
                }
            }
        // The batch is committed before any of its lines is out, so a line
        // says written only of what is. A refused commit leaves nothing of the
        // batch: it is rolled back (the handle let go of even when the rollback
        // fails too, so nothing is left to commit later), each of its writes
        // is told failed, with its own reason where it had one, and the commit's
        // error ends the pass once the lines are out.
        if (!error) try {
                FTransaction->Commit();
            } catch (const std::exception& e) {
                error = std::current_exception();
                try {
                    FTransaction->EndTransaction(TARollback, true);
                } catch (const std::exception&) {
                }
                const std::string why = FirstLine(e);
                for (size_t m = 0; m < moulds; ++m) {
                    if (counterFailed[m].empty()) counterFailed[m] = why;
                    if (FHistory && historyFailed[m].empty()) historyFailed[m] = why;
                }
            }
    }
    std::vector<THeld> held;
    held.swap(FHeld);
    FWrites.clear();
    for (const THeld& h : held) {
        FLog(h.Line);
        if (h.Write >= 0) FOutcome(counterFailed[static_cast<size_t>(h.Write)], historyFailed[static_cast<size_t>(h.Write)]);
    }
    if (error) std::rethrow_exception(error);
}

} // namespace ostrakel
