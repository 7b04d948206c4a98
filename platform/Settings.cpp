#include "platform/Settings.h"

#include <ini.h>

#include <cctype>
#include <cstdio>

namespace ostrakel {

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string KeyOf(const std::string& section, const std::string& key) { return Lower(section) + "\n" + Lower(key); }

} // namespace

TIniFile::TIniFile(const std::string& fileName) : FFileName(fileName) {
    FILE* f = std::fopen(fileName.c_str(), "rb");
    if (!f) return;
    ini_parse_file(
        f,
        [](void* user, const char* section, const char* name, const char* value) -> int {
            auto* values = static_cast<std::map<std::string, std::string>*>(user);
            // The first occurrence of a key wins, as with the usual settings lookup.
            values->emplace(KeyOf(section, name), value);
            return 1;
        },
        &FValues);
    std::fclose(f);
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
    auto it = FValues.find(KeyOf(section, key));
    std::string value = it == FValues.end() ? def : it->second;
    if (value.size() > kMaxSettingLength) value.resize(kMaxSettingLength);
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
