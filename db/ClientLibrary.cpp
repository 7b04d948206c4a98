#include "db/ClientLibrary.h"

#include <locale.h>

#include <cerrno>
#include <condition_variable>
#include <cstdarg>
#include <mutex>
#include <type_traits>
#include <vector>

#include "platform/Exception.h"

namespace ostrakel {

struct TIBClientLibrary::TEntryPoints {
    int (*F_BLOB_get)(FB_BLOB_STREAM) = nullptr;
    int (*F_BLOB_put)(ISC_SCHAR, FB_BLOB_STREAM) = nullptr;
    ISC_LONG (*F_isc_sqlcode)(const ISC_STATUS*) = nullptr;
    void (*F_isc_sql_interprete)(short, ISC_SCHAR*, short) = nullptr;
    ISC_LONG (*F_fb_interpret)(ISC_SCHAR*, unsigned int, const ISC_STATUS**) = nullptr;
    ISC_LONG (*F_isc_vax_integer)(const ISC_SCHAR*, short) = nullptr;
    ISC_STATUS(*F_isc_blob_info)
    (ISC_STATUS*, isc_blob_handle*, short, const ISC_SCHAR*, short, ISC_SCHAR*) = nullptr;
    ISC_STATUS(*F_isc_open_blob2)
    (ISC_STATUS*, isc_db_handle*, isc_tr_handle*, isc_blob_handle*, ISC_QUAD*, ISC_USHORT,
     const ISC_UCHAR*) = nullptr;
    ISC_STATUS (*F_isc_close_blob)(ISC_STATUS*, isc_blob_handle*) = nullptr;
    ISC_STATUS(*F_isc_get_segment)
    (ISC_STATUS*, isc_blob_handle*, unsigned short*, unsigned short, ISC_SCHAR*) = nullptr;
    ISC_STATUS(*F_isc_put_segment)
    (ISC_STATUS*, isc_blob_handle*, unsigned short, const ISC_SCHAR*) = nullptr;
    ISC_STATUS(*F_isc_create_blob2)
    (ISC_STATUS*, isc_db_handle*, isc_tr_handle*, isc_blob_handle*, ISC_QUAD*, short,
     const ISC_SCHAR*) = nullptr;
    void (*F_isc_decode_date)(const ISC_QUAD*, void*) = nullptr;
    void (*F_isc_encode_date)(const void*, ISC_QUAD*) = nullptr;
    ISC_STATUS (*F_isc_dsql_free_statement)(ISC_STATUS*, isc_stmt_handle*, unsigned short) = nullptr;
    ISC_STATUS(*F_isc_dsql_execute2)
    (ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short, const XSQLDA*, const XSQLDA*) = nullptr;
    ISC_STATUS(*F_isc_dsql_execute)
    (ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short, const XSQLDA*) = nullptr;
    ISC_STATUS(*F_isc_dsql_set_cursor_name)
    (ISC_STATUS*, isc_stmt_handle*, const ISC_SCHAR*, unsigned short) = nullptr;
    ISC_STATUS (*F_isc_dsql_fetch)(ISC_STATUS*, isc_stmt_handle*, unsigned short, const XSQLDA*) = nullptr;
    ISC_STATUS(*F_isc_dsql_sql_info)
    (ISC_STATUS*, isc_stmt_handle*, short, const ISC_SCHAR*, short, ISC_SCHAR*) = nullptr;
    ISC_STATUS (*F_isc_dsql_alloc_statement2)(ISC_STATUS*, isc_db_handle*, isc_stmt_handle*) = nullptr;
    ISC_STATUS(*F_isc_dsql_prepare)
    (ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short, const ISC_SCHAR*, unsigned short,
     XSQLDA*) = nullptr;
    ISC_STATUS (*F_isc_dsql_describe_bind)(ISC_STATUS*, isc_stmt_handle*, unsigned short, XSQLDA*) = nullptr;
    ISC_STATUS (*F_isc_dsql_describe)(ISC_STATUS*, isc_stmt_handle*, unsigned short, XSQLDA*) = nullptr;
    ISC_STATUS(*F_isc_dsql_execute_immediate)
    (ISC_STATUS*, isc_db_handle*, isc_tr_handle*, unsigned short, const ISC_SCHAR*, unsigned short,
     const XSQLDA*) = nullptr;
    ISC_STATUS(*F_isc_dsql_exec_immed2)
    (ISC_STATUS*, isc_db_handle*, isc_tr_handle*, unsigned short, const ISC_SCHAR*, unsigned short,
     const XSQLDA*, const XSQLDA*) = nullptr;
    ISC_STATUS (*F_isc_drop_database)(ISC_STATUS*, isc_db_handle*) = nullptr;
    ISC_STATUS (*F_isc_detach_database)(ISC_STATUS*, isc_db_handle*) = nullptr;
    ISC_STATUS(*F_isc_attach_database)
    (ISC_STATUS*, short, const ISC_SCHAR*, isc_db_handle*, short, const ISC_SCHAR*) = nullptr;
    ISC_STATUS(*F_isc_database_info)
    (ISC_STATUS*, isc_db_handle*, short, const ISC_SCHAR*, short, ISC_SCHAR*) = nullptr;
    ISC_STATUS (*F_isc_start_multiple)(ISC_STATUS*, isc_tr_handle*, short, void*) = nullptr;
    ISC_STATUS (*F_isc_commit_transaction)(ISC_STATUS*, isc_tr_handle*) = nullptr;
    ISC_STATUS (*F_isc_commit_retaining)(ISC_STATUS*, isc_tr_handle*) = nullptr;
    ISC_STATUS (*F_isc_rollback_transaction)(ISC_STATUS*, isc_tr_handle*) = nullptr;
    ISC_STATUS (*F_isc_cancel_events)(ISC_STATUS*, isc_db_handle*, ISC_LONG*) = nullptr;
    ISC_STATUS(*F_isc_que_events)
    (ISC_STATUS*, isc_db_handle*, ISC_LONG*, short, const ISC_UCHAR*, ISC_EVENT_CALLBACK, void*) = nullptr;
    void (*F_isc_event_counts)(ISC_ULONG*, short, ISC_UCHAR*, const ISC_UCHAR*) = nullptr;
    ISC_LONG (*F_isc_free)(ISC_SCHAR*) = nullptr;
    ISC_STATUS(*F_isc_array_lookup_bounds)
    (ISC_STATUS*, isc_db_handle*, isc_tr_handle*, const ISC_SCHAR*, const ISC_SCHAR*,
     ISC_ARRAY_DESC*) = nullptr;
    ISC_STATUS(*F_isc_array_get_slice)
    (ISC_STATUS*, isc_db_handle*, isc_tr_handle*, ISC_QUAD*, const ISC_ARRAY_DESC*, void*,
     ISC_LONG*) = nullptr;
    ISC_STATUS(*F_isc_array_put_slice)
    (ISC_STATUS*, isc_db_handle*, isc_tr_handle*, ISC_QUAD*, const ISC_ARRAY_DESC*, void*,
     ISC_LONG*) = nullptr;
    ISC_STATUS(*F_isc_wait_for_event)
    (ISC_STATUS*, isc_db_handle*, short, const ISC_UCHAR*, ISC_UCHAR*) = nullptr;
    ISC_STATUS(*F_isc_transaction_info)
    (ISC_STATUS*, isc_tr_handle*, short, const ISC_SCHAR*, short, ISC_SCHAR*) = nullptr;
    ISC_STATUS (*F_isc_prepare_transaction)(ISC_STATUS*, isc_tr_handle*) = nullptr;
    ISC_STATUS(*F_isc_prepare_transaction2)
    (ISC_STATUS*, isc_tr_handle*, ISC_USHORT, const ISC_UCHAR*) = nullptr;
    ISC_STATUS (*F_isc_rollback_retaining)(ISC_STATUS*, isc_tr_handle*) = nullptr;
    ISC_STATUS(*F_isc_service_attach)
    (ISC_STATUS*, unsigned short, const ISC_SCHAR*, isc_svc_handle*, unsigned short,
     const ISC_SCHAR*) = nullptr;
    ISC_STATUS (*F_isc_service_detach)(ISC_STATUS*, isc_svc_handle*) = nullptr;
    ISC_STATUS(*F_isc_service_query)
    (ISC_STATUS*, isc_svc_handle*, isc_resv_handle*, unsigned short, const ISC_SCHAR*, unsigned short,
     const ISC_SCHAR*, unsigned short, ISC_SCHAR*) = nullptr;
    ISC_STATUS(*F_isc_service_start)
    (ISC_STATUS*, isc_svc_handle*, isc_resv_handle*, unsigned short, const ISC_SCHAR*) = nullptr;
    void (*F_isc_decode_sql_date)(const ISC_DATE*, void*) = nullptr;
    void (*F_isc_decode_sql_time)(const ISC_TIME*, void*) = nullptr;
    void (*F_isc_decode_timestamp)(const ISC_TIMESTAMP*, void*) = nullptr;
    void (*F_isc_encode_sql_date)(const void*, ISC_DATE*) = nullptr;
    void (*F_isc_encode_sql_time)(const void*, ISC_TIME*) = nullptr;
    void (*F_isc_encode_timestamp)(const void*, ISC_TIMESTAMP*) = nullptr;
    ISC_INT64 (*F_isc_portable_integer)(const ISC_UCHAR*, short) = nullptr;
    void (*F_isc_get_client_version)(ISC_SCHAR*) = nullptr;
    int (*F_isc_get_client_major_version)() = nullptr;
    int (*F_isc_get_client_minor_version)() = nullptr;
    ISC_STATUS (*F_fb_cancel_operation)(ISC_STATUS*, isc_db_handle*, ISC_USHORT) = nullptr;
    // isc_interprete is deprecated in the header; its type is spelled out here.
    ISC_LONG (*F_isc_interprete)(ISC_SCHAR*, ISC_STATUS**) = nullptr;
    ISC_LONG (*F_isc_event_block)(ISC_UCHAR**, ISC_UCHAR**, ISC_USHORT, ...) = nullptr;
    // Looked up for completeness; Firebird's header does not declare them and
    // nothing here calls them.
    void* F_isc_dsql_batch_execute_immed = nullptr;
    void* F_isc_dsql_batch_execute = nullptr;

