#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vrax {

using HidHandle = std::intptr_t;

// The platform's invalid handle value (all bits set); a link holds no device while its
// handle equals it.
inline constexpr HidHandle InvalidHandle = -1;

struct HidAttributes {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t versionNumber = 0;
};

// Every transfer to a HID device goes through this interface, so the links run unchanged
// on Windows, on Linux hidraw and on the simulated bus. One object serves a whole line:
// the threads of a gang call it at the same time.
class HidPlatform {
public:
    virtual ~HidPlatform() = default;

    // Device paths of the present HID interfaces in enumeration order. Interfaces whose
    // detail cannot be read are left out; empty when the enumeration cannot start.
    virtual std::vector<std::string> EnumerateInterfaces() = 0;

    // InvalidHandle when the path cannot be opened.
    virtual HidHandle Open(const std::string& path) = 0;
    virtual void Close(HidHandle handle) = 0;

    // Whether Open(path) would give a handle. Here by opening and closing at once; a backend
    // whose open wakes the device answers without opening.
    virtual bool CanOpen(const std::string& path) {
        const HidHandle handle = Open(path);
        if (handle == InvalidHandle) {
            return false;
        }
        Close(handle);
        return true;
    }

    // False only when the interface at `path` is known, without opening it, to belong to
    // another vendor's or product's device: opening wakes an autosuspended device.
    virtual bool MayBeDevice(const std::string& /*path*/, int /*vendorId*/, int /*productId*/) {
        return true;
    }

    // One name for every interface of one physical device, so that a mouse plugged once is
    // one mouse however many interfaces it shows. Windows-style paths, the simulated bus's
    // too, name the interface with "&mi_NN".
    virtual std::string DeviceOfInterface(const std::string& path) {
        const std::size_t marker = path.find("&mi_");
        if (marker != std::string::npos && marker + 7 <= path.size()) {
            return path.substr(0, marker) + path.substr(marker + 7);
        }
        return path;
    }

    // What tells one plug of an interface from the next at the same path: Linux gives a new
    // device the node name of one gone a moment ago. The path itself where paths are not reused
    // so soon.
    virtual std::string ConnectionOfInterface(const std::string& path) { return path; }

    virtual bool GetAttributes(HidHandle handle, HidAttributes& attributes) = 0;

    // The capabilities' FeatureReportByteLength (report ID byte included); 0 when unknown.
    virtual std::uint16_t GetFeatureReportLength(HidHandle handle) = 0;

    // The FeatureReportByteLength of each top-level collection the handle reaches. A Windows
    // path is one collection; a hidraw node carries every collection of its interface.
    virtual std::vector<std::uint16_t> GetFeatureReportLengths(HidHandle handle) {
        return {GetFeatureReportLength(handle)};
    }

    // Narrows the handle to its top-level collections whose FeatureReportByteLength is length,
    // as if each had a path of its own as on Windows: from then on only their report IDs
    // travel on it. False when none has that length.
    virtual bool SelectFeatureCollection(HidHandle handle, std::uint16_t length) {
        return GetFeatureReportLength(handle) == length;
    }

    // buffer[0] carries the report ID; length is the feature report length.
    virtual bool SetFeature(HidHandle handle, const std::uint8_t* buffer, std::size_t length) = 0;
    virtual bool GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) = 0;

    // Why the calling thread's last SetFeature or GetFeature here failed: the call, the device
    // and the system's reason, such as "HIDIOCSFEATURE(8) /dev/hidraw3: Broken pipe". Empty
    // after a transfer that succeeded, and where the backend knows no reason.
    virtual std::string LastTransferError() { return {}; }

    // A message for the operator that the backend wants shown once (for example missing
    // permissions); empty when there is none. Taking it clears it.
    virtual std::string TakeOperatorNotice() { return {}; }
};

} // namespace vrax
