#include "platform/FirebirdLock.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrakel {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool WritableDirectory(const std::string& dir) {
    struct stat st {};
    return !dir.empty() && dir[0] == '/' && stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           access(dir.c_str(), R_OK | W_OK | X_OK) == 0;
}

std::string HomeDirectory() {
    std::string home = Env("HOME");
    if (!home.empty()) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return {};
}

// The directory and every missing parent; the last one private to the user.
bool MakePrivateDirectory(const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) return false;
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) return false;
    if ((st.st_mode & 0777) != 0700 && chmod(dir.c_str(), 0700) != 0) return false;
    return WritableDirectory(dir);
}

} // namespace

bool LockDirectoryUsable(const std::string& dir) {
    struct stat st {};
    if (stat(dir.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) && access(dir.c_str(), R_OK | W_OK | X_OK) == 0;
    if (errno != ENOENT) return false;
    const std::string parent = std::filesystem::path(dir).parent_path().string();
    return access(parent.empty() ? "." : parent.c_str(), W_OK | X_OK) == 0;
}

std::optional<std::string> OwnFirebirdLockDirectory() {
    // The runtime directory is the user's alone and emptied at logout, as lock files should be.
    const std::string runtime = Env("XDG_RUNTIME_DIR");
    if (WritableDirectory(runtime) && MakePrivateDirectory(runtime + "/firebird"))
        return runtime + "/firebird";
    std::string cache = Env("XDG_CACHE_HOME");
    if (cache.empty() || cache[0] != '/') {
        const std::string home = HomeDirectory();
        if (home.empty() || home[0] != '/') return std::nullopt;
        cache = home + "/.cache";
    }
    const std::string dir = cache + "/ostrakel/firebird-lock";
    if (MakePrivateDirectory(dir)) return dir;
    return std::nullopt;
}

std::optional<std::string> UseOwnFirebirdLockIfNeeded(const std::string& defaultDir) {
    if (!Env("FIREBIRD_LOCK").empty()) return std::nullopt;
    if (LockDirectoryUsable(defaultDir)) return std::nullopt;
    std::optional<std::string> dir = OwnFirebirdLockDirectory();
    if (dir) setenv("FIREBIRD_LOCK", dir->c_str(), 1);
    return dir;
}

} // namespace ostrakel
