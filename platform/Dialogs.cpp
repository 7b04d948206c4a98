#include "platform/Dialogs.h"

#include "platform/TextCodec.h"

namespace ostrakel {

std::string ErrorBoxText(const std::string& message) {
    return LastCodePoint(message) > U'.' ? message + "." : message;
}

} // namespace ostrakel
