#include "CliFixture.h"

#include "sim/MouseFaults.h"

namespace vrax::testing {
namespace {

struct BadInputCase {
    const char* name;
    std::vector<std::string> arguments;
    std::string message; // found on standard error
};

class BadInput : public CliFixture, public ::testing::WithParamInterface<BadInputCase> {};

const BadInputCase BadInputCases[] = {
    {"UnknownOption",
     {"--sim", "kvqm31x", "--bogus", "write", "x.bin"},
     "unknown option '--bogus'"},
    {"NoCommand", {"--sim", "kvqm31x"}, "no command given"},
    {"UnknownCommand", {"erase"}, "unknown command 'erase'"},
    {"WriteWithoutImage", {"--sim", "kvqm31x", "write"}, "write needs IMAGE.bin"},
    {"ExtraArgument", {"list", "more"}, "unexpected argument 'more'"},
    {"OptionWithoutValue", {"write", "x.bin", "--retry"}, "option --retry needs a value"},
    {"FlagWithValue", {"--sim", "kvqm31x", "--real-time=1", "list"}, "takes no value"},
    {"UnknownIcType", {"--ic", "KVQM99", "list"}, "--ic: unknown IC type 'KVQM99'"},
    {"VidNotHex", {"--vid", "3G5E", "list"}, "--vid: '3G5E' is not a hexadecimal number"},
    {"PidTooLong", {"--pid", "10A31", "list"}, "--pid: '10A31'"},
    {"UnknownFormat", {"--format", "1k", "write", "x.bin"}, "--format: unknown data format '1k'"},
    {"CustomOnSecondFamily",
     {"--ic", "KVQM42xx", "--format", "custom", "write", "x.bin"},
     "only the KVQM31X family offers the Custom format"},
    {"RetryNotDecimal", {"--retry", "3a", "write", "x.bin"}, "--retry: '3a' is not a decimal"},
    {"RetryNegative", {"--retry", "-1", "write", "x.bin"}, "--retry: '-1'"},
    {"SleepTooLong", {"--sleep", "1000", "write", "x.bin"}, "--sleep: '1000'"},
    {"RangeLetters",
     {"--ranges", "abc-def;", "write", "x.bin"},
     "--ranges: 'abc' is not a valid integer value"},
    {"RangeTail",
     {"--ranges", "000-256;1000-5;", "write", "x.bin"},
     "--ranges: '00-5' is not a valid integer value"},
    {"RangeWithoutDash",
     {"--ranges", "256;", "write", "x.bin"},
     "--ranges: '' is not a valid integer value"},
    {"RangePastImage", {"--ranges", "1024-4096;", "write", "x.bin"}, "1024-4096;"},
    {"RangeEmpty", {"--ranges", "0300-0200;", "write", "x.bin"}, "0300-0200;"},
    {"FactoryFieldCount", {"--factory", "5,20200527,1,1,A", "write", "x.bin"}, "six fields"},
    {"FactoryLine",
     {"--factory", "5,20200527,1,1,9,1", "write", "x.bin"},
     "LINE '9' is not one of A..Z"},
    {"FactoryStation",
     {"--factory", "5,20200527,1,1,A,9", "write", "x.bin"},
     "STATION '9' is not one of 1..8"},
    {"FactorySerialTooLong",
     {"--factory", "5,20200527,1000000,1,A,1", "write", "x.bin"},
     "--factory SN: '1000000'"},
    {"FactoryOnSecondFamily",
     {"--ic", "KVQM537", "--factory", "5,20200527,1,1,A,1", "write", "x.bin"},
     "writes no factory record"},
    {"UnknownFamily", {"--sim", "kvqm99", "list"}, "--sim: unknown mouse family 'kvqm99'"},
    {"UnknownFault", {"--sim", "kvqm31x:melt", "list"}, "unknown fault 'melt'"},
    {"FaultOfOtherFamily", {"--sim", "kvqm31x:drop-data=1", "list"}, "does not apply"},
    {"FaultWithoutValue", {"--sim", "kvqm42xx:drop-data", "list"}, "needs a value"},
    {"SimMemoryWithoutSim", {"--sim-memory", "m.bin", "list"}, "--sim-memory needs --sim"},
    {"JsonForTheJigProtocol",
     {"--json", "serve", "--remote", "tcp:127.0.0.1:0"},
     "--json belongs to the write"},
};

TEST_P(BadInput, ExitsWithTwoAndNamesWhatWasWrong) {
    const ProgramResult result = Run(GetParam().arguments);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("--help"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Arguments, BadInput, ::testing::ValuesIn(BadInputCases),
                         [](const auto& info) { return std::string(info.param.name); });

using BadFiles = CliFixture;

TEST_F(BadFiles, AreRefusedBeforeTheMouseIsTouched) {
    for (const std::size_t size : {0u, 2047u, 2049u}) {
        WriteFile("odd.bin", std::vector<std::uint8_t>(size, 0x11));
        const ProgramResult result =
            Run({"--sim", "kvqm31x", "--trace", Path("odd.trace"), "--sim-dump", Path("dump.bin"),
                 "write", Path("odd.bin")});
        EXPECT_EQ(result.out, "BIN file not match IC Type\n") << size;
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_TRUE(ReadTrace("odd.trace").empty());
        EXPECT_EQ(ReadFile("dump.bin"), std::vector<std::uint8_t>(2048, 0xFF));
    }

    ProgramResult result = Run({"--sim", "kvqm42xx", "verify", Path("missing.bin")});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("Cannot open file \"" + Path("missing.bin") + "\". ", 0), 0u)
        << result.err;

    result = Run({"--sim", "kvqm31x", "verify", Path("")});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("Cannot open file"), std::string::npos) << result.err;

    WriteFile("small.bin", std::vector<std::uint8_t>(100, 0));
    result = Run({"--sim", "kvqm31x", "--sim-memory", Path("small.bin"), "list"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("holds 100 bytes, not 2048"), std::string::npos) << result.err;

    result = Run({"--sim", "kvqm31x", "--sim-memory", imagePath, "read", Path("no/such/out")});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.err.rfind("Cannot create file \"" + Path("no/such/out.bin") + "\". ", 0), 0u)
        << result.err;

    result = Run({"--sim", "kvqm31x", "--trace", Path("no/such/trace"), "list"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("Cannot create file"), std::string::npos) << result.err;
}

using Help = CliFixture;

TEST_F(Help, DocumentsEveryOptionFaultAndExitCode) {
    const ProgramResult result = Run({"write", "--help", "--bogus"});
    EXPECT_EQ(result.exitCode, 0);
    for (const char* text :
         {"list",         "write IMAGE",   "verify IMAGE", "read OUT",
          "factory-read", "--ic ",         "--vid ",       "--pid ",
          "--format ",    "--blocks ",     "--ranges ",    "--total ",
          "--retry ",     "--sleep ",      "--factory ",   "--sim ",
          "--real-time",  "--sim-memory ", "--sim-dump ",  "--trace ",
          "--log ",       "--help",        "Exit codes",   "  3  no matching mouse found"}) {
        EXPECT_NE(result.out.find(text), std::string::npos) << text;
    }
    for (const MouseFaultName& fault : MouseFaultNames()) {
        const std::string name = "  " + std::string(fault.name) +
                                 (*fault.argument ? std::string("=") + fault.argument : "");
        EXPECT_NE(result.out.find(name), std::string::npos) << name;
    }
}

} // namespace
} // namespace vrax::testing
