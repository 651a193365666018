#include "tests/windows/WineTestSupport.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vrax::wine {
namespace {

struct ProgramResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;
};

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// The command-line program, built static for Windows, run as a station PC would run it, but
// binding the replacement HID libraries beside it: the mice are those the device list names.
class WindowsCommandLine : public ::testing::Test {
protected:
    WindowsCommandLine() {
        for (int address = 0; address < 2048; ++address) {
            image.push_back(static_cast<std::uint8_t>((address * 7 + 3) ^ (address >> 8)));
        }
        imagePath = folder.PathOf("image.bin");
        WriteBytes(imagePath, image);
    }

    void ListDevices(const std::string& lines) {
        const std::string list = folder.PathOf("devices.txt");
        std::ofstream(list) << lines;
        SetEnvironmentVariableA("VRAX_REPLACEMENT_DEVICES", list.c_str());
    }

    ProgramResult Run(const std::string& arguments,
                      const std::string& program = "vrax-bin-writer-cli-replacements.exe",
                      const std::string& workingFolder = "") {
        const std::string outPath = folder.PathOf("out.txt");
        SECURITY_ATTRIBUTES inherited{sizeof(inherited), nullptr, TRUE};
        HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out;
        startup.hStdError = out;
        PROCESS_INFORMATION process{};
        std::string commandLine = "\"" + ProgramFolder() + "\\" + program + "\" " + arguments;
        ProgramResult result;
        if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                           workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup,
                           &process)) {
            WaitForSingleObject(process.hProcess, 120000);
            GetExitCodeProcess(process.hProcess, &result.exitCode);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        CloseHandle(out);
        const std::vector<std::uint8_t> text = ReadBytes(outPath);
        // Standard output is in text mode on Windows: lines end in CR LF.
        for (const std::uint8_t byte : text) {
            if (byte != '\r') {
                result.out.push_back(static_cast<char>(byte));
            }
        }
        return result;
    }

    TemporaryFolder folder;
    std::vector<std::uint8_t> image;
    std::string imagePath;
};

TEST_F(WindowsCommandLine, Kvqm31xWriteJobVerifyAndReadBack) {
    const std::string memory = folder.PathOf("mouse.bin");
    ListDevices("plain 0x1C4F 0x0002 0x0110 0 - " + folder.MakeFile("keyboard-0") + " " +
                folder.MakeFile("keyboard-1") + "\n" + "kvqm31x 0x3C5E 0x0A31 0x0104 8 " + memory +
                " " + folder.MakeFile("mouse") + "\n");

    ProgramResult result = Run("--ic KVQM31X --format 2k write " + imagePath);
    EXPECT_EQ(result.out, "Write Pass\n");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(ReadBytes(memory), image);

    result = Run("--ic KVQM31X verify " + imagePath);
    EXPECT_EQ(result.out, "Verify Pass\n");
    EXPECT_EQ(result.exitCode, 0u);

    result = Run("--ic KVQM31X read " + folder.PathOf("back.bin"));
    EXPECT_EQ(result.out, "Save Pass\n");
    EXPECT_EQ(ReadBytes(folder.PathOf("back.bin")), image);
}

TEST_F(WindowsCommandLine, Kvqm42xxWriteJobVerifyAndReadBack) {
    const std::string memory = folder.PathOf("mouse.bin");
    ListDevices("kvqm42xx-two-interfaces 0x3C5E 0x0A42 0x0100 8 " + memory + " " +
                folder.MakeFile("mouse-0") + " " + folder.MakeFile("mouse-1") + "\n");

    ProgramResult result = Run("--ic KVQM42xx list");
    EXPECT_NE(result.out.find("Mouse Ready"), std::string::npos) << result.out;

    result = Run("--ic KVQM42xx write " + imagePath);
    EXPECT_EQ(result.out, "Write Pass\n");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(ReadBytes(memory), image);

    result = Run("--ic KVQM42xx verify " + imagePath);
    EXPECT_EQ(result.out, "Verify Pass\n");
    EXPECT_EQ(result.exitCode, 0u);

    result = Run("--ic KVQM42xx read " + folder.PathOf("back.bin"));
    EXPECT_EQ(result.out, "Save Pass\n");
    EXPECT_EQ(ReadBytes(folder.PathOf("back.bin")), image);
}

