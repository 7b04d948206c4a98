#include "db/FIBQuery.h"

#include "db/ClientLibrary.h"
#include "db/FIBErrors.h"
#include "db/FIBTransaction.h"
#include "platform/Exception.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <random>

namespace ostrakel {

namespace {

bool OnlyBlanks(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) <= 32; });
}

bool StartsWithExecute(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= 32) ++i;
    static const char kWord[] = "EXECUTE ";
    for (size_t k = 0; k < 8; ++k, ++i) {
        if (i >= text.size()) return false;
        char c = text[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != kWord[k]) return false;
    }
    return true;
}

// Runs on a scope's exit.
template <class F> struct TOnExit {
    F f;
    ~TOnExit() { f(); }
};
template <class F> TOnExit(F) -> TOnExit<F>;

} // namespace

// ---------------------------------------------------------------- TSQLLines

void TSQLLines::Clear() {
    FBefore();
    FLines.clear();
    FAfter();
}

void TSQLLines::Add(const std::string& Line) {
    FBefore();
    FLines.push_back(Line);
    FAfter();
}

void TSQLLines::SetText(const std::string& Text) {
    FBefore();
    FLines.clear();
    size_t start = 0;
    for (size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] != '\r' && Text[i] != '\n') continue;
        FLines.push_back(Text.substr(start, i - start));
        if (Text[i] == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < Text.size()) FLines.push_back(Text.substr(start));
    FAfter();
}

std::string TSQLLines::Text() const {
    std::string text;
    JoinInto(text);
    return text;
}

void TSQLLines::JoinInto(std::string& Text) const {
    Text.clear();
    for (size_t i = 0; i < FLines.size(); ++i) {
        if (i) Text += "\r\n";
        Text += FLines[i];
    }
}

// ---------------------------------------------------------------- TFIBQuery

TFIBQuery::TFIBQuery(TComponent* AOwner)
    : TComponent(AOwner), FBase(this), FSQL([this] { BeforeSQLChange(); }, [this] { AfterSQLChange(); }),
      FUserSQLParams(this, true), FSQLParams(this, true), FSQLRecord(this, false) {
    FSQLRecord.SetCount(0);
    FBase.OnTransactionEnding = [this](TFIBTransaction* t) { OnTransactionEnding(t); };
    FBase.OnTransactionEnded = [this](TFIBTransaction* t) { OnTransactionEnded(t); };
    FBase.OnDatabaseDisconnecting = [this](TFIBBase*) { OnDatabaseDisconnecting(); };
    // A connection going away takes its statement handles with it.
    FBase.OnDatabaseFree = [this](TFIBBase*) {
        FHandle = 0;
        FPrepared = FOpen = false;
    };
}

TFIBQuery::~TFIBQuery() {
    try {
        if (Database() && Database()->Connected()) {
            Close();
            FreeHandle();
        }
    } catch (...) {
        // A destructor has nobody to report to; the handle dies with the attachment.
    }
}

int TFIBQuery::Dialect() const { return Database() ? Database()->SQLDialect() : 3; }

IIBClientLibrary& TFIBQuery::ClientLibrary() const {
    if (!Database()) RaiseClientError(fibeDatabaseNotAssigned, NamePath());
    return Database()->ClientLibrary();
}

bool TFIBQuery::InLoading() const {
    for (const TComponent* c = this; c; c = c->Owner())
        if (c->IsLoading()) return true;
    return false;
}

void TFIBQuery::StartTransactionIfAsked() {
    if (FOptions.Contains(qoStartTransaction) && Transaction() && !Transaction()->Active())
        Transaction()->StartTransaction();
}

ISC_STATUS TFIBQuery::Call(ISC_STATUS ErrCode, bool RaiseError) {
    if (Transaction()) Transaction()->Call(ErrCode, false);
    else if (Database()) Database()->Call(ErrCode, false);
    if (RaiseError && ErrCode > 0) RaiseFromStatus();
    return ErrCode;
}

void TFIBQuery::RaiseFromStatus() { RaiseStatusError(ClientLibrary(), this); }

bool TFIBQuery::StatusHolds(ISC_STATUS Code) const {
    const ISC_STATUS* sv = StatusVector();
    for (int i = 0; i < ISC_STATUS_LENGTH - 1 && sv[i] != isc_arg_end;) {
        if (sv[i] == isc_arg_gds && sv[i + 1] == Code) return true;
        i += sv[i] == isc_arg_cstring ? 3 : 2;
    }
    return false;
}

