#include "tests/kernel/KernelBenchFixture.h"

#include "sim/VirtualMouse31x.h"
#include "sim/VirtualMouse42xx.h"
#include "tests/kernel/KernelFigures.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

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

namespace {

double SecondsSince(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    for (std::size_t at = 0; at <= line.size();) {
        const std::size_t end = std::min(line.find("  ", at), line.size());
        fields.push_back(line.substr(at, end - at));
        at = end + 2;
    }
    return fields;
}

} // namespace

std::vector<GangMouse>
KernelBenchFixture::PlugGang(const std::vector<std::vector<std::string>>& mice,
                             std::chrono::milliseconds apart) {
    std::vector<GangMouse> gang;
    for (const std::vector<std::string>& arguments : mice) {
        if (!gang.empty() && apart.count() > 0) {
            std::this_thread::sleep_for(apart);
        }
        const bool twoInterfaces =
            std::find(arguments.begin(), arguments.end(), "two-interfaces") != arguments.end();
        const bool kvqm31x = arguments.front() == "kvqm31x";
        GangMouse mouse;
        mouse.process = StartMouse(
            arguments.front(), std::vector<std::string>(arguments.begin() + 1, arguments.end()),
            kvqm31x ? Mouse31x : (twoInterfaces ? Mouse537 : Mouse42xx), twoInterfaces ? 2 : 1);
        mouse.pulled =
            std::find(arguments.begin(), arguments.end(), "--unplug-at") != arguments.end();
        gang.push_back(std::move(mouse));
    }
    for (GangMouse& mouse : gang) {
        EXPECT_TRUE(mouse.process->WaitForNodes()) << mouse.process->Output();
        mouse.nodes = mouse.process->Nodes();
        std::sort(mouse.nodes.begin(), mouse.nodes.end());
    }
    return gang;
}

std::vector<LineVerdict>
KernelBenchFixture::AwaitVerdicts(BackgroundProgram& line, std::size_t count,
                                  std::chrono::steady_clock::time_point plugged) {
    std::vector<LineVerdict> verdicts;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (verdicts.size() < count && std::chrono::steady_clock::now() < deadline) {
        const bool running = line.Running();
        std::istringstream out(line.OutSoFar());
        std::size_t index = 0;
        for (std::string text; std::getline(out, text) && !out.eof();) {
            const std::vector<std::string> fields = Fields(text);
            if (fields.size() < 4 || fields[3].find(" ms") == std::string::npos ||
                index++ < verdictsSeen_ + verdicts.size()) {
                continue;
            }
            LineVerdict verdict{fields[0], fields[1], fields[2], std::stod(fields[3]) / 1000, 0};
            verdict.busy = SecondsSince(plugged) - verdict.seconds;
            verdicts.push_back(verdict);
        }
        if (!running) {
            break;
        }
        line.WaitForOutput(std::chrono::milliseconds(500));
    }
    verdictsSeen_ += verdicts.size();
    EXPECT_EQ(verdicts.size(), count) << "the line hung or ended early:\n" << line.OutSoFar();
    return verdicts;
}

void KernelBenchFixture::ReportGang(const std::string& system, const char* subject,
                                    const LineVerdict& one, const std::vector<LineVerdict>& four) {
    double slowest = 0, firstBusy = 1e9, lastBusy = 0;
    for (const LineVerdict& verdict : four) {
        slowest = std::max(slowest, verdict.seconds);
        firstBusy = std::min(firstBusy, verdict.busy);
        lastBusy = std::max(lastBusy, verdict.busy);
    }
    char text[300];
    std::snprintf(text, sizeof text,
                  "%s gang of 4, %s: one %.2f s, four at once %.2f s at the slowest: "
                  "%.2f × one; the first busy %.2f s after the plugs, all four after %.2f s",
                  system.c_str(), subject, one.seconds, slowest, slowest / one.seconds, firstBusy,
                  lastBusy);
    ReportFigure(text);
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
