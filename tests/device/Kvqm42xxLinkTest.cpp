#include "device/Kvqm42xxLink.h"
#include "sim/VirtualMouse42xx.h"
#include "tests/device/LinkTestBench.h"

#include <gtest/gtest.h>

#include <memory>

namespace vrax::test {
namespace {

using namespace std::chrono_literals;
using Direction = HidTraceEntry::Direction;
using Layout = VirtualMouse42xx::Layout;

struct Kvqm42xxSetup : LinkTestBench {
    explicit Kvqm42xxSetup(Layout layout = Layout::OneInterface, const char* openFaults = "")
        : mouse(std::make_shared<VirtualMouse42xx>(layout)) {
        SetFaults(openFaults);
        bus.Plug(mouse);
        EXPECT_TRUE(link.Open(0x3C5E, 0x0A42));
        mouse->Faults() = {};
        ClearRecords();
    }
    void SetFaults(const char* list) {
        std::string error;
        mouse->Faults() = {};
        ASSERT_TRUE(ParseMouseFaults(list, MouseFamily::Kvqm42xx, mouse->Faults(), error)) << error;
    }
    int CountData(Direction direction) const {
        int count = 0;
        for (const HidTraceEntry& entry : bus.Trace()) {
            count += entry.direction == direction && entry.bytes[0] == 0x41;
        }
        return count;
    }

    std::shared_ptr<VirtualMouse42xx> mouse;
    Kvqm42xxLink link{bus, clock, host};
};

bool AllFF(const std::uint8_t* begin, const std::uint8_t* end) {
    return std::all_of(begin, end, [](std::uint8_t b) { return b == 0xFF; });
}

TEST(Kvqm42xxLinkTest, WholeImageRoundTripCarriesExactlyTheProtocolFramesOnEitherLayout) {
    const Image image = PatternImage();
    for (const Layout layout : {Layout::OneInterface, Layout::TwoInterfaces}) {
        Kvqm42xxSetup s(layout);
        ASSERT_TRUE(s.link.WriteMemory(0, 2048, image.data()));
        EXPECT_EQ(s.mouse->Memory(), image);
        std::vector<std::string> expected{"set 40 07 00 00 08 00 00 00 ok"};
        for (int k = 0; k < 292; ++k) {
            expected.push_back("set 41 " + Hex(&image[7 * k], 7) + " ok");
        }
        // The last chunk carries 4 bytes; the other 3 stay from the chunk before it.
        expected.push_back("set 41 " + Hex(&image[2044], 4) + " " + Hex(&image[2041], 3) + " ok");
        EXPECT_EQ(s.Transfers(), expected);
        for (const HidTraceEntry& entry : s.bus.Trace()) {
            const bool data = entry.bytes[0] == 0x41;
            EXPECT_EQ(entry.interfaceIndex, data && layout == Layout::TwoInterfaces ? 1 : 0);
        }
        EXPECT_EQ(s.clock.Now(), 0us);
        EXPECT_EQ(s.host.shows, 293);
        EXPECT_EQ(s.host.lastProgress, std::make_pair(292, 293));
        EXPECT_EQ(s.host.pumps, 293);
        EXPECT_EQ(s.FirstEvents(5), "set show pump set show");

        s.ClearRecords();
        Image back{};
        ASSERT_TRUE(s.link.ReadMemory(0, 2048, back.data(), 2048));
        EXPECT_EQ(back, image);
        expected = {"set 40 09 00 00 08 00 00 00 ok"};
        for (int k = 0; k < 292; ++k) {
            expected.push_back("get 41 " + Hex(&image[7 * k], 7) + " ok");
        }
        expected.push_back("get 41 " + Hex(&image[2044], 4) + " ff ff ff ok");
        EXPECT_EQ(s.Transfers(), expected);
        const std::vector<HidTraceEntry>& trace = s.bus.Trace();
        for (std::size_t i = 2; i < trace.size(); ++i) {
            EXPECT_EQ(trace[i].time - trace[i - 1].time, 500us);
        }
        EXPECT_EQ(s.clock.TotalBusyWaited(), 293 * 500us);
        EXPECT_EQ(s.clock.TotalSlept(), 0us);
        EXPECT_EQ(s.FirstEvents(5), "set show pump get show");
    }
}

TEST(Kvqm42xxLinkTest, ChunkCountsShortLastChunksAndHighByteFirstSetup) {
    const Image image = PatternImage();
    Kvqm42xxSetup s;
    ASSERT_TRUE(s.link.WriteMemory(0x100, 256, image.data()));
    EXPECT_EQ(Transfer(s.bus.Trace().front()), "set 40 07 01 00 01 00 00 00 ok");
    EXPECT_EQ(s.CountData(Direction::Set), 37);
    EXPECT_EQ(Transfer(s.bus.Trace().back()),
              "set 41 " + Hex(&image[252], 4) + " " + Hex(&image[249], 3) + " ok");
    Image back;
    ASSERT_TRUE(s.link.ReadMemory(0x100, 256, back.data(), 2048));
    EXPECT_EQ(Transfer(s.bus.Trace()[38]), "set 40 09 01 00 01 00 00 00 ok");
    EXPECT_EQ(s.CountData(Direction::Get), 37);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 256, back.begin()));

