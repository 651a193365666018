#include "tests/kernel/KernelBenchFixture.h"

#include "sim/VirtualMouse31x.h"
#include "sim/VirtualMouse42xx.h"
#include "tests/kernel/KernelFigures.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace vrax::testing {

namespace fs = std::filesystem;

const std::vector<IdentityCase>& IdentityCases() {
    static const std::vector<IdentityCase> cases{
        {"kvqm31x", {}, Mouse31x, 1, "KVQM31X", 0},
        // A release number of 0100 is not the KVQM31X, whatever else it shows.
        {"kvqm31x", {}, {0x3C5E, 0x0A31, 0x0100}, 1, "KVQM31X", 3},
        {"kvqm42xx", {}, Mouse42xx, 1, "KVQM42xx", 0},
        {"kvqm537", {"--variant", "two-interfaces"}, Mouse537, 2, "KVQM537", 0},
    };
    return cases;
}

void ExpectFactoryReadOfFactory(const ProgramResult& factory) {
    EXPECT_NE(factory.out.find("Product: 5\nDate: 20261208\nSN: A7\nFactory: 3\n"
                               "Line: C\nStation: 2\nRead Ok"),
              std::string::npos)
        << factory.out;
}

void ExpectImageWithRecord(const VirtualMouse::MemoryImage& memory,
                           const std::vector<std::uint8_t>& image, bool record) {
    for (int i = 0; i < 2048; ++i) {
        if (!record || i < 160 || i >= 172) {
            ASSERT_EQ(memory[i], image[i]) << "address " << i;
        }
    }
}

void KernelBenchFixture::SetUp() {
    if (std::getenv("VRAX_KERNEL_GUEST") == nullptr) {
        GTEST_SKIP() << "runs in the guest kernel that ./dev kernel-test boots";
    }
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = fs::temp_directory_path() /
              (std::string("vrax-kernel-") + test->test_suite_name() + "-" + test->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    for (int i = 0; i < 2048; ++i) {
        image.push_back(static_cast<std::uint8_t>((i * 7 + 3) & 0xFF));
    }
    imagePath = Path("image.bin");
    std::ofstream(imagePath, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), 2048);
}

void KernelBenchFixture::TearDown() {
    std::error_code ignored;
    if (!HasFailure()) {
        fs::remove_all(folder_, ignored);
    }
}

std::unique_ptr<UsbMouseProcess> KernelBenchFixture::PlugMouse(const std::string& family,
                                                               std::vector<std::string> arguments,
                                                               HidAttributes ids, int interfaces) {
    auto mouse = StartMouse(family, std::move(arguments), ids, interfaces);
    EXPECT_TRUE(mouse->WaitForNodes()) << "the kernel made no hidraw node: " << mouse->Output();
    return mouse;
}

std::unique_ptr<UsbMouseProcess> KernelBenchFixture::StartMouse(const std::string& family,
                                                                std::vector<std::string> arguments,
                                                                HidAttributes ids, int interfaces) {
    const fs::path folder = folder_ / ("mouse" + std::to_string(++mice_));
    fs::create_directories(folder);
    char text[32];
    std::snprintf(text, sizeof text, "%04X:%04X:%04X", ids.vendorId, ids.productId,
                  ids.versionNumber);
    arguments.insert(arguments.begin(), {"--family", family, "--ids", text});
    auto mouse = std::make_unique<UsbMouseProcess>(folder, arguments, interfaces);
    EXPECT_TRUE(mouse->Start()) << "vrax-usb-mouse did not start";
    return mouse;
}

namespace {

std::vector<std::string> CliCommand(std::vector<std::string> arguments) {
    // The cases stamp one serial number into mouse after mouse, which records would refuse.
    if (std::find(arguments.begin(), arguments.end(), "--records") == arguments.end()) {
        arguments.insert(arguments.begin(), {"--records", "none"});
    }
    arguments.insert(arguments.begin(), VRAX_CLI_PROGRAM);
    return arguments;
}

} // namespace

ProgramResult KernelBenchFixture::Cli(std::vector<std::string> arguments) {
    return RunProgram(folder_, CliCommand(std::move(arguments)));
}

