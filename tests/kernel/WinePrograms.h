#pragma once

#include "device/HidPlatform.h"
#include "tests/kernel/UsbMouseProcess.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vrax::testing {

// The folder in the guest's own memory where the bench unpacked the zip's programs (Wine
// cannot map a program from the 9p share); empty outside the guest.
std::string WineProgramFolder();
std::string WineProgram(const std::string& name);

// A guest path as a Windows program names it: on Wine's drive Z:, the whole root.
std::string WindowsPath(const std::string& path);

// Runs a Windows program under Wine, its lines without the CR of Windows' text mode.
ProgramResult RunWineProgram(const std::filesystem::path& folder, std::vector<std::string> command,
                             std::chrono::seconds limit = std::chrono::seconds(120));

// The same left running beside the case, its output in folder/NAME.out (with Windows' CRs).
std::unique_ptr<BackgroundProgram> StartWineProgram(const std::filesystem::path& folder,
                                                    const std::string& name,
                                                    std::vector<std::string> command);

// Stops Wine's server with its services and drivers, and starts them afresh as the bench did,
// so that a case begins on a HID bus no earlier case has worn. False when Wine did not boot.
bool RestartWine();

// True once Wine's HID bus holds each of the mouse's hidraw nodes open, so that a program
// started now finds it; false after the timeout.
bool WaitForWineInterfaces(HidAttributes ids, int interfaces,
                           std::chrono::seconds timeout = std::chrono::seconds(30));

} // namespace vrax::testing
