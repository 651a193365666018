#pragma once

#include "device/Clock.h"

#include <atomic>

namespace vrax {

// A job's clock that a jig can cut short: once cancelled, its waits end at once, so a job
// whose transfers fail (CancellableHidPlatform) runs through its retries without waiting them
// out. The time read stays true; the links only ever sleep on it.
class CancellableClock final : public Clock {
public:
    CancellableClock(Clock& inner, const std::atomic<bool>& cancelled)
        : inner_(inner), cancelled_(cancelled) {}

    void SleepMilliseconds(std::uint32_t milliseconds) override {
        if (!cancelled_) {
            inner_.SleepMilliseconds(milliseconds);
        }
    }
    void BusyWaitMicroseconds(std::uint32_t microseconds) override {
        if (!cancelled_) {
            inner_.BusyWaitMicroseconds(microseconds);
        }
    }
    std::chrono::microseconds Now() const override { return inner_.Now(); }

private:
    Clock& inner_;
    const std::atomic<bool>& cancelled_;
};

} // namespace vrax