// ---- the text

void TFIBQuery::BeforeSQLChange() {
    if (FOpen) RaiseClientError(fibeDatasetOpen, "change sql text", NamePath());
    if (OnSQLChanging) OnSQLChanging(this);
    if (FHandle) FreeHandle();
    FMacroChanged = false;
}

void TFIBQuery::AfterSQLChange() {
    FHaveMacros = false;
    FSQL.JoinInto(FJoinedText);
    // A text read before had its kind found then, and its parameters by the quick scan.
    const TScannedText* known = FindScan(FJoinedText, TScanMode::Caller);
    FSQLKind = known ? known->Kind : SQLKindOfText(FJoinedText);
    FCanParamsCheck = CanParamsCheck(FSQLKind);
    if (FModifyDepth > 0) return;
    ++FSQLTextChangeCount;
    FParamsLookedFor = FParamCheck;
    if (!FParamCheck || FSQL.Empty() || !(known || QuickScanHasParams(FJoinedText))) {
        FUserSQLParams.ClearEntries();
        FSQLParams.ClearEntries();
        vDiffParams = false;
        FProcessedSQL = FJoinedText;
    } else {
        ScanCallerText();
        if (FUserSQLParams.Count() > 0) {
            FProcessedSQL.clear();
            FPreparedSQL.clear();
        } else {
            FProcessedSQL = FJoinedText;
        }
    }
    if (FHandle) FreeHandle();
    FParamsBuilt = true;
    FCodePageApplied = false;
}

void TFIBQuery::EndModifySQLText() {
    if (FModifyDepth > 0 && --FModifyDepth == 0) AfterSQLChange();
}

TFIBXSQLDA& TFIBQuery::Params() {
    if (!FParamsBuilt) {
        if (FParamCheck && !FSQL.Empty() && QuickScanHasParams(FJoinedText)) ScanCallerText();
        FParamsBuilt = true;
    }
    return FUserSQLParams;
}

const TScanResult* TFIBQuery::Scan(const std::string& Text, TSQLKind Kind, TScanMode Mode) {
    // A statement goes back and forth between a few texts; each is read once.
    constexpr size_t kTextsKept = 8;
    if (TScannedText* kept = FindScan(Text, Mode)) {
        kept->Used = ++FScanUse;
        return &kept->Result;
    }
    std::optional<TScanResult> scan = ScanSQL(Text, Kind, Mode, NamePath(), Mode == TScanMode::Caller && InLoading());
    if (!scan) return nullptr;
    TScannedText* slot;
    if (FScans.size() < kTextsKept) {
        slot = &FScans.emplace_back();
    } else {
        slot = &*std::min_element(FScans.begin(), FScans.end(),
                                  [](const TScannedText& a, const TScannedText& b) { return a.Used < b.Used; });
    }
    slot->Mode = Mode;
    slot->Kind = Kind;
    slot->Text = Text;
    slot->Result = std::move(*scan);
    slot->Used = ++FScanUse;
    return &slot->Result;
}

TFIBQuery::TScannedText* TFIBQuery::FindScan(const std::string& Text, TScanMode Mode) {
    for (TScannedText& kept : FScans)
        if (kept.Mode == Mode && kept.Text == Text) return &kept;
    return nullptr;
}

void TFIBQuery::ScanCallerText() {
    const TScanResult* scan = Scan(FJoinedText, FSQLKind, TScanMode::Caller);
    if (!scan) return;
    BuildList(FUserSQLParams, scan->Tokens, TScanMode::Caller);
}

