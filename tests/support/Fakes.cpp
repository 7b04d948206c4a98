#include "tests/support/Fakes.h"

#include <algorithm>
#include <functional>

namespace ostrakel::test {

struct TFakeTimerService::TTimerState {
    uint32_t Interval = 1000;
    bool Enabled = false;
    uint64_t Due = 0;
    std::function<void()> Handler;
};

class TFakeTimer : public ITimer {
public:
    explicit TFakeTimer(TFakeTimerService* service) : FService(service) {
        FService->FTimers.push_back(&FState);
    }
    ~TFakeTimer() override {
        auto& timers = FService->FTimers;
        timers.erase(std::remove(timers.begin(), timers.end(), &FState), timers.end());
    }
    void SetInterval(uint32_t ms) override {
        FState.Interval = ms;
        if (FState.Enabled) FState.Due = FService->FNow + ms;
    }
    uint32_t Interval() const override { return FState.Interval; }
    void SetEnabled(bool enabled) override {
        FState.Enabled = enabled;
        if (enabled) FState.Due = FService->FNow + FState.Interval;
    }
    bool Enabled() const override { return FState.Enabled; }
    void SetOnTimer(std::function<void()> handler) override { FState.Handler = std::move(handler); }

private:
    TFakeTimerService* FService;
    TFakeTimerService::TTimerState FState;
};

TFakeTimerService::TFakeTimerService() = default;
TFakeTimerService::~TFakeTimerService() = default;

std::unique_ptr<ITimer> TFakeTimerService::CreateTimer() { return std::make_unique<TFakeTimer>(this); }

size_t TFakeTimerService::ActiveTimers() const {
    return static_cast<size_t>(std::count_if(FTimers.begin(), FTimers.end(), [](auto* t) { return t->Enabled; }));
}

void TFakeTimerService::Advance(uint64_t ms, uint64_t step) {
    const uint64_t end = FNow + ms;
    while (FNow < end) {
        FNow = std::min(end, FNow + step);
        // A handler may create or destroy timers: fire from a snapshot and
        // check each one is still registered before touching it.
        const auto snapshot = FTimers;
        for (TTimerState* t : snapshot) {
            if (std::find(FTimers.begin(), FTimers.end(), t) == FTimers.end()) continue;
            if (t->Enabled && t->Interval > 0 && FNow >= t->Due) {
                t->Due = FNow + t->Interval;
                if (t->Handler) {
                    auto handler = t->Handler; // the timer may die inside the handler
                    handler();
                }
            }
        }
    }
}

} // namespace ostrakel::test
