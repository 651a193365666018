#include "tests/kernel/KernelBenchFixture.h"
#include "tests/kernel/KernelFigures.h"
#include "tests/kernel/WinePrograms.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

namespace vrax::testing {
namespace {

// The Windows programs as they ship in the zip, under Wine inside the guest, with Wine's own
// hid.dll, setupapi.dll, hidclass.sys and winebus.sys: every report ends in a hidraw ioctl
// on the mouse that the guest kernel enumerated.
class WineOnKernelTest : public KernelBenchFixture {
protected:
    void SetUp() override {
        KernelBenchFixture::SetUp();
        if (!IsSkipped()) {
            ASSERT_FALSE(WineProgramFolder().empty()) << "the bench unpacks the zip's programs";
        }
    }

    ProgramResult Wine(std::vector<std::string> arguments) {
        // SQLite cannot keep a journal in the prefix, which is on the guest's 9p share.
        if (std::find(arguments.begin(), arguments.end(), "--records") == arguments.end()) {
            arguments.insert(arguments.begin(), {"--records", "none"});
        }
        arguments.insert(arguments.begin(), WineProgram("vrax-bin-writer-cli.exe"));
        return RunWineProgram(Path(""), arguments);
    }
    std::string Windows(const std::string& name) const { return WindowsPath(Path(name)); }

    ProgramResult CommandLine(std::vector<std::string> arguments) override {
        return Wine(std::move(arguments));
    }
    std::string ProgramPath(const std::string& name) const override { return Windows(name); }
    bool MouseSeen(HidAttributes ids, int interfaces) override {
        return WaitForWineInterfaces(ids, interfaces);
    }

