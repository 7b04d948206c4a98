#include "db/FIBXSQLVar.h"

#include "db/ClientLibrary.h"
#include "db/FIBDatabase.h"
#include "db/FIBErrors.h"
#include "db/FIBQuery.h"
#include "db/FIBTransaction.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>

namespace ostrakel {

namespace {

constexpr int64_t kMsPerDay = 86400000;
constexpr int kIscDate18991230 = 15018;
constexpr size_t kMaxTextParam = 32767;
constexpr unsigned short kMaxSegment = 65535;

bool IsNumberType(short t) {
    return t == SQL_SHORT || t == SQL_LONG || t == SQL_INT64 || t == SQL_FLOAT || t == SQL_DOUBLE ||
           t == SQL_D_FLOAT;
}
bool IsDateType(short t) { return t == SQL_TIMESTAMP || t == SQL_TYPE_DATE || t == SQL_TYPE_TIME; }

bool KnownType(short t) {
    switch (t) {
    case SQL_VARYING: case SQL_TEXT: case SQL_DOUBLE: case SQL_FLOAT: case SQL_LONG: case SQL_SHORT:
    case SQL_TIMESTAMP: case SQL_BLOB: case SQL_D_FLOAT: case SQL_ARRAY: case SQL_QUAD: case SQL_TYPE_TIME:
    case SQL_TYPE_DATE: case SQL_INT64: case SQL_FIB_BOOLEAN: case SQL_FIB_NULL:
        return true;
    default:
        return false;
    }
}

char DecimalSeparator() {
    const lconv* lc = std::localeconv();
    return lc && lc->decimal_point && lc->decimal_point[0] ? lc->decimal_point[0] : '.';
}

long double Pow10(int n) {
    long double r = 1;
    for (int i = 0; i < n; ++i) r *= 10;
    return r;
}

int64_t Pow10Int(int n) {
    int64_t r = 1;
    for (int i = 0; i < n && i < 18; ++i) r *= 10;
    return r;
}

// A value truncated toward zero; values beyond 64 bits saturate.
int64_t TruncToInt64(long double v) {
    v = std::trunc(v);
    if (v >= 9.2233720368547758e18L) return std::numeric_limits<int64_t>::max();
    if (v <= -9.2233720368547758e18L) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(v);
}

// The low 32 bits of a value truncated toward zero.
int32_t Low32(long double v) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(TruncToInt64(v))));
}

std::string TrimRightControl(std::string s) {
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.pop_back();
    return s;
}

std::string TrimBlanks(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
    return s.substr(b, e - b);
}

std::string UpperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

bool ParseDouble(const std::string& text, double& value) {
    std::string t = TrimBlanks(text);
    if (t.empty()) return false;
    const char sep = DecimalSeparator();
    // Either separator is taken; strtod reads the workstation's own.
    for (char& c : t)
        if (c == '.' || c == ',') c = sep;
    errno = 0;
    char* end = nullptr;
    value = std::strtod(t.c_str(), &end);
    return end && *end == '\0' && errno != ERANGE;
}

bool ParseDateTimeText(const std::string& text, TDateTime& value) {
    const std::string t = TrimBlanks(text);
    for (const char* fmt : {"%x %X", "%x", "%X", "%Y-%m-%d %H:%M:%S", "%Y-%m-%d"}) {
        std::tm tm{};
        tm.tm_mday = 30;
        tm.tm_mon = 11;
        tm.tm_year = -1;
        const char* end = strptime(t.c_str(), fmt, &tm);
        if (end && *end == '\0') {
            try {
                if (std::string(fmt) == "%X") {
                    value = EncodeTime(tm.tm_hour, tm.tm_min, tm.tm_sec, 0);
                } else {
                    value = DateTimeFromTm(tm);
                }
                return true;
            } catch (const std::exception&) {
                return false;
            }
        }
    }
    return false;
}

} // namespace

// ---------------------------------------------------------------- helpers

std::string DateTimeToText(TDateTime v) {
    const TDateTimeParts p = DecodeDateTime(v);
    std::string text = FormatShortDate(v);
    if (p.Hour || p.Minute || p.Second || p.MilliSecond) text += " " + FormatLongTime(v);
    return text;
}

bool VarIsNull(const TFIBVariant& v) { return std::holds_alternative<std::monostate>(v); }

std::string VarToText(const TFIBVariant& v) {
    struct {
        std::string operator()(std::monostate) const { return {}; }
        std::string operator()(int32_t i) const { return std::to_string(i); }
        std::string operator()(int64_t i) const { return std::to_string(i); }
        std::string operator()(double d) const { return FloatToText(d); }
        std::string operator()(const std::string& s) const { return s; }
        std::string operator()(TVarDateTime d) const { return DateTimeToText(d.Value); }
        std::string operator()(bool b) const { return b ? "True" : "False"; }
    } visitor;
    return std::visit(visitor, v);
}

