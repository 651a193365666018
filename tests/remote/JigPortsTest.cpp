#include "remote/transport/JigPorts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace vrax {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using std::chrono::steady_clock;

// A job's end on another thread cuts the host's slice short, whether it comes during the slice
// or just before it; one wake ends one slice, not every later one.
TEST(JigPorts, AWakeEndsTheSliceUnderWayOrTheNext) {
    JigPorts ports;
    ports.Open("tcp:127.0.0.1:0", {});

    auto start = steady_clock::now();
    std::thread job([&ports] {
        std::this_thread::sleep_for(milliseconds(50));
        ports.Wake();
    });
    ports.Poll(seconds(30));
    job.join();
    EXPECT_LT(steady_clock::now() - start, seconds(10));

    ports.Wake();
    start = steady_clock::now();
    ports.Poll(seconds(30));
    EXPECT_LT(steady_clock::now() - start, seconds(10));

    start = steady_clock::now();
    ports.Poll(milliseconds(200));
    EXPECT_GE(steady_clock::now() - start, milliseconds(200));
}

} // namespace
} // namespace vrax
