// What setup.ini says beyond the directories, the hour and the switches, and
// what it says that cannot work: the connections' login and data-type lines,
// values that read as something other than written, and a password that
// others may read.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ostrakel {

class TIniFile;

// The Firebird 4 and 5 types this client cannot take, asked for in their
// Firebird 3 forms; a Firebird 3 engine accepts the request and ignores it.
inline constexpr const char* kLegacyBind = "int128 to legacy;decfloat to legacy;time zone to legacy";

// The value of a key when setup.ini has it at all (empty included).
std::optional<std::string> ReadOptional(const TIniFile& ini, const std::string& section,
                                        const std::string& key);

// A connection's parameter lines after [sql] user, password and set_bind:
// a non-empty user or password replaces the line of its name; set_bind
// replaces the set_bind line, and an empty one removes it.
std::vector<std::string> ConnectionLines(std::vector<std::string> lines, const TIniFile& ini);

// One text for each integer or switch key whose value is not what the
// program reads: not a whole number (read as the default), godzina outside
// 0-23 (the daily pass never runs), a timeout over 255 (read as 255).
std::vector<std::string> SettingsWarnings(const TIniFile& ini);

// A text when setup.ini holds a password and users other than its owner may
// read the file.
std::optional<std::string> PasswordFileWarning(const TIniFile& ini);

} // namespace ostrakel
