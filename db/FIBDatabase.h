// The connection (TFIBDatabase, TpFIBDatabase) with its parameter views and server
// facts, and the link (TFIBBase) through which statements and data sets hear of it.
#pragma once

#include "db/FIBXSQLVar.h"
#include "db/ParamBlocks.h"
#include "platform/Component.h"
#include "platform/DateTime.h"

#include <ibase.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace ostrakel {

class IIBClientLibrary;
class ITimer;
class TFIBDatabase;
class TFIBTransaction;
enum TTransactionAction : int;

// The callback lists that data sets join on a connection.
enum TDatabaseEventType { detOnConnect, detBeforeDisconnect, detBeforeDestroy };

// What an idle connection's handler may answer.
enum TActionOnIdle { aiCloseConnect, aiKeepLiveConnect };

// The link of one statement or data set (its owner) to a connection and a
// transaction. The owner's handlers hear of connects, disconnects and
// transaction starts and ends.
class TFIBBase {
public:
    explicit TFIBBase(TComponent* AOwner);
    ~TFIBBase();
    TFIBBase(const TFIBBase&) = delete;
    TFIBBase& operator=(const TFIBBase&) = delete;

    TComponent* Owner() const { return FOwner; }
    TFIBDatabase* Database() const { return FDatabase; }
    void SetDatabase(TFIBDatabase* Value);
    TFIBTransaction* Transaction() const { return FTransaction; }
    void SetTransaction(TFIBTransaction* Value);

    // Code 21 without a connection, else the connection's CheckActive(false).
    void CheckDatabase() const;
    // Code 22 without a transaction, else the transaction's CheckInTransaction.
    void CheckTransaction() const;

    using TLinkEvent = std::function<void(TFIBBase*)>;
    using TLinkTransactionEvent = std::function<void(TFIBTransaction*)>;
    TLinkEvent OnDatabaseConnecting, OnDatabaseConnected, OnDatabaseDisconnecting, OnDatabaseDisconnected;
    TLinkEvent OnDatabaseFree, OnTransactionFree;
    TLinkTransactionEvent OnTransactionStarting, OnTransactionStarted, OnTransactionEnding,
        OnTransactionEnded;

private:
    friend class TFIBDatabase;
    friend class TFIBTransaction;

    std::string OwnerPath() const;

    TComponent* FOwner;
    TFIBDatabase* FDatabase = nullptr;
    int FIndexInDatabase = -1;
    TFIBTransaction* FTransaction = nullptr;
    int FIndexInTransaction = -1;
};

// Views onto a connection's parameter lines by their names, and the flag that
// picks Firebird's own parameter names.
class TConnectParams {
public:
    explicit TConnectParams(TFIBDatabase& Database) : FDatabase(Database) {}

    std::string UserName() const { return Param("user_name"); }
    void SetUserName(const std::string& Value) { SetParam("user_name", Value); }
    std::string Password() const { return Param("password"); }
    void SetPassword(const std::string& Value) { SetParam("password", Value); }
    std::string RoleName() const { return Param("sql_role_name"); }
    void SetRoleName(const std::string& Value) { SetParam("sql_role_name", Value); }
    std::string CharSet() const { return Param("lc_ctype"); }
    // Stored in capitals (a-z only), as the server names character sets.
    void SetCharSet(const std::string& Value);
    bool IsFirebird() const { return FIsFirebird; }
    void SetIsFirebird(bool Value);

    // The value after the first "=" of the first line that names the parameter
    // at its start or after "isc_dpb_"; empty when there is none.
    std::string Param(const std::string& Name) const;
    // Replaces or appends "name=value"; an empty value removes the line.
    void SetParam(const std::string& Name, const std::string& Value);

private:
    int FindParam(const std::string& Name) const;

    TFIBDatabase& FDatabase;
    bool FIsFirebird = true;
};