    // The slots must have exactly the client API's types.
    static_assert(std::is_same_v<decltype(&::BLOB_get), decltype(F_BLOB_get)>);
    static_assert(std::is_same_v<decltype(&::BLOB_put), decltype(F_BLOB_put)>);
    static_assert(std::is_same_v<decltype(&::isc_sqlcode), decltype(F_isc_sqlcode)>);
    static_assert(std::is_same_v<decltype(&::isc_sql_interprete), decltype(F_isc_sql_interprete)>);
    static_assert(std::is_same_v<decltype(&::fb_interpret), decltype(F_fb_interpret)>);
    static_assert(std::is_same_v<decltype(&::isc_vax_integer), decltype(F_isc_vax_integer)>);
    static_assert(std::is_same_v<decltype(&::isc_blob_info), decltype(F_isc_blob_info)>);
    static_assert(std::is_same_v<decltype(&::isc_open_blob2), decltype(F_isc_open_blob2)>);
    static_assert(std::is_same_v<decltype(&::isc_close_blob), decltype(F_isc_close_blob)>);
    static_assert(std::is_same_v<decltype(&::isc_get_segment), decltype(F_isc_get_segment)>);
    static_assert(std::is_same_v<decltype(&::isc_put_segment), decltype(F_isc_put_segment)>);
    static_assert(std::is_same_v<decltype(&::isc_create_blob2), decltype(F_isc_create_blob2)>);
    static_assert(std::is_same_v<decltype(&::isc_decode_date), decltype(F_isc_decode_date)>);
    static_assert(std::is_same_v<decltype(&::isc_encode_date), decltype(F_isc_encode_date)>);
    static_assert(std::is_same_v<decltype(&::isc_dsql_free_statement), decltype(F_isc_dsql_free_statement)>);
    static_assert(std::is_same_v<decltype(&::isc_dsql_execute2), decltype(F_isc_dsql_execute2)>);
    static_assert(std::is_same_v<decltype(&::isc_dsql_execute), decltype(F_isc_dsql_execute)>);
    static_assert(
        std::is_same_v<decltype(&::isc_dsql_set_cursor_name), decltype(F_isc_dsql_set_cursor_name)>);
    static_assert(std::is_same_v<decltype(&::isc_dsql_fetch), decltype(F_isc_dsql_fetch)>);
    static_assert(std::is_same_v<decltype(&::isc_dsql_sql_info), decltype(F_isc_dsql_sql_info)>);
    static_assert(
        std::is_same_v<decltype(&::isc_dsql_alloc_statement2), decltype(F_isc_dsql_alloc_statement2)>);
    static_assert(std::is_same_v<decltype(&::isc_dsql_prepare), decltype(F_isc_dsql_prepare)>);
    static_assert(std::is_same_v<decltype(&::isc_dsql_describe_bind), decltype(F_isc_dsql_describe_bind)>);
    static_assert(std::is_same_v<decltype(&::isc_dsql_describe), decltype(F_isc_dsql_describe)>);
    static_assert(
        std::is_same_v<decltype(&::isc_dsql_execute_immediate), decltype(F_isc_dsql_execute_immediate)>);
    static_assert(std::is_same_v<decltype(&::isc_dsql_exec_immed2), decltype(F_isc_dsql_exec_immed2)>);
    static_assert(std::is_same_v<decltype(&::isc_drop_database), decltype(F_isc_drop_database)>);
    static_assert(std::is_same_v<decltype(&::isc_detach_database), decltype(F_isc_detach_database)>);
    static_assert(std::is_same_v<decltype(&::isc_attach_database), decltype(F_isc_attach_database)>);
    static_assert(std::is_same_v<decltype(&::isc_database_info), decltype(F_isc_database_info)>);
    static_assert(std::is_same_v<decltype(&::isc_start_multiple), decltype(F_isc_start_multiple)>);
    static_assert(std::is_same_v<decltype(&::isc_commit_transaction), decltype(F_isc_commit_transaction)>);
    static_assert(std::is_same_v<decltype(&::isc_commit_retaining), decltype(F_isc_commit_retaining)>);
    static_assert(
        std::is_same_v<decltype(&::isc_rollback_transaction), decltype(F_isc_rollback_transaction)>);
    static_assert(std::is_same_v<decltype(&::isc_cancel_events), decltype(F_isc_cancel_events)>);
    static_assert(std::is_same_v<decltype(&::isc_que_events), decltype(F_isc_que_events)>);
    static_assert(std::is_same_v<decltype(&::isc_event_counts), decltype(F_isc_event_counts)>);
    static_assert(std::is_same_v<decltype(&::isc_free), decltype(F_isc_free)>);
    static_assert(std::is_same_v<decltype(&::isc_array_lookup_bounds), decltype(F_isc_array_lookup_bounds)>);
    static_assert(std::is_same_v<decltype(&::isc_array_get_slice), decltype(F_isc_array_get_slice)>);
    static_assert(std::is_same_v<decltype(&::isc_array_put_slice), decltype(F_isc_array_put_slice)>);
    static_assert(std::is_same_v<decltype(&::isc_wait_for_event), decltype(F_isc_wait_for_event)>);
    static_assert(std::is_same_v<decltype(&::isc_transaction_info), decltype(F_isc_transaction_info)>);
    static_assert(std::is_same_v<decltype(&::isc_prepare_transaction), decltype(F_isc_prepare_transaction)>);
    static_assert(
        std::is_same_v<decltype(&::isc_prepare_transaction2), decltype(F_isc_prepare_transaction2)>);
    static_assert(std::is_same_v<decltype(&::isc_rollback_retaining), decltype(F_isc_rollback_retaining)>);
    static_assert(std::is_same_v<decltype(&::isc_service_attach), decltype(F_isc_service_attach)>);
    static_assert(std::is_same_v<decltype(&::isc_service_detach), decltype(F_isc_service_detach)>);
    static_assert(std::is_same_v<decltype(&::isc_service_query), decltype(F_isc_service_query)>);
    static_assert(std::is_same_v<decltype(&::isc_service_start), decltype(F_isc_service_start)>);
    static_assert(std::is_same_v<decltype(&::isc_decode_sql_date), decltype(F_isc_decode_sql_date)>);
    static_assert(std::is_same_v<decltype(&::isc_decode_sql_time), decltype(F_isc_decode_sql_time)>);
    static_assert(std::is_same_v<decltype(&::isc_decode_timestamp), decltype(F_isc_decode_timestamp)>);
    static_assert(std::is_same_v<decltype(&::isc_encode_sql_date), decltype(F_isc_encode_sql_date)>);
    static_assert(std::is_same_v<decltype(&::isc_encode_sql_time), decltype(F_isc_encode_sql_time)>);
    static_assert(std::is_same_v<decltype(&::isc_encode_timestamp), decltype(F_isc_encode_timestamp)>);
    static_assert(std::is_same_v<decltype(&::isc_portable_integer), decltype(F_isc_portable_integer)>);
    static_assert(std::is_same_v<decltype(&::isc_get_client_version), decltype(F_isc_get_client_version)>);
    static_assert(
        std::is_same_v<decltype(&::isc_get_client_major_version), decltype(F_isc_get_client_major_version)>);
    static_assert(
        std::is_same_v<decltype(&::isc_get_client_minor_version), decltype(F_isc_get_client_minor_version)>);
    static_assert(std::is_same_v<decltype(&::fb_cancel_operation), decltype(F_fb_cancel_operation)>);
    static_assert(std::is_same_v<decltype(&::isc_event_block), decltype(F_isc_event_block)>);
};

namespace {

// Sets the busy mark for one call and clears it however the call ends.
class TBusyMark {
public:
    explicit TBusyMark(std::atomic<bool>& busy) : FBusy(busy) { FBusy.store(true); }
    ~TBusyMark() { FBusy.store(false); }
    TBusyMark(const TBusyMark&) = delete;
    TBusyMark& operator=(const TBusyMark&) = delete;

private:
    std::atomic<bool>& FBusy;
};

// The client reads a database file name in the code of LC_CTYPE and turns it
// into UTF-8; it fixes that code at its first such call for the rest of the
// process. Our file names are UTF-8, the platform's file-name code, so every
// call that may carry one (and may be that first call) runs with a UTF-8
// LC_CTYPE on the calling thread, whatever locale the process was started with
// ("C" has no letters beyond ASCII and would refuse any such name).
class TUtf8FileNames {
public:
    TUtf8FileNames() {
        const locale_t current = ::uselocale(static_cast<locale_t>(0));
        // The other categories stay as they are.
        if (const locale_t base = ::duplocale(current)) {
            FLocale = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", base);
            if (!FLocale) ::freelocale(base);
        }
        if (FLocale) FPrevious = ::uselocale(FLocale);
    }
    ~TUtf8FileNames() {
        if (!FLocale) return;
        ::uselocale(FPrevious);
        ::freelocale(FLocale);
    }
    TUtf8FileNames(const TUtf8FileNames&) = delete;
    TUtf8FileNames& operator=(const TUtf8FileNames&) = delete;

private:
    locale_t FLocale = static_cast<locale_t>(0);
    locale_t FPrevious = static_cast<locale_t>(0);
};

std::atomic<TClientShutdownHandler> gShutdownHandler{nullptr};

// The client's shutdown on a signal: begun, finished.
struct TClientShutdownState {
    std::mutex Lock;
    std::condition_variable Finished;
    bool Begun = false;
    bool Done = false;
};

TClientShutdownState& ShutdownState() {
    static TClientShutdownState state;
    return state;
}

// Called by the client when it is about to shut down (to confirm) and when it
// has finished, on a signal and once more at process exit; only a shutdown on a
// signal is handed on.
int ClientShutdown(const int reason, const int phase, void* /*arg*/) {
    if (reason != fb_shutrsn_signal) return 0;
    TClientShutdownState& state = ShutdownState();
    if (phase == fb_shut_confirmation) {
        {
            std::lock_guard guard(state.Lock);
            state.Begun = true;
            state.Done = false;
        }
        if (const TClientShutdownHandler handler = gShutdownHandler.load()) handler();
    } else if (phase == fb_shut_finish) {
        {
            std::lock_guard guard(state.Lock);
            state.Done = true;
        }
        state.Finished.notify_all();
    }
    return 0;
}

} // namespace

void SetClientShutdownHandler(TClientShutdownHandler handler) {
    gShutdownHandler.store(handler);
}

void WaitForClientShutdown(std::chrono::milliseconds timeout) {
    TClientShutdownState& state = ShutdownState();
    std::unique_lock guard(state.Lock);
    state.Finished.wait_for(guard, timeout, [&] { return !state.Begun || state.Done; });
}

TIBClientLibrary::TIBClientLibrary(std::string libraryName)
    : FLibraryName(std::move(libraryName)), FEntries(std::make_unique<TEntryPoints>()) {
    LoadIBLibrary();
}

TIBClientLibrary::~TIBClientLibrary() {
    FreeIBLibrary();
}

template <class Fn, class... Args> auto TIBClientLibrary::Invoke(Fn fn, const char* name, Args... args) {
    if (!fn) RaiseMissingProcedure(name);
    TBusyMark mark(FBusy);
    return fn(args...);
}

void TIBClientLibrary::RaiseMissingProcedure(const char* name) const {
    throw Exception(Format("Can't find procedure %s in %s", name, FLibraryName.c_str()));
}

void TIBClientLibrary::LoadIBLibrary() {
    if (LibraryLoaded()) return;
    // An empty name would hand back the program itself.
    if (FLibraryName.empty() || !FLibraryHandle.Load(FLibraryName))
        throw Exception(Format("Can't load library %s ", FLibraryName.c_str()));
    try {
        ResolveEntryPoints();
    } catch (...) {
        FreeIBLibrary();
        throw;
    }
    // Older clients have no shutdown to ask about.
    using TRegister = ISC_STATUS (*)(ISC_STATUS*, FB_SHUTDOWN_CALLBACK, const int, void*);
    static_assert(std::is_same_v<decltype(&::fb_shutdown_callback), TRegister>);
    if (auto registerCallback = reinterpret_cast<TRegister>(FLibraryHandle.Find("fb_shutdown_callback"))) {
        ISC_STATUS_ARRAY status = {};
        registerCallback(status, ClientShutdown, fb_shut_confirmation | fb_shut_finish, nullptr);
    }
}

void TIBClientLibrary::FreeIBLibrary() {
    FLibraryHandle.Unload();
    *FEntries = TEntryPoints{};
}

void TIBClientLibrary::ResolveEntryPoints() {
    TEntryPoints& e = *FEntries;
    // dlsym leaves no system error behind; a missing entry point is reported
    // as the system's "function not implemented".
    auto required = [this](auto& slot, const char* name) {
        void* p = FLibraryHandle.Find(name);
        if (!p) throw MakeOSError(ENOSYS);
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(p);
    };
    auto optional = [this](auto& slot, const char* name) {
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(FLibraryHandle.Find(name));
        return slot != nullptr;
    };
#define OSTRAKEL_REQUIRED(n) required(e.F_##n, #n)
#define OSTRAKEL_OPTIONAL(n) optional(e.F_##n, #n)
    OSTRAKEL_REQUIRED(BLOB_get);
    OSTRAKEL_REQUIRED(BLOB_put);
    OSTRAKEL_REQUIRED(isc_sqlcode);
    OSTRAKEL_REQUIRED(isc_sql_interprete);
    OSTRAKEL_REQUIRED(isc_interprete);
    OSTRAKEL_OPTIONAL(fb_interpret);
    OSTRAKEL_REQUIRED(isc_vax_integer);
    OSTRAKEL_REQUIRED(isc_blob_info);
    OSTRAKEL_REQUIRED(isc_open_blob2);
    OSTRAKEL_REQUIRED(isc_close_blob);
    OSTRAKEL_REQUIRED(isc_get_segment);
    OSTRAKEL_REQUIRED(isc_put_segment);
    OSTRAKEL_REQUIRED(isc_create_blob2);
    OSTRAKEL_REQUIRED(isc_decode_date);
    OSTRAKEL_REQUIRED(isc_encode_date);
    OSTRAKEL_REQUIRED(isc_dsql_free_statement);
    OSTRAKEL_REQUIRED(isc_dsql_execute2);
    OSTRAKEL_REQUIRED(isc_dsql_execute);
    OSTRAKEL_REQUIRED(isc_dsql_set_cursor_name);
    OSTRAKEL_REQUIRED(isc_dsql_fetch);
    OSTRAKEL_REQUIRED(isc_dsql_sql_info);
    OSTRAKEL_REQUIRED(isc_dsql_alloc_statement2);
    OSTRAKEL_REQUIRED(isc_dsql_prepare);
    OSTRAKEL_REQUIRED(isc_dsql_describe_bind);
    OSTRAKEL_REQUIRED(isc_dsql_describe);
    OSTRAKEL_REQUIRED(isc_dsql_execute_immediate);
    OSTRAKEL_REQUIRED(isc_dsql_exec_immed2);
    OSTRAKEL_REQUIRED(isc_drop_database);
    OSTRAKEL_REQUIRED(isc_detach_database);
    OSTRAKEL_REQUIRED(isc_attach_database);
    OSTRAKEL_REQUIRED(isc_database_info);
    OSTRAKEL_REQUIRED(isc_start_multiple);
    OSTRAKEL_REQUIRED(isc_commit_transaction);
    OSTRAKEL_REQUIRED(isc_commit_retaining);
    OSTRAKEL_REQUIRED(isc_rollback_transaction);
    OSTRAKEL_REQUIRED(isc_cancel_events);
    OSTRAKEL_REQUIRED(isc_que_events);
    OSTRAKEL_REQUIRED(isc_event_counts);
    OSTRAKEL_REQUIRED(isc_event_block);
    OSTRAKEL_REQUIRED(isc_free);
    OSTRAKEL_REQUIRED(isc_array_lookup_bounds);
    OSTRAKEL_REQUIRED(isc_array_get_slice);
    OSTRAKEL_REQUIRED(isc_array_put_slice);
    OSTRAKEL_REQUIRED(isc_wait_for_event);
    OSTRAKEL_REQUIRED(isc_transaction_info);
    OSTRAKEL_REQUIRED(isc_prepare_transaction);
    OSTRAKEL_REQUIRED(isc_prepare_transaction2);

    if (OSTRAKEL_OPTIONAL(isc_rollback_retaining)) {
        FIBClientVersion = 6;
        OSTRAKEL_REQUIRED(isc_service_attach);
        OSTRAKEL_REQUIRED(isc_service_detach);
        OSTRAKEL_REQUIRED(isc_service_query);
        OSTRAKEL_REQUIRED(isc_service_start);
        OSTRAKEL_REQUIRED(isc_decode_sql_date);
        OSTRAKEL_REQUIRED(isc_decode_sql_time);
        OSTRAKEL_REQUIRED(isc_decode_timestamp);
        OSTRAKEL_REQUIRED(isc_encode_sql_date);
        OSTRAKEL_REQUIRED(isc_encode_sql_time);
        OSTRAKEL_REQUIRED(isc_encode_timestamp);
        OSTRAKEL_REQUIRED(isc_portable_integer);
    } else {
        FIBClientVersion = 5;
    }

    if (OSTRAKEL_OPTIONAL(isc_get_client_version)) {
        OSTRAKEL_REQUIRED(isc_get_client_major_version);
        OSTRAKEL_REQUIRED(isc_get_client_minor_version);
        FIBClientVersion = isc_get_client_major_version();
        FIBClientMinorVersion = isc_get_client_minor_version();
        optional(e.F_isc_dsql_batch_execute_immed, "isc_dsql_batch_execute_immed");
        optional(e.F_isc_dsql_batch_execute, "isc_dsql_batch_execute");
        OSTRAKEL_OPTIONAL(fb_cancel_operation);
    } else {
        FIBClientMinorVersion = 0;
    }
#undef OSTRAKEL_REQUIRED
#undef OSTRAKEL_OPTIONAL
}

ISC_LONG TIBClientLibrary::InterpretStatus(ISC_SCHAR* buffer, unsigned int bufferSize,
                                           const ISC_STATUS** vector) {
    if (FEntries->F_fb_interpret) return fb_interpret(buffer, bufferSize, vector);
    return isc_interprete(buffer, const_cast<ISC_STATUS**>(vector));
}

ISC_LONG TIBClientLibrary::isc_event_block(ISC_UCHAR** eventBuffer, ISC_UCHAR** resultBuffer,
                                           ISC_USHORT count, ...) {
    // The client accepts at most 15 names; unused trailing arguments are ignored.
    constexpr int kMaxEvents = 15;
    ISC_SCHAR* names[kMaxEvents] = {};
    va_list args;
    va_start(args, count);
    for (int i = 0; i < count && i < kMaxEvents; ++i)
        names[i] = va_arg(args, ISC_SCHAR*);
    va_end(args);
    return Invoke(FEntries->F_isc_event_block, "isc_event_block", eventBuffer, resultBuffer, count, names[0],
                  names[1], names[2], names[3], names[4], names[5], names[6], names[7], names[8], names[9],
                  names[10], names[11], names[12], names[13], names[14]);
}

int TIBClientLibrary::BLOB_get(FB_BLOB_STREAM a0) {
    return Invoke(FEntries->F_BLOB_get, "BLOB_get", a0);
}

int TIBClientLibrary::BLOB_put(ISC_SCHAR a0, FB_BLOB_STREAM a1) {
    return Invoke(FEntries->F_BLOB_put, "BLOB_put", a0, a1);
}

ISC_LONG TIBClientLibrary::isc_sqlcode(const ISC_STATUS* a0) {
    return Invoke(FEntries->F_isc_sqlcode, "isc_sqlcode", a0);
}

void TIBClientLibrary::isc_sql_interprete(short a0, ISC_SCHAR* a1, short a2) {
    return Invoke(FEntries->F_isc_sql_interprete, "isc_sql_interprete", a0, a1, a2);
}

ISC_LONG TIBClientLibrary::isc_interprete(ISC_SCHAR* a0, ISC_STATUS** a1) {
    return Invoke(FEntries->F_isc_interprete, "isc_interprete", a0, a1);
}

ISC_LONG TIBClientLibrary::fb_interpret(ISC_SCHAR* a0, unsigned int a1, const ISC_STATUS** a2) {
    return Invoke(FEntries->F_fb_interpret, "fb_interpret", a0, a1, a2);
}

ISC_LONG TIBClientLibrary::isc_vax_integer(const ISC_SCHAR* a0, short a1) {
    return Invoke(FEntries->F_isc_vax_integer, "isc_vax_integer", a0, a1);
}

ISC_STATUS TIBClientLibrary::isc_blob_info(ISC_STATUS* a0, isc_blob_handle* a1, short a2, const ISC_SCHAR* a3,
                                           short a4, ISC_SCHAR* a5) {
    return Invoke(FEntries->F_isc_blob_info, "isc_blob_info", a0, a1, a2, a3, a4, a5);
}

ISC_STATUS TIBClientLibrary::isc_open_blob2(ISC_STATUS* a0, isc_db_handle* a1, isc_tr_handle* a2,
                                            isc_blob_handle* a3, ISC_QUAD* a4, ISC_USHORT a5,
                                            const ISC_UCHAR* a6) {
    return Invoke(FEntries->F_isc_open_blob2, "isc_open_blob2", a0, a1, a2, a3, a4, a5, a6);
}

ISC_STATUS TIBClientLibrary::isc_close_blob(ISC_STATUS* a0, isc_blob_handle* a1) {
    return Invoke(FEntries->F_isc_close_blob, "isc_close_blob", a0, a1);
}

ISC_STATUS TIBClientLibrary::isc_get_segment(ISC_STATUS* a0, isc_blob_handle* a1, unsigned short* a2,
                                             unsigned short a3, ISC_SCHAR* a4) {
    return Invoke(FEntries->F_isc_get_segment, "isc_get_segment", a0, a1, a2, a3, a4);
}

ISC_STATUS TIBClientLibrary::isc_put_segment(ISC_STATUS* a0, isc_blob_handle* a1, unsigned short a2,
                                             const ISC_SCHAR* a3) {
    return Invoke(FEntries->F_isc_put_segment, "isc_put_segment", a0, a1, a2, a3);
}

ISC_STATUS TIBClientLibrary::isc_create_blob2(ISC_STATUS* a0, isc_db_handle* a1, isc_tr_handle* a2,
                                              isc_blob_handle* a3, ISC_QUAD* a4, short a5,
                                              const ISC_SCHAR* a6) {
    return Invoke(FEntries->F_isc_create_blob2, "isc_create_blob2", a0, a1, a2, a3, a4, a5, a6);
}

void TIBClientLibrary::isc_decode_date(const ISC_QUAD* a0, void* a1) {
    return Invoke(FEntries->F_isc_decode_date, "isc_decode_date", a0, a1);
}

void TIBClientLibrary::isc_encode_date(const void* a0, ISC_QUAD* a1) {
    return Invoke(FEntries->F_isc_encode_date, "isc_encode_date", a0, a1);
}

ISC_STATUS TIBClientLibrary::isc_dsql_free_statement(ISC_STATUS* a0, isc_stmt_handle* a1, unsigned short a2) {
    return Invoke(FEntries->F_isc_dsql_free_statement, "isc_dsql_free_statement", a0, a1, a2);
}

ISC_STATUS TIBClientLibrary::isc_dsql_execute2(ISC_STATUS* a0, isc_tr_handle* a1, isc_stmt_handle* a2,
                                               unsigned short a3, const XSQLDA* a4, const XSQLDA* a5) {
    return Invoke(FEntries->F_isc_dsql_execute2, "isc_dsql_execute2", a0, a1, a2, a3, a4, a5);
}

ISC_STATUS TIBClientLibrary::isc_dsql_execute(ISC_STATUS* a0, isc_tr_handle* a1, isc_stmt_handle* a2,
                                              unsigned short a3, const XSQLDA* a4) {
    return Invoke(FEntries->F_isc_dsql_execute, "isc_dsql_execute", a0, a1, a2, a3, a4);
}

ISC_STATUS TIBClientLibrary::isc_dsql_set_cursor_name(ISC_STATUS* a0, isc_stmt_handle* a1,
                                                      const ISC_SCHAR* a2, unsigned short a3) {
    return Invoke(FEntries->F_isc_dsql_set_cursor_name, "isc_dsql_set_cursor_name", a0, a1, a2, a3);
}

ISC_STATUS TIBClientLibrary::isc_dsql_fetch(ISC_STATUS* a0, isc_stmt_handle* a1, unsigned short a2,
                                            const XSQLDA* a3) {
    return Invoke(FEntries->F_isc_dsql_fetch, "isc_dsql_fetch", a0, a1, a2, a3);
}

ISC_STATUS TIBClientLibrary::isc_dsql_sql_info(ISC_STATUS* a0, isc_stmt_handle* a1, short a2,
                                               const ISC_SCHAR* a3, short a4, ISC_SCHAR* a5) {
    return Invoke(FEntries->F_isc_dsql_sql_info, "isc_dsql_sql_info", a0, a1, a2, a3, a4, a5);
}

ISC_STATUS TIBClientLibrary::isc_dsql_alloc_statement2(ISC_STATUS* a0, isc_db_handle* a1,
                                                       isc_stmt_handle* a2) {
    return Invoke(FEntries->F_isc_dsql_alloc_statement2, "isc_dsql_alloc_statement2", a0, a1, a2);
}

ISC_STATUS TIBClientLibrary::isc_dsql_prepare(ISC_STATUS* a0, isc_tr_handle* a1, isc_stmt_handle* a2,
                                              unsigned short a3, const ISC_SCHAR* a4, unsigned short a5,
                                              XSQLDA* a6) {
    return Invoke(FEntries->F_isc_dsql_prepare, "isc_dsql_prepare", a0, a1, a2, a3, a4, a5, a6);
}

ISC_STATUS TIBClientLibrary::isc_dsql_describe_bind(ISC_STATUS* a0, isc_stmt_handle* a1, unsigned short a2,
                                                    XSQLDA* a3) {
    return Invoke(FEntries->F_isc_dsql_describe_bind, "isc_dsql_describe_bind", a0, a1, a2, a3);
}

ISC_STATUS TIBClientLibrary::isc_dsql_describe(ISC_STATUS* a0, isc_stmt_handle* a1, unsigned short a2,
                                               XSQLDA* a3) {
    return Invoke(FEntries->F_isc_dsql_describe, "isc_dsql_describe", a0, a1, a2, a3);
}

ISC_STATUS TIBClientLibrary::isc_dsql_execute_immediate(ISC_STATUS* a0, isc_db_handle* a1, isc_tr_handle* a2,
                                                        unsigned short a3, const ISC_SCHAR* a4,
                                                        unsigned short a5, const XSQLDA* a6) {
    // CREATE DATABASE names a file.
    TUtf8FileNames fileNames;
    return Invoke(FEntries->F_isc_dsql_execute_immediate, "isc_dsql_execute_immediate", a0, a1, a2, a3, a4,
                  a5, a6);
}

ISC_STATUS TIBClientLibrary::isc_dsql_exec_immed2(ISC_STATUS* a0, isc_db_handle* a1, isc_tr_handle* a2,
                                                  unsigned short a3, const ISC_SCHAR* a4, unsigned short a5,
                                                  const XSQLDA* a6, const XSQLDA* a7) {
    TUtf8FileNames fileNames;
    return Invoke(FEntries->F_isc_dsql_exec_immed2, "isc_dsql_exec_immed2", a0, a1, a2, a3, a4, a5, a6, a7);
}

ISC_STATUS TIBClientLibrary::isc_drop_database(ISC_STATUS* a0, isc_db_handle* a1) {
    return Invoke(FEntries->F_isc_drop_database, "isc_drop_database", a0, a1);
}

ISC_STATUS TIBClientLibrary::isc_detach_database(ISC_STATUS* a0, isc_db_handle* a1) {
    return Invoke(FEntries->F_isc_detach_database, "isc_detach_database", a0, a1);
}

ISC_STATUS TIBClientLibrary::isc_attach_database(ISC_STATUS* a0, short a1, const ISC_SCHAR* a2,
                                                 isc_db_handle* a3, short a4, const ISC_SCHAR* a5) {
    TUtf8FileNames fileNames;
    return Invoke(FEntries->F_isc_attach_database, "isc_attach_database", a0, a1, a2, a3, a4, a5);
}

ISC_STATUS TIBClientLibrary::isc_database_info(ISC_STATUS* a0, isc_db_handle* a1, short a2,
                                               const ISC_SCHAR* a3, short a4, ISC_SCHAR* a5) {
    return Invoke(FEntries->F_isc_database_info, "isc_database_info", a0, a1, a2, a3, a4, a5);
}

ISC_STATUS TIBClientLibrary::isc_start_multiple(ISC_STATUS* a0, isc_tr_handle* a1, short a2, void* a3) {
    return Invoke(FEntries->F_isc_start_multiple, "isc_start_multiple", a0, a1, a2, a3);
}

ISC_STATUS TIBClientLibrary::isc_commit_transaction(ISC_STATUS* a0, isc_tr_handle* a1) {
    return Invoke(FEntries->F_isc_commit_transaction, "isc_commit_transaction", a0, a1);
}

ISC_STATUS TIBClientLibrary::isc_commit_retaining(ISC_STATUS* a0, isc_tr_handle* a1) {
    return Invoke(FEntries->F_isc_commit_retaining, "isc_commit_retaining", a0, a1);
}

ISC_STATUS TIBClientLibrary::isc_rollback_transaction(ISC_STATUS* a0, isc_tr_handle* a1) {
    return Invoke(FEntries->F_isc_rollback_transaction, "isc_rollback_transaction", a0, a1);
}

ISC_STATUS TIBClientLibrary::isc_cancel_events(ISC_STATUS* a0, isc_db_handle* a1, ISC_LONG* a2) {
    return Invoke(FEntries->F_isc_cancel_events, "isc_cancel_events", a0, a1, a2);
}

ISC_STATUS TIBClientLibrary::isc_que_events(ISC_STATUS* a0, isc_db_handle* a1, ISC_LONG* a2, short a3,
                                            const ISC_UCHAR* a4, ISC_EVENT_CALLBACK a5, void* a6) {
    return Invoke(FEntries->F_isc_que_events, "isc_que_events", a0, a1, a2, a3, a4, a5, a6);
}

void TIBClientLibrary::isc_event_counts(ISC_ULONG* a0, short a1, ISC_UCHAR* a2, const ISC_UCHAR* a3) {
    return Invoke(FEntries->F_isc_event_counts, "isc_event_counts", a0, a1, a2, a3);
}

ISC_LONG TIBClientLibrary::isc_free(ISC_SCHAR* a0) {
    return Invoke(FEntries->F_isc_free, "isc_free", a0);
}

ISC_STATUS TIBClientLibrary::isc_array_lookup_bounds(ISC_STATUS* a0, isc_db_handle* a1, isc_tr_handle* a2,
                                                     const ISC_SCHAR* a3, const ISC_SCHAR* a4,
                                                     ISC_ARRAY_DESC* a5) {
    return Invoke(FEntries->F_isc_array_lookup_bounds, "isc_array_lookup_bounds", a0, a1, a2, a3, a4, a5);
}

ISC_STATUS TIBClientLibrary::isc_array_get_slice(ISC_STATUS* a0, isc_db_handle* a1, isc_tr_handle* a2,
                                                 ISC_QUAD* a3, const ISC_ARRAY_DESC* a4, void* a5,
                                                 ISC_LONG* a6) {
    return Invoke(FEntries->F_isc_array_get_slice, "isc_array_get_slice", a0, a1, a2, a3, a4, a5, a6);
}

ISC_STATUS TIBClientLibrary::isc_array_put_slice(ISC_STATUS* a0, isc_db_handle* a1, isc_tr_handle* a2,
                                                 ISC_QUAD* a3, const ISC_ARRAY_DESC* a4, void* a5,
                                                 ISC_LONG* a6) {
    return Invoke(FEntries->F_isc_array_put_slice, "isc_array_put_slice", a0, a1, a2, a3, a4, a5, a6);
}

ISC_STATUS TIBClientLibrary::isc_wait_for_event(ISC_STATUS* a0, isc_db_handle* a1, short a2,
                                                const ISC_UCHAR* a3, ISC_UCHAR* a4) {
    return Invoke(FEntries->F_isc_wait_for_event, "isc_wait_for_event", a0, a1, a2, a3, a4);
}

ISC_STATUS TIBClientLibrary::isc_transaction_info(ISC_STATUS* a0, isc_tr_handle* a1, short a2,
                                                  const ISC_SCHAR* a3, short a4, ISC_SCHAR* a5) {
    return Invoke(FEntries->F_isc_transaction_info, "isc_transaction_info", a0, a1, a2, a3, a4, a5);
}

ISC_STATUS TIBClientLibrary::isc_prepare_transaction(ISC_STATUS* a0, isc_tr_handle* a1) {
    return Invoke(FEntries->F_isc_prepare_transaction, "isc_prepare_transaction", a0, a1);
}

ISC_STATUS TIBClientLibrary::isc_prepare_transaction2(ISC_STATUS* a0, isc_tr_handle* a1, ISC_USHORT a2,
                                                      const ISC_UCHAR* a3) {
    return Invoke(FEntries->F_isc_prepare_transaction2, "isc_prepare_transaction2", a0, a1, a2, a3);
}

ISC_STATUS TIBClientLibrary::isc_rollback_retaining(ISC_STATUS* a0, isc_tr_handle* a1) {
    return Invoke(FEntries->F_isc_rollback_retaining, "isc_rollback_retaining", a0, a1);
}

ISC_STATUS TIBClientLibrary::isc_service_attach(ISC_STATUS* a0, unsigned short a1, const ISC_SCHAR* a2,
                                                isc_svc_handle* a3, unsigned short a4, const ISC_SCHAR* a5) {
    return Invoke(FEntries->F_isc_service_attach, "isc_service_attach", a0, a1, a2, a3, a4, a5);
}

ISC_STATUS TIBClientLibrary::isc_service_detach(ISC_STATUS* a0, isc_svc_handle* a1) {
    return Invoke(FEntries->F_isc_service_detach, "isc_service_detach", a0, a1);
}

ISC_STATUS TIBClientLibrary::isc_service_query(ISC_STATUS* a0, isc_svc_handle* a1, isc_resv_handle* a2,
                                               unsigned short a3, const ISC_SCHAR* a4, unsigned short a5,
                                               const ISC_SCHAR* a6, unsigned short a7, ISC_SCHAR* a8) {
    return Invoke(FEntries->F_isc_service_query, "isc_service_query", a0, a1, a2, a3, a4, a5, a6, a7, a8);
}

ISC_STATUS TIBClientLibrary::isc_service_start(ISC_STATUS* a0, isc_svc_handle* a1, isc_resv_handle* a2,
                                               unsigned short a3, const ISC_SCHAR* a4) {
    return Invoke(FEntries->F_isc_service_start, "isc_service_start", a0, a1, a2, a3, a4);
}

void TIBClientLibrary::isc_decode_sql_date(const ISC_DATE* a0, void* a1) {
    return Invoke(FEntries->F_isc_decode_sql_date, "isc_decode_sql_date", a0, a1);
}

void TIBClientLibrary::isc_decode_sql_time(const ISC_TIME* a0, void* a1) {
    return Invoke(FEntries->F_isc_decode_sql_time, "isc_decode_sql_time", a0, a1);
}

void TIBClientLibrary::isc_decode_timestamp(const ISC_TIMESTAMP* a0, void* a1) {
    return Invoke(FEntries->F_isc_decode_timestamp, "isc_decode_timestamp", a0, a1);
}

void TIBClientLibrary::isc_encode_sql_date(const void* a0, ISC_DATE* a1) {
    return Invoke(FEntries->F_isc_encode_sql_date, "isc_encode_sql_date", a0, a1);
}

void TIBClientLibrary::isc_encode_sql_time(const void* a0, ISC_TIME* a1) {
    return Invoke(FEntries->F_isc_encode_sql_time, "isc_encode_sql_time", a0, a1);
}

void TIBClientLibrary::isc_encode_timestamp(const void* a0, ISC_TIMESTAMP* a1) {
    return Invoke(FEntries->F_isc_encode_timestamp, "isc_encode_timestamp", a0, a1);
}

ISC_INT64 TIBClientLibrary::isc_portable_integer(const ISC_UCHAR* a0, short a1) {
    return Invoke(FEntries->F_isc_portable_integer, "isc_portable_integer", a0, a1);
}

void TIBClientLibrary::isc_get_client_version(ISC_SCHAR* a0) {
    return Invoke(FEntries->F_isc_get_client_version, "isc_get_client_version", a0);
}

int TIBClientLibrary::isc_get_client_major_version() {
    return Invoke(FEntries->F_isc_get_client_major_version, "isc_get_client_major_version");
}

int TIBClientLibrary::isc_get_client_minor_version() {
    return Invoke(FEntries->F_isc_get_client_minor_version, "isc_get_client_minor_version");
}

ISC_STATUS TIBClientLibrary::fb_cancel_operation(ISC_STATUS* a0, isc_db_handle* a1, ISC_USHORT a2) {
    return Invoke(FEntries->F_fb_cancel_operation, "fb_cancel_operation", a0, a1, a2);
}

namespace {

struct TClientLibraryRegistry {
    std::mutex Lock;
    std::vector<std::shared_ptr<IIBClientLibrary>> Items;

    std::shared_ptr<IIBClientLibrary> Find(const std::string& name) {
        std::lock_guard<std::mutex> guard(Lock);
        for (const auto& item : Items)
            if (item->LibraryName() == name) return item;
        return nullptr;
    }
};

// Bindings are never removed while the process runs.
TClientLibraryRegistry& Registry() {
    static TClientLibraryRegistry registry;
    return registry;
}

} // namespace

std::shared_ptr<IIBClientLibrary> GetClientLibrary(const std::string& libraryName) {
    TClientLibraryRegistry& registry = Registry();
    if (auto found = registry.Find(libraryName)) {
        if (!found->LibraryLoaded()) found->LoadIBLibrary();
        return found;
    }
    // Loading happens outside the lock; a binding that fails to load throws
    // here and never reaches the list.
    auto created = std::make_shared<TIBClientLibrary>(libraryName);
    std::lock_guard<std::mutex> guard(registry.Lock);
    for (const auto& item : registry.Items)
        if (item->LibraryName() == libraryName) return item; // another thread was first
    registry.Items.push_back(created);
    return created;
}

} // namespace ostrakel
