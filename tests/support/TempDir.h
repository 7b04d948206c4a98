// A temporary directory that is removed with everything in it.
#pragma once

#include <string>

namespace ostrakel::test {

class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    // The directory, with a trailing "/".
    const std::string& Path() const { return FPath; }
    std::string File(const std::string& name) const { return FPath + name; }

private:
    std::string FPath;
};

} // namespace ostrakel::test
