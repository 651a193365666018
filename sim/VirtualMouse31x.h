#pragma once

#include "VirtualMouse.h"

#include <array>
#include <cstdint>

namespace vrax {

// The controller side of the KVQM31X channel: one 8-byte feature report with ID 4. A set
// hands over a command; each get returns the report with the status in byte 7: 0 while the
// command is pending, then 204 when it ran or 1 when it was refused. A command runs at the
// get that first reports it done, so a command the host gave up on has no effect.
class VirtualMouse31x final : public VirtualMouse {
public:
    static constexpr const MouseType& Type = FirstOfFamily(MouseFamily::Kvqm31x);
    static constexpr HidAttributes DefaultAttributes{Type.vendorId, Type.productId,
                                                     Type.releaseNumber};
    static constexpr std::uint8_t ReportId = Type.commandReportId;
    static constexpr std::uint8_t StatusMarker = 0xAA;
    static constexpr std::uint8_t ReadyBit = 0x04;
    static constexpr std::uint8_t DefaultChipCode = 0x35;
    static constexpr std::uint8_t StatusDone = 204;
    static constexpr std::uint8_t StatusRefused = 1;

    VirtualMouse31x() : VirtualMouse(DefaultAttributes) {}

    MouseFamily Family() const override { return MouseFamily::Kvqm31x; }

    bool SetFeature(int interfaceIndex, const std::uint8_t* report, std::size_t length) override;
    bool GetFeature(int interfaceIndex, std::uint8_t* report, std::size_t length) override;

    // Between CmdBegin and CmdEnd.
    bool TransactionOpen() const { return transactionOpen_; }

private:
    using Report = std::array<std::uint8_t, ReportLength>;

    void Run();

    Report request_{};
    bool pending_ = false;
    int busyPollsAnswered_ = 0;
    Report report_{ReportId};
    Transfer transfer_;
    bool transactionOpen_ = false;
};

} // namespace vrax
