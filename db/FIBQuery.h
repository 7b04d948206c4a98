// The statement (TFIBQuery, TpFIBQuery): one SQL statement with named
// parameters on one connection and transaction, its cursor and result row.
#pragma once

#include "db/FIBDatabase.h"
#include "db/FIBXSQLVar.h"
#include "db/SQLParser.h"
#include "platform/Component.h"

#include <ibase.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ostrakel {

class TFIBTransaction;
class EFIBError;

// The statement type the server reports at prepare (isc_info_sql_stmt values).
enum TFIBSQLTypes {
    SQLUnknown = 0,
    SQLSelect = 1,
    SQLInsert = 2,
    SQLUpdate = 3,
    SQLDelete = 4,
    SQLDDL = 5,
    SQLGetSegment = 6,
    SQLPutSegment = 7,
    SQLExecProcedure = 8,
    SQLStartTransaction = 9,
    SQLCommit = 10,
    SQLRollback = 11,
    SQLSelectForUpdate = 12,
    SQLSetGenerator = 13
};

enum TpFIBQueryOption {
    qoStartTransaction,
    qoAutoCommit,
    qoTrimCharFields,
    qoNoForceIsNull,
    qoFreeHandleAfterExecute
};

// A set of enumeration values of up to 32 members.
template <class E> class TEnumSet {
public:
    TEnumSet() = default;
    TEnumSet(std::initializer_list<E> values) {
        for (E v : values) Include(v);
    }
    bool Contains(E v) const { return (FBits >> static_cast<unsigned>(v)) & 1u; }
    void Include(E v) { FBits |= 1u << static_cast<unsigned>(v); }
    void Exclude(E v) { FBits &= ~(1u << static_cast<unsigned>(v)); }
    bool Empty() const { return FBits == 0; }
    bool operator==(const TEnumSet&) const = default;

private:
    uint32_t FBits = 0;
};
using TpFIBQueryOptions = TEnumSet<TpFIBQueryOption>;

// The lines of a statement's text; every edit tells the statement before and
// after it happens, so that an open statement can refuse it.
class TSQLLines {
public:
    TSQLLines(std::function<void()> Before, std::function<void()> After)
        : FBefore(std::move(Before)), FAfter(std::move(After)) {}

    void Clear();
    void Add(const std::string& Line);
    // Replaces the whole text; line breaks (CR LF, LF or CR) split it into lines.
    void SetText(const std::string& Text);
    // The lines joined with CR LF.
    std::string Text() const;
    // The same into Text, which keeps its room.
    void JoinInto(std::string& Text) const;
    int Count() const { return static_cast<int>(FLines.size()); }
    const std::string& operator[](int Index) const { return FLines.at(static_cast<size_t>(Index)); }
    bool Empty() const { return FLines.empty(); }

private:
    std::function<void()> FBefore, FAfter;
    std::vector<std::string> FLines;
};

enum TDataAction { daFail, daAbort, daRetry };

class TFIBQuery : public TComponent {
public:
    explicit TFIBQuery(TComponent* AOwner = nullptr);
    ~TFIBQuery() override;

    // ---- properties ----
    TSQLLines& SQL() { return FSQL; }
    const TSQLLines& SQL() const { return FSQL; }
    TFIBDatabase* Database() const { return FBase.Database(); }
    void SetDatabase(TFIBDatabase* Value) { FBase.SetDatabase(Value); }
    TFIBTransaction* Transaction() const { return FBase.Transaction(); }
    void SetTransaction(TFIBTransaction* Value) { FBase.SetTransaction(Value); }
    TFIBBase& Base() { return FBase; }
    bool ParamCheck() const { return FParamCheck; }
    void SetParamCheck(bool Value) { FParamCheck = Value; }
    bool GoToFirstRecordOnExecute() const { return FGoToFirstRecordOnExecute; }
    void SetGoToFirstRecordOnExecute(bool Value) { FGoToFirstRecordOnExecute = Value; }
    const TpFIBQueryOptions& Options() const { return FOptions; }
    void SetOptions(TpFIBQueryOptions Value) { FOptions = Value; }

