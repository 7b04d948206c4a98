#include "bench/pass/DirectApi.h"

#include <cstring>
#include <limits>

namespace ostrakel::bench {

namespace {

std::string Dpb(std::optional<bool> forcedWrites, bool create) {
    std::string dpb(1, isc_dpb_version1);
    auto text = [&dpb](char code, const std::string& value) {
        dpb += code;
        dpb += static_cast<char>(value.size());
        dpb += value;
    };
    auto number = [&dpb](char code, int value) {
        dpb += code;
        dpb += static_cast<char>(4);
        for (int i = 0; i < 4; ++i)
            dpb += static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    text(isc_dpb_user_name, kUser);
    text(isc_dpb_password, kPassword);
    text(isc_dpb_lc_ctype, "WIN1250");
    if (create) {
        text(isc_dpb_set_db_charset, "WIN1250");
        number(isc_dpb_page_size, 8192);
        number(isc_dpb_sql_dialect, kDialect);
    }
    if (forcedWrites) number(isc_dpb_force_write, *forcedWrites ? 1 : 0);
    return dpb;
}

} // namespace

void Check(ISC_STATUS result, const ISC_STATUS* status, const std::string& what) {
    if (!result) return;
    std::string message = what + ":";
    const ISC_STATUS* p = status;
    char buffer[1024];
    while (fb_interpret(buffer, sizeof buffer, &p) > 0) {
        message += " ";
        message += buffer;
    }
    throw EApiError(message);
}

const std::string& SystemTpb() {
    static const std::string tpb = {isc_tpb_version3, isc_tpb_write, isc_tpb_nowait, isc_tpb_read_committed,
                                    isc_tpb_rec_version};
    return tpb;
}

TDirectAttachment::TDirectAttachment(const std::string& path, std::optional<bool> forcedWrites) {
    ISC_STATUS_ARRAY sv;
    const std::string dpb = Dpb(forcedWrites, false);
    Check(isc_attach_database(sv, static_cast<short>(path.size()), path.c_str(), &FHandle,
                              static_cast<short>(dpb.size()), dpb.data()),
          sv, "attach " + path);
}

TDirectAttachment::~TDirectAttachment() {
    ISC_STATUS_ARRAY sv;
    if (FHandle) isc_detach_database(sv, &FHandle);
}

void TDirectAttachment::Create(const std::string& path) {
    ISC_STATUS_ARRAY sv;
    isc_db_handle db = 0;
    const std::string dpb = Dpb(false, true);
    Check(isc_create_database(sv, static_cast<short>(path.size()), path.c_str(), &db,
                              static_cast<short>(dpb.size()), dpb.data(), 0),
          sv, "create " + path);
    isc_detach_database(sv, &db);
}

isc_tr_handle TDirectAttachment::Start(const std::string& tpb) {
    ISC_STATUS_ARRAY sv;
    isc_tr_handle tr = 0;
    Check(isc_start_transaction(sv, &tr, 1, &FHandle, static_cast<unsigned short>(tpb.size()), tpb.data()),
          sv, "start");
    return tr;
}

void TDirectAttachment::Execute(const std::string& sql) {
    static const std::string tpb = {isc_tpb_version3, isc_tpb_write, isc_tpb_concurrency, isc_tpb_wait};
    ISC_STATUS_ARRAY sv;
    isc_tr_handle tr = Start(tpb);
    const ISC_STATUS rc = isc_dsql_execute_immediate(sv, &FHandle, &tr, 0, sql.c_str(), kDialect, nullptr);
    if (rc) {
        ISC_STATUS_ARRAY ignored;
        isc_rollback_transaction(ignored, &tr);
        Check(rc, sv, sql.substr(0, 60));
    }
    Check(isc_commit_transaction(sv, &tr), sv, "commit");
}

std::vector<std::vector<int64_t>> TDirectAttachment::QueryInts(const std::string& sql) {
    ISC_STATUS_ARRAY sv;
    isc_tr_handle tr = Start();
    isc_stmt_handle st = 0;
    std::vector<std::vector<int64_t>> rows;
    try {
        Check(isc_dsql_allocate_statement(sv, &FHandle, &st), sv, "allocate");
        TSqlda probe(1);
        Check(isc_dsql_prepare(sv, &tr, &st, 0, sql.c_str(), kDialect, probe.Get()), sv, sql.substr(0, 60));
        const int n = probe.Get()->sqld;
        TSqlda out(n);
        Check(isc_dsql_describe(sv, &st, kDialect, out.Get()), sv, "describe");
        std::vector<ISC_INT64> values(static_cast<size_t>(n));
        std::vector<short> nulls(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            XSQLVAR& v = out.Var(i);
            v.sqltype = SQL_INT64 | 1; // the engine converts every column to a 64-bit integer
            v.sqllen = 8;
            v.sqlscale = 0;
            v.sqldata = reinterpret_cast<char*>(&values[static_cast<size_t>(i)]);
            v.sqlind = &nulls[static_cast<size_t>(i)];
        }
        Check(isc_dsql_execute(sv, &tr, &st, kDialect, nullptr), sv, "execute");
        ISC_STATUS rc;
        while ((rc = isc_dsql_fetch(sv, &st, kDialect, out.Get())) == 0) {
            std::vector<int64_t> row(static_cast<size_t>(n));
            for (size_t i = 0; i < row.size(); ++i)
                row[i] = nulls[i] ? std::numeric_limits<int64_t>::min() : values[i];
            rows.push_back(std::move(row));
        }
        if (rc != 100) Check(rc, sv, "fetch");
        isc_dsql_free_statement(sv, &st, DSQL_drop);
        Check(isc_commit_transaction(sv, &tr), sv, "commit");
    } catch (...) {
        ISC_STATUS_ARRAY ignored;
        if (st) isc_dsql_free_statement(ignored, &st, DSQL_drop);
        isc_rollback_transaction(ignored, &tr);
        throw;
    }
    return rows;
}

// ---------------------------------------------------------------- TSqlda

TSqlda::TSqlda(int count)
    : FStorage(XSQLDA_LENGTH(count > 0 ? count : 1), 0), FData(static_cast<size_t>(count)),
      FNulls(static_cast<size_t>(count), 0) {
    XSQLDA* da = Get();
    da->version = SQLDA_VERSION1;
    da->sqln = static_cast<short>(count > 0 ? count : 1);
    da->sqld = static_cast<short>(count);
}

void TSqlda::AllocateAsDescribed() {
    for (int i = 0; i < Get()->sqld && i < static_cast<int>(FData.size()); ++i) {
        XSQLVAR& v = Var(i);
        const short type = v.sqltype & ~1;
        size_t size = static_cast<size_t>(v.sqllen);
        if (type == SQL_VARYING) size += 2;
        FData[static_cast<size_t>(i)].assign(size + 8, 0);
        v.sqldata = FData[static_cast<size_t>(i)].data();
        v.sqltype = static_cast<short>(type | 1);
        v.sqlind = &FNulls[static_cast<size_t>(i)];
    }
}

void TSqlda::SetValue(int i, short type, const void* bytes, size_t size) {
    XSQLVAR& v = Var(i);
    auto& data = FData[static_cast<size_t>(i)];
    const char* first = static_cast<const char*>(bytes);
    data.assign(first, first + size);
    data.push_back(0);
    v.sqltype = static_cast<short>(type | 1);
    v.sqllen = static_cast<short>(size);
    v.sqlscale = 0;
    v.sqlsubtype = 0;
    v.sqldata = data.data();
    FNulls[static_cast<size_t>(i)] = 0;
    v.sqlind = &FNulls[static_cast<size_t>(i)];
}

void TSqlda::SetLong(int i, int32_t value) { SetValue(i, SQL_LONG, &value, sizeof value); }

void TSqlda::SetTimestamp(int i, const ISC_TIMESTAMP& value) { SetValue(i, SQL_TIMESTAMP, &value, sizeof value); }

void TSqlda::SetText(int i, const std::string& value) { SetValue(i, SQL_TEXT, value.data(), value.size()); }

void TSqlda::SetNull(int i) {
    SetLong(i, 0);
    FNulls[static_cast<size_t>(i)] = -1;
}

} // namespace ostrakel::bench
