#include "device/linux/HidrawPlatform.h"

#include "device/ErrorText.h"
#include "device/linux/ReportDescriptor.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <optional>
#include <string_view>
#include <unistd.h>

namespace vrax {
namespace {

namespace fs = std::filesystem;

// Per thread: the line's gangs run their transfers on threads of their own.
thread_local std::string lastTransferError;

constexpr int OpenFlags = O_RDWR | O_CLOEXEC;
constexpr std::size_t MaxSysfsFileSize = 4096;
constexpr int MaxSysfsSteps = 32;
// The transfer length travels in the ioctl request's size field.
constexpr std::size_t MaxFeatureTransfer = _IOC_SIZEMASK;

constexpr const char* PermissionNotice =
    "No mouse can be found: permission denied on /dev/hidraw*, this user may not open the\n"
    "HID devices. To let the user at this seat open VRAX mice (vendor 3C5E), install the udev\n"
    "rule 70-vrax-bin-writer.rules (in packaging/ of the source, or put in place by the install\n"
    "step) and reload the rules, as root:\n"
    "    cp packaging/70-vrax-bin-writer.rules /etc/udev/rules.d/\n"
    "    udevadm control --reload-rules && udevadm trigger\n"
    "then unplug the mouse and plug it in again. The rule is this one line:\n"
    "    SUBSYSTEM==\"hidraw\", KERNELS==\"????:3C5E:????.*\", TAG+=\"uaccess\"";

std::string ReadSysfsFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    std::string text(MaxSysfsFileSize, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

std::string UeventValue(std::string_view uevent, std::string_view key) {
    while (!uevent.empty()) {
        const std::size_t end = std::min(uevent.find('\n'), uevent.size());
        const std::string_view line = uevent.substr(0, end);
        if (line.size() > key.size() && line.substr(0, key.size()) == key &&
            line[key.size()] == '=') {
            return std::string(line.substr(key.size() + 1));
        }
        uevent.remove_prefix(std::min(end + 1, uevent.size()));
    }
    return {};
}

std::optional<std::uint32_t> ParseHex(std::string_view text, std::uint32_t largest) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.remove_suffix(1);
    }
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        value > largest) {
        return std::nullopt;
    }
    return value;
}

struct HidId {
    std::uint32_t bus = 0;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
};

// HID_ID=0003:00003C5E:00000A31 in the HID device's uevent.
std::optional<HidId> ReadHidId(const fs::path& classEntry) {
    const std::string text = UeventValue(ReadSysfsFile(classEntry / "device" / "uevent"), "HID_ID");
    const std::size_t first = text.find(':');
    const std::size_t second = text.find(':', first == std::string::npos ? 0 : first + 1);
    if (first == std::string::npos || second == std::string::npos) {
        return std::nullopt;
    }
    const std::string_view view(text);
    const auto bus = ParseHex(view.substr(0, first), 0xFFFF);
    const auto vendor = ParseHex(view.substr(first + 1, second - first - 1), 0xFFFF);
    const auto product = ParseHex(view.substr(second + 1), 0xFFFF);
    if (!bus || !vendor || !product) {
        return std::nullopt;
    }
    return HidId{*bus, static_cast<std::uint16_t>(*vendor), static_cast<std::uint16_t>(*product)};
}

bool IsStrictlyInside(const fs::path& path, const fs::path& base) {
    const auto [baseEnd, pathRest] =
        std::mismatch(base.begin(), base.end(), path.begin(), path.end());
    return baseEnd == base.end() && pathRest != path.end();
}

bool NodeOrderLess(const fs::path& left, const fs::path& right) {
    // hidraw2 before hidraw10
    const std::string a = left.filename().string();
    const std::string b = right.filename().string();
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

} // namespace

HidrawPlatform::HidrawPlatform(std::filesystem::path root, std::shared_ptr<HidrawSystemCalls> calls)
    : root_(std::move(root)),
      calls_(calls ? std::move(calls) : std::make_shared<RealHidrawSystemCalls>()) {}

HidrawPlatform::~HidrawPlatform() {
    for (const auto& [handle, classEntry] : openInterfaces_) {
        calls_->Close(static_cast<int>(handle));
    }
}