    TFIBXSQLDA& Params();
    TFIBXSQLDA& Current() { return FSQLRecord; }
    // The server's list of parameters (differs from Params only with macros or IS NULL rewriting).
    TFIBXSQLDA& ServerParams() { return FSQLParams; }
    TFIBSQLTypes SQLType() const { return FSQLType; }
    TSQLKind SQLKind() const { return FSQLKind; }
    bool Prepared() const { return FPrepared; }
    bool Open() const { return FOpen; }
    bool Bof() const { return FBOF; }
    bool Eof();
    int RecordCount() const { return FRecordCount; }
    isc_stmt_handle Handle() const { return FHandle; }
    bool ProcExecuted() const { return FProcExecuted; }
    const std::string& CursorName() const { return FCursorName; }
    void SetCursorName(const std::string& Value) { FCursorName = Value; }
    uint64_t CallTime() const { return FCallTime; }
    int SQLTextChangeCount() const { return FSQLTextChangeCount; }
    // The text as sent to the server, and its 8-bit form.
    const std::string& ProcessedSQL() const { return FProcessedSQL; }
    const std::string& PreparedSQL();
    bool DiffParams() const { return vDiffParams; }
    // Whether a commit or rollback of the transaction closes the open cursor
    // (on by default; a data set turns it off for its own statements and
    // decides itself what the end of the transaction does to its rows).
    bool AutoCloseOnTransactionEnd() const { return FAutoCloseOnTransactionEnd; }
    void SetAutoCloseOnTransactionEnd(bool Value) { FAutoCloseOnTransactionEnd = Value; }
    bool HaveMacros() const { return FHaveMacros; }

    // ---- events ----
    std::function<void(TFIBQuery*)> BeforeExecute, AfterExecute, OnSQLChanging;
    std::function<void(TFIBQuery*, TFIBTransaction*)> TransactionEnding, TransactionEnded;
    // May set Stop to end the walk before the row numbered RecordCount is fetched.
    std::function<void(TFIBQuery*, int RecordCount, bool& Stop)> OnSQLFetch;

    // ---- operations ----
    TFIBXSQLVAR& ParamByName(const std::string& Name);
    TFIBXSQLVAR* FindParam(const std::string& Name);
    TFIBXSQLVAR& FieldByName(const std::string& Name);
    TFIBXSQLVAR* FindField(const std::string& Name);
    int FieldCount() const { return FSQLRecord.Count(); }

    void Prepare();
    virtual void ExecQuery();
    // The row list after a fetch, or null at the end.
    TFIBXSQLDA* Next();
    void Close();
    void FreeHandle();
    void ExecuteImmediate();
    void ApplyMacro();
    void RestoreMacroDefaultValues();
    void BeginModifySQLText() { ++FModifyDepth; }
    void EndModifySQLText();

    // Every client status of this statement passes here (then to its
    // transaction and connections); raises from the status vector when asked.
    ISC_STATUS Call(ISC_STATUS ErrCode, bool RaiseError);

    // ---- what the values ask ----
    bool NeedForceIsNull() const { return FNeedForceIsNull; }
    void SetNeedForceIsNull() { FNeedForceIsNull = true; }
    bool MacroChanged() const { return FMacroChanged; }
    void SetMacroChanged() { FMacroChanged = true; }
    void SetHasBlobParams() { FHasBlobParams = true; }
    int Dialect() const;
    IIBClientLibrary& ClientLibrary() const;
    // Starts the transaction for a blob when qoStartTransaction asks for it.
    void StartTransactionIfAsked();
    // Is the statement or any of its owners being read from its design?
    bool InLoading() const;

private:
    enum TQueryRunState { qrsInPrepare = 1, qrsInExecute = 2 };

