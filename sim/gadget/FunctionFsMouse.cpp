#include "sim/gadget/FunctionFsMouse.h"

#include "sim/VirtualMouse42xx.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <stdexcept>
#include <unistd.h>

namespace vrax {
namespace {

constexpr std::uint8_t HidGetReport = 0x01;
constexpr std::uint8_t HidGetIdle = 0x02;
constexpr std::uint8_t HidGetProtocol = 0x03;
constexpr std::uint8_t HidSetReport = 0x09;
constexpr std::uint8_t HidSetIdle = 0x0A;
constexpr std::uint8_t HidSetProtocol = 0x0B;
constexpr std::uint8_t HidClassDescriptorType = 0x21;
constexpr std::uint8_t HidReportDescriptorType = 0x22;
constexpr std::uint8_t FeatureReportType = 3;
// Every feature report the models answer is 8 bytes, report ID included.
constexpr std::size_t ModelReportLength = 8;

void WriteAll(int descriptor, const Bytes& bytes, const char* what) {
    if (write(descriptor, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        throw std::runtime_error(std::string("FunctionFS refused the ") + what);
    }
}

} // namespace

FunctionFsMouse::FunctionFsMouse(const std::filesystem::path& functionFs, VirtualMouse& mouse,
                                 std::vector<Bytes> reportDescriptors)
    : mouse_(mouse), reportDescriptors_(std::move(reportDescriptors)) {
    for (const Bytes& descriptor : reportDescriptors_) {
        featureIds_.push_back(FeatureReportIds(descriptor));
    }
    ep0_ = open((functionFs / "ep0").c_str(), O_RDWR | O_CLOEXEC);
    if (ep0_ < 0) {
        throw std::runtime_error("cannot open " + (functionFs / "ep0").string());
    }
    WriteAll(ep0_, FunctionFsDescriptors(reportDescriptors_), "descriptors");
    WriteAll(ep0_, FunctionFsStrings(), "strings");
}

FunctionFsMouse::~FunctionFsMouse() {
    close(ep0_);
}

bool FunctionFsMouse::Serve(const std::atomic<bool>& stop, std::atomic<bool>& pullCable,
                            int unplugAt, const std::function<void()>& unplug) {
    usb_functionfs_event events[4];
    while (!stop) {
        const ssize_t got = read(ep0_, events, sizeof events);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        for (ssize_t i = 0; i < got / static_cast<ssize_t>(sizeof events[0]); ++i) {
            if (events[i].type != FUNCTIONFS_SETUP) {
                continue;
            }
            const usb_ctrlrequest& setup = events[i].u.setup;
            const bool featureTransfer =
                (setup.bRequestType & USB_TYPE_MASK) == USB_TYPE_CLASS &&
                (setup.bRequest == HidGetReport || setup.bRequest == HidSetReport);
            if (featureTransfer && (pullCable || transfers_ == unplugAt)) {
                pullCable = false;
                unplug();
                return true;
            }
            transfers_ += featureTransfer ? 1 : 0;
            if (!Answer(&setup)) {
                Stall((setup.bRequestType & USB_DIR_IN) != 0);
            }
        }
    }
    return true;
}

bool FunctionFsMouse::Answer(const void* request) {
    const auto& setup = *static_cast<const usb_ctrlrequest*>(request);
    const bool hostReads = (setup.bRequestType & USB_DIR_IN) != 0;
    const unsigned value = __le16_to_cpu(setup.wValue);
    const unsigned length = __le16_to_cpu(setup.wLength);
    // FunctionFS gives the interface number within this function.
    const unsigned interfaceIndex = __le16_to_cpu(setup.wIndex) & 0xFF;
    if (interfaceIndex >= reportDescriptors_.size()) {
        return false;
    }
    const auto send = [&](const Bytes& bytes) {
        const std::size_t size = std::min<std::size_t>(bytes.size(), length);
        return write(ep0_, bytes.data(), size) == static_cast<ssize_t>(size);
    };
    const auto acknowledge = [&] { return read(ep0_, nullptr, 0) == 0; };

    if ((setup.bRequestType & USB_TYPE_MASK) == USB_TYPE_STANDARD) {
        if (setup.bRequest != USB_REQ_GET_DESCRIPTOR || !hostReads) {
            return false;
        }
        const Bytes& report = reportDescriptors_[interfaceIndex];
        if (value >> 8 == HidReportDescriptorType) {
            return send(report);
        }
        return value >> 8 == HidClassDescriptorType && send(HidClassDescriptor(report));
    }
    if ((setup.bRequestType & USB_TYPE_MASK) != USB_TYPE_CLASS) {
        return false;
    }
    const std::uint8_t reportId = static_cast<std::uint8_t>(value & 0xFF);
    const auto& ids = featureIds_[interfaceIndex];
    const bool declared = value >> 8 == FeatureReportType && length > 0 &&
                          std::find(ids.begin(), ids.end(), reportId) != ids.end();
    // What a second-family mouse refuses whatever the report holds is stalled before the
    // data stage, as its firmware would.
    const MouseFaults& faults = mouse_.Faults();
    const bool refusedUnseen =
        mouse_.Family() == MouseFamily::Kvqm42xx &&
        (faults.silent || (faults.noData && reportId == VirtualMouse42xx::DataReportId));
    switch (setup.bRequest) {
    case HidSetIdle:
    case HidSetProtocol:
        return !hostReads && acknowledge();
    case HidGetIdle:
    case HidGetProtocol:
        return hostReads && send(Bytes{0});
    case HidGetReport: {
        if (!hostReads || !declared || refusedUnseen) {
            return false;
        }
        // The firmware answers with its whole report; a shorter request gets its head, a
        // longer one a short transfer, as on a real device.
        Bytes report(ModelReportLength, 0);
        report[0] = reportId;
        return mouse_.GetFeature(static_cast<int>(interfaceIndex), report.data(), report.size()) &&
               send(report);
    }
    case HidSetReport: {
        if (hostReads || !declared || refusedUnseen) {
            return false;
        }
        // FunctionFS ends the data stage with its handshake before the program sees the
        // bytes, so a report the model refuses still counts as delivered on the host.
        Bytes report(length, 0);
        if (read(ep0_, report.data(), length) != static_cast<ssize_t>(length)) {
            return true;
        }
        mouse_.SetFeature(static_cast<int>(interfaceIndex), report.data(), length);
        return true;
    }
    default:
        return false;
    }
}

void FunctionFsMouse::Stall(bool hostReads) {
    // FunctionFS stalls a request that is answered in the wrong direction.
    if (hostReads) {
        [[maybe_unused]] const ssize_t ignored = read(ep0_, nullptr, 0);
    } else {
        [[maybe_unused]] const ssize_t ignored = write(ep0_, nullptr, 0);
    }
}

} // namespace vrax