// Copies of the libraries beside the station's program and in its working folder would
// present the listed mouse; it binds Windows' own, which know no such mouse.
TEST_F(WindowsCommandLine, StationProgramTakesNoLibraryBesideItOrFromTheWorkingFolder) {
    ListDevices("kvqm31x 0x3C5E 0x0A31 0x0104 8 - " + folder.MakeFile("mouse") + "\n");
    ASSERT_TRUE(folder.CopyLibrary("hid.dll", "hid.dll"));
    ASSERT_TRUE(folder.CopyLibrary("setupapi.dll", "setupapi.dll"));
    EXPECT_EQ(Run("list").exitCode, 0u);

    const ProgramResult station = Run("list", "vrax-bin-writer-cli.exe", folder.Path());
    EXPECT_EQ(station.exitCode, 3u) << station.out;
    EXPECT_TRUE(station.out.ends_with("No Find Mouse\n")) << station.out;
}

TEST_F(WindowsCommandLine, NoMouseListedNoMouseFound) {
    ListDevices("plain 0x1C4F 0x0002 0x0110 0 - " + folder.MakeFile("keyboard-0") + "\n");
    const ProgramResult result = Run("--ic KVQM31X verify " + imagePath);
    EXPECT_NE(result.out.find("No Find Mouse"), std::string::npos) << result.out;
    EXPECT_EQ(result.exitCode, 3u);
}

// Windows lists devices beside the mice that no link takes (Wine its own virtual mouse and
// keyboard, first in the walk); a line's --max-mice counts verdicts, not what it looked at.
TEST_F(WindowsCommandLine, ALineLimitedToOneMouseProgramsItPastTheDevicesNoLinkTakes) {
    const std::string memory = folder.PathOf("mouse.bin");
    ListDevices("plain 0x845E 0x0001 0 0 - " + folder.MakeFile("a-virtual-mouse") + "\n" +
                "plain 0x845E 0x0002 0 0 - " + folder.MakeFile("a-virtual-keyboard") + "\n" +
                "kvqm31x 0x3C5E 0x0A31 0x0104 8 " + memory + " " + folder.MakeFile("mouse") + "\n");
    const ProgramResult result =
        Run("--records none --ic KVQM31X --format 2k --max-mice 1 line " + imagePath);
    EXPECT_TRUE(result.out.ends_with("Mice: 1, passed 1, failed 0, yield 100.0 %\n")) << result.out;
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(ReadBytes(memory), image);
}

// Windows names a composite mouse's interfaces apart, instance part and all: the line takes
// them as one mouse by its serial number, not as two that each fail.
TEST_F(WindowsCommandLine, ALineTakesTheInterfacesOfOneMouseAsOneMouse) {
    const std::string memory = folder.PathOf("mouse.bin");
    ListDevices("kvqm42xx-two-interfaces 0x3C5E 0x0A42 0x0100 8 " + memory + " " +
                folder.MakeFile("hid#vid_3c5e&pid_0a42&mi_00#7&1a2b&0&0000") + " " +
                folder.MakeFile("hid#vid_3c5e&pid_0a42&mi_01#7&3c4d&0&0000") + "\n");
    const ProgramResult result =
        Run("--records none --ic KVQM42xx --format 2k --gang 2 --max-mice 1 line " + imagePath);
    EXPECT_TRUE(result.out.ends_with("Mice: 1, passed 1, failed 0, yield 100.0 %\n")) << result.out;
    EXPECT_EQ(ReadBytes(memory), image);
}

// Windows gives each top-level collection an interface of its own with its own lengths: the
// mouse collection's 33-byte report leaves the vendor collection beside it found. Wine 8.0
// keeps a device's collections together (the kernel bench shows that mouse not found there).
TEST_F(WindowsCommandLine, ALongerReportInTheMouseCollectionLeavesTheVendorCollectionFound) {
    const std::string memory = folder.PathOf("mouse.bin");
    ListDevices("plain 0x3C5E 0x0A31 0x0104 33 - " + folder.MakeFile("mouse&col01") + "\n" +
                "kvqm31x 0x3C5E 0x0A31 0x0104 8 " + memory + " " + folder.MakeFile("mouse&col02") +
                "\n");
    ProgramResult result = Run("--records none --ic KVQM31X list");
    EXPECT_NE(result.out.find("&col01  VID 3C5E  PID 0A31  release 0104  feature report 33\n"),
              std::string::npos)
        << result.out;
    EXPECT_TRUE(result.out.ends_with("feature report 8\nMouse Ready\n")) << result.out;
    result = Run("--records none --ic KVQM31X --format 2k write " + imagePath);
    EXPECT_EQ(result.out, "Write Pass\n");
    EXPECT_EQ(ReadBytes(memory), image);
}

} // namespace
} // namespace vrax::wine