bool ParseDecimalInteger(const std::string& Text, int64_t& Value) {
    size_t i = 0;
    bool negative = false;
    if (i < Text.size() && (Text[i] == '+' || Text[i] == '-')) negative = Text[i++] == '-';
    if (i >= Text.size()) return false;
    uint64_t v = 0;
    for (; i < Text.size(); ++i) {
        const char c = Text[i];
        if (c < '0' || c > '9') return false;
        if (v > (static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1 - (c - '0')) / 10) return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (!negative && v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
    Value = negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
    return true;
}

ISC_TIMESTAMP DateTimeToTimeStamp(TDateTime Value) {
    // Milliseconds rounded halves to even (nearbyint in the default rounding mode).
    const int64_t m = static_cast<int64_t>(std::nearbyint(static_cast<long double>(Value) * kMsPerDay));
    ISC_TIMESTAMP ts;
    if (m >= 0) {
        ts.timestamp_date = static_cast<ISC_DATE>(m / kMsPerDay + kIscDate18991230);
        ts.timestamp_time = static_cast<ISC_TIME>((m % kMsPerDay) * 10);
    } else {
        ts.timestamp_time = static_cast<ISC_TIME>(((-m) % kMsPerDay) * 10);
        ts.timestamp_date = static_cast<ISC_DATE>(kIscDate18991230 - (-m) / kMsPerDay);
    }
    return ts;
}

TDateTime TimeStampToDateTime(const ISC_TIMESTAMP& Value) {
    const double days = static_cast<double>(Value.timestamp_date) - kIscDate18991230;
    const double frac = static_cast<double>(Value.timestamp_time / 10) / kMsPerDay;
    // Before the epoch the time of day counts away from zero.
    return days < 0 ? days - frac : days + frac;
}

std::string FloatToText(double Value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", Value);
    return buf;
}

std::string ScaledToText(int64_t Value, int Scale) {
    if (Scale >= 0) return std::to_string(Value);
    const bool negative = Value < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(Value) : static_cast<uint64_t>(Value);
    std::string digits = std::to_string(magnitude);
    const size_t decimals = static_cast<size_t>(-Scale);
    if (digits.size() <= decimals) digits.insert(0, decimals - digits.size() + 1, '0');
    std::string whole = digits.substr(0, digits.size() - decimals);
    std::string frac = digits.substr(digits.size() - decimals);
    while (!frac.empty() && frac.back() == '0') frac.pop_back();
    std::string text = negative ? "-" : "";
    text += whole;
    if (!frac.empty()) text += DecimalSeparator() + frac;
    return text;
}

// ---------------------------------------------------------------- TFIBXSQLVAR

TFIBXSQLVAR::TFIBXSQLVAR(TFIBXSQLDA* Parent, int Index) : FParent(Parent), FIndex(Index) { Bind(&FOwnVar); }

void TFIBXSQLVAR::Detach() {
    FOwnVar = *FXSQLVAR;
    FXSQLVAR = &FOwnVar;
}

void TFIBXSQLVAR::ResetAsNew() {
    // Untyped, and so NULL: the first setter gives the type, without the NULL bit.
    FXSQLVAR->sqltype = 0;
    FXSQLVAR->sqlscale = 0;
    FXSQLVAR->sqlsubtype = 0;
    FXSQLVAR->sqllen = 0;
    ResizeData(0);
    FIndicator = -1;
    ReleasePendingBlob();
    FWideTempValue.reset();
    FIsDefferedSetting = false;
    FInitialized = false;
    FModified = false;
}

TFIBQuery* TFIBXSQLVAR::Query() const { return FParent->Query(); }

int TFIBXSQLVAR::Dialect() const { return Query() ? Query()->Dialect() : 3; }

bool TFIBXSQLVAR::IsParam() const { return FParent->IsParams(); }

void TFIBXSQLVAR::Bind(XSQLVAR* Var) {
    FXSQLVAR = Var;
    if (FData.empty()) FData.assign(1, 0);
    FXSQLVAR->sqldata = FData.data();
    FXSQLVAR->sqlind = &FIndicator;
}

void TFIBXSQLVAR::ResizeData(size_t Len) {
    FData.assign(std::max<size_t>(Len, 1), 0);
    FXSQLVAR->sqldata = FData.data();
}

std::string TFIBXSQLVAR::SqlName() const {
    return Win1250ToUtf8(std::string_view(FXSQLVAR->sqlname, static_cast<size_t>(std::max<short>(FXSQLVAR->sqlname_length, 0))));
}
std::string TFIBXSQLVAR::RelationName() const {
    return Win1250ToUtf8(std::string_view(FXSQLVAR->relname, static_cast<size_t>(std::max<short>(FXSQLVAR->relname_length, 0))));
}
std::string TFIBXSQLVAR::AliasName() const {
    return Win1250ToUtf8(std::string_view(FXSQLVAR->aliasname, static_cast<size_t>(std::max<short>(FXSQLVAR->aliasname_length, 0))));
}

const TFIBXSQLVAR* TFIBXSQLVAR::ServerDescription() const {
    if (FSrvSQLType) return this;
    TFIBQuery* q = Query();
    if (&q->ServerParams() == FParent) return nullptr;
    const TFIBXSQLVAR* s = q->ServerParams().ByName(FQuoted ? "\"" + FName + "\"" : FName);
    return s && s->FSrvSQLType ? s : nullptr;
}

short TFIBXSQLVAR::GetServerSQLType() const {
    if (!IsParam()) return SQLType();
    if (!Query() || !Query()->Prepared()) return 0;
    const TFIBXSQLVAR* s = ServerDescription();
    return s ? s->FSrvSQLType : SQLType();
}

short TFIBXSQLVAR::GetServerSQLSubType() const {
    if (!IsParam()) return SQLSubtype();
    if (!Query() || !Query()->Prepared()) return 0;
    const TFIBXSQLVAR* s = ServerDescription();
    return s ? s->FSrvSQLSubType : SQLSubtype();
}

short TFIBXSQLVAR::GetServerSQLScale() const {
    if (!IsParam()) return Scale();
    if (!Query() || !Query()->Prepared()) return 0;
    const TFIBXSQLVAR* s = ServerDescription();
    return s ? s->FSrvSQLScale : Scale();
}

// ---- NULL

bool TFIBXSQLVAR::IsNull() const {
    if (FStreamValue) return false;
    if (!IsParam() && !FParent->RowFetched()) {
        const TFIBQuery* q = Query();
        if (!(q && q->SQLType() == SQLExecProcedure && q->ProcExecuted())) return true;
    }
    if (IsNullable() && FIndicator == -1) return true;
    return SQLType() == 0;
}

void TFIBXSQLVAR::MakeNull() {
    if (SQLType() == 0) {
        FXSQLVAR->sqltype = SQL_TEXT | 1;
        FXSQLVAR->sqllen = 0;
        ResizeData(0);
    }
    FXSQLVAR->sqltype |= 1;
    FXSQLVAR->sqlind = &FIndicator;
    FIndicator = -1;
    ReleasePendingBlob();
    FWideTempValue.reset();
    FIsDefferedSetting = false;
    FModified = true;
}

void TFIBXSQLVAR::MakeNotNull() {
    if (IsNullable()) FIndicator = 0;
}

template <class F> static void ForSameNamed(TFIBXSQLVAR& self, TFIBXSQLDA& list, F&& f) {
    if (list.IsParams())
        if (const std::vector<int>* same = list.EqualNamed(self.Name())) {
            for (int i : *same) f(list.Vars(i));
            return;
        }
    f(self);
}

void TFIBXSQLVAR::AfterSet(bool WasNull) {
    TFIBQuery* q = Query();
    if (!q) return;
    if (FCanForceIsNull && FInWhereClause && !q->Options().Contains(qoNoForceIsNull) && WasNull != IsNull()) q->SetNeedForceIsNull();
    if (FIsMacro && !q->MacroChanged() && AsString() != FOldValue.value_or(std::string())) q->SetMacroChanged();
}

void TFIBXSQLVAR::SetIsNull(bool Value) {
    const bool wasNull = IsNull();
    if (Value) {
        ForSameNamed(*this, List(), [](TFIBXSQLVAR& v) {
            v.MakeNull();
            v.FInitialized = true;
        });
    } else {
        ForSameNamed(*this, List(), [](TFIBXSQLVAR& v) { v.MakeNotNull(); });
    }
    AfterSet(wasNull);
}

void TFIBXSQLVAR::ApplyData(short Type, short Len, const void* Bytes) {
    MakeNotNull();
    FXSQLVAR->sqlscale = 0;
    ResizeData(static_cast<size_t>(std::max<short>(Len, 0)));
    FXSQLVAR->sqltype = static_cast<short>(Type | (FXSQLVAR->sqltype & 1));
    FXSQLVAR->sqllen = Len;
    if (Len > 0 && Bytes) std::memcpy(FData.data(), Bytes, static_cast<size_t>(Len));
    ReleasePendingBlob();
    FWideTempValue.reset();
    FIsDefferedSetting = false;
    FModified = true;
    FInitialized = true;
}

void TFIBXSQLVAR::SetData(short Type, short Len, const void* Bytes) {
    const bool wasNull = IsNull();
    ForSameNamed(*this, List(), [&](TFIBXSQLVAR& v) { v.ApplyData(Type, Len, Bytes); });
    AfterSet(wasNull);
}

// ---- setters

void TFIBXSQLVAR::SetAsInteger(int32_t Value) { SetData(SQL_LONG, 4, &Value); }
void TFIBXSQLVAR::SetAsShort(int16_t Value) { SetData(SQL_SHORT, 2, &Value); }
void TFIBXSQLVAR::SetAsBoolean(bool Value) { SetAsShort(Value ? 1 : 0); }

void TFIBXSQLVAR::SetAsInt64(int64_t Value) {
    if (Dialect() < 3) {
        SetAsInteger(static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(Value))));
        return;
    }
    SetData(SQL_INT64, 8, &Value);
}

