#include "device/DeviceArrivalSource.h"
#include "device/HidDiscovery.h"
#include "device/windows/WindowsHidPlatform.h"
#include "tests/windows/ReplacementFixture.h"

#include <dbt.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace vrax::wine {
namespace {

constexpr GUID PublishedHidGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

bool Loaded(const std::string& path) {
    return GetModuleHandleA(path.c_str()) != nullptr;
}

// Wine may name a built-in library after a file it stands in for, so a replacement is told
// by its test controls.
bool AnyReplacementLoaded() {
    HMODULE modules[512];
    DWORD needed = 0;
    if (!EnumProcessModules(GetCurrentProcess(), modules, sizeof(modules), &needed)) {
        return true;
    }
    for (DWORD i = 0; i < needed / sizeof(HMODULE) && i < 512; ++i) {
        if (GetProcAddress(modules[i], "VraxHid_Reset") != nullptr ||
            GetProcAddress(modules[i], "VraxSetupApi_Reset") != nullptr) {
            return true;
        }
    }
    return false;
}

// hid.dll is no known DLL: Windows loads a copy planted beside the program or in the working
// folder before its own. Both folders hold the replacements here, and Wine is told to prefer
// such copies as Windows would.
TEST(WindowsDefaultBinding, LoadsNoPlantedCopyFromTheProgramOrWorkingFolder) {
    TemporaryFolder working;
    ASSERT_TRUE(working.CopyLibrary("hid.dll", "hid.dll"));
    ASSERT_TRUE(working.CopyLibrary("setupapi.dll", "setupapi.dll"));
    char previous[MAX_PATH];
    ASSERT_NE(GetCurrentDirectoryA(MAX_PATH, previous), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(working.Path().c_str()));
    {
        WindowsHidPlatform platform;
        platform.EnumerateInterfaces();
        EXPECT_TRUE(platform.SetupApiBound());
        EXPECT_TRUE(platform.HidBound());
        EXPECT_FALSE(AnyReplacementLoaded());
    }
    SetCurrentDirectoryA(previous);

    // The copies would have been taken by name.
    HMODULE planted = LoadLibraryA("hid.dll");
    EXPECT_TRUE(AnyReplacementLoaded());
    FreeLibrary(planted);
}

using WindowsBinding = ReplacementFixture;

TEST_F(WindowsBinding, DeviceSetupLibraryIsLoadedOnceAndCountsEveryRequest) {
    ASSERT_TRUE(folder.CopyLibrary("setupapi.dll", "setupapi-once.dll"));
    const std::string setupApi = folder.PathOf("setupapi-once.dll");
    {
        WindowsHidPlatform platform({setupApi, ReplacementLibraryFiles().hid});
        EXPECT_EQ(platform.SetupApiUseCount(), 0u);
        for (int walk = 0; walk < 3; ++walk) {
            platform.EnumerateInterfaces();
            EXPECT_TRUE(platform.LastWalk().setOpened);
        }
        EXPECT_TRUE(platform.SetupApiBound());
        EXPECT_TRUE(platform.HidBound());
        EXPECT_EQ(platform.SetupApiUseCount(), 3u);
        EXPECT_TRUE(Loaded(setupApi));
    }
    // One release undoes it: the library was loaded a single time.
    EXPECT_FALSE(Loaded(setupApi));
}

TEST_F(WindowsBinding, MissingDeviceSetupLibraryFindsNothingAndIsTriedAgain) {
    const std::string setupApi = folder.PathOf("setupapi-later.dll");
    replacements.AddInterface(folder.MakeFile("keyboard"));
    WindowsHidPlatform platform({setupApi, ReplacementLibraryFiles().hid});

    EXPECT_TRUE(platform.EnumerateInterfaces().empty());
    EXPECT_EQ(CountHidDevices(platform), 0);
    EXPECT_FALSE(platform.SetupApiBound());
    EXPECT_FALSE(platform.HidBound()) << "the HID library is only bound after device setup";
    EXPECT_FALSE(platform.LastWalk().setOpened);

    ASSERT_TRUE(folder.CopyLibrary("setupapi.dll", "setupapi-later.dll"));
    platform.EnumerateInterfaces();
    EXPECT_TRUE(platform.SetupApiBound());
    EXPECT_TRUE(platform.HidBound());
    EXPECT_EQ(platform.SetupApiUseCount(), 1u);
    EXPECT_TRUE(platform.LastWalk().setOpened);
}

TEST_F(WindowsBinding, WithoutTheHidLibraryTheWalkUsesThePublishedClass) {
    const std::string hid = folder.PathOf("hid-later.dll");
    const std::string keyboard = folder.MakeFile("keyboard");
    replacements.AddInterface(keyboard);
    WindowsHidPlatform platform({ReplacementLibraryFiles().setupApi, hid});

    EXPECT_EQ(platform.EnumerateInterfaces(), std::vector<std::string>{keyboard});
    EXPECT_TRUE(platform.SetupApiBound());
    EXPECT_FALSE(platform.HidBound());
    GUID classGuid{};
    DWORD flags = 0;
    replacements.lastClassDevs(&classGuid, &flags);
    EXPECT_TRUE(IsEqualGUID(classGuid, PublishedHidGuid));
    EXPECT_EQ(flags, 0x12u);

    const HidHandle handle = platform.Open(keyboard);
    ASSERT_NE(handle, InvalidHandle);
    HidAttributes attributes;
    EXPECT_FALSE(platform.GetAttributes(handle, attributes));
    EXPECT_EQ(platform.GetFeatureReportLength(handle), 0);
    const std::uint8_t report[8] = {4};
    EXPECT_FALSE(platform.SetFeature(handle, report, sizeof(report)));
    platform.Close(handle);

    ASSERT_TRUE(folder.CopyLibrary("hid.dll", "hid-later.dll"));
    EXPECT_EQ(platform.EnumerateInterfaces(), std::vector<std::string>{keyboard});
    EXPECT_TRUE(platform.HidBound());
    const auto copyRequests =
        Control<HidCountFn>(GetModuleHandleA(hid.c_str()), "VraxHid_GuidRequests");
    ASSERT_NE(copyRequests, nullptr);
    EXPECT_EQ(copyRequests(), 1) << "the class comes from HidD_GetHidGuid once bound";
}

TEST_F(WindowsBinding, LibraryMissingAnOperationIsReleasedClearedAndRetried) {
    const std::string hid = folder.PathOf("hid-swap.dll");
    const std::string setupApi = folder.PathOf("setupapi-swap.dll");
    ASSERT_TRUE(folder.CopyLibrary("hid-incomplete.dll", "hid-swap.dll"));
    ASSERT_TRUE(folder.CopyLibrary("setupapi-incomplete.dll", "setupapi-swap.dll"));
    const PluggedDevice mouse = replacements.Plug(folder, "kvqm31x", 0x3C5E, 0x0A31, 0x0104);

    WindowsHidPlatform hidIncomplete({ReplacementLibraryFiles().setupApi, hid});
    EXPECT_EQ(hidIncomplete.EnumerateInterfaces(), mouse.paths);
    EXPECT_FALSE(hidIncomplete.HidBound());
    EXPECT_FALSE(Loaded(hid));
    // The operations looked up before the missing one are gone too.
    const HidHandle handle = hidIncomplete.Open(mouse.paths[0]);
    ASSERT_NE(handle, InvalidHandle);
    HidAttributes attributes;
    EXPECT_FALSE(hidIncomplete.GetAttributes(handle, attributes));
    hidIncomplete.Close(handle);

    WindowsHidPlatform setupIncomplete({setupApi, ReplacementLibraryFiles().hid});
    EXPECT_TRUE(setupIncomplete.EnumerateInterfaces().empty());
    EXPECT_FALSE(setupIncomplete.SetupApiBound());
    EXPECT_EQ(setupIncomplete.SetupApiUseCount(), 0u);
    EXPECT_FALSE(Loaded(setupApi));

    // A released file can be replaced; the next request binds the complete library.
    ASSERT_TRUE(folder.CopyLibrary("hid.dll", "hid-swap.dll"));
    ASSERT_TRUE(folder.CopyLibrary("setupapi.dll", "setupapi-swap.dll"));
    hidIncomplete.EnumerateInterfaces();
    EXPECT_TRUE(hidIncomplete.HidBound());
    setupIncomplete.EnumerateInterfaces();
    EXPECT_TRUE(setupIncomplete.SetupApiBound());
    EXPECT_EQ(setupIncomplete.SetupApiUseCount(), 1u);
}

using WindowsWalk = ReplacementFixture;

TEST_F(WindowsWalk, CountsThePresentInterfacesThatOpen) {
    const std::string first = folder.MakeFile("first");
    const std::string second = folder.MakeFile("second");
    const std::string unplugged = folder.PathOf("unplugged");
    const std::string absent = folder.MakeFile("absent");
    const std::string last = folder.MakeFile("last");
    replacements.AddInterface(first);
    replacements.AddInterface(second);
    replacements.AddInterface(unplugged);
    replacements.AddInterface(absent, false);
    replacements.AddInterface(last);
    WindowsHidPlatform platform(ReplacementLibraryFiles());

    EXPECT_EQ(platform.EnumerateInterfaces(),
              (std::vector<std::string>{first, second, unplugged, last}));
    EXPECT_EQ(platform.LastWalk().interfaces, 4);
    EXPECT_EQ(platform.LastWalk().pathsRead, 4);
    EXPECT_EQ(CountHidDevices(platform), 3);
    EXPECT_EQ(CountHidDevices(platform), 3);
    EXPECT_EQ(platform.SetupApiUseCount(), 3u);

    GUID classGuid{};
    DWORD flags = 0;
    replacements.lastClassDevs(&classGuid, &flags);
    EXPECT_TRUE(IsEqualGUID(classGuid, PublishedHidGuid));
    EXPECT_EQ(flags, 0x12u);
    EXPECT_EQ(replacements.guidRequests(), 3);
}

// A gang's threads walk one platform at once from its first use: the library is loaded once,
// every request counted, and the last walk is one walk's figures, never a sum of several.
TEST_F(WindowsWalk, AGangsThreadsWalkOnePlatformAtOnce) {
    for (const char* name : {"first", "second", "third"}) {
        replacements.AddInterface(folder.MakeFile(name));
    }
    WindowsHidPlatform platform(ReplacementLibraryFiles());
    constexpr int Threads = 4;
    constexpr int Walks = 100;
    std::atomic<int> waiting{Threads};
    std::atomic<int> wrong{0};
    std::vector<std::thread> gang;
    for (int thread = 0; thread < Threads; ++thread) {
        gang.emplace_back([&] {
            for (--waiting; waiting > 0;) {
            }
            for (int walk = 0; walk < Walks; ++walk) {
                const std::size_t found = platform.EnumerateInterfaces().size();
                const WindowsHidWalk last = platform.LastWalk();
                wrong += found != 3 || last.interfaces != 3 || last.pathsRead != 3 ? 1 : 0;
            }
        });
    }
    for (std::thread& thread : gang) {
        thread.join();
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(platform.SetupApiUseCount(), static_cast<unsigned long>(Threads * Walks));
    EXPECT_EQ(replacements.guidRequests(), Threads * Walks);
}

TEST_F(WindowsWalk, InterfacesWhoseDetailFailsAreSkippedAndTheWalkGoesOn) {
    const std::string first = folder.MakeFile("first");
    const std::string second = folder.MakeFile("second");
    const std::string last = folder.MakeFile("last");
    replacements.AddInterface(folder.MakeFile("refused-size"), true, DetailSizeRefused);
    replacements.AddInterface(first);
    replacements.AddInterface(folder.MakeFile("zero-size"), true, DetailSizeZero);
    replacements.AddInterface(second);
    replacements.AddInterface(folder.MakeFile("refused-fetch"), true, DetailFetchRefused);
    replacements.AddInterface(last);
    WindowsHidPlatform platform(ReplacementLibraryFiles());

    EXPECT_EQ(platform.EnumerateInterfaces(), (std::vector<std::string>{first, second, last}));
    EXPECT_EQ(platform.LastWalk().interfaces, 6);
    EXPECT_EQ(platform.LastWalk().pathsRead, 3);
    EXPECT_EQ(CountHidDevices(platform), 3);
}

TEST_F(WindowsWalk, LongPathsComeBackWhole) {
    const std::string path = folder.MakeFile(std::string(150, 'p'));
    replacements.AddInterface(path);
    WindowsHidPlatform platform(ReplacementLibraryFiles());
    EXPECT_EQ(platform.EnumerateInterfaces(), std::vector<std::string>{path});
    EXPECT_EQ(CountHidDevices(platform), 1);
}

TEST_F(WindowsWalk, WithoutADeviceSetTheCountIsZeroUntilItReturns) {
    replacements.AddInterface(folder.MakeFile("keyboard"));
    replacements.failClassDevs(1);
    WindowsHidPlatform platform(ReplacementLibraryFiles());
    EXPECT_EQ(CountHidDevices(platform), 0);
    EXPECT_FALSE(platform.LastWalk().setOpened);

    replacements.failClassDevs(0);
    EXPECT_EQ(CountHidDevices(platform), 1);
}

TEST_F(WindowsWalk, FeatureReportsTravelWithExactlyTheReportLength) {
    const PluggedDevice mouse = replacements.Plug(folder, "kvqm31x", 0x3C5E, 0x0A31, 0x0104);
    const PluggedDevice keyboard = replacements.Plug(folder, "plain", 0x1C4F, 0x0002, 0x0110, 0);
    WindowsHidPlatform platform(ReplacementLibraryFiles());
    platform.EnumerateInterfaces();

    const HidHandle handle = platform.Open(mouse.paths[0]);
    ASSERT_NE(handle, InvalidHandle);
    HidAttributes attributes;
    ASSERT_TRUE(platform.GetAttributes(handle, attributes));
    EXPECT_EQ(attributes.vendorId, 0x3C5E);
    EXPECT_EQ(attributes.productId, 0x0A31);
    EXPECT_EQ(attributes.versionNumber, 0x0104);
    EXPECT_EQ(platform.GetFeatureReportLength(handle), 8);

    const std::uint8_t status[8] = {4, 3};
    EXPECT_TRUE(platform.SetFeature(handle, status, 8));
    std::uint8_t reply[8] = {4};
    EXPECT_TRUE(platform.GetFeature(handle, reply, 8));
    EXPECT_EQ(reply[7], 204);
    // A shorter buffer is what Windows refuses; the replacement counts it as a broken rule.
    EXPECT_FALSE(platform.SetFeature(handle, status, 7));
    EXPECT_EQ(replacements.hidRuleViolations(), 1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    platform.Close(handle);

    const HidHandle plain = platform.Open(keyboard.paths[1]);
    ASSERT_NE(plain, InvalidHandle);
    EXPECT_EQ(platform.GetFeatureReportLength(plain), 0);
    EXPECT_FALSE(platform.GetFeature(plain, reply, 8));
    platform.Close(plain);

    EXPECT_FALSE(platform.GetAttributes(InvalidHandle, attributes));
    expectedHidRuleViolations = 1;
}

// What the system sends on a plug-in or unplug; a real one comes only from a real device.
TEST(WindowsArrivalWatch, HidArrivalsAndRemovalsReachTheCallbackUntilTheWatchEnds) {
    std::atomic<int> changes{0};
    std::unique_ptr<DeviceArrivalWatch> watch =
        WatchSystemDeviceArrivals([&changes] { ++changes; });
    ASSERT_NE(watch, nullptr);
    const auto findWindow = [] {
        return FindWindowExW(HWND_MESSAGE, nullptr, L"VraxDeviceArrivalWatch", nullptr);
    };
    const HWND window = findWindow();
    ASSERT_NE(window, nullptr);
    DEV_BROADCAST_DEVICEINTERFACE_W notice{};
    notice.dbcc_size = sizeof(notice);
    notice.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    notice.dbcc_classguid = PublishedHidGuid;
    const auto lParam = reinterpret_cast<LPARAM>(&notice);
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, lParam);
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, lParam);
    EXPECT_EQ(changes, 2);
    watch.reset();
    EXPECT_EQ(findWindow(), nullptr);
}

} // namespace
} // namespace vrax::wine
