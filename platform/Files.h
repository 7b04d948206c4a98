// Whole-file reading and writing, the existence test, and the program's own directory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ostrakel {

bool FileExists(const std::string& fileName);

// What tells one state of a file from another: the file itself (device and
// inode), its size and the time of its last change of content, in nanoseconds.
struct TFileStamp {
    uint64_t Device = 0;
    uint64_t Inode = 0;
    int64_t Size = -1;
    int64_t ModifiedNs = 0;
    bool operator==(const TFileStamp&) const = default;
};

// The stamp of the file a name leads to (links followed); none when there is
// no such file or it is a directory.
std::optional<TFileStamp> FileStampOf(const std::string& fileName);

// Reads the whole file; raises EFOpenError "Cannot open file \"%s\". %s".
// `stamp`, when given, gets the stamp of the file read, one that differs from
// the file's when it grew while it was read.
std::string ReadAllBytes(const std::string& fileName, TFileStamp* stamp = nullptr);

// Replaces the file's content with the bytes. The bytes go to a new file
// beside it that is renamed over the old one only when completely written, so
// a failure part-way never destroys what was there. A symbolic link is
// written through: the file it leads to is replaced and the link stays. The
// new file keeps the old one's permission bits, its group and its owner, as
// far as the process may set them. Each write has a temporary file of its
// own, so two processes writing the same file at once leave one of the two
// contents whole. Raises EFCreateError "Cannot create file \"%s\". %s".
// Gives back the stamp of the file written.
TFileStamp WriteAllBytes(const std::string& fileName, const std::string& bytes);

// The file a name stands for: its symbolic links followed to the last one's
// target, which need not exist. The name itself when it is no link.
std::string FollowLinks(const std::string& fileName);

// The directory of the running executable, with a trailing "/".
std::string ProgramDirectory();

// The file name of a path (after the last "/").
std::string ExtractFileName(const std::string& path);

} // namespace ostrakel
