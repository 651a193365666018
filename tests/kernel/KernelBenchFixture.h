#pragma once

#include "sim/VirtualMouse.h"
#include "tests/kernel/UsbMouseProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vrax::testing {

inline constexpr HidAttributes Mouse31x{0x3C5E, 0x0A31, 0x0104};
inline constexpr HidAttributes Mouse42xx{0x3C5E, 0x0A42, 0x0100};
inline constexpr HidAttributes Mouse537{0x3C5E, 0x0A42, 0x0537};
inline const std::string Factory = "0005,20261208,0000A7,3,C,2";

// A mouse plugged to be found or passed over by its USB identity, and what `list` answers.
struct IdentityCase {
    const char* family;
    std::vector<std::string> arguments;
    HidAttributes ids;
    int interfaces;
    const char* ic;
    int exitCode;
};
const std::vector<IdentityCase>& IdentityCases();

// A factory read shows the fields that Factory stamped.
void ExpectFactoryReadOfFactory(const ProgramResult& factory);

// The mouse holds the image, but for the factory record's bytes when record is set.
void ExpectImageWithRecord(const VirtualMouse::MemoryImage& memory,
                           const std::vector<std::uint8_t>& image, bool record);

// One mouse's line as the line prints it: node, serial number, verdict, the job's time.
struct LineVerdict {
    std::string path;
    std::string serial;
    std::string text;
    double seconds = 0; // the job, its settle wait included
    double busy = 0;    // when the job began, in seconds after the plug
};

struct GangMouse {
    std::unique_ptr<UsbMouseProcess> process;
    std::vector<std::string> nodes;
    bool pulled = false;
};

// A case of the kernel bench: runs only inside the guest that ./dev kernel-test boots, where
// a USB device controller is there to plug mice into. Each case has a fresh folder and an
// image whose bytes differ from their neighbours and from an erased mouse's 0xFF.
class KernelBenchFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::unique_ptr<UsbMouseProcess> PlugMouse(const std::string& family,
                                               std::vector<std::string> arguments = {},
                                               HidAttributes ids = {0x3C5E, 0x0A31, 0x0104},
                                               int interfaces = 1);
    // Started without waiting for the kernel's nodes (WaitForNodes), for mice plugged together.
    std::unique_ptr<UsbMouseProcess> StartMouse(const std::string& family,
                                                std::vector<std::string> arguments = {},
                                                HidAttributes ids = {0x3C5E, 0x0A31, 0x0104},
                                                int interfaces = 1);
    ProgramResult Cli(std::vector<std::string> arguments);
    // The command-line program left running beside the case, its output in NAME.out.
    std::unique_ptr<BackgroundProgram> StartCli(const std::string& name,
                                                std::vector<std::string> arguments);
    std::string Path(const std::string& name) const { return (folder_ / name).string(); }

    // The command-line program the shared cases run: the Linux one; the Wine cases run the
    // Windows one, which names the case's files by their Windows paths and needs Wine's bus to
    // have seen a mouse first.
    virtual ProgramResult CommandLine(std::vector<std::string> arguments) {
        return Cli(std::move(arguments));
    }
    virtual std::string ProgramPath(const std::string& name) const { return Path(name); }
    virtual bool MouseSeen(HidAttributes, int) { return true; }

    // A mouse of each family pulled out at transfer 150 of a write fails it soon, and the next
    // mouse is written normally. system starts each figure's line.
    void ExpectAPulledMouseFailsAndTheNextWrites(const std::string& system);

    // Mice started together, or apart by the given time, each waited for until the kernel
    // made its nodes. Each mouse is its family's name and the mouse program's arguments.
    std::vector<GangMouse> PlugGang(const std::vector<std::vector<std::string>>& mice,
                                    std::chrono::milliseconds apart = {});
    // The next count verdicts the running line prints, each timed as it shows up; fewer when
    // the line ends or hangs.
    std::vector<LineVerdict> AwaitVerdicts(BackgroundProgram& line, std::size_t count,
                                           std::chrono::steady_clock::time_point plugged);
    // "SYSTEM gang of 4, SUBJECT: one ..., four at once ...: R × one".
    void ReportGang(const std::string& system, const char* subject, const LineVerdict& one,
                    const std::vector<LineVerdict>& four);

    // The memory a fresh mouse of that family ends with when it receives every delivered
    // transfer of the trace, in order.
    VirtualMouse::MemoryImage Replay(const std::string& traceName, MouseFamily family,
                                     bool twoInterfaces = false) const;
    std::vector<std::uint8_t> ReadFile(const std::string& name) const;

    std::vector<std::uint8_t> image;
    std::string imagePath;

private:
    std::filesystem::path folder_;
    int mice_ = 0;
    std::size_t verdictsSeen_ = 0;
};

} // namespace vrax::testing
