// A stand-in client library for the binding's tests: it exports the client
// API's names, leaves out the entry points that a variant is built without
// (see CMakeLists.txt) and interprets status vectors of its own making:
// isc_arg_gds and a code, optionally followed by isc_arg_string and the text.
#include <ibase.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Plain C data only: a C++ library symbol here could pin the library in
// memory and defeat the unloading that the tests look for.
char gSqlText[4096] = "";
ISC_LONG gSqlCode = 0;
const char* gLastInterpreter = "";
void (*gCallHook)() = nullptr;
// Database information answers "truncated" to every request while set, and
// the buffer lengths asked for are kept.
int gInfoTruncated = 0;
short gInfoLengths[64];
int gInfoRequests = 0;

ISC_LONG Interpret(ISC_SCHAR* buffer, unsigned int size, const ISC_STATUS** vector) {
    const ISC_STATUS* v = *vector;
    if (v[0] != isc_arg_gds) return 0;
    char number[64];
    std::snprintf(number, sizeof number, "fake error %ld", static_cast<long>(v[1]));
    const char* text = number;
    v += 2;
    if (v[0] == isc_arg_string) {
        text = reinterpret_cast<const char*>(v[1]);
        v += 2;
    }
    *vector = v;
    const size_t n = std::min<size_t>(std::strlen(text), size - 1);
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
    return static_cast<ISC_LONG>(n);
}

} // namespace

extern "C" {

// Controls for the tests.
__attribute__((visibility("default"))) void fake_set_sql_text(const char* text) {
    std::snprintf(gSqlText, sizeof gSqlText, "%s", text);
}
__attribute__((visibility("default"))) void fake_set_sqlcode(ISC_LONG code) {
    gSqlCode = code;
}
__attribute__((visibility("default"))) const char* fake_last_interpreter() {
    return gLastInterpreter;
}
__attribute__((visibility("default"))) void fake_set_call_hook(void (*hook)()) {
    gCallHook = hook;
}
__attribute__((visibility("default"))) void fake_set_info_truncated(int on) {
    gInfoTruncated = on;
    gInfoRequests = 0;
}
__attribute__((visibility("default"))) int fake_info_requests(const short** lengths) {
    *lengths = gInfoLengths;
    return gInfoRequests;
}

} // extern "C"

ISC_LONG isc_sqlcode(const ISC_STATUS*) {
    return gSqlCode;
}

void isc_sql_interprete(short, ISC_SCHAR* buffer, short length) {
    if (length <= 0) return;
    const size_t n = std::min<size_t>(std::strlen(gSqlText), static_cast<size_t>(length) - 1);
    std::memcpy(buffer, gSqlText, n);
    buffer[n] = '\0';
}

ISC_LONG isc_interprete(ISC_SCHAR* buffer, ISC_STATUS** vector) {
    gLastInterpreter = "isc_interprete";
    return Interpret(buffer, 1024, const_cast<const ISC_STATUS**>(vector));
}

#ifndef FAKE_WITHOUT_FB_INTERPRET
ISC_LONG fb_interpret(ISC_SCHAR* buffer, unsigned int size, const ISC_STATUS** vector) {
    gLastInterpreter = "fb_interpret";
    return Interpret(buffer, size, vector);
}
#endif

// A refused attach, with the hook run while the call is in progress.
ISC_STATUS isc_attach_database(ISC_STATUS* status, short, const ISC_SCHAR*, isc_db_handle*, short,
                               const ISC_SCHAR*) {
    if (gCallHook) gCallHook();
    status[0] = isc_arg_gds;
    status[1] = isc_io_error;
    status[2] = isc_arg_end;
    return status[1];
}

// Answers the total length of the names it was given, so that a test sees
// every name arrive.
ISC_LONG isc_event_block(ISC_UCHAR**, ISC_UCHAR**, ISC_USHORT count, ...) {
    va_list args;
    va_start(args, count);
    ISC_LONG total = 0;
    for (int i = 0; i < count; ++i)
        total += static_cast<ISC_LONG>(std::strlen(va_arg(args, const char*)));
    va_end(args);
    return total;
}