std::vector<std::string> HidrawPlatform::EnumerateInterfaces() {
    std::vector<fs::path> classEntries;
    std::error_code error;
    fs::directory_iterator entry(root_ / "sys" / "class" / "hidraw", error);
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
        classEntries.push_back(entry->path());
    }
    std::sort(classEntries.begin(), classEntries.end(), NodeOrderLess);

    std::map<std::string, std::string> knownNames;
    {
        std::lock_guard lock(mutex_);
        knownNames = nodeNames_;
    }
    std::vector<std::string> paths;
    std::map<std::string, fs::path> entriesByPath;
    std::map<std::string, std::string> nodeNames;
    for (const fs::path& classEntry : classEntries) {
        const std::string entryName = classEntry.filename().string();
        const auto known = knownNames.find(entryName);
        std::string nodeName = known != knownNames.end()
                                   ? known->second
                                   : UeventValue(ReadSysfsFile(classEntry / "uevent"), "DEVNAME");
        if (nodeName.empty()) {
            nodeName = entryName;
        }
        nodeNames[entryName] = nodeName;
        if (nodeName.find("..") != std::string::npos) {
            continue;
        }
        const fs::path node = root_ / "dev" / nodeName;
        std::error_code statError;
        if (!fs::exists(node, statError)) {
            continue;
        }
        paths.push_back(node.string());
        entriesByPath[paths.back()] = classEntry;
    }
    std::lock_guard lock(mutex_);
    classEntries_ = std::move(entriesByPath);
    nodeNames_ = std::move(nodeNames);

    unvisitedPaths_ = std::set<std::string>(paths.begin(), paths.end());
    walkOpenedAny_ = false;
    walkDeniedAny_ = false;
    return paths;
}

HidHandle HidrawPlatform::Open(const std::string& path) {
    const int descriptor = calls_->Open(path, OpenFlags);
    NoteOpenResult(path, descriptor);
    if (descriptor < 0) {
        return InvalidHandle;
    }
    fs::path classEntry = ClassEntryOf(path);
    std::lock_guard lock(mutex_);
    openInterfaces_[descriptor] = std::move(classEntry);
    openPaths_[descriptor] = path;
    selections_.erase(descriptor);
    return descriptor;
}

bool HidrawPlatform::CanOpen(const std::string& path) {
    const int result = calls_->Access(path, R_OK | W_OK);
    NoteOpenResult(path, result);
    return result == 0;
}

bool HidrawPlatform::MayBeDevice(const std::string& path, int vendorId, int productId) {
    // The HID device's uevent names its IDs; a node without one is opened to ask.
    const auto id = ReadHidId(ClassEntryOf(path));
    return !id || (id->vendor == vendorId && id->product == productId);
}

std::string HidrawPlatform::DeviceOfInterface(const std::string& path) {
    // The USB device two levels above the HID device holds all of its interfaces.
    std::error_code error;
    const fs::path device = fs::canonical(ClassEntryOf(path) / "device" / ".." / "..", error);
    return error ? path : device.string();
}

std::string HidrawPlatform::ConnectionOfInterface(const std::string& path) {
    // The HID device's name ends in a number the kernel never hands out twice while it runs.
    std::error_code error;
    const fs::path device = fs::canonical(ClassEntryOf(path) / "device", error);
    return error ? path : device.string();
}

void HidrawPlatform::Close(HidHandle handle) {
    // Only descriptors this backend opened are closed; a stray handle must not close
    // someone else's file.
    {
        std::lock_guard lock(mutex_);
        const auto open = openInterfaces_.find(handle);
        if (open == openInterfaces_.end()) {
            return;
        }
        // Forgotten before the descriptor is closed: another thread's open may get its number.
        openInterfaces_.erase(open);
        openPaths_.erase(handle);
        selections_.erase(handle);
    }
    calls_->Close(static_cast<int>(handle));
}

bool HidrawPlatform::GetAttributes(HidHandle handle, HidAttributes& attributes) {
    const std::optional<fs::path> classEntry = ClassEntryOfHandle(handle);
    if (!classEntry) {
        return false;
    }
    HidId id;
    hidraw_devinfo info{};
    if (calls_->Ioctl(static_cast<int>(handle), HIDIOCGRAWINFO, &info) >= 0) {
        id = {info.bustype, static_cast<std::uint16_t>(info.vendor),
              static_cast<std::uint16_t>(info.product)};
    } else if (const auto fromSysfs = ReadHidId(*classEntry)) {
        id = *fromSysfs;
    } else {
        return false;
    }
    attributes.vendorId = id.vendor;
    attributes.productId = id.product;
    // Only a USB device has a bcdDevice. Bluetooth, I2C and virtual (uhid) interfaces have no
    // release number to offer and report 0, even when a USB radio sits above them in sysfs.
    attributes.versionNumber = id.bus == BUS_USB ? UsbReleaseNumber(*classEntry) : 0;
    return true;
}