std::unique_ptr<BackgroundProgram>
KernelBenchFixture::StartCli(const std::string& name, std::vector<std::string> arguments) {
    return std::make_unique<BackgroundProgram>(folder_, name, CliCommand(std::move(arguments)));
}

void KernelBenchFixture::ExpectAPulledMouseFailsAndTheNextWrites(const std::string& system) {
    for (const char* family : {"kvqm31x", "kvqm42xx"}) {
        SCOPED_TRACE(family);
        const bool first = std::string(family) == "kvqm31x";
        const char* ic = first ? "KVQM31X" : "KVQM42xx";
        const HidAttributes ids = first ? Mouse31x : Mouse42xx;
        auto pulled = PlugMouse(family, {"--unplug-at", "150"}, ids);
        ASSERT_TRUE(MouseSeen(ids, 1)) << "the program's system saw no mouse";
        const ProgramResult write =
            CommandLine({"--ic", ic, "--format", "2k", "--trace", ProgramPath("pulled.txt"),
                         "write", ProgramPath("image.bin")});
        EXPECT_EQ(write.exitCode, 1) << write.out << write.err;
        EXPECT_NE(write.out.find("Write Fail"), std::string::npos) << write.out;
        EXPECT_LT(write.seconds, 60) << "the job must end soon after the unplug";
        EXPECT_TRUE(pulled->WaitForExit(std::chrono::seconds(20))) << pulled->Output();
        EXPECT_NE(pulled->Output().find("cable pulled at feature transfer 150"), std::string::npos)
            << pulled->Output();
        EXPECT_TRUE(pulled->NodesGone(std::chrono::seconds(20)));
        ReportFigure(system + ": " + ic + " pulled out at transfer 150 of a 2K Byte write: " +
                     FormatSeconds(write.seconds) + " to Write Fail, " +
                     FormatSeconds(SecondsAfterTheLastDeliveredTransfer(Path("pulled.txt"))) +
                     " of it after the last delivered transfer");

        auto next = PlugMouse(family, {}, ids);
        ASSERT_TRUE(MouseSeen(ids, 1)) << "the program's system saw no mouse";
        const ProgramResult again =
            CommandLine({"--ic", ic, "--format", "2k", "--trace", ProgramPath("trace.txt"), "write",
                         ProgramPath("image.bin")});
        EXPECT_NE(again.out.find("Write Pass"), std::string::npos) << again.out << again.err;
        ASSERT_TRUE(next->Unplug());
        const auto memory = next->Dump();
        EXPECT_EQ(memory,
                  Replay("trace.txt", first ? MouseFamily::Kvqm31x : MouseFamily::Kvqm42xx));
        ExpectImageWithRecord(memory, image, false);
    }
}

std::vector<std::uint8_t> KernelBenchFixture::ReadFile(const std::string& name) const {
    std::ifstream file(folder_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

VirtualMouse::MemoryImage KernelBenchFixture::Replay(const std::string& traceName,
                                                     MouseFamily family, bool twoInterfaces) const {
    std::unique_ptr<VirtualMouse> mouse;
    if (family == MouseFamily::Kvqm31x) {
        mouse = std::make_unique<VirtualMouse31x>();
    } else {
        mouse = std::make_unique<VirtualMouse42xx>(twoInterfaces
                                                       ? VirtualMouse42xx::Layout::TwoInterfaces
                                                       : VirtualMouse42xx::Layout::OneInterface);
    }
    std::ifstream trace(folder_ / traceName);
    for (std::string line; std::getline(trace, line);) {
        std::istringstream fields(line);
        double milliseconds = 0;
        std::string direction, verdict;
        std::uint8_t report[8];
        fields >> milliseconds >> direction;
        for (std::uint8_t& byte : report) {
            unsigned value = 0;
            fields >> std::hex >> value;
            byte = static_cast<std::uint8_t>(value);
        }
        fields >> verdict;
        if (verdict != "ok") {
            continue;
        }
        const int interfaceIndex = twoInterfaces && report[0] == 0x41 ? 1 : 0;
        if (direction == "set") {
            mouse->SetFeature(interfaceIndex, report, 8);
        } else {
            mouse->GetFeature(interfaceIndex, report, 8);
        }
    }
    return mouse->Memory();
}

} // namespace vrax::testing