void TFIBQuery::BuildList(TFIBXSQLDA& List, const std::vector<TSQLToken>& Tokens, TScanMode Mode) {
    std::vector<std::unique_ptr<TFIBXSQLVAR>>& old = FOldEntries;
    std::vector<std::unique_ptr<TFIBXSQLVAR>>& entries = FNewEntries;
    std::vector<char>& fresh = FFreshEntries;
    List.TakeEntries(old);
    entries.clear();
    fresh.clear();
    for (const TSQLToken& token : Tokens) {
        const bool isMacro = token.IsMacro();
        if (isMacro && Mode == TScanMode::Server) continue;
        const TMacroParts macro = isMacro ? SplitMacro(token) : TMacroParts{};
        const std::string name = isMacro ? macro.Name : ParamNameOf(token);
        // A value given before the text changed stays with its name.
        auto reuse = std::find_if(old.begin(), old.end(), [&](const auto& e) {
            return e && e->Name() == name && !e->IsBlob() && e->FIsMacro == isMacro;
        });
        std::unique_ptr<TFIBXSQLVAR> entry;
        if (reuse != old.end()) {
            entry = std::move(*reuse);
            entry->ForgetServerDescription();
            fresh.push_back(0);
        } else {
            entry = List.NewEntry();
            entry->SetName(name);
            fresh.push_back(1);
        }
        entry->FQuoted = token.Quoted;
        entry->FIsMacro = isMacro;
        entry->FMacroQuoted = macro.Quoted;
        entry->FDefMacroValue = macro.DefaultValue;
        entry->FBeginPosInText = token.Begin;
        entry->FEndPosInText = token.End;
        entry->FInWhereClause = token.InWhere;
        entry->FCanForceIsNull = token.CanForceIsNull;
        entries.push_back(std::move(entry));
    }
    List.SetEntries(entries);
    List.GiveBack(old);
    for (int i = 0; i < List.Count(); ++i) {
        TFIBXSQLVAR& v = List.Vars(i);
        if (v.FIsMacro) FHaveMacros = true;
        if (!fresh[static_cast<size_t>(i)]) continue;
        v.ResetAsNew();
        if (v.FIsMacro) {
            v.SetAsString(v.FDefMacroValue);
            v.ClearModified();
        }
    }
}

bool TFIBQuery::NeedsAssembly() const {
    if (!FPrepared || FMacroChanged || FNeedForceIsNull) return true;
    if (!FHaveMacros && FOptions.Contains(qoNoForceIsNull)) return false;
    for (int i = 0; i < FUserSQLParams.Count(); ++i) {
        const TFIBXSQLVAR& v = FUserSQLParams.Vars(i);
        if (v.FIsMacro) {
            if (v.AsString() != v.FOldValue.value_or(std::string())) return true;
        } else if (v.FCanForceIsNull && v.FInWhereClause && !FOptions.Contains(qoNoForceIsNull)) {
            if (v.IsNull() != !v.FOldValue.has_value()) return true;
        }
    }
    return false;
}

void TFIBQuery::AssembleAndScanServerText(bool /*ForExecution*/) {
    const bool noForce = FOptions.Contains(qoNoForceIsNull);
    const bool mayForce = (FQueryRunState & qrsInExecute) || !(FQueryRunState & qrsInPrepare);
    // Without a macro to put in or a NULL to rewrite the server text is the caller's.
    bool changes = false;
    for (int i = 0; i < FUserSQLParams.Count() && !changes; ++i) {
        const TFIBXSQLVAR& v = FUserSQLParams.Vars(i);
        changes = v.FIsMacro || (!noForce && mayForce && v.FInWhereClause && v.FCanForceIsNull && v.IsNull());
    }
    std::vector<TAssemblyEntry> input;
    TAssemblyResult assembled;
    if (changes) {
        for (int i = 0; i < FUserSQLParams.Count(); ++i) {
            const TFIBXSQLVAR& v = FUserSQLParams.Vars(i);
            TAssemblyEntry e;
            e.IsMacro = v.FIsMacro;
            e.MacroQuoted = v.FMacroQuoted;
            if (v.FIsMacro) e.MacroValue = v.AsString();
            e.IsNull = v.IsNull();
            e.InWhere = v.FInWhereClause;
            e.CanForceIsNull = v.FCanForceIsNull;
            e.Begin = v.FBeginPosInText;
            e.End = v.FEndPosInText;
            input.push_back(std::move(e));
        }
        assembled = AssembleServerText(FJoinedText, input, FHaveMacros, noForce, mayForce);
    }
    const std::string& text = changes ? assembled.Text : FJoinedText;
    const TScanResult* scan = Scan(text, changes ? SQLKindOfText(text) : FSQLKind, TScanMode::Server);
    vDiffParams = changes && assembled.AnyReplaced();
    for (int i = 0; i < FUserSQLParams.Count(); ++i) {
        TFIBXSQLVAR& v = FUserSQLParams.Vars(i);
        const bool replaced =
            changes && i < static_cast<int>(assembled.Replaced.size()) && assembled.Replaced[static_cast<size_t>(i)];
        if (v.FIsMacro) v.FOldValue = input[static_cast<size_t>(i)].MacroValue;
        else if (v.FCanForceIsNull && v.FInWhereClause)
            v.FOldValue = replaced ? std::nullopt : std::optional<std::string>(std::string());
    }
    FProcessedSQL = scan ? scan->ProcessedText : text;
    static const std::vector<TSQLToken> kNoTokens;
    BuildList(FSQLParams, scan ? scan->Tokens : kNoTokens, TScanMode::Server);
    FCodePageApplied = false;
    UpdateEightBitText();
}

