// The root of the program's error tree and the framework-level errors that
// the platform itself raises (files, system calls, libraries).
#pragma once

#include <stdexcept>
#include <string>

namespace ostrakel {

// Every error of the program carries a ready-to-show UTF-8 message.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const char* what() const noexcept override { return FMessage.c_str(); }
    const std::string& Message() const noexcept { return FMessage; }
    void SetMessage(std::string message) { FMessage = std::move(message); }

private:
    std::string FMessage;
};

// Raised by the operating-system layer: "System Error.  Code: %d.\r\n%s".
class EOSError : public Exception {
public:
    EOSError(int code, std::string message) : Exception(std::move(message)), ErrorCode(code) {}
    int ErrorCode;
};

// A file that exists but cannot be opened for reading.
class EFOpenError : public Exception {
public:
    using Exception::Exception;
};

// A file that cannot be created or written.
class EFCreateError : public Exception {
public:
    using Exception::Exception;
};

// The framework's database error, the base of the database layer's errors.
class EDatabaseError : public Exception {
public:
    using Exception::Exception;
};

// The run-time's conversion error, e.g. "'%s' is not a valid integer value".
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// The silent abort: ends an event quietly, without an error box.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
};

// Builds the "System Error.  Code: %d.\r\n%s" error for a system error number.
EOSError MakeOSError(int code);
[[noreturn]] void RaiseLastOSError(int code);

// The system's text for an errno value.
std::string SysErrorMessage(int code);

// printf-style formatting for the program's message templates.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

} // namespace ostrakel