std::optional<ReportDescriptorInfo> HidrawPlatform::ReadReportDescriptor(HidHandle handle) {
    if (!IsOpen(handle)) {
        return std::nullopt;
    }
    const int descriptor = static_cast<int>(handle);
    int descriptorSize = 0;
    if (calls_->Ioctl(descriptor, HIDIOCGRDESCSIZE, &descriptorSize) < 0 || descriptorSize <= 0 ||
        descriptorSize > HID_MAX_DESCRIPTOR_SIZE) {
        return std::nullopt;
    }
    auto reportDescriptor = std::make_unique<hidraw_report_descriptor>();
    reportDescriptor->size = static_cast<std::uint32_t>(descriptorSize);
    if (calls_->Ioctl(descriptor, HIDIOCGRDESC, reportDescriptor.get()) < 0) {
        return std::nullopt;
    }
    ReportDescriptorInfo info =
        ParseReportDescriptor(reportDescriptor->value, static_cast<std::size_t>(descriptorSize));
    if (!info.wellFormed) {
        return std::nullopt;
    }
    return info;
}

std::uint16_t HidrawPlatform::GetFeatureReportLength(HidHandle handle) {
    {
        std::lock_guard lock(mutex_);
        const auto selection = selections_.find(handle);
        if (selection != selections_.end()) {
            return selection->second.featureReportLength;
        }
    }
    const auto info = ReadReportDescriptor(handle);
    return info ? info->featureReportLength : 0;
}

std::vector<std::uint16_t> HidrawPlatform::GetFeatureReportLengths(HidHandle handle) {
    std::vector<std::uint16_t> lengths;
    if (const auto info = ReadReportDescriptor(handle)) {
        for (const CollectionFeatures& collection : info->topLevelCollections) {
            lengths.push_back(collection.featureReportLength);
        }
    }
    return lengths;
}

bool HidrawPlatform::SelectFeatureCollection(HidHandle handle, std::uint16_t length) {
    const auto info = ReadReportDescriptor(handle);
    if (!info || length == 0) {
        return false;
    }
    Selection selection{length, {}};
    for (const CollectionFeatures& collection : info->topLevelCollections) {
        if (collection.featureReportLength == length) {
            selection.reportIds.insert(selection.reportIds.end(),
                                       collection.featureReportIds.begin(),
                                       collection.featureReportIds.end());
        }
    }
    if (selection.reportIds.empty()) {
        return false;
    }
    std::lock_guard lock(mutex_);
    selections_[handle] = std::move(selection);
    return true;
}

bool HidrawPlatform::SetFeature(HidHandle handle, const std::uint8_t* buffer, std::size_t length) {
    if (buffer == nullptr || length == 0 || length > MaxFeatureTransfer) {
        return NoteTransferError(handle, FeatureDirection::Set, length, ErrorText(EINVAL));
    }
    // The request is read-write in the kernel's eyes; the caller's report stays untouched.
    std::vector<std::uint8_t> report(buffer, buffer + length);
    return TransferFeature(handle, FeatureDirection::Set, report.data(), length);
}

bool HidrawPlatform::GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) {
    return TransferFeature(handle, FeatureDirection::Get, buffer, length);
}

std::string HidrawPlatform::ReportName(std::uint8_t reportId) {
    char name[16];
    std::snprintf(name, sizeof name, "report 0x%02X", reportId);
    return name;
}

std::string HidrawPlatform::LastTransferError() {
    return lastTransferError;
}

bool HidrawPlatform::NoteTransferError(HidHandle handle, FeatureDirection direction,
                                       std::size_t length, const std::string& reason) const {
    std::string node;
    {
        std::lock_guard lock(mutex_);
        const auto path = openPaths_.find(handle);
        node = path == openPaths_.end() ? "handle " + std::to_string(handle) : path->second;
    }
    lastTransferError =
        std::string(direction == FeatureDirection::Set ? "HIDIOCSFEATURE(" : "HIDIOCGFEATURE(") +
        std::to_string(length) + ") " + node + ": " + reason;
    return false;
}

