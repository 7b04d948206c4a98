#include "db/ParamBlocks.h"

#include "db/FIBErrors.h"
#include "platform/Exception.h"
#include "platform/Settings.h"
#include "platform/TextCodec.h"

#include <array>
#include <string_view>

namespace ostrakel {

namespace {

// clang-format off
// isc_dpb_ constants 1 to 83 in code order, as the client API of old named them.
constexpr std::array<std::string_view, 83> kDPBNames = {
    "cdd_pathname",     "allocation",         "journal",          "page_size",
    "num_buffers",      "buffer_length",      "debug",            "garbage_collect",
    "verify",           "sweep",              "enable_journal",   "disable_journal",
    "dbkey_scope",      "number_of_users",    "trace",            "no_garbage_collect",
    "damaged",          "license",            "sys_user_name",    "encrypt_key",
    "activate_shadow",  "sweep_interval",     "delete_shadow",    "force_write",
    "begin_log",        "quit_log",           "no_reserve",       "user_name",
    "password",         "password_enc",       "sys_user_name_enc", "interp",
    "online_dump",      "old_file_size",      "old_num_files",    "old_file",
    "old_start_page",   "old_start_seqno",    "old_start_file",   "drop_walfile",
    "old_dump_id",      "wal_backup_dir",     "wal_chkptlen",     "wal_numbufs",
    "wal_bufsize",      "wal_grp_cmt_wait",   "lc_messages",      "lc_ctype",
    "cache_manager",    "shutdown",           "online",           "shutdown_delay",
    "reserved",         "overwrite",          "sec_attach",       "disable_wal",
    "connect_timeout",  "dummy_packet_interval", "gbak_attach",   "sql_role_name",
    "set_page_buffers", "working_directory",  "sql_dialect",      "set_db_readonly",
    "set_db_sql_dialect", "gfix_attach",      "gstat_attach",     "gbak_ods_version",
    "gbak_ods_minor_version", "set_group_commit", "gbak_validate", "client_interbase_var",
    "admin_option",     "flush_interval",     "instance_name",    "old_overwrite",
    "archive_database", "archive_journals",   "archive_sweep",    "archive_dumps",
    "archive_recover",  "recover_until",      "force",
};

// Firebird's own names, found after the table above.
struct TNamedCode {
    std::string_view Name;
    int Code;
};
constexpr std::array<TNamedCode, 4> kFirebirdDPBNames = {{
    {"no_db_triggers", 72},
    {"set_db_charset", 68},
    {"utf8_filename", 77},
    // Firebird 4 and later: the data types the server sends this client
    // ("int128 to legacy;..."); Firebird 3 accepts the item and ignores it.
    {"set_bind", 93},
}};

constexpr std::array<std::string_view, 21> kTPBNames = {
    "consistency", "concurrency", "shared",       "protected",      "exclusive",   "wait",
    "nowait",      "read",        "write",        "lock_read",      "lock_write",  "verb_time",
    "commit_time", "ignore_limbo", "read_committed", "autocommit",  "rec_version", "no_rec_version",
    "restart_requests", "no_auto_undo", "no_savepoint",
};

// clang-format on

constexpr char kDPBVersion1 = 1;
constexpr size_t kMaxDPBLength = 32767;
constexpr char kTPBVersion3 = 3;

enum class TDPBKind { Text, ByteValue, One, Two, FourBytes, Zero, Shutdown, Empty, Unsupported };

// clang-format off
TDPBKind KindOf(int code) {
    switch (code) {
    case 18: case 19: case 20: case 28: case 29: case 30: case 36: case 47: case 48: case 60: case 63:
        return TDPBKind::Text;
    case 5: case 9: case 13: case 17: case 24: case 27: case 33: case 34: case 52: case 54: case 57: case 58:
        return TDPBKind::ByteValue;
    case 8: case 16:
        return TDPBKind::One;
    case 10:
        return TDPBKind::Two;
    case 22:
        return TDPBKind::FourBytes;
    case 21: case 23: case 25: case 26:
        return TDPBKind::Zero;
    case 50:
        return TDPBKind::Shutdown;
    case 51:
        return TDPBKind::Empty;
    default:
        return TDPBKind::Unsupported;
    }
}
// clang-format on

std::string LowerAZ(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

struct TSplitLine {
    std::string Name;  // lower-cased, prefix removed
    std::string Value; // as written
};

TSplitLine SplitLine(const std::string& line, std::string_view prefix) {
    TSplitLine result;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) {
        result.Name = line;
    } else {
        result.Name = line.substr(0, eq);
        result.Value = line.substr(eq + 1);
    }
    result.Name = LowerAZ(std::move(result.Name));
    if (result.Name.starts_with(prefix)) result.Name.erase(0, prefix.size());
    return result;
}

// A length byte cannot describe more than 255 bytes; a longer value would shift
// every later item and the server would read garbage, so it is refused here.
void AppendCounted(TParamBlock& block, const std::string& bytes, const char* kind, const std::string& name) {
    if (bytes.size() > 255)
        RaiseClientErrorFmt("%s Constant (%s): the value is longer than 255 bytes.", kind, name.c_str());
    block += static_cast<char>(bytes.size());
    block += bytes;
}

} // namespace

std::string TrimParamLine(const std::string& line) {
    size_t first = 0, last = line.size();
    while (first < last && static_cast<unsigned char>(line[first]) <= 32)
        ++first;
    while (last > first && static_cast<unsigned char>(line[last - 1]) <= 32)
        --last;
    return line.substr(first, last - first);
}

int32_t StrToInt(const std::string& text) {
    if (const auto value = ParseInteger(text)) return *value;
    throw EConvertError(Format("'%s' is not a valid integer value", text.c_str()));
}

int DPBConstantCode(const std::string& name) {
    for (size_t i = 0; i < kDPBNames.size(); ++i)
        if (kDPBNames[i] == name) return static_cast<int>(i) + 1;
    for (const auto& named : kFirebirdDPBNames)
        if (named.Name == name) return named.Code;
    return 0;
}

std::string DPBConstantName(int code) {
    // Codes 68, 72, 77 and 93 carry Firebird's names in this layer.
    for (const auto& named : kFirebirdDPBNames)
        if (named.Code == code) return std::string(named.Name);
    if (code >= 1 && code <= static_cast<int>(kDPBNames.size())) return std::string(kDPBNames[code - 1]);
    return {};
}

int TPBConstantCode(const std::string& name) {
    const std::string lower = LowerAZ(name);
    for (size_t i = 0; i < kTPBNames.size(); ++i)
        if (kTPBNames[i] == lower) return static_cast<int>(i) + 1;
    return 0;
}

std::string TPBConstantName(int code) {
    if (code >= 1 && code <= static_cast<int>(kTPBNames.size())) return std::string(kTPBNames[code - 1]);
    return {};
}

int32_t ShutdownFlags(const std::string& value) {
    int32_t flags = 0;
    size_t start = 0;
    while (start <= value.size()) {
        size_t end = value.find_first_of(",;", start);
        if (end == std::string::npos) end = value.size();
        const std::string part = LowerAZ(value.substr(start, end - start));
        start = end + 1;
        if (part.empty()) continue;
        if (part[0] >= '0' && part[0] <= '9')
            flags |= StrToInt(part);
        else if (part == "attachment")
            flags |= 2;
        else if (part == "cache")
            flags |= 1;
        else if (part == "force")
            flags |= 8;
        else if (part == "full")
            flags |= 64;
        else if (part == "mode_mask")
            flags |= 112;
        else if (part == "multi")
            flags |= 32;
        else if (part == "normal")
            flags |= 16;
        else if (part == "single")
            flags |= 48;
        else if (part == "transaction")
            flags |= 4;
        else
            flags |= -1;
    }
    return flags;
}

TParamBlock BuildDPB(std::vector<std::string>& lines, bool isFirebird) {
    TParamBlock block(1, kDPBVersion1);
    for (std::string& line : lines) {
        line = TrimParamLine(line);
        if (line.empty()) continue;
        const TSplitLine item = SplitLine(line, "isc_dpb_");
        const int code = DPBConstantCode(item.Name);
        if (code < 1 || (code > 83 && code != 93)) RaiseClientError(fibeDPBConstantUnknown, item.Name);
        const std::string value = Utf8ToWin1250(item.Value);
        const char codeByte = static_cast<char>(code);

        switch (code) {
        case 68: // set_db_charset
        case 93: // set_bind
        case 75: // instance_name
            if ((code != 75) != isFirebird) continue;
            block += codeByte;
            AppendCounted(block, value, "DPB", item.Name);
            continue;
        case 72: // no_db_triggers
            if (!isFirebird) continue;
            block += {codeByte, 1, 1};
            continue;
        case 77: // utf8_filename
            if (!isFirebird) continue;
            block += {codeByte, 0};
            continue;
        default:
            break;
        }

        switch (KindOf(code)) {
        case TDPBKind::Text: {
            std::string bytes = value;
            // The dialect travels as its digit's value, not as the character.
            if (code == 63 && !bytes.empty()) bytes[0] = static_cast<char>(bytes[0] - '0');
            block += codeByte;
            AppendCounted(block, bytes, "DPB", item.Name);
            break;
        }
        case TDPBKind::ByteValue:
            block += {codeByte, 1, static_cast<char>(StrToInt(item.Value) & 0xFF)};
            break;
        case TDPBKind::One:
            block += {codeByte, 1, 1};
            break;
        case TDPBKind::Two:
            block += {codeByte, 1, 2};
            break;
        case TDPBKind::FourBytes: {
            const auto v = static_cast<uint32_t>(StrToInt(item.Value));
            block += {codeByte, 4};
            for (int shift = 0; shift < 32; shift += 8)
                block += static_cast<char>((v >> shift) & 0xFF);
            break;
        }
        case TDPBKind::Zero:
            block += {codeByte, 1, 0};
            break;
        case TDPBKind::Shutdown:
            if (item.Value.empty())
                block += {codeByte, 0};
            else
                block += {codeByte, 1, static_cast<char>(ShutdownFlags(item.Value) & 0xFF)};
            break;
        case TDPBKind::Empty:
            block += {codeByte, 0};
            break;
        case TDPBKind::Unsupported:
            RaiseClientError(fibeDPBConstantNotSupported, DPBConstantName(code));
        }
    }
    // The attach takes the block's length as a signed 16-bit number; the
    // client reads a longer block from a negative length and crashes.
    if (block.size() > kMaxDPBLength)
        RaiseClientErrorFmt("DPB is longer than %d bytes.", static_cast<int>(kMaxDPBLength));
    return block;
}

TParamBlock BuildTPB(std::vector<std::string>& lines) {
    TParamBlock block;
    if (lines.empty()) return block;
    block += kTPBVersion3;
    for (std::string& line : lines) {
        line = TrimParamLine(line);
        if (line.empty()) continue;
        const TSplitLine item = SplitLine(line, "isc_tpb_");
        const int code = TPBConstantCode(item.Name);
        switch (code) {
        case 0:
            RaiseClientError(fibeTPBConstantUnknown, item.Name);
        case 12:
        case 13:
        case 16:
        case 19:
            RaiseClientError(fibeTPBConstantNotSupported, TPBConstantName(code));
        case 10:
        case 11:
            block += static_cast<char>(code);
            AppendCounted(block, Utf8ToWin1250(item.Value), "TPB", item.Name);
            break;
        default:
            block += static_cast<char>(code);
            break;
        }
    }
    return block;
}

// ---- TParamLines ----

template <class F> void TParamLines::Change(F&& change) {
    if (FOnChanging) FOnChanging();
    change();
    if (FOnChange) FOnChange();
}

void TParamLines::Add(std::string line) {
    Change([&] { FLines.push_back(std::move(line)); });
}

void TParamLines::Insert(size_t index, std::string line) {
    if (index > FLines.size()) index = FLines.size();
    Change([&] { FLines.insert(FLines.begin() + static_cast<std::ptrdiff_t>(index), std::move(line)); });
}

void TParamLines::Delete(size_t index) {
    if (index >= FLines.size()) return;
    Change([&] { FLines.erase(FLines.begin() + static_cast<std::ptrdiff_t>(index)); });
}

void TParamLines::Put(size_t index, std::string line) {
    if (index >= FLines.size()) return;
    Change([&] { FLines[index] = std::move(line); });
}

void TParamLines::Clear() {
    Change([&] { FLines.clear(); });
}

void TParamLines::Assign(std::vector<std::string> lines) {
    Change([&] { FLines = std::move(lines); });
}

std::string TParamLines::Text() const {
    std::string text;
    for (const std::string& line : FLines)
        text += line + "\r\n";
    return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ++end;
        start = end + 1;
    }
    return lines;
}

void TParamLines::SetText(const std::string& text) {
    Assign(SplitLines(text));
}

int TParamLines::IndexOfIgnoreCase(const std::string& line) const {
    const std::string wanted = LowerAZ(line);
    for (size_t i = 0; i < FLines.size(); ++i)
        if (LowerAZ(FLines[i]) == wanted) return static_cast<int>(i);
    return -1;
}

} // namespace ostrakel
