#include "tests/kernel/KernelBenchFixture.h"
#include "tests/kernel/KernelFigures.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>
#include <sstream>
#include <thread>

namespace vrax::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

double SecondsSince(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

class KernelGangTest : public KernelBenchFixture {
protected:
    // Each mouse's own node named once, with the verdict it should have; then each mouse still
    // plugged is unplugged and its memory checked, with the factory record when one is
    // stamped, whose serial number must be new to serials.
    void ExpectGangWritten(std::vector<GangMouse>& gang, const std::vector<LineVerdict>& verdicts,
                           bool stamped, std::set<int>& serials) {
        for (GangMouse& mouse : gang) {
            ASSERT_FALSE(mouse.nodes.empty());
            const auto verdict =
                std::find_if(verdicts.begin(), verdicts.end(), [&](const LineVerdict& v) {
                    return std::find(mouse.nodes.begin(), mouse.nodes.end(), v.path) !=
                           mouse.nodes.end();
                });
            ASSERT_NE(verdict, verdicts.end()) << "no verdict for " << mouse.nodes.front();
            EXPECT_EQ(std::count_if(verdicts.begin(), verdicts.end(),
                                    [&](const LineVerdict& v) { return v.path == verdict->path; }),
                      1)
                << verdict->path;
            EXPECT_EQ(verdict->text, mouse.pulled ? "Write Fail" : "Write Pass") << verdict->path;
            if (mouse.pulled) {
                continue;
            }
            ASSERT_TRUE(mouse.process->Unplug()) << mouse.process->Output();
            const auto memory = mouse.process->Dump();
            ExpectImageWithRecord(memory, image, stamped);
            if (!stamped) {
                continue;
            }
            const int serial = (memory[166] << 16) | (memory[167] << 8) | memory[168];
            // Factory as stamped: product 0005, date 20261208, factory 3, line C, station 2.
            const std::vector<std::uint8_t> record(memory.begin() + 160, memory.begin() + 172);
            EXPECT_EQ(record,
                      (std::vector<std::uint8_t>{0x00, 0x05, 0x20, 0x26, 0x12, 0x08, memory[166],
                                                 memory[167], memory[168], 2, 2, 1}));
            EXPECT_EQ(std::stoi(verdict->serial, nullptr, 16), serial) << verdict->path;
            EXPECT_TRUE(serials.insert(serial).second) << "serial number stamped twice";
        }
    }

    // The writes in the records: the serial numbers of those that passed, and how many failed.
    std::pair<std::set<int>, int> RecordedWrites(const std::string& records, std::size_t rows) {
        const ProgramResult csv = Cli({"--records", records, "records", "--csv"});
        EXPECT_EQ(csv.exitCode, 0) << csv.err;
        std::istringstream lines(csv.out);
        std::string line;
        std::getline(lines, line); // the header
        std::set<int> serials;
        int failed = 0;
        std::size_t count = 0;
        while (std::getline(lines, line)) {
            std::vector<std::string> fields;
            std::istringstream cells(line);
            for (std::string cell; std::getline(cells, cell, ',');) {
                fields.push_back(cell);
            }
            if (fields.size() < 13 || fields[1] != "write") {
                continue;
            }
            ++count;
            failed += fields[12] == "Write Fail" ? 1 : 0;
            if (fields[12] == "Write Pass" && !fields[11].empty()) {
                serials.insert(std::stoi(fields[11], nullptr, 16));
            }
        }
        EXPECT_EQ(count, rows) << csv.out;
        return {serials, failed};
    }
};

// One line with a gang of four over KVQM31X mice, each on a controller of its own: one alone,
// four plugged at the same moment, four plugged 200 ms apart into the ports the first four
// left. Each is written once, with a serial number of its own from the records.
TEST_F(KernelGangTest, Kvqm31xMicePluggedTogetherOrApartAreEachWrittenOnceWithTheirOwnSerial) {
    const std::string records = Path("records.sqlite");
    auto line = StartCli("line", {"--records", records, "--ic", "KVQM31X", "--format", "2k",
                                  "--factory", Factory, "--serial", "next", "--gang", "4",
                                  "--max-mice", "9", "line", imagePath});
    const std::vector<std::string> kvqm31x{"kvqm31x"};
    std::set<int> serials;
    auto alone = PlugGang({kvqm31x});
    const std::vector<LineVerdict> one = AwaitVerdicts(*line, 1, Clock::now());
    ASSERT_EQ(one.size(), 1u);
    ExpectGangWritten(alone, one, true, serials);

    const auto plugged = Clock::now();
    auto together = PlugGang({kvqm31x, kvqm31x, kvqm31x, kvqm31x});
    const double nodes = SecondsSince(plugged);
    const std::vector<LineVerdict> four = AwaitVerdicts(*line, 4, plugged);
    ASSERT_EQ(four.size(), 4u);
    ExpectGangWritten(together, four, true, serials);
    ReportGang("Linux", "KVQM31X 2K Byte write with the factory record", one.front(), four);
    ReportFigure("Linux gang of 4, four KVQM31X plugged at once: their hidraw nodes after " +
                 FormatSeconds(nodes));

    auto apart = PlugGang({kvqm31x, kvqm31x, kvqm31x, kvqm31x}, milliseconds(200));
    const std::vector<LineVerdict> next = AwaitVerdicts(*line, 4, Clock::now());
    ASSERT_EQ(next.size(), 4u);
    ExpectGangWritten(apart, next, true, serials);
    const ProgramResult ended = line->Finish(std::chrono::seconds(30));
    EXPECT_EQ(ended.exitCode, 0) << ended.out << ended.err;
    EXPECT_NE(ended.out.find("Mice: 9, passed 9, failed 0"), std::string::npos) << ended.out;

    std::set<int> expected;
    for (int serial = 0xA7; serial < 0xA7 + 9; ++serial) {
        expected.insert(serial);
    }
    EXPECT_EQ(serials, expected);
    EXPECT_EQ(RecordedWrites(records, 9), std::make_pair(expected, 0));
    const ProgramResult duplicates = Cli({"--records", records, "records", "--duplicates"});
    EXPECT_EQ(duplicates.exitCode, 0) << duplicates.out << duplicates.err;
}

// KVQM42xx and two-interface KVQM537 mice in one line: one alone and four at once for the
// figure, then four of which one is pulled out in the middle of its write. That one fails, the
// other three pass, and a mouse plugged into the freed port at once is written too.
TEST_F(KernelGangTest, OneOfFourPulledOutFailsAloneAndTheFreedPortWritesTheNextMouse) {
    const std::string records = Path("records.sqlite");
    auto line = StartCli("line", {"--records", records, "--ic", "KVQM42xx", "--format", "2k",
                                  "--gang", "4", "--max-mice", "10", "line", imagePath});
    const std::vector<std::string> kvqm42xx{"kvqm42xx"};
    const std::vector<std::string> kvqm537{"kvqm537", "--variant", "two-interfaces"};
    std::set<int> none;
    auto alone = PlugGang({kvqm42xx});
    const std::vector<LineVerdict> one = AwaitVerdicts(*line, 1, Clock::now());
    ASSERT_EQ(one.size(), 1u);
    ExpectGangWritten(alone, one, false, none);
    auto together = PlugGang({kvqm42xx, kvqm42xx, kvqm42xx, kvqm42xx});
    const std::vector<LineVerdict> four = AwaitVerdicts(*line, 4, Clock::now());
    ASSERT_EQ(four.size(), 4u);
    ExpectGangWritten(together, four, false, none);
    ReportGang("Linux", "KVQM42xx 2K Byte write", one.front(), four);

    std::vector<std::string> pulledOut = kvqm537;
    pulledOut.insert(pulledOut.end(), {"--unplug-at", "150"});
    auto gang = PlugGang({kvqm42xx, pulledOut, kvqm537, kvqm42xx});
    const std::vector<LineVerdict> verdicts = AwaitVerdicts(*line, 4, Clock::now());
    ASSERT_EQ(verdicts.size(), 4u);
    UsbMouseProcess& pulled = *gang[1].process;
    EXPECT_TRUE(pulled.WaitForExit(std::chrono::seconds(20))) << pulled.Output();
    EXPECT_NE(pulled.Output().find("cable pulled at feature transfer 150"), std::string::npos)
        << pulled.Output();
    ASSERT_TRUE(pulled.NodesGone(std::chrono::seconds(20)));
    // The operator's next mouse goes straight into the freed port, where the kernel gives it
    // the pulled mouse's nodes.
    auto next = PlugGang({kvqm537});
    EXPECT_EQ(FirstLine(next.front().process->Output()), FirstLine(pulled.Output()));
    EXPECT_EQ(next.front().nodes, gang[1].nodes);
    const std::vector<LineVerdict> last = AwaitVerdicts(*line, 1, Clock::now());
    ASSERT_EQ(last.size(), 1u);
    ExpectGangWritten(gang, verdicts, false, none);
    ExpectGangWritten(next, last, false, none);

    const ProgramResult ended = line->Finish(std::chrono::seconds(30));
    EXPECT_EQ(ended.exitCode, 1) << ended.out << ended.err;
    EXPECT_NE(ended.out.find("Mice: 10, passed 9, failed 1"), std::string::npos) << ended.out;
    EXPECT_EQ(RecordedWrites(records, 10), std::make_pair(std::set<int>{}, 1));
}

} // namespace
} // namespace vrax::testing