void TFIBXSQLVAR::SetAsDouble(double Value) { SetData(SQL_DOUBLE, 8, &Value); }
void TFIBXSQLVAR::SetAsSingle(float Value) { SetData(SQL_FLOAT, 4, &Value); }

void TFIBXSQLVAR::SetAsCurrency(double Value) {
    if (Dialect() < 3) {
        SetAsDouble(Value);
        return;
    }
    const int64_t units = std::llround(static_cast<long double>(Value) * 10000.0L);
    SetData(SQL_INT64, 8, &units);
    ForSameNamed(*this, List(), [](TFIBXSQLVAR& v) { v.FXSQLVAR->sqlscale = -4; });
}

void TFIBXSQLVAR::SetAsExtended(long double Value) {
    if (Dialect() < 3) {
        SetAsDouble(static_cast<double>(Value));
        return;
    }
    // As many decimals as the 64-bit integer holds, up to nine.
    int scale = 0;
    while (scale < 9 && std::fabs(Value * Pow10(scale + 1)) < 9.0e17L &&
           std::fabs(Value * Pow10(scale) - std::round(Value * Pow10(scale))) > 0)
        ++scale;
    const int64_t units = std::llround(Value * Pow10(scale));
    SetData(SQL_INT64, 8, &units);
    ForSameNamed(*this, List(), [scale](TFIBXSQLVAR& v) { v.FXSQLVAR->sqlscale = static_cast<short>(-scale); });
}

void TFIBXSQLVAR::SetAsDateTime(TDateTime Value) {
    const ISC_TIMESTAMP ts = DateTimeToTimeStamp(Value);
    SetData(SQL_TIMESTAMP, 8, &ts);
}

