#include "device/HidDiscovery.h"
#include "device/Kvqm31xLink.h"
#include "device/Kvqm42xxLink.h"
#include "sim/PlainHidDevice.h"
#include "sim/VirtualMouse31x.h"
#include "sim/VirtualMouse42xx.h"
#include "tests/device/LinkTestBench.h"

#include <gtest/gtest.h>

#include <memory>

namespace vrax::test {
namespace {

using Layout = VirtualMouse42xx::Layout;

struct DiscoverySetup : LinkTestBench {
    // The device that carried the latest transfer.
    int LastDevice() const { return bus.Trace().empty() ? 0 : bus.Trace().back().device; }

    Kvqm31xLink link31x{bus, clock, host};
    Kvqm42xxLink link42xx{bus, clock, host};
};

std::shared_ptr<VirtualMouse31x> Mouse31x(std::uint16_t release = 0x104) {
    auto mouse = std::make_shared<VirtualMouse31x>();
    mouse->SetAttributes({0x3C5E, 0x0A31, release});
    return mouse;
}

TEST(HidDiscoveryTest, CountsEveryInterfaceThatOpensAndKeepsNoneOpen) {
    DiscoverySetup s;
    int release = 0x104;
    EXPECT_EQ(CountHidDevices(s.bus), 0);
    EXPECT_FALSE(s.link31x.Open(0x3C5E, 0x0A31, release));
    EXPECT_FALSE(s.link42xx.Open(0x3C5E, 0x0A42));

    const auto keyboard = s.bus.Plug(std::make_shared<PlainHidDevice>());
    s.bus.Plug(Mouse31x());
    const auto split = s.bus.Plug(std::make_shared<VirtualMouse42xx>(Layout::TwoInterfaces));
    EXPECT_EQ(CountHidDevices(s.bus), 5);
    s.bus.SetOpenRefusals(keyboard, 1, SimulatedHidBus::RefuseAlways);
    s.bus.SetDetailUnreadable(split, 0, true);
    EXPECT_EQ(CountHidDevices(s.bus), 3);
    EXPECT_EQ(s.bus.OpenHandleCount(), 0);
}

TEST(HidDiscoveryTest, Kvqm31xMatchesIdsReleaseAndLengthEightAndTheLastMatchWins) {
    DiscoverySetup s;
    s.bus.Plug(Mouse31x(0x0100));
    s.bus.Plug(std::make_shared<PlainHidDevice>(VirtualMouse31x::DefaultAttributes, 1, 65));
    int release = 0x104;
    EXPECT_FALSE(s.link31x.Open(0x3C5E, 0x0A31, release));
    EXPECT_EQ(s.bus.OpenHandleCount(), 0);

    const auto first = s.bus.Plug(Mouse31x());
    const auto last = s.bus.Plug(Mouse31x());
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(s.link31x.Open(0x3C5E, 0x0A31, release));
        EXPECT_EQ(release, 0x104);
        ASSERT_TRUE(s.link31x.SendCommand(Kvqm31xLink::CmdBegin));
        EXPECT_EQ(s.LastDevice(), last);
        EXPECT_EQ(s.bus.OpenHandleCount(), 1);
    }

    // A stale handle is replaced, and closed, by the next match.
    s.bus.Unplug(last);
    ASSERT_TRUE(s.link31x.Open(0x3C5E, 0x0A31, release));
    ASSERT_TRUE(s.link31x.SendCommand(Kvqm31xLink::CmdBegin));
    EXPECT_EQ(s.LastDevice(), first);
    EXPECT_EQ(s.bus.OpenHandleCount(), 1);