    void ExpectAGangOfFourWritesEachOnce(bool kvqm31x);
};

int CountLines(const std::string& text, const std::string& part) {
    int count = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        count += line.find(part) != std::string::npos ? 1 : 0;
    }
    return count;
}

TEST_F(WineOnKernelTest, FindsEachFamilyOnItsInterfaceAndIgnoresWinesOwnDevices) {
    for (const IdentityCase& c : IdentityCases()) {
        SCOPED_TRACE(std::string(c.family) + " " + std::to_string(c.ids.versionNumber));
        auto mouse = PlugMouse(c.family, c.arguments, c.ids, c.interfaces);
        ASSERT_TRUE(WaitForWineInterfaces(c.ids, c.interfaces)) << "Wine's bus saw no mouse";
        const ProgramResult list = Wine({"--ic", c.ic, "list"});
        EXPECT_EQ(list.exitCode, c.exitCode) << list.out << list.err;
        // Wine's virtual mouse and keyboard: listed as any foreign device, never taken.
        EXPECT_NE(list.out.find("VID 845E  PID 0001  release 0000  feature report 0"),
                  std::string::npos)
            << list.out;
        EXPECT_NE(list.out.find("VID 845E  PID 0002  release 0000  feature report 0"),
                  std::string::npos)
            << list.out;
        char mouseLine[64];
        std::snprintf(mouseLine, sizeof mouseLine,
                      "VID 3C5E  PID %04X  release %04X  feature report 8", c.ids.productId,
                      c.ids.versionNumber);
        EXPECT_EQ(CountLines(list.out, mouseLine), c.interfaces) << list.out;
        if (c.interfaces == 2) {
            EXPECT_EQ(CountLines(list.out, "&mi_00#"), 1) << list.out;
            EXPECT_EQ(CountLines(list.out, "&mi_01#"), 1) << list.out;
        }
        EXPECT_NE(list.out.find(c.exitCode == 0 ? "Mouse Ready" : "No Find Mouse"),
                  std::string::npos)
            << list.out;
        if (c.interfaces == 2) {
            // The data interface is the second one: its bytes land only if it was taken.
            const ProgramResult write = Wine({"--ic", c.ic, "--format", "2k", "--trace",
                                              Windows("trace.txt"), "write", Windows("image.bin")});
            EXPECT_NE(write.out.find("Write Pass"), std::string::npos) << write.out << write.err;
            ASSERT_TRUE(mouse->Unplug()) << mouse->Output();
            const auto memory = mouse->Dump();
            EXPECT_EQ(memory, Replay("trace.txt", MouseFamily::Kvqm42xx, true));
            ExpectImageWithRecord(memory, image, false);
            continue;
        }
        EXPECT_TRUE(mouse->Unplug()) << mouse->Output();
    }
}

TEST_F(WineOnKernelTest, WritesEachFormatWithTheRecordThenVerifiesReadsAndReadsTheFactoryRecord) {
    struct Case {
        const char* family;
        const char* ic;
        HidAttributes ids;
        const char* format;
    };
    const Case cases[] = {{"kvqm31x", "KVQM31X", Mouse31x, "2k"},
                          {"kvqm31x", "KVQM31X", Mouse31x, "256"},
                          {"kvqm31x", "KVQM31X", Mouse31x, "custom"},
                          {"kvqm42xx", "KVQM42xx", Mouse42xx, "2k"},
                          {"kvqm42xx", "KVQM42xx", Mouse42xx, "256"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.ic) + " " + c.format);
        const bool first = std::string(c.ic) == "KVQM31X";
        const bool whole = std::string(c.format) == "2k";
        auto mouse = PlugMouse(c.family, {}, c.ids);
        ASSERT_TRUE(WaitForWineInterfaces(c.ids, 1)) << "Wine's bus saw no mouse";
        std::vector<std::string> write{"--ic",   c.ic,      "--format",
                                       c.format, "--trace", Windows("trace.txt")};
        if (first) {
            write.insert(write.end(), {"--factory", Factory});
        }
        write.insert(write.end(), {"write", Windows("image.bin")});
        const ProgramResult written = Wine(write);
        EXPECT_EQ(written.exitCode, 0) << written.out << written.err;
        EXPECT_NE(written.out.find("Write Pass"), std::string::npos) << written.out;
        if (whole) {
            ReportFigure(std::string("Wine: ") + c.ic +
                         " write, 2K Byte: " + TransferFigure(Path("trace.txt")));
            const ProgramResult verify = Wine({"--ic", c.ic, "verify", Windows("image.bin")});
            EXPECT_NE(verify.out.find("Verify Pass"), std::string::npos) << verify.out;
            const ProgramResult read = Wine({"--ic", c.ic, "read", Windows("back.bin")});
            EXPECT_NE(read.out.find("Save Pass"), std::string::npos) << read.out;
        }
        if (whole && first) {
            ExpectFactoryReadOfFactory(Wine({"--ic", c.ic, "factory-read"}));
        }
        ASSERT_TRUE(mouse->Unplug()) << mouse->Output();
        const auto memory = mouse->Dump();
        EXPECT_EQ(memory,
                  Replay("trace.txt", first ? MouseFamily::Kvqm31x : MouseFamily::Kvqm42xx));
        if (whole) {
            ExpectImageWithRecord(memory, image, first);
            const auto back = ReadFile("back.bin");
            EXPECT_TRUE(std::equal(memory.begin(), memory.end(), back.begin(), back.end()));
        } else {
            for (int i : {0, 255, 1280, 1535}) {
                EXPECT_EQ(memory[i], image[i]) << i;
            }
        }
    }

    // One byte different from the image: the verify reads it through Wine and says so.
    std::vector<std::uint8_t> changed = image;
    changed[1000] ^= 0x5A;
    std::ofstream(Path("changed.bin"), std::ios::binary)
        .write(reinterpret_cast<const char*>(changed.data()), 2048);
    auto mouse = PlugMouse("kvqm42xx", {"--memory", Path("changed.bin")}, Mouse42xx);
    ASSERT_TRUE(WaitForWineInterfaces(Mouse42xx, 1)) << "Wine's bus saw no mouse";
    const ProgramResult verify = Wine({"--ic", "KVQM42xx", "verify", Windows("image.bin")});
    EXPECT_EQ(verify.exitCode, 1) << verify.out << verify.err;
    EXPECT_NE(verify.out.find("Verify Fail"), std::string::npos) << verify.out;
    ASSERT_TRUE(mouse->Unplug()) << mouse->Output();
    const auto memory = mouse->Dump();
    EXPECT_TRUE(std::equal(memory.begin(), memory.end(), changed.begin(), changed.end()));
}

TEST_F(WineOnKernelTest, AMouseUnpluggedMidWriteFailsWithoutHangAndTheNextMouseProgramsNormally) {
    ExpectAPulledMouseFailsAndTheNextWrites("Wine");
}

