#include "Clock.h"

#include <thread>

#ifdef _WIN32
#include <windows.h>
#include <timeapi.h>
#endif

namespace vrax {

RealClock::RealClock() {
#ifdef _WIN32
    // The default 15.6 ms timer granularity would stretch every protocol wait.
    timeBeginPeriod(1);
#endif
}

RealClock::~RealClock() {
#ifdef _WIN32
    timeEndPeriod(1);
#endif
}

void RealClock::SleepMilliseconds(std::uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void RealClock::BusyWaitMicroseconds(std::uint32_t microseconds) {
    using SteadyClock = std::chrono::steady_clock;
    const auto start = SteadyClock::now();
    const double wanted = microseconds * 0.000001;
    for (;;) {
        const std::chrono::duration<double> elapsed = SteadyClock::now() - start;
        if (!(wanted > elapsed.count())) {
            return;
        }
    }
}

std::chrono::microseconds RealClock::Now() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

void VirtualClock::SleepMilliseconds(std::uint32_t milliseconds) {
    const std::chrono::microseconds duration = std::chrono::milliseconds(milliseconds);
    now_ += duration;
    slept_ += duration;
    ++sleepCount_;
}

void VirtualClock::BusyWaitMicroseconds(std::uint32_t microseconds) {
    const std::chrono::microseconds duration(microseconds);
    now_ += duration;
    busyWaited_ += duration;
}

} // namespace vrax