void TFIBXSQLVAR::SetAsDate(TDateTime Value) { SetAsDateTime(std::trunc(Value)); }
void TFIBXSQLVAR::SetAsTime(TDateTime Value) { SetAsDateTime(Value); }

void TFIBXSQLVAR::SetAsQuad(const ISC_QUAD& Value) { SetData(IsArray() ? SQL_ARRAY : SQL_BLOB, 8, &Value); }

bool TFIBXSQLVAR::EncodeAsUtf8(short ServerType, short ServerSubType, short ServerScale) const {
    const TFIBQuery* q = Query();
    const TFIBDatabase* db = q ? q->Database() : nullptr;
    if (!db || !db->NeedUnicodeFieldsTranslation()) return false;
    auto charsetIsUnicode = [db](int cs) {
        return (db->IsUnicodeConnect() && cs > 1) || db->UnicodeCharSets().count(cs) > 0;
    };
    if (ServerType == SQL_TEXT || ServerType == SQL_VARYING) return charsetIsUnicode(ServerSubType & 0xFF);
    if (ServerType == SQL_BLOB) return ServerSubType == 1 ? charsetIsUnicode(ServerScale) : false;
    // Numbers and dates are ASCII; the connection's own set takes them as they are.
    return db->IsUnicodeConnect();
}

void TFIBXSQLVAR::SetText(const std::string& Text, bool Convert) {
    const short st = GetServerSQLType(), ss = GetServerSQLSubType(), sc = GetServerSQLScale();
    bool utf8 = false, deferred = false;
    if (Convert && !FIsMacro) {
        const TFIBQuery* q = Query();
        const TFIBDatabase* db = q ? q->Database() : nullptr;
        if (db && db->NeedUnicodeFieldsTranslation()) {
            deferred = st == 0;
            utf8 = deferred ? db->IsUnicodeConnect() : EncodeAsUtf8(st, ss, sc);
        }
    }
    const std::string bytes = !Convert || utf8 ? Text : Utf8ToWin1250(Text);
    SetEncodedText(bytes, st, ss, sc, utf8);
    if (!Convert) return;
    ForSameNamed(*this, List(), [&](TFIBXSQLVAR& v) {
        v.FWideTempValue = Text;
        v.FIsDefferedSetting = deferred;
    });
    if (deferred) List().SetHasDeferredSettings(true);
}

void TFIBXSQLVAR::SetAsString(const std::string& Value) { SetText(Value, true); }
void TFIBXSQLVAR::SetAsAnsiString(const std::string& Value) { SetText(Value, false); }

void TFIBXSQLVAR::SetEncodedText(const std::string& Bytes, short ServerType, short ServerSubType, short ServerScale,
                                 bool Utf8) {
    if (Bytes.size() > kMaxTextParam || ServerType == SQL_BLOB) {
        const bool wasNull = IsNull();
        ForSameNamed(*this, List(), [&](TFIBXSQLVAR& v) {
            v.ApplyData(SQL_BLOB, 8, nullptr);
            v.FXSQLVAR->sqlsubtype = ServerSubType;
            v.FXSQLVAR->sqlscale = ServerScale;
            v.FStreamValue = Bytes;
        });
        if (Query()) Query()->SetHasBlobParams();
        AfterSet(wasNull);
        return;
    }
    short type = SQL_TEXT;
    std::string bytes = Bytes;
    const std::string name = SqlName();
    if (name == "DB_KEY" || name == "RDB$DB_KEY") {
        type = SQLType();
        bytes.resize(static_cast<size_t>(std::max<short>(Size(), 0)), '\0');
    }
    if (bytes.empty() && (IsNumberType(ServerType) || IsDateType(ServerType))) {
        SetIsNull(true);
        return;
    }
    if (!bytes.empty() && IsNumberType(ServerType) && !FIsMacro) {
        const char sep = DecimalSeparator();
        for (char& c : bytes)
            if (c == ',' || (sep != ',' && sep != '.' && c == sep)) c = '.';
    }
    SetData(type, static_cast<short>(bytes.size()), bytes.data());
    if (Utf8) ForSameNamed(*this, List(), [](TFIBXSQLVAR& v) { v.FXSQLVAR->sqlsubtype = 3; });
}

void TFIBXSQLVAR::SetAsVariant(const TFIBVariant& Value) {
    struct {
        TFIBXSQLVAR& v;
        void operator()(std::monostate) const { v.SetIsNull(true); }
        void operator()(int32_t i) const { v.SetAsInteger(i); }
        void operator()(int64_t i) const { v.SetAsInt64(i); }
        void operator()(double d) const { v.SetAsDouble(d); }
        void operator()(const std::string& s) const { v.SetAsString(s); }
        void operator()(TVarDateTime d) const { v.SetAsDateTime(d.Value); }
        void operator()(bool b) const { v.SetAsBoolean(b); }
    } visitor{*this};
    std::visit(visitor, Value);
}

// ---- getters

void TFIBXSQLVAR::ConversionError() const { RaiseClientError(fibeInvalidDataConversion); }

int64_t TFIBXSQLVAR::ScaledInt64() const {
    switch (SQLType()) {
    case SQL_SHORT: {
        int16_t v;
        std::memcpy(&v, FData.data(), 2);
        return v;
    }
    case SQL_LONG: {
        int32_t v;
        std::memcpy(&v, FData.data(), 4);
        return v;
    }
    default: {
        int64_t v;
        std::memcpy(&v, FData.data(), 8);
        return v;
    }
    }
}

