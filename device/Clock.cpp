#include "Clock.h"

#include <atomic>
#include <thread>

#ifdef _WIN32
#include <windows.h>

#include <timeapi.h>
#elif defined(__linux__)
#include <sys/prctl.h>
#endif

namespace vrax {

namespace {

// The system wakes a sleeper tens to hundreds of microseconds late; over the hundreds of sleeps
// of one job that would add several per cent to the protocol's waits, so the last stretch of
// each sleep is spun on the steady clock instead.
constexpr std::chrono::microseconds SpunTail{100};

std::atomic<int> fineTimersHeld{0};

} // namespace

FineTimerResolution::FineTimerResolution() {
    ++fineTimersHeld;
#ifdef _WIN32
    // The default 15.6 ms would stretch every protocol wait.
    timeBeginPeriod(1);
#endif
}

FineTimerResolution::~FineTimerResolution() {
#ifdef _WIN32
    timeEndPeriod(1);
#endif
    --fineTimersHeld;
}

int FineTimerResolution::Held() {
    return fineTimersHeld;
}

RealClock::RealClock(FineTimer fineTimer) {
    if (fineTimer == FineTimer::WholeRun) {
        wholeRun_ = std::make_unique<FineTimerResolution>();
    }
#if defined(__linux__)
    // The default 50 microseconds of timer slack would stretch every sleep of this thread.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
}

RealClock::~RealClock() = default;

void RealClock::SleepMilliseconds(std::uint32_t milliseconds) {
    using SteadyClock = std::chrono::steady_clock;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(milliseconds);
    const auto wakeUp = deadline - SpunTail;
    if (SteadyClock::now() < wakeUp) {
        std::this_thread::sleep_until(wakeUp);
    }
    while (SteadyClock::now() < deadline) {
    }
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
