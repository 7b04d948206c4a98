#include "db/FIBDatabase.h"

#include "db/ClientLibrary.h"
#include "db/FIBErrors.h"
#include "db/FIBTransaction.h"
#include "platform/Exception.h"
#include "platform/TextCodec.h"
#include "platform/TimerService.h"

#include <algorithm>
#include <cstdlib>

namespace ostrakel {

namespace {

std::string UpperAZ(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

bool OwnerIsLoading(const TComponent* owner) {
    for (const TComponent* c = owner; c; c = c->Owner())
        if (c->IsLoading()) return true;
    return false;
}

// Every connection alive. At process end whatever is still attached is closed.
struct TDatabaseRegistry {
    std::mutex Lock;
    std::vector<TFIBDatabase*> List;
    ~TDatabaseRegistry() { CloseAll(); }
    void CloseAll() {
        std::vector<TFIBDatabase*> left;
        {
            std::lock_guard guard(Lock);
            left = List;
        }
        for (TFIBDatabase* db : left) {
            try {
                db->Close();
            } catch (...) {
                // Nobody is left to hear of it.
            }
        }
    }
};

TDatabaseRegistry& Registry() {
    static TDatabaseRegistry registry;
    return registry;
}

// The registry is made with the first connection, mostly before any client
// library is loaded, so its destructor would run after the library's own exit
// handlers have torn the client down, and a detach then would crash. Exit
// handlers run in the reverse order of their registration: one registered
// after the first attach closes the connections while the client still works.
void CloseConnectionsAtProcessEnd() {
    static std::once_flag once;
    std::call_once(once, [] { std::atexit([] { Registry().CloseAll(); }); });
}

const std::vector<std::string> kInternalTransactionParams = {"write", "isc_tpb_nowait", "read_committed",
                                                             "rec_version"};

} // namespace

// ---- TServerVersion ----

TServerVersion ParseServerVersion(const std::string& Text) {
    TServerVersion v;
    int* parts[] = {&v.Major, &v.Minor, &v.Release, &v.Build};
    size_t next = 0;
    int collected = 0;
    bool any = false;
    for (size_t i = 4; i < Text.size() && next < 4; ++i) {
        const char c = Text[i];
        if (c >= '0' && c <= '9') {
            collected = collected * 10 + (c - '0');
            any = true;
        } else {
            *parts[next++] = collected;
            collected = 0;
            any = false;
        }
    }
    // A text that ends right after its build number still has one to store.
    if (next < 4 && any) *parts[next] = collected;
    return v;
}

// ---- TFIBBase ----

TFIBBase::TFIBBase(TComponent* AOwner) : FOwner(AOwner) {}

TFIBBase::~TFIBBase() {
    SetTransaction(nullptr);
    SetDatabase(nullptr);
}

std::string TFIBBase::OwnerPath() const {
    return FOwner ? FOwner->NamePath() : std::string();
}

void TFIBBase::SetDatabase(TFIBDatabase* Value) {
    if (Value == FDatabase) return;
    if (FDatabase) FDatabase->RemoveFIBBase(FIndexInDatabase);
    FDatabase = nullptr;
    FIndexInDatabase = -1;
    if (!Value) return;
    FIndexInDatabase = Value->AddFIBBase(this);
    FDatabase = Value;
    if (!FTransaction && !OwnerIsLoading(FOwner) && Value->DefaultTransaction())
        SetTransaction(Value->DefaultTransaction());
}

void TFIBBase::SetTransaction(TFIBTransaction* Value) {
    if (Value == FTransaction) return;
    if (FTransaction) FTransaction->RemoveFIBBase(FIndexInTransaction);
    FTransaction = nullptr;
    FIndexInTransaction = -1;
    if (!Value) return;
    FIndexInTransaction = Value->AddFIBBase(this);
    FTransaction = Value;
    if (Value->FindDatabase(FDatabase) < 0 && Value->DatabaseCount() > 0) SetDatabase(Value->MainDatabase());
}

void TFIBBase::CheckDatabase() const {
    if (!FDatabase) RaiseClientError(fibeDatabaseNotAssigned, OwnerPath());
    if (!FDatabase->Connected()) RaiseClientError(fibeDatabaseClosed, FDatabase->NamePath());
}

void TFIBBase::CheckTransaction() const {
    if (!FTransaction) RaiseClientError(fibeTransactionNotAssigned, OwnerPath());
    FTransaction->CheckInTransaction();
}

// ---- TConnectParams ----

int TConnectParams::FindParam(const std::string& Name) const {
    const std::string name = UpperAZ(Name);
    const auto& lines = FDatabase.DBParams().Lines();
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string line = UpperAZ(lines[i]);
        if (line.compare(0, name.size(), name) == 0) return static_cast<int>(i);
        if (line.size() >= 8 + name.size() && line.compare(8, name.size(), name) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

std::string TConnectParams::Param(const std::string& Name) const {
    const int index = FindParam(Name);
    if (index < 0) return {};
    const std::string& line = FDatabase.DBParams()[static_cast<size_t>(index)];
    const size_t eq = line.find('=');
    return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

void TConnectParams::SetParam(const std::string& Name, const std::string& Value) {
    const int index = FindParam(Name);
    TParamLines& lines = FDatabase.DBParams();
    if (Value.empty()) {
        if (index >= 0) lines.Delete(static_cast<size_t>(index));
    } else if (index >= 0) {
        lines.Put(static_cast<size_t>(index), Name + "=" + Value);
    } else {
        lines.Add(Name + "=" + Value);
    }
}

void TConnectParams::SetCharSet(const std::string& Value) {
    SetParam("lc_ctype", UpperAZ(Value));
}

void TConnectParams::SetIsFirebird(bool Value) {
    if (Value == FIsFirebird) return;
    FIsFirebird = Value;
    // The flag decides which lines go into the block, so it must be built anew.
    FDatabase.FDBParamsChanged = true;
}

// ---- TFIBDatabase ----

TFIBDatabase::TFIBDatabase(TComponent* AOwner)
    : TComponent(AOwner), FConnectParams(*this), FLibraryName(kDefaultLibraryName) {
    FDBParams.SetOnChanging([this] { CheckInactive(); });
    FDBParams.SetOnChange([this] { FDBParamsChanged = true; });
    {
        auto& registry = Registry();
        std::lock_guard guard(registry.Lock);
        registry.List.push_back(this);
    }
    vInternalTransaction = std::make_unique<TFIBTransaction>(this);
    vInternalTransaction->SetDefaultDatabase(this);
    vInternalTransaction->SetTRParams(kInternalTransactionParams);
    vInternalTransaction->SetTimeoutAction(TACommit);
    vInternalTransaction->SetTimeout(1000);
}

TFIBDatabase::~TFIBDatabase() {
    FDestroying = true;
    FTimer.reset();
    DropQueryCache();
    {
        auto& registry = Registry();
        std::lock_guard guard(registry.Lock);
        std::erase(registry.List, this);
    }
    try {
        if (vInternalTransaction->Active()) vInternalTransaction->Commit();
    } catch (...) {
        // Its own destruction ends it by force below.
    }
    vInternalTransaction.reset();
    try {
        if (FHandle) ForceClose();
    } catch (...) {
        // A destructor has nobody to report to.
    }
    // A disconnect handler that failed stopped the close before the detach:
    // the attachment must not outlive its object all the same.
    if (FHandle) DetachQuietly();
    for (auto it = vOnDestroy.rbegin(); it != vOnDestroy.rend(); ++it) {
        try {
            if (it->second) it->second();
        } catch (...) {
        }
    }
    while (!FFIBBases.empty()) {
        TFIBBase* link = FFIBBases.back();
        try {
            if (link->OnDatabaseFree) link->OnDatabaseFree(link);
        } catch (...) {
        }
        link->SetDatabase(nullptr);
        link->SetTransaction(nullptr);
    }
    const auto transactions = FTransactions;
    for (TFIBTransaction* tr : transactions) {
        if (!tr) continue;
        const int index = tr->FindDatabase(this);
        if (index >= 0)
            tr->RemoveDatabase(index);
        else if (tr->FDefaultDatabase == this)
            tr->FDefaultDatabase = nullptr;
    }
    FTransactions.clear();
    FDefaultTransaction = FDefaultUpdateTransaction = nullptr;
    FClientLibrary.reset();
}

std::vector<TFIBDatabase*> TFIBDatabase::DatabaseList() {
    auto& registry = Registry();
    std::lock_guard guard(registry.Lock);
    return registry.List;
}

std::recursive_mutex& TFIBDatabase::ConnectLock() {
    static std::recursive_mutex lock;
    return lock;
}

std::string TFIBDatabase::DBName() const {
    return FDBName;
}

void TFIBDatabase::SetDBName(const std::string& Value) {
    if (Value != FDBName) {
        CheckInactive();
        FDBName = Value;
    }
    FDBFileName.clear();
}

void TFIBDatabase::SetSQLDialect(int Value) {
    if (Value < 1) RaiseClientError(fibeSQLDialectInvalid);
    if (Connected() && DBSQLDialect() < Value) RaiseClientError(fibeSQLDialectInvalid);
    FSQLDialect = Value;
}

void TFIBDatabase::SetLibraryName(const std::string& Value) {
    if (Value != FLibraryName) {
        CheckInactive();
        FLibraryName = Value;
        FClientLibrary.reset();
        FClientLibLoaded = false;
    }
    // A named library is taken (and loaded) at once, so a wrong name fails
    // where it is set; the name stays, and the next connect tries it again.
    if (!FLibraryName.empty() && !Connected()) ObtainClientLibrary();
}

void TFIBDatabase::SetTimeout(uint32_t Value) {
    FTimeout = Value;
    if (Value == 0) {
        FTimer.reset();
        return;
    }
    if (!FTimer) {
        FTimer = DefaultTimerService().CreateTimer();
        FTimer->SetOnTimer([this] { OnIdleTimer(); });
    }
    FTimer->SetInterval(Value);
    FTimer->SetEnabled(true);
    FLastActivity = std::chrono::steady_clock::now();
}

void TFIBDatabase::SetDefaultTransaction(TFIBTransaction* Value) {
    if (Value == FDefaultTransaction) return;
    FDefaultTransaction = Value;
    if (Value) {
        FreeNotification(Value);
        Value->AddDatabase(this);
    }
}

void TFIBDatabase::SetDefaultUpdateTransaction(TFIBTransaction* Value) {
    if (Value == FDefaultUpdateTransaction) return;
    FDefaultUpdateTransaction = Value;
    if (Value) {
        FreeNotification(Value);
        Value->AddDatabase(this);
    }
}

void TFIBDatabase::SetConnected(bool Value) {
    if (IsLoading()) {
        FStreamedConnected = Value;
        return;
    }
    if (Value)
        Open(true);
    else
        Close();
}

void TFIBDatabase::AdoptHandle(isc_db_handle Value) {
    CheckInactive();
    ObtainClientLibrary();
    FServerMajorVersion = FServerMinorVersion = FServerRelease = FServerBuild = -1;
    vAttachmentID = -1;
    FHandle = Value;
    FHandleIsShared = Value != 0;
}

void TFIBDatabase::Loaded() {
    TComponent::Loaded();
    vInternalTransaction->SetName(Name() + "_InternalTransaction");
    if (FStreamedConnected) {
        FStreamedConnected = false;
        SetConnected(true);
    }
}

void TFIBDatabase::Notification(TComponent* AComponent) {
    TComponent::Notification(AComponent);
    if (AComponent == FDefaultTransaction) FDefaultTransaction = nullptr;
    if (AComponent == FDefaultUpdateTransaction) FDefaultUpdateTransaction = nullptr;
}

void TFIBDatabase::ObtainClientLibrary() {
    if (!FClientLibrary)
        FClientLibrary = GetClientLibrary(FLibraryName);
    else if (!FClientLibrary->LibraryLoaded())
        FClientLibrary->LoadIBLibrary();
    FClientLibLoaded = true;
}

IIBClientLibrary& TFIBDatabase::ClientLibrary() {
    ObtainClientLibrary();
    return *FClientLibrary;
}

template <class F> void TFIBDatabase::ForEachLink(F&& f, bool StopWhenClosed) {
    // A link may leave while it is told, or make others leave (a removal
    // reorders the list): the walk goes over the links as they were and skips
    // those that have gone since.
    const std::vector<TFIBBase*> links = FFIBBases;
    for (TFIBBase* link : links) {
        if (StopWhenClosed && !Connected()) return;
        if (std::find(FFIBBases.begin(), FFIBBases.end(), link) == FFIBBases.end()) continue;
        f(link);
    }
}

void TFIBDatabase::Open(bool RaiseExcept) {
    if (Connected()) return;
    FServerMajorVersion = FServerMinorVersion = FServerRelease = FServerBuild = -1;
    FDBSQLDialect = -1;
    ISC_STATUS status = 0;
    {
        std::lock_guard lock(ConnectLock());
        CheckInactive();
        CheckDatabaseName();
        ObtainClientLibrary();
        ForEachLink(
            [](TFIBBase* link) {
                if (link->OnDatabaseConnecting) link->OnDatabaseConnecting(link);
            },
            false);
        if (FUseLoginPrompt) {
            std::string user = FConnectParams.UserName();
            std::string password = FConnectParams.Password();
            std::string role = FConnectParams.RoleName();
            if (!OnLogin || !OnLogin(this, user, password, role)) RaiseClientError(fibeOperationCancelled);
            FConnectParams.SetUserName(user);
            FConnectParams.SetPassword(password);
            FConnectParams.SetRoleName(role);
        }
        if (FDBParamsChanged) {
            FDPB = BuildDPB(FDBParams, FConnectParams.IsFirebird());
            FDBParamsChanged = false;
        }
        status = Call(FClientLibrary->isc_attach_database(StatusVector(), static_cast<short>(FDBName.size()),
                                                          FDBName.c_str(), &FHandle,
                                                          static_cast<short>(FDPB.size()), FDPB.data()),
                      false);
    }
    if (status > 0) {
        FHandle = 0;
        // No attachment, no code page of its own: the client speaks of the
        // file and the host in the platform's file-name code.
        if (RaiseExcept) RaiseStatusError(*FClientLibrary, this, TStatusTexts::Utf8);
        return;
    }
    FHandleIsShared = false;
    // A new attachment, perhaps to another file: nothing said of the old one holds.
    ForgetDescriptions();
    CloseConnectionsAtProcessEnd();
    vInternalTransaction->SetTimeout(1000);
    // A connection that was force-closed kept its old number; this attachment has its own.
    vAttachmentID = -1;
    AttachmentID();
    FDifferenceTime = 0;
    if (DBSQLDialect() < FSQLDialect) FSQLDialect = DBSQLDialect();
    if (FSynchronizeTime) ReadServerClock();
    DeriveCharSetFacts();
    DoAfterConnect();
    const auto connected = vOnConnected;
    for (const auto& [key, event] : connected) {
        if (!Connected()) break;
        if (event) event();
    }
    ForEachLink(
        [](TFIBBase* link) {
            if (link->OnDatabaseConnected) link->OnDatabaseConnected(link);
        },
        true);
}

void TFIBDatabase::RunDisconnectHandler(const std::function<void(TFIBDatabase*)>& Handler, const char* Name) {
    if (!Handler) return;
    try {
        Handler(this);
    } catch (const std::exception& e) {
        const std::string path = NamePath();
        if (FDestroying)
            throw Exception(
                Format("Error of %s.%s. Probably you are trying to get access to destroyed components. %s",
                       path.c_str(), Name, e.what()));
        throw Exception(Format("Error of %s.%s. %s", path.c_str(), Name, e.what()));
    }
}

void TFIBDatabase::InternalClose(bool Force) {
    if (!Connected()) return;
    CheckActive(false);
    DropQueryCache();
    ForgetDescriptions();
    RunDisconnectHandler(BeforeDisconnect, "BeforeDisconnect");
    const auto before = vBeforeDisconnect;
    for (const auto& [key, event] : before)
        if (event) event();

    for (size_t i = 0; i < FTransactions.size(); ++i) {
        TFIBTransaction* tr = FTransactions[i];
        if (!tr || !tr->Active()) continue;
        try {
            tr->EndTransaction(NonRetaining(tr->TimeoutAction()), true);
        } catch (...) {
            if (!Force) throw;
            // A handler refused the end; the server would refuse the detach
            // of an attachment with a live transaction, and it would stay.
            tr->AbandonHandle();
        }
    }
    ForEachLink(
        [Force](TFIBBase* link) {
            try {
                if (link->OnDatabaseDisconnecting) link->OnDatabaseDisconnecting(link);
            } catch (...) {
                if (!Force) throw;
            }
        },
        false);

    if (FHandleIsShared) {
        FHandle = 0;
        FHandleIsShared = false;
    } else {
        ISC_STATUS status = ClientLibrary().isc_detach_database(StatusVector(), &FHandle);
        // Closed in every case: a handle the server refused to detach is of no further use.
        FHandle = 0;
        FHandleIsShared = false;
        // The client itself ended the attachment (its shutdown on a signal):
        // it is detached already.
        if (status == isc_bad_db_handle) status = 0;
        Call(status, !Force);
    }

    ForEachLink(
        [](TFIBBase* link) {
            if (link->OnDatabaseDisconnected) link->OnDatabaseDisconnected(link);
        },
        false);
    RunDisconnectHandler(AfterDisconnect, "AfterDisconnect");
}

void TFIBDatabase::Close() {
    struct TResetAfterClose {
        TFIBDatabase* Self;
        ~TResetAfterClose() {
            Self->vAttachmentID = -1;
            if (Self->vInternalTransaction) Self->vInternalTransaction->SetTimeout(0);
        }
    } reset{this};
    if (Connected()) InternalClose(false);
}

void TFIBDatabase::DetachQuietly() {
    const auto transactions = FTransactions;
    for (TFIBTransaction* tr : transactions) {
        if (!tr || !tr->Active()) continue;
        try {
            tr->EndTransaction(NonRetaining(tr->TimeoutAction()), true);
        } catch (...) {
            tr->AbandonHandle();
        }
    }
    if (!FHandleIsShared && FClientLibrary) {
        ISC_STATUS_ARRAY ignored = {};
        FClientLibrary->isc_detach_database(ignored, &FHandle);
    }
    FHandle = 0;
    FHandleIsShared = false;
}

bool TFIBDatabase::TestConnected() {
    if (!Connected()) return false;
    const char items[] = {isc_info_base_level, isc_info_end};
    char buffer[64] = {};
    const ISC_STATUS status = Call(ClientLibrary().isc_database_info(StatusVector(), &FHandle, sizeof items,
                                                                     items, sizeof buffer, buffer),
                                   false);
    if (status > 0) {
        ForceClose();
        return false;
    }
    return true;
}

void TFIBDatabase::CheckActive(bool /*TryReconnect*/) {
    if (Connected()) return;
    if (!FAutoReconnect) RaiseClientError(fibeDatabaseClosed, NamePath());
    const bool savedPrompt = FUseLoginPrompt;
    FUseLoginPrompt = FConnectParams.Password().empty();
    try {
        SetConnected(true);
    } catch (...) {
        if (!FUseLoginPrompt) {
            FUseLoginPrompt = true;
            try {
                SetConnected(true);
            } catch (...) {
            }
        }
    }
    FUseLoginPrompt = savedPrompt;
}

void TFIBDatabase::CheckInactive() const {
    if (Connected()) RaiseClientError(fibeDatabaseOpen);
}

void TFIBDatabase::CheckDatabaseName() const {
    if (FDBName.empty()) RaiseClientError(fibeDatabaseNameMissing);
}

ISC_STATUS TFIBDatabase::Call(ISC_STATUS ErrCode, bool RaiseError) {
    if (FTimer && FTimer->Enabled()) {
        FTimer->SetEnabled(true); // restarts the countdown
        FLastActivity = std::chrono::steady_clock::now();
    }
    if (RaiseError && ErrCode > 0) RaiseStatusError(ClientLibrary(), this);
    return ErrCode;
}

void TFIBDatabase::OnIdleTimer() {
    if (!Connected()) return;
    // A timer tick has no caller to hand an error to: what fails here leaves
    // the connection closed or open as it is and goes no further.
    try {
        const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - FLastActivity);
        TActionOnIdle action = aiCloseConnect;
        if (OnIdleConnect) OnIdleConnect(this, static_cast<uint32_t>(idle.count()), action);
        if (action == aiKeepLiveConnect) return;
        ForceClose();
        if (OnTimeout) OnTimeout(this);
    } catch (...) {
    }
}

// ---- information requests ----

bool TFIBDatabase::DatabaseInfo(char Item, std::string& Data) {
    CheckActive(false);
    if (!Connected()) RaiseClientError(fibeDatabaseClosed, NamePath());
    IIBClientLibrary& lib = ClientLibrary();
    const char items[] = {Item, isc_info_end};
    // The client takes the buffer's length as a signed 16-bit number.
    constexpr size_t kLargestBuffer = 32767;
    std::string buffer(1024, '\0');
    for (;;) {
        Call(lib.isc_database_info(StatusVector(), &FHandle, sizeof items, items,
                                   static_cast<short>(buffer.size()), buffer.data()),
             true);
        if (buffer[0] == isc_info_truncated && buffer.size() < kLargestBuffer) {
            buffer.assign(std::min(buffer.size() * 4, kLargestBuffer), '\0');
            continue;
        }
        if (buffer[0] != Item) return false;
        const auto length = static_cast<size_t>(static_cast<uint16_t>(lib.isc_vax_integer(&buffer[1], 2)));
        if (length > buffer.size() - 3) return false;
        Data.assign(buffer, 3, length);
        return true;
    }
}

int TFIBDatabase::DatabaseInfoInteger(char Item, int Default) {
    std::string data;
    if (!DatabaseInfo(Item, data) || data.empty() || data.size() > 4) return Default;
    return static_cast<int>(ClientLibrary().isc_vax_integer(data.data(), static_cast<short>(data.size())));
}

int TFIBDatabase::AttachmentID() {
    CheckActive(false);
    if (vAttachmentID == -1) vAttachmentID = DatabaseInfoInteger(isc_info_attachment_id, -1);
    return vAttachmentID;
}

int TFIBDatabase::DBSQLDialect() {
    CheckActive(false);
    if (FDBSQLDialect == -1) FDBSQLDialect = DatabaseInfoInteger(isc_info_db_sql_dialect, 1);
    return FDBSQLDialect;
}

void TFIBDatabase::ReadVersionFacts() {
    // Version items answer with a count byte, then length-prefixed texts.
    auto firstText = [](const std::string& data) -> std::string {
        if (data.size() < 2) return {};
        const size_t length = static_cast<unsigned char>(data[1]);
        return data.substr(2, std::min(length, data.size() - 2));
    };
    std::string data;
    std::string text;
    if (DatabaseInfo(static_cast<char>(isc_info_firebird_version), data)) text = firstText(data);
    FIsFireBirdConnect = !text.empty();
    if (!FIsFireBirdConnect && DatabaseInfo(static_cast<char>(isc_info_isc_version), data))
        text = firstText(data);
    FServerVersion = Win1250ToUtf8(text);
    const TServerVersion v = ParseServerVersion(text);
    FServerMajorVersion = v.Major;
    FServerMinorVersion = v.Minor;
    FServerRelease = v.Release;
    FServerBuild = v.Build;
    FIsIB2007Connect = !FIsFireBirdConnect && FServerMajorVersion > 7;
}

#define OSTRAKEL_VERSION_FACT(Getter, Field)                                                                 \
    int TFIBDatabase::Getter() {                                                                             \
        CheckActive(false);                                                                                  \
        if (Field == -1) ReadVersionFacts();                                                                 \
        return Field;                                                                                        \
    }
OSTRAKEL_VERSION_FACT(ServerMajorVersion, FServerMajorVersion)
OSTRAKEL_VERSION_FACT(ServerMinorVersion, FServerMinorVersion)
OSTRAKEL_VERSION_FACT(ServerRelease, FServerRelease)
OSTRAKEL_VERSION_FACT(ServerBuild, FServerBuild)
#undef OSTRAKEL_VERSION_FACT

std::string TFIBDatabase::ServerVersion() {
    ServerMajorVersion();
    return FServerVersion;
}

bool TFIBDatabase::IsFirebirdConnect() {
    ServerMajorVersion();
    return FIsFireBirdConnect;
}

bool TFIBDatabase::IsIB2007Connect() {
    ServerMajorVersion();
    return FIsIB2007Connect;
}

std::string TFIBDatabase::DBFileName() {
    CheckActive(false);
    if (FDBFileName.empty()) {
        std::string data;
        // isc_info_db_id: a count, then the file name and the site name, each
        // length-prefixed. The file name is the platform's (UTF-8), as DBName.
        if (DatabaseInfo(static_cast<char>(isc_info_db_id), data) && data.size() >= 2) {
            const size_t length = static_cast<unsigned char>(data[1]);
            FDBFileName = data.substr(2, std::min(length, data.size() - 2));
        }
    }
    return FDBFileName;
}

void TFIBDatabase::DeriveCharSetFacts() {
    if (IsFirebirdConnect() && ServerMajorVersion() > 1) {
        const int id = DatabaseInfoInteger(static_cast<char>(frb_info_att_charset), -1);
        FIsUnicodeConnect = UnicodeCharSets().count(id) > 0;
        FIsNoneConnect = id == 0;
        FNeedUnicodeFieldsTranslation = FIsUnicodeConnect || FIsNoneConnect;
        FNeedUTFDecodeDDL = false;
        if (FNeedUnicodeFieldsTranslation &&
            (FServerMajorVersion > 2 || (FServerMajorVersion == 2 && FServerMinorVersion >= 1))) {
            const int odsMajor = DatabaseInfoInteger(isc_info_ods_version, 0);
            const int odsMinor = DatabaseInfoInteger(isc_info_ods_minor_version, 0);
            FNeedUTFDecodeDDL = odsMajor > 11 || (odsMajor == 11 && odsMinor >= 1);
        }
        FIsKOI8Connect = id == 63 || id == 64;
    } else {
        const std::string cs = UpperAZ(FConnectParams.CharSet());
        FIsUnicodeConnect = cs == "UNICODE_FSS" || cs == "UTF8";
        FIsNoneConnect = cs == "NONE" || cs.empty();
        FNeedUnicodeFieldsTranslation = FIsUnicodeConnect || FIsNoneConnect;
        FNeedUTFDecodeDDL = false;
        FIsKOI8Connect = false;
    }
}

bool TFIBDatabase::IsUnicodeConnect() const {
    if (Connected()) return FIsUnicodeConnect;
    const std::string cs = UpperAZ(FConnectParams.CharSet());
    return cs == "UNICODE_FSS" || cs == "UTF8";
}

bool TFIBDatabase::IsKOI8Connect() const {
    if (Connected()) return FIsKOI8Connect;
    const std::string cs = UpperAZ(FConnectParams.CharSet());
    return cs == "KOI8R" || cs == "KOI8U";
}

bool TFIBDatabase::NeedUnicodeFieldsTranslation() const {
    if (Connected()) return FNeedUnicodeFieldsTranslation;
    const std::string cs = UpperAZ(FConnectParams.CharSet());
    return cs == "UNICODE_FSS" || cs == "NONE" || cs == "UTF8" || cs.empty();
}

bool TFIBDatabase::NeedUnicodeFieldTranslation(int FieldCharacterSet) const {
    if (!FNeedUTFDecodeDDL && !FIsNoneConnect) return FIsUnicodeConnect && FieldCharacterSet > 1;
    return UnicodeCharSets().count(FieldCharacterSet) > 0;
}

std::set<int> TFIBDatabase::UnicodeCharSets() const {
    std::set<int> ids{3};
    if (Connected() && FServerMajorVersion != -1) {
        if (FIsFireBirdConnect)
            ids.insert(4);
        else if (FServerMajorVersion > 7)
            ids.insert({8, 59, 64});
    }
    return ids;
}

int TFIBDatabase::BytesInUnicodeChar(int CharSetId) const {
    if (CharSetId == 3) return 3;
    if (!Connected()) return 1;
    if (FIsFireBirdConnect) return CharSetId == 4 ? 4 : 1;
    if (FServerMajorVersion > 7) {
        if (CharSetId == 8 || CharSetId == 64) return 2;
        if (CharSetId == 59) return 4;
    }
    return 1;
}

bool TFIBDatabase::ReturnDeclaredFieldSize() const {
    return !(Connected() && FIsFireBirdConnect && FServerMajorVersion >= 2);
}

// ---- registration ----

int TFIBDatabase::FindTransaction(const TFIBTransaction* Transaction) const {
    const auto it = std::find(FTransactions.begin(), FTransactions.end(), Transaction);
    return it == FTransactions.end() || !Transaction ? -1 : static_cast<int>(it - FTransactions.begin());
}

int TFIBDatabase::AddTransaction(TFIBTransaction* Transaction) {
    if (const int existing = FindTransaction(Transaction); existing >= 0) return existing;
    const auto empty = std::find(FTransactions.begin(), FTransactions.end(), nullptr);
    if (empty != FTransactions.end()) {
        *empty = Transaction;
        return static_cast<int>(empty - FTransactions.begin());
    }
    FTransactions.push_back(Transaction);
    return static_cast<int>(FTransactions.size()) - 1;
}

void TFIBDatabase::RemoveTransaction(int Index) {
    if (Index < 0 || Index >= static_cast<int>(FTransactions.size())) return;
    TFIBTransaction* tr = FTransactions[static_cast<size_t>(Index)];
    FTransactions[static_cast<size_t>(Index)] = nullptr;
    if (tr == FDefaultTransaction) FDefaultTransaction = nullptr;
    if (tr == FDefaultUpdateTransaction) FDefaultUpdateTransaction = nullptr;
}

int TFIBDatabase::AddFIBBase(TFIBBase* Link) {
    FFIBBases.push_back(Link);
    return static_cast<int>(FFIBBases.size()) - 1;
}

void TFIBDatabase::RemoveFIBBase(int Index) {
    if (Index < 0 || Index >= static_cast<int>(FFIBBases.size())) return;
    TFIBBase* last = FFIBBases.back();
    FFIBBases[static_cast<size_t>(Index)] = last;
    last->FIndexInDatabase = Index;
    FFIBBases.pop_back();
}

TFIBDatabase::TEventList& TFIBDatabase::EventList(TDatabaseEventType Kind) {
    switch (Kind) {
    case detOnConnect:
        return vOnConnected;
    case detBeforeDisconnect:
        return vBeforeDisconnect;
    default:
        return vOnDestroy;
    }
}

void TFIBDatabase::AddEvent(const void* Key, TDatabaseEventType Kind, std::function<void()> Event) {
    EventList(Kind).emplace_back(Key, std::move(Event));
}

void TFIBDatabase::RemoveEvent(const void* Key, TDatabaseEventType Kind) {
    auto& list = EventList(Kind);
    std::erase_if(list, [Key](const auto& entry) { return entry.first == Key; });
}

// ---- TpFIBDatabase ----

void TpFIBDatabase::InternalClose(bool Force) {
    if (Connected()) TFIBDatabase::InternalClose(Force);
}

void TpFIBDatabase::Open(bool RaiseExcept) {
    if (Connected()) return;
    bool connect = true;
    if (BeforeConnect) BeforeConnect(this, DBParams(), connect);
    if (!connect) return;
    TFIBDatabase::Open(RaiseExcept);
}

void TpFIBDatabase::DoAfterConnect() {
    if (AfterConnect) AfterConnect(this);
}

} // namespace ostrakel