std::string TFIBXSQLVAR::RawText() const {
    if (SQLType() == SQL_VARYING) {
        uint16_t len;
        std::memcpy(&len, FData.data(), 2);
        const size_t avail = FData.size() >= 2 ? FData.size() - 2 : 0;
        return std::string(FData.data() + 2, std::min<size_t>(len, avail));
    }
    return std::string(FData.data(), std::min<size_t>(static_cast<size_t>(std::max<short>(Size(), 0)), FData.size()));
}

std::string TFIBXSQLVAR::DecodeColumnText(const std::string& Bytes) const {
    const TFIBQuery* q = Query();
    const TFIBDatabase* db = q ? q->Database() : nullptr;
    const int cs = IsBlob() ? Scale() : (SQLSubtype() & 0xFF);
    if (db && db->NeedUnicodeFieldsTranslation() && (db->UnicodeCharSets().count(cs) > 0 ||
                                                     (db->IsUnicodeConnect() && cs > 1)))
        return Bytes;
    return Win1250ToUtf8(Bytes);
}

std::string TFIBXSQLVAR::ReadBlobText() const {
    TFIBQuery* q = Query();
    if (!q || !q->Database() || !q->Transaction()) return "(BLOB)";
    return DecodeColumnText(ReadBlobBytes(*q, AsQuad()));
}

std::string ReadBlobBytes(TFIBQuery& Query, ISC_QUAD Id) {
    Query.StartTransactionIfAsked();
    IIBClientLibrary& lib = Query.ClientLibrary();
    isc_blob_handle blob = 0;
    Query.Call(lib.isc_open_blob2(StatusVector(), Query.Database()->HandlePtr(), Query.Transaction()->HandlePtr(),
                                  &blob, &Id, 0, nullptr),
               true);
    std::string bytes;
    std::vector<char> segment(kMaxSegment);
    for (;;) {
        unsigned short got = 0;
        const ISC_STATUS st = lib.isc_get_segment(StatusVector(), &blob, &got, kMaxSegment, segment.data());
        if (st == 0 || StatusVector()[1] == isc_segment) {
            bytes.append(segment.data(), got);
            continue;
        }
        if (StatusVector()[1] == isc_segstr_eof) break;
        const std::vector<ISC_STATUS> saved(StatusVector(), StatusVector() + ISC_STATUS_LENGTH);
        ISC_STATUS cleanup[ISC_STATUS_LENGTH];
        lib.isc_close_blob(cleanup, &blob);
        std::copy(saved.begin(), saved.end(), StatusVector());
        Query.Call(st, true);
        return bytes;
    }
    Query.Call(lib.isc_close_blob(StatusVector(), &blob), true);
    return bytes;
}

int32_t TFIBXSQLVAR::AsInteger() const {
    if (IsNull()) return 0;
    switch (SQLType()) {
    case SQL_TEXT:
    case SQL_VARYING: {
        int64_t v;
        if (!ParseDecimalInteger(AsString(), v)) ConversionError();
        return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
    }
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
        if (Scale() == 0) return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(ScaledInt64())));
        return Low32(static_cast<long double>(ScaledInt64()) / Pow10(-Scale()));
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        return Low32(AsDouble());
    case SQL_FIB_BOOLEAN: {
        int16_t v;
        std::memcpy(&v, FData.data(), 2);
        return v;
    }
    case SQL_FIB_NULL:
        return 0;
    default:
        ConversionError();
    }
}

int64_t TFIBXSQLVAR::AsInt64() const {
    if (IsNull()) return 0;
    switch (SQLType()) {
    case SQL_TEXT:
    case SQL_VARYING: {
        int64_t v;
        if (!ParseDecimalInteger(AsString(), v)) ConversionError();
        return v;
    }
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
        return Scale() >= 0 ? ScaledInt64() : ScaledInt64() / Pow10Int(-Scale());
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        return TruncToInt64(AsDouble());
    case SQL_FIB_NULL:
        return 0;
    default:
        ConversionError();
    }
}

double TFIBXSQLVAR::AsDouble() const {
    if (IsNull()) return 0;
    switch (SQLType()) {
    case SQL_TEXT:
    case SQL_VARYING: {
        double d;
        if (!ParseDouble(AsString(), d)) ConversionError();
        return d;
    }
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
        return static_cast<double>(static_cast<long double>(ScaledInt64()) / Pow10(-std::min<short>(Scale(), 0)));
    case SQL_FLOAT: {
        float f;
        std::memcpy(&f, FData.data(), 4);
        return f;
    }
    case SQL_DOUBLE:
    case SQL_D_FLOAT: {
        double d;
        std::memcpy(&d, FData.data(), 8);
        return d;
    }
    case SQL_FIB_BOOLEAN: {
        int16_t v;
        std::memcpy(&v, FData.data(), 2);
        return v == 1 ? 1 : 0;
    }
    case SQL_FIB_NULL:
        return 0;
    default:
        ConversionError();
    }
}

TDateTime TFIBXSQLVAR::AsDateTime() const {
    if (IsNull()) return 0;
    switch (SQLType()) {
    case SQL_TEXT:
    case SQL_VARYING: {
        TDateTime v;
        if (!ParseDateTimeText(AsString(), v)) ConversionError();
        return v;
    }
    case SQL_TIMESTAMP: {
        ISC_TIMESTAMP ts;
        std::memcpy(&ts, FData.data(), 8);
        return TimeStampToDateTime(ts);
    }
    case SQL_TYPE_DATE: {
        ISC_DATE d;
        std::memcpy(&d, FData.data(), 4);
        return static_cast<double>(d) - kIscDate18991230;
    }
    case SQL_TYPE_TIME: {
        ISC_TIME t;
        std::memcpy(&t, FData.data(), 4);
        return static_cast<double>(t / 10) / kMsPerDay;
    }
    default:
        ConversionError();
    }
}

