// The buffered data set (TFIBCustomDataSet, TFIBDataSet, TpFIBDataSet): the
// walk over one select, its record cache, its field objects and their readings.
#pragma once

#include "db/FIBDatabase.h"
#include "db/FIBQuery.h"
#include "platform/Component.h"
#include "platform/DateTime.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ostrakel {

class TFIBCustomDataSet;

enum TFieldType {
    ftUnknown,
    ftString,
    ftWideString,
    ftSmallint,
    ftInteger,
    ftBoolean,
    ftFloat,
    ftBCD,
    ftLargeint,
    ftDateTime,
    ftDate,
    ftTime,
    ftBlob,
    ftMemo,
    ftBytes
};

enum TpFIBDsOption {
    poTrimCharFields,
    poRefreshAfterPost,
    poRefreshDeletedRecord,
    poStartTransaction,
    poAutoFormatFields,
    poProtectedEdit,
    poUseSelectForLock,
    poKeepSorting,
    poPersistentSorting,
    poVisibleRecno,
    poNoForceIsNull,
    poFetchAll,
    poFreeHandlesAfterClose,
    poCacheCalcFields,
    poRefreshAfterDelete,
    poDontCloseAfterEndTransaction
};
using TpFIBDsOptions = TEnumSet<TpFIBDsOption>;

enum TpPrepareOption {
    pfSetRequiredFields,
    pfSetReadOnlyFields,
    pfImportDefaultValues,
    psUseBooleanField,
    psUseGuidField,
    psSQLINT64ToBCD,
    psApplyRepositary,
    psGetOrderInfo,
    psAskRecordCount,
    psCanEditComputedFields,
    psSetEmptyStrToNull,
    psSupportUnicodeBlobs,
    psUseLargeIntField
};
using TpPrepareOptions = TEnumSet<TpPrepareOption>;

enum TCacheModelKind { cmkStandard, cmkLimitedBufferSize };
struct TCacheModelOptions {
    TCacheModelKind CacheModelKind = cmkStandard;
    int BufferChunks = 32;
};

// One result column as the data set sees it.
struct TFieldDef {
    std::string Name;
    TFieldType DataType = ftUnknown;
    int Size = 0;
    int FieldNo = 0;    // the column's index in the result row
    short SQLType = 0;  // without the NULL bit
    short Scale = 0;
    short SubType = 0;  // character set of text, subtype of blobs
    bool Nullable = false;
    size_t Offset = 0;  // of its NULL flag in the record layout
    size_t DataSize = 0;
};

// A field object: reads one column of the data set's current row.
class TField {
public:
    TField(TFIBCustomDataSet& DataSet, const TFieldDef& Def);
    virtual ~TField() = default;
    TField(const TField&) = delete;
    TField& operator=(const TField&) = delete;

    const std::string& FieldName() const { return FDef.Name; }
    TFieldType DataType() const { return FDef.DataType; }
    int Size() const { return FDef.Size; }
    int FieldNo() const { return FDef.FieldNo; }
    bool IsNull() const;

    virtual std::string AsString() const = 0;
    virtual int32_t AsInteger() const;
    virtual double AsFloat() const;
    virtual TDateTime AsDateTime() const;
    virtual bool AsBoolean() const;

    // The upper-cased name and its hash, for the lookup by name.
    const std::string& UpperName() const { return FUpperName; }
    size_t NameHash() const { return FNameHash; }

protected:
    const char* Data() const; // the column's bytes in the current row (after the NULL flag)
    [[noreturn]] void ConversionError(const char* Kind) const;
    TFIBCustomDataSet& FDataSet;
    TFieldDef FDef;

private:
    std::string FUpperName;
    size_t FNameHash;
};

class TFIBStringField : public TField {
public:
    using TField::TField;
    std::string AsString() const override;
    int32_t AsInteger() const override;
    double AsFloat() const override;
};

class TFIBSmallIntField : public TField {
public:
    using TField::TField;
    std::string AsString() const override;
    int32_t AsInteger() const override;
    double AsFloat() const override { return AsInteger(); }
};

class TFIBIntegerField : public TFIBSmallIntField {
public:
    using TFIBSmallIntField::TFIBSmallIntField;
    int32_t AsInteger() const override;
};

class TFIBBooleanField : public TField {
public:
    using TField::TField;
    std::string AsString() const override;
    int32_t AsInteger() const override { return AsBoolean() ? 1 : 0; }
    bool AsBoolean() const override;
};

class TFIBFloatField : public TField {
public:
    using TField::TField;
    std::string AsString() const override;
    int32_t AsInteger() const override;
    double AsFloat() const override;
};

// A BIGINT or NUMERIC column of 64 bits, read as fixed point with four decimals.
class TFIBBCDField : public TField {
public:
    using TField::TField;
    std::string AsString() const override;
    int32_t AsInteger() const override;
    double AsFloat() const override;
    int64_t Value() const;
};

class TFIBLargeIntField : public TFIBBCDField {
public:
    using TFIBBCDField::TFIBBCDField;
    int32_t AsInteger() const override;
};

class TFIBDateTimeField : public TField {
public:
    using TField::TField;
    std::string AsString() const override;
    TDateTime AsDateTime() const override;
};
class TFIBDateField : public TFIBDateTimeField {
public:
    using TFIBDateTimeField::TFIBDateTimeField;
    std::string AsString() const override;
};
class TFIBTimeField : public TFIBDateTimeField {
public:
    using TFIBDateTimeField::TFIBDateTimeField;
    std::string AsString() const override;
};

