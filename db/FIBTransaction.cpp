#include "db/FIBTransaction.h"

#include "db/ClientLibrary.h"
#include "db/FIBErrors.h"
#include "platform/Exception.h"
#include "platform/TimerService.h"

#include <algorithm>

namespace ostrakel {

namespace {

// One database entry of isc_start_multiple, laid out as the client library reads it.
struct TTransactionStartEntry {
    isc_db_handle* Database;
    int TPBLength;
    const char* TPB;
};


template <class List, class... Args> void CallBackwards(const List& list, Args&&... args) {
    const auto copy = list;
    for (auto it = copy.rbegin(); it != copy.rend(); ++it)
        if (it->second) it->second(args...);
}

template <class List, class... Args> void CallForwards(const List& list, Args&&... args) {
    const auto copy = list;
    for (const auto& entry : copy)
        if (entry.second) entry.second(args...);
}

} // namespace

TTransactionAction NonRetaining(TTransactionAction Action) {
    switch (Action) {
    case TACommitRetaining:
        return TACommit;
    case TARollbackRetaining:
        return TARollback;
    default:
        return Action;
    }
}

TFIBTransaction::TFIBTransaction(TComponent* AOwner) : TComponent(AOwner) {
    FTRParams.SetOnChanging([this] { CheckNotInTransaction(); });
    FTRParams.SetOnChange([this] { FTRParamsChanged = true; });
}

TFIBTransaction::~TFIBTransaction() {
    try {
        if (Active()) EndForGood();
    } catch (...) {
        // Only handlers can fail a forced end; the handle goes all the same.
    }
    AbandonHandle();
    FTimer.reset();
    for (auto it = FOnDestroy.rbegin(); it != FOnDestroy.rend(); ++it) {
        try {
            if (it->second) it->second(this);
        } catch (...) {
        }
    }
    while (!FFIBBases.empty()) {
        TFIBBase* link = FFIBBases.back();
        try {
            if (link->OnTransactionFree) link->OnTransactionFree(link);
        } catch (...) {
        }
        link->SetTransaction(nullptr);
    }
    while (!FDatabases.empty())
        RemoveDatabase(static_cast<int>(FDatabases.size()) - 1);
    FDefaultDatabase = nullptr;
}

void TFIBTransaction::EndForGood() {
    EndTransaction(NonRetaining(FTimeoutAction), true);
}

void TFIBTransaction::AbandonHandle() {
    if (!FHandle) return;
    if (!FHandleIsShared) {
        if (TFIBDatabase* db = MainDatabase(); db && db->FClientLibrary) {
            // A status vector of its own keeps the thread's last error readable.
            ISC_STATUS_ARRAY ignored = {};
            db->FClientLibrary->isc_rollback_transaction(ignored, &FHandle);
        }
    }
    FHandle = 0;
    FHandleIsShared = false;
    FState = tsClosed;
    if (FTimer) FTimer->SetEnabled(false);
    FTransactionID = 0;
}

// ---- properties ----

void TFIBTransaction::SetActive(bool Value) {
    if (IsLoading()) {
        FStreamedActive = Value;
        return;
    }
    if (Value == Active()) return;
    if (Value)
        StartTransaction();
    else
        Rollback();
}

void TFIBTransaction::Loaded() {
    TComponent::Loaded();
    if (FStreamedActive && !Active()) {
        FStreamedActive = false;
        StartTransaction();
    }
}

void TFIBTransaction::Notification(TComponent* AComponent) {
    TComponent::Notification(AComponent);
    if (AComponent == FDefaultDatabase) FDefaultDatabase = nullptr;
}

void TFIBTransaction::SetDefaultDatabase(TFIBDatabase* Value) {
    if (Value == FDefaultDatabase) return;
    CheckNotInTransaction();
    if (Value && FindDatabase(Value) < 0) {
        if (FDefaultDatabase && FindDatabase(FDefaultDatabase) >= 0)
            ReplaceDatabase(FDefaultDatabase, Value);
        else
            AddDatabase(Value);
    }
    FDefaultDatabase = Value;
    if (Value) FreeNotification(Value);
}

void TFIBTransaction::SetTimeout(uint32_t Value) {
    FTimeout = Value;
    if (Value == 0) {
        FTimer.reset();
        return;
    }
    if (!FTimer) {
        FTimer = DefaultTimerService().CreateTimer();
        FTimer->SetEnabled(false);
        FTimer->SetOnTimer([this] { OnTimer(); });
    }
    FTimer->SetInterval(Value);
    if (Active()) FTimer->SetEnabled(true);
}

void TFIBTransaction::SetMDTTransactionRole(TMDTTransactionRole Value) {
    if (Value == FMDTTransactionRole) return;
    CheckNotInTransaction();
    FMDTTransactionRole = Value;
}

void TFIBTransaction::AdoptHandle(isc_tr_handle Value) {
    CheckNotInTransaction();
    FHandle = Value;
    FHandleIsShared = Value != 0;
    if (Value) {
        FState = tsActive;
        FCanTimeout = false;
        if (FTimer && FTimer->Interval() > 0) FTimer->SetEnabled(true);
    }
}

// ---- connections ----

int TFIBTransaction::FindDatabase(const TFIBDatabase* Database) const {
    if (!Database) return -1;
    for (size_t i = 0; i < FDatabases.size(); ++i)
        if (FDatabases[i].Database == Database) return static_cast<int>(i);
    return -1;
}

int TFIBTransaction::AddDatabase(TFIBDatabase* Database) {
    if (!Database) return -1;
    if (const int existing = FindDatabase(Database); existing >= 0) return existing;
    if (!FDatabases.empty() && Database->LibraryName() != FDatabases.front().Database->LibraryName()) {
        if (IsLoading()) return -1;
        throw Exception(
            Format("%s.\r\nTransaction can't work with different client library.", NamePath().c_str()));
    }
    Database->AddTransaction(this);
    FDatabases.push_back({Database, std::nullopt, std::nullopt});
    return static_cast<int>(FDatabases.size()) - 1;
}

int TFIBTransaction::AddDatabase(TFIBDatabase* Database, const std::string& aTRParams) {
    if (const int existing = FindDatabase(Database); existing >= 0) return existing;
    const int index = AddDatabase(Database);
    if (index >= 0) {
        FDatabases[static_cast<size_t>(index)].OwnParams = aTRParams;
        FDatabases[static_cast<size_t>(index)].OwnTPB.reset();
    }
    return index;
}

void TFIBTransaction::RemoveDatabase(int Index) {
    if (Index < 0 || Index >= static_cast<int>(FDatabases.size())) return;
    TFIBDatabase* db = FDatabases[static_cast<size_t>(Index)].Database;
    FDatabases.erase(FDatabases.begin() + Index);
    if (!db) return;
    db->RemoveTransaction(db->FindTransaction(this));
    if (FDefaultDatabase == db) FDefaultDatabase = nullptr;
}

void TFIBTransaction::ReplaceDatabase(TFIBDatabase* OldDatabase, TFIBDatabase* NewDatabase) {
    const int index = FindDatabase(OldDatabase);
    if (index < 0 || OldDatabase == NewDatabase) return;
    if (!NewDatabase || FindDatabase(NewDatabase) >= 0) {
        RemoveDatabase(index);
        return;
    }
    OldDatabase->RemoveTransaction(OldDatabase->FindTransaction(this));
    NewDatabase->AddTransaction(this);
    FDatabases[static_cast<size_t>(index)] = {NewDatabase, std::nullopt, std::nullopt};
    if (FDefaultDatabase == OldDatabase) FDefaultDatabase = NewDatabase;
}

TFIBDatabase* TFIBTransaction::MainDatabase() const {
    if (FDefaultDatabase) return FDefaultDatabase;
    return FDatabases.empty() ? nullptr : FDatabases.front().Database;
}

// ---- checks and calls ----

void TFIBTransaction::CheckInTransaction() {
    if (Active()) return;
    const bool allReconnect = std::all_of(FDatabases.begin(), FDatabases.end(),
                                          [](const TTRDatabase& e) { return e.Database->AutoReconnect(); });
    if (!allReconnect) RaiseClientError(fibeNotInTransaction, NamePath());
    StartTransaction();
}

void TFIBTransaction::CheckNotInTransaction() const {
    if (Active()) RaiseClientError(fibeInTransaction, NamePath());
}

void TFIBTransaction::RaiseFromStatus() {
    TFIBDatabase* db = MainDatabase();
    if (db)
        RaiseStatusError(db->ClientLibrary(), this);
    else
        RaiseStatusError(*GetClientLibrary(kDefaultLibraryName), this);
}

ISC_STATUS TFIBTransaction::Call(ISC_STATUS ErrCode, bool RaiseError) {
    FCanTimeout = false;
    for (const TTRDatabase& e : FDatabases)
        if (e.Database) e.Database->Call(ErrCode, false);
    if (RaiseError && ErrCode > 0) RaiseFromStatus();
    return ErrCode;
}

bool TFIBTransaction::IsReadCommitedTransaction() const {
    return FTRParams.IndexOfIgnoreCase("read_committed") >= 0 ||
           FTRParams.IndexOfIgnoreCase("isc_tpb_read_committed") >= 0;
}

bool TFIBTransaction::IsReadOnly() const {
    return FTRParams.IndexOfIgnoreCase("read") >= 0 || FTRParams.IndexOfIgnoreCase("isc_tpb_read") >= 0;
}

// ---- start and end ----

void TFIBTransaction::StartTransaction() {
    CheckNotInTransaction();
    if (FDatabases.empty()) RaiseClientError(fibeNoDatabasesInTransaction, NamePath());
    for (size_t i = 0; i < FDatabases.size(); ++i) {
        TFIBDatabase* db = FDatabases[i].Database;
        db->CheckActive(true);
        if (!db->Connected()) return;
    }
    if (FTRParamsChanged) {
        FTPB = BuildTPB(FTRParams);
        FTRParamsChanged = false;
    }

    std::vector<TTransactionStartEntry> entries;
    entries.reserve(FDatabases.size());
    for (TTRDatabase& e : FDatabases) {
        const TParamBlock* tpb = &FTPB;
        if (e.OwnParams) {
            if (!e.OwnTPB) {
                std::vector<std::string> lines = SplitLines(*e.OwnParams);
                e.OwnTPB = BuildTPB(lines);
            }
            if (!e.OwnTPB->empty()) tpb = &*e.OwnTPB;
        }
        entries.push_back({e.Database->HandlePtr(), static_cast<int>(tpb->size()), tpb->data()});
    }

    NotifyLinks(&TFIBBase::OnTransactionStarting);

    if (!Active()) {
        CallBackwards(FBeforeStart, this);
        IIBClientLibrary& lib = MainDatabase()->ClientLibrary();
        const ISC_STATUS status =
            Call(lib.isc_start_multiple(StatusVector(), &FHandle, static_cast<short>(entries.size()),
                                        entries.data()),
                 false);
        if (status > 0) {
            FHandle = 0;
            RaiseFromStatus();
            return;
        }
        FHandleIsShared = false;
        CallBackwards(FAfterStart, this);
    }

    NotifyLinks(&TFIBBase::OnTransactionStarted);

    FState = tsActive;
    if (FTimer && FTimer->Interval() > 0) FTimer->SetEnabled(true);
}

void TFIBTransaction::NotifyLinks(TFIBBase::TLinkTransactionEvent TFIBBase::*Handler) {
    // Told from a copy of the list: a handler may take a link away, and a link
    // that has gone is not told.
    constexpr size_t kOnStack = 16;
    TFIBBase* onStack[kOnStack];
    std::vector<TFIBBase*> onHeap;
    TFIBBase** links = onStack;
    const size_t n = FFIBBases.size();
    if (n > kOnStack) {
        onHeap = FFIBBases;
        links = onHeap.data();
    } else {
        std::copy(FFIBBases.begin(), FFIBBases.end(), onStack);
    }
    for (size_t i = 0; i < n; ++i)
        if (Linked(links[i]) && links[i]->*Handler) (links[i]->*Handler)(this);
}

void TFIBTransaction::EndingNotifications(TTransactionAction Action, bool Force) {
    for (int i = static_cast<int>(FFIBBases.size()) - 1; i >= 0; --i) {
        if (i >= static_cast<int>(FFIBBases.size())) continue;
        TFIBBase* link = FFIBBases[static_cast<size_t>(i)];
        if (link->OnTransactionEnding) link->OnTransactionEnding(this);
    }
    CallForwards(FBeforeEnd, this, Action, Force);
}

void TFIBTransaction::EndedNotifications(TTransactionAction Action, bool Force) {
    for (int i = static_cast<int>(FFIBBases.size()) - 1; i >= 0; --i) {
        if (i >= static_cast<int>(FFIBBases.size())) continue;
        TFIBBase* link = FFIBBases[static_cast<size_t>(i)];
        if (link->OnTransactionEnded) link->OnTransactionEnded(this);
    }
    CallForwards(FAfterEnd, this, Action, Force);
}

void TFIBTransaction::EndTransaction(TTransactionAction Action, bool Force) {
    CheckInTransaction();
    TFIBDatabase* db = MainDatabase();
    IIBClientLibrary& lib = db ? db->ClientLibrary() : *GetClientLibrary(kDefaultLibraryName);

    switch (Action) {
    case TARollbackRetaining:
    case TACommitRetaining: {
        FState = Action == TACommitRetaining ? tsDoCommitRetaining : tsDoRollbackRetaining;
        EndingNotifications(Action, Force);
        if (Action == TACommitRetaining)
            Call(lib.isc_commit_retaining(StatusVector(), &FHandle), true);
        else
            Call(lib.isc_rollback_retaining(StatusVector(), &FHandle), true);
        EndedNotifications(Action, Force);
        break;
    }
    case TARollback:
    case TACommit: {
        if (FHandleIsShared && Action != FTimeoutAction && !Force)
            RaiseClientError(fibeCantEndSharedTransaction);
        FState = Action == TACommit ? tsDoCommit : tsDoRollback;
        EndingNotifications(Action, Force);
        if (FHandleIsShared) {
            // Someone else owns the work of an adopted handle; we only let go of it.
            FHandle = 0;
            FHandleIsShared = false;
        } else {
            ISC_STATUS status = Action == TACommit ? lib.isc_commit_transaction(StatusVector(), &FHandle)
                                                   : lib.isc_rollback_transaction(StatusVector(), &FHandle);
            Call(status, false);
            if (Force && status > 0) Call(lib.isc_rollback_transaction(StatusVector(), &FHandle), false);
            if (Force) {
                FHandle = 0;
            } else if (status > 0) {
                // The handle stays: the transaction is still active and can be rolled back later.
                RaiseFromStatus();
                return;
            }
        }
        EndedNotifications(Action, Force);
        break;
    }
    }

    if (Active()) {
        FState = tsActive;
    } else {
        FState = tsClosed;
        if (FTimer) FTimer->SetEnabled(false);
    }
    FTransactionID = 0;
}

void TFIBTransaction::OnTimer() {
    if (!Active()) return;
    if (!FCanTimeout) {
        FCanTimeout = true;
        return;
    }
    // A timer tick has no caller to hand an error to; a forced end cannot fail
    // on the server's account, only in the handlers.
    try {
        EndTransaction(FTimeoutAction, true);
        if (OnTimeout) OnTimeout(this);
    } catch (...) {
    }
}

// ---- links and notification lists ----

// A link may leave while it is told (a removal reorders the list): the start
// notices go over a copy of the list, to the links that are still in it.
bool TFIBTransaction::Linked(const TFIBBase* Link) const {
    return std::find(FFIBBases.begin(), FFIBBases.end(), Link) != FFIBBases.end();
}

int TFIBTransaction::AddFIBBase(TFIBBase* Link) {
    FFIBBases.push_back(Link);
    return static_cast<int>(FFIBBases.size()) - 1;
}

void TFIBTransaction::RemoveFIBBase(int Index) {
    if (Index < 0 || Index >= static_cast<int>(FFIBBases.size())) return;
    TFIBBase* last = FFIBBases.back();
    FFIBBases[static_cast<size_t>(Index)] = last;
    last->FIndexInTransaction = Index;
    FFIBBases.pop_back();
}

void TFIBTransaction::AddEvent(const void* Key, TTransactionEventType Kind, TTransactionEvent Event) {
    switch (Kind) {
    case tetBeforeStartTransaction:
        FBeforeStart.emplace_back(Key, std::move(Event));
        break;
    case tetAfterStartTransaction:
        FAfterStart.emplace_back(Key, std::move(Event));
        break;
    case tetBeforeDestroy:
        FOnDestroy.emplace_back(Key, std::move(Event));
        break;
    default:
        break;
    }
}

void TFIBTransaction::RemoveEvent(const void* Key, TTransactionEventType Kind) {
    auto byKey = [Key](const auto& entry) { return entry.first == Key; };
    switch (Kind) {
    case tetBeforeStartTransaction:
        std::erase_if(FBeforeStart, byKey);
        break;
    case tetAfterStartTransaction:
        std::erase_if(FAfterStart, byKey);
        break;
    case tetBeforeDestroy:
        std::erase_if(FOnDestroy, byKey);
        break;
    default:
        break;
    }
}

void TFIBTransaction::AddEndEvent(const void* Key, TTransactionEventType Kind, TEndTransactionEvent Event) {
    if (Kind == tetBeforeEndTransaction)
        FBeforeEnd.emplace_back(Key, std::move(Event));
    else if (Kind == tetAfterEndTransaction)
        FAfterEnd.emplace_back(Key, std::move(Event));
}

void TFIBTransaction::RemoveEndEvent(const void* Key, TTransactionEventType Kind) {
    auto byKey = [Key](const auto& entry) { return entry.first == Key; };
    if (Kind == tetBeforeEndTransaction)
        std::erase_if(FBeforeEnd, byKey);
    else if (Kind == tetAfterEndTransaction)
        std::erase_if(FAfterEnd, byKey);
}

// ---- TpFIBTransaction ----

TpFIBTransaction::~TpFIBTransaction() {
    // Ended here, while this object's own handlers still exist.
    try {
        if (Active()) EndForGood();
    } catch (...) {
    }
}

void TpFIBTransaction::StartTransaction() {
    if (Active()) return;
    static const std::vector<std::string> kReadCommitted = {"write", "isc_tpb_nowait", "read_committed",
                                                            "rec_version"};
    static const std::vector<std::string> kRepeatableRead = {"write", "isc_tpb_nowait", "concurrency"};
    // Lines already in place keep the parameter block built from them.
    const std::vector<std::string>* mode = FTPBMode == tpbReadCommitted    ? &kReadCommitted
                                           : FTPBMode == tpbRepeatableRead ? &kRepeatableRead
                                                                           : nullptr;
    if (mode && TRParams().Lines() != *mode) SetTRParams(*mode);
    if (auto* db = dynamic_cast<TpFIBDatabase*>(DefaultDatabase()); db && db->BeforeStartTransaction)
        db->BeforeStartTransaction(this);
    if (BeforeStart) BeforeStart(this);
    TFIBTransaction::StartTransaction();
    if (AfterStart) AfterStart(this);
    if (auto* db = dynamic_cast<TpFIBDatabase*>(DefaultDatabase()); db && db->AfterStartTransaction)
        db->AfterStartTransaction(this);
}

void TpFIBTransaction::EndTransaction(TTransactionAction Action, bool Force) {
    if (auto* db = dynamic_cast<TpFIBDatabase*>(DefaultDatabase()); db && db->BeforeEndTransaction)
        db->BeforeEndTransaction(this, Action, Force);
    if (BeforeEnd) BeforeEnd(this, Action, Force);
    TFIBTransaction::EndTransaction(Action, Force);
    if (AfterEnd) AfterEnd(this, Action, Force);
    if (auto* db = dynamic_cast<TpFIBDatabase*>(DefaultDatabase()); db && db->AfterEndTransaction)
        db->AfterEndTransaction(this, Action, Force);
}

void TpFIBTransaction::DoOnSQLExec(TComponent* Query, int Kind, int StatementKind) {
    if (Kind == 0 && BeforeSQLExecute)
        BeforeSQLExecute(Query, StatementKind);
    else if (Kind == 1 && AfterSQLExecute)
        AfterSQLExecute(Query, StatementKind);
}

} // namespace ostrakel