#ifndef FAKE_WITHOUT_PREPARE
ISC_STATUS isc_dsql_prepare(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short, const ISC_SCHAR*,
                            unsigned short, XSQLDA*) {
    return 0;
}
#endif

#ifndef FAKE_WITHOUT_RETAINING
ISC_STATUS isc_rollback_retaining(ISC_STATUS*, isc_tr_handle*) {
    return 0;
}
#endif

#ifndef FAKE_WITHOUT_CLIENT_VERSION
void isc_get_client_version(ISC_SCHAR* buffer) {
    std::strcpy(buffer, "Fake client 2.5");
}
int isc_get_client_major_version() {
    return 2;
}
int isc_get_client_minor_version() {
    return 5;
}
#endif

// Everything else only has to be there.
int BLOB_get(FB_BLOB_STREAM) {
    return 0;
}
int BLOB_put(ISC_SCHAR, FB_BLOB_STREAM) {
    return 0;
}
ISC_LONG isc_vax_integer(const ISC_SCHAR*, short) {
    return 0;
}
ISC_STATUS isc_blob_info(ISC_STATUS*, isc_blob_handle*, short, const ISC_SCHAR*, short, ISC_SCHAR*) {
    return 0;
}
ISC_STATUS isc_open_blob2(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, isc_blob_handle*, ISC_QUAD*,
                          ISC_USHORT, const ISC_UCHAR*) {
    return 0;
}
ISC_STATUS isc_close_blob(ISC_STATUS*, isc_blob_handle*) {
    return 0;
}
ISC_STATUS isc_get_segment(ISC_STATUS*, isc_blob_handle*, unsigned short*, unsigned short, ISC_SCHAR*) {
    return 0;
}
ISC_STATUS isc_put_segment(ISC_STATUS*, isc_blob_handle*, unsigned short, const ISC_SCHAR*) {
    return 0;
}
ISC_STATUS isc_create_blob2(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, isc_blob_handle*, ISC_QUAD*, short,
                            const ISC_SCHAR*) {
    return 0;
}
void isc_decode_date(const ISC_QUAD*, void*) {}
void isc_encode_date(const void*, ISC_QUAD*) {}
ISC_STATUS isc_dsql_free_statement(ISC_STATUS*, isc_stmt_handle*, unsigned short) {
    return 0;
}
ISC_STATUS isc_dsql_execute2(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short, const XSQLDA*,
                             const XSQLDA*) {
    return 0;
}
ISC_STATUS isc_dsql_execute(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short, const XSQLDA*) {
    return 0;
}
ISC_STATUS isc_dsql_set_cursor_name(ISC_STATUS*, isc_stmt_handle*, const ISC_SCHAR*, unsigned short) {
    return 0;
}
ISC_STATUS isc_dsql_fetch(ISC_STATUS*, isc_stmt_handle*, unsigned short, const XSQLDA*) {
    return 0;
}
ISC_STATUS isc_dsql_sql_info(ISC_STATUS*, isc_stmt_handle*, short, const ISC_SCHAR*, short, ISC_SCHAR*) {
    return 0;
}
ISC_STATUS isc_dsql_alloc_statement2(ISC_STATUS*, isc_db_handle*, isc_stmt_handle*) {
    return 0;
}
ISC_STATUS isc_dsql_describe_bind(ISC_STATUS*, isc_stmt_handle*, unsigned short, XSQLDA*) {
    return 0;
}
ISC_STATUS isc_dsql_describe(ISC_STATUS*, isc_stmt_handle*, unsigned short, XSQLDA*) {
    return 0;
}
ISC_STATUS isc_dsql_execute_immediate(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, unsigned short,
                                      const ISC_SCHAR*, unsigned short, const XSQLDA*) {
    return 0;
}
ISC_STATUS isc_dsql_exec_immed2(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, unsigned short, const ISC_SCHAR*,
                                unsigned short, const XSQLDA*, const XSQLDA*) {
    return 0;
}
ISC_STATUS isc_drop_database(ISC_STATUS*, isc_db_handle*) {
    return 0;
}
ISC_STATUS isc_detach_database(ISC_STATUS*, isc_db_handle*) {
    return 0;
}
ISC_STATUS isc_database_info(ISC_STATUS*, isc_db_handle*, short, const ISC_SCHAR*, short length,
                             ISC_SCHAR* buffer) {
    if (!gInfoTruncated) return 0;
    if (gInfoRequests < 64) gInfoLengths[gInfoRequests] = length;
    if (++gInfoRequests > 64) return 0; // a caller that never stops asking gets an empty answer
    if (length > 0) buffer[0] = isc_info_truncated;
    return 0;
}
ISC_STATUS isc_start_multiple(ISC_STATUS*, isc_tr_handle*, short, void*) {
    return 0;
}
ISC_STATUS isc_commit_transaction(ISC_STATUS*, isc_tr_handle*) {
    return 0;
}
ISC_STATUS isc_commit_retaining(ISC_STATUS*, isc_tr_handle*) {
    return 0;
}
ISC_STATUS isc_rollback_transaction(ISC_STATUS*, isc_tr_handle*) {
    return 0;
}
ISC_STATUS isc_cancel_events(ISC_STATUS*, isc_db_handle*, ISC_LONG*) {
    return 0;
}
ISC_STATUS isc_que_events(ISC_STATUS*, isc_db_handle*, ISC_LONG*, short, const ISC_UCHAR*, ISC_EVENT_CALLBACK,
                          void*) {
    return 0;
}
void isc_event_counts(ISC_ULONG*, short, ISC_UCHAR*, const ISC_UCHAR*) {}
ISC_LONG isc_free(ISC_SCHAR*) {
    return 0;
}
ISC_STATUS isc_array_lookup_bounds(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, const ISC_SCHAR*,
                                   const ISC_SCHAR*, ISC_ARRAY_DESC*) {
    return 0;
}
ISC_STATUS isc_array_get_slice(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, ISC_QUAD*, const ISC_ARRAY_DESC*,
                               void*, ISC_LONG*) {
    return 0;
}
ISC_STATUS isc_array_put_slice(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, ISC_QUAD*, const ISC_ARRAY_DESC*,
                               void*, ISC_LONG*) {
    return 0;
}
ISC_STATUS isc_wait_for_event(ISC_STATUS*, isc_db_handle*, short, const ISC_UCHAR*, ISC_UCHAR*) {
    return 0;
}
ISC_STATUS isc_transaction_info(ISC_STATUS*, isc_tr_handle*, short, const ISC_SCHAR*, short, ISC_SCHAR*) {
    return 0;
}
ISC_STATUS isc_prepare_transaction(ISC_STATUS*, isc_tr_handle*) {
    return 0;
}
ISC_STATUS isc_prepare_transaction2(ISC_STATUS*, isc_tr_handle*, ISC_USHORT, const ISC_UCHAR*) {
    return 0;
}
ISC_STATUS isc_service_attach(ISC_STATUS*, unsigned short, const ISC_SCHAR*, isc_svc_handle*, unsigned short,
                              const ISC_SCHAR*) {
    return 0;
}
ISC_STATUS isc_service_detach(ISC_STATUS*, isc_svc_handle*) {
    return 0;
}
ISC_STATUS isc_service_query(ISC_STATUS*, isc_svc_handle*, isc_resv_handle*, unsigned short, const ISC_SCHAR*,
                             unsigned short, const ISC_SCHAR*, unsigned short, ISC_SCHAR*) {
    return 0;
}
ISC_STATUS isc_service_start(ISC_STATUS*, isc_svc_handle*, isc_resv_handle*, unsigned short,
                             const ISC_SCHAR*) {
    return 0;
}
void isc_decode_sql_date(const ISC_DATE*, void*) {}
void isc_decode_sql_time(const ISC_TIME*, void*) {}
void isc_decode_timestamp(const ISC_TIMESTAMP*, void*) {}
void isc_encode_sql_date(const void*, ISC_DATE*) {}
void isc_encode_sql_time(const void*, ISC_TIME*) {}
void isc_encode_timestamp(const void*, ISC_TIMESTAMP*) {}
ISC_INT64 isc_portable_integer(const ISC_UCHAR*, short) {
    return 0;
}
ISC_STATUS fb_cancel_operation(ISC_STATUS*, isc_db_handle*, ISC_USHORT) {
    return 0;
}
