#include "device/linux/HidrawPlatform.h"
#include "device/Clock.h"
#include "device/HidDiscovery.h"
#include "device/Kvqm31xLink.h"
#include "device/Kvqm42xxLink.h"
#include "device/LinkProgress.h"
#include "tests/hidraw/Descriptors.h"
#include "tests/hidraw/FakeHidraw.h"

#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace vrax::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

FakeInterface Kvqm31xMouse(const std::string& node) {
    FakeInterface mouse;
    mouse.node = node;
    mouse.descriptor = Kvqm31xMouseDescriptor;
    return mouse;
}

FakeInterface Keyboard(const std::string& node) {
    FakeInterface keyboard;
    keyboard.node = node;
    keyboard.vendor = 0x046D;
    keyboard.product = 0xC31C;
    keyboard.descriptor = KeyboardDescriptor;
    return keyboard;
}

int CountOpenable(HidPlatform& platform) {
    int count = 0;
    for (const std::string& path : platform.EnumerateInterfaces()) {
        const HidHandle handle = platform.Open(path);
        if (handle != InvalidHandle) {
            ++count;
            platform.Close(handle);
        }
    }
    return count;
}

TEST(HidrawPlatform, WalksClassEntriesInNodeOrderAndCountsOnlyNodesThatOpen) {
    FakeHidrawMachine machine;
    {
        HidrawPlatform platform(machine.root, machine.calls);
        EXPECT_TRUE(platform.EnumerateInterfaces().empty());
        EXPECT_EQ(CountOpenable(platform), 0);
        EXPECT_EQ(platform.TakeOperatorNotice(), "");
    }
    const std::string mouse = machine.Add(Kvqm31xMouse("hidraw10"));
    const std::string keyboard = machine.Add(Keyboard("hidraw2"));
    FakeInterface absent = Keyboard("hidraw0");
    absent.nodeInDev = false;
    machine.Add(absent);
    FakeInterface broken = Keyboard("hidraw3");
    broken.openError = ENXIO;
    const std::string brokenPath = machine.Add(broken);

    HidrawPlatform platform(machine.root, machine.calls);
    EXPECT_THAT(platform.EnumerateInterfaces(), ElementsAre(keyboard, brokenPath, mouse));
    EXPECT_EQ(CountOpenable(platform), 2);
    EXPECT_EQ(platform.Open(brokenPath), InvalidHandle);
    for (int flags : machine.calls->openFlags) {
        EXPECT_EQ(flags, O_RDWR | O_CLOEXEC);
    }
    EXPECT_TRUE(machine.calls->open.empty());

    // A handle the backend did not open is never closed, and open handles go with the backend.
    platform.Close(0);
    platform.Close(InvalidHandle);
    EXPECT_EQ(machine.calls->closed.size(), 2u);
    {
        HidrawPlatform holder(machine.root, machine.calls);
        EXPECT_NE(holder.Open(mouse), InvalidHandle);
        EXPECT_NE(holder.Open(keyboard), InvalidHandle);
    }
    EXPECT_TRUE(machine.calls->open.empty());
}

// An open resumes an autosuspended device; the polling counts ten times a second.
TEST(HidrawPlatform, CountingOpensNoNodeYetCountsOnlyNodesTheUserMayOpen) {
    FakeHidrawMachine machine;
    machine.Add(Kvqm31xMouse("hidraw0"));
    machine.Add(Keyboard("hidraw1"));
    FakeInterface refused = Kvqm31xMouse("hidraw2");
    refused.openError = EACCES;
    machine.Add(refused);
    FakeInterface absent = Keyboard("hidraw3");
    absent.nodeInDev = false;
    machine.Add(absent);
    HidrawPlatform platform(machine.root, machine.calls);

    EXPECT_EQ(CountHidDevices(platform), 2);
    EXPECT_EQ(CountHidDevices(platform), 2);
    EXPECT_TRUE(machine.calls->openFlags.empty());
    ASSERT_EQ(machine.calls->accessed.size(), 6u);
    for (const auto& [path, mode] : machine.calls->accessed) {
        EXPECT_EQ(mode, R_OK | W_OK) << path;
    }
    EXPECT_THAT(platform.TakeOperatorNotice(), HasSubstr("permission denied"));
}

