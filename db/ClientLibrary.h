// The binding to the Firebird client library: loaded at run time by file name,
// every entry point resolved by name, shared process-wide per file name.
#pragma once

#include <ibase.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "platform/DynamicLibrary.h"

namespace ostrakel {

inline constexpr const char* kDefaultLibraryName = "libfbclient.so.2";

// One operation per client entry point, with the client API's own parameters
// and result. Every call marks the binding busy for its duration. An entry
// point that the loaded library lacks raises "Can't find procedure %s in %s".
// Database file names (attach, CREATE DATABASE) are UTF-8, the platform's
// file-name code; the client is told so whatever the process locale.
class IIBClientLibrary {
public:
    virtual ~IIBClientLibrary() = default;

    virtual int BLOB_get(FB_BLOB_STREAM) = 0;
    virtual int BLOB_put(ISC_SCHAR, FB_BLOB_STREAM) = 0;
    virtual ISC_LONG isc_sqlcode(const ISC_STATUS*) = 0;
    virtual void isc_sql_interprete(short, ISC_SCHAR*, short) = 0;
    virtual ISC_LONG isc_interprete(ISC_SCHAR*, ISC_STATUS**) = 0;
    virtual ISC_LONG fb_interpret(ISC_SCHAR*, unsigned int, const ISC_STATUS**) = 0;
    virtual ISC_LONG isc_vax_integer(const ISC_SCHAR*, short) = 0;
    virtual ISC_STATUS isc_blob_info(ISC_STATUS*, isc_blob_handle*, short, const ISC_SCHAR*, short,
                                     ISC_SCHAR*) = 0;
    virtual ISC_STATUS isc_open_blob2(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, isc_blob_handle*,
                                      ISC_QUAD*, ISC_USHORT, const ISC_UCHAR*) = 0;
    virtual ISC_STATUS isc_close_blob(ISC_STATUS*, isc_blob_handle*) = 0;
    virtual ISC_STATUS isc_get_segment(ISC_STATUS*, isc_blob_handle*, unsigned short*, unsigned short,
                                       ISC_SCHAR*) = 0;
    virtual ISC_STATUS isc_put_segment(ISC_STATUS*, isc_blob_handle*, unsigned short, const ISC_SCHAR*) = 0;
    virtual ISC_STATUS isc_create_blob2(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, isc_blob_handle*,
                                        ISC_QUAD*, short, const ISC_SCHAR*) = 0;
    virtual void isc_decode_date(const ISC_QUAD*, void*) = 0;
    virtual void isc_encode_date(const void*, ISC_QUAD*) = 0;
    virtual ISC_STATUS isc_dsql_free_statement(ISC_STATUS*, isc_stmt_handle*, unsigned short) = 0;
    virtual ISC_STATUS isc_dsql_execute2(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short,
                                         const XSQLDA*, const XSQLDA*) = 0;
    virtual ISC_STATUS isc_dsql_execute(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short,
                                        const XSQLDA*) = 0;
    virtual ISC_STATUS isc_dsql_set_cursor_name(ISC_STATUS*, isc_stmt_handle*, const ISC_SCHAR*,
                                                unsigned short) = 0;
    virtual ISC_STATUS isc_dsql_fetch(ISC_STATUS*, isc_stmt_handle*, unsigned short, const XSQLDA*) = 0;
    virtual ISC_STATUS isc_dsql_sql_info(ISC_STATUS*, isc_stmt_handle*, short, const ISC_SCHAR*, short,
                                         ISC_SCHAR*) = 0;
    virtual ISC_STATUS isc_dsql_alloc_statement2(ISC_STATUS*, isc_db_handle*, isc_stmt_handle*) = 0;
    virtual ISC_STATUS isc_dsql_prepare(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short,
                                        const ISC_SCHAR*, unsigned short, XSQLDA*) = 0;
    virtual ISC_STATUS isc_dsql_describe_bind(ISC_STATUS*, isc_stmt_handle*, unsigned short, XSQLDA*) = 0;
    virtual ISC_STATUS isc_dsql_describe(ISC_STATUS*, isc_stmt_handle*, unsigned short, XSQLDA*) = 0;
    virtual ISC_STATUS isc_dsql_execute_immediate(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, unsigned short,
                                                  const ISC_SCHAR*, unsigned short, const XSQLDA*) = 0;
    virtual ISC_STATUS isc_dsql_exec_immed2(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, unsigned short,
                                            const ISC_SCHAR*, unsigned short, const XSQLDA*,
                                            const XSQLDA*) = 0;
    virtual ISC_STATUS isc_drop_database(ISC_STATUS*, isc_db_handle*) = 0;
    virtual ISC_STATUS isc_detach_database(ISC_STATUS*, isc_db_handle*) = 0;
    virtual ISC_STATUS isc_attach_database(ISC_STATUS*, short, const ISC_SCHAR*, isc_db_handle*, short,
                                           const ISC_SCHAR*) = 0;
    virtual ISC_STATUS isc_database_info(ISC_STATUS*, isc_db_handle*, short, const ISC_SCHAR*, short,
                                         ISC_SCHAR*) = 0;
    virtual ISC_STATUS isc_start_multiple(ISC_STATUS*, isc_tr_handle*, short, void*) = 0;
    virtual ISC_STATUS isc_commit_transaction(ISC_STATUS*, isc_tr_handle*) = 0;
    virtual ISC_STATUS isc_commit_retaining(ISC_STATUS*, isc_tr_handle*) = 0;
    virtual ISC_STATUS isc_rollback_transaction(ISC_STATUS*, isc_tr_handle*) = 0;
    virtual ISC_STATUS isc_cancel_events(ISC_STATUS*, isc_db_handle*, ISC_LONG*) = 0;
    virtual ISC_STATUS isc_que_events(ISC_STATUS*, isc_db_handle*, ISC_LONG*, short, const ISC_UCHAR*,
                                      ISC_EVENT_CALLBACK, void*) = 0;
    virtual void isc_event_counts(ISC_ULONG*, short, ISC_UCHAR*, const ISC_UCHAR*) = 0;
    virtual ISC_LONG isc_free(ISC_SCHAR*) = 0;
    virtual ISC_STATUS isc_array_lookup_bounds(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, const ISC_SCHAR*,
                                               const ISC_SCHAR*, ISC_ARRAY_DESC*) = 0;
    virtual ISC_STATUS isc_array_get_slice(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, ISC_QUAD*,
                                           const ISC_ARRAY_DESC*, void*, ISC_LONG*) = 0;
    virtual ISC_STATUS isc_array_put_slice(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, ISC_QUAD*,
                                           const ISC_ARRAY_DESC*, void*, ISC_LONG*) = 0;
    virtual ISC_STATUS isc_wait_for_event(ISC_STATUS*, isc_db_handle*, short, const ISC_UCHAR*,
                                          ISC_UCHAR*) = 0;
    virtual ISC_STATUS isc_transaction_info(ISC_STATUS*, isc_tr_handle*, short, const ISC_SCHAR*, short,
                                            ISC_SCHAR*) = 0;
    virtual ISC_STATUS isc_prepare_transaction(ISC_STATUS*, isc_tr_handle*) = 0;
    virtual ISC_STATUS isc_prepare_transaction2(ISC_STATUS*, isc_tr_handle*, ISC_USHORT,
                                                const ISC_UCHAR*) = 0;
    virtual ISC_STATUS isc_rollback_retaining(ISC_STATUS*, isc_tr_handle*) = 0;
    virtual ISC_STATUS isc_service_attach(ISC_STATUS*, unsigned short, const ISC_SCHAR*, isc_svc_handle*,
                                          unsigned short, const ISC_SCHAR*) = 0;
    virtual ISC_STATUS isc_service_detach(ISC_STATUS*, isc_svc_handle*) = 0;
    virtual ISC_STATUS isc_service_query(ISC_STATUS*, isc_svc_handle*, isc_resv_handle*, unsigned short,
                                         const ISC_SCHAR*, unsigned short, const ISC_SCHAR*, unsigned short,
                                         ISC_SCHAR*) = 0;
    virtual ISC_STATUS isc_service_start(ISC_STATUS*, isc_svc_handle*, isc_resv_handle*, unsigned short,
                                         const ISC_SCHAR*) = 0;
    virtual void isc_decode_sql_date(const ISC_DATE*, void*) = 0;
    virtual void isc_decode_sql_time(const ISC_TIME*, void*) = 0;
    virtual void isc_decode_timestamp(const ISC_TIMESTAMP*, void*) = 0;
    virtual void isc_encode_sql_date(const void*, ISC_DATE*) = 0;
    virtual void isc_encode_sql_time(const void*, ISC_TIME*) = 0;
    virtual void isc_encode_timestamp(const void*, ISC_TIMESTAMP*) = 0;
    virtual ISC_INT64 isc_portable_integer(const ISC_UCHAR*, short) = 0;
    virtual void isc_get_client_version(ISC_SCHAR*) = 0;
    virtual int isc_get_client_major_version() = 0;
    virtual int isc_get_client_minor_version() = 0;
    virtual ISC_STATUS fb_cancel_operation(ISC_STATUS*, isc_db_handle*, ISC_USHORT) = 0;