void TFIBQuery::UpdateEightBitText() {
    if (FCodePageApplied) return;
    const bool unicode = Database() && Database()->IsUnicodeConnect();
    FPreparedSQL = unicode ? FProcessedSQL : Utf8ToWin1250(FProcessedSQL);
    FCodePageApplied = true;
}

const std::string& TFIBQuery::PreparedSQL() {
    UpdateEightBitText();
    return FPreparedSQL;
}

// ---- names

TFIBXSQLVAR* TFIBQuery::Lookup(TFIBXSQLDA& List, const std::string& Name, bool CallerList) {
    if (TFIBXSQLVAR* v = List.ByName(Name)) return v;
    if (!CallerList) return nullptr;
    if (FMacroChanged) ApplyMacro();
    return FSQLParams.ByName(Name);
}

TFIBXSQLVAR* TFIBQuery::FindParam(const std::string& Name) { return Lookup(Params(), Name, true); }

TFIBXSQLVAR& TFIBQuery::ParamByName(const std::string& Name) {
    if (TFIBXSQLVAR* v = FindParam(Name)) return *v;
    if (StartsWithExecute(FJoinedText)) return FieldByName(Name);
    throw Exception(Format("Parameter \"%s\" does not exist in %s", Name.c_str(), NamePath().c_str()));
}

TFIBXSQLVAR* TFIBQuery::FindField(const std::string& Name) { return Lookup(FSQLRecord, Name, false); }

TFIBXSQLVAR& TFIBQuery::FieldByName(const std::string& Name) {
    if (TFIBXSQLVAR* v = FindField(Name)) return *v;
    RaiseClientError(fibeFieldNotFound, Name);
}

void TFIBQuery::NameColumns() {
    const bool unicode = Database() && Database()->IsUnicodeConnect();
    std::vector<std::string> names;
    int unnamed = 0;
    auto taken = [&names](const std::string& n) { return std::find(names.begin(), names.end(), n) != names.end(); };
    for (int i = 0; i < FSQLRecord.Count(); ++i) {
        TFIBXSQLVAR& column = FSQLRecord.Vars(i);
        XSQLVAR* var = column.Data();
        const std::string raw(var->aliasname, static_cast<size_t>(std::clamp<short>(var->aliasname_length, 0, 32)));
        const std::string alias = unicode ? raw : Win1250ToUtf8(raw);
        std::string name = alias.empty() ? "F_" + std::to_string(++unnamed) : alias;
        if (taken(name)) {
            for (int n = 1;; ++n) {
                const std::string number = std::to_string(n);
                std::string candidate = name + number;
                if (candidate.size() > 30)
                    candidate = name.substr(0, 32 - std::min<size_t>(number.size(), 32)) + number;
                if (!taken(candidate)) {
                    name = candidate;
                    break;
                }
            }
        }
        if (name != alias) {
            const std::string bytes = unicode ? name : Utf8ToWin1250(name);
            const size_t len = std::min<size_t>(bytes.size(), sizeof var->aliasname);
            std::copy_n(bytes.data(), len, var->aliasname);
            var->aliasname_length = static_cast<short>(len);
        }
        column.SetName(name);
        names.push_back(name);
    }
    FSQLRecord.IndexNames();
}

// ---- prepare