// Wine 8.0 gives a hidraw node one HID device whatever its top-level collections: the mouse
// collection's 32-byte report is the length of the whole, and the vendor collection behind it
// gets no interface of its own, as Windows would give it. On Windows the mouse is found (the
// replacement libraries' split-collection test shows it); under Wine 8.0 it cannot be.
TEST_F(WineOnKernelTest,
       ALongerReportInTheMouseCollectionIsNotFoundUnderWine8SinceItSplitsNoCollections) {
    auto mouse = PlugMouse("kvqm31x", {"--variant", "long-report"});
    ASSERT_TRUE(WaitForWineInterfaces(Mouse31x, 1)) << "Wine's bus saw no mouse";
    const ProgramResult list = Wine({"--ic", "KVQM31X", "list"});
    EXPECT_EQ(list.exitCode, 3) << list.out << list.err;
    EXPECT_NE(list.out.find("VID 3C5E  PID 0A31  release 0104  feature report 33\n"),
              std::string::npos)
        << list.out;
    EXPECT_NE(list.out.find("No Find Mouse"), std::string::npos) << list.out;
    ASSERT_TRUE(mouse->Unplug()) << mouse->Output();
}

// The line on Windows: started before any mouse, it programs the first one plugged, past
// Wine's own devices, which it sees first and no link takes.
TEST_F(WineOnKernelTest, ALineStartedBeforeItsMouseProgramsItWhenItIsPlugged) {
    ProgramResult line;
    std::thread running([&] {
        line = Wine({"--records", Windows("records.sqlite"), "--ic", "KVQM31X", "--format", "2k",
                     "--factory", Factory, "--max-mice", "1", "line", Windows("image.bin")});
    });
    // The records open before the line first looks for mice.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (!std::filesystem::exists(Path("records.sqlite")) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::this_thread::sleep_for(std::chrono::seconds(3));
    auto mouse = PlugMouse("kvqm31x", {}, Mouse31x);
    running.join();
    EXPECT_EQ(line.exitCode, 0) << line.out << line.err;
    EXPECT_NE(line.out.find("  0000A7  Write Pass  "), std::string::npos) << line.out;
    EXPECT_NE(line.out.find("Mice: 1, passed 1, failed 0, yield 100.0 %"), std::string::npos)
        << line.out;
    ASSERT_TRUE(mouse->Unplug()) << mouse->Output();
    ExpectImageWithRecord(mouse->Dump(), image, true);
    EXPECT_EQ(mouse->Dump()[168], 0xA7);
}

// The line on Windows with a gang of four, its threads sharing one HID platform, over Wine's
// own HID stack: one mouse alone, then four plugged at the same moment (the KVQM42xx line with
// a two-interface KVQM537 among them), each written once, the KVQM31X ones each with a serial
// number of its own from the records.
void WineOnKernelTest::ExpectAGangOfFourWritesEachOnce(bool kvqm31x) {
    // A gang after a gang found Wine's HID bus missing its first plug: each starts afresh.
    ASSERT_TRUE(RestartWine());
    const std::string ic = kvqm31x ? "KVQM31X" : "KVQM42xx";
    std::vector<std::string> command{WineProgram("vrax-bin-writer-cli.exe"),
                                     "--records",
                                     Windows(ic + ".sqlite"),
                                     "--ic",
                                     ic,
                                     "--format",
                                     "2k",
                                     "--gang",
                                     "4",
                                     "--max-mice",
                                     "5"};
    if (kvqm31x) {
        command.insert(command.end(), {"--factory", Factory, "--serial", "next"});
    }
    command.insert(command.end(), {"line", Windows("image.bin")});
    auto line = StartWineProgram(Path(""), "line-" + ic, command);
    const std::vector<std::string> mouse{kvqm31x ? "kvqm31x" : "kvqm42xx"};
    const std::vector<std::string> kvqm537{"kvqm537", "--variant", "two-interfaces"};
    std::set<std::string> stamped;
    // The mouse's memory holds the image, and its record when stamped; each serial number
    // stamped once.
    const auto expectWritten = [&](UsbMouseProcess& written) {
        const auto memory = written.Dump();
        ExpectImageWithRecord(memory, image, kvqm31x);
        char serial[8];
        std::snprintf(serial, sizeof serial, "%02X%02X%02X", memory[166], memory[167], memory[168]);
        EXPECT_TRUE(!kvqm31x || stamped.insert(serial).second) << serial;
    };
    auto alone = PlugGang({mouse});
    const std::vector<LineVerdict> one = AwaitVerdicts(*line, 1, std::chrono::steady_clock::now());
    ASSERT_EQ(one.size(), 1u);
    // Its controller is wanted for the four.
    ASSERT_TRUE(alone.front().process->Unplug()) << alone.front().process->Output();
    expectWritten(*alone.front().process);
    const auto plugged = std::chrono::steady_clock::now();
    auto together = PlugGang({mouse, mouse, kvqm31x ? mouse : kvqm537, mouse});
    const std::vector<LineVerdict> four = AwaitVerdicts(*line, 4, plugged);
    ASSERT_EQ(four.size(), 4u);
    ReportGang("Wine",
               kvqm31x ? "KVQM31X 2K Byte write with the factory record"
                       : "KVQM42xx 2K Byte write, a KVQM537 among them",
               one.front(), four);
    std::set<std::string> paths, serials{one.front().serial};
    for (const LineVerdict& verdict : four) {
        EXPECT_EQ(verdict.text, "Write Pass") << verdict.path;
        paths.insert(verdict.path);
        serials.insert(verdict.serial);
    }
    EXPECT_EQ(paths.size(), 4u) << "a mouse written twice";
    for (GangMouse& written : together) {
        ASSERT_TRUE(written.process->Unplug()) << written.process->Output();
        expectWritten(*written.process);
    }
    const ProgramResult ended = line->Finish(std::chrono::seconds(60));
    EXPECT_EQ(ended.exitCode, 0) << ended.out << ended.err;
    EXPECT_NE(ended.out.find("Mice: 5, passed 5, failed 0"), std::string::npos) << ended.out;
    if (kvqm31x) {
        EXPECT_EQ(stamped,
                  (std::set<std::string>{"0000A7", "0000A8", "0000A9", "0000AA", "0000AB"}));
        EXPECT_EQ(serials, stamped) << "each mouse holds the serial number the line named";
    }
}

