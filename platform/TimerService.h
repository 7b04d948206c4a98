// Timers for components that are not widgets (the database layer's idle and
// transaction timeouts): Qt timers in the program, a manually advanced fake in tests.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace ostrakel {

// One timer: fires its handler every Interval milliseconds while enabled.
class ITimer {
public:
    virtual ~ITimer() = default;
    virtual void SetInterval(uint32_t milliseconds) = 0;
    virtual uint32_t Interval() const = 0;
    // Enabling (re)starts the countdown from the full interval.
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
    virtual void SetOnTimer(std::function<void()> handler) = 0;
};

class ITimerService {
public:
    virtual ~ITimerService() = default;
    virtual std::unique_ptr<ITimer> CreateTimer() = 0;
};

// The service the components use unless given another; the program installs
// the Qt one at start, tests install a fake.
ITimerService& DefaultTimerService();
void SetDefaultTimerService(ITimerService* service);

} // namespace ostrakel
