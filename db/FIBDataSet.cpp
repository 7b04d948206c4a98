#include "db/FIBDataSet.h"

#include "db/FIBErrors.h"
#include "db/FIBTransaction.h"
#include "platform/Exception.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cwctype>
#include <map>
#include <mutex>
#include <set>

namespace ostrakel {

namespace {

// The framework's date-time storage: milliseconds since 1 January 0001, day 1.
constexpr double kDateDelta = 693594;
constexpr double kMsPerDay = 86400000;
constexpr int kIscDate18991230 = 15018;

double DateTimeToMSecs(TDateTime v) {
    const double days = std::trunc(v);
    return (days + kDateDelta) * kMsPerDay + std::round(std::fabs(v - days) * kMsPerDay);
}

TDateTime MSecsToDateTime(double ms) {
    const double days = std::floor(ms / kMsPerDay);
    const double frac = (ms - days * kMsPerDay) / kMsPerDay;
    const double d = days - kDateDelta;
    return d < 0 ? d - frac : d + frac;
}

// Upper case by the workstation's locale, as the lookup by name compares.
std::string LocaleUpper(const std::string& s) {
    std::u32string wide = Utf8ToUtf32(s);
    for (char32_t& c : wide) c = static_cast<char32_t>(std::towupper(static_cast<wint_t>(c)));
    return Utf32ToUtf8(wide);
}

std::string TrimRight(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

template <class T> T Load(const char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

const std::string kColumnInfoSQL =
    "Select R.RDB$FIELD_NAME,R.RDB$FIELD_SOURCE,F.RDB$COMPUTED_BLR, \r\nR.RDB$DEFAULT_SOURCE DS,F.RDB$DEFAULT_SOURCE "
    "DS1, \r\nF.RDB$FIELD_TYPE, \r\nF.RDB$CHARACTER_SET_ID \r\nfrom  RDB$RELATION_FIELDS R \r\nJOIN RDB$FIELDS F ON "
    "(R.RDB$FIELD_SOURCE = F.RDB$FIELD_NAME) \r\nwhere  R.RDB$RELATION_NAME=:TN \r\norder by R.RDB$FIELD_POSITION";
const std::string kFormatSQL = "Select RDB$FORMAT from RDB$RELATIONS where RDB$RELATION_NAME=:TN";

} // namespace

// ---------------------------------------------------------------- the column-information cache

namespace {

struct TpFIBFieldInfo {
    std::string DomainName;
    bool IsBoolean = false;
};
struct TpFIBTableInfo {
    int FormatNumber = 0;
    std::map<std::string, TpFIBFieldInfo> Fields;
};

struct TTableInfoState {
    mutable std::mutex Lock;
    std::map<std::pair<const TFIBDatabase*, std::string>, TpFIBTableInfo> Tables;
    std::set<const TFIBDatabase*> Watched;
};

TTableInfoState& InfoState() {
    static TTableInfoState* state = new TTableInfoState; // lives to the process's end
    return *state;
}

TpFIBTableInfo LoadTableInfo(TFIBDatabase& db, TFIBTransaction* transaction, const std::string& table) {
    bool ownStart = false;
    if (!transaction) {
        transaction = db.InternalTransaction();
        ownStart = !transaction->Active();
    }
    TpFIBTableInfo info;
    TFIBQuery q(nullptr);
    q.SetDatabase(&db);
    q.SetTransaction(transaction);
    q.SetOptions({qoStartTransaction});
    try {
        q.SQL().SetText(kFormatSQL);
        q.ParamByName("TN").SetAsString(table);
        q.ExecQuery();
        if (!q.Eof()) info.FormatNumber = q.Current()[0].AsInteger();
        q.Close();
        q.SQL().SetText(kColumnInfoSQL);
        q.ParamByName("TN").SetAsString(table);
        q.ExecQuery();
        while (!q.Eof()) {
            TpFIBFieldInfo field;
            field.DomainName = TrimRight(q.FieldByName("RDB$FIELD_SOURCE").AsString());
            field.IsBoolean = LocaleUpper(field.DomainName).find("BOOLEAN") != std::string::npos;
            info.Fields[TrimRight(q.FieldByName("RDB$FIELD_NAME").AsString())] = field;
            q.Next();
        }
        q.Close();
        if (ownStart && transaction->Active()) transaction->Commit();
    } catch (...) {
        if (ownStart && transaction->Active()) transaction->Rollback();
        throw;
    }
    return info;
}

} // namespace

TpFIBTableInfoCollect& TpFIBTableInfoCollect::Instance() {
    static TpFIBTableInfoCollect instance;
    return instance;
}

bool TpFIBTableInfoCollect::IsBooleanColumn(TFIBDatabase& Database, TFIBTransaction* Transaction,
                                            const std::string& Table, const std::string& Column) {
    TTableInfoState& state = InfoState();
    std::lock_guard guard(state.Lock);
    const auto key = std::make_pair(static_cast<const TFIBDatabase*>(&Database), Table);
    auto it = state.Tables.find(key);
    if (it == state.Tables.end()) {
        TpFIBTableInfo info = LoadTableInfo(Database, Transaction, Table);
        it = state.Tables.emplace(key, std::move(info)).first;
        if (state.Watched.insert(&Database).second) {
            // The connection's entries go with it.
            const TFIBDatabase* db = &Database;
            Database.AddEvent(&state, detBeforeDestroy, [db] {
                TTableInfoState& s = InfoState();
                std::lock_guard g(s.Lock);
                std::erase_if(s.Tables, [db](const auto& e) { return e.first.first == db; });
                s.Watched.erase(db);
            });
        }
    }
    const auto field = it->second.Fields.find(Column);
    return field != it->second.Fields.end() && field->second.IsBoolean;
}

size_t TpFIBTableInfoCollect::LoadedTables() const {
    TTableInfoState& state = InfoState();
    std::lock_guard guard(state.Lock);
    return state.Tables.size();
}

// ---------------------------------------------------------------- TRecordsCache

TRecordsCache::TRecordsCache(size_t RecordSize, int BufferChunks)
    : FRecordSize(std::max<size_t>(RecordSize, 1)), FChunk(std::max(BufferChunks, 1)) {}

char* TRecordsCache::Record(int Index) {
    return FBlocks[static_cast<size_t>(Index / FChunk)].get() + static_cast<size_t>(Index % FChunk) * FRecordSize;
}

const char* TRecordsCache::Record(int Index) const {
    return FBlocks[static_cast<size_t>(Index / FChunk)].get() + static_cast<size_t>(Index % FChunk) * FRecordSize;
}

char* TRecordsCache::Append() {
    if (FCount == static_cast<int>(FBlocks.size()) * FChunk)
        FBlocks.push_back(std::make_unique<char[]>(FRecordSize * static_cast<size_t>(FChunk)));
    return Record(FCount++);
}

// ---------------------------------------------------------------- fields

TField::TField(TFIBCustomDataSet& DataSet, const TFieldDef& Def)
    : FDataSet(DataSet), FDef(Def), FUpperName(LocaleUpper(Def.Name)), FNameHash(std::hash<std::string>{}(FUpperName)) {}

bool TField::IsNull() const {
    const char* record = FDataSet.CurrentRecord();
    return !record || record[FDef.Offset] != 0;
}

const char* TField::Data() const { return FDataSet.CurrentRecord() + FDef.Offset + 1; }

void TField::ConversionError(const char* Kind) const {
    throw EDatabaseError(Format("Invalid type conversion to %s in field '%s'", Kind, FDef.Name.c_str()));
}

int32_t TField::AsInteger() const { ConversionError("Integer"); }
double TField::AsFloat() const { ConversionError("Float"); }
TDateTime TField::AsDateTime() const { ConversionError("DateTime"); }
bool TField::AsBoolean() const { ConversionError("Boolean"); }

std::string TFIBStringField::AsString() const {
    if (IsNull()) return {};
    const char* p = Data();
    std::string bytes(p, strnlen(p, static_cast<size_t>(FDef.DataSize)));
    if (FDataSet.Options().Contains(poTrimCharFields)) bytes = TrimRight(std::move(bytes));
    const TFIBDatabase* db = FDataSet.Database();
    const int cs = FDef.SubType & 0xFF;
    if (FDef.DataType == ftWideString ||
        (db && db->NeedUnicodeFieldsTranslation() && db->NeedUnicodeFieldTranslation(cs)))
        return bytes;
    return Win1250ToUtf8(bytes);
}

int32_t TFIBStringField::AsInteger() const {
    const std::string text = AsString();
    int64_t v;
    if (!ParseDecimalInteger(text, v) || v < INT32_MIN || v > INT32_MAX)
        throw EConvertError(Format("'%s' is not a valid integer value", text.c_str()));
    return static_cast<int32_t>(v);
}

double TFIBStringField::AsFloat() const {
    const std::string text = AsString();
    char* end = nullptr;
    const double d = std::strtod(text.c_str(), &end);
    if (text.empty() || !end || *end) throw EConvertError(Format("'%s' is not a valid floating point value", text.c_str()));
    return d;
}

int32_t TFIBSmallIntField::AsInteger() const { return IsNull() ? 0 : Load<int16_t>(Data()); }

std::string TFIBSmallIntField::AsString() const { return IsNull() ? std::string() : std::to_string(AsInteger()); }

int32_t TFIBIntegerField::AsInteger() const { return IsNull() ? 0 : Load<int32_t>(Data()); }

bool TFIBBooleanField::AsBoolean() const {
    if (IsNull()) return false;
    return FDef.SQLType == SQL_LONG ? Load<int32_t>(Data()) != 0 : Load<int16_t>(Data()) != 0;
}

std::string TFIBBooleanField::AsString() const {
    if (IsNull()) return {};
    return AsBoolean() ? "True" : "False";
}

double TFIBFloatField::AsFloat() const {
    if (IsNull()) return 0;
    switch (FDef.SQLType) {
    case SQL_SHORT:
        return Load<int16_t>(Data()) * std::pow(10.0, FDef.Scale);
    case SQL_LONG:
        return Load<int32_t>(Data()) * std::pow(10.0, FDef.Scale);
    case SQL_FLOAT:
        return Load<float>(Data());
    default:
        return Load<double>(Data());
    }
}

int32_t TFIBFloatField::AsInteger() const { return static_cast<int32_t>(std::nearbyint(AsFloat())); }

std::string TFIBFloatField::AsString() const { return IsNull() ? std::string() : FloatToText(AsFloat()); }

int64_t TFIBBCDField::Value() const { return IsNull() ? 0 : Load<int64_t>(Data()); }

int32_t TFIBBCDField::AsInteger() const {
    if (IsNull()) return 0;
    // Fixed point with four decimals, rounded to the integer halves to even.
    const int64_t v = Value();
    const int decimals = std::min<int>(-FDef.Scale, 4);
    int64_t units = v;
    for (int i = decimals; i < -FDef.Scale; ++i) units /= 10; // cut to four decimals
    int64_t scale = 1;
    for (int i = 0; i < decimals; ++i) scale *= 10;
    int64_t whole = units / scale;
    const int64_t rest = units % scale;
    const int64_t twice = 2 * (rest < 0 ? -rest : rest);
    if (twice > scale || (twice == scale && (whole % 2 != 0))) whole += units < 0 ? -1 : 1;
    return static_cast<int32_t>(whole);
}

double TFIBBCDField::AsFloat() const { return IsNull() ? 0 : static_cast<double>(Value()) * std::pow(10.0, FDef.Scale); }

std::string TFIBBCDField::AsString() const { return IsNull() ? std::string() : ScaledToText(Value(), FDef.Scale); }

int32_t TFIBLargeIntField::AsInteger() const { return static_cast<int32_t>(Value()); }

TDateTime TFIBDateTimeField::AsDateTime() const {
    if (IsNull()) return 0;
    switch (FDef.SQLType) {
    case SQL_TYPE_DATE:
        return static_cast<double>(Load<int32_t>(Data())) - kDateDelta;
    case SQL_TYPE_TIME:
        return static_cast<double>(Load<int32_t>(Data())) / kMsPerDay;
    default:
        return MSecsToDateTime(Load<double>(Data()));
    }
}

std::string TFIBDateTimeField::AsString() const { return IsNull() ? std::string() : DateTimeToText(AsDateTime()); }
std::string TFIBDateField::AsString() const { return IsNull() ? std::string() : FormatShortDate(AsDateTime()); }
std::string TFIBTimeField::AsString() const { return IsNull() ? std::string() : FormatLongTime(AsDateTime()); }

std::string TFIBBlobField::AsString() const {
    if (IsNull()) return {};
    const std::string bytes = ReadBlobBytes(FDataSet.QSelect(), Load<ISC_QUAD>(Data()));
    const TFIBDatabase* db = FDataSet.Database();
    if (db && db->NeedUnicodeFieldsTranslation() && db->NeedUnicodeFieldTranslation(FDef.Scale)) return bytes;
    return Win1250ToUtf8(bytes);
}

// ---------------------------------------------------------------- TFIBCustomDataSet

TFIBCustomDataSet::TFIBCustomDataSet(TComponent* AOwner) : TComponent(AOwner), FBase(this) {
    for (const char* name : {"SelectQuery", "InsertQuery", "UpdateQuery", "DeleteQuery", "RefreshQuery"}) {
        auto* q = Create<TFIBQuery>();
        q->SetName(name);
        q->SetGoToFirstRecordOnExecute(false);
        q->SetParamCheck(true);
        q->SetOptions({});
        // The transaction's end is the data set's to handle (Transaction ending below):
        // with poDontCloseAfterEndTransaction the rest of the rows are fetched first.
        q->SetAutoCloseOnTransactionEnd(false);
        if (!FQSelect) FQSelect = q;
    }
    FQSelect->OnSQLChanging = [this](TFIBQuery*) { OnSelectSQLChanging(); };
    FBase.OnTransactionEnding = [this](TFIBTransaction* t) { OnTransactionEnding(t); };
    FBase.OnTransactionEnded = [this](TFIBTransaction* t) {
        if (TransactionEnded) TransactionEnded(this, t);
    };
    FBase.OnDatabaseDisconnecting = [this](TFIBBase*) { OnDatabaseDisconnecting(); };
}

TFIBCustomDataSet::~TFIBCustomDataSet() {
    try {
        Close();
    } catch (...) {
        // A destructor has nobody to report to.
    }
}

void TFIBCustomDataSet::SetDatabase(TFIBDatabase* Value) {
    FBase.SetDatabase(Value);
    for (size_t i = 0; i < ComponentCount(); ++i)
        if (auto* q = dynamic_cast<TFIBQuery*>(Components(i))) q->SetDatabase(Value);
}

void TFIBCustomDataSet::SetTransaction(TFIBTransaction* Value) {
    FBase.SetTransaction(Value);
    for (size_t i = 0; i < ComponentCount(); ++i)
        if (auto* q = dynamic_cast<TFIBQuery*>(Components(i))) q->SetTransaction(Value);
}

const char* TFIBCustomDataSet::CurrentRecord() const {
    if (!FCache || FCurrentRecord < 0 || FCurrentRecord >= FCache->Count()) return nullptr;
    return FCache->Record(FCurrentRecord);
}

void TFIBCustomDataSet::OnSelectSQLChanging() {
    if (FActive) RaiseClientError(fibeDatasetOpen, " change SelectSQL ", NamePath());
    FFieldDefs.clear();
    FPrepared = false;
}

void TFIBCustomDataSet::StartTransaction() {
    if (Transaction() && !Database() && Transaction()->DefaultDatabase())
        SetDatabase(Transaction()->DefaultDatabase());
    if (Database() && !Transaction() && Database()->DefaultTransaction())
        SetTransaction(Database()->DefaultTransaction());
    TFIBTransaction* tr = Transaction();
    if (!tr || tr->Active()) return;
    if (tr->DatabaseCount() == 0 && Database()) tr->SetDefaultDatabase(Database());
    if (FOptions.Contains(poStartTransaction)) tr->StartTransaction();
}

void TFIBCustomDataSet::Prepare() {
    FQSelect->Base().CheckDatabase();
    StartTransaction();
    FQSelect->Base().CheckTransaction();
    bool blank = true;
    const std::string text = FQSelect->SQL().Text();
    for (char c : text)
        if (static_cast<unsigned char>(c) > 32) blank = false;
    if (blank) RaiseClientError(fibeEmptyQuery, "Prepare " + NamePath());
    if (!FQSelect->Open()) FQSelect->Prepare();
    FPrepared = true;
    MakeFieldDefs();
}

bool TFIBCustomDataSet::IsBooleanColumn(const TFIBXSQLVAR& Column) {
    if (!FPrepareOptions.Contains(psUseBooleanField) || Column.Scale() != 0) return false;
    const std::string table = Column.RelationName();
    if (table.empty() || table == "FIB$FIELDS_INFO" || !Database()) return false;
    TFIBTransaction* active = nullptr;
    for (int i = 0; i < Database()->TransactionCount() && !active; ++i)
        if (TFIBTransaction* t = Database()->Transactions(i); t && t->Active()) active = t;
    return TpFIBTableInfoCollect::Instance().IsBooleanColumn(*Database(), active, table, Column.SqlName());
}

void TFIBCustomDataSet::MakeFieldDefs() {
    FFieldDefs.clear();
    size_t offset = 0;
    TFIBXSQLDA& row = FQSelect->Current();
    for (int i = 0; i < row.Count(); ++i) {
        const TFIBXSQLVAR& column = row.Vars(i);
        TFieldDef def;
        def.Name = column.Name();
        def.FieldNo = i;
        def.SQLType = column.SQLType();
        def.Scale = column.Scale();
        def.SubType = column.SQLSubtype();
        def.Nullable = column.IsNullable();
        const short type = def.SQLType;
        switch (type) {
        case SQL_TEXT:
        case SQL_VARYING: {
            const TFIBDatabase* db = Database();
            const int cs = def.SubType & 0xFF;
            const bool wide = db && db->IsUnicodeConnect() && db->NeedUnicodeFieldTranslation(cs);
            def.DataType = wide ? ftWideString : ftString;
            def.Size = wide ? column.Size() / std::max(db->BytesInUnicodeChar(cs), 1) : column.Size();
            def.DataSize = static_cast<size_t>(column.Size()) + 1;
            break;
        }
        case SQL_SHORT:
        case SQL_LONG:
            if (def.Scale < 0) def.DataType = ftFloat;
            else if (IsBooleanColumn(column)) def.DataType = ftBoolean;
            else def.DataType = type == SQL_SHORT ? ftSmallint : ftInteger;
            def.DataSize = type == SQL_SHORT ? 2 : 4;
            break;
        case SQL_INT64:
            if (def.Scale == 0) {
                def.DataType = FPrepareOptions.Contains(psUseLargeIntField) ? ftLargeint : ftBCD;
            } else if (def.Scale >= -4 || FPrepareOptions.Contains(psSQLINT64ToBCD)) {
                def.DataType = ftBCD;
                def.Size = -def.Scale;
            } else {
                def.DataType = ftFloat;
            }
            def.DataSize = 8;
            break;
        case SQL_FLOAT:
        case SQL_DOUBLE:
            def.DataType = ftFloat;
            def.DataSize = type == SQL_FLOAT ? 4 : 8;
            break;
        case SQL_TIMESTAMP:
            def.DataType = ftDateTime;
            def.DataSize = 8;
            break;
        case SQL_TYPE_DATE:
            def.DataType = ftDate;
            def.DataSize = 4;
            break;
        case SQL_TYPE_TIME:
            def.DataType = ftTime;
            def.DataSize = 4;
            break;
        case SQL_BLOB:
            def.DataType = def.SubType == 1 ? ftMemo : ftBlob;
            def.Size = 8;
            def.DataSize = 8;
            break;
        case SQL_ARRAY:
            def.DataType = ftBytes;
            def.Size = 8;
            def.DataSize = 8;
            break;
        case SQL_FIB_BOOLEAN:
            def.DataType = ftBoolean;
            def.DataSize = 2;
            break;
        default:
            continue; // no field for this column
        }
        def.Offset = offset;
        offset += 1 + def.DataSize;
        FFieldDefs.push_back(def);
    }
    FRecordSize = offset;
}

void TFIBCustomDataSet::CreateFields() {
    FFields.clear();
    FFoundNames.clear();
    for (const TFieldDef& def : FFieldDefs) {
        std::unique_ptr<TField> field;
        switch (def.DataType) {
        case ftString:
        case ftWideString:
            field = std::make_unique<TFIBStringField>(*this, def);
            break;
        case ftSmallint:
            field = std::make_unique<TFIBSmallIntField>(*this, def);
            break;
        case ftInteger:
            field = std::make_unique<TFIBIntegerField>(*this, def);
            break;
        case ftBoolean:
            field = std::make_unique<TFIBBooleanField>(*this, def);
            break;
        case ftFloat:
            field = std::make_unique<TFIBFloatField>(*this, def);
            break;
        case ftBCD:
            field = std::make_unique<TFIBBCDField>(*this, def);
            break;
        case ftLargeint:
            field = std::make_unique<TFIBLargeIntField>(*this, def);
            break;
        case ftDateTime:
            field = std::make_unique<TFIBDateTimeField>(*this, def);
            break;
        case ftDate:
            field = std::make_unique<TFIBDateField>(*this, def);
            break;
        case ftTime:
            field = std::make_unique<TFIBTimeField>(*this, def);
            break;
        case ftBlob:
            field = std::make_unique<TFIBBlobField>(*this, def);
            break;
        case ftMemo:
            field = std::make_unique<TFIBMemoField>(*this, def);
            break;
        default:
            field = std::make_unique<TFIBArrayField>(*this, def);
            break;
        }
        FFields.push_back(std::move(field));
    }
}

void TFIBCustomDataSet::ReleaseAfterFailedOpen() {
    FActive = false;
    FCache.reset();
    FFields.clear();
    FFoundNames.clear();
    FRecordCount = 0;
    FCurrentRecord = -1;
    try {
        FQSelect->Close();
    } catch (...) {
        // The open's own error is the one to report.
    }
}

void TFIBCustomDataSet::Open() {
    if (FActive) return;
    try {
        StartTransaction();
        if (BeforeOpen) BeforeOpen(this);
        if (!FPrepared || !FQSelect->Prepared()) Prepare();
        if (FFieldDefs.empty()) MakeFieldDefs();
        const TFIBSQLTypes type = FQSelect->SQLType();
        if (type == SQLSelect || type == SQLSelectForUpdate) {
            CreateFields();
            FCurrentRecord = -1;
            FRecordCount = 0;
            FQSelect->ExecQuery();
            FCache = std::make_unique<TRecordsCache>(FRecordSize, FCacheModelOptions.BufferChunks);
        } else {
            FQSelect->ExecQuery();
        }
        FActive = true;
        FBOF = true;
        FEOF = false;
    } catch (...) {
        ReleaseAfterFailedOpen();
        throw;
    }
    if (AfterOpen) AfterOpen(this);
}

void TFIBCustomDataSet::Close() {
    if (!FActive) return;
    if (BeforeClose) BeforeClose(this);
    FActive = false;
    FCache.reset();
    FRecordCount = 0;
    FCurrentRecord = -1;
    FFields.clear();
    FFoundNames.clear();
    FQSelect->Close();
    if (AfterClose) AfterClose(this);
}

void TFIBCustomDataSet::CopyRowToCache(char* Record) {
    TFIBXSQLDA& row = FQSelect->Current();
    for (const TFieldDef& def : FFieldDefs) {
        const XSQLVAR* var = row.Vars(def.FieldNo).Data();
        char* flag = Record + def.Offset;
        char* data = flag + 1;
        const bool isNull = (var->sqltype & 1) && var->sqlind && *var->sqlind == -1;
        *flag = isNull ? 1 : 0;
        std::memset(data, 0, def.DataSize);
        if (isNull) continue;
        switch (def.SQLType) {
        case SQL_VARYING: {
            const uint16_t len = Load<uint16_t>(var->sqldata);
            std::memcpy(data, var->sqldata + 2, std::min<size_t>(len, def.DataSize - 1));
            break;
        }
        case SQL_TEXT:
            std::memcpy(data, var->sqldata, std::min<size_t>(static_cast<size_t>(var->sqllen), def.DataSize - 1));
            break;
        case SQL_TIMESTAMP: {
            const double ms = DateTimeToMSecs(TimeStampToDateTime(Load<ISC_TIMESTAMP>(var->sqldata)));
            std::memcpy(data, &ms, 8);
            break;
        }
        case SQL_TYPE_DATE: {
            const int32_t days = Load<ISC_DATE>(var->sqldata) - kIscDate18991230 + static_cast<int32_t>(kDateDelta);
            std::memcpy(data, &days, 4);
            break;
        }
        case SQL_TYPE_TIME: {
            const int32_t ms = static_cast<int32_t>(Load<ISC_TIME>(var->sqldata) / 10);
            std::memcpy(data, &ms, 4);
            break;
        }
        case SQL_INT64:
            if (def.DataType == ftFloat) {
                const double d = static_cast<double>(Load<int64_t>(var->sqldata)) * std::pow(10.0, def.Scale);
                std::memcpy(data, &d, 8);
            } else {
                std::memcpy(data, var->sqldata, 8);
            }
            break;
        default:
            std::memcpy(data, var->sqldata, def.DataSize);
            break;
        }
    }
}

bool TFIBCustomDataSet::FetchNext() {
    if (!FCache) return false;
    if (FCurrentRecord + 1 < FCache->Count()) {
        ++FCurrentRecord;
        return true;
    }
    if (FCurrentRecord >= FCache->Count()) return false;
    if (!FQSelect->Open() || FQSelect->Eof()) return false;
    if (!FQSelect->Next()) return false;
    CopyRowToCache(FCache->Append());
    FRecordCount = FCache->Count();
    FCurrentRecord = FRecordCount - 1;
    return true;
}

void TFIBCustomDataSet::First() {
    if (BeforeScroll) BeforeScroll(this);
    FBOF = FEOF = true;
    FCurrentRecord = -1;
    if (FActive && FetchNext()) FEOF = false;
    if (AfterScroll) AfterScroll(this);
}

void TFIBCustomDataSet::Next() {
    if (BeforeScroll) BeforeScroll(this);
    if (FActive && !FEOF) {
        FBOF = FEOF = false;
        const int current = FCurrentRecord;
        if (!FetchNext()) {
            FEOF = true;
            FCurrentRecord = current;
        }
    }
    if (AfterScroll) AfterScroll(this);
}

TField* TFIBCustomDataSet::FindField(const std::string& Name) const {
    // A walk asks for the same few names on every row.
    for (const auto& [name, field] : FFoundNames)
        if (name == Name) return field;
    const std::string upper = LocaleUpper(Name);
    const size_t hash = std::hash<std::string>{}(upper);
    for (const auto& f : FFields) {
        if (f->NameHash() != hash || f->UpperName() != upper) continue;
        constexpr size_t kNamesKept = 64;
        if (FFoundNames.size() < kNamesKept) FFoundNames.emplace_back(Name, f.get());
        return f.get();
    }
    return nullptr;
}

TField& TFIBCustomDataSet::FieldByName(const std::string& Name) const {
    if (TField* f = FindField(Name)) return *f;
    throw EDatabaseError(Format("%s: Field '%s' not found", this->Name().c_str(), Name.c_str()));
}

void TFIBCustomDataSet::OnTransactionEnding(TFIBTransaction* Transaction) {
    const TTransactionState state = Transaction->State();
    if (!FActive || (state != tsDoRollback && state != tsDoCommit)) return;
    if (TransactionEnding) TransactionEnding(this, Transaction);
    if (!FOptions.Contains(poDontCloseAfterEndTransaction)) {
        Close();
        return;
    }
    // Keep what can be kept: every remaining row into the cache, then only the cursor closes.
    const int current = FCurrentRecord;
    FCurrentRecord = FCache ? FCache->Count() - 1 : -1;
    while (FetchNext()) {
    }
    FCurrentRecord = current;
    FQSelect->Close();
}

void TFIBCustomDataSet::OnDatabaseDisconnecting() {
    Close();
    FPrepared = false;
    FFieldDefs.clear();
}

} // namespace ostrakel
