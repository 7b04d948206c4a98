// The Firebird client API called directly, for the benchmark's baseline and its
// data: attachments, transactions, statements run once and integer rows read back.
#pragma once

#include <ibase.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ostrakel::bench {

inline constexpr const char* kUser = "SYSDBA";
inline constexpr const char* kPassword = "plumtrove";
inline constexpr unsigned short kDialect = 3;

// A refused client call, with the status vector's texts.
class EApiError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raises EApiError when the call failed.
void Check(ISC_STATUS result, const ISC_STATUS* status, const std::string& what);

// The transaction parameters of the system's transactions: write, nowait,
// read_committed, rec_version.
const std::string& SystemTpb();

// One attachment with the system's user and character set (WIN1250).
class TDirectAttachment {
public:
    // Forced writes are switched as given (the database's own setting otherwise).
    explicit TDirectAttachment(const std::string& path, std::optional<bool> forcedWrites = std::nullopt);
    ~TDirectAttachment();
    TDirectAttachment(const TDirectAttachment&) = delete;
    TDirectAttachment& operator=(const TDirectAttachment&) = delete;

    // A new database (page size 8192, WIN1250, forced writes off), left detached.
    static void Create(const std::string& path);

    isc_db_handle* Handle() { return &FHandle; }
    isc_tr_handle Start(const std::string& tpb = SystemTpb());
    // Runs the statement in a transaction of its own and commits it.
    void Execute(const std::string& sql);
    // Every row of a select whose columns all read as 64-bit integers (NULL as INT64_MIN).
    std::vector<std::vector<int64_t>> QueryInts(const std::string& sql);

private:
    isc_db_handle FHandle = 0;
};

// An XSQLDA of a given number of columns, with storage for each value.
class TSqlda {
public:
    explicit TSqlda(int count);
    XSQLDA* Get() { return reinterpret_cast<XSQLDA*>(FStorage.data()); }
    XSQLVAR& Var(int i) { return Get()->sqlvar[i]; }
    // Storage for every described column as described, with a NULL indicator.
    void AllocateAsDescribed();
    // Marks input variable i as an integer, a timestamp or a text with this value.
    void SetLong(int i, int32_t value);
    void SetTimestamp(int i, const ISC_TIMESTAMP& value);
    void SetText(int i, const std::string& value);
    void SetNull(int i);
    bool IsNull(int i) { return Var(i).sqlind && *Var(i).sqlind == -1; }

private:
    // Variable i as a non-NULL value of this type and these bytes (kept with a NUL after them).
    void SetValue(int i, short type, const void* bytes, size_t size);
    std::vector<char> FStorage;
    std::vector<std::vector<char>> FData;
    std::vector<short> FNulls;
};

} // namespace ostrakel::bench
