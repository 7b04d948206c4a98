// The start-up figure: from process start to the main window shown, with both
// embedded demo databases connected, over several fresh processes.
#pragma once

#include <string>

namespace ostrakel::bench {

// Creates the demo databases (isql-fb over demo/*.sql) and a setup.ini in dir,
// then starts `self --startup-child dir` runs times and prints the figures.
// Returns false when a start failed.
bool RunStartup(const std::string& self, const std::string& dir, int runs);

// The measured process: the program's own start (application, regional time
// formats, Qt timers, the window and its start-up), shown, then the time of
// the show and of the first paint printed; nothing else runs.
int StartupChild(int& argc, char** argv, const std::string& dir);

} // namespace ostrakel::bench
