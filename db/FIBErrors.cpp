#include "db/FIBErrors.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include "db/ClientLibrary.h"
#include "platform/TextCodec.h"

namespace ostrakel {

namespace {

const char* const kClientErrorTexts[kFIBClientErrorCount] = {
    "Unknown error.",
    "Unsupported feature.",
    "Not permitted.",
    "Temporary file access error.",
    "Database connection timed out.",
    "Cannot set database.",
    "Cannot set transaction.",
    "Operation cancelled at user's request.",
    "DPB Constant (isc_dpb_%s) is unsupported.",
    "DPB Constant (%s) is unknown.",
    "TPB Constant (isc_tpb_%s) is unsupported.",
    "TPB Constant (%s) is unknown.",
    "%s: Cannot perform operation -- DB is not open.",
    "Cannot perform operation -- DB is currently open.",
    "Database name is missing.",
    "%s :Transaction is not active.",
    "%s :Transaction is active.",
    "Timeout values cannot be negative.",
    "%s :No databases are listed in transaction component.",
    "%s :Updating wrong database.",
    "%s :Updating wrong transaction.",
    "Database not assigned for %s.",
    "Transaction not assigned for %s.",
    "XSQLDA index out of range.",
    "XSQLDA name does not exist (%s).",
    "End of file.",
    "Beginning of file.",
    "%s:Invalid statement handle.",
    "Can't %s because %s dataset open.",
    "Can't %s because %s dataset closed.",
    "Unknown SQL Data type (%d).",
    "Invalid column index (index exceeds permitted range).",
    "Invalid parameter index (index exceeds permitted range).",
    "Invalid data conversion.",
    "Column cannot be set to null (%s)",
    "Blob stream cannot be read.",
    "Blob stream cannot be written.",
    "Can't %s , because  query is empty",
    "Can't \"open\" a non-select statement. Use ExecQuery.",
    "No access to field \"%s\".",
    "Field \"%s\" is read-only.",
    "Field \"%s\" not found.",
    "DataSet not in Edit or Insert mode.(%s)",
    "Not editing.",
    "Can't insert into dataset. (%s)",
    "Can't post. (%s) ",
    "Can't update. (%s)",
    "Can't delete from dataset. (%s)",
    "Can't refresh row. (%s)",
    "Buffer not set.",
    "Circular references not permitted.(%s)",
    "SQL Parse Error in :%s \r\n\r\n%s",
    "User abort.",
    "Data set is uni-directional.",
    "Cannot create shared resource. (Windows error %d)",
    "Windows API error. (Windows error %d [$%.8x])",
    "Column lists do not match.",
    "Column types don't match. (From index: %d, To index: %d)",
    "Can't end a shared transaction unless it is forced and equal to the transaction's TimeoutAction.",
    "Column types \"%s\" is not array field",
    "Dimension %d don't exist in \"%s\" ",
    "SQL Dialect invalid",
    "InterBase library gds32.dll not found in the path. Please install InterBase to use this functionality",
    "%s is an InterBase6 function. Please upgrade to InterBase6 to use this functonality",
    "InterBase Install DLL ibinstall.dll not found in the path. Please install InterBase 6 to use this "
    "functionality",
    "Cannot perform operation -- service is not attached",
    "Cannot perform operation -- service is attached",
    "Server Name Missing",
    "Query Parameters missing or incorrect",
    "Start Parameters missing or incorrect",
    "Unexpected Output buffer value",
    "Generic ServiceStart not applicable: Use Specific Procedures to set configuration params",
    "SPB Constant Not supported",
    "SPB Constant Unknown",
    "Field Size too small. Field %s.%s",
    "%s. Can't use limited cache. \r\nCachedUpdates must be False,\r\nSelect must have \"Order by\" clause "
    ",\r\nAll order fields must exist in fields section\r\nSelect can't use params with prefix "
    "\"NEW_\"\r\nUpdateTransaction must be equel Transaction or AutoCommit=True ",
    "Error in %s. FieldList is empty.",
    "%s can't use field \"%s\"",
    "%s is an Firebird 2 function. Please upgrade to Firebird 2 to use this functonality",
    "MDT. Socket of database \"%s\" not found",
    "MDT. MDT transaction already opened",
    "MDT. FIBXSQLDA and MDTDataRecord are incompatible",
    "MDT. Unexpected error in \"%s\"",
    "MDT. MDT savepoint \"%s\" already set",
    "MDT. Savepoint \"%s\" not found",
};

std::mutex& OptionsLock() {
    static std::mutex lock;
    return lock;
}
TFIBErrorMessageOptions& Options() {
    static TFIBErrorMessageOptions options;
    return options;
}

std::mutex& HandlerLock() {
    static std::mutex lock;
    return lock;
}
TFIBErrorHandler& Handler() {
    static TFIBErrorHandler handler;
    return handler;
}

// The SQL-code and engine buffers; the client cuts longer texts to fit.
constexpr int kSQLMessageBufferSize = 1024;
constexpr unsigned int kIBMessageBufferSize = 20480;

void CapitaliseFirst(std::string& bytes) {
    if (!bytes.empty() && bytes[0] >= 'a' && bytes[0] <= 'z')
        bytes[0] = static_cast<char>(bytes[0] - 'a' + 'A');
}

std::string VFormat(const char* fmt, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n <= 0) return {};
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), fmt, args);
    return std::string(buf.data(), static_cast<size_t>(n));
}

