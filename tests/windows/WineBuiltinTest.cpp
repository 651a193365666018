#include "device/HidDiscovery.h"
#include "device/windows/WindowsHidPlatform.h"

#include <windows.h>

#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace vrax {
namespace {

// Wine names a built-in library after the file beside the program it stands in for, so the
// replacements are told apart by their test controls instead.
bool IsReplacement(const char* library, const char* control) {
    HMODULE module = GetModuleHandleA(library);
    return module != nullptr && GetProcAddress(module, control) != nullptr;
}

// The same walk written directly against the system's setupapi, as a reference count.
int InterfacesPresent() {
    GUID hidClass{};
    HidD_GetHidGuid(&hidClass);
    HDEVINFO set =
        SetupDiGetClassDevsA(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return -1;
    }
    int count = 0;
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof(interfaceData);
    while (SetupDiEnumDeviceInterfaces(set, nullptr, &hidClass, static_cast<DWORD>(count),
                                       &interfaceData)) {
        ++count;
    }
    SetupDiDestroyDeviceInfoList(set);
    return count;
}

// Wine's own setupapi.dll and hid.dll stand where Windows' would: the binding finds every
// operation by name and the walk runs through to the end.
TEST(WineBuiltinLibraries, BindAndWalkWithoutError) {
    WindowsHidPlatform platform;
    const std::vector<std::string> paths = platform.EnumerateInterfaces();

    ASSERT_TRUE(platform.SetupApiBound());
    ASSERT_TRUE(platform.HidBound());
    EXPECT_FALSE(IsReplacement("setupapi.dll", "VraxSetupApi_Reset"));
    EXPECT_FALSE(IsReplacement("hid.dll", "VraxHid_Reset"));
    EXPECT_TRUE(platform.LastWalk().setOpened);
    EXPECT_EQ(platform.LastWalk().interfaces, InterfacesPresent());
    EXPECT_EQ(platform.LastWalk().pathsRead, platform.LastWalk().interfaces);
    EXPECT_EQ(static_cast<int>(paths.size()), platform.LastWalk().pathsRead);

    // Wine's own virtual devices answer the HID calls as Windows' class driver would.
    for (const std::string& path : paths) {
        const HidHandle handle = platform.Open(path);
        if (handle == InvalidHandle) {
            continue;
        }
        HidAttributes attributes;
        EXPECT_TRUE(platform.GetAttributes(handle, attributes)) << path;
        EXPECT_NE(attributes.vendorId, 0) << path;
        std::printf("  %s: %04X:%04X release %04X, feature reports of %u bytes\n", path.c_str(),
                    attributes.vendorId, attributes.productId, attributes.versionNumber,
                    static_cast<unsigned>(platform.GetFeatureReportLength(handle)));
        platform.Close(handle);
    }

    const int count = CountHidDevices(platform);
    EXPECT_GE(count, 0);
    EXPECT_LE(count, static_cast<int>(paths.size()));
    EXPECT_EQ(platform.SetupApiUseCount(), 2u);
    std::printf("Wine presents %zu HID interfaces, %d of them open\n", paths.size(), count);
}

} // namespace
} // namespace vrax
