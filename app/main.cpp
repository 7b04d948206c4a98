// Program entry: the application, its one main window, the message loop.
#include "app/Application.h"
#include "app/Unit1.h"
#include "platform/TimerService.h"
#include "platform/qt/QtPlatform.h"

#include <clocale>

int main(int argc, char* argv[]) {
    ostrakel::TApplication app(argc, argv);
    // Log lines follow the workstation's regional date and time formats.
    std::setlocale(LC_TIME, "");
    ostrakel::TQtTimerService timers;
    ostrakel::SetDefaultTimerService(&timers);
    int rc = 0;
    {
        ostrakel::TForm1 form;
        form.show();
        rc = QApplication::exec();
    }
    ostrakel::SetDefaultTimerService(nullptr);
    return rc;
}
