#pragma once

#include "sim/MouseFaults.h"

#include <cstdint>
#include <vector>

namespace vrax {

enum class GadgetVariant {
    Standard,      // one interface: boot mouse plus the family's vendor collection
    TwoInterfaces, // KVQM42xx: report 0x40 on interface 0, data report 0x41 on interface 1
    LongReport,    // the mouse collection also carries a 32-byte vendor feature report
};

using Bytes = std::vector<std::uint8_t>;

// The HID report descriptor of each USB interface, as the mouse's firmware would present it:
// interface 0 is a boot mouse whose input report has ID 1 and whose second top-level
// collection, on the vendor page, holds the family's 8-byte feature reports.
std::vector<Bytes> ReportDescriptors(MouseFamily family, GadgetVariant variant);

// The FunctionFS descriptor block (full and high speed): per interface, the HID interface,
// its HID class descriptor and one interrupt IN endpoint.
Bytes FunctionFsDescriptors(const std::vector<Bytes>& reportDescriptors);
// A string block without strings; no descriptor names one.
Bytes FunctionFsStrings();

// The IDs of the feature reports a report descriptor declares; the firmware stalls others.
std::vector<std::uint8_t> FeatureReportIds(const Bytes& reportDescriptor);

// The HID class descriptor (0x21) of an interface with that report descriptor.
Bytes HidClassDescriptor(const Bytes& reportDescriptor);

} // namespace vrax
