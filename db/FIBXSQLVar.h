// Parameter and column values: the value holder TFIBXSQLVAR around one
// XSQLVAR, and the list TFIBXSQLDA around one client-library XSQLDA.
#pragma once

#include "platform/DateTime.h"

#include <cstring>
#include <ibase.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace ostrakel {

class TFIBQuery;
class TFIBXSQLDA;

// The bytes of one value: short ones (every number, date and time) inside the
// entry, longer ones on the heap. Growing keeps nothing of the old bytes.
class TValueBytes {
public:
    TValueBytes() = default;
    TValueBytes(const TValueBytes&) = delete;
    TValueBytes& operator=(const TValueBytes&) = delete;

    char* data() { return FHeap ? FHeap.get() : FInline; }
    const char* data() const { return FHeap ? FHeap.get() : FInline; }
    size_t size() const { return FSize; }
    bool empty() const { return FSize == 0; }
    // Makes Len bytes of zero.
    void assign(size_t Len, char) {
        if (Len > FCapacity) {
            FHeap = std::make_unique<char[]>(Len);
            FCapacity = Len;
        }
        std::memset(data(), 0, Len);
        FSize = Len;
    }

private:
    static constexpr size_t kInline = 16;
    alignas(8) char FInline[kInline] = {};
    std::unique_ptr<char[]> FHeap;
    size_t FSize = 0;
    size_t FCapacity = kInline;
};

// The type codes the layer knows beyond ibase.h's.
inline constexpr short SQL_FIB_BOOLEAN = 590;
inline constexpr short SQL_FIB_NULL = 32766;

// A date-time inside a dynamic value (the date-time itself is a plain double).
struct TVarDateTime {
    TDateTime Value = 0;
    bool operator==(const TVarDateTime&) const = default;
};

// The dynamic value of a holder: empty (NULL), integer, 64-bit integer,
// double, text (UTF-8), date-time or boolean.
using TFIBVariant = std::variant<std::monostate, int32_t, int64_t, double, std::string, TVarDateTime, bool>;

bool VarIsNull(const TFIBVariant& v);
// The text of a dynamic value as a setter or a comparison needs it.
std::string VarToText(const TFIBVariant& v);

class TFIBXSQLVAR {
public:
    TFIBXSQLVAR(TFIBXSQLDA* Parent, int Index);
    TFIBXSQLVAR(const TFIBXSQLVAR&) = delete;
    TFIBXSQLVAR& operator=(const TFIBXSQLVAR&) = delete;

    // ---- setters (parameters) ----
    void SetAsInteger(int32_t Value);
    void SetAsShort(int16_t Value);
    void SetAsBoolean(bool Value);
    void SetAsInt64(int64_t Value);
    void SetAsDouble(double Value);
    void SetAsFloat(double Value) { SetAsDouble(Value); }
    void SetAsSingle(float Value);
    // Fixed point in units of 1/10000.
    void SetAsCurrency(double Value);
    void SetAsExtended(long double Value);
    void SetAsDateTime(TDateTime Value);
    void SetAsTimeStamp(TDateTime Value) { SetAsDateTime(Value); }
    void SetAsDate(TDateTime Value);
    void SetAsTime(TDateTime Value);
    void SetAsString(const std::string& Value);
    void SetAsWideString(const std::string& Value) { SetAsString(Value); }
    // 8-bit text as it stands, without conversion.
    void SetAsAnsiString(const std::string& Value);
    void SetAsQuad(const ISC_QUAD& Value);
    void SetAsVariant(const TFIBVariant& Value);
    void SetIsNull(bool Value);
    void Clear() { SetIsNull(true); }

    // ---- getters ----
    int32_t AsInteger() const;
    int64_t AsInt64() const;
    double AsDouble() const;
    double AsFloat() const { return AsDouble(); }
    TDateTime AsDateTime() const;
    bool AsBoolean() const;
    std::string AsString() const;
    std::string AsWideString() const { return AsString(); }
    TFIBVariant AsVariant() const;
    ISC_QUAD AsQuad() const;
    bool IsNull() const;

    // ---- description ----
    bool IsNullable() const { return (FXSQLVAR->sqltype & 1) != 0; }
    short SQLType() const { return static_cast<short>(FXSQLVAR->sqltype & ~1); }
    short Size() const { return FXSQLVAR->sqllen; }
    short Scale() const { return FXSQLVAR->sqlscale; }
    short SQLSubtype() const { return FXSQLVAR->sqlsubtype; }
    std::string SqlName() const;
    std::string RelationName() const;
    std::string AliasName() const;
    bool IsBlob() const { return SQLType() == SQL_BLOB; }
    bool IsArray() const { return SQLType() == SQL_ARRAY; }
    bool IsParam() const;
    short GetServerSQLType() const;
    short GetServerSQLSubType() const;
    short GetServerSQLScale() const;