void TFIBQuery::Prepare() {
    FQueryRunState |= qrsInPrepare;
    TOnExit done{[this] { FQueryRunState &= ~qrsInPrepare; }};
    if (FOpen) Close();
    FBase.CheckDatabase();
    if (FOptions.Contains(qoStartTransaction) && Transaction() && !Transaction()->Active())
        Transaction()->StartTransaction();
    FBase.CheckTransaction();

    if (FParamsLookedFor && Params().Count() > 0) {
        if (NeedsAssembly()) {
            if (FHandle) FreeHandle();
            AssembleAndScanServerText(true);
            FMacroChanged = false;
            FNeedForceIsNull = false;
        }
    } else {
        UpdateEightBitText();
    }
    if (FPrepared) return;
    if (OnlyBlanks(FProcessedSQL)) RaiseClientError(fibeEmptyQuery, "Prepare");

    IIBClientLibrary& lib = ClientLibrary();
    // The same text on the same connection has the same type and parameters.
    FDescriptionKey.assign(1, static_cast<char>('0' + Dialect()));
    FDescriptionKey += FPreparedSQL;
    const TFIBDatabase::TStatementDescription* known = Database()->FindDescription(FDescriptionKey);
    FDescribedFromCache = known != nullptr;
    bool bindDescribed = false;
    try {
        Call(lib.isc_dsql_alloc_statement2(StatusVector(), Database()->HandlePtr(), &FHandle), true);
        FSQLRecord.SetCount(1);
        Call(lib.isc_dsql_prepare(StatusVector(), Transaction()->HandlePtr(), &FHandle, 0, FPreparedSQL.c_str(),
                                  static_cast<unsigned short>(Dialect()), FSQLRecord.ForDescribe()),
             true);
        if (known) {
            FSQLType = static_cast<TFIBSQLTypes>(known->SQLType);
        } else {
            const char item = isc_info_sql_stmt_type;
            char info[8] = {};
            Call(lib.isc_dsql_sql_info(StatusVector(), &FHandle, 1, &item, sizeof info, info), true);
            if (info[0] != isc_info_sql_stmt_type) RaiseClientError(fibeUnknownError);
            const short len = static_cast<short>(lib.isc_vax_integer(info + 1, 2));
            FSQLType = static_cast<TFIBSQLTypes>(lib.isc_vax_integer(info + 3, std::clamp<short>(len, 0, 4)));
        }
        if (FSQLType == SQLSelectForUpdate) {
            if (FCursorName.empty()) {
                std::random_device rd;
                std::mt19937 gen(rd());
                std::uniform_int_distribution<int> dist(0, std::numeric_limits<int>::max());
                while (FCursorName.size() < 10) FCursorName += std::to_string(dist(gen));
                FCursorName.resize(10);
            }
            Call(lib.isc_dsql_set_cursor_name(StatusVector(), &FHandle, FCursorName.c_str(), 0), true);
        }
        switch (FSQLType) {
        case SQLSelect:
        case SQLInsert:
        case SQLUpdate:
        case SQLDelete:
        case SQLExecProcedure:
        case SQLSelectForUpdate:
            bindDescribed = DescribeAfterPrepare(known);
            break;
        case SQLGetSegment:
        case SQLPutSegment:
        case SQLStartTransaction:
            FreeHandle();
            RaiseClientError(fibeNotPermitted);
        default:
            FSQLRecord.SetCount(0);
            break;
        }
        FPrepared = true;
        if (!known || bindDescribed) {
            TFIBDatabase::TStatementDescription& told = Database()->RememberDescription(FDescriptionKey);
            told.SQLType = FSQLType;
            if (bindDescribed) {
                const XSQLDA* da = FSQLParams.ForDescribe();
                told.BindDescribed = true;
                told.BindCount = da->sqld;
                told.BindVars.assign(da->sqlvar, da->sqlvar + std::clamp<int>(da->sqld, 0, da->sqln));
                for (XSQLVAR& v : told.BindVars) {
                    v.sqldata = nullptr;
                    v.sqlind = nullptr;
                }
            }
        }
    } catch (...) {
        if (FHandle) {
            ISC_STATUS quiet[ISC_STATUS_LENGTH];
            lib.isc_dsql_free_statement(quiet, &FHandle, DSQL_drop);
        }
        FHandle = 0;
        FPrepared = false;
        FSQLRecord.SetCount(0);
        throw;
    }
}

