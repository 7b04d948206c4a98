// The main window's surroundings in a test: a temporary program directory, a
// fixed clock, dialogs that only record, and a fixed log date-time text.
#pragma once

#include "app/Unit1.h"

#include <string>

namespace ostrakel::test {

inline TFormEnvironment TestFormEnvironment(const std::string& programDir, const IClock& clock, IDialogs& dialogs,
                                            std::string dateTimeText) {
    TFormEnvironment env;
    env.Clock = &clock;
    env.ProgramDir = programDir;
    env.Dialogs = &dialogs;
    env.ExecutableName = "ostrakel";
    env.TrayAvailable = false;
    env.FormatDateTime = [text = std::move(dateTimeText)](TDateTime) { return text; };
    return env;
}

} // namespace ostrakel::test
