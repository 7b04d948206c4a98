// The transaction (TFIBTransaction, TpFIBTransaction): one Firebird transaction
// handle over one or more connections, its ends, its timeout and its notifications.
#pragma once

#include "db/FIBDatabase.h"
#include "db/ParamBlocks.h"
#include "platform/Component.h"

#include <ibase.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ostrakel {

class ITimer;

// How a transaction ends; the retaining forms keep the same handle open.
enum TTransactionAction : int {
    TARollback = 0,
    TARollbackRetaining = 1,
    TACommit = 2,
    TACommitRetaining = 3
};

// tsActive after a start or a retaining end, tsClosed after a non-retaining
// end; a "Do" state while the end is under way, so links can tell which.
enum TTransactionState {
    tsActive = 0,
    tsClosed = 1,
    tsDoRollback = 2,
    tsDoRollbackRetaining = 3,
    tsDoCommit = 4,
    tsDoCommitRetaining = 5
};

// Role under an external multi-database coordinator; kept, without effect.
enum TMDTTransactionRole { mtrNone, mtrSeparateTransaction, mtrAutoDefine };

// Lines a TpFIBTransaction puts into TRParams before every start.
enum TTPBMode { tpbDefault, tpbReadCommitted, tpbRepeatableRead };

enum TTransactionEventType {
    tetBeforeStartTransaction,
    tetAfterStartTransaction,
    tetBeforeEndTransaction,
    tetAfterEndTransaction,
    tetBeforeDestroy
};

// A timeout, destruction or a closing connection ends a transaction for good:
// the retaining actions become their plain forms.
TTransactionAction NonRetaining(TTransactionAction Action);

class TFIBTransaction : public TComponent {
public:
    explicit TFIBTransaction(TComponent* AOwner = nullptr);
    ~TFIBTransaction() override;

    // ---- properties ----
    bool Active() const { return FHandle != 0; }
    // true starts, false rolls back (whatever TimeoutAction says).
    void SetActive(bool Value);
    TFIBDatabase* DefaultDatabase() const { return FDefaultDatabase; }
    void SetDefaultDatabase(TFIBDatabase* Value);
    TParamLines& TRParams() { return FTRParams; }
    const TParamLines& TRParams() const { return FTRParams; }
    void SetTRParams(std::vector<std::string> Lines) { FTRParams.Assign(std::move(Lines)); }
    uint32_t Timeout() const { return FTimeout; }
    void SetTimeout(uint32_t Value);
    TTransactionAction TimeoutAction() const { return FTimeoutAction; }
    void SetTimeoutAction(TTransactionAction Value) { FTimeoutAction = Value; }
    TMDTTransactionRole MDTTransactionRole() const { return FMDTTransactionRole; }
    void SetMDTTransactionRole(TMDTTransactionRole Value);
    TTransactionState State() const { return FState; }
    // Called after a timeout has ended the transaction.
    std::function<void(TFIBTransaction*)> OnTimeout;

    // The handle, and adopting one started elsewhere: it is never committed or
    // rolled back by this object, only dropped on a non-retaining end.
    isc_tr_handle Handle() const { return FHandle; }
    isc_tr_handle* HandlePtr() { return &FHandle; }
    void AdoptHandle(isc_tr_handle Value);
    bool HandleIsShared() const { return FHandleIsShared; }

    // ---- operations ----
    virtual void EndTransaction(TTransactionAction Action, bool Force);
    // Kind 0 before, 1 after a statement of StatementKind runs.
    virtual void DoOnSQLExec(TComponent* /*Query*/, int /*Kind*/, int /*StatementKind*/) {}
    virtual void StartTransaction();
    virtual void Commit() { EndTransaction(TACommit, false); }
    virtual void CommitRetaining() { EndTransaction(TACommitRetaining, false); }
    virtual void Rollback() { EndTransaction(TARollback, false); }
    virtual void RollbackRetaining() { EndTransaction(TARollbackRetaining, false); }

    int AddDatabase(TFIBDatabase* Database);
    int AddDatabase(TFIBDatabase* Database, const std::string& aTRParams);
    void RemoveDatabase(int Index);
    void ReplaceDatabase(TFIBDatabase* OldDatabase, TFIBDatabase* NewDatabase);
    int FindDatabase(const TFIBDatabase* Database) const;
    TFIBDatabase* MainDatabase() const;
    int DatabaseCount() const { return static_cast<int>(FDatabases.size()); }
    TFIBDatabase* Databases(int Index) const { return FDatabases.at(static_cast<size_t>(Index)).Database; }