    // isc_event_block takes up to 15 event names after the count.
    virtual ISC_LONG isc_event_block(ISC_UCHAR** eventBuffer, ISC_UCHAR** resultBuffer, ISC_USHORT count,
                                     ...) = 0;

    // Status-vector interpretation: fb_interpret where the library has it,
    // isc_interprete otherwise (which cannot be told the buffer size).
    virtual ISC_LONG InterpretStatus(ISC_SCHAR* buffer, unsigned int bufferSize,
                                     const ISC_STATUS** vector) = 0;

    virtual void LoadIBLibrary() = 0;
    virtual void FreeIBLibrary() = 0;
    virtual bool LibraryLoaded() const = 0;
    virtual const std::string& LibraryName() const = 0;
    virtual int ClientVersion() const = 0;
    virtual int ClientMinorVersion() const = 0;
    // True while a call through the binding runs.
    virtual bool Busy() const = 0;
};

// The binding itself. It is created loaded; a failed load throws from the
// constructor and leaves nothing loaded.
class TIBClientLibrary final : public IIBClientLibrary {
public:
    explicit TIBClientLibrary(std::string libraryName);
    ~TIBClientLibrary() override;

    TIBClientLibrary(const TIBClientLibrary&) = delete;
    TIBClientLibrary& operator=(const TIBClientLibrary&) = delete;

