#include "CliFixture.h"

#include <regex>

namespace vrax::testing {
namespace {

using Records = CliFixture;

TEST_F(Records, FactoryRecordIsStampedAndReadBackAsTheWindowShowsIt) {
    ProgramResult result =
        Run({"--sim", "kvqm31x", "--factory", "1234,0x20240102,00ABCD,3,c,5", "--sim-dump",
             Path("dump.bin"), "--trace", Path("write.trace"), "write", imagePath});
    EXPECT_EQ(result.out, "Write Pass\n");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    // The default custom ranges, the record after them, and the record inside the check.
    EXPECT_EQ(Commands31x(ReadTrace("write.trace")),
              (std::vector<int>{1, 3, 6, 6, 6, 1, 3, 4, 4, 8, 2, 8, 2}));
    const std::vector<std::uint8_t> dump = ReadFile("dump.bin");
    ASSERT_EQ(dump.size(), 2048u);
    EXPECT_EQ(
        std::vector<std::uint8_t>(dump.begin() + 160, dump.begin() + 172),
        (std::vector<std::uint8_t>{0x12, 0x34, 0x20, 0x24, 0x01, 0x02, 0x00, 0xAB, 0xCD, 2, 2, 4}));

    result = Run({"--sim", "kvqm31x", "--sim-memory", Path("dump.bin"), "factory-read"});
    EXPECT_EQ(result.out, "Product: 1234\nDate: 20240102\nSN: ABCD\nFactory: 3\nLine: C\n"
                          "Station: 5\nRead Ok\n");
    EXPECT_EQ(result.exitCode, 0);

    // Twelve 0xFF bytes: a negative date and positions beyond the lists show empty.
    result = Run({"--sim", "kvqm42xx", "factory-read"});
    EXPECT_EQ(result.out,
              "Product: FFFF\nDate: \nSN: FFFFFF\nFactory: \nLine: \nStation: \nRead Ok\n");

    result = Run({"--sim", "kvqm31x:not-ready", "factory-read"});
    EXPECT_EQ(result.out, "Read Fail\n");
    EXPECT_EQ(result.exitCode, 1);
}

TEST_F(Records, ReadWritesTheMouseToTheChosenNameWithBinOnlyWhenMissing) {
    WriteFile("dump.BIN", {});
    for (const char* name : {"dump", "dump.BIN"}) {
        const ProgramResult result =
            Run({"--sim", "kvqm537", "--sim-memory", imagePath, "read", Path(name)});
        EXPECT_EQ(result.out, "Save Pass\n");
        EXPECT_EQ(result.exitCode, 0);
    }
    EXPECT_EQ(ReadFile("dump.bin"), image);
    EXPECT_EQ(ReadFile("dump.BIN"), image);
    EXPECT_FALSE(Exists("dump.BIN.bin"));
}

TEST_F(Records, LogGetsAHeaderOnceAndOneLinePerOperation) {
    const std::string log = Path("production.csv");
    Run({"--sim", "kvqm31x", "--log", log, "--factory", "5,20200527,00002A,1,A,1", "write",
         imagePath});
    Run({"--sim", "kvqm31x:refuse-setup", "--log", log, "--factory", "5,20200527,2B,1,A,1", "write",
         imagePath});
    Run({"--sim", "kvqm31x:chip=36", "--log", log, "--factory", "5,20200527,2C,1,A,1", "write",
         imagePath});
    Run({"--sim", "kvqm537", "--log", log, "--sim-memory", imagePath, "verify", imagePath});
    Run({"--sim", "kvqm31x", "--ic", "kvqm42xx", "--log", log, "read", Path("out.bin")});
    Run({"--sim", "kvqm31x", "--log", log, "write", Path("missing, \"really\".bin")});
    Run({"--sim", "kvqm31x", "--log", log, "list"});

    const std::vector<std::string> lines = ReadLines("production.csv");
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "time,operation,ic_type,serial_number,verdict");
    const std::regex time(R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z,)");
    const std::vector<std::string> rest = {
        "write,KVQM31X,00002A,Write Pass",
        "write,KVQM31X,00002B,Write Fail",
        "write,KVQM31X,,BIN file not match Mouse",
        "verify,KVQM537,,Verify Pass",
        "read,KVQM42xx,,No Find Mouse",
        "write,KVQM31X,,\"Cannot open file \"\"" + Path("missing, \"\"really\"\".bin") + "\"\". ",
    };
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const std::string& line = lines[i + 1];
        EXPECT_TRUE(std::regex_search(line, time)) << line;
        EXPECT_EQ(line.substr(21, rest[i].size()), rest[i]);
    }
    EXPECT_EQ(lines[6].back(), '"');

    const ProgramResult result = Run({"--sim", "kvqm31x", "--log", Path("no/such/log.csv"),
                                      "--sim-dump", Path("dump.bin"), "write", imagePath});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("Cannot open file"), std::string::npos) << result.err;
    // The run stopped before the mouse was plugged in.
    EXPECT_FALSE(Exists("dump.bin"));
}

} // namespace
} // namespace vrax::testing