    void CheckInTransaction();
    void CheckNotInTransaction() const;
    // Every client status of this transaction passes here: it keeps the
    // timeout and the connections' idle timers alive and raises when asked.
    ISC_STATUS Call(ISC_STATUS ErrCode, bool RaiseError);

    bool IsReadCommitedTransaction() const;
    bool IsReadOnly() const;
    // The block the last start used (built from TRParams).
    const TParamBlock& TPB() const { return FTPB; }

    int FIBBaseCount() const { return static_cast<int>(FFIBBases.size()); }
    TFIBBase* FIBBases(int Index) const { return FFIBBases.at(static_cast<size_t>(Index)); }

    using TTransactionEvent = std::function<void(TFIBTransaction*)>;
    using TEndTransactionEvent = std::function<void(TFIBTransaction*, TTransactionAction, bool Force)>;
    // Start and destroy notifications (tetBeforeStartTransaction, tetAfterStartTransaction,
    // tetBeforeDestroy).
    void AddEvent(const void* Key, TTransactionEventType Kind, TTransactionEvent Event);
    void RemoveEvent(const void* Key, TTransactionEventType Kind);
    // End notifications (tetBeforeEndTransaction, tetAfterEndTransaction).
    void AddEndEvent(const void* Key, TTransactionEventType Kind, TEndTransactionEvent Event);
    void RemoveEndEvent(const void* Key, TTransactionEventType Kind);

protected:
    void Loaded() override;
    void Notification(TComponent* AComponent) override;
    // The end that destruction and a closing connection make.
    void EndForGood();
    // The last resort when a handler refused a forced end: the work is rolled
    // back and the handle let go without telling anyone, so no live
    // transaction outlasts its object or blocks its connection's detach.
    void AbandonHandle();

private:
    friend class TFIBDatabase;
    friend class TFIBBase;

    struct TTRDatabase {
        TFIBDatabase* Database = nullptr;
        std::optional<std::string> OwnParams; // UTF-8 lines, one per line break
        std::optional<TParamBlock> OwnTPB;
    };

    int AddFIBBase(TFIBBase* Link);
    void RemoveFIBBase(int Index);
    bool Linked(const TFIBBase* Link) const;
    // The connection forgets this transaction (it is being removed from it).
    void ForgetDatabase(TFIBDatabase* Database);
    void NotifyLinks(TFIBBase::TLinkTransactionEvent TFIBBase::*Handler);
    void EndingNotifications(TTransactionAction Action, bool Force);
    void EndedNotifications(TTransactionAction Action, bool Force);
    void RaiseFromStatus();
    void OnTimer();

    isc_tr_handle FHandle = 0;
    bool FHandleIsShared = false;
    TTransactionState FState = tsClosed;
    TFIBDatabase* FDefaultDatabase = nullptr;
    std::vector<TTRDatabase> FDatabases;
    TParamLines FTRParams;
    TParamBlock FTPB;
    bool FTRParamsChanged = true;
    uint32_t FTimeout = 0;
    TTransactionAction FTimeoutAction = TARollback;
    TMDTTransactionRole FMDTTransactionRole = mtrAutoDefine;
    bool FStreamedActive = false;
    bool FCanTimeout = false;
    int64_t FTransactionID = 0;
    std::unique_ptr<ITimer> FTimer;
    std::vector<TFIBBase*> FFIBBases;

    template <class E> using TEventList = std::vector<std::pair<const void*, E>>;
    TEventList<TTransactionEvent> FBeforeStart, FAfterStart, FOnDestroy;
    TEventList<TEndTransactionEvent> FBeforeEnd, FAfterEnd;
};

class TpFIBTransaction : public TFIBTransaction {
public:
    explicit TpFIBTransaction(TComponent* AOwner = nullptr) : TFIBTransaction(AOwner) {}
    ~TpFIBTransaction() override;

    void EndTransaction(TTransactionAction Action, bool Force) override;
    void DoOnSQLExec(TComponent* Query, int Kind, int StatementKind) override;
    // Does nothing on an active transaction.
    void StartTransaction() override;

    TTPBMode TPBMode() const { return FTPBMode; }
    void SetTPBMode(TTPBMode Value) { FTPBMode = Value; }

    std::function<void(TFIBTransaction*)> BeforeStart, AfterStart;
    std::function<void(TFIBTransaction*, TTransactionAction, bool Force)> BeforeEnd, AfterEnd;
    // Raised by statements around each execution, with the statement's kind.
    std::function<void(TComponent*Query, int StatementKind)> BeforeSQLExecute, AfterSQLExecute;

private:
    TTPBMode FTPBMode = tpbReadCommitted;
};

} // namespace ostrakel
