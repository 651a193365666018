#include "sim/SimulatedHidBus.h"
#include "sim/PlainHidDevice.h"
#include "sim/VirtualMouse31x.h"

#include <gtest/gtest.h>

#include <memory>

namespace vrax {
namespace {

using namespace std::chrono_literals;

TEST(SimulatedHidBusTest, AnUnpluggedDevicesHandlesFailEveryCallButStillClose) {
    VirtualClock clock;
    SimulatedHidBus bus(clock);
    bus.SetTraceEnabled(true);
    const auto keyboard = bus.Plug(std::make_shared<PlainHidDevice>());
    const auto mouse = bus.Plug(std::make_shared<VirtualMouse31x>());
    const std::vector<std::string> paths = bus.EnumerateInterfaces();
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_EQ(paths[2], bus.InterfacePath(mouse, 0));
    EXPECT_NE(paths[2].find("vid_3c5e&pid_0a31"), std::string::npos);

    const HidHandle keyboardHandle = bus.Open(paths[0]);
    const HidHandle handle = bus.Open(paths[2]);
    ASSERT_NE(handle, InvalidHandle);
    std::uint8_t report[8] = {4, 1};
    EXPECT_FALSE(bus.SetFeature(keyboardHandle, report, 8)) << "a keyboard answers nothing";
    EXPECT_TRUE(bus.SetFeature(handle, report, 8));
    clock.SleepMilliseconds(10);
    EXPECT_TRUE(bus.GetFeature(handle, report, 8));
    EXPECT_EQ(FormatTraceLine(bus.Trace()[1], 0us), "0 set 04 01 00 00 00 00 00 00 ok");
    EXPECT_EQ(FormatTraceLine(bus.Trace()[2], 0us), "10 get 04 01 00 00 00 00 00 cc ok");
    EXPECT_EQ(bus.Trace()[2].device, mouse);

    // The listener may unplug the device in the middle of a job.
    bus.SetTraceListener([&](const HidTraceEntry&) { bus.Unplug(mouse); });
    EXPECT_TRUE(bus.SetFeature(handle, report, 8));
    bus.SetTraceListener(nullptr);
    HidAttributes attributes;
    EXPECT_FALSE(bus.GetAttributes(handle, attributes));
    EXPECT_EQ(bus.GetFeatureReportLength(handle), 0);
    EXPECT_FALSE(bus.GetFeature(handle, report, 8));
    EXPECT_EQ(FormatTraceLine(bus.Trace().back(), 0us), "10 get 04 01 00 00 00 00 00 cc fail");
    EXPECT_EQ(bus.Open(paths[2]), InvalidHandle);
    EXPECT_EQ(bus.EnumerateInterfaces().size(), 2u);
    EXPECT_FALSE(bus.IsPlugged(mouse));
    EXPECT_EQ(bus.PluggedDevices(), std::vector<SimulatedHidBus::DeviceId>{keyboard});

    EXPECT_EQ(bus.OpenHandleCount(), 2);
    bus.Close(handle);
    bus.Close(handle);
    bus.Close(keyboardHandle);
    EXPECT_EQ(bus.OpenHandleCount(), 0);
    EXPECT_EQ(bus.BadCloseCount(), 1);

    const auto again = bus.Plug(std::make_shared<VirtualMouse31x>());
    EXPECT_NE(bus.InterfacePath(again, 0), paths[2]) << "a device plugged again has new paths";
}

} // namespace
} // namespace vrax
