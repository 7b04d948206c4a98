// Program entry: the application, its one main window, the message loop.
#include "app/CommandLine.h"

int main(int argc, char* argv[]) {
    // Without arguments the program is the window; options are the command line's.
    if (argc > 1) return ostrakel::RunCommandLine(argc, argv);
    return ostrakel::RunWindow({}, argc, argv);
}