    int BLOB_get(FB_BLOB_STREAM) override;
    int BLOB_put(ISC_SCHAR, FB_BLOB_STREAM) override;
    ISC_LONG isc_sqlcode(const ISC_STATUS*) override;
    void isc_sql_interprete(short, ISC_SCHAR*, short) override;
    ISC_LONG isc_interprete(ISC_SCHAR*, ISC_STATUS**) override;
    ISC_LONG fb_interpret(ISC_SCHAR*, unsigned int, const ISC_STATUS**) override;
    ISC_LONG isc_vax_integer(const ISC_SCHAR*, short) override;
    ISC_STATUS isc_blob_info(ISC_STATUS*, isc_blob_handle*, short, const ISC_SCHAR*, short,
                             ISC_SCHAR*) override;
    ISC_STATUS isc_open_blob2(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, isc_blob_handle*, ISC_QUAD*,
                              ISC_USHORT, const ISC_UCHAR*) override;
    ISC_STATUS isc_close_blob(ISC_STATUS*, isc_blob_handle*) override;
    ISC_STATUS isc_get_segment(ISC_STATUS*, isc_blob_handle*, unsigned short*, unsigned short,
                               ISC_SCHAR*) override;
    ISC_STATUS isc_put_segment(ISC_STATUS*, isc_blob_handle*, unsigned short, const ISC_SCHAR*) override;
    ISC_STATUS isc_create_blob2(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, isc_blob_handle*, ISC_QUAD*,
                                short, const ISC_SCHAR*) override;
    void isc_decode_date(const ISC_QUAD*, void*) override;
    void isc_encode_date(const void*, ISC_QUAD*) override;
    ISC_STATUS isc_dsql_free_statement(ISC_STATUS*, isc_stmt_handle*, unsigned short) override;
    ISC_STATUS isc_dsql_execute2(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short, const XSQLDA*,
                                 const XSQLDA*) override;
    ISC_STATUS isc_dsql_execute(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short,
                                const XSQLDA*) override;
    ISC_STATUS isc_dsql_set_cursor_name(ISC_STATUS*, isc_stmt_handle*, const ISC_SCHAR*,
                                        unsigned short) override;
    ISC_STATUS isc_dsql_fetch(ISC_STATUS*, isc_stmt_handle*, unsigned short, const XSQLDA*) override;
    ISC_STATUS isc_dsql_sql_info(ISC_STATUS*, isc_stmt_handle*, short, const ISC_SCHAR*, short,
                                 ISC_SCHAR*) override;
    ISC_STATUS isc_dsql_alloc_statement2(ISC_STATUS*, isc_db_handle*, isc_stmt_handle*) override;
    ISC_STATUS isc_dsql_prepare(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short,
                                const ISC_SCHAR*, unsigned short, XSQLDA*) override;
    ISC_STATUS isc_dsql_describe_bind(ISC_STATUS*, isc_stmt_handle*, unsigned short, XSQLDA*) override;
    ISC_STATUS isc_dsql_describe(ISC_STATUS*, isc_stmt_handle*, unsigned short, XSQLDA*) override;
    ISC_STATUS isc_dsql_execute_immediate(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, unsigned short,
                                          const ISC_SCHAR*, unsigned short, const XSQLDA*) override;
    ISC_STATUS isc_dsql_exec_immed2(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, unsigned short,
                                    const ISC_SCHAR*, unsigned short, const XSQLDA*, const XSQLDA*) override;
    ISC_STATUS isc_drop_database(ISC_STATUS*, isc_db_handle*) override;
    ISC_STATUS isc_detach_database(ISC_STATUS*, isc_db_handle*) override;
    ISC_STATUS isc_attach_database(ISC_STATUS*, short, const ISC_SCHAR*, isc_db_handle*, short,
                                   const ISC_SCHAR*) override;
    ISC_STATUS isc_database_info(ISC_STATUS*, isc_db_handle*, short, const ISC_SCHAR*, short,
                                 ISC_SCHAR*) override;
    ISC_STATUS isc_start_multiple(ISC_STATUS*, isc_tr_handle*, short, void*) override;
    ISC_STATUS isc_commit_transaction(ISC_STATUS*, isc_tr_handle*) override;
    ISC_STATUS isc_commit_retaining(ISC_STATUS*, isc_tr_handle*) override;
    ISC_STATUS isc_rollback_transaction(ISC_STATUS*, isc_tr_handle*) override;
    ISC_STATUS isc_cancel_events(ISC_STATUS*, isc_db_handle*, ISC_LONG*) override;
    ISC_STATUS isc_que_events(ISC_STATUS*, isc_db_handle*, ISC_LONG*, short, const ISC_UCHAR*,
                              ISC_EVENT_CALLBACK, void*) override;
    void isc_event_counts(ISC_ULONG*, short, ISC_UCHAR*, const ISC_UCHAR*) override;
    ISC_LONG isc_free(ISC_SCHAR*) override;
    ISC_STATUS isc_array_lookup_bounds(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, const ISC_SCHAR*,
                                       const ISC_SCHAR*, ISC_ARRAY_DESC*) override;
    ISC_STATUS isc_array_get_slice(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, ISC_QUAD*,
                                   const ISC_ARRAY_DESC*, void*, ISC_LONG*) override;
    ISC_STATUS isc_array_put_slice(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, ISC_QUAD*,
                                   const ISC_ARRAY_DESC*, void*, ISC_LONG*) override;
    ISC_STATUS isc_wait_for_event(ISC_STATUS*, isc_db_handle*, short, const ISC_UCHAR*, ISC_UCHAR*) override;
    ISC_STATUS isc_transaction_info(ISC_STATUS*, isc_tr_handle*, short, const ISC_SCHAR*, short,
                                    ISC_SCHAR*) override;
    ISC_STATUS isc_prepare_transaction(ISC_STATUS*, isc_tr_handle*) override;
    ISC_STATUS isc_prepare_transaction2(ISC_STATUS*, isc_tr_handle*, ISC_USHORT, const ISC_UCHAR*) override;
    ISC_STATUS isc_rollback_retaining(ISC_STATUS*, isc_tr_handle*) override;
    ISC_STATUS isc_service_attach(ISC_STATUS*, unsigned short, const ISC_SCHAR*, isc_svc_handle*,
                                  unsigned short, const ISC_SCHAR*) override;
    ISC_STATUS isc_service_detach(ISC_STATUS*, isc_svc_handle*) override;
    ISC_STATUS isc_service_query(ISC_STATUS*, isc_svc_handle*, isc_resv_handle*, unsigned short,
                                 const ISC_SCHAR*, unsigned short, const ISC_SCHAR*, unsigned short,
                                 ISC_SCHAR*) override;
    ISC_STATUS isc_service_start(ISC_STATUS*, isc_svc_handle*, isc_resv_handle*, unsigned short,
                                 const ISC_SCHAR*) override;
    void isc_decode_sql_date(const ISC_DATE*, void*) override;
    void isc_decode_sql_time(const ISC_TIME*, void*) override;
    void isc_decode_timestamp(const ISC_TIMESTAMP*, void*) override;
    void isc_encode_sql_date(const void*, ISC_DATE*) override;
    void isc_encode_sql_time(const void*, ISC_TIME*) override;
    void isc_encode_timestamp(const void*, ISC_TIMESTAMP*) override;
    ISC_INT64 isc_portable_integer(const ISC_UCHAR*, short) override;
    void isc_get_client_version(ISC_SCHAR*) override;
    int isc_get_client_major_version() override;
    int isc_get_client_minor_version() override;
    ISC_STATUS fb_cancel_operation(ISC_STATUS*, isc_db_handle*, ISC_USHORT) override;
    ISC_LONG isc_event_block(ISC_UCHAR** eventBuffer, ISC_UCHAR** resultBuffer, ISC_USHORT count,
                             ...) override;
    ISC_LONG InterpretStatus(ISC_SCHAR* buffer, unsigned int bufferSize, const ISC_STATUS** vector) override;