    const std::string& Name() const { return FName; }
    int Index() const { return FIndex; }
    XSQLVAR* Data() const { return FXSQLVAR; }
    bool Modified() const { return FModified; }
    bool Initialized() const { return FInitialized; }

    // ---- parse facts (set by the statement) ----
    bool FQuoted = false;
    bool FIsMacro = false;
    bool FMacroQuoted = false;
    std::string FDefMacroValue;
    size_t FBeginPosInText = 0;
    size_t FEndPosInText = 0;
    bool FInWhereClause = false;
    bool FCanForceIsNull = false;
    // The value at the last assembly of the server text; nullopt stands for NULL.
    std::optional<std::string> FOldValue;

    // ---- the statement's side ----
    // Gives the holder buffers for the type the server described (or copied in).
    void AllocateForDescription(bool AllowUntyped);
    // Remembers the server's description of this entry.
    void RememberServerDescription(short Type, short Scale, short SubType, short Len);
    void ForgetServerDescription() { FSrvSQLType = FSrvSQLScale = FSrvSQLSubType = FSrvSQLLen = 0; }
    bool HasPendingBlob() const { return FStreamValue.has_value(); }
    // Writes the pending blob buffer into a new blob; its id becomes the value.
    // Once per execute: a second call writes nothing until MarkPendingBlobUnwritten.
    void WritePendingBlob();
    void MarkPendingBlobUnwritten() { FStreamWritten = false; }
    void ReleasePendingBlob() {
        FStreamValue.reset();
        FStreamWritten = false;
    }
    bool IsDeferred() const { return FIsDefferedSetting; }
    // Encodes a deferred text now that the server's description is known.
    void CompleteDeferred();
    // Copies this (caller) entry's value to a server entry of the same name.
    void CopyValueTo(TFIBXSQLVAR& Target);
    // Takes the server entry's type, length, scale and subtype while NULL.
    void AdoptTypeOf(const TFIBXSQLVAR& Server);
    void ClearModified() { FModified = false; }
    // A new caller entry: NULL, untyped, not yet set.
    void ResetAsNew();
    void SetName(std::string Name) { FName = std::move(Name); }

private:
    friend class TFIBXSQLDA;

    TFIBQuery* Query() const;
    // The entry whose remembered server description applies: this one, or the
    // server list's entry of the same name; null when neither has one.
    const TFIBXSQLVAR* ServerDescription() const;
    TFIBXSQLDA& List() const { return *FParent; }
    void Bind(XSQLVAR* Var);
    void Detach();
    // The primitive every setter ends in.
    void SetData(short Type, short Len, const void* Bytes);
    void ApplyData(short Type, short Len, const void* Bytes);
    void MakeNull();
    void MakeNotNull();
    // The text setter from step 4 on, with the bytes already encoded.
    void SetEncodedText(const std::string& Bytes, short ServerType, short ServerSubType, short ServerScale,
                        bool Utf8);
    void SetText(const std::string& Text, bool Convert);
    bool EncodeAsUtf8(short ServerType, short ServerSubType, short ServerScale) const;
    std::string RawText() const;
    std::string DecodeColumnText(const std::string& Bytes) const;
    std::string ReadBlobText() const;
    int64_t ScaledInt64() const;
    void ResizeData(size_t Len);
    void AfterSet(bool WasNull);
    [[noreturn]] void ConversionError() const;
    int Dialect() const;

    TFIBXSQLDA* FParent;
    int FIndex;
    XSQLVAR* FXSQLVAR = nullptr;
    // The description an entry keeps while it belongs to no list's XSQLDA.
    XSQLVAR FOwnVar{};
    TValueBytes FData;
    short FIndicator = 0;
    std::string FName;
    bool FModified = false;
    bool FInitialized = false;
    short FSrvSQLType = 0, FSrvSQLScale = 0, FSrvSQLSubType = 0, FSrvSQLLen = 0;
    std::optional<std::string> FWideTempValue;
    bool FIsDefferedSetting = false;
    std::optional<std::string> FStreamValue;
    bool FStreamWritten = false; // the buffer is already the blob whose id the entry holds
};

