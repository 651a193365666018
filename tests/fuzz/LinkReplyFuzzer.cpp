#include "device/Kvqm31xLink.h"
#include "device/Kvqm42xxLink.h"
#include "device/LinkProgress.h"
#include "sim/SimulatedHidBus.h"
#include "sim/VirtualHidDevice.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

// Both links against a device whose every answer comes from the input: delivered or not, and
// the bytes of each report got. Byte 0 picks the link and the operation, bytes 1 to 4 the
// address and length (each 0 to 2048). The links must read and write only within the caller's
// buffers (exactly sized, so the address sanitizer sees any overstep) and wait no longer than
// the protocol allows: per KVQM31X exchange 5 x (10 + 5 x 10) ms, per KVQM42xx chunk 500 us.

namespace {

class ScriptedDevice final : public vrax::VirtualHidDevice {
public:
    ScriptedDevice(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    vrax::HidAttributes Attributes() const override { return {0x3C5E, 0x0A31, 0x0104}; }
    std::uint16_t FeatureReportLength(int) const override { return 8; }
    bool SetFeature(int, const std::uint8_t*, std::size_t) override { return (Next() & 1) != 0; }
    bool GetFeature(int, std::uint8_t* report, std::size_t length) override {
        if ((Next() & 1) == 0) {
            return false;
        }
        for (std::size_t i = 1; i < length; ++i) {
            report[i] = Next();
        }
        return true;
    }

private:
    // Past the end of the input the device keeps answering status 204 with zeros, so every
    // operation ends.
    std::uint8_t Next() const { return at_ < size_ ? data_[at_++] : 0xCD; }

    const std::uint8_t* data_;
    std::size_t size_;
    mutable std::size_t at_ = 0;
};

int Number(const std::uint8_t* bytes) {
    return (bytes[0] | (bytes[1] << 8)) % 2049;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) {
        return 0;
    }
    const std::uint8_t choice = data[0];
    const int address = Number(data + 1);
    const int length = std::min(Number(data + 3), 2048 - address);
    vrax::VirtualClock clock;
    vrax::SimulatedHidBus bus(clock);
    vrax::NoLinkProgress host;
    bus.Plug(std::make_shared<ScriptedDevice>(data + 5, size - 5));

    std::unique_ptr<vrax::MemoryLink> link;
    if ((choice & 1) == 0) {
        auto first = std::make_unique<vrax::Kvqm31xLink>(bus, clock, host);
        first->Open(0x3C5E, 0x0A31, 0x104);
        link = std::move(first);
    } else {
        auto second = std::make_unique<vrax::Kvqm42xxLink>(bus, clock, host);
        second->Open(0x3C5E, 0x0A31);
        link = std::move(second);
    }
    if ((choice & 2) == 0) {
        const int destinationSize = (choice & 4) ? length : std::min(length, 1);
        std::vector<std::uint8_t> destination(static_cast<std::size_t>(std::max(length, 1)), 0x11);
        link->ReadMemory(address, length, destination.data(), destinationSize);
    } else {
        const std::vector<std::uint8_t> source(static_cast<std::size_t>(std::max(length, 1)), 0x5A);
        link->WriteMemory(address, length, source.data());
    }
    const long long exchanges = 1 + length / 6 + 1;
    const long long longest = (choice & 1) == 0 ? exchanges * 300000 : (length / 7 + 1) * 500;
    if (clock.Now().count() > longest) {
        std::abort();
    }
    return 0;
}
