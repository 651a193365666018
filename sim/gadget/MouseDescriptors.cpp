#include "sim/gadget/MouseDescriptors.h"

#include "device/MouseTypes.h"

#include <algorithm>
#include <linux/usb/functionfs.h>

namespace vrax {
namespace {

constexpr std::uint8_t BootMouseInput[] = {
    0x05, 0x01, // usage page generic desktop
    0x09, 0x02, // usage mouse
    0xA1, 0x01, // collection application
    0x85, 0x01, //   report ID 1
    0x09, 0x01, //   usage pointer
    0xA1, 0x00, //   collection physical
    0x05, 0x09, //     usage page buttons
    0x19, 0x01, //     usage minimum 1
    0x29, 0x03, //     usage maximum 3
    0x15, 0x00, //     logical minimum 0
    0x25, 0x01, //     logical maximum 1
    0x95, 0x03, //     report count 3
    0x75, 0x01, //     report size 1
    0x81, 0x02, //     input data, variable, absolute
    0x95, 0x01, //     report count 1
    0x75, 0x05, //     report size 5
    0x81, 0x03, //     input constant
    0x05, 0x01, //     usage page generic desktop
    0x09, 0x30, //     usage X
    0x09, 0x31, //     usage Y
    0x09, 0x38, //     usage wheel
    0x15, 0x81, //     logical minimum -127
    0x25, 0x7F, //     logical maximum 127
    0x75, 0x08, //     report size 8
    0x95, 0x03, //     report count 3
    0x81, 0x06, //     input data, variable, relative
    0xC0,       //   end collection
};

// Inside the mouse collection, as some firmware keeps its settings: report 2, 32 bytes.
constexpr std::uint8_t LongSettingsFeature[] = {
    0x06, 0x00, 0xFF, // usage page vendor FF00
    0x09, 0x10,       // usage 0x10
    0x85, 0x02,       // report ID 2
    0x15, 0x00,       // logical minimum 0
    0x26, 0xFF, 0x00, // logical maximum 255
    0x75, 0x08,       // report size 8
    0x95, 0x20,       // report count 32
    0xB1, 0x02,       // feature data, variable, absolute
};

void Append(Bytes& to, const std::uint8_t* from, std::size_t size) {
    to.insert(to.end(), from, from + size);
}

// A vendor collection of 8-byte feature reports (ID and 7 bytes) with the given IDs.
Bytes VendorCollection(std::initializer_list<std::uint8_t> reportIds) {
    Bytes bytes{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15,
                0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x07};
    std::uint8_t usage = 0x02;
    for (const std::uint8_t id : reportIds) {
        const std::uint8_t report[] = {0x85, id, 0x09, usage++, 0xB1, 0x02};
        Append(bytes, report, sizeof report);
    }
    bytes.push_back(0xC0);
    return bytes;
}

Bytes MouseCollection(bool longSettings) {
    Bytes bytes(std::begin(BootMouseInput), std::end(BootMouseInput));
    if (longSettings) {
        Append(bytes, LongSettingsFeature, sizeof LongSettingsFeature);
    }
    bytes.push_back(0xC0);
    return bytes;
}

void Little16(Bytes& to, unsigned value) {
    to.push_back(static_cast<std::uint8_t>(value & 0xFF));
    to.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Little32(Bytes& to, unsigned value) {
    Little16(to, value & 0xFFFF);
    Little16(to, value >> 16);
}

} // namespace

std::vector<Bytes> ReportDescriptors(MouseFamily family, GadgetVariant variant) {
    const bool kvqm31x = family == MouseFamily::Kvqm31x;
    const MouseType& type = FirstOfFamily(family);
    Bytes first = MouseCollection(variant == GadgetVariant::LongReport);
    if (variant == GadgetVariant::TwoInterfaces && !kvqm31x) {
        const Bytes command = VendorCollection({type.commandReportId});
        first.insert(first.end(), command.begin(), command.end());
        return {first, VendorCollection({type.dataReportId})};
    }
    const Bytes vendor = kvqm31x ? VendorCollection({type.commandReportId})
                                 : VendorCollection({type.commandReportId, type.dataReportId});
    first.insert(first.end(), vendor.begin(), vendor.end());
    return {first};
}

std::vector<std::uint8_t> FeatureReportIds(const Bytes& reportDescriptor) {
    std::vector<std::uint8_t> ids;
    std::uint8_t reportId = 0;
    for (std::size_t at = 0; at < reportDescriptor.size();) {
        const std::uint8_t prefix = reportDescriptor[at];
        const std::size_t size = (prefix & 3) == 3 ? 4 : prefix & 3;
        if (prefix == 0x85 && at + 1 < reportDescriptor.size()) {
            reportId = reportDescriptor[at + 1];
        } else if ((prefix & 0xFC) == 0xB0 &&
                   std::find(ids.begin(), ids.end(), reportId) == ids.end()) {
            ids.push_back(reportId);
        }
        at += 1 + size;
    }
    return ids;
}

Bytes HidClassDescriptor(const Bytes& reportDescriptor) {
    Bytes bytes{9, 0x21, 0x11, 0x01, 0, 1, 0x22};
    Little16(bytes, static_cast<unsigned>(reportDescriptor.size()));
    return bytes;
}

Bytes FunctionFsDescriptors(const std::vector<Bytes>& reportDescriptors) {
    Bytes speeds[2];
    for (int speed = 0; speed < 2; ++speed) {
        for (std::size_t index = 0; index < reportDescriptors.size(); ++index) {
            const bool boot = index == 0;
            const std::uint8_t interfaceDescriptor[] = {9,
                                                        0x04,
                                                        static_cast<std::uint8_t>(index),
                                                        0,
                                                        1,
                                                        0x03,
                                                        static_cast<std::uint8_t>(boot ? 1 : 0),
                                                        static_cast<std::uint8_t>(boot ? 2 : 0),
                                                        0};
            Append(speeds[speed], interfaceDescriptor, sizeof interfaceDescriptor);
            const Bytes hid = HidClassDescriptor(reportDescriptors[index]);
            speeds[speed].insert(speeds[speed].end(), hid.begin(), hid.end());
            // Full speed polls every 10 frames, high speed every 2^(7-1) microframes: 8 ms.
            const std::uint8_t endpoint[] = {
                7, 0x05, static_cast<std::uint8_t>(0x81 + index),       0x03,
                8, 0,    static_cast<std::uint8_t>(speed == 0 ? 10 : 7)};
            Append(speeds[speed], endpoint, sizeof endpoint);
        }
    }
    const unsigned count = static_cast<unsigned>(reportDescriptors.size()) * 3;
    Bytes block;
    Little32(block, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    Little32(block, 0); // length, below
    Little32(block, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
    Little32(block, count);
    Little32(block, count);
    block.insert(block.end(), speeds[0].begin(), speeds[0].end());
    block.insert(block.end(), speeds[1].begin(), speeds[1].end());
    Bytes length;
    Little32(length, static_cast<unsigned>(block.size()));
    std::copy(length.begin(), length.end(), block.begin() + 4);
    return block;
}

Bytes FunctionFsStrings() {
    Bytes block;
    Little32(block, FUNCTIONFS_STRINGS_MAGIC);
    Little32(block, 16);
    Little32(block, 0);
    Little32(block, 0);
    return block;
}

} // namespace vrax