bool TFIBXSQLVAR::AsBoolean() const {
    if (IsNull()) return false;
    switch (SQLType()) {
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
        return ScaledInt64() == 1;
    case SQL_FIB_BOOLEAN: {
        int16_t v;
        std::memcpy(&v, FData.data(), 2);
        return v == 1;
    }
    default:
        ConversionError();
    }
}

std::string TFIBXSQLVAR::AsString() const {
    if (IsNull()) return {};
    if (IsParam() && FWideTempValue) return *FWideTempValue;
    switch (SQLType()) {
    case SQL_TEXT:
    case SQL_VARYING: {
        std::string bytes = RawText();
        const TFIBQuery* q = Query();
        if (q && q->Options().Contains(qoTrimCharFields)) bytes = TrimRightControl(std::move(bytes));
        return DecodeColumnText(bytes);
    }
    case SQL_SHORT:
    case SQL_LONG:
        return Scale() == 0 ? std::to_string(ScaledInt64()) : FloatToText(AsDouble());
    case SQL_INT64:
        return ScaledToText(ScaledInt64(), Scale());
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        return FloatToText(AsDouble());
    case SQL_TIMESTAMP:
        return DateTimeToText(AsDateTime());
    case SQL_TYPE_DATE:
        return FormatShortDate(AsDateTime());
    case SQL_TYPE_TIME:
        return FormatLongTime(AsDateTime());
    case SQL_BLOB:
        if (IsParam()) return FStreamValue ? Win1250ToUtf8(*FStreamValue) : "(BLOB)";
        try {
            return ReadBlobText();
        } catch (const EFIBError&) {
            return "(BLOB)";
        }
    case SQL_ARRAY:
        return "(ARRAY)";
    case SQL_FIB_BOOLEAN:
        return AsBoolean() ? "True" : "False";
    case SQL_FIB_NULL:
        return {};
    default:
        ConversionError();
    }
}

TFIBVariant TFIBXSQLVAR::AsVariant() const {
    if (IsNull()) return std::monostate{};
    switch (SQLType()) {
    case SQL_TEXT:
    case SQL_VARYING:
        return AsString();
    case SQL_SHORT:
    case SQL_LONG:
        if (Scale() == 0) return static_cast<int32_t>(ScaledInt64());
        return AsDouble();
    case SQL_INT64:
        if (Scale() == 0) return ScaledInt64();
        return AsDouble();
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        return AsDouble();
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
        return TVarDateTime{AsDateTime()};
    case SQL_BLOB:
        return AsString();
    case SQL_ARRAY:
        return std::string("(Array)");
    case SQL_FIB_BOOLEAN:
        return AsBoolean();
    case SQL_FIB_NULL:
        return std::monostate{};
    default:
        ConversionError();
    }
}

ISC_QUAD TFIBXSQLVAR::AsQuad() const {
    ISC_QUAD q{};
    if (IsNull()) return q;
    switch (SQLType()) {
    case SQL_BLOB:
    case SQL_ARRAY:
    case SQL_QUAD:
        std::memcpy(&q, FData.data(), sizeof q);
        return q;
    default:
        ConversionError();
    }
}

// ---- the statement's side

void TFIBXSQLVAR::RememberServerDescription(short Type, short Scale, short SubType, short Len) {
    FSrvSQLType = Type;
    FSrvSQLScale = Scale;
    FSrvSQLSubType = SubType;
    FSrvSQLLen = Len;
}

void TFIBXSQLVAR::AllocateForDescription(bool AllowUntyped) {
    const short type = SQLType();
    if (!KnownType(type) && !(AllowUntyped && type == 0)) {
        // A server that sends a type this layer cannot read (INT128, a time
        // with a zone, BOOLEAN) is refused before any value is taken from it,
        // and the operator learns which column or parameter it was.
        std::string text = Format(FIBClientErrorText(fibeUnknownSQLDataType), int(type));
        text += IsParam() ? " Parameter: " : " Column: ";
        text += FName.empty() ? "#" + std::to_string(FIndex + 1) : FName;
        throw EFIBClientError(fibeUnknownSQLDataType, std::move(text), nullptr);
    }
    RememberServerDescription(type, Scale(), SQLSubtype(), Size());
    FInitialized = true;
    const size_t len = static_cast<size_t>(std::max<short>(Size(), 0));
    ResizeData(type == SQL_VARYING ? len + 2 : len);
    FXSQLVAR->sqlind = &FIndicator;
    FIndicator = 0;
    ReleasePendingBlob();
    FWideTempValue.reset();
    FIsDefferedSetting = false;
}

void TFIBXSQLVAR::AdoptTypeOf(const TFIBXSQLVAR& Server) {
    FXSQLVAR->sqltype = static_cast<short>(Server.FXSQLVAR->sqltype | 1);
    FXSQLVAR->sqlscale = Server.FXSQLVAR->sqlscale;
    FXSQLVAR->sqllen = Server.FXSQLVAR->sqllen;
    FXSQLVAR->sqlsubtype = Server.FXSQLVAR->sqlsubtype;
    const size_t len = static_cast<size_t>(std::max<short>(Size(), 0));
    ResizeData(SQLType() == SQL_VARYING ? len + 2 : len);
    FXSQLVAR->sqlind = &FIndicator;
    FIndicator = -1;
}

