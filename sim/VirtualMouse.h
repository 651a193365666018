#pragma once

#include "MouseFaults.h"
#include "VirtualHidDevice.h"

#include <array>
#include <cstdint>

namespace vrax {

// What the mice of both families share: the controller's 2048 bytes, its USB identity and
// the faults it is given. Memory and faults may be read and changed directly at any time.
class VirtualMouse : public VirtualHidDevice {
public:
    static constexpr int MemorySize = 2048;
    using MemoryImage = std::array<std::uint8_t, MemorySize>;

    virtual MouseFamily Family() const = 0;

    MemoryImage& Memory() { return memory_; }
    const MemoryImage& Memory() const { return memory_; }

    MouseFaults& Faults() { return faults_; }
    const MouseFaults& Faults() const { return faults_; }
    void SetFaults(const MouseFaults& faults) { faults_ = faults; }

    HidAttributes Attributes() const override { return attributes_; }
    void SetAttributes(const HidAttributes& attributes) { attributes_ = attributes; }

    std::uint16_t FeatureReportLength(int) const override { return featureReportLength_; }
    // Any length but 8 makes the mouse unfit for the links' match rule.
    void SetFeatureReportLength(std::uint16_t length) { featureReportLength_ = length; }

protected:
    explicit VirtualMouse(const HidAttributes& attributes) : attributes_(attributes) {
        memory_.fill(0xFF);
    }

    static constexpr std::size_t ReportLength = 8;

    // A transfer opened by a setup command and advanced chunk by chunk.
    struct Transfer {
        enum class Kind { None, Read, Write };
        Kind kind = Kind::None;
        int address = 0;
        int remaining = 0;
        int chunk = 0; // chunks delivered so far
    };

    static bool FitsInMemory(int address, int length) {
        return address >= 0 && length >= 0 && address + length <= MemorySize;
    }
    // Memory as a read serves it: the corrupt fault inverts one byte, past the end reads 0xFF.
    std::uint8_t ServedByte(int address) const;
    // Stores up to count bytes of data at the transfer's position and advances it.
    void Store(Transfer& transfer, const std::uint8_t* data, int count);
    // Serves count bytes from the transfer's position into out and advances it.
    void Serve(Transfer& transfer, std::uint8_t* out, int count) const;

    MouseFaults faults_;

private:
    HidAttributes attributes_;
    std::uint16_t featureReportLength_ = ReportLength;
    MemoryImage memory_{};
};

} // namespace vrax