// Splits a server version text ("LI-V3.0.11.33637 Firebird 3.0") from its
// fifth character on into major, minor, release and build.
struct TServerVersion {
    int Major = 0, Minor = 0, Release = 0, Build = 0;
};
TServerVersion ParseServerVersion(const std::string& Text);

class TFIBDatabase : public TComponent {
public:
    explicit TFIBDatabase(TComponent* AOwner = nullptr);
    ~TFIBDatabase() override;

    // ---- properties ----
    // The path or connection string, handed to the client library unchanged:
    // UTF-8, the platform's file-name code, unlike every other text, which
    // crosses as Windows-1250.
    std::string DBName() const;
    void SetDBName(const std::string& Value);
    TParamLines& DBParams() { return FDBParams; }
    const TParamLines& DBParams() const { return FDBParams; }
    void SetDBParams(std::vector<std::string> Lines) { FDBParams.Assign(std::move(Lines)); }
    TConnectParams& ConnectParams() { return FConnectParams; }
    const TConnectParams& ConnectParams() const { return FConnectParams; }
    int SQLDialect() const { return FSQLDialect; }
    void SetSQLDialect(int Value);
    const std::string& LibraryName() const { return FLibraryName; }
    void SetLibraryName(const std::string& Value);
    uint32_t Timeout() const { return FTimeout; }
    void SetTimeout(uint32_t Value);
    bool UseLoginPrompt() const { return FUseLoginPrompt; }
    void SetUseLoginPrompt(bool Value) { FUseLoginPrompt = Value; }
    bool SynchronizeTime() const { return FSynchronizeTime; }
    void SetSynchronizeTime(bool Value) { FSynchronizeTime = Value; }
    bool AutoReconnect() const { return FAutoReconnect; }
    void SetAutoReconnect(bool Value) { FAutoReconnect = Value; }
    TFIBTransaction* DefaultTransaction() const { return FDefaultTransaction; }
    void SetDefaultTransaction(TFIBTransaction* Value);
    TFIBTransaction* DefaultUpdateTransaction() const { return FDefaultUpdateTransaction; }
    void SetDefaultUpdateTransaction(TFIBTransaction* Value);
    bool Connected() const { return FHandle != 0; }
    void SetConnected(bool Value);

    // The attachment handle, and adopting one attached elsewhere (it is then
    // dropped, never detached, when the connection closes).
    isc_db_handle Handle() const { return FHandle; }
    isc_db_handle* HandlePtr() { return &FHandle; }
    void AdoptHandle(isc_db_handle Value);
    bool HandleIsShared() const { return FHandleIsShared; }

    // ---- events ----
    std::function<void(TFIBDatabase*)> BeforeDisconnect, AfterDisconnect;
    // After the idle timeout closed the connection.
    std::function<void(TFIBDatabase*)> OnTimeout;
    std::function<void(TFIBDatabase*, uint32_t IdleMilliseconds, TActionOnIdle& Action)> OnIdleConnect;
    // Stands in for the login dialog when UseLoginPrompt is on: may fill in the
    // user, password and role; false cancels. Without it the prompt counts as cancelled.
    std::function<bool(TFIBDatabase*, std::string& User, std::string& Password, std::string& Role)> OnLogin;

    // ---- operations ----
    virtual void InternalClose(bool Force);
    virtual void SaveAlias() {}
    virtual void Open(bool RaiseExcept = true);
    void Close();
    void ForceClose() { InternalClose(true); }
    bool TestConnected();
    void CheckActive(bool TryReconnect = false);
    void CheckInactive() const;
    void CheckDatabaseName() const;
    // Every client status of this connection, its transactions and statements
    // passes here; raises from the status vector when asked and ErrCode > 0.
    ISC_STATUS Call(ISC_STATUS ErrCode, bool RaiseError);

    // The shared binding; obtained (and loaded) on first need.
    IIBClientLibrary& ClientLibrary();
    bool ClientLibLoaded() const { return FClientLibLoaded; }

