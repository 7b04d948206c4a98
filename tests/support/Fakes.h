// Fakes of the platform seams: a clock that stands still until told, dialogs
// that record what would be shown, and timers driven by hand.
#pragma once

#include "platform/DateTime.h"
#include "platform/Dialogs.h"
#include "platform/TimerService.h"

#include <string>
#include <vector>

namespace ostrakel::test {

class TFakeClock : public IClock {
public:
    explicit TFakeClock(TDateTime now = 0) : FNow(now) {}
    TDateTime Now() const override { return FNow; }
    uint64_t TickCount() const override { return FTicks; }
    void Set(TDateTime now) { FNow = now; }
    void Advance(uint64_t ms) {
        FTicks += ms;
        FNow += static_cast<double>(ms) / 86400000.0;
    }

private:
    TDateTime FNow;
    uint64_t FTicks = 0;
};

struct TShownBox {
    bool Error = false;
    std::string Title;
    std::string Text;
};

class TFakeDialogs : public IDialogs {
public:
    void ShowMessage(const std::string& title, const std::string& text) override {
        Shown.push_back({false, title, text});
    }
    void ShowError(const std::string& title, const std::string& text) override {
        Shown.push_back({true, title, text});
    }
    std::vector<TShownBox> Shown;
};

// Timers that fire only when the test advances the fake time.
class TFakeTimerService : public ITimerService {
public:
    TFakeTimerService();
    ~TFakeTimerService() override;
    std::unique_ptr<ITimer> CreateTimer() override;

    // Moves time forward in steps of `step` ms, firing every timer that comes due.
    void Advance(uint64_t ms, uint64_t step = 100);
    uint64_t Now() const { return FNow; }
    size_t ActiveTimers() const;

    struct TTimerState;

private:
    uint64_t FNow = 0;
    std::vector<TTimerState*> FTimers;
    friend class TFakeTimer;
};

// Installs a fake timer service as the default for the life of the object.
class TScopedTimerService {
public:
    TScopedTimerService() { SetDefaultTimerService(&Service); }
    ~TScopedTimerService() { SetDefaultTimerService(nullptr); }
    TFakeTimerService Service;
};

} // namespace ostrakel::test
