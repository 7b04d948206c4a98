#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

namespace ostrakel {

bool TDynamicLibrary::Load(const std::string& fileName) {
    Unload();
    FHandle = ::dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!FHandle) {
        const char* err = ::dlerror();
        FLastError = err ? err : "";
        return false;
    }
    return true;
}

void TDynamicLibrary::Unload() {
    if (FHandle) ::dlclose(FHandle);
    FHandle = nullptr;
}

void* TDynamicLibrary::Find(const char* name) const {
    if (!FHandle) return nullptr;
    ::dlerror();
    void* sym = ::dlsym(FHandle, name);
    if (!sym) {
        const char* err = ::dlerror();
        FLastError = err ? err : "";
    }
    return sym;
}

} // namespace ostrakel