class TFIBBlobField : public TField {
public:
    using TField::TField;
    std::string AsString() const override;
};
class TFIBMemoField : public TFIBBlobField {
public:
    using TFIBBlobField::TFIBBlobField;
};
class TFIBArrayField : public TField {
public:
    using TField::TField;
    std::string AsString() const override { return "(ARRAY)"; }
};

// The cached rows, in blocks of BufferChunks records.
class TRecordsCache {
public:
    TRecordsCache(size_t RecordSize, int BufferChunks);
    char* Record(int Index);
    const char* Record(int Index) const;
    // Room for one more record at the end; returns it.
    char* Append();
    int Count() const { return FCount; }
    size_t BlockCount() const { return FBlocks.size(); }

private:
    size_t FRecordSize;
    int FChunk;
    int FCount = 0;
    std::vector<std::unique_ptr<char[]>> FBlocks;
};

class TFIBCustomDataSet : public TComponent {
public:
    explicit TFIBCustomDataSet(TComponent* AOwner = nullptr);
    ~TFIBCustomDataSet() override;

    // ---- properties ----
    TSQLLines& SelectSQL() { return FQSelect->SQL(); }
    TFIBDatabase* Database() const { return FBase.Database(); }
    void SetDatabase(TFIBDatabase* Value);
    TFIBTransaction* Transaction() const { return FBase.Transaction(); }
    void SetTransaction(TFIBTransaction* Value);
    const TpFIBDsOptions& Options() const { return FOptions; }
    void SetOptions(TpFIBDsOptions Value) { FOptions = Value; }
    const TpPrepareOptions& PrepareOptions() const { return FPrepareOptions; }
    void SetPrepareOptions(TpPrepareOptions Value) { FPrepareOptions = Value; }
    TCacheModelOptions& CacheModelOptions() { return FCacheModelOptions; }
    bool Active() const { return FActive; }
    void SetActive(bool Value) { Value ? Open() : Close(); }
    bool Prepared() const { return FPrepared; }
    bool Eof() const { return !FActive || FEOF; }
    bool Bof() const { return !FActive || FBOF; }
    // Rows fetched so far.
    int RecordCount() const { return FRecordCount; }
    int FieldCount() const { return static_cast<int>(FFields.size()); }
    TField& Fields(int Index) const { return *FFields.at(static_cast<size_t>(Index)); }
    const std::vector<TFieldDef>& FieldDefs() const { return FFieldDefs; }
    TFIBQuery& QSelect() { return *FQSelect; }
    // Blocks the record cache holds (0 while closed).
    size_t CacheBlockCount() const { return FCache ? FCache->BlockCount() : 0; }

    // ---- events ----
    using TDataSetNotifyEvent = std::function<void(TFIBCustomDataSet*)>;
    TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeScroll, AfterScroll;
    std::function<void(TFIBCustomDataSet*, TFIBTransaction*)> TransactionEnding, TransactionEnded;

    // ---- operations ----
    void Open();
    void Close();
    void Prepare();
    void First();
    void Next();
    TField& FieldByName(const std::string& Name) const;
    TField* FindField(const std::string& Name) const;

    // The current row's bytes in the record layout (null before the first row).
    const char* CurrentRecord() const;

private:
    void StartTransaction();
    void MakeFieldDefs();
    bool IsBooleanColumn(const TFIBXSQLVAR& Column);
    void CreateFields();
    void ReleaseAfterFailedOpen();
    bool FetchNext();
    void CopyRowToCache(char* Record);
    void OnSelectSQLChanging();
    void OnTransactionEnding(TFIBTransaction* Transaction);
    void OnDatabaseDisconnecting();

    TFIBBase FBase;
    TFIBQuery* FQSelect = nullptr;
    TpFIBDsOptions FOptions{poTrimCharFields, poRefreshAfterPost, poStartTransaction, poAutoFormatFields};
    TpPrepareOptions FPrepareOptions{pfImportDefaultValues, psUseBooleanField, psGetOrderInfo, psSetEmptyStrToNull};
    TCacheModelOptions FCacheModelOptions;
    bool FActive = false;
    bool FPrepared = false;
    bool FEOF = false;
    bool FBOF = false;
    int FRecordCount = 0;
    int FCurrentRecord = -1;
    size_t FRecordSize = 0;
    std::vector<TFieldDef> FFieldDefs;
    std::vector<std::unique_ptr<TField>> FFields;
    // Names asked for since the fields were made, as given, and what they found.
    mutable std::vector<std::pair<std::string, TField*>> FFoundNames;
    std::unique_ptr<TRecordsCache> FCache;
};

class TFIBDataSet : public TFIBCustomDataSet {
public:
    using TFIBCustomDataSet::TFIBCustomDataSet;
};

class TpFIBDataSet : public TFIBDataSet {
public:
    using TFIBDataSet::TFIBDataSet;
};

// The process-wide cache of column information (domains) per connection and
// table; the data set asks it which integer columns are boolean ones.
class TpFIBTableInfoCollect {
public:
    static TpFIBTableInfoCollect& Instance();
    // Whether the column's domain name contains BOOLEAN; loads the table's
    // columns from the server on the first question about that table.
    bool IsBooleanColumn(TFIBDatabase& Database, TFIBTransaction* Transaction, const std::string& Table,
                         const std::string& Column);
    // Tables loaded so far, over all connections.
    size_t LoadedTables() const;
};

} // namespace ostrakel