std::string HidrawPlatform::TakeOperatorNotice() {
    std::lock_guard lock(mutex_);
    if (!permissionDenied_ || noticeGiven_) {
        return {};
    }
    noticeGiven_ = true;
    return PermissionNotice;
}

std::filesystem::path HidrawPlatform::ClassEntryOf(const std::string& path) const {
    {
        std::lock_guard lock(mutex_);
        const auto known = classEntries_.find(path);
        if (known != classEntries_.end()) {
            return known->second;
        }
    }
    return root_ / "sys" / "class" / "hidraw" / fs::path(path).filename();
}

std::optional<std::filesystem::path> HidrawPlatform::ClassEntryOfHandle(HidHandle handle) const {
    std::lock_guard lock(mutex_);
    const auto open = openInterfaces_.find(handle);
    if (open == openInterfaces_.end()) {
        return std::nullopt;
    }
    return open->second;
}

bool HidrawPlatform::IsOpen(HidHandle handle) const {
    std::lock_guard lock(mutex_);
    return openInterfaces_.count(handle) != 0;
}

bool HidrawPlatform::IsInSelection(HidHandle handle, std::uint8_t reportId) const {
    std::lock_guard lock(mutex_);
    const auto selection = selections_.find(handle);
    return selection == selections_.end() ||
           std::find(selection->second.reportIds.begin(), selection->second.reportIds.end(),
                     reportId) != selection->second.reportIds.end();
}

void HidrawPlatform::NoteOpenResult(const std::string& path, int result) {
    const bool denied = result == -EACCES || result == -EPERM;
    // A VRAX mouse that refuses the user is worth the notice even while other HID devices (a
    // game pad with its own rule) open.
    bool deniedMouse = false;
    if (denied) {
        const auto id = ReadHidId(ClassEntryOf(path));
        deniedMouse = id && id->vendor == RuleVendorId;
    }
    std::lock_guard lock(mutex_);
    if (deniedMouse) {
        permissionDenied_ = true;
    }
    if (unvisitedPaths_.erase(path) == 0) {
        return;
    }
    walkOpenedAny_ = walkOpenedAny_ || result >= 0;
    walkDeniedAny_ = walkDeniedAny_ || denied;
    if (unvisitedPaths_.empty() && !walkOpenedAny_ && walkDeniedAny_) {
        permissionDenied_ = true;
    }
}

std::uint16_t HidrawPlatform::UsbReleaseNumber(const std::filesystem::path& classEntry) const {
    std::error_code error;
    const fs::path sysfsRoot = fs::canonical(root_ / "sys", error);
    if (error) {
        return 0;
    }
    // class/hidraw/hidrawN/device is the HID device; the USB device (with bcdDevice) sits
    // above its interface.
    fs::path directory = fs::canonical(classEntry / "device", error);
    for (int step = 0; !error && step < MaxSysfsSteps && IsStrictlyInside(directory, sysfsRoot);
         ++step) {
        const fs::path releaseFile = directory / "bcdDevice";
        std::error_code statError;
        if (fs::exists(releaseFile, statError)) {
            return static_cast<std::uint16_t>(
                ParseHex(ReadSysfsFile(releaseFile), 0xFFFF).value_or(0));
        }
        directory = directory.parent_path();
    }
    return 0;
}

bool HidrawPlatform::TransferFeature(HidHandle handle, FeatureDirection direction,
                                     std::uint8_t* buffer, std::size_t length) {
    lastTransferError.clear();
    if (!IsOpen(handle)) {
        return NoteTransferError(handle, direction, length, ErrorText(EBADF));
    }
    if (buffer == nullptr || length == 0 || length > MaxFeatureTransfer) {
        return NoteTransferError(handle, direction, length, ErrorText(EINVAL));
    }
    // Windows refuses a report that is not its collection's; the device never sees it.
    if (!IsInSelection(handle, buffer[0])) {
        return NoteTransferError(handle, direction, length,
                                 ReportName(buffer[0]) + " is not in the collection opened");
    }
    const unsigned long request =
        direction == FeatureDirection::Set ? HIDIOCSFEATURE(length) : HIDIOCGFEATURE(length);
    const int result = calls_->Ioctl(static_cast<int>(handle), request, buffer);
    if (result < 0) {
        return NoteTransferError(handle, direction, length, ErrorText(-result));
    }
    if (static_cast<std::size_t>(result) != length) {
        return NoteTransferError(handle, direction, length,
                                 "short transfer of " + std::to_string(result) + " bytes");
    }
    return true;
}

} // namespace vrax
