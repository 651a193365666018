#pragma once

#include "VirtualMouse.h"

#include <cstdint>

namespace vrax {

// The controller side of the KVQM42xx/KVQM537 channel: command report 0x40 (probe 0x0D,
// write setup 7, read setup 9, address and length high byte first) and data report 0x41
// carrying 7 bytes of the open read or write. There is no status: a report counts as done
// when it is delivered. The two reports may live on two interfaces of the device.
class VirtualMouse42xx final : public VirtualMouse {
public:
    static constexpr const MouseType& Type = FirstOfFamily(MouseFamily::Kvqm42xx);
    static constexpr HidAttributes DefaultAttributes{Type.vendorId, Type.productId,
                                                     Type.releaseNumber};
    static constexpr std::uint8_t CommandReportId = Type.commandReportId;
    static constexpr std::uint8_t DataReportId = Type.dataReportId;

    enum class Layout {
        OneInterface,  // interface 0 takes both reports
        TwoInterfaces, // interface 0 takes report 0x40, interface 1 answers report 0x41
    };

    explicit VirtualMouse42xx(Layout layout = Layout::OneInterface)
        : VirtualMouse(DefaultAttributes), layout_(layout) {}

    MouseFamily Family() const override { return MouseFamily::Kvqm42xx; }
    Layout InterfaceLayout() const { return layout_; }
    int InterfaceCount() const override { return layout_ == Layout::OneInterface ? 1 : 2; }

    bool SetFeature(int interfaceIndex, const std::uint8_t* report, std::size_t length) override;
    bool GetFeature(int interfaceIndex, std::uint8_t* report, std::size_t length) override;

private:
    bool TakesCommands(int interfaceIndex) const { return interfaceIndex == 0; }
    bool TakesData(int interfaceIndex) const;
    bool DataReportRefused(bool reading) const;
    bool RunCommand(const std::uint8_t* report);

    Layout layout_;
    Transfer transfer_;
};

} // namespace vrax