    s.ClearRecords();
    ASSERT_TRUE(s.link.WriteMemory(0xA0, 12, image.data()));
    ASSERT_TRUE(s.link.WriteMemory(0, 0, image.data()));
    ASSERT_TRUE(s.link.ReadMemory(0, 0, back.data(), 2048));
    EXPECT_EQ(s.Transfers(),
              (std::vector<std::string>{
                  "set 40 07 00 a0 00 0c 00 00 ok", "set 41 " + Hex(&image[0], 7) + " ok",
                  "set 41 " + Hex(&image[7], 5) + " " + Hex(&image[5], 2) + " ok",
                  "set 40 07 00 00 00 00 00 00 ok", "set 40 09 00 00 00 00 00 00 ok"}));
    const auto before = s.clock.Now();
    s.link.DelayMicroseconds(0);
    EXPECT_EQ(s.clock.Now(), before);
}

TEST(Kvqm42xxLinkTest, DataReportsThatDoNotTravelMakeReadsAndWritesFail) {
    const Image image = PatternImage();
    Kvqm42xxSetup s(Layout::TwoInterfaces);
    s.SetFaults("drop-data=5");
    EXPECT_FALSE(s.link.WriteMemory(0, 2048, image.data()));
    EXPECT_EQ(s.CountData(Direction::Set), 6);
    EXPECT_FALSE(s.bus.Trace().back().ok);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 35, s.mouse->Memory().begin()));
    EXPECT_EQ(s.mouse->Memory()[35], 0xFF);

    s.mouse->Memory() = image;
    Image back;
    EXPECT_FALSE(s.link.ReadMemory(0, 2048, back.data(), 2048));
    EXPECT_EQ(s.CountData(Direction::Get), 6);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 35, back.begin()));
    EXPECT_TRUE(AllFF(&back[35], back.end()));

    s.SetFaults("refuse-setup");
    EXPECT_FALSE(s.link.WriteMemory(0, 12, image.data()));
    EXPECT_FALSE(s.link.ReadMemory(0, 12, back.data(), 2048));

    s.mouse->Faults() = {};
    s.host.onShow = [&](int shows) {
        if (shows == 3) {
            s.bus.Unplug(s.bus.PluggedDevices().front());
        }
    };
    s.ClearRecords();
    EXPECT_FALSE(s.link.ReadMemory(0, 2048, back.data(), 2048));
    EXPECT_EQ(s.host.shows, 3);
}

TEST(Kvqm42xxLinkTest, AMissingHandleFailsReadsAndWritesWithoutTraffic) {
    const Image image = PatternImage();
    for (const char* fault : {"no-data", "refuse-probe"}) {
        SCOPED_TRACE(fault);
        Kvqm42xxSetup s(Layout::OneInterface, fault);
        EXPECT_TRUE(s.link.IsOpen());
        EXPECT_FALSE(s.link.WriteMemory(0, 12, image.data()));
        Image back{};
        EXPECT_FALSE(s.link.ReadMemory(0, 2048, back.data(), 2048));
        EXPECT_TRUE(AllFF(back.begin(), back.end()));
        EXPECT_TRUE(s.bus.Trace().empty());
        EXPECT_EQ(s.mouse->Memory()[0], 0xFF);
    }
}

} // namespace
} // namespace vrax::test
