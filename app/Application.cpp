#include "app/Application.h"

#include "app/Unit1.h"
#include "platform/qt/QtPlatform.h"

namespace ostrakel {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // Hidden in the tray, the window is not visible, and an error box closing
    // then would otherwise end the program: it ends when its window closes.
    setQuitOnLastWindowClosed(false);
}

void TApplication::SetErrorBox(IDialogs* dialogs, std::string title) {
    FDialogs = dialogs;
    FTitle = std::move(title);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    // The window guards its own handlers; this catches what any other event
    // (a paint, a key press in a control) might let through.
    std::string message;
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
        message = "Unknown error";
    }
    static TQtDialogs qtDialogs;
    IDialogs* dialogs = FDialogs ? FDialogs : &qtDialogs;
    const std::string title =
        FTitle.empty() ? ApplicationTitleFor(applicationFilePath().section('/', -1).toStdString()) : FTitle;
    dialogs->ShowError(title, ErrorBoxText(message));
    return false;
}

} // namespace ostrakel
