#include "device/Kvqm31xLink.h"
#include "sim/VirtualMouse31x.h"
#include "tests/device/LinkTestBench.h"

#include <gtest/gtest.h>

#include <memory>

namespace vrax::test {
namespace {

using namespace std::chrono_literals;
using Direction = HidTraceEntry::Direction;

struct Kvqm31xSetup : LinkTestBench {
    Kvqm31xSetup() {
        bus.Plug(mouse);
        int release = 0x104;
        EXPECT_TRUE(link.Open(0x3C5E, 0x0A31, release));
    }
    void SetFaults(const char* list) {
        std::string error;
        mouse->Faults() = {};
        ASSERT_TRUE(ParseMouseFaults(list, MouseFamily::Kvqm31x, mouse->Faults(), error)) << error;
    }
    int CountSets(std::uint8_t command) const {
        int count = 0;
        for (const HidTraceEntry& entry : bus.Trace()) {
            count += entry.direction == Direction::Set && entry.bytes[1] == command;
        }
        return count;
    }

    std::shared_ptr<VirtualMouse31x> mouse = std::make_shared<VirtualMouse31x>();
    Kvqm31xLink link{bus, clock, host};
};

TEST(Kvqm31xLinkTest, WholeImageRoundTripCarriesExactlyTheProtocolFrames) {
    Kvqm31xSetup s;
    const Image image = PatternImage();
    ASSERT_TRUE(s.link.WriteMemory(0, 2048, image.data()));
    EXPECT_EQ(s.mouse->Memory(), image);
    const std::vector<HidTraceEntry>& trace = s.bus.Trace();
    ASSERT_EQ(trace.size(), 2u * 343);
    EXPECT_EQ(Transfer(trace[0]), "set 04 06 00 00 00 08 00 00 ok");
    for (int k = 0; k < 342; ++k) {
        // The last chunk carries 2 bytes; the other 4 stay from the chunk before it.
        std::array<std::uint8_t, 6> chunk{};
        std::copy_n(image.begin() + (k == 341 ? 2040 : 6 * k), 6, chunk.begin());
        std::copy_n(image.begin() + 6 * k, k == 341 ? 2 : 6, chunk.begin());
        EXPECT_EQ(Transfer(trace[2 + 2 * k]), "set 04 07 " + Hex(chunk.data(), 6) + " ok");
    }
    for (std::size_t i = 0; i < trace.size(); i += 2) {
        EXPECT_TRUE(trace[i + 1].direction == Direction::Get && trace[i + 1].ok);
        EXPECT_EQ(trace[i + 1].bytes[7], 204);
        EXPECT_EQ(trace[i + 1].time - trace[i].time, 10ms);
    }
    EXPECT_EQ(s.clock.TotalSlept(), 3430ms);
    EXPECT_EQ(s.host.shows, 342);
    EXPECT_EQ(s.host.lastProgress, std::make_pair(341, 342));
    EXPECT_EQ(s.host.pumps, 2 * 342);
    EXPECT_EQ(s.FirstEvents(8), "set get show pump pump set get show");

    s.ClearRecords();
    const auto writeTime = s.clock.TotalSlept();
    Image back{};
    ASSERT_TRUE(s.link.ReadMemory(0, 2048, back.data(), 2048));
    EXPECT_EQ(back, image);
    ASSERT_EQ(trace.size(), 2u * 343);
    EXPECT_EQ(Transfer(trace[0]), "set 04 04 00 00 00 08 00 00 ok");
    for (int k = 0; k < 342; ++k) {
        std::array<std::uint8_t, 6> served;
        served.fill(0xFF);
        std::copy_n(image.begin() + 6 * k, k == 341 ? 2 : 6, served.begin());
        EXPECT_EQ(Transfer(trace[2 + 2 * k]), "set 04 05 00 00 00 00 00 00 ok");
        EXPECT_EQ(Transfer(trace[3 + 2 * k]), "get 04 " + Hex(served.data(), 6) + " cc ok");
        EXPECT_EQ(trace[3 + 2 * k].time - trace[2 + 2 * k].time, 5ms);
    }
    EXPECT_EQ(s.clock.TotalSlept() - writeTime, 1720ms);
    EXPECT_EQ(s.host.pumps, 3 * 342);
    EXPECT_EQ(s.FirstEvents(9), "set get show pump set get pump pump show");
}

TEST(Kvqm31xLinkTest, ChunkCountsShortLastChunksAndLowByteFirstSetup) {
    const Image image = PatternImage();
    for (const auto& [address, length, chunks, setup] :
         {std::tuple{0x100, 256, 43, "00 01 00 01"}, std::tuple{0xA0, 12, 2, "a0 00 0c 00"},
          std::tuple{0, 0, 0, "00 00 00 00"}, std::tuple{0x7FC, 4, 1, "fc 07 04 00"}}) {
        SCOPED_TRACE(length);
        Kvqm31xSetup s;
        ASSERT_TRUE(s.link.WriteMemory(address, length, image.data()));
        EXPECT_EQ(Transfer(s.bus.Trace()[0]), std::string("set 04 06 ") + setup + " 00 00 ok");
        EXPECT_EQ(s.CountSets(Kvqm31xLink::CmdWriteNext), chunks);
        const std::string last = chunks > 0 ? Transfer(s.bus.Trace()[2 * chunks]) : "";
        if (length == 256) {
            EXPECT_EQ(last, "set 04 07 " + Hex(&image[252], 4) + " " + Hex(&image[250], 2) + " ok");
        }
        if (length == 4) {
            EXPECT_EQ(last, "set 04 07 " + Hex(image.data(), 4) + " ff ff ok");
        }
        Image back{};
        ASSERT_TRUE(s.link.ReadMemory(address, length, back.data(), 1));
        EXPECT_EQ(s.CountSets(Kvqm31xLink::CmdReadNext), chunks);
        EXPECT_TRUE(std::equal(image.begin(), image.begin() + length, back.begin()));
    }
}

TEST(Kvqm31xLinkTest, FailingExchangesWaitAtMost300150And175Milliseconds) {
    Kvqm31xSetup s;
    s.SetFaults("silent");
    EXPECT_FALSE(s.link.SendCommand(Kvqm31xLink::CmdBegin));
    EXPECT_EQ(s.clock.TotalSlept(), 300ms);
    EXPECT_EQ(s.CountSets(Kvqm31xLink::CmdBegin), 5);
    EXPECT_EQ(s.bus.Trace().size(), 5u * 6);

    // The setup goes through; the mouse falls silent before the first chunk.
    s.host.onShow = [&](int) { s.mouse->Faults().silent = true; };
    std::array<std::uint8_t, 6> data{};
    for (const bool reading : {true, false}) {
        s.mouse->Faults() = {};
        const auto before = s.clock.TotalSlept();
        EXPECT_FALSE(reading ? s.link.ReadMemory(0, 6, data.data(), 6)
                             : s.link.WriteMemory(0, 6, data.data()));
        EXPECT_EQ(s.clock.TotalSlept() - before, 10ms + (reading ? 150ms : 175ms));
    }
}

TEST(Kvqm31xLinkTest, StatusOneAndFiveEmptyPollsMakeTheLinkSendTheFrameAgain) {
    Kvqm31xSetup s;
    s.SetFaults("refuse-command=1");
    EXPECT_FALSE(s.link.SendCommand(Kvqm31xLink::CmdBegin));
    ASSERT_EQ(s.bus.Trace().size(), 10u);
    for (std::size_t i = 0; i < 10; i += 2) {
        EXPECT_EQ(Transfer(s.bus.Trace()[i]), "set 04 01 00 00 00 00 00 00 ok");
        EXPECT_EQ(s.bus.Trace()[i + 1].bytes[7], 1);
    }
    EXPECT_EQ(s.clock.TotalSlept(), 50ms);

    s.SetFaults("busy=4");
    EXPECT_TRUE(s.link.SendCommand(Kvqm31xLink::CmdBegin));
    EXPECT_EQ(s.clock.TotalSlept(), 50ms + 50ms);

    // Five empty polls, then the same frame again, which the mouse now completes at once.
    s.SetFaults("busy=5");
    int gets = 0;
    s.bus.SetTraceListener([&](const HidTraceEntry& entry) {
        if (entry.direction == Direction::Get && ++gets == 5) {
            s.mouse->Faults().busyPolls = 0;
        }
    });
    EXPECT_TRUE(s.link.SendCommand(Kvqm31xLink::CmdStatus));
    EXPECT_EQ(s.CountSets(Kvqm31xLink::CmdStatus), 2);
    EXPECT_EQ(gets, 6);
    EXPECT_EQ(s.clock.TotalSlept(), 100ms + 70ms);
}

TEST(Kvqm31xLinkTest, WriteStopsAtTheFirstRefusedChunkAndAMissingReadChunkFailsTheRead) {
    Kvqm31xSetup s;
    const Image image = PatternImage();
    s.SetFaults("refuse-write-chunk=3");
    EXPECT_FALSE(s.link.WriteMemory(0, 60, image.data()));
    EXPECT_EQ(s.CountSets(Kvqm31xLink::CmdWriteNext), 3 + 5);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 18, s.mouse->Memory().begin()));
    EXPECT_EQ(s.mouse->Memory()[18], 0xFF);

