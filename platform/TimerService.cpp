#include "platform/TimerService.h"

#include "platform/Exception.h"

namespace ostrakel {

namespace {

// Until a real service is installed timers never fire; their settings are kept.
class TInertTimer : public ITimer {
public:
    void SetInterval(uint32_t ms) override { FInterval = ms; }
    uint32_t Interval() const override { return FInterval; }
    void SetEnabled(bool enabled) override { FEnabled = enabled; }
    bool Enabled() const override { return FEnabled; }
    void SetOnTimer(std::function<void()>) override {}

private:
    uint32_t FInterval = 1000;
    bool FEnabled = false;
};

class TInertTimerService : public ITimerService {
public:
    std::unique_ptr<ITimer> CreateTimer() override { return std::make_unique<TInertTimer>(); }
};

ITimerService* gService = nullptr;

} // namespace

ITimerService& DefaultTimerService() {
    static TInertTimerService inert;
    return gService ? *gService : inert;
}

void SetDefaultTimerService(ITimerService* service) { gService = service; }

} // namespace ostrakel