    void LoadIBLibrary() override;
    void FreeIBLibrary() override;
    bool LibraryLoaded() const override { return FLibraryHandle.Loaded(); }
    const std::string& LibraryName() const override { return FLibraryName; }
    int ClientVersion() const override { return FIBClientVersion; }
    int ClientMinorVersion() const override { return FIBClientMinorVersion; }
    bool Busy() const override { return FBusy.load(); }

private:
    struct TEntryPoints;

    // Runs one entry point with the busy mark set, also when it fails.
    template <class Fn, class... Args> auto Invoke(Fn fn, const char* name, Args... args);
    [[noreturn]] void RaiseMissingProcedure(const char* name) const;
    void ResolveEntryPoints();

    const std::string FLibraryName;
    TDynamicLibrary FLibraryHandle;
    int FIBClientVersion = 0;
    int FIBClientMinorVersion = 0;
    std::atomic<bool> FBusy{false};
    std::unique_ptr<TEntryPoints> FEntries;
};

// Firebird's client catches SIGINT and SIGTERM once a database is attached and
// shuts its attachments down; before it does, it asks every loaded binding.
// The answer is always yes (a refusal leaves the process hanging), and the
// handler set here is told, on one of the client's own threads, so that the
// program can end as its window's close does. The handler may do no more than
// a signal handler may; without one the client's shutdown goes on unheard.
using TClientShutdownHandler = void (*)();
void SetClientShutdownHandler(TClientShutdownHandler handler);
// That shutdown goes on on the client's thread while the program closes, and
// the process must not end under it: waits until it has finished, at most
// `timeout`; returns at once when no such shutdown began.
void WaitForClientShutdown(std::chrono::milliseconds timeout);

// The process-wide registry: the binding for exactly this file name
// (case-sensitive), created and loaded on first use, reloaded when it has
// been unloaded since. Loading failures propagate; a binding that failed to
// load is never registered.
std::shared_ptr<IIBClientLibrary> GetClientLibrary(const std::string& libraryName);

} // namespace ostrakel
