#include "platform/Exception.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace ostrakel {

std::string SysErrorMessage(int code) {
    char buf[256];
    // GNU strerror_r returns a pointer that may or may not be buf.
    const char* text = strerror_r(code, buf, sizeof buf);
    return text ? std::string(text) : std::string();
}

EOSError MakeOSError(int code) {
    return EOSError(code, Format("System Error.  Code: %d.\r\n%s", code, SysErrorMessage(code).c_str()));
}

void RaiseLastOSError(int code) { throw MakeOSError(code); }

std::string Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        std::vector<char> buf(static_cast<size_t>(n) + 1);
        std::vsnprintf(buf.data(), buf.size(), fmt, args);
        out.assign(buf.data(), static_cast<size_t>(n));
    }
    va_end(args);
    return out;
}

} // namespace ostrakel
