// Whole-file reading and writing, the existence test, and the program's own directory.
#pragma once

#include <string>

namespace ostrakel {

bool FileExists(const std::string& fileName);

// Reads the whole file; raises EFOpenError "Cannot open file \"%s\". %s".
std::string ReadAllBytes(const std::string& fileName);

// Replaces the file's content with the bytes. The bytes go to a new file
// beside it that is renamed over the old one only when completely written, so
// a failure part-way never destroys what was there. A symbolic link is
// written through: the file it leads to is replaced and the link stays. The
// new file keeps the old one's permission bits, its group and its owner, as
// far as the process may set them. Raises EFCreateError
// "Cannot create file \"%s\". %s".
void WriteAllBytes(const std::string& fileName, const std::string& bytes);

// The file a name stands for: its symbolic links followed to the last one's
// target, which need not exist. The name itself when it is no link.
std::string FollowLinks(const std::string& fileName);

// The directory of the running executable, with a trailing "/".
std::string ProgramDirectory();

// The file name of a path (after the last "/").
std::string ExtractFileName(const std::string& path);

} // namespace ostrakel
