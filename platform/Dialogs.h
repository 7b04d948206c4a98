// The two modal boxes the program shows: the plain message box and the
// framework's error box. Both let pending events run while they are open.
#pragma once

#include <string>

namespace ostrakel {

class IDialogs {
public:
    virtual ~IDialogs() = default;
    // A plain box: the text, an OK button, no icon.
    virtual void ShowMessage(const std::string& title, const std::string& text) = 0;
    // The error box: the text, an error icon, an OK button.
    virtual void ShowError(const std::string& title, const std::string& text) = 0;
};

// The error box's text: the message with a "." appended when its last
// character's code is greater than that of ".".
std::string ErrorBoxText(const std::string& message);

} // namespace ostrakel