bool TFIBQuery::DescribeAfterPrepare(const TFIBDatabase::TStatementDescription* Known) {
    IIBClientLibrary& lib = ClientLibrary();
    TFIBXSQLDA& inUse = vDiffParams ? FSQLParams : FUserSQLParams;
    bool described = false;
    if (inUse.Count() > 0 && FSQLParams.Count() > 0) {
        XSQLDA* da = FSQLParams.ForDescribe();
        if (Known && Known->BindDescribed) {
            // What the describe said the last time, written as the describe writes it.
            da->sqld = Known->BindCount;
            const int n = std::min<int>(da->sqln, static_cast<int>(Known->BindVars.size()));
            for (int i = 0; i < n; ++i) {
                XSQLVAR& v = da->sqlvar[i];
                char* data = v.sqldata;
                short* indicator = v.sqlind;
                v = Known->BindVars[static_cast<size_t>(i)];
                v.sqldata = data;
                v.sqlind = indicator;
            }
        } else {
            Call(lib.isc_dsql_describe_bind(StatusVector(), &FHandle, static_cast<unsigned short>(Dialect()), da),
                 true);
            described = true;
        }
        for (int i = 0; i < FSQLParams.Count(); ++i) FSQLParams.Vars(i).AllocateForDescription(false);
        if (!vDiffParams) {
            const int n = std::min(FUserSQLParams.Count(), FSQLParams.Count());
            for (int i = 0; i < n; ++i) {
                TFIBXSQLVAR& caller = FUserSQLParams.Vars(i);
                const TFIBXSQLVAR& server = FSQLParams.Vars(i);
                if (caller.IsNull()) {
                    caller.AdoptTypeOf(server);
                } else if (!caller.IsBlob() && server.IsBlob()) {
                    // The value goes into a new blob at execute.
                    const std::string text = caller.AsString();
                    caller.RememberServerDescription(server.SQLType(), server.Scale(), server.SQLSubtype(),
                                                     server.Size());
                    caller.SetAsString(text);
                }
            }
        }
    }
    if (FSQLType == SQLSelect || FSQLType == SQLExecProcedure || FSQLType == SQLSelectForUpdate) {
        const int described = FSQLRecord.ForDescribe()->sqld;
        if (described > FSQLRecord.Count()) {
            FSQLRecord.SetCount(described);
            Call(lib.isc_dsql_describe(StatusVector(), &FHandle, static_cast<unsigned short>(Dialect()),
                                       FSQLRecord.ForDescribe()),
                 true);
        } else {
            FSQLRecord.SetCount(described);
        }
        NameColumns();
        for (int i = 0; i < FSQLRecord.Count(); ++i) FSQLRecord.Vars(i).AllocateForDescription(false);
    } else {
        FSQLRecord.SetCount(0);
    }
    return described;
}

// ---- execute

void TFIBQuery::SetResultNull() { FSQLRecord.SetRowFetched(false); }

void TFIBQuery::BeforeExecuteStep() {
    if (BeforeExecute) BeforeExecute(this);
    if (!Transaction()) RaiseClientError(fibeTransactionNotAssigned, NamePath());
    SetResultNull();
    StartTransactionIfAsked();
    Transaction()->DoOnSQLExec(this, 0, FSQLKind);
}

void TFIBQuery::AfterExecuteStep() {
    if (AfterExecute) AfterExecute(this);
    if (Transaction()) Transaction()->DoOnSQLExec(this, 1, FSQLKind);
    for (int i = 0; i < FUserSQLParams.Count(); ++i) FUserSQLParams.Vars(i).ClearModified();
    FMacroChanged = false;
    FNeedForceIsNull = false;
    for (TFIBXSQLDA* list : {&FUserSQLParams, &FSQLParams})
        for (int i = 0; i < list->Count(); ++i) list->Vars(i).ReleasePendingBlob();
    FHasBlobParams = false;
    if (FOptions.Contains(qoAutoCommit) && Transaction()) {
        if (Transaction()->TimeoutAction() == TACommitRetaining) Transaction()->CommitRetaining();
        else Transaction()->Commit();
    }
}

void TFIBQuery::WritePendingBlobs(TFIBXSQLDA& List) {
    for (int i = 0; i < List.Count(); ++i) List.Vars(i).WritePendingBlob();
}

XSQLDA* TFIBQuery::ChooseInput() {
    if (vDiffParams && FParamsLookedFor && FUserSQLParams.Count() > 0) {
        for (int i = 0; i < FUserSQLParams.Count(); ++i) {
            TFIBXSQLVAR& caller = FUserSQLParams.Vars(i);
            if (caller.FIsMacro) continue;
            const std::string key = caller.FQuoted ? "\"" + caller.Name() + "\"" : caller.Name();
            if (TFIBXSQLVAR* server = FSQLParams.ByName(key)) caller.CopyValueTo(*server);
        }
        WritePendingBlobs(FSQLParams);
        return FSQLParams.AsXSQLDA();
    }
    if (FUserSQLParams.HasDeferredSettings()) {
        for (int i = 0; i < FUserSQLParams.Count(); ++i) FUserSQLParams.Vars(i).CompleteDeferred();
        FUserSQLParams.SetHasDeferredSettings(false);
        WritePendingBlobs(FUserSQLParams);
    }
    return FUserSQLParams.AsXSQLDA();
}