    // ---- server facts (read once per attachment) ----
    int AttachmentID();
    int DBSQLDialect();
    int ServerMajorVersion();
    int ServerMinorVersion();
    int ServerRelease();
    int ServerBuild();
    std::string ServerVersion(); // the version text the facts come from
    bool IsFirebirdConnect();
    bool IsIB2007Connect();
    std::string DBFileName();
    // Local clock minus server clock at connect, in days; 0 when not measured.
    TDateTime DifferenceTime() const { return FDifferenceTime; }

    // Runs a single-row query and gives field FieldNo of its first row (false
    // when the query has no column). Without a transaction the internal one
    // is used, started and committed; after a failure the transaction used is
    // rolled back and the error raised again.
    TFIBVariant QueryValue(const std::string& aSQL, int FieldNo, TFIBTransaction* aTransaction = nullptr,
                           bool aCacheQuery = true);
    // Every field of the first row.
    std::vector<TFIBVariant> QueryValues(const std::string& aSQL, TFIBTransaction* aTransaction = nullptr,
                                         bool aCacheQuery = true);
    struct TQueryCache;

    // What the server said of a statement text the last time it was prepared
    // on this connection: its type and the description of its parameters. A
    // text prepared again needs no second asking. Any DDL run through this
    // connection, a failed execute of the text and the disconnect forget it.
    struct TStatementDescription {
        int SQLType = 0;
        bool BindDescribed = false;
        short BindCount = 0;             // sqld of the parameter describe
        std::vector<XSQLVAR> BindVars;   // as described, without data and indicator
    };
    const TStatementDescription* FindDescription(const std::string& Text) const;
    TStatementDescription& RememberDescription(const std::string& Text);
    void ForgetDescription(const std::string& Text);
    void ForgetDescriptions() { FDescriptions.clear(); }

    // ---- character-set questions ----
    bool IsUnicodeConnect() const;
    bool IsKOI8Connect() const;
    bool IsNoneConnect() const { return FIsNoneConnect; }
    bool NeedUnicodeFieldsTranslation() const;
    bool NeedUnicodeFieldTranslation(int FieldCharacterSet) const;
    bool NeedUTFEncodeDDL() const { return Connected() && FNeedUTFDecodeDDL; }
    std::set<int> UnicodeCharSets() const;
    int BytesInUnicodeChar(int CharSetId) const;
    bool ReturnDeclaredFieldSize() const;

    // ---- registration ----
    int TransactionCount() const { return static_cast<int>(FTransactions.size()); }
    TFIBTransaction* Transactions(int Index) const { return FTransactions.at(static_cast<size_t>(Index)); }
    int FindTransaction(const TFIBTransaction* Transaction) const;
    int FIBBaseCount() const { return static_cast<int>(FFIBBases.size()); }
    TFIBBase* FIBBases(int Index) const { return FFIBBases.at(static_cast<size_t>(Index)); }
    void AddEvent(const void* Key, TDatabaseEventType Kind, std::function<void()> Event);
    void RemoveEvent(const void* Key, TDatabaseEventType Kind);
    TFIBTransaction* InternalTransaction() const { return vInternalTransaction.get(); }

    // Raw database information: the data of one item, false when the server
    // does not give it. Raises the server error when the request fails.
    bool DatabaseInfo(char Item, std::string& Data);
    int DatabaseInfoInteger(char Item, int Default);

    // Every connection object alive, and the lock that serialises attaching.
    static std::vector<TFIBDatabase*> DatabaseList();
    static std::recursive_mutex& ConnectLock();

protected:
    void Loaded() override;
    void Notification(TComponent* AComponent) override;
    // Hooks for the specialisation around the connect sequence.
    virtual void DoAfterConnect() {}
    bool Destroying() const { return FDestroying; }

    TDateTime FDifferenceTime = 0;

private:
    friend class TFIBBase;
    friend class TFIBTransaction;
    friend class TConnectParams;

