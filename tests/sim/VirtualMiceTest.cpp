#include "sim/VirtualMouse31x.h"
#include "sim/VirtualMouse42xx.h"

#include <gtest/gtest.h>

#include <array>

namespace vrax {
namespace {

using Report = std::array<std::uint8_t, 8>;

Report Exchange(VirtualMouse31x& mouse, const Report& request, int polls = 1) {
    EXPECT_TRUE(mouse.SetFeature(0, request.data(), 8));
    Report report{4};
    for (int i = 0; i < polls; ++i) {
        EXPECT_TRUE(mouse.GetFeature(0, report.data(), 8));
    }
    return report;
}

TEST(VirtualMouse31xTest, RunsACommandOnlyWhenItReportsItDoneAndCorruptsOnlyTheReadBack) {
    VirtualMouse31x mouse;
    const Report setup{4, 6, 0x10, 0, 6, 0, 0, 0};
    const Report data{4, 7, 1, 2, 3, 4, 5, 6};
    mouse.Faults().busyPolls = 2;
    EXPECT_EQ(Exchange(mouse, setup)[7], 0);
    // The host gave up on the setup: the write it would have opened never exists.
    EXPECT_EQ(Exchange(mouse, data, 3)[7], VirtualMouse31x::StatusRefused);
    EXPECT_EQ(mouse.Memory()[0x10], 0xFF);

    mouse.Faults().busyPolls = 0;
    EXPECT_EQ(Exchange(mouse, setup)[7], 204);
    EXPECT_EQ(Exchange(mouse, data, 2)[7], 204) << "later polls keep the status";
    EXPECT_EQ(Exchange(mouse, data)[7], 1) << "the write is complete";

    mouse.Faults().corruptAddress = 0x12;
    EXPECT_EQ(Exchange(mouse, {4, 4, 0x10, 0, 6, 0, 0, 0})[7], 204);
    EXPECT_EQ(Exchange(mouse, {4, 5}), (Report{4, 1, 2, 0xFC, 4, 5, 6, 204}));
    EXPECT_EQ(mouse.Memory()[0x12], 3);
    EXPECT_EQ(Exchange(mouse, {4, 4, 0xF8, 7, 16, 0})[7], 1) << "past the end of memory";
    Report other{5};
    EXPECT_FALSE(mouse.SetFeature(0, other.data(), 8));
}

TEST(VirtualMouse42xxTest, RoutesReportsByInterfaceAndIgnoresDataOutsideATransfer) {
    VirtualMouse42xx mouse(VirtualMouse42xx::Layout::TwoInterfaces);
    ASSERT_EQ(mouse.InterfaceCount(), 2);
    const Report probe{0x40, 0x0D};
    Report data{0x41};
    EXPECT_TRUE(mouse.SetFeature(0, probe.data(), 8));
    EXPECT_FALSE(mouse.SetFeature(1, probe.data(), 8));
    EXPECT_FALSE(mouse.GetFeature(0, data.data(), 8));
    EXPECT_TRUE(mouse.GetFeature(1, data.data(), 8));
    EXPECT_EQ(data, (Report{0x41})) << "no read open: zeros";

    const Report write{0x40, 7, 0x01, 0x00, 0x00, 0x09};
    const Report chunk{0x41, 1, 2, 3, 4, 5, 6, 7};
    ASSERT_TRUE(mouse.SetFeature(0, write.data(), 8));
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(mouse.SetFeature(1, chunk.data(), 8)) << "past the write: taken, ignored";
    }
    EXPECT_EQ(mouse.Memory()[0x100 + 8], 2);
    EXPECT_EQ(mouse.Memory()[0x100 + 9], 0xFF);

    mouse.Faults().corruptAddress = 0x101;
    mouse.Faults().refusedReadChunk = 1;
    const Report read{0x40, 9, 0x01, 0x00, 0x00, 0x09};
    ASSERT_TRUE(mouse.SetFeature(0, read.data(), 8));
    ASSERT_TRUE(mouse.GetFeature(1, data.data(), 8));
    EXPECT_EQ(data, (Report{0x41, 1, 0xFD, 3, 4, 5, 6, 7}));
    data = {0x41};
    EXPECT_FALSE(mouse.GetFeature(1, data.data(), 8));
    EXPECT_EQ(data, (Report{0x41})) << "a refused get leaves the buffer";
    const Report pastEnd{0x40, 9, 0x07, 0xFC, 0x00, 0x05};
    EXPECT_FALSE(mouse.SetFeature(0, pastEnd.data(), 8));
}

} // namespace
} // namespace vrax