void TFIBQuery::ExecQuery() {
    FQueryRunState |= qrsInExecute;
    TOnExit done{[this] { FQueryRunState &= ~qrsInExecute; }};
    // Every execute (a retry after a failure too) writes its pending blobs anew, once.
    for (TFIBXSQLDA* list : {&FUserSQLParams, &FSQLParams})
        for (int i = 0; i < list->Count(); ++i) list->Vars(i).MarkPendingBlobUnwritten();
    if (FSQLKind == skDDL) {
        ExecuteImmediate();
        return;
    }
    BeforeExecuteStep();
    TFIBXSQLDA& params = Params();
    if ((FParamsLookedFor && params.Count() > 0) || !FPrepared) Prepare();
    WritePendingBlobs(FUserSQLParams);
    XSQLDA* input = ChooseInput();

    IIBClientLibrary& lib = ClientLibrary();
    const uint64_t started = SystemClock().TickCount();
    TOnExit timed{[this, started] { FCallTime = SystemClock().TickCount() - started; }};
    // A text whose execute fails is described anew at its next prepare, in
    // case what was said of it no longer holds.
    bool executed = false;
    TOnExit forget{[this, &executed] {
        if (!executed && FDescribedFromCache && Database()) Database()->ForgetDescription(FDescriptionKey);
    }};
    switch (FSQLType) {
    case SQLSelect:
    case SQLSelectForUpdate:
        if (FOpen) Close();
        Call(lib.isc_dsql_execute(StatusVector(), Transaction()->HandlePtr(), &FHandle,
                                  static_cast<unsigned short>(Dialect()), input),
             true);
        FOpen = true;
        FBOF = true;
        FEOF = false;
        FRecordCount = 0;
        SetResultNull();
        if (FGoToFirstRecordOnExecute) Next();
        break;
    case SQLExecProcedure:
        Call(lib.isc_dsql_execute2(StatusVector(), Transaction()->HandlePtr(), &FHandle,
                                   static_cast<unsigned short>(Dialect()), input, FSQLRecord.AsXSQLDA()),
             true);
        FProcExecuted = true;
        break;
    case SQLCommit:
        Transaction()->Commit();
        break;
    case SQLRollback:
        Transaction()->Rollback();
        break;
    default:
        Call(lib.isc_dsql_execute(StatusVector(), Transaction()->HandlePtr(), &FHandle,
                                  static_cast<unsigned short>(Dialect()), input),
             true);
        // A changed table or procedure may change what other texts take.
        if (FSQLType == SQLDDL) Database()->ForgetDescriptions();
        break;
    }
    executed = true;
    if (FParamsLookedFor && params.Count() > 0 && FHaveMacros)
        for (int i = 0; i < params.Count(); ++i)
            if (params.Vars(i).FIsMacro) params.Vars(i).FOldValue = params.Vars(i).AsString();
    AfterExecuteStep();
    if (!FOpen && FOptions.Contains(qoFreeHandleAfterExecute)) FreeHandle();
}

void TFIBQuery::ExecuteImmediate() {
    BeforeExecuteStep();
    FBase.CheckDatabase();
    if (FProcessedSQL.empty() || FMacroChanged) {
        FCodePageApplied = false;
        AssembleAndScanServerText(true);
    } else {
        UpdateEightBitText();
    }
    WritePendingBlobs(FUserSQLParams);
    XSQLDA* input = ChooseInput();
    FreeHandle();
    IIBClientLibrary& lib = ClientLibrary();
    Call(lib.isc_dsql_execute_immediate(StatusVector(), Database()->HandlePtr(), Transaction()->HandlePtr(), 0,
                                        FPreparedSQL.c_str(), static_cast<unsigned short>(Dialect()), input),
         true);
    // What runs here is mostly DDL, which may change what other texts take.
    Database()->ForgetDescriptions();
    AfterExecuteStep();
}

// ---- fetch, close, free

