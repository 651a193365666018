#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

namespace vrax {

// Every wait of the links, the settle waits and the polling goes through a Clock, so tests
// run the protocol's seconds of waiting in microseconds and can still assert them. A clock
// belongs to one station and its thread: a gang gives each mouse its own.
class Clock {
public:
    virtual ~Clock() = default;

    virtual void SleepMilliseconds(std::uint32_t milliseconds) = 0;

    // Busy-waits on the steady high-resolution counter; never sleeps, never pumps messages.
    virtual void BusyWaitMicroseconds(std::uint32_t microseconds) = 0;

    // Time on a steady clock since an arbitrary origin.
    virtual std::chrono::microseconds Now() const = 0;
};

// Windows wakes sleepers on its system timer, every 15.6 ms unless a program asks for finer
// steps; this asks for 1 ms while it lives. Elsewhere it only counts.
class FineTimerResolution {
public:
    FineTimerResolution();
    ~FineTimerResolution();
    FineTimerResolution(const FineTimerResolution&) = delete;
    FineTimerResolution& operator=(const FineTimerResolution&) = delete;

    // How many are alive in this process.
    static int Held();
};

class RealClock final : public Clock {
public:
    // A one-job program holds the fine timer for its whole run; the station holds it only
    // while it handles an event, so that an idle station leaves the system timer alone.
    enum class FineTimer { WholeRun, HeldByCaller };

    explicit RealClock(FineTimer fineTimer = FineTimer::WholeRun);
    ~RealClock() override;
    RealClock(const RealClock&) = delete;
    RealClock& operator=(const RealClock&) = delete;

    void SleepMilliseconds(std::uint32_t milliseconds) override;
    void BusyWaitMicroseconds(std::uint32_t microseconds) override;
    std::chrono::microseconds Now() const override;

private:
    std::unique_ptr<FineTimerResolution> wholeRun_;
};

// Sleeps and busy-waits advance the time at once.
class VirtualClock final : public Clock {
public:
    void SleepMilliseconds(std::uint32_t milliseconds) override;
    void BusyWaitMicroseconds(std::uint32_t microseconds) override;
    std::chrono::microseconds Now() const override { return now_; }

    void Advance(std::chrono::microseconds by) { now_ += by; }
    std::uint64_t SleepCount() const { return sleepCount_; }
    std::chrono::microseconds TotalSlept() const { return slept_; }
    std::chrono::microseconds TotalBusyWaited() const { return busyWaited_; }

private:
    std::chrono::microseconds now_{0};
    std::chrono::microseconds slept_{0};
    std::chrono::microseconds busyWaited_{0};
    std::uint64_t sleepCount_ = 0;
};

} // namespace vrax