TEST(HidrawPlatform, AttributesTakeTheReleaseNumberOnlyFromAUsbDevice) {
    FakeHidrawMachine machine;
    const std::string usb = machine.Add(Kvqm31xMouse("hidraw0"));
    FakeInterface radio = Kvqm31xMouse("hidraw1");
    radio.placement = Placement::BluetoothBehindUsbRadio;
    radio.usbRelease = 0x0888;
    const std::string bluetooth = machine.Add(radio);
    FakeInterface uhid = Kvqm31xMouse("hidraw2");
    uhid.placement = Placement::VirtualUhid;
    const std::string virtualMouse = machine.Add(uhid);
    FakeInterface noRawInfo = Kvqm31xMouse("hidraw3");
    noRawInfo.product = 0x0A42;
    noRawInfo.usbRelease = 0x0100;
    noRawInfo.rawInfoFails = true;
    const std::string fromUevent = machine.Add(noRawInfo);

    HidrawPlatform platform(machine.root, machine.calls);
    platform.EnumerateInterfaces();
    auto attributesOf = [&](const std::string& path) {
        HidAttributes attributes;
        EXPECT_TRUE(platform.GetAttributes(platform.Open(path), attributes)) << path;
        return std::vector<int>{attributes.vendorId, attributes.productId,
                                attributes.versionNumber};
    };
    EXPECT_THAT(attributesOf(usb), ElementsAre(0x3C5E, 0x0A31, 0x0104));
    EXPECT_THAT(attributesOf(bluetooth), ElementsAre(0x3C5E, 0x0A31, 0));
    EXPECT_THAT(attributesOf(virtualMouse), ElementsAre(0x3C5E, 0x0A31, 0));
    EXPECT_THAT(attributesOf(fromUevent), ElementsAre(0x3C5E, 0x0A42, 0x0100));

    HidAttributes untouched;
    EXPECT_FALSE(platform.GetAttributes(InvalidHandle, untouched));
    EXPECT_FALSE(platform.GetAttributes(1234, untouched));
}

TEST(HidrawPlatform, FeatureReportLengthComesFromTheReportDescriptor) {
    FakeHidrawMachine machine;
    FakeInterface second = Kvqm31xMouse("hidraw1");
    second.descriptor = Kvqm42xxMouseDescriptor;
    FakeInterface truncated = Kvqm31xMouse("hidraw3");
    truncated.descriptor.pop_back();
    FakeInterface oversized = Kvqm31xMouse("hidraw4");
    oversized.descriptor.resize(HID_MAX_DESCRIPTOR_SIZE + 1, 0x00);
    FakeInterface empty = Kvqm31xMouse("hidraw5");
    empty.descriptor.clear();
    const std::vector<std::pair<FakeInterface, int>> cases = {{Kvqm31xMouse("hidraw0"), 8},
                                                              {second, 8},
                                                              {Keyboard("hidraw2"), 0},
                                                              {truncated, 0},
                                                              {oversized, 0},
                                                              {empty, 0}};
    for (const auto& [interface, length] : cases) {
        machine.Add(interface);
    }
    HidrawPlatform platform(machine.root, machine.calls);
    const std::vector<std::string> paths = platform.EnumerateInterfaces();
    ASSERT_EQ(paths.size(), cases.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(platform.GetFeatureReportLength(platform.Open(paths[i])), cases[i].second)
            << paths[i];
    }
    EXPECT_EQ(platform.GetFeatureReportLength(InvalidHandle), 0);
}

