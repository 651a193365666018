#pragma once

#include "sim/VirtualMouse.h"
#include "tests/kernel/UsbMouseProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vrax::testing {

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
    ProgramResult Cli(std::vector<std::string> arguments);
    std::string Path(const std::string& name) const { return (folder_ / name).string(); }

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
};

} // namespace vrax::testing