bool IsUtf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        size_t more = 0;
        char32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            more = 1, cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2, cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3, cp = c & 0x07;
        } else {
            return false;
        }
        if (i + more >= bytes.size()) return false;
        for (size_t k = 1; k <= more; ++k) {
            const auto cc = static_cast<unsigned char>(bytes[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = cp << 6 | (cc & 0x3F);
        }
        // Overlong forms, surrogates and code points beyond Unicode are not UTF-8.
        if ((more == 2 && cp < 0x800) || (more == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

std::string DecodeClientText(const std::string& bytes, TStatusTexts texts) {
    if (texts == TStatusTexts::Utf8 && IsUtf8(bytes)) return bytes;
    return Win1250ToUtf8(bytes);
}

// The client library's text for an SQL code, capitalised and closed with a
// full stop and a line break (a text that has its own full stop keeps the
// engine texts on its line).
std::string InterpretSQLCode(IIBClientLibrary& lib, ISC_LONG sqlCode, TStatusTexts texts) {
    char buffer[kSQLMessageBufferSize] = {};
    lib.isc_sql_interprete(static_cast<short>(sqlCode), buffer, kSQLMessageBufferSize);
    buffer[kSQLMessageBufferSize - 1] = '\0';
    std::string bytes(buffer);
    for (size_t at = bytes.find("\\n"); at != std::string::npos; at = bytes.find("\\n", at))
        bytes.erase(at, 2);
    if (bytes.empty()) return {};
    CapitaliseFirst(bytes);
    std::string text = DecodeClientText(bytes, texts);
    if (text.back() != '.') text += ".\r\n";
    return text;
}

// Every engine text of the status vector, one per line.
std::string InterpretEngineTexts(IIBClientLibrary& lib, const ISC_STATUS* status, TStatusTexts texts) {
    std::vector<char> buffer(kIBMessageBufferSize);
    std::string text;
    const ISC_STATUS* cursor = status;
    // Each text takes at least two entries, so a vector that the client never
    // runs out of cannot keep this loop going.
    for (int i = 0; i < ISC_STATUS_LENGTH; ++i) {
        const ISC_LONG length = lib.InterpretStatus(buffer.data(), kIBMessageBufferSize, &cursor);
        if (length <= 0) break;
        std::string bytes(buffer.data(), std::min<size_t>(static_cast<size_t>(length), buffer.size()));
        CapitaliseFirst(bytes);
        text += DecodeClientText(bytes, texts);
        if (text.back() != '.') text += '.';
        text += "\r\n";
    }
    return text;
}

} // namespace

const char* FIBClientErrorText(int code) {
    const int index = code % 128;
    if (index < 0 || index >= kFIBClientErrorCount) return kClientErrorTexts[fibeUnknownError];
    return kClientErrorTexts[index];
}

ISC_STATUS* StatusVector() {
    thread_local ISC_STATUS_ARRAY status = {};
    return status;
}

TFIBErrorMessageOptions GetFIBErrorMessageOptions() {
    std::lock_guard<std::mutex> guard(OptionsLock());
    return Options();
}

void SetFIBErrorMessageOptions(const TFIBErrorMessageOptions& options) {
    std::lock_guard<std::mutex> guard(OptionsLock());
    Options() = options;
}

void SetFIBErrorHandler(TFIBErrorHandler handler) {
    std::lock_guard<std::mutex> guard(HandlerLock());
    Handler() = std::move(handler);
}

EFIBError::EFIBError(int ASQLCode, std::string aMsg, const TComponent* Sender)
    : EDatabaseError(std::string()), FSQLCode(ASQLCode), FIBErrorCode(StatusVector()[1]),
      FRaiserName(Sender ? Sender->NamePath() : std::string()), FMsg(std::move(aMsg)), FSenderObj(Sender) {
    Compose();
}

EFIBError::EFIBError(int ASQLCode, std::string IBMsg, std::string SQLMsg, std::string CstmMsg,
                     const TComponent* Sender)
    : EFIBError(ASQLCode, std::string(), Sender) {
    FSQLMessage = std::move(SQLMsg);
    FIBMessage = std::move(IBMsg);
    FCustomMessage = std::move(CstmMsg);
    Compose();
}

void EFIBError::SetSQLMessage(std::string value) {
    FSQLMessage = std::move(value);
    Compose();
}

void EFIBError::SetIBMessage(std::string value) {
    FIBMessage = std::move(value);
    Compose();
}

void EFIBError::SetCustomMessage(std::string value) {
    FCustomMessage = std::move(value);
    Compose();
}

void EFIBError::SetMsg(std::string value) {
    FMsg = std::move(value);
    Compose();
}

void EFIBError::Compose() {
    const TFIBErrorMessageOptions options = GetFIBErrorMessageOptions();
    std::string text;
    // A one-letter path is no name worth showing.
    if (options.ShowRaiserName && FRaiserName.size() > 1) text += FRaiserName + ":\r\n";
    if (options.ShowSQLCode) text += FSQLMessage;
    if (options.ShowIBMessage) text += FIBMessage;
    text += FCustomMessage;
    text += FMsg;
    SetMessage(std::move(text));
}

void RaiseStatusError(IIBClientLibrary& lib, const TComponent* Sender, TStatusTexts Texts) {
    const TFIBErrorMessageOptions options = GetFIBErrorMessageOptions();
    const ISC_STATUS* status = StatusVector();
    const ISC_LONG sqlCode = lib.isc_sqlcode(status);
    std::string sqlMessage = options.ShowSQLCode ? InterpretSQLCode(lib, sqlCode, Texts) : std::string();
    std::string ibMessage = options.ShowIBMessage ? InterpretEngineTexts(lib, status, Texts) : std::string();
    EFIBInterBaseError error(sqlCode, std::move(ibMessage), std::move(sqlMessage), std::string(), Sender);

    TFIBErrorHandler handler;
    {
        std::lock_guard<std::mutex> guard(HandlerLock());
        handler = Handler();
    }
    bool doRaise = true;
    if (handler) handler(Sender, error, doRaise);
    if (doRaise) throw error;
}

namespace detail {

void RaiseClientErrorV(int code, ...) {
    va_list args;
    va_start(args, code);
    std::string text = VFormat(FIBClientErrorText(code), args);
    va_end(args);
    throw EFIBClientError(code, std::move(text), nullptr);
}

void RaiseClientErrorFmtV(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = VFormat(fmt, args);
    va_end(args);
    throw EFIBClientError(-1, std::move(text), nullptr);
}

} // namespace detail

} // namespace ostrakel
