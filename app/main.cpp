// Program entry: the application, its one main window, the message loop.
#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/Signals.h"
#include "app/Unit1.h"
#include "platform/TimerService.h"
#include "platform/qt/QtPlatform.h"

#include <clocale>
#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    // Without arguments the program is the window; options are the command line's.
    if (argc > 1) return ostrakel::RunCommandLine(argc, argv);
    ostrakel::TApplication app(argc, argv);
    // Log lines follow the workstation's regional date and time formats.
    std::setlocale(LC_TIME, "");
    ostrakel::TQtTimerService timers;
    ostrakel::SetDefaultTimerService(&timers);
    // Before the window connects its databases: the client library keeps
    // calling handlers that were there before its first attach.
    ostrakel::TSignalCloser closer;
    int rc = 0;
    {
        ostrakel::TForm1 form;
        if (!closer.Received()) {
            form.show();
            rc = QApplication::exec();
        }
        if (const int signal = closer.Received()) {
            // Ended as a close ends it; a save that failed does not keep the
            // process, it is told why and ends with a failure status.
            std::string reason;
            if (form.CloseOnSignal(reason)) {
                rc = 0;
            } else {
                std::fprintf(stderr, "%s: ended by signal %d (%s) without saving the log: %s\n",
                             form.ApplicationTitle().c_str(), signal, strsignal(signal), reason.c_str());
                rc = 1;
            }
        }
    }
    ostrakel::SetDefaultTimerService(nullptr);
    return rc;
}
