// The database layer's error family: server errors composed from the client
// library's status vector, client errors from the fixed table of coded texts.
#pragma once

#include <ibase.h>

#include <functional>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/Component.h"
#include "platform/Exception.h"

namespace ostrakel {

class IIBClientLibrary;

// The codes of the client error table (the number is the table index).
enum TFIBClientErrorCode : int {
    fibeUnknownError = 0,
    fibeNotSupported = 1,
    fibeNotPermitted = 2,
    fibeFileAccessError = 3,
    fibeConnectTimeout = 4,
    fibeCannotSetDatabase = 5,
    fibeCannotSetTransaction = 6,
    fibeOperationCancelled = 7,
    fibeDPBConstantNotSupported = 8,
    fibeDPBConstantUnknown = 9,
    fibeTPBConstantNotSupported = 10,
    fibeTPBConstantUnknown = 11,
    fibeDatabaseClosed = 12,
    fibeDatabaseOpen = 13,
    fibeDatabaseNameMissing = 14,
    fibeNotInTransaction = 15,
    fibeInTransaction = 16,
    fibeTimeoutNegative = 17,
    fibeNoDatabasesInTransaction = 18,
    fibeUpdateWrongDB = 19,
    fibeUpdateWrongTR = 20,
    fibeDatabaseNotAssigned = 21,
    fibeTransactionNotAssigned = 22,
    fibeXSQLDAIndexOutOfRange = 23,
    fibeXSQLDANameDoesNotExist = 24,
    fibeEOF = 25,
    fibeBOF = 26,
    fibeInvalidStatementHandle = 27,
    fibeDatasetOpen = 28,
    fibeDatasetClosed = 29,
    fibeUnknownSQLDataType = 30,
    fibeInvalidColumnIndex = 31,
    fibeInvalidParamColumnIndex = 32,
    fibeInvalidDataConversion = 33,
    fibeColumnIsNotNullable = 34,
    fibeBlobCannotBeRead = 35,
    fibeBlobCannotBeWritten = 36,
    fibeEmptyQuery = 37,
    fibeCannotOpenNonSQLSelect = 38,
    fibeNoFieldAccess = 39,
    fibeFieldReadOnly = 40,
    fibeFieldNotFound = 41,
    fibeNotInEditMode = 42,
    fibeNotEditing = 43,
    fibeCannotInsert = 44,
    fibeCannotPost = 45,
    fibeCannotUpdate = 46,
    fibeCannotDelete = 47,
    fibeCannotRefresh = 48,
    fibeBufferNotSet = 49,
    fibeCircularReference = 50,
    fibeSQLParseError = 51,
    fibeUserAbort = 52,
    fibeDataSetUniDirectional = 53,
    fibeCannotCreateSharedResource = 54,
    fibeWindowsAPIError = 55,
    fibeColumnListsDontMatch = 56,
    fibeColumnTypesDontMatch = 57,
    fibeCantEndSharedTransaction = 58,
    fibeFieldUnsupportedType = 59,
    fibeDimensionError = 60,
    fibeSQLDialectInvalid = 61,
    fibeLibraryNotFound = 62,
    fibeIB60Feature = 63,
    fibeInstallDllNotFound = 64,
    fibeServiceInActive = 65,
    fibeServiceActive = 66,
    fibeServerNameMissing = 67,
    fibeQueryParamsError = 68,
    fibeStartParamsError = 69,
    fibeOutputParsingError = 70,
    fibeUseSpecificProcedures = 71,
    fibeSPBConstantNotSupported = 72,
    fibeSPBConstantUnknown = 73,
    fibeFieldSizeError = 74,
    fibeCantUseLimitedCache = 75,
    fibeFieldListEmpty = 76,
    fibeCantUseField = 77,
    fibeFirebird2Function = 78,
    fibeMDTSocketNotFound = 79,
    fibeMDTTransactionOpen = 80,
    fibeMDTIncompatibleRecord = 81,
    fibeMDTUnexpectedError = 82,
    fibeMDTSavepointSet = 83,
    fibeMDTSavepointNotFound = 84,
};

// The number of entries of the client error table.
inline constexpr int kFIBClientErrorCount = 85;

// The table text of a client error code; the code is taken modulo 128, and
// a code outside the table reads as "Unknown error.".
const char* FIBClientErrorText(int code);

// Every database-layer error. Its message is composed from the raiser's
// name path, the SQL-code text, the engine texts, a custom text and Msg,
// and recomposed whenever one of the parts changes.
class EFIBError : public EDatabaseError {
public:
    // Create: a message of the raiser's own.
    EFIBError(int ASQLCode, std::string aMsg, const TComponent* Sender);
    // CreateEx: the texts interpreted from a status vector.
    EFIBError(int ASQLCode, std::string IBMsg, std::string SQLMsg, std::string CstmMsg,
              const TComponent* Sender);

