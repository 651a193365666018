#include "tests/kernel/KernelBenchFixture.h"
#include "tests/kernel/KernelFigures.h"

#include <sys/stat.h>

namespace vrax::testing {
namespace {

using KernelCliTest = KernelBenchFixture;

TEST_F(KernelCliTest, FindsEachFamilyAndVariantByItsUsbIdentity) {
    for (const IdentityCase& c : IdentityCases()) {
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
            ExpectFactoryReadOfFactory(Cli({"--ic", "KVQM31X", "factory-read"}));
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
    ExpectAPulledMouseFailsAndTheNextWrites("Linux");
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
