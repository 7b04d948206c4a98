#include "platform/Files.h"

#include "platform/Exception.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrakel {

namespace {

// Closes a descriptor on every path out.
struct TFd {
    int fd = -1;
    ~TFd() {
        if (fd >= 0) ::close(fd);
    }
};

TFileStamp StampOf(const struct stat& st) {
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), static_cast<int64_t>(st.st_size),
            static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// The process's umask, read without changing it (umask(2) can only be read
// by setting it, which would race with other threads creating files).
mode_t CurrentUmask() {
    TFd f{::open("/proc/self/status", O_RDONLY | O_CLOEXEC)};
    char buf[4096];
    const ssize_t n = f.fd < 0 ? -1 : ::read(f.fd, buf, sizeof buf - 1);
    if (n > 0) {
        buf[n] = '\0';
        if (const char* line = std::strstr(buf, "\nUmask:")) return static_cast<mode_t>(std::strtoul(line + 7, nullptr, 8));
    }
    return 022;
}

[[noreturn]] void RaiseCreate(const std::string& fileName, int err) {
    throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName.c_str(), SysErrorMessage(err).c_str()));
}

} // namespace

bool FileExists(const std::string& fileName) {
    struct stat st {};
    return !fileName.empty() && ::stat(fileName.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::optional<TFileStamp> FileStampOf(const std::string& fileName) {
    struct stat st {};
    if (fileName.empty() || ::stat(fileName.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
    return StampOf(st);
}

std::string ReadAllBytes(const std::string& fileName, TFileStamp* stamp) {
    auto fail = [&](int err) -> std::string {
        throw EFOpenError(Format("Cannot open file \"%s\". %s", fileName.c_str(), SysErrorMessage(err).c_str()));
    };
    TFd f{::open(fileName.c_str(), O_RDONLY | O_CLOEXEC)};
    if (f.fd < 0) return fail(errno);
    struct stat st {};
    if (::fstat(f.fd, &st) != 0) return fail(errno);
    if (S_ISDIR(st.st_mode)) return fail(EISDIR);
    std::string data;
    data.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(f.fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(errno);
        }
        if (n == 0) break;
        data.append(buf, static_cast<size_t>(n));
    }
    if (stamp) {
        if (::fstat(f.fd, &st) != 0) return fail(errno);
        *stamp = StampOf(st);
        // Grown after its end was read: the lines written since are unread.
        if (st.st_size != static_cast<off_t>(data.size())) stamp->Size = static_cast<int64_t>(data.size());
    }
    return data;
}

std::string FollowLinks(const std::string& fileName) {
    std::string path = fileName;
    // As many links as the system itself follows in one name.
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return path;
        const std::string link(buf, static_cast<size_t>(n));
        // A relative link is relative to the directory that holds it.
        const size_t slash = path.rfind('/');
        path = link.front() == '/' || slash == std::string::npos ? link : path.substr(0, slash + 1) + link;
    }
    return path; // a loop: the open names the error
}

TFileStamp WriteAllBytes(const std::string& fileName, const std::string& bytes) {
    if (fileName.empty()) RaiseCreate(fileName, ENOENT);
    const std::string target = FollowLinks(fileName);
    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    if (existed && S_ISDIR(old.st_mode)) RaiseCreate(fileName, EISDIR);

    // A temporary file of this write's own beside the target, made afresh
    // (never through a link someone put in its way) with a name no other
    // write uses: another process saving the same file at the same moment
    // has its own, and each rename puts a whole file in place.
    std::string temp = target + ".tmp~XXXXXX";
    TFd f{::mkostemp(temp.data(), O_CLOEXEC)};
    if (f.fd < 0) RaiseCreate(fileName, errno);
    auto abandon = [&](int err) {
        ::close(f.fd);
        f.fd = -1;
        ::unlink(temp.c_str());
        RaiseCreate(fileName, err);
    };
    if (existed) {
        // Owner and group first: a change of owner clears the set-id bits
        // that the mode then puts back. Only a privileged process may give
        // the file away; any process may keep a group it belongs to. What
        // cannot be kept is left as the new file has it.
        struct stat now {};
        if (::fstat(f.fd, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
            ::fchown(f.fd, old.st_uid, old.st_gid) != 0 && now.st_gid != old.st_gid)
            (void)::fchown(f.fd, static_cast<uid_t>(-1), old.st_gid);
        // Not narrowed by the umask, as the mode of open() would be.
        (void)::fchmod(f.fd, old.st_mode & 07777);
    } else {
        // A new file is readable as any file the process makes (mkostemp
        // makes it the owner's alone).
        (void)::fchmod(f.fd, 0644 & ~CurrentUmask());
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(f.fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            abandon(errno);
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(f.fd) != 0 && errno != EINVAL) abandon(errno);
    // The rename keeps the file's inode, size and time of change.
    struct stat written {};
    if (::fstat(f.fd, &written) != 0) abandon(errno);
    const int fd = f.fd;
    f.fd = -1;
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        RaiseCreate(fileName, err);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        RaiseCreate(fileName, err);
    }
    // The rename itself reaches the disk with its directory.
    const size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    TFd d{::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (d.fd >= 0) (void)::fsync(d.fd);
    return StampOf(written);
}

std::string ProgramDirectory() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "./";
    std::string path(buf, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/') + 1);
}

std::string ExtractFileName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace ostrakel
