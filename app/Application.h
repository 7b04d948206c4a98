// The application object: no error escapes an event into Qt's event loop;
// whatever a handler lets through is shown in the framework's error box.
#pragma once

#include "platform/Dialogs.h"

#include <QApplication>

#include <functional>
#include <string>

namespace ostrakel {

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);

    // Where the error box goes and what it is titled; defaults to Qt boxes
    // titled with the application's title.
    void SetErrorBox(IDialogs* dialogs, std::string title);

    bool notify(QObject* receiver, QEvent* event) override;

private:
    IDialogs* FDialogs = nullptr;
    std::string FTitle;
};

} // namespace ostrakel