// The list of parameters or of result columns of one statement, around one
// XSQLDA (version 1, sqln = sqld = count). It keeps its entries and its XSQLDA
// when it shrinks and grows them only when needed.
class TFIBXSQLDA {
public:
    TFIBXSQLDA(TFIBQuery* Query, bool IsParams);
    ~TFIBXSQLDA();
    TFIBXSQLDA(const TFIBXSQLDA&) = delete;
    TFIBXSQLDA& operator=(const TFIBXSQLDA&) = delete;

    int Count() const { return FCount; }
    // Resizes the list; the name cache is emptied.
    void SetCount(int Value);
    // Raises client error 23 for an index outside the list.
    TFIBXSQLVAR& Vars(int Index) const;
    TFIBXSQLVAR& operator[](int Index) const { return Vars(Index); }
    // The lookup by name of this list alone, cached under the name as given.
    TFIBXSQLVAR* ByName(const std::string& Name);
    // Name to index, and the entries whose names occur more than once.
    void IndexNames();
    // Every entry of that name (for a name that occurs more than once).
    const std::vector<int>* EqualNamed(const std::string& Name) const;

    // The XSQLDA to hand the client; null when the list is empty.
    XSQLDA* AsXSQLDA() { return FCount > 0 ? FXSQLDA.get() : nullptr; }
    // The XSQLDA for a describe, also when empty (room for at least one entry).
    XSQLDA* ForDescribe();
    bool IsParams() const { return FIsParams; }
    TFIBQuery* Query() const { return FQuery; }
    bool HasDeferredSettings() const { return FHasDefferedSettings; }
    void SetHasDeferredSettings(bool Value) { FHasDefferedSettings = Value; }
    // Result columns read as NULL until a row has been fetched since the last execute.
    bool RowFetched() const { return FRowFetched; }
    void SetRowFetched(bool Value) { FRowFetched = Value; }

    // Replaces the entries by new ones made by the statement (moved in).
    // Out gets the entries; the list is left empty.
    void TakeEntries(std::vector<std::unique_ptr<TFIBXSQLVAR>>& Out);
    // The entries are moved in, and Entries is left empty.
    void SetEntries(std::vector<std::unique_ptr<TFIBXSQLVAR>>& Entries);
    void ClearEntries();
    std::unique_ptr<TFIBXSQLVAR> NewEntry();
    // Entries no longer in use, kept to be made new again.
    // (Entries is left empty.)
    void GiveBack(std::vector<std::unique_ptr<TFIBXSQLVAR>>& Entries);

private:
    struct TFree {
        void operator()(XSQLDA* p) const { std::free(p); }
    };
    void Reserve(int Capacity);
    void Rebind();
    // The entry of exactly that name, else (when asked) the first one of that
    // name with ASCII a-z taken as A-Z; -1 when neither.
    int IndexOf(std::string_view Name, bool OrUpperCased) const;
    // Up to this many entries, a name is looked for from the start of the list.
    static constexpr int kSearchedNames = 16;

    TFIBQuery* FQuery;
    bool FIsParams;
    int FCount = 0;
    int FCapacity = 0;
    std::unique_ptr<XSQLDA, TFree> FXSQLDA;
    std::vector<std::unique_ptr<TFIBXSQLVAR>> FVars; // at least FCount, possibly more
    std::multimap<std::string, int> FNames;
    std::map<std::string, std::vector<int>> FEquelNames;
    std::map<std::string, int> FCachedNames;
    std::vector<std::unique_ptr<TFIBXSQLVAR>> FSpare;
    bool FHasDefferedSettings = false;
    bool FRowFetched = false;
};

// Parses a decimal integer with an optional sign; false for any other text.
bool ParseDecimalInteger(const std::string& Text, int64_t& Value);

// Days since 30 December 1899 <-> ISC_DATE/ISC_TIME (milliseconds rounded halves to even).
ISC_TIMESTAMP DateTimeToTimeStamp(TDateTime Value);
TDateTime TimeStampToDateTime(const ISC_TIMESTAMP& Value);

// The date-time text of the workstation's regional settings: the short date,
// and the long time unless the time is midnight.
std::string DateTimeToText(TDateTime Value);

// Reads a whole blob through the statement's connection and transaction.
std::string ReadBlobBytes(TFIBQuery& Query, ISC_QUAD Id);

// Text of a double in the workstation's number format (15 significant digits).
std::string FloatToText(double Value);
// The digits of a scaled integer with the decimal separator, trailing zeros dropped.
std::string ScaledToText(int64_t Value, int Scale);

} // namespace ostrakel