// Windows would give each top-level collection a path of its own; the 8-byte one is the mouse.
TEST(HidrawPlatform, CompositeMiceAreFoundThroughTheirEightByteCollection) {
    FakeHidrawMachine machine;
    FakeInterface first = Kvqm31xMouse("hidraw0");
    first.descriptor = CompositeKvqm31xDescriptor;
    first.featureReports[4] = {4, 3, 0, 0, 0, 0, 0, 204};
    first.featureReports[5] = std::vector<std::uint8_t>(16, 5);
    const std::string firstPath = machine.Add(first);
    FakeInterface second = Kvqm31xMouse("hidraw1");
    second.product = 0x0A42;
    second.descriptor = CompositeKvqm42xxDescriptor;
    second.featureReports[0x41] = {0x41, 1, 2, 3, 4, 5, 6, 7};
    const std::string secondPath = machine.Add(second);
    machine.Add(Keyboard("hidraw2"));
    HidrawPlatform platform(machine.root, machine.calls);
    VirtualClock clock;
    NoLinkProgress host;

    platform.EnumerateInterfaces();
    // A mouse's interfaces count as one device: the USB device above them.
    const std::string device = platform.DeviceOfInterface(firstPath);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(device) / "bcdDevice")) << device;
    EXPECT_NE(platform.DeviceOfInterface(secondPath), device);
    const HidHandle listed = platform.Open(firstPath);
    EXPECT_EQ(platform.GetFeatureReportLengths(listed), (std::vector<std::uint16_t>{16, 8}));
    platform.Close(listed);

    Kvqm31xLink link31(platform, clock, host);
    int releaseNumber = 0x0104;
    // Only the node whose uevent names the link's vendor and product is opened: the others
    // (the second family's mouse, the keyboard) are not woken.
    std::size_t opens = machine.calls->openFlags.size();
    ASSERT_TRUE(link31.Open(0x3C5E, 0x0A31, releaseNumber));
    EXPECT_EQ(machine.calls->openFlags.size() - opens, 1u);
    EXPECT_EQ(platform.GetFeatureReportLength(link31.Handle()), 8);
    EXPECT_TRUE(link31.SendCommand(Kvqm31xLink::CmdStatus));
    // The other collection's report stays off the narrowed handle, as Windows keeps it off
    // the 8-byte collection's path.
    const std::size_t transfers = machine.calls->calls.size();
    std::uint8_t foreign[8] = {5};
    EXPECT_FALSE(platform.GetFeature(link31.Handle(), foreign, sizeof foreign));
    EXPECT_EQ(machine.calls->calls.size(), transfers);
    EXPECT_EQ(platform.LastTransferError(),
              "HIDIOCGFEATURE(8) " + firstPath + ": report 0x05 is not in the collection opened");

    Kvqm42xxLink link42(platform, clock, host);
    opens = machine.calls->openFlags.size();
    ASSERT_TRUE(link42.Open(0x3C5E, 0x0A42));
    EXPECT_EQ(machine.calls->openFlags.size() - opens, 1u);
    EXPECT_NE(link42.CommandHandle(), InvalidHandle);
    EXPECT_EQ(link42.DataHandle(), link42.CommandHandle());

    // The link keeps the platform's reason of the transfer that failed.
    EXPECT_EQ(link42.LastTransferError(), "");
    machine.calls->unplugged.insert(secondPath);
    const std::uint8_t data[7] = {1, 2, 3, 4, 5, 6, 7};
    EXPECT_FALSE(link42.WriteMemory(0, 7, data));
    EXPECT_EQ(link42.LastTransferError(), "HIDIOCSFEATURE(8) " + secondPath + ": No such device");
}

// The kernel gives a gone node's name to the next device at once: a mouse swapped for another
// between two looks must not pass for the same one.
TEST(HidrawPlatform, ANodeNameHandedToTheNextDeviceIsAnotherConnection) {
    FakeHidrawMachine machine;
    const std::string path = machine.Add(Kvqm31xMouse("hidraw0"));
    HidrawPlatform platform(machine.root, machine.calls);
    platform.EnumerateInterfaces();
    const std::string first = platform.ConnectionOfInterface(path);
    EXPECT_EQ(platform.ConnectionOfInterface(path), first);
    std::filesystem::remove(machine.root / "sys/class/hidraw/hidraw0");
    ASSERT_EQ(machine.Add(Kvqm31xMouse("hidraw0")), path);
    EXPECT_EQ(platform.EnumerateInterfaces(), std::vector<std::string>{path});
    EXPECT_NE(platform.ConnectionOfInterface(path), first);
}

