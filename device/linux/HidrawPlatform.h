#pragma once

#include "device/HidPlatform.h"
#include "device/MouseTypes.h"
#include "device/linux/HidrawSystemCalls.h"
#include "device/linux/ReportDescriptor.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

namespace vrax {

// HID interfaces through the kernel's hidraw driver: sysfs for the walk and the release
// number, the /dev/hidraw* nodes and their ioctls for everything else.
class HidrawPlatform final : public HidPlatform {
public:
    // The vendor whose nodes the udev rule in packaging/ opens to the user at the seat.
    static constexpr std::uint16_t RuleVendorId = MouseTypes[IcTypeKvqm31x].vendorId;

    // root holds sys/ and dev/; tests point it at a fake tree and bring their own calls.
    explicit HidrawPlatform(std::filesystem::path root = "/",
                            std::shared_ptr<HidrawSystemCalls> calls = nullptr);
    ~HidrawPlatform() override;
    HidrawPlatform(const HidrawPlatform&) = delete;
    HidrawPlatform& operator=(const HidrawPlatform&) = delete;

    std::vector<std::string> EnumerateInterfaces() override;
    HidHandle Open(const std::string& path) override;
    void Close(HidHandle handle) override;
    // Opening a hidraw node resumes an autosuspended device, and the count runs ten times a
    // second over every node: the node's permissions answer instead.
    bool CanOpen(const std::string& path) override;
    bool MayBeDevice(const std::string& path, int vendorId, int productId) override;
    std::string DeviceOfInterface(const std::string& path) override;
    std::string ConnectionOfInterface(const std::string& path) override;
    bool GetAttributes(HidHandle handle, HidAttributes& attributes) override;
    // The largest of the node's collections until the handle is narrowed, then the length
    // it was narrowed to.
    std::uint16_t GetFeatureReportLength(HidHandle handle) override;
    std::vector<std::uint16_t> GetFeatureReportLengths(HidHandle handle) override;
    bool SelectFeatureCollection(HidHandle handle, std::uint16_t length) override;
    bool SetFeature(HidHandle handle, const std::uint8_t* buffer, std::size_t length) override;
    bool GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) override;
    std::string TakeOperatorNotice() override;
    std::string LastTransferError() override;

private:
    std::filesystem::path ClassEntryOf(const std::string& path) const;
    // The class entry of an open handle; none for a handle this backend did not open.
    std::optional<std::filesystem::path> ClassEntryOfHandle(HidHandle handle) const;
    bool IsOpen(HidHandle handle) const;
    // False when the handle was narrowed to collections that do not hold the report.
    bool IsInSelection(HidHandle handle, std::uint8_t reportId) const;
    void NoteOpenResult(const std::string& path, int result);
    std::uint16_t UsbReleaseNumber(const std::filesystem::path& classEntry) const;
    std::optional<ReportDescriptorInfo> ReadReportDescriptor(HidHandle handle);
    enum class FeatureDirection { Set, Get };
    bool TransferFeature(HidHandle handle, FeatureDirection direction, std::uint8_t* buffer,
                         std::size_t length);
    static std::string ReportName(std::uint8_t reportId);
    // Keeps the reason of a failed transfer for LastTransferError; returns false.
    bool NoteTransferError(HidHandle handle, FeatureDirection direction, std::size_t length,
                           const std::string& reason) const;

    std::filesystem::path root_;
    std::shared_ptr<HidrawSystemCalls> calls_;
    // Guards the maps and the walk's notes below: the line's gang opens, transfers and walks
    // on threads of its own. Never held across a system call on a device.
    mutable std::mutex mutex_;
    // Open handles and the sysfs class entry (sys/class/hidraw/hidrawN) of each.
    std::map<HidHandle, std::filesystem::path> openInterfaces_;
    // The node path each open handle was opened by, for the reason of a failed transfer.
    std::map<HidHandle, std::string> openPaths_;
    struct Selection {
        std::uint16_t featureReportLength = 0;
        std::vector<std::uint8_t> reportIds;
    };
    // Handles narrowed to some of their node's top-level collections.
    std::map<HidHandle, Selection> selections_;
    // Node path to class entry, from the latest walk.
    std::map<std::string, std::filesystem::path> classEntries_;
    // Node name (DEVNAME) by class entry name. An entry's node name never changes, and the
    // polling walks ten times in every tick; reading each uevent once keeps a tick cheap.
    std::map<std::string, std::string> nodeNames_;

    // The count stays silent when nothing opens, so a walk in which every node refused the
    // user is turned into one notice for the operator.
    std::set<std::string> unvisitedPaths_;
    bool walkOpenedAny_ = false;
    bool walkDeniedAny_ = false;
    bool permissionDenied_ = false;
    bool noticeGiven_ = false;
};

} // namespace vrax
