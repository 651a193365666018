#include "tests/kernel/KernelBenchFixture.h"
#include "tests/kernel/KernelFigures.h"

#include <sys/stat.h>

namespace vrax::testing {
namespace {

constexpr HidAttributes Mouse31x{0x3C5E, 0x0A31, 0x0104};
constexpr HidAttributes Mouse42xx{0x3C5E, 0x0A42, 0x0100};
const std::string Factory = "0005,20261208,0000A7,3,C,2";

using KernelCliTest = KernelBenchFixture;

void ExpectImageWithRecord(const VirtualMouse::MemoryImage& memory,
                           const std::vector<std::uint8_t>& image, bool record) {
    for (int i = 0; i < 2048; ++i) {
        if (!record || i < 160 || i >= 172) {
            ASSERT_EQ(memory[i], image[i]) << "address " << i;
        }
    }
}

TEST_F(KernelCliTest, FindsEachFamilyAndVariantByItsUsbIdentity) {
    struct Case {
        const char* family;
        std::vector<std::string> arguments;
        HidAttributes ids;
        int interfaces;
        const char* ic;
        int exitCode;
    };
    const Case cases[] = {
        {"kvqm31x", {}, Mouse31x, 1, "KVQM31X", 0},
        // A release number of 0100 is not the KVQM31X, whatever else it shows.
        {"kvqm31x", {}, {0x3C5E, 0x0A31, 0x0100}, 1, "KVQM31X", 3},
        {"kvqm42xx", {}, Mouse42xx, 1, "KVQM42xx", 0},
        {"kvqm537", {"--variant", "two-interfaces"}, {0x3C5E, 0x0A42, 0x0537}, 2, "KVQM537", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.family) + " " + std::to_string(c.ids.versionNumber));
        auto mouse = PlugMouse(c.family, c.arguments, c.ids, c.interfaces);
        const ProgramResult list = Cli({"--ic", c.ic, "list"});
        EXPECT_EQ(list.exitCode, c.exitCode) << list.out << list.err;
        char release[32];
        std::snprintf(release, sizeof release, "release %04X  feature report ",
                      c.ids.versionNumber);
        EXPECT_NE(list.out.find(release), std::string::npos) << list.out;
        EXPECT_NE(list.out.find(c.exitCode == 0 ? "Mouse Ready" : "No Find Mouse"),
                  std::string::npos)
            << list.out;
        EXPECT_TRUE(mouse->Unplug()) << mouse->Output();
    }
}

TEST_F(KernelCliTest, Kvqm31xWritesEachFormatWithTheRecordThenVerifiesAndReadsBack) {
    for (const char* format : {"2k", "256", "custom"}) {
        SCOPED_TRACE(format);
        auto mouse = PlugMouse("kvqm31x");
        const ProgramResult write =
            Cli({"--ic", "KVQM31X", "--format", format, "--factory", Factory, "--trace",
                 Path("trace.txt"), "write", imagePath});
        EXPECT_EQ(write.exitCode, 0) << write.out << write.err;
        EXPECT_NE(write.out.find("Write Pass"), std::string::npos) << write.out;
        if (std::string(format) == "2k") {
            ReportFigure("Linux: KVQM31X write, 2K Byte: " + TransferFigure(Path("trace.txt")));
            const ProgramResult verify = Cli({"--ic", "KVQM31X", "verify", imagePath});
            EXPECT_NE(verify.out.find("Verify Pass"), std::string::npos) << verify.out;
            const ProgramResult read = Cli({"--ic", "KVQM31X", "read", Path("back.bin")});
            EXPECT_NE(read.out.find("Save Pass"), std::string::npos) << read.out;
            const ProgramResult factory = Cli({"--ic", "KVQM31X", "factory-read"});
            EXPECT_NE(factory.out.find("Product: 5\nDate: 20261208\nSN: A7\nFactory: 3\n"
                                       "Line: C\nStation: 2\nRead Ok"),
                      std::string::npos)
                << factory.out;
        }
        ASSERT_TRUE(mouse->Unplug()) << mouse->Output();
        const auto memory = mouse->Dump();
        EXPECT_EQ(memory, Replay("trace.txt", MouseFamily::Kvqm31x));
        if (std::string(format) == "2k") {
            ExpectImageWithRecord(memory, image, true);
            const auto back = ReadFile("back.bin");
            EXPECT_TRUE(std::equal(memory.begin(), memory.end(), back.begin(), back.end()));
        } else {
            // 256-byte blocks write all eight; the default ranges only their bytes.
            for (int i : {0, 255, 1280, 1535}) {
                EXPECT_EQ(memory[i], image[i]) << i;
            }
        }
    }
}

TEST_F(KernelCliTest, Kvqm42xxWritesEachFormatOnOneAndOnTwoInterfacesThenVerifiesAndReadsBack) {
    struct Case {
        const char* format;
        bool twoInterfaces;
    };
    for (const Case c : {Case{"2k", false}, Case{"256", false}, Case{"2k", true}}) {
        SCOPED_TRACE(std::string(c.format) + (c.twoInterfaces ? " two interfaces" : ""));
        std::vector<std::string> variant;
        if (c.twoInterfaces) {
            variant = {"--variant", "two-interfaces"};
        }
        auto mouse = PlugMouse("kvqm42xx", variant, Mouse42xx, c.twoInterfaces ? 2 : 1);
        const ProgramResult write = Cli({"--ic", "KVQM42xx", "--format", c.format, "--trace",
                                         Path("trace.txt"), "write", imagePath});
        EXPECT_EQ(write.exitCode, 0) << write.out << write.err;
        EXPECT_NE(write.out.find("Write Pass"), std::string::npos) << write.out;
        if (std::string(c.format) == "2k" && !c.twoInterfaces) {
            ReportFigure("Linux: KVQM42xx write, 2K Byte: " + TransferFigure(Path("trace.txt")));
        }
        const ProgramResult verify = Cli({"--ic", "KVQM42xx", "verify", imagePath});
        EXPECT_NE(verify.out.find("Verify Pass"), std::string::npos) << verify.out;
        const ProgramResult read = Cli({"--ic", "KVQM42xx", "read", Path("back.bin")});
        EXPECT_NE(read.out.find("Save Pass"), std::string::npos) << read.out;
        ASSERT_TRUE(mouse->Unplug()) << mouse->Output();
        const auto memory = mouse->Dump();
        EXPECT_EQ(memory, Replay("trace.txt", MouseFamily::Kvqm42xx, c.twoInterfaces));
        ExpectImageWithRecord(memory, image, false);
        const auto back = ReadFile("back.bin");
        EXPECT_TRUE(std::equal(memory.begin(), memory.end(), back.begin(), back.end()));
    }
}

TEST_F(KernelCliTest, AMouseUnpluggedMidWriteFailsWithoutHangAndTheNextMouseProgramsNormally) {
    for (const char* family : {"kvqm31x", "kvqm42xx"}) {
        SCOPED_TRACE(family);
        const bool first = std::string(family) == "kvqm31x";
        const char* ic = first ? "KVQM31X" : "KVQM42xx";
        const HidAttributes ids = first ? Mouse31x : Mouse42xx;
        auto pulled = PlugMouse(family, {"--unplug-at", "150"}, ids);
        const ProgramResult write =
            Cli({"--ic", ic, "--format", "2k", "--trace", Path("pulled.txt"), "write", imagePath});
        EXPECT_EQ(write.exitCode, 1) << write.out << write.err;
        EXPECT_NE(write.out.find("Write Fail"), std::string::npos) << write.out;
        EXPECT_LT(write.seconds, 60) << "the job must end soon after the unplug";
        EXPECT_TRUE(pulled->WaitForExit(std::chrono::seconds(20))) << pulled->Output();
        EXPECT_NE(pulled->Output().find("cable pulled at feature transfer 150"), std::string::npos)
            << pulled->Output();
        EXPECT_TRUE(pulled->NodesGone(std::chrono::seconds(20)));
        ReportFigure(std::string("Linux: ") + ic +
                     " pulled out at transfer 150 of a 2K Byte write: " +
                     FormatSeconds(write.seconds) + " to Write Fail, " +
                     FormatSeconds(SecondsAfterTheLastDeliveredTransfer(Path("pulled.txt"))) +
                     " of it after the last delivered transfer");

        auto next = PlugMouse(family, {}, ids);
        const ProgramResult again = Cli({"--ic", ic, "--format", "2k", "write", imagePath});
        EXPECT_NE(again.out.find("Write Pass"), std::string::npos) << again.out << again.err;
        ASSERT_TRUE(next->Unplug());
        ExpectImageWithRecord(next->Dump(), image, false);
    }
}

// Windows gives each top-level collection its own length; a 32-byte report in the mouse's
// own collection must not hide the 8-byte vendor collection that follows it.
TEST_F(KernelCliTest, ALongerReportInTheMouseCollectionLeavesTheVendorCollectionFound) {
    auto mouse = PlugMouse("kvqm31x", {"--variant", "long-report"});
    const ProgramResult list = Cli({"--ic", "KVQM31X", "list"});
    EXPECT_EQ(list.exitCode, 0) << list.out << list.err;
    EXPECT_NE(list.out.find("release 0104  feature report 33/8"), std::string::npos) << list.out;
    const ProgramResult write = Cli(
        {"--ic", "KVQM31X", "--format", "2k", "--trace", Path("trace.txt"), "write", imagePath});
    EXPECT_NE(write.out.find("Write Pass"), std::string::npos) << write.out << write.err;
    ASSERT_TRUE(mouse->Unplug()) << mouse->Output();
    const auto memory = mouse->Dump();
    EXPECT_EQ(memory, Replay("trace.txt", MouseFamily::Kvqm31x));
    ExpectImageWithRecord(memory, image, false);
}

TEST_F(KernelCliTest, AnOrdinaryUserDeniedTheNodeIsToldHowToLetTheStationOpenIt) {
    auto mouse = PlugMouse("kvqm31x");
    for (const std::string& node : HidrawNodes(Mouse31x.vendorId, Mouse31x.productId)) {
        ASSERT_EQ(chmod(node.c_str(), 0600), 0);
    }
    const ProgramResult list = Cli({"--ic", "KVQM31X", "list"});
    EXPECT_EQ(list.exitCode, 0) << "root opens it";
    const ProgramResult denied =
        RunProgram(Path(""), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                              VRAX_CLI_PROGRAM, "--ic", "KVQM31X", "list"});
    EXPECT_EQ(denied.exitCode, 3) << denied.out << denied.err;
    EXPECT_NE(denied.out.find("No Find Mouse"), std::string::npos) << denied.out;
    EXPECT_NE((denied.out + denied.err).find("permission denied on /dev/hidraw*"),
              std::string::npos)
        << denied.out << denied.err;
    EXPECT_TRUE(mouse->Unplug());
}

} // namespace
} // namespace vrax::testing
