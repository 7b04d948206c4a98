// Loading a shared library by file name and looking up its entry points.
#pragma once

#include <string>

namespace ostrakel {

// Owns one dlopen handle; unloads it when destroyed or on Unload().
class TDynamicLibrary {
public:
    TDynamicLibrary() = default;
    ~TDynamicLibrary() { Unload(); }
    TDynamicLibrary(const TDynamicLibrary&) = delete;
    TDynamicLibrary& operator=(const TDynamicLibrary&) = delete;

    // Loads by exactly this file name (the system's search order applies);
    // returns false when it cannot be loaded. LastError() tells why.
    bool Load(const std::string& fileName);
    void Unload();
    bool Loaded() const { return FHandle != nullptr; }

    // The entry point, or nullptr when the library lacks it.
    void* Find(const char* name) const;

    const std::string& LastError() const { return FLastError; }

private:
    void* FHandle = nullptr;
    mutable std::string FLastError;
};

} // namespace ostrakel
