#include "app/SetupChecks.h"

#include "platform/Settings.h"
#include "platform/TextCodec.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>

namespace ostrakel {

namespace {

// No value can hold a line break, so this stands for a missing key.
const std::string kMissing = "\n";

std::string LowerName(const std::string& line) {
    std::string name = line.substr(0, line.find('='));
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return name;
}

struct TIntegerKey {
    const char* Section;
    const char* Key;
    int32_t Default;
    const char* DefaultReading; // what the default means to the program
};

const TIntegerKey kIntegerKeys[] = {
    {"set", "godzina", 3, "3, the default"},
    {"set", "historia", 0, "0 (off)"},
    {"set", "log", 0, "0 (off)"},
    {"set", "zbiorczo", 0, "0 (off)"},
    {"sql", "timeout", 0, "0 (no connect timeout)"},
};

std::string KeyText(const TIntegerKey& k, const std::string& value) {
    return "[" + std::string(k.Section) + "] " + k.Key + "=" + value;
}

} // namespace

std::optional<std::string> ReadOptional(const TIniFile& ini, const std::string& section,
                                        const std::string& key) {
    std::string value = ini.ReadString(section, key, kMissing);
    if (value == kMissing) return std::nullopt;
    return value;
}

std::vector<std::string> ConnectionLines(std::vector<std::string> lines, const TIniFile& ini) {
    const auto user = ReadOptional(ini, "sql", "user");
    const auto password = ReadOptional(ini, "sql", "password");
    const auto bind = ReadOptional(ini, "sql", "set_bind");
    for (auto it = lines.begin(); it != lines.end();) {
        const std::string name = LowerName(*it);
        if (name == "user_name" && user && !user->empty()) {
            *it = "user_name=" + *user;
        } else if (name == "password" && password && !password->empty()) {
            *it = "password=" + *password;
        } else if (name == "set_bind" && bind) {
            if (bind->empty()) {
                it = lines.erase(it);
                continue;
            }
            *it = "set_bind=" + *bind;
        }
        ++it;
    }
    return lines;
}

std::vector<std::string> SettingsWarnings(const TIniFile& ini) {
    std::vector<std::string> warnings;
    const std::string file = ini.FileName();
    for (const TIntegerKey& k : kIntegerKeys) {
        const auto value = ReadOptional(ini, k.Section, k.Key);
        if (!value) continue;
        const std::optional<int32_t> number = ParseInteger(*value);
        if (!number) {
            warnings.push_back(file + ": " + KeyText(k, *value) + " is not a whole number; it is read as " +
                               k.DefaultReading);
            continue;
        }
        const std::string key = k.Key;
        if (key == "godzina" && (*number < 0 || *number > 23)) {
            // The hour is kept as an unsigned 16-bit number, so a negative one wraps.
            warnings.push_back(
                file + ": " + KeyText(k, *value) + " is not an hour from 0 to 23; it is read as " +
                std::to_string(static_cast<uint16_t>(*number)) + " and the daily update never runs");
        } else if (key == "timeout" && *number > 255) {
            warnings.push_back(file + ": " + KeyText(k, *value) +
                               " is longer than the client can wait; it is read as 255 seconds");
        }
    }
    // The login travels in Windows-1250: a character it cannot carry would be
    // sent as something else, and the refused login would not say why. The
    // password itself is never shown.
    for (const char* key : {"user", "password"}) {
        const auto value = ReadOptional(ini, "sql", key);
        if (value && Win1250ToUtf8(Utf8ToWin1250(*value)) != *value)
            warnings.push_back(file + ": [sql] " + key +
                               " holds characters that the connections' character set (Windows-1250) cannot "
                               "carry; the server will refuse the login");
    }
    return warnings;
}

std::optional<std::string> PasswordFileWarning(const TIniFile& ini) {
    const auto password = ReadOptional(ini, "sql", "password");
    if (!password || password->empty()) return std::nullopt;
    struct stat st {};
    if (stat(ini.FileName().c_str(), &st) != 0 || (st.st_mode & (S_IRGRP | S_IROTH)) == 0)
        return std::nullopt;
    return ini.FileName() +
           " holds the database password and other users can read it; make it private with: chmod 600 " +
           ini.FileName();
}

} // namespace ostrakel