    int SQLCode() const { return FSQLCode; }
    ISC_STATUS IBErrorCode() const { return FIBErrorCode; }
    const std::string& RaiserName() const { return FRaiserName; }
    const std::string& SQLMessage() const { return FSQLMessage; }
    const std::string& IBMessage() const { return FIBMessage; }
    const std::string& CustomMessage() const { return FCustomMessage; }
    const std::string& Msg() const { return FMsg; }
    // The raising object; not owned and possibly gone by the time the error is read.
    const TComponent* SenderObj() const { return FSenderObj; }

    void SetSQLMessage(std::string value);
    void SetIBMessage(std::string value);
    void SetCustomMessage(std::string value);
    void SetMsg(std::string value);

private:
    void Compose();

    int FSQLCode;
    ISC_STATUS FIBErrorCode = 0;
    std::string FRaiserName;
    std::string FSQLMessage;
    std::string FIBMessage;
    std::string FCustomMessage;
    std::string FMsg;
    const TComponent* FSenderObj = nullptr;
};

// A failure reported by the client library in the status vector.
class EFIBInterBaseError : public EFIBError {
public:
    using EFIBError::EFIBError;
};

// A failure found by the layer's own checks.
class EFIBClientError : public EFIBError {
public:
    using EFIBError::EFIBError;
};

// Which parts the composed message shows; all on from process start.
struct TFIBErrorMessageOptions {
    bool ShowRaiserName = true;
    bool ShowSQLCode = true;
    bool ShowIBMessage = true;
};
TFIBErrorMessageOptions GetFIBErrorMessageOptions();
void SetFIBErrorMessageOptions(const TFIBErrorMessageOptions& options);

// A process-wide hook that sees every server error before it is raised; it
// may clear DoRaise to drop the error. None is installed by default.
using TFIBErrorHandler = std::function<void(const TComponent* Sender, EFIBError& E, bool& DoRaise)>;
void SetFIBErrorHandler(TFIBErrorHandler handler);

// The calling thread's status vector (ISC_STATUS_LENGTH entries), filled by
// every client call made on this thread. Never cleared by the layer.
ISC_STATUS* StatusVector();

// The code page of the client's texts. Texts about an attachment are in its
// 8-bit code page (Windows-1250). A refused attach speaks of files and hosts
// before any attachment exists, in the platform's file-name code (UTF-8);
// bytes that are not UTF-8 are read as Windows-1250 all the same.
enum class TStatusTexts { Ansi, Utf8 };

// Raises the server error described by the calling thread's status vector,
// interpreted through lib, with Sender as the raiser. It returns only when an
// installed error handler drops the error (none is installed by default), so
// callers go on as after a failed call that was not to raise.
void RaiseStatusError(IIBClientLibrary& lib, const TComponent* Sender,
                      TStatusTexts Texts = TStatusTexts::Ansi);

namespace detail {
template <class T> const T& FormatArg(const T& value) {
    static_assert(!std::is_same_v<T, std::string_view>, "pass a std::string or a C string");
    return value;
}
inline const char* FormatArg(const std::string& value) {
    return value.c_str();
}
[[noreturn]] void RaiseClientErrorV(int code, ...);
[[noreturn]] void RaiseClientErrorFmtV(const char* fmt, ...);
} // namespace detail

// Raises the client error of the table with printf-style arguments (std::string
// arguments may be passed directly); no raiser, SQLCode = code.
template <class... Args> [[noreturn]] void RaiseClientError(int code, Args&&... args) {
    detail::RaiseClientErrorV(code, detail::FormatArg(args)...);
}

// Raises a client error with a text of the caller's own; SQLCode -1.
template <class... Args> [[noreturn]] void RaiseClientErrorFmt(const char* fmt, Args&&... args) {
    detail::RaiseClientErrorFmtV(fmt, detail::FormatArg(args)...);
}

} // namespace ostrakel