void TFIBXSQLVAR::CompleteDeferred() {
    if (!FIsDefferedSetting || !FWideTempValue) return;
    const std::string text = *FWideTempValue;
    FIsDefferedSetting = false;
    SetAsString(text);
    FIsDefferedSetting = false;
}

void TFIBXSQLVAR::CopyValueTo(TFIBXSQLVAR& Target) {
    if (IsNull()) {
        Target.SetIsNull(true);
        return;
    }
    const short type = SQLType();
    if ((type == SQL_BLOB || type == SQL_ARRAY) && (!FStreamValue || FStreamWritten) &&
        (Target.IsBlob() || Target.IsArray())) {
        Target.SetAsQuad(AsQuad());
        return;
    }
    if (type == SQL_INT64) {
        const bool wasNull = Target.IsNull();
        ForSameNamed(Target, Target.List(), [this](TFIBXSQLVAR& t) {
            t.ApplyData(SQL_INT64, 8, FData.data());
            t.FXSQLVAR->sqltype = FXSQLVAR->sqltype;
            t.FXSQLVAR->sqlscale = FXSQLVAR->sqlscale;
            t.FIndicator = FIndicator;
        });
        Target.AfterSet(wasNull);
        return;
    }
    if (FIsDefferedSetting && FWideTempValue) {
        Target.SetAsString(*FWideTempValue);
        FXSQLVAR->sqltype = static_cast<short>(Target.SQLType() | (FXSQLVAR->sqltype & 1));
        FXSQLVAR->sqlsubtype = Target.SQLSubtype();
        FXSQLVAR->sqlscale = Target.Scale();
        return;
    }
    if (FStreamValue) {
        // A blob value not written yet goes over as the text it holds.
        Target.SetEncodedText(*FStreamValue, Target.GetServerSQLType(), Target.GetServerSQLSubType(),
                              Target.GetServerSQLScale(), false);
        return;
    }
    Target.SetAsVariant(AsVariant());
}

void TFIBXSQLVAR::WritePendingBlob() {
    if (!FStreamValue || FStreamWritten) return;
    TFIBQuery* q = Query();
    if (!q || !q->Database() || !q->Transaction()) RaiseClientError(fibeBlobCannotBeWritten);
    q->StartTransactionIfAsked();
    IIBClientLibrary& lib = q->ClientLibrary();
    isc_blob_handle blob = 0;
    ISC_QUAD id{};
    q->Call(lib.isc_create_blob2(StatusVector(), q->Database()->HandlePtr(), q->Transaction()->HandlePtr(), &blob,
                                 &id, 0, nullptr),
            true);
    const std::string& bytes = *FStreamValue;
    for (size_t pos = 0; pos < bytes.size(); pos += kMaxSegment) {
        const size_t n = std::min<size_t>(kMaxSegment, bytes.size() - pos);
        const ISC_STATUS st =
            lib.isc_put_segment(StatusVector(), &blob, static_cast<unsigned short>(n), bytes.data() + pos);
        if (st) {
            std::vector<ISC_STATUS> saved(StatusVector(), StatusVector() + ISC_STATUS_LENGTH);
            ISC_STATUS cleanup[ISC_STATUS_LENGTH];
            lib.isc_close_blob(cleanup, &blob);
            std::copy(saved.begin(), saved.end(), StatusVector());
            q->Call(st, true);
            return;
        }
    }
    q->Call(lib.isc_close_blob(StatusVector(), &blob), true);
    std::memcpy(FData.data(), &id, sizeof id);
    FStreamWritten = true;
}

// ---------------------------------------------------------------- TFIBXSQLDA

TFIBXSQLDA::TFIBXSQLDA(TFIBQuery* Query, bool IsParams) : FQuery(Query), FIsParams(IsParams) { Reserve(1); }

TFIBXSQLDA::~TFIBXSQLDA() = default;

void TFIBXSQLDA::Reserve(int Capacity) {
    if (Capacity <= FCapacity && FXSQLDA) return;
    const int cap = std::max(Capacity, 1);
    auto* fresh = static_cast<XSQLDA*>(std::calloc(1, XSQLDA_LENGTH(cap)));
    if (!fresh) throw std::bad_alloc();
    fresh->version = SQLDA_VERSION1;
    if (FXSQLDA) {
        std::memcpy(fresh->sqlvar, FXSQLDA->sqlvar, sizeof(XSQLVAR) * static_cast<size_t>(FCapacity));
        fresh->sqln = FXSQLDA->sqln;
        fresh->sqld = FXSQLDA->sqld;
    }
    FXSQLDA.reset(fresh);
    FCapacity = cap;
    Rebind();
}

void TFIBXSQLDA::Rebind() {
    for (size_t i = 0; i < FVars.size(); ++i) FVars[i]->Bind(&FXSQLDA->sqlvar[i]);
}

void TFIBXSQLDA::SetCount(int Value) {
    Value = std::max(Value, 0);
    Reserve(Value);
    for (int i = static_cast<int>(FVars.size()); i < Value; ++i) {
        FXSQLDA->sqlvar[i] = XSQLVAR{};
        FVars.push_back(std::make_unique<TFIBXSQLVAR>(this, i));
        FVars.back()->Bind(&FXSQLDA->sqlvar[i]);
    }
    FCount = Value;
    FXSQLDA->sqln = FXSQLDA->sqld = static_cast<ISC_SHORT>(Value);
    FCachedNames.clear();
}

XSQLDA* TFIBXSQLDA::ForDescribe() {
    Reserve(std::max(FCount, 1));
    FXSQLDA->sqln = static_cast<ISC_SHORT>(std::max(FCount, 1));
    return FXSQLDA.get();
}

