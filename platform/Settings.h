// The settings-file lookup: one key in one section of an INI file, with a
// default, and the program's own readings of integers and switches.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace ostrakel {

// A parsed INI file. Section and key names compare without regard to ASCII
// letter case; blanks around names and values are dropped, and so is one pair
// of quotes around a value. A missing or unreadable file simply has no keys.
class TIniFile {
public:
    explicit TIniFile(const std::string& fileName);

    const std::string& FileName() const { return FFileName; }

    // The value of the key, at most 2047 characters, or the default.
    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;
    // On exactly when the integer reading (default 0) is not 0.
    bool ReadSwitch(const std::string& section, const std::string& key) const;

private:
    std::string FFileName;
    std::map<std::string, std::string> FValues; // "section\nkey" in lower case -> value
};

// Leading blanks skipped, then one whole signed 32-bit number: decimal with an
// optional sign, or hexadecimal with "0x", "0X" or "$". Anything else: nothing.
std::optional<int32_t> ParseInteger(const std::string& text);

inline constexpr size_t kMaxSettingLength = 2047;

} // namespace ostrakel
