// Qt-backed implementations of the platform seams: timers and modal boxes.
#pragma once

#include "platform/Dialogs.h"
#include "platform/TimerService.h"

#include <QPointer>
#include <QWidget>

namespace ostrakel {

// Timers on the Qt event loop of the main thread.
class TQtTimerService : public ITimerService {
public:
    std::unique_ptr<ITimer> CreateTimer() override;
};

// Modal QMessageBoxes; their own event loop keeps timers ticking.
class TQtDialogs : public IDialogs {
public:
    // Boxes are owned by the parent window when there is one, else by the active window.
    explicit TQtDialogs(QWidget* parent = nullptr) : FParent(parent) {}
    void ShowMessage(const std::string& title, const std::string& text) override;
    void ShowError(const std::string& title, const std::string& text) override;

private:
    QPointer<QWidget> FParent;
};

} // namespace ostrakel