TFIBXSQLVAR& TFIBXSQLDA::Vars(int Index) const {
    if (Index < 0 || Index >= FCount) RaiseClientError(fibeXSQLDAIndexOutOfRange);
    return *FVars[static_cast<size_t>(Index)];
}

std::unique_ptr<TFIBXSQLVAR> TFIBXSQLDA::NewEntry() {
    if (FSpare.empty()) return std::make_unique<TFIBXSQLVAR>(this, -1);
    // A statement whose text goes back and forth makes the same entries again and again.
    std::unique_ptr<TFIBXSQLVAR> entry = std::move(FSpare.back());
    FSpare.pop_back();
    std::destroy_at(entry.get());
    std::construct_at(entry.get(), this, -1);
    return entry;
}

void TFIBXSQLDA::GiveBack(std::vector<std::unique_ptr<TFIBXSQLVAR>>& Entries) {
    constexpr size_t kMostSpare = 32;
    for (auto& e : Entries)
        if (e && FSpare.size() < kMostSpare) FSpare.push_back(std::move(e));
    Entries.clear();
}

void TFIBXSQLDA::TakeEntries(std::vector<std::unique_ptr<TFIBXSQLVAR>>& Out) {
    // The holders keep their descriptions with them; the slots they leave are reused.
    Out.clear();
    for (int i = 0; i < FCount; ++i) {
        auto& v = FVars[static_cast<size_t>(i)];
        v->Detach();
        Out.push_back(std::move(v));
    }
    GiveBack(FVars);
    FCount = 0;
    FXSQLDA->sqln = FXSQLDA->sqld = 0;
    FNames.clear();
    FEquelNames.clear();
    FCachedNames.clear();
}

void TFIBXSQLDA::SetEntries(std::vector<std::unique_ptr<TFIBXSQLVAR>>& Entries) {
    const int n = static_cast<int>(Entries.size());
    Reserve(n);
    GiveBack(FVars);
    for (int i = 0; i < n; ++i) {
        auto& v = Entries[static_cast<size_t>(i)];
        FXSQLDA->sqlvar[i] = *v->FXSQLVAR;
        v->FParent = this;
        v->FIndex = i;
        v->Bind(&FXSQLDA->sqlvar[i]);
        FVars.push_back(std::move(v));
    }
    Entries.clear();
    FCount = n;
    FXSQLDA->sqln = FXSQLDA->sqld = static_cast<ISC_SHORT>(n);
    FCachedNames.clear();
    IndexNames();
}

void TFIBXSQLDA::ClearEntries() {
    std::vector<std::unique_ptr<TFIBXSQLVAR>> none;
    SetEntries(none);
}

void TFIBXSQLDA::IndexNames() {
    FNames.clear();
    FEquelNames.clear();
    // A short list is searched from its start; a long one gets an index.
    if (FCount > kSearchedNames)
        for (int i = 0; i < FCount; ++i) FNames.emplace(FVars[static_cast<size_t>(i)]->Name(), i);
    if (!FIsParams) return;
    for (int i = 0; i < FCount; ++i) {
        const std::string& name = FVars[static_cast<size_t>(i)]->Name();
        if (FEquelNames.contains(name)) continue;
        std::vector<int> same;
        for (int j = i + 1; j < FCount; ++j) {
            if (FVars[static_cast<size_t>(j)]->Name() != name) continue;
            if (same.empty()) same.push_back(i);
            same.push_back(j);
        }
        if (!same.empty()) FEquelNames.emplace(name, std::move(same));
    }
}

const std::vector<int>* TFIBXSQLDA::EqualNamed(const std::string& Name) const {
    const auto it = FEquelNames.find(Name);
    return it == FEquelNames.end() ? nullptr : &it->second;
}

int TFIBXSQLDA::IndexOf(std::string_view Name, bool OrUpperCased) const {
    if (FCount > kSearchedNames) {
        auto it = FNames.find(std::string(Name));
        if (it == FNames.end() && OrUpperCased) it = FNames.find(UpperAscii(std::string(Name)));
        return it == FNames.end() ? -1 : it->second;
    }
    // One walk finds the entry of exactly that name, and on the way the first
    // one of that name with a-z taken as A-Z.
    auto sameUpper = [&](const std::string& n) {
        if (n.size() != Name.size()) return false;
        for (size_t k = 0; k < n.size(); ++k) {
            char c = Name[k];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            if (n[k] != c) return false;
        }
        return true;
    };
    int upper = -1;
    for (int i = 0; i < FCount; ++i) {
        const std::string& n = FVars[static_cast<size_t>(i)]->Name();
        if (n == Name) return i;
        if (OrUpperCased && upper < 0 && sameUpper(n)) upper = i;
    }
    return upper;
}

TFIBXSQLVAR* TFIBXSQLDA::ByName(const std::string& Name) {
    // Only a long list keeps its look-ups; a short one is walked.
    const bool cached = FCount > kSearchedNames;
    if (cached)
        if (const auto it = FCachedNames.find(Name); it != FCachedNames.end() && it->second < FCount)
            return FVars[static_cast<size_t>(it->second)].get();
    const bool quoted = Name.size() >= 2 && Name.front() == '"' && Name.back() == '"';
    const int found =
        quoted ? IndexOf(std::string_view(Name).substr(1, Name.size() - 2), false) : IndexOf(Name, true);
    if (found < 0) return nullptr;
    if (cached) FCachedNames[Name] = found;
    return FVars[static_cast<size_t>(found)].get();
}

} // namespace ostrakel