TEST(HidrawPlatform, FeatureTransfersCarryTheReportIdAndWholeLengthAndFailWhenShort) {
    FakeHidrawMachine machine;
    FakeInterface mouse = Kvqm31xMouse("hidraw0");
    mouse.descriptor = Kvqm42xxMouseDescriptor;
    mouse.featureReports[0x41] = {0x41, 1, 2, 3, 4, 5, 6, 7};
    mouse.featureReports[0x42] = {0x42, 1, 2, 3, 4};
    mouse.setFeatureResult = [](std::size_t length) { return static_cast<int>(length) - 1; };
    const std::string shortWriter = machine.Add(mouse);
    mouse.node = "hidraw1";
    mouse.setFeatureResult = nullptr;
    const std::string path = machine.Add(mouse);
    HidrawPlatform platform(machine.root, machine.calls);
    const HidHandle handle = platform.Open(path);

    const std::uint8_t probe[8] = {0x40, 0x0D, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(platform.SetFeature(handle, probe, sizeof probe));
    const RecordedCall& set = machine.calls->calls.back();
    EXPECT_EQ(set.request, HIDIOCSFEATURE(8));
    EXPECT_EQ(set.bytes, std::vector<std::uint8_t>(probe, probe + 8));

    std::uint8_t report[8] = {0x41};
    EXPECT_TRUE(platform.GetFeature(handle, report, sizeof report));
    EXPECT_EQ(machine.calls->calls.back().request, HIDIOCGFEATURE(8));
    EXPECT_THAT(report, ElementsAre(0x41, 1, 2, 3, 4, 5, 6, 7));
    EXPECT_EQ(platform.LastTransferError(), "");

    // A failed transfer keeps its call, its node and the reason.
    std::uint8_t shortReport[8] = {0x42};
    EXPECT_FALSE(platform.GetFeature(handle, shortReport, sizeof shortReport));
    EXPECT_EQ(platform.LastTransferError(),
              "HIDIOCGFEATURE(8) " + path + ": short transfer of 5 bytes");
    std::uint8_t stalled[8] = {0x43};
    EXPECT_FALSE(platform.GetFeature(handle, stalled, sizeof stalled));
    EXPECT_EQ(platform.LastTransferError(), "HIDIOCGFEATURE(8) " + path + ": Broken pipe");
    EXPECT_FALSE(platform.SetFeature(platform.Open(shortWriter), probe, sizeof probe));

    const std::size_t callsBefore = machine.calls->calls.size();
    EXPECT_FALSE(platform.SetFeature(handle, probe, 0));
    EXPECT_FALSE(platform.SetFeature(handle, nullptr, 8));
    EXPECT_FALSE(platform.GetFeature(InvalidHandle, report, sizeof report));
    EXPECT_EQ(platform.LastTransferError(), "HIDIOCGFEATURE(8) handle -1: Bad file descriptor");
    EXPECT_EQ(machine.calls->calls.size(), callsBefore);

    // A mouse pulled out leaves a stale handle whose transfers fail.
    machine.calls->unplugged.insert(path);
    EXPECT_FALSE(platform.SetFeature(handle, probe, sizeof probe));
    EXPECT_EQ(platform.LastTransferError(), "HIDIOCSFEATURE(8) " + path + ": No such device");
    EXPECT_FALSE(platform.GetFeature(handle, report, sizeof report));
}

std::string RuleLineOf(const std::string& notice) {
    const std::size_t start = notice.find("SUBSYSTEM==");
    return start == std::string::npos ? "" : notice.substr(start, notice.find('\n', start) - start);
}

TEST(HidrawPlatform, PermissionNoticeComesOnceWhenNodesRefuseTheUser) {
    FakeHidrawMachine machine;
    FakeInterface keyboard = Keyboard("hidraw0");
    keyboard.openError = EACCES;
    machine.Add(keyboard);
    FakeInterface mouse = Kvqm31xMouse("hidraw1");
    mouse.openError = EACCES;
    machine.Add(mouse);
    HidrawPlatform platform(machine.root, machine.calls);

    // Not before the walk has tried every node.
    platform.Open(platform.EnumerateInterfaces().front());
    EXPECT_EQ(platform.TakeOperatorNotice(), "");

    EXPECT_EQ(CountOpenable(platform), 0);
    const std::string notice = platform.TakeOperatorNotice();
    EXPECT_THAT(notice, HasSubstr("permission denied"));
    EXPECT_THAT(notice, HasSubstr("/etc/udev/rules.d"));
    EXPECT_THAT(notice, HasSubstr("udevadm control --reload-rules && udevadm trigger"));
    EXPECT_THAT(notice, HasSubstr("plug it in again"));
    std::ifstream ruleFile(VRAX_UDEV_RULE_FILE);
    const std::string rules((std::istreambuf_iterator<char>(ruleFile)), {});
    ASSERT_FALSE(RuleLineOf(notice).empty());
    EXPECT_THAT(rules, HasSubstr(RuleLineOf(notice) + "\n"));

    CountOpenable(platform);
    EXPECT_EQ(platform.TakeOperatorNotice(), "");
}

TEST(HidrawPlatform, PermissionNoticeNamesTheMouseEvenWhenOtherDevicesOpen) {
    struct Case {
        int keyboardError;
        int mouseError;
        bool notice;
    };
    for (const Case& c : {Case{0, EACCES, true}, Case{EPERM, 0, false}, Case{EPERM, ENOENT, true},
                          Case{ENODEV, ENOENT, false}}) {
        FakeHidrawMachine machine;
        FakeInterface keyboard = Keyboard("hidraw0");
        keyboard.openError = c.keyboardError;
        FakeInterface mouse = Kvqm31xMouse("hidraw1");
        mouse.openError = c.mouseError;
        machine.Add(keyboard);
        machine.Add(mouse);
        HidrawPlatform platform(machine.root, machine.calls);
        CountOpenable(platform);
        EXPECT_EQ(platform.TakeOperatorNotice().empty(), !c.notice)
            << c.keyboardError << " " << c.mouseError;
    }
}

TEST(HidrawPlatform, RealCallsReportErrorsAsNegativeErrno) {
    RealHidrawSystemCalls calls;
    EXPECT_EQ(calls.Open("/nonexistent/hidraw0", O_RDWR | O_CLOEXEC), -ENOENT);
    const int descriptor = calls.Open("/dev/null", O_RDWR | O_CLOEXEC);
    ASSERT_GE(descriptor, 0);
    int size = 0;
    EXPECT_EQ(calls.Ioctl(descriptor, HIDIOCGRDESCSIZE, &size), -ENOTTY);
    EXPECT_EQ(calls.Close(descriptor), 0);
    EXPECT_EQ(calls.Close(descriptor), -EBADF);

    HidrawPlatform machinePlatform;
    for (const std::string& path : machinePlatform.EnumerateInterfaces()) {
        EXPECT_EQ(path.rfind("/dev/", 0), 0u) << path;
    }
}

// The line's gang shares one platform: its threads open, transfer and close while the line
// walks. A descriptor number that one thread closes and another reopens keeps the new node's
// name; the thread sanitizer sees any bookkeeping left unguarded.
TEST(HidrawPlatform, AGangsThreadsShareOnePlatformWhileTheLineWalks) {
    FakeHidrawMachine machine;
    const std::string first = machine.Add(Kvqm31xMouse("hidraw0"));
    const std::string second = machine.Add(Kvqm31xMouse("hidraw1"));
    HidrawPlatform platform(machine.root, std::make_shared<RealHidrawSystemCalls>());
    std::atomic<int> finished{0};
    const auto mouse = [&](const std::string& path) {
        for (int i = 0; i < 300; ++i) {
            const HidHandle handle = platform.Open(path);
            EXPECT_NE(handle, InvalidHandle);
            std::uint8_t report[8] = {Kvqm31xLink::ReportId};
            EXPECT_FALSE(platform.GetFeature(handle, report, sizeof report)); // not a hidraw node
            EXPECT_THAT(platform.LastTransferError(), HasSubstr(path + ": "));
            platform.Close(handle);
        }
        ++finished;
    };
    std::thread one(mouse, first);
    std::thread other(mouse, second);
    while (finished < 2) {
        EXPECT_THAT(platform.EnumerateInterfaces(), ElementsAre(first, second));
        EXPECT_EQ(platform.TakeOperatorNotice(), "");
    }
    one.join();
    other.join();
}

} // namespace
} // namespace vrax::test