    s.mouse->Memory() = image;
    s.SetFaults("refuse-read-chunk=2");
    Image back;
    EXPECT_FALSE(s.link.ReadMemory(0, 60, back.data(), 60));
    EXPECT_EQ(s.CountSets(Kvqm31xLink::CmdReadNext), 2 + 5);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 12, back.begin()));
    EXPECT_TRUE(
        std::all_of(back.begin() + 12, back.begin() + 60, [](auto b) { return b == 0xFF; }));

    // Only destinationSize bytes are preset before a refused setup.
    s.SetFaults("refuse-setup");
    back.fill(0x11);
    EXPECT_FALSE(s.link.ReadMemory(160, 12, back.data(), 1));
    EXPECT_EQ(back[0], 0xFF);
    EXPECT_EQ(back[1], 0x11);

    ASSERT_TRUE(s.link.SendCommand(Kvqm31xLink::CmdStatus));
    EXPECT_EQ(Hex(s.link.LastReply().data(), 8), "04 aa 04 35 00 00 00 cc");
    s.SetFaults("not-ready,unmarked,chip=FD");
    ASSERT_TRUE(s.link.SendCommand(Kvqm31xLink::CmdStatus));
    EXPECT_EQ(Hex(s.link.LastReply().data(), 4), "04 00 00 fd");
}