    void BeforeSQLChange();
    void AfterSQLChange();
    // The scan of a text, kept for the texts used last; null where a statement
    // being loaded keeps its earlier lists.
    const TScanResult* Scan(const std::string& Text, TSQLKind Kind, TScanMode Mode);
    void ScanCallerText();
    bool NeedsAssembly() const;
    void AssembleAndScanServerText(bool ForExecution);
    // Makes the list's entries anew from the scan, keeping the values of names it had.
    void BuildList(TFIBXSQLDA& List, const std::vector<TSQLToken>& Tokens, TScanMode Mode);
    void UpdateEightBitText();
    void DoExecQuery();
    void BeforeExecuteStep();
    void AfterExecuteStep();
    XSQLDA* ChooseInput();
    void WritePendingBlobs(TFIBXSQLDA& List);
    // True when the parameters were described by the server (not taken from the connection).
    bool DescribeAfterPrepare(const TFIBDatabase::TStatementDescription* Known);
    void NameColumns();
    TFIBXSQLVAR* Lookup(TFIBXSQLDA& List, const std::string& Name, bool CallerList);
    void OnTransactionEnding(TFIBTransaction* Transaction);
    void OnTransactionEnded(TFIBTransaction* Transaction);
    void OnDatabaseDisconnecting();
    void RaiseFromStatus();
    bool StatusHolds(ISC_STATUS Code) const;
    void SetResultNull();

    TFIBBase FBase;
    TSQLLines FSQL;
    bool FParamCheck = true;
    bool FGoToFirstRecordOnExecute = true;
    TpFIBQueryOptions FOptions;
    TFIBXSQLDA FUserSQLParams;
    TFIBXSQLDA FSQLParams;
    TFIBXSQLDA FSQLRecord;
    TFIBSQLTypes FSQLType = SQLUnknown;
    TSQLKind FSQLKind = skUnknown;
    bool FCanParamsCheck = true;
    std::string FJoinedText;
    bool FPrepared = false;
    bool FOpen = false;
    bool FBOF = false;
    bool FEOF = false;
    int FRecordCount = 0;
    isc_stmt_handle FHandle = 0;
    bool FProcExecuted = false;
    std::string FCursorName;
    uint64_t FCallTime = 0;
    int FSQLTextChangeCount = 0;
    int FModifyDepth = 0;
    std::string FProcessedSQL;
    std::string FPreparedSQL;
    bool FCodePageApplied = false;
    bool FParamsBuilt = false;
    bool FParamsLookedFor = false; // ParamCheck held at the last text change
    bool vDiffParams = false;
    bool FHaveMacros = false;
    bool FMacroChanged = false;
    bool FNeedForceIsNull = false;
    bool FHasBlobParams = false;
    int FQueryRunState = 0;
    bool FAutoCloseOnTransactionEnd = true;
    struct TScannedText {
        TScanMode Mode = TScanMode::Caller;
        TSQLKind Kind = skUnknown;
        std::string Text;
        TScanResult Result;
        uint64_t Used = 0; // when it was last asked for
    };
    std::vector<TScannedText> FScans;
    uint64_t FScanUse = 0;
    TScannedText* FindScan(const std::string& Text, TScanMode Mode);
    // Room BuildList works in, kept from one text to the next.
    std::vector<std::unique_ptr<TFIBXSQLVAR>> FOldEntries, FNewEntries;
    std::vector<char> FFreshEntries;
    std::string FDescriptionKey; // dialect and server text of the last prepare
    bool FDescribedFromCache = false;
};

// The statement the main window holds: ExecQuery with an error handler that
// may fail, abort or retry.
class TpFIBQuery : public TFIBQuery {
public:
    explicit TpFIBQuery(TComponent* AOwner = nullptr) : TFIBQuery(AOwner) {}

    std::function<void(TFIBQuery*, const EFIBError&, TDataAction&)> OnExecuteError;

    void ExecQuery() override;
};

} // namespace ostrakel
