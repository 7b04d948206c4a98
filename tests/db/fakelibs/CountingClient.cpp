// A client library that counts what the layer asks of the server: it defines
// the statement calls whose numbers tests look at, forwards them to the real
// libfbclient, and leaves every other entry point to libfbclient itself (the
// binding's dlsym on this library finds them among its dependencies).
#include <ibase.h>

#include <dlfcn.h>

#include <string>
#include <vector>

namespace {

long gCounts[9] = {};
bool gDropStatementType = false;
bool gBlankAliases = false;
std::vector<std::string> gPrepared; // the texts prepared since the last reset

// A server that names no column.
void BlankAliases(XSQLDA* x) {
    if (!gBlankAliases || !x) return;
    for (int i = 0; i < x->sqln && i < x->sqld; ++i)
        x->sqlvar[i].aliasname_length = 0;
}

template <class F> F Real(const char* name) {
    static void* lib = dlopen("libfbclient.so.2", RTLD_NOW | RTLD_GLOBAL);
    return reinterpret_cast<F>(dlsym(lib, name));
}

} // namespace

extern "C" {

// 0 prepare, 1 fetch, 2 execute, 3 allocate, 4 free (drop), 5 cursor close, 6 blob created,
// 7 parameters described, 8 statement information asked.
__attribute__((visibility("default"))) long counting_client_count(int which) {
    return gCounts[which];
}
__attribute__((visibility("default"))) void counting_client_reset() {
    for (long& c : gCounts)
        c = 0;
    gPrepared.clear();
}
// The i-th text prepared since the last reset, or null.
__attribute__((visibility("default"))) const char* counting_client_prepared(int i) {
    return i >= 0 && i < static_cast<int>(gPrepared.size()) ? gPrepared[static_cast<size_t>(i)].c_str()
                                                            : nullptr;
}
// While set, the statement information answers without the statement type.
__attribute__((visibility("default"))) void counting_client_drop_statement_type(bool drop) {
    gDropStatementType = drop;
}
// While set, the columns described come without their aliases.
__attribute__((visibility("default"))) void counting_client_blank_aliases(bool blank) {
    gBlankAliases = blank;
}

ISC_STATUS ISC_EXPORT isc_dsql_prepare(ISC_STATUS* s, isc_tr_handle* t, isc_stmt_handle* h, unsigned short l,
                                       const ISC_SCHAR* q, unsigned short d, XSQLDA* x) {
    ++gCounts[0];
    gPrepared.emplace_back(q, l ? l : std::char_traits<char>::length(q));
    const ISC_STATUS status = Real<decltype(&isc_dsql_prepare)>("isc_dsql_prepare")(s, t, h, l, q, d, x);
    BlankAliases(x);
    return status;
}

ISC_STATUS ISC_EXPORT isc_dsql_fetch(ISC_STATUS* s, isc_stmt_handle* h, unsigned short d, const XSQLDA* x) {
    ++gCounts[1];
    return Real<decltype(&isc_dsql_fetch)>("isc_dsql_fetch")(s, h, d, x);
}

ISC_STATUS ISC_EXPORT isc_dsql_execute(ISC_STATUS* s, isc_tr_handle* t, isc_stmt_handle* h, unsigned short d,
                                       const XSQLDA* x) {
    ++gCounts[2];
    return Real<decltype(&isc_dsql_execute)>("isc_dsql_execute")(s, t, h, d, x);
}

ISC_STATUS ISC_EXPORT isc_dsql_alloc_statement2(ISC_STATUS* s, isc_db_handle* db, isc_stmt_handle* h) {
    ++gCounts[3];
    return Real<decltype(&isc_dsql_alloc_statement2)>("isc_dsql_alloc_statement2")(s, db, h);
}

ISC_STATUS ISC_EXPORT isc_create_blob2(ISC_STATUS* s, isc_db_handle* db, isc_tr_handle* t, isc_blob_handle* b,
                                       ISC_QUAD* id, short bpbLength, const ISC_SCHAR* bpb) {
    ++gCounts[6];
    return Real<decltype(&isc_create_blob2)>("isc_create_blob2")(s, db, t, b, id, bpbLength, bpb);
}

ISC_STATUS ISC_EXPORT isc_dsql_describe(ISC_STATUS* s, isc_stmt_handle* h, unsigned short d, XSQLDA* x) {
    const ISC_STATUS status = Real<decltype(&isc_dsql_describe)>("isc_dsql_describe")(s, h, d, x);
    BlankAliases(x);
    return status;
}

ISC_STATUS ISC_EXPORT isc_dsql_describe_bind(ISC_STATUS* s, isc_stmt_handle* h, unsigned short d, XSQLDA* x) {
    ++gCounts[7];
    return Real<decltype(&isc_dsql_describe_bind)>("isc_dsql_describe_bind")(s, h, d, x);
}

ISC_STATUS ISC_EXPORT isc_dsql_free_statement(ISC_STATUS* s, isc_stmt_handle* h, unsigned short option) {
    ++gCounts[option == DSQL_drop ? 4 : 5];
    return Real<decltype(&isc_dsql_free_statement)>("isc_dsql_free_statement")(s, h, option);
}

ISC_STATUS ISC_EXPORT isc_dsql_sql_info(ISC_STATUS* s, isc_stmt_handle* h, short itemsLength,
                                        const ISC_SCHAR* items, short bufferLength, ISC_SCHAR* buffer) {
    ++gCounts[8];
    const ISC_STATUS status = Real<decltype(&isc_dsql_sql_info)>("isc_dsql_sql_info")(
        s, h, itemsLength, items, bufferLength, buffer);
    if (gDropStatementType && status == 0 && bufferLength > 0) buffer[0] = isc_info_end;
    return status;
}
}
