#include "CliFixture.h"

#include <utility>

namespace vrax::testing {
namespace {

struct WriteCase {
    const char* name;
    std::vector<std::string> options;
    int frames;                               // every transfer of a passing job, opening included
    std::vector<std::pair<int, int>> written; // [start, end) ranges the job writes
    std::vector<int> commands31x;             // empty for the second family
};

class WriteAndVerify : public CliFixture, public ::testing::WithParamInterface<WriteCase> {};

// Each KVQM31X command is one set and one get; a chunk of 6 bytes is one more such pair.
const WriteCase WriteCases[] = {
    {"Kvqm31xCustom",
     {"--sim", "kvqm31x"},
     368,
     {{0, 256}, {1280, 1536}},
     {1, 3, 6, 6, 1, 3, 4, 4, 8, 2, 8, 2}},
    {"Kvqm31x2K",
     {"--sim", "kvqm31x", "--format", "2k"},
     702,
     {{0, 2048}},
     {1, 3, 6, 1, 3, 8, 2, 8, 2}},
    {"Kvqm31x256",
     {"--sim", "kvqm31x", "--format", "256", "--blocks", "3"},
     544,
     {{0, 768}},
     {1, 3, 6, 6, 6, 1, 3, 4, 4, 4, 8, 2, 8, 2}},
    // Opening probes with a set of 0x40 and a get of 0x41; then one setup and 7-byte reports.
    {"Kvqm42xx2K", {"--sim", "kvqm42xx"}, 296, {{0, 2048}}, {}},
    {"Kvqm42xx256", {"--sim", "kvqm42xx", "--format", "256", "--blocks", "2"}, 78, {{0, 512}}, {}},
    {"Kvqm5372K", {"--sim", "kvqm537", "--format=2k"}, 296, {{0, 2048}}, {}},
};

TEST_P(WriteAndVerify, WritesExactlyTheFramesOfAPassingJobAndVerifies) {
    const WriteCase& param = GetParam();
    std::vector<std::string> arguments = param.options;
    arguments.insert(arguments.end(), {"--trace", Path("write.trace"), "--sim-dump",
                                       Path("dump.bin"), "write", imagePath});
    const ProgramResult written = Run(arguments);
    EXPECT_EQ(written.out, "Write Pass\n");
    EXPECT_EQ(written.exitCode, 0) << written.err;

    const std::vector<TraceLine> trace = ReadTrace("write.trace");
    EXPECT_EQ(static_cast<int>(trace.size()), param.frames);
    for (std::size_t i = 0; i < trace.size(); ++i) {
        EXPECT_TRUE(trace[i].ok) << "frame " << i;
        if (i > 0) {
            EXPECT_GE(trace[i].milliseconds, trace[i - 1].milliseconds) << "frame " << i;
        }
    }
    if (!param.commands31x.empty()) {
        EXPECT_EQ(Commands31x(trace), param.commands31x);
        // Sets and gets alternate: every set is answered before the next one.
        for (std::size_t i = 0; i < trace.size(); ++i) {
            EXPECT_EQ(trace[i].set, i % 2 == 0) << "frame " << i;
        }
        // The first wait of a command is 10 ms: CmdStatus is set at 10 ms, answered at 20 ms.
        ASSERT_GE(trace.size(), 4u);
        EXPECT_DOUBLE_EQ(trace[2].milliseconds, 10.0);
        EXPECT_DOUBLE_EQ(trace[3].milliseconds, 20.0);
    } else {
        ASSERT_GE(trace.size(), 3u);
        EXPECT_TRUE(trace[0].set && trace[0].bytes[0] == 0x40 && trace[0].bytes[1] == 0x0D);
        EXPECT_TRUE(!trace[1].set && trace[1].bytes[0] == 0x41);
        // Write setup at address 0, the length high byte first: 2048 or one 256-byte block.
        const bool whole = param.written.front().second == 2048;
        const std::array<std::uint8_t, 8> setup{0x40, 7, 0, 0, std::uint8_t(whole ? 8 : 1),
                                                0,    0, 0};
        EXPECT_EQ(trace[2].bytes, setup);
        EXPECT_EQ(CountFrames(trace, true, 0x40, 7),
                  whole ? 1 : param.written.front().second / 256);
    }

    const std::vector<std::uint8_t> dump = ReadFile("dump.bin");
    ASSERT_EQ(dump.size(), 2048u);
    for (int address = 0; address < 2048; ++address) {
        bool inside = false;
        for (const auto& [start, end] : param.written) {
            inside = inside || (address >= start && address < end);
        }
        ASSERT_EQ(dump[address], inside ? image[address] : 0xFF) << "address " << address;
    }

    std::vector<std::string> verify = param.options;
    verify.insert(verify.end(), {"--sim-memory", imagePath, "verify", imagePath});
    const ProgramResult passed = Run(verify);
    EXPECT_EQ(passed.out, "Verify Pass\n");
    EXPECT_EQ(passed.exitCode, 0) << passed.err;

    const bool whole = param.written.size() == 1 && param.written.front() == std::pair{0, 2048};
    verify = param.options;
    verify.insert(verify.end(), {"--sim-memory", Path("dump.bin"), "verify", imagePath});
    const ProgramResult partial = Run(verify);
    EXPECT_EQ(partial.out, whole ? "Verify Pass\n" : "Verify Fail\n");
    EXPECT_EQ(partial.exitCode, whole ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(PerFamilyAndFormat, WriteAndVerify, ::testing::ValuesIn(WriteCases),
                         [](const auto& info) { return std::string(info.param.name); });

using VerifyTrace = CliFixture;

TEST_F(VerifyTrace, ReadsEightBlocksOnKvqm31xAndOneSpacedReadOnKvqm42xx) {
    ProgramResult result = Run({"--sim", "kvqm31x", "--sim-memory", imagePath, "--trace",
                                Path("31x.trace"), "verify", imagePath});
    EXPECT_EQ(result.exitCode, 0);
    std::vector<TraceLine> trace = ReadTrace("31x.trace");
    EXPECT_EQ(trace.size(), 4u + 8u * (2u + 43u * 2u) + 4u);
    EXPECT_EQ(Commands31x(trace), (std::vector<int>{1, 3, 4, 4, 4, 4, 4, 4, 4, 4, 8, 2}));

    result = Run({"--sim", "kvqm42xx", "--sim-memory", imagePath, "--trace", Path("42xx.trace"),
                  "verify", imagePath});
    EXPECT_EQ(result.out, "Verify Pass\n");
    trace = ReadTrace("42xx.trace");
    ASSERT_EQ(trace.size(), 2u + 1u + 293u);
    // Data reports are read 500 us apart, which the trace's milliseconds keep.
    EXPECT_DOUBLE_EQ(trace[4].milliseconds - trace[3].milliseconds, 0.5);
    EXPECT_DOUBLE_EQ(trace.back().milliseconds, 292 * 0.5);
}

} // namespace
} // namespace vrax::testing