TFIBXSQLDA* TFIBQuery::Next() {
    if (FEOF) return nullptr;
    if (!FOpen) RaiseClientError(fibeDatasetClosed, "fetch next record", NamePath());
    if (OnSQLFetch) {
        bool stop = false;
        OnSQLFetch(this, FRecordCount, stop);
        if (stop && !InLoading()) return nullptr;
    }
    const ISC_STATUS status =
        Call(ClientLibrary().isc_dsql_fetch(StatusVector(), &FHandle, static_cast<unsigned short>(Dialect()),
                                            FSQLRecord.AsXSQLDA()),
             false);
    if (status == 0) {
        ++FRecordCount;
        FBOF = false;
        FSQLRecord.SetRowFetched(true);
        return &FSQLRecord;
    }
    if (status == 100 || StatusHolds(isc_dsql_cursor_err)) {
        FEOF = true;
        return nullptr;
    }
    const std::vector<ISC_STATUS> saved(StatusVector(), StatusVector() + ISC_STATUS_LENGTH);
    try {
        Close();
    } catch (...) {
        // The fetch's own error is the one to report.
    }
    std::copy(saved.begin(), saved.end(), StatusVector());
    RaiseFromStatus();
    return nullptr;
}

bool TFIBQuery::Eof() {
    if (FEOF && FOpen && FOptions.Contains(qoFreeHandleAfterExecute)) FreeHandle();
    return FEOF || !FOpen;
}

void TFIBQuery::Close() {
    bool failed = false;
    if (FHandle && FOpen && (FSQLType == SQLSelect || FSQLType == SQLSelectForUpdate)) {
        const ISC_STATUS status =
            Call(ClientLibrary().isc_dsql_free_statement(StatusVector(), &FHandle, DSQL_close), false);
        failed = status > 0 && !StatusHolds(isc_bad_stmt_handle) && !StatusHolds(isc_dsql_cursor_close_err);
    }
    FEOF = FBOF = FOpen = FProcExecuted = false;
    if (failed) RaiseFromStatus();
    if (FOptions.Contains(qoFreeHandleAfterExecute)) FreeHandle();
}

void TFIBQuery::FreeHandle() {
    FSQLRecord.SetCount(0);
    bool failed = false;
    if (FHandle) {
        const ISC_STATUS status =
            Call(ClientLibrary().isc_dsql_free_statement(StatusVector(), &FHandle, DSQL_drop), false);
        failed = status > 0 && !StatusHolds(isc_bad_stmt_handle);
        FEOF = true;
    }
    // A dropped statement has no cursor left either.
    FPrepared = false;
    FHandle = 0;
    FOpen = false;
    if (failed) RaiseFromStatus();
}

void TFIBQuery::ApplyMacro() {
    Close();
    FreeHandle();
    AssembleAndScanServerText(false);
    FMacroChanged = false;
    FNeedForceIsNull = false;
}

void TFIBQuery::RestoreMacroDefaultValues() {
    for (int i = 0; i < FUserSQLParams.Count(); ++i) {
        TFIBXSQLVAR& v = FUserSQLParams.Vars(i);
        if (v.FIsMacro) v.SetAsString(v.FDefMacroValue);
    }
}

// ---- notifications

void TFIBQuery::OnTransactionEnding(TFIBTransaction* Transaction) {
    if (TransactionEnding) TransactionEnding(this, Transaction);
    const TTransactionState state = Transaction->State();
    if (FAutoCloseOnTransactionEnd && FOpen && (state == tsDoRollback || state == tsDoCommit)) Close();
}

void TFIBQuery::OnTransactionEnded(TFIBTransaction* Transaction) {
    if (TransactionEnded) TransactionEnded(this, Transaction);
}

void TFIBQuery::OnDatabaseDisconnecting() {
    if (!FHandle) return;
    // The detach that follows releases the handle on the server in any case; a
    // refusal here (an attachment already lost) must not keep the connection open.
    try {
        Close();
    } catch (const EFIBError&) {
    }
    try {
        FreeHandle();
    } catch (const EFIBError&) {
    }
}

// ---------------------------------------------------------------- TpFIBQuery

void TpFIBQuery::ExecQuery() {
    for (;;) {
        try {
            TFIBQuery::ExecQuery();
            return;
        } catch (const EFIBError& e) {
            if (!OnExecuteError) throw;
            TDataAction action = daFail;
            OnExecuteError(this, e, action);
            if (action == daFail) throw;
            if (action == daAbort) throw EAbort();
        }
    }
}

} // namespace ostrakel
