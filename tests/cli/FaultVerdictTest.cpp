#include "CliFixture.h"

namespace vrax::testing {
namespace {

struct FaultCase {
    const char* name;
    std::string sim;     // the --sim argument
    const char* command; // write, verify or read
    std::vector<std::string> options;
    std::string out;
    int exitCode;
};

class FaultVerdict : public CliFixture, public ::testing::WithParamInterface<FaultCase> {};

const std::string NoAnswer = "No verdict: the mouse did not answer\n";

// Verify and read start from a mouse that already holds the image.
const FaultCase FaultCases[] = {
    {"Silent", "kvqm31x:silent", "write", {}, NoAnswer, 1},
    {"NotReady", "kvqm31x:not-ready", "write", {}, "BIN file not match Mouse\n", 1},
    {"Unmarked",
     "kvqm31x:unmarked",
     "write",
     {},
     "No verdict: the mouse's status reply is unmarked (byte 1 is not AA)\n",
     1},
    {"UnknownChip", "kvqm31x:chip=36", "write", {}, "BIN file not match Mouse\n", 1},
    {"OtherKnownChip", "kvqm31x:chip=FD", "write", {}, "Write Pass\n", 0},
    {"BusyWithinPolls", "kvqm31x:busy=4", "write", {}, "Write Pass\n", 0},
    {"BusyBeyondPolls", "kvqm31x:busy=5", "write", {}, NoAnswer, 1},
    {"RefuseSetup", "kvqm31x:refuse-setup", "write", {}, "Write Fail\n", 1},
    {"RefuseWriteChunk", "kvqm31x:refuse-write-chunk=42", "write", {}, "Write Fail\n", 1},
    {"RefuseReadChunk", "kvqm31x:refuse-read-chunk=0", "write", {}, "Write Fail\n", 1},
    {"CorruptInCheckedRange", "kvqm31x:corrupt=1300", "write", {}, "Write Fail\n", 1},
    {"CorruptOutsideRanges", "kvqm31x:corrupt=600", "write", {}, "Write Pass\n", 0},
    {"CorruptUncheckedBy2K", "kvqm31x:corrupt=5", "write", {"--format", "2k"}, "Write Pass\n", 0},
    {"CorruptInFactoryRecord", "kvqm31x:corrupt=0xA5", "verify", {}, "Verify Pass\n", 0},
    {"CorruptBeforeRecord", "kvqm31x:corrupt=159", "verify", {}, "Verify Fail\n", 1},
    {"CorruptAfterRecord", "kvqm31x:corrupt=172", "verify", {}, "Verify Fail\n", 1},
    {"VerifySilent", "kvqm31x:silent", "verify", {}, NoAnswer, 1},
    {"VerifyNotReady", "kvqm31x:not-ready", "verify", {}, "BIN file not match Mouse\n", 1},
    {"SaveSilent", "kvqm31x:silent", "read", {}, "Save Fail\n", 1},
    {"SaveReadChunkRefused", "kvqm31x:refuse-read-chunk=7", "read", {}, "Save Fail\n", 1},
    {"SecondSilent", "kvqm42xx:silent", "write", {}, "Write Fail\n", 1},
    {"RefuseProbe", "kvqm42xx:refuse-probe", "write", {}, "Write Fail\n", 1},
    {"NoData", "kvqm537:no-data", "write", {}, "Write Fail\n", 1},
    {"DropData", "kvqm42xx:drop-data=100", "write", {}, "Write Fail\n", 1},
    {"SecondRefuseSetup", "kvqm537:refuse-setup", "write", {}, "Write Fail\n", 1},
    {"SecondCorruptInRecord", "kvqm42xx:corrupt=160", "verify", {}, "Verify Fail\n", 1},
    {"SecondVerifyDropData", "kvqm42xx:drop-data=0", "verify", {}, "Verify Fail\n", 1},
    {"SecondSaveDropData", "kvqm537:drop-data=3", "read", {}, "Save Fail\n", 1},
};

TEST_P(FaultVerdict, TurnsIntoTheWindowsVerdictAndExitCode) {
    const FaultCase& param = GetParam();
    std::vector<std::string> arguments = param.options;
    arguments.insert(arguments.end(),
                     {"--sim", param.sim, "--sim-memory", imagePath, param.command});
    const bool read = std::string(param.command) == "read";
    arguments.push_back(read ? Path("out") : imagePath);

    const ProgramResult result = Run(arguments);
    EXPECT_EQ(result.out, param.out);
    EXPECT_EQ(result.exitCode, param.exitCode) << result.err;
    if (read) {
        // A read that failed leaves no file for the operator to mistake for the mouse.
        EXPECT_EQ(Exists("out.bin"), param.exitCode == 0);
    }
}

INSTANTIATE_TEST_SUITE_P(EachFault, FaultVerdict, ::testing::ValuesIn(FaultCases),
                         [](const auto& info) { return std::string(info.param.name); });

using NoMouse = CliFixture;

TEST_F(NoMouse, OtherFamilyOrOtherIdsExitWithThree) {
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"--sim", "kvqm31x", "--ic", "KVQM42xx", "write", imagePath},
             {"--sim", "kvqm42xx", "--ic", "kvqm31x", "verify", imagePath},
             {"--sim", "kvqm31x", "--pid", "0A32", "read", Path("out.bin")},
             {"--sim", "kvqm537", "--vid", "0x1234", "factory-read"},
             {"--sim", "kvqm31x", "--ic", "KVQM537", "list"},
         }) {
        const ProgramResult result = Run(arguments);
        EXPECT_EQ(result.exitCode, 3) << arguments.back();
        EXPECT_TRUE(result.out.ends_with("No Find Mouse\n")) << result.out;
    }
    EXPECT_FALSE(Exists("out.bin"));

    const ProgramResult listed = Run({"--sim", "kvqm537", "list"});
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_NE(listed.out.find("VID 3C5E  PID 0A42  release 0100  feature report 8"),
              std::string::npos)
        << listed.out;
    EXPECT_TRUE(listed.out.ends_with("Mouse Ready\n"));
}

TEST_F(NoMouse, ListFindsNoSecondFamilyMouseThatAnsweredNeitherProbe) {
    const ProgramResult silent = Run({"--sim", "kvqm42xx:silent", "list"});
    EXPECT_EQ(silent.exitCode, 1);
    EXPECT_TRUE(silent.out.ends_with("\nNo verdict: the mouse answered neither probe\n"))
        << silent.out;

    // One answered probe is enough to be found.
    const ProgramResult commandOnly = Run({"--sim", "kvqm537:no-data", "list"});
    EXPECT_EQ(commandOnly.exitCode, 0);
    EXPECT_TRUE(commandOnly.out.ends_with("Mouse Ready\n")) << commandOnly.out;
}

} // namespace
} // namespace vrax::testing
