#include "platform/qt/QtPlatform.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace ostrakel {

namespace {

class TQtTimer : public ITimer {
public:
    TQtTimer() {
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            if (FHandler) FHandler();
        });
    }
    void SetInterval(uint32_t ms) override { FTimer.setInterval(static_cast<int>(ms)); }
    uint32_t Interval() const override { return static_cast<uint32_t>(FTimer.interval()); }
    void SetEnabled(bool enabled) override {
        if (enabled) FTimer.start();
        else FTimer.stop();
    }
    bool Enabled() const override { return FTimer.isActive(); }
    void SetOnTimer(std::function<void()> handler) override { FHandler = std::move(handler); }

private:
    QTimer FTimer;
    std::function<void()> FHandler;
};

void ShowBox(QWidget* parent, QMessageBox::Icon icon, const std::string& title, const std::string& text) {
    QMessageBox box(icon, QString::fromStdString(title), QString::fromStdString(text), QMessageBox::Ok,
                    parent ? parent : QApplication::activeWindow());
    box.exec();
}

} // namespace

std::unique_ptr<ITimer> TQtTimerService::CreateTimer() { return std::make_unique<TQtTimer>(); }

void TQtDialogs::ShowMessage(const std::string& title, const std::string& text) {
    ShowBox(FParent, QMessageBox::NoIcon, title, text);
}

void TQtDialogs::ShowError(const std::string& title, const std::string& text) {
    ShowBox(FParent, QMessageBox::Critical, title, text);
}

} // namespace ostrakel
