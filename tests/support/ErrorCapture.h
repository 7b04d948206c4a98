// Runs a piece of code and tells what it raised: the client error's code or
// any error's text, for tests that compare them in tables.
#pragma once

#include "db/FIBErrors.h"

#include <exception>
#include <string>

namespace ostrakel::test {

// The SQLCode of the client error raised, or -1 when none was.
template <class F> int ClientErrorCode(F&& f) {
    try {
        f();
    } catch (const EFIBClientError& e) {
        return e.SQLCode();
    }
    return -1;
}

// The text of whatever was raised, or "(nothing raised)".
template <class F> std::string ErrorText(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(nothing raised)";
}

} // namespace ostrakel::test