TEST_F(WineOnKernelTest, AGangOfFourKvqm31xWritesMicePluggedTogetherEachOnceWithItsOwnSerial) {
    ExpectAGangOfFourWritesEachOnce(true);
}

TEST_F(WineOnKernelTest, AGangOfFourKvqm42xxWritesMicePluggedTogetherEachOnce) {
    ExpectAGangOfFourWritesEachOnce(false);
}

// The station's program as it runs on a PC (the system's HID libraries, the real clock, the
// instant plug-in on Wine's real WM_DEVICECHANGE), the operator's part played by a probe:
// Auto Write over three mice plugged one after another, each with the next serial number.
TEST_F(WineOnKernelTest, TheStationAutoWritesMicePluggedOneAfterAnotherOnWinesDeviceMessages) {
    // After a gang's many plugs and pulls, Wine's HID bus in the guest has been seen to miss a
    // plug for minutes: the station starts on a fresh one, as a PC's would after a boot.
    ASSERT_TRUE(RestartWine());
    ProgramResult station;
    std::thread running([&] {
        station = RunWineProgram(Path(""),
                                 {WineProgram("vrax-station-kernel-probe.exe"),
                                  Windows("image.bin"), Windows("records.sqlite"), "3"},
                                 std::chrono::seconds(560));
    });
    // A case that stops early still waits for the probe, which ends by its limit at the latest.
    struct Join {
        std::thread& thread;
        ~Join() {
            if (thread.joinable()) {
                thread.join();
            }
        }
    } const join{running};
    struct Seen {
        long long micros;
        std::string what, text;
    };
    const auto seen = [&] {
        std::vector<Seen> lines;
        std::ifstream out(Path("program.out"));
        for (std::string line; std::getline(out, line);) {
            std::istringstream fields(line);
            Seen one;
            fields >> one.micros >> one.what;
            std::getline(fields >> std::ws, one.text);
            if (!one.text.empty() && one.text.back() == '\r') {
                one.text.pop_back();
            }
            lines.push_back(one);
        }
        return lines;
    };
    const auto waitFor = [&](const std::string& what, const std::string& text, int count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(240);
        while (std::chrono::steady_clock::now() < deadline) {
            int found = 0;
            for (const Seen& one : seen()) {
                found += one.what == what && (text.empty() || one.text == text) ? 1 : 0;
            }
            if (found >= count) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    };
    // What the probe said since the case began, its DevTimer ticks counted instead of listed.
    const auto ProbeLines = [](const std::vector<Seen>& lines) {
        std::string said;
        int ticks = 0;
        for (const Seen& one : lines) {
            if (one.what == "tick") {
                ++ticks;
                continue;
            }
            if (ticks > 0) {
                said += "  (" + std::to_string(ticks) + " ticks)\n";
                ticks = 0;
            }
            said +=
                "  " + std::to_string(one.micros / 1000) + " " + one.what + " " + one.text + "\n";
        }
        return said;
    };
    const auto micros = [] {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    EXPECT_TRUE(waitFor("loaded", "", 1)) << "the probe never loaded the image";
    EXPECT_TRUE(waitFor("status", "No Find Mouse", 1));
    // Plugged before the first tick has counted Wine's own devices, the mouse would come in the
    // same rise as they do, and on a slow guest while its interface is still being set up.
    const auto counted = [&] {
        const auto lines = seen();
        return std::any_of(lines.begin(), lines.end(),
                           [](const Seen& one) { return one.what == "count" && one.text != "0"; });
    };
    for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(150);
         !counted() && std::chrono::steady_clock::now() < deadline;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(counted()) << "the station never counted the devices present:\n"
                           << ProbeLines(seen());
    std::string figures;
    int messages = 0; // plugs whose WM_DEVICECHANGE came
    for (int serialNumber = 1; serialNumber <= 3 && !HasFailure(); ++serialNumber) {
        SCOPED_TRACE(serialNumber);
        const long long start = micros();
        auto mouse = PlugMouse("kvqm31x", {}, Mouse31x);
        // The kernel's node is there: the mouse is plugged as far as any system can tell.
        const long long plugged = micros();
        ASSERT_TRUE(waitFor("result", "", serialNumber))
            << "no verdict; Wine's HID bus "
            << (WaitForWineInterfaces(Mouse31x, 1, std::chrono::seconds(0)) ? "holds"
                                                                            : "does not hold")
            << " the mouse's node; the probe said:\n"
            << ProbeLines(seen());
        // On a loaded host DevTimer's walk can find the mouse before Wine's plug-and-play
        // service has broadcast its message, and a loaded Wine may send none at all: the walk
        // is what the station counts on, the message only brings the mouse sooner, and how
        // often it came is a figure.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        const auto messageSeen = [&] {
            const auto lines = seen();
            return std::any_of(lines.begin(), lines.end(), [&](const Seen& one) {
                return one.micros >= start && one.what == "device-message";
            });
        };
        while (!messageSeen() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        long long busy = 0, message = 0, ready = 0;
        int ticks = 0; // DevTimer's own, between the device message and the mouse shown ready
        std::string verdict;
        for (const Seen& one : seen()) {
            if (one.micros < start) {
                continue;
            }
            if (one.what == "busy" && busy == 0) {
                busy = one.micros;
            }
            if (one.what == "device-message" && message == 0) {
                message = one.micros;
            }
            if (one.what == "status" && one.text == "Mouse Ready" && ready == 0) {
                ready = one.micros;
            }
            ticks += one.what == "tick" && message != 0 && ready == 0 ? 1 : 0;
            if (one.what == "result") {
                verdict = one.text;
            }
        }
        EXPECT_EQ(verdict, "Write Pass") << ProbeLines(seen());
        EXPECT_NE(busy, 0) << "the busy window never showed";
        char figure[200];
        if (message != 0) {
            ++messages;
            std::snprintf(figure, sizeof figure,
                          "; %.1f s (device message %.1f s%s, Mouse Ready %.1f s, %d DevTimer "
                          "ticks between)",
                          (busy - plugged) / 1e6, (message - plugged) / 1e6,
                          message > ready ? " after the walk found it" : "",
                          (ready - plugged) / 1e6, ticks);
        } else {
            std::snprintf(figure, sizeof figure, "; %.1f s (no device message, Mouse Ready %.1f s)",
                          (busy - plugged) / 1e6, (ready - plugged) / 1e6);
        }
        figures += figure;
        ASSERT_TRUE(mouse->Unplug()) << mouse->Output();
        EXPECT_TRUE(waitFor("status", "No Find Mouse", serialNumber + 1));
        const auto memory = mouse->Dump();
        ExpectImageWithRecord(memory, image, true);
        EXPECT_EQ((memory[166] << 16) | (memory[167] << 8) | memory[168], serialNumber);
    }
    running.join();
    EXPECT_EQ(station.exitCode, 0) << station.out << station.err;
    ReportFigure("Wine: plug-in to busy window, station Auto Write, 3 KVQM31X mice, a device "
                 "message for " +
                 std::to_string(messages) + " of them" + figures);
}

} // namespace
} // namespace vrax::testing
