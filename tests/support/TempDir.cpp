#include "tests/support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace ostrakel::test {

TTempDir::TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ostrakel-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    FPath = pattern + "/";
}

TTempDir::~TTempDir() {
    std::error_code ec;
    std::filesystem::permissions(FPath, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(FPath, ec);
}

} // namespace ostrakel::test
