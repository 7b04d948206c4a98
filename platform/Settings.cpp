#include "platform/Settings.h"

#include "platform/Exception.h"
#include "platform/Files.h"
#include "platform/TextCodec.h"

#include <cctype>
#include <cstdio>

namespace ostrakel {

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string Trim(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::string KeyOf(const std::string& section, const std::string& key) { return Lower(section) + "\n" + Lower(key); }

} // namespace

TIniFile::TIniFile(const std::string& fileName) : FFileName(fileName) {
    // Our own reader rather than inih: Debian's build of inih cuts lines at
    // 200 characters and takes ";" inside a value for a comment, and a
    // database path may be long and contain either.
    std::string bytes;
    try {
        bytes = ReadAllBytes(fileName);
    } catch (const Exception&) {
        return; // a missing or unreadable file gives every default
    }
    // A byte-order mark (as a Windows editor writes one) tells the encoding;
    // text without one that is not UTF-8 was written in the 8-bit code page.
    std::string text;
    const TTextEncoding encoding = DetectEncoding(bytes);
    if (encoding != TTextEncoding::Ansi) {
        text = DecodeText(bytes, encoding);
    } else {
        const bool utf8 = Utf8ToUtf32(bytes).find(U'\uFFFD') == std::u32string::npos;
        text = utf8 ? bytes : Win1250ToUtf8(bytes);
    }

    std::string section;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t eol = text.find_first_of("\r\n", pos);
        if (eol == std::string::npos) eol = text.size();
        const std::string line = Trim(text.substr(pos, eol - pos));
        pos = eol + 1;
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            const size_t close = line.find(']');
            section = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        // The first occurrence of a key wins, as with the usual settings lookup.
        FValues.emplace(KeyOf(section, Trim(line.substr(0, eq))), value);
    }
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
    auto it = FValues.find(KeyOf(section, key));
    std::string value = it == FValues.end() ? def : it->second;
    // The limit counts characters; a cut falls only before a character's
    // first byte, never inside it.
    size_t characters = 0;
    for (size_t i = 0; i < value.size(); ++i) {
        if ((static_cast<unsigned char>(value[i]) & 0xC0) == 0x80) continue;
        if (++characters > kMaxSettingLength) {
            value.resize(i);
            break;
        }
    }
    return value;
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key, int32_t def) const {
    return ParseInteger(ReadString(section, key, "")).value_or(def);
}

bool TIniFile::ReadSwitch(const std::string& section, const std::string& key) const {
    return ReadInteger(section, key, 0) != 0;
}

std::optional<int32_t> ParseInteger(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) return std::nullopt;
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (base == 16 && std::isxdigit(c)) digit = std::tolower(c) - 'a' + 10;
        else return std::nullopt;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFull) return std::nullopt;
    }
    if (base == 16) {
        // Hexadecimal covers the whole 32-bit pattern: $FFFFFFFF is -1.
        const auto bits = static_cast<int32_t>(static_cast<uint32_t>(value));
        return negative ? static_cast<int32_t>(-static_cast<int64_t>(bits)) : bits;
    }
    const int64_t signedValue = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
    if (signedValue < INT32_MIN || signedValue > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(signedValue);
}

} // namespace ostrakel
