// The embedded engine's lock directory for a desktop user who may not use the
// shared one (Debian keeps /tmp/firebird as firebird:firebird 0770).
#pragma once

#include <optional>
#include <string>

namespace ostrakel {

// Where the engine keeps its lock files unless FIREBIRD_LOCK names another place.
inline constexpr const char* kDefaultFirebirdLock = "/tmp/firebird";

// True when this process may list, create and remove files in dir, or may
// create dir because it does not exist yet.
bool LockDirectoryUsable(const std::string& dir);

// A lock directory of the user's own: $XDG_RUNTIME_DIR/firebird, else
// ostrakel/firebird-lock in the user's cache directory ($XDG_CACHE_HOME, else
// ~/.cache). Created with mode 0700; nullopt when none can be made.
std::optional<std::string> OwnFirebirdLockDirectory();

// When FIREBIRD_LOCK is not set and defaultDir cannot be used, sets
// FIREBIRD_LOCK to the user's own lock directory and gives it. Must run
// before the client library is loaded: the engine reads the variable once.
std::optional<std::string> UseOwnFirebirdLockIfNeeded(const std::string& defaultDir = kDefaultFirebirdLock);

} // namespace ostrakel