    // Nothing matching leaves the handle as it was.
    const HidHandle kept = s.link31x.Handle();
    s.bus.Unplug(first);
    EXPECT_FALSE(s.link31x.Open(0x3C5E, 0x0A31, release));
    EXPECT_EQ(s.link31x.Handle(), kept);
    s.link31x.Forget();
    EXPECT_FALSE(s.link31x.IsOpen());
    EXPECT_EQ(s.bus.OpenHandleCount(), 0);
    EXPECT_EQ(s.bus.BadCloseCount(), 0);
}

TEST(HidDiscoveryTest, OpenTriesTwiceAndSkipsAnInterfaceWhoseDetailFails) {
    DiscoverySetup s;
    int release = 0x104;
    const auto mouse = s.bus.Plug(Mouse31x());
    s.bus.SetOpenRefusals(mouse, 0, 1);
    EXPECT_TRUE(s.link31x.Open(0x3C5E, 0x0A31, release));
    s.link31x.Forget();
    s.bus.SetOpenRefusals(mouse, 0, 2);
    EXPECT_FALSE(s.link31x.Open(0x3C5E, 0x0A31, release));
    EXPECT_TRUE(s.link31x.Open(0x3C5E, 0x0A31, release));
    s.link31x.Forget();

    s.bus.SetDetailUnreadable(mouse, 0, true);
    EXPECT_FALSE(s.link31x.Open(0x3C5E, 0x0A31, release));
    const auto next = s.bus.Plug(Mouse31x());
    ASSERT_TRUE(s.link31x.Open(0x3C5E, 0x0A31, release));
    ASSERT_TRUE(s.link31x.SendCommand(Kvqm31xLink::CmdBegin));
    EXPECT_EQ(s.LastDevice(), next);
}

TEST(HidDiscoveryTest, Kvqm42xxTakesAnyReleaseAndPicksEachHandleByItsProbe) {
    DiscoverySetup s;
    auto single = std::make_shared<VirtualMouse42xx>();
    single->SetAttributes({0x3C5E, 0x0A42, 0x0321});
    const auto singleId = s.bus.Plug(single);
    ASSERT_TRUE(s.link42xx.Open(0x3C5E, 0x0A42));
    EXPECT_EQ(s.link42xx.ReleaseNumber(), 0x321);
    EXPECT_EQ(s.link42xx.CommandHandle(), s.link42xx.DataHandle());
    EXPECT_EQ(s.Transfers(), (std::vector<std::string>{"set 40 0d 00 00 00 00 00 00 ok",
                                                       "get 41 00 00 00 00 00 00 00 ok"}));
    // One handle serving both reports is closed once (no bad close below).
    s.link42xx.Forget();
    EXPECT_EQ(s.bus.OpenHandleCount(), 0);

    // The probe refused on a later mouse: commands stay with the first, data moves on.
    auto refusing = std::make_shared<VirtualMouse42xx>();
    refusing->Faults().refuseProbe = true;
    const auto refusingId = s.bus.Plug(refusing);
    ASSERT_TRUE(s.link42xx.Open(0x3C5E, 0x0A42));
    EXPECT_EQ(s.bus.OpenHandleCount(), 2);
    std::array<std::uint8_t, 7> data{};
    s.ClearRecords();
    ASSERT_TRUE(s.link42xx.WriteMemory(0, 7, data.data()));
    EXPECT_EQ(s.bus.Trace()[0].device, singleId);
    EXPECT_EQ(s.bus.Trace()[1].device, refusingId);

    // Neither probe accepted: a match, yet no handle kept.
    s.link42xx.Forget();
    refusing->Faults().silent = true;
    s.bus.Unplug(singleId);
    EXPECT_TRUE(s.link42xx.Open(0x3C5E, 0x0A42));
    EXPECT_FALSE(s.link42xx.IsOpen());
    EXPECT_EQ(s.bus.OpenHandleCount(), 0);

    const auto split = s.bus.Plug(std::make_shared<VirtualMouse42xx>(Layout::TwoInterfaces));
    ASSERT_TRUE(s.link42xx.Open(0x3C5E, 0x0A42));
    s.ClearRecords();
    ASSERT_TRUE(s.link42xx.ReadMemory(0, 7, data.data(), 7));
    EXPECT_EQ(s.bus.Trace()[0].interfaceIndex, 0);
    EXPECT_EQ(s.bus.Trace()[1].interfaceIndex, 1);
    EXPECT_EQ(s.LastDevice(), split);
    s.link42xx.Forget();
    EXPECT_EQ(s.bus.OpenHandleCount(), 0);
    EXPECT_EQ(s.bus.BadCloseCount(), 0);
}

TEST(HidDiscoveryTest, TenThousandPlugOpenUnplugCyclesLeakNoHandle) {
    VirtualClock clock;
    SimulatedHidBus bus(clock);
    NoLinkProgress host;
    Kvqm31xLink link31x(bus, clock, host);
    Kvqm42xxLink link42xx(bus, clock, host);
    for (int cycle = 0; cycle < 10000; ++cycle) {
        const auto a = bus.Plug(std::make_shared<VirtualMouse31x>());
        const auto b = bus.Plug(std::make_shared<VirtualMouse42xx>(Layout::TwoInterfaces));
        const auto c = bus.Plug(std::make_shared<PlainHidDevice>());
        ASSERT_EQ(CountHidDevices(bus), 5);
        int release = 0x104;
        ASSERT_TRUE(link31x.Open(0x3C5E, 0x0A31, release));
        ASSERT_TRUE(link42xx.Open(0x3C5E, 0x0A42));
        if (cycle % 2 == 0) {
            ASSERT_TRUE(link42xx.Open(0x3C5E, 0x0A42));
        }
        bus.Unplug(a);
        bus.Unplug(b);
        bus.Unplug(c);
        // Every third cycle the links keep their stale handles until the next open replaces them.
        if (cycle % 3 != 0) {
            link31x.Forget();
            link42xx.Forget();
        }
    }
    link31x.Forget();
    link42xx.Forget();
    EXPECT_EQ(bus.OpenHandleCount(), 0);
    EXPECT_EQ(bus.BadCloseCount(), 0);
}

} // namespace
} // namespace vrax::test