TEST(Kvqm31xLinkTest, WithoutAHandleOrAfterUnplugEveryOperationFails) {
    LinkTestBench bench;
    Kvqm31xLink closed(bench.bus, bench.clock, bench.host);
    std::array<std::uint8_t, 6> data{0, 0, 0, 0, 0, 0xCC};
    EXPECT_FALSE(closed.SendCommand(Kvqm31xLink::CmdBegin));
    EXPECT_FALSE(closed.WriteMemory(0, 6, data.data()));
    EXPECT_FALSE(closed.ReadMemory(0, 6, data.data(), 6));
    EXPECT_EQ(data[5], 0xFF);
    EXPECT_TRUE(bench.bus.Trace().empty());
    EXPECT_EQ(bench.clock.TotalSlept(), 0ms);

    // A failed get must not let the chunk's last data byte, 0xCC, pass for status 204.
    Kvqm31xSetup s;
    s.host.onShow = [&](int) { s.bus.Unplug(s.bus.PluggedDevices().front()); };
    data = {1, 2, 3, 4, 5, 0xCC};
    EXPECT_FALSE(s.link.WriteMemory(0, 6, data.data()));
    EXPECT_TRUE(s.link.IsOpen());
    EXPECT_FALSE(s.link.SendCommand(Kvqm31xLink::CmdEnd));
    s.link.Forget();
    EXPECT_EQ(s.bus.OpenHandleCount(), 0);
}

} // namespace
} // namespace vrax::test
