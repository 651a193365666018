#pragma once

#include "records/ProductionRecords.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>

namespace vrax {

// One call at a time holds a store's connection; the others wait for it within their own
// deadline. StopWaiting (the line's Ctrl+C) cuts every wait short, the holder's too.
class CallGate {
public:
    using Steady = std::chrono::steady_clock;

    // The connection, held until it ends.
    class Held {
    public:
        explicit Held(CallGate& gate) : gate_(gate) {}
        ~Held() {
            {
                std::lock_guard lock(gate_.mutex_);
                gate_.busy_ = false;
            }
            gate_.free_.notify_one();
        }
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;

    private:
        CallGate& gate_;
    };

    // Waits until no other call holds the connection. A wait still on at giveUpAt, or at the
    // stop, ends in giveUp(now), which throws.
    template <typename GiveUp> Held Enter(Steady::time_point giveUpAt, const GiveUp& giveUp) {
        std::unique_lock lock(mutex_);
        while (busy_) {
            const Steady::time_point now = Steady::now();
            if (now >= std::min(giveUpAt, Stop())) {
                giveUp(now);
            }
            free_.wait_for(lock, std::chrono::milliseconds(5));
        }
        busy_ = true;
        return Held(*this);
    }

    // When every wait ends: RecordsStopGrace after the first StopWaiting, never before it.
    Steady::time_point Stop() const { return Steady::time_point{Steady::duration(stop_.load())}; }

    void StopWaiting() {
        const std::int64_t stop = (Steady::now() + RecordsStopGrace).time_since_epoch().count();
        std::int64_t current = stop_.load();
        while (stop < current && !stop_.compare_exchange_weak(current, stop)) {
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable free_;
    bool busy_ = false;
    std::atomic<std::int64_t> stop_{std::numeric_limits<std::int64_t>::max()}; // Steady ticks
};

} // namespace vrax
