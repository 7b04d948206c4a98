// The command line: the window as always, one pass without a window (--once),
// a pass that only tells what it would change (--dry-run), another directory
// for setup.ini and the logs (--dir), --help and --version.
#pragma once

#include "app/Unit1.h"

#include <string>
#include <vector>

namespace ostrakel {

struct TCommandLine {
    enum TAction { Window, Once, DryRun, Help, Version, BadUsage };
    TAction Action = Window;
    // setup.ini and the monthly logs: absolute, with a trailing "/"; empty for
    // the executable's directory.
    std::string Dir;
    // What was not understood, for Action == BadUsage.
    std::string Error;

    bool Headless() const { return Action == Once || Action == DryRun; }
    // The window's surroundings that the command line asks for.
    TFormEnvironment Environment() const;
};

// The arguments after the program's name. --dry-run wins over --once; a
// repeated --dir counts with its last value.
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

std::string HelpText(const std::string& program);
std::string VersionText();

// The window and its message loop, until it closes or a signal ends it.
int RunWindow(TFormEnvironment env, int argc, char* argv[]);

// The whole program for a command line with arguments: exit status 0 for a
// finished run, 1 for a failed one, 2 for a command line not understood.
int RunCommandLine(int argc, char* argv[]);

} // namespace ostrakel
