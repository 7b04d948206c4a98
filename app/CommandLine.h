// The command line: the window as always, one pass without a window (--once),
// a pass that only tells what it would change (--dry-run), another directory
// for setup.ini and the logs (--dir), the window hidden in the tray at start
// (--tray), --help and --version.
#pragma once

#include "app/Unit1.h"

#include <string>
#include <vector>

#include "platform/Dialogs.h"

namespace ostrakel {

struct TCommandLine {
    enum TAction { Window, Once, DryRun, Help, Version, BadUsage };
    TAction Action = Window;
    // setup.ini and the monthly logs: absolute, with a trailing "/"; empty for
    // the executable's directory.
    std::string Dir;
    // What was not understood, for Action == BadUsage.
    std::string Error;
    // The window starts hidden in the notification area.
    bool Tray = false;

    bool Headless() const { return Action == Once || Action == DryRun; }
    // The window's surroundings that the command line asks for.
    TFormEnvironment Environment() const;
};

// The arguments after the program's name. --dry-run wins over --once; a
// repeated --dir counts with its last value. The window may be given the
// user's own settings directory (UserSettingsDir) before it exists.
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

std::string HelpText(const std::string& program);
std::string VersionText();

// The user's own settings directory: $XDG_CONFIG_HOME/ostrakel/, else
// ~/.config/ostrakel/, with a trailing "/".
std::string UserSettingsDir();

// A first start from the desktop: when `dir` is the user's own settings
// directory and holds no setup.ini, the directory is made, the example
// settings are written there (readable by the user only) and the user is told
// in a box where they are and to fill them in. True when that happened; a
// failure to write them is told on standard error and gives false.
bool OfferFirstSettings(const std::string& dir, IDialogs& dialogs, const std::string& title);

// The window and its message loop, until it closes or a signal ends it. Only
// one window runs per settings directory: a later start brings the running
// one to the front and ends with status 0.
int RunWindow(TFormEnvironment env, int argc, char* argv[], bool inTray = false);

// The whole program for a command line with arguments: exit status 0 for a
// finished run, 1 for a failed one, 2 for a command line not understood.
int RunCommandLine(int argc, char* argv[]);

} // namespace ostrakel