    int AddTransaction(TFIBTransaction* Transaction);
    void RemoveTransaction(int Index);
    int AddFIBBase(TFIBBase* Link);
    void RemoveFIBBase(int Index);
    void ReadVersionFacts();
    void DeriveCharSetFacts();
    void RunDisconnectHandler(const std::function<void(TFIBDatabase*)>& Handler, const char* Name);
    template <class F> void ForEachLink(F&& f, bool StopWhenClosed);
    void OnIdleTimer();
    void ObtainClientLibrary();
    // The server clock reading of every connect (when SynchronizeTime is on).
    void ReadServerClock();
    // Statements of QueryValue kept for their next use, and dropping them.
    std::shared_ptr<TQueryCache> FQueryCache;
    void DropQueryCache();
    std::unordered_map<std::string, TStatementDescription> FDescriptions;
    // Ends the transactions by force and detaches, telling no one and raising
    // nothing: what a destructor does when a disconnect handler failed.
    void DetachQuietly();

    isc_db_handle FHandle = 0;
    bool FHandleIsShared = false;
    std::string FDBName; // UTF-8, as file names are
    TParamLines FDBParams;
    TConnectParams FConnectParams;
    TParamBlock FDPB;
    bool FDBParamsChanged = true;
    int FSQLDialect = 1;
    std::string FLibraryName;
    uint32_t FTimeout = 0;
    bool FUseLoginPrompt = false;
    bool FSynchronizeTime = true;
    bool FAutoReconnect = false;
    bool FStreamedConnected = false;
    bool FDestroying = false;
    TFIBTransaction* FDefaultTransaction = nullptr;
    TFIBTransaction* FDefaultUpdateTransaction = nullptr;

    std::shared_ptr<IIBClientLibrary> FClientLibrary;
    bool FClientLibLoaded = false;

    std::vector<TFIBTransaction*> FTransactions; // empty slots are reused
    std::vector<TFIBBase*> FFIBBases;
    std::unique_ptr<TFIBTransaction> vInternalTransaction;

    int vAttachmentID = -1;
    int FDBSQLDialect = -1;
    int FServerMajorVersion = -1, FServerMinorVersion = -1, FServerRelease = -1, FServerBuild = -1;
    std::string FServerVersion;
    std::string FDBFileName;
    bool FIsFireBirdConnect = false;
    bool FIsIB2007Connect = false;
    bool FIsUnicodeConnect = false;
    bool FIsNoneConnect = false;
    bool FIsKOI8Connect = false;
    bool FNeedUnicodeFieldsTranslation = false;
    bool FNeedUTFDecodeDDL = false;

    using TEventList = std::vector<std::pair<const void*, std::function<void()>>>;
    TEventList vOnConnected, vBeforeDisconnect, vOnDestroy;
    TEventList& EventList(TDatabaseEventType Kind);

    std::unique_ptr<ITimer> FTimer;
    std::chrono::steady_clock::time_point FLastActivity;
};

// The connection the main window holds: connect and transaction events and
// the reconnect interval after a lost connection.
class TpFIBDatabase : public TFIBDatabase {
public:
    explicit TpFIBDatabase(TComponent* AOwner = nullptr) : TFIBDatabase(AOwner) {}

    void InternalClose(bool Force) override;
    void SaveAlias() override {}
    void Open(bool RaiseExcept = true) override;

    uint32_t WaitForRestoreConnect() const { return FWaitForRestoreConnect; }
    void SetWaitForRestoreConnect(uint32_t Value) { FWaitForRestoreConnect = Value; }

    // May clear Connect to veto the connect, quietly.
    std::function<void(TFIBDatabase*, TParamLines& Params, bool& Connect)> BeforeConnect;
    std::function<void(TFIBDatabase*)> AfterConnect;
    std::function<void(TFIBTransaction*)> BeforeStartTransaction, AfterStartTransaction;
    std::function<void(TFIBTransaction*, TTransactionAction, bool Force)> BeforeEndTransaction,
        AfterEndTransaction;

protected:
    void DoAfterConnect() override;

private:
    uint32_t FWaitForRestoreConnect = 0;
};

} // namespace ostrakel
