#include "device/Clock.h"
#include "device/HidDiscovery.h"
#include "device/Kvqm31xLink.h"
#include "device/Kvqm42xxLink.h"
#include "device/LinkProgress.h"
#include "device/windows/WindowsHidPlatform.h"
#include "tests/windows/ReplacementFixture.h"

#include <gtest/gtest.h>

#include <array>

namespace vrax::wine {
namespace {

constexpr unsigned Vendor = 0x3C5E;
constexpr unsigned Product31x = 0x0A31;
constexpr unsigned Product42xx = 0x0A42;

using Image = std::array<std::uint8_t, 2048>;

Image Pattern(unsigned seed) {
    Image image{};
    for (std::size_t address = 0; address < image.size(); ++address) {
        image[address] = static_cast<std::uint8_t>((address * 7 + seed) ^ (address >> 3));
    }
    return image;
}

class WindowsDiscovery : public ReplacementFixture {
protected:
    Image DeviceMemory(int device) {
        Image image{};
        EXPECT_EQ(replacements.memory(device, image.data(), 0), 1);
        return image;
    }

    std::string FinalPath(const std::string& path) {
        HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        std::string finalPath = FinalPathOf(file);
        CloseHandle(file);
        return finalPath;
    }

    std::string FinalPath(HidHandle handle) {
        return FinalPathOf(reinterpret_cast<HANDLE>(handle));
    }

    WindowsHidPlatform platform{ReplacementLibraryFiles()};
    VirtualClock clock;
    NoLinkProgress host;
};

TEST_F(WindowsDiscovery, EachLinkFindsItsFamilyAmongEveryPresentInterface) {
    replacements.Plug(folder, "plain", 0x1C4F, 0x0002, 0x0110, 0);
    replacements.Plug(folder, "kvqm31x", Vendor, Product31x, 0x0104, 64);
    const PluggedDevice older = replacements.Plug(folder, "kvqm31x", Vendor, Product31x, 0x0100);
    const PluggedDevice mouse31x = replacements.Plug(folder, "kvqm31x", Vendor, Product31x, 0x0104);
    const PluggedDevice mouse42xx =
        replacements.Plug(folder, "kvqm42xx-two-interfaces", Vendor, Product42xx, 0x0123);

    EXPECT_EQ(CountHidDevices(platform), 7);

    Kvqm31xLink link31x(platform, clock, host);
    int release = 0x104;
    ASSERT_TRUE(link31x.Open(Vendor, Product31x, release));
    EXPECT_EQ(release, 0x104);
    EXPECT_EQ(FinalPath(link31x.Handle()), FinalPath(mouse31x.paths[0]))
        << "only the interface with release 0x104 and report length 8 matches";

    Kvqm42xxLink link42xx(platform, clock, host);
    ASSERT_TRUE(link42xx.Open(Vendor, Product42xx));
    EXPECT_EQ(link42xx.ReleaseNumber(), 0x0123);
    EXPECT_EQ(FinalPath(link42xx.CommandHandle()), FinalPath(mouse42xx.paths[0]));
    EXPECT_EQ(FinalPath(link42xx.DataHandle()), FinalPath(mouse42xx.paths[1]));

    Kvqm31xLink olderLink(platform, clock, host);
    release = 0x104;
    EXPECT_TRUE(olderLink.Open(Vendor, Product31x, release));
    release = 0x0100;
    ASSERT_TRUE(olderLink.Open(Vendor, Product31x, release));
    EXPECT_EQ(FinalPath(olderLink.Handle()), FinalPath(older.paths[0]));

    // The links' handles stay open while the count opens and closes every interface again.
    EXPECT_EQ(CountHidDevices(platform), 7);
}

TEST_F(WindowsDiscovery, Kvqm31xImageWrittenAndReadBackThroughTheWindowsBinding) {
    const PluggedDevice mouse = replacements.Plug(folder, "kvqm31x", Vendor, Product31x, 0x0104);
    ASSERT_EQ(replacements.setFaults(mouse.id, "busy=2"), 1);
    Kvqm31xLink link(platform, clock, host);
    int release = 0x104;
    ASSERT_TRUE(link.Open(Vendor, Product31x, release));

    const Image image = Pattern(31);
    ASSERT_TRUE(link.WriteMemory(0, 2048, image.data()));
    EXPECT_EQ(DeviceMemory(mouse.id), image);
    Image readBack{};
    ASSERT_TRUE(link.ReadMemory(0, 2048, readBack.data(), 2048));
    EXPECT_EQ(readBack, image);

    ASSERT_EQ(replacements.setFaults(mouse.id, "refuse-read-chunk=5"), 1);
    EXPECT_FALSE(link.ReadMemory(0, 2048, readBack.data(), 2048));
    link.Forget();
}

TEST_F(WindowsDiscovery, Kvqm42xxImageWrittenAndReadBackThroughTheWindowsBinding) {
    for (const char* model : {"kvqm42xx", "kvqm42xx-two-interfaces"}) {
        SCOPED_TRACE(model);
        replacements.Plug(folder, "plain", 0x1C4F, 0x0002, 0x0110, 0);
        const PluggedDevice mouse = replacements.Plug(folder, model, Vendor, Product42xx, 0x0100);
        Kvqm42xxLink link(platform, clock, host);
        ASSERT_TRUE(link.Open(Vendor, Product42xx));

        const Image image = Pattern(42);
        ASSERT_TRUE(link.WriteMemory(0, 2048, image.data()));
        EXPECT_EQ(DeviceMemory(mouse.id), image);
        Image readBack{};
        ASSERT_TRUE(link.ReadMemory(0, 2048, readBack.data(), 2048));
        EXPECT_EQ(readBack, image);

        ASSERT_EQ(replacements.setFaults(mouse.id, "drop-data=3"), 1);
        EXPECT_FALSE(link.WriteMemory(0, 2048, image.data()));
        link.Forget();
    }
}

} // namespace
} // namespace vrax::wine
