#include "device/windows/WindowsHidPlatform.h"

#include "device/windows/LibraryBinding.h"

#include <windows.h>

#include <setupapi.h>

// mingw's HID headers declare their functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace vrax {

namespace {

constexpr GUID PublishedHidGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

constexpr DWORD PresentDeviceInterfaces = 0x12;

// The record sizes are those of the process's own layout: 28, 5 and 28 in a 32-bit process;
// a 64-bit Windows refuses those and wants 32, 8 and 32.
static_assert(sizeof(void*) != 4 ||
              (sizeof(SP_DEVICE_INTERFACE_DATA) == 28 &&
               sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5 && sizeof(SP_DEVINFO_DATA) == 28));
static_assert(sizeof(HIDP_CAPS) == 64);

HANDLE ToWindows(HidHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// Per thread: the line's gangs run their transfers on threads of their own.
thread_local std::string lastTransferError;

// "HidD_SetFeature: " and the system's text for the calling thread's last error.
bool NoteTransferError(const char* call) {
    const DWORD error = GetLastError();
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string reason = length > 0 && text != nullptr ? std::string(text, length)
                                                       : "error " + std::to_string(error);
    if (text != nullptr) {
        LocalFree(text);
    }
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) {
        reason.pop_back();
    }
    lastTransferError = std::string(call) + ": " + reason;
    return false;
}

} // namespace

struct WindowsHidPlatform::Bindings {
    explicit Bindings(const WindowsHidLibraries& libraries)
        : setupApi(libraries.setupApi), hid(libraries.hid) {
        setupApi.AddOperation("SetupDiGetClassDevsA", getClassDevs);
        setupApi.AddOperation("SetupDiEnumDeviceInterfaces", enumDeviceInterfaces);
        setupApi.AddOperation("SetupDiGetDeviceInterfaceDetailA", getDeviceInterfaceDetail);
        setupApi.AddOperation("SetupDiDestroyDeviceInfoList", destroyDeviceInfoList);
        hid.AddOperation("HidD_GetHidGuid", getHidGuid);
        hid.AddOperation("HidD_GetAttributes", getAttributes);
        hid.AddOperation("HidD_GetPreparsedData", getPreparsedData);
        hid.AddOperation("HidD_FreePreparsedData", freePreparsedData);
        hid.AddOperation("HidP_GetCaps", getCaps);
        hid.AddOperation("HidD_SetFeature", setFeature);
        hid.AddOperation("HidD_GetFeature", getFeature);
        hid.AddOperation("HidD_GetSerialNumberString", getSerialNumberString);
    }

    HDEVINFO(WINAPI* getClassDevs)(const GUID*, PCSTR, HWND, DWORD);
    BOOL(WINAPI* enumDeviceInterfaces)
    (HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD, PSP_DEVICE_INTERFACE_DATA);
    BOOL(WINAPI* getDeviceInterfaceDetail)
    (HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_A, DWORD, PDWORD,
     PSP_DEVINFO_DATA);
    BOOL(WINAPI* destroyDeviceInfoList)(HDEVINFO);

    void(NTAPI* getHidGuid)(LPGUID);
    BOOLEAN(NTAPI* getAttributes)(HANDLE, PHIDD_ATTRIBUTES);
    BOOLEAN(NTAPI* getPreparsedData)(HANDLE, PHIDP_PREPARSED_DATA*);
    BOOLEAN(NTAPI* freePreparsedData)(PHIDP_PREPARSED_DATA);
    NTSTATUS(NTAPI* getCaps)(PHIDP_PREPARSED_DATA, PHIDP_CAPS);
    BOOLEAN(NTAPI* setFeature)(HANDLE, PVOID, ULONG);
    BOOLEAN(NTAPI* getFeature)(HANDLE, PVOID, ULONG);
    BOOLEAN(NTAPI* getSerialNumberString)(HANDLE, PVOID, ULONG);

    // Declared after the operations they clear, so they go first.
    LibraryBinding setupApi;
    LibraryBinding hid;
};

WindowsHidPlatform::WindowsHidPlatform(WindowsHidLibraries libraries)
    : bindings_(std::make_unique<Bindings>(libraries)) {}

WindowsHidPlatform::~WindowsHidPlatform() = default;

std::vector<std::string> WindowsHidPlatform::EnumerateInterfaces() {
    WindowsHidWalk walk;
    std::vector<std::string> paths = Walk(walk);
    const std::lock_guard lock(walkMutex_);
    lastWalk_ = walk;
    return paths;
}

WindowsHidWalk WindowsHidPlatform::LastWalk() const {
    const std::lock_guard lock(walkMutex_);
    return lastWalk_;
}

std::vector<std::string> WindowsHidPlatform::Walk(WindowsHidWalk& walk) {
    Bindings& b = *bindings_;
    std::vector<std::string> paths;
    if (!b.setupApi.Request()) {
        return paths;
    }
    b.hid.Request();

    GUID classGuid = PublishedHidGuid;
    if (b.hid.IsBound()) {
        b.getHidGuid(&classGuid);
    }

    HDEVINFO set = b.getClassDevs(&classGuid, nullptr, nullptr, PresentDeviceInterfaces);
    if (set == INVALID_HANDLE_VALUE) {
        return paths;
    }
    walk.setOpened = true;

    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof(interfaceData);
        if (!b.enumDeviceInterfaces(set, nullptr, &classGuid, index, &interfaceData)) {
            break;
        }
        ++walk.interfaces;

        SP_DEVINFO_DATA deviceData{};
        deviceData.cbSize = sizeof(deviceData);
        DWORD required = 0;
        const BOOL sized =
            b.getDeviceInterfaceDetail(set, &interfaceData, nullptr, 0, &required, &deviceData);
        if (sized || GetLastError() != ERROR_INSUFFICIENT_BUFFER || required == 0) {
            continue;
        }

        // Never smaller than the record itself, so the size field always fits.
        std::vector<unsigned char> block(
            std::max<std::size_t>(required, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)), 0);
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(block.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!b.getDeviceInterfaceDetail(set, &interfaceData, detail, required, nullptr,
                                        &deviceData)) {
            continue;
        }
        const std::size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        if (required <= pathOffset) {
            continue;
        }
        const char* path = detail->DevicePath;
        paths.emplace_back(path, strnlen(path, required - pathOffset));
        ++walk.pathsRead;
    }

    b.destroyDeviceInfoList(set);
    return paths;
}

// Windows names each interface of a composite device apart, its instance part included (on
// Windows the parent interface's, under Wine the interface's index), so the path alone cannot
// tell that two interfaces are one mouse; their device's USB serial number can, where it has
// one.
std::string WindowsHidPlatform::DeviceOfInterface(const std::string& path) {
    const std::string key = HidPlatform::DeviceOfInterface(path);
    if (key == path || !bindings_->hid.IsBound()) {
        return key;
    }
    HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return key;
    }
    wchar_t serial[128] = {};
    const bool read =
        bindings_->getSerialNumberString(handle, serial, sizeof(serial) - sizeof(wchar_t)) != FALSE;
    CloseHandle(handle);
    if (!read || serial[0] == 0) {
        return key;
    }
    std::string text;
    for (const wchar_t* c = serial; *c != 0; ++c) {
        char unit[8];
        std::snprintf(unit, sizeof unit, *c > 0x20 && *c < 0x7F ? "%c" : "\\u%04X",
                      static_cast<unsigned>(*c));
        text += unit;
    }
    return path.substr(0, path.find("&mi_")) + "#serial#" + text;
}

HidHandle WindowsHidPlatform::Open(const std::string& path) {
    HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    return reinterpret_cast<HidHandle>(handle);
}

void WindowsHidPlatform::Close(HidHandle handle) {
    if (handle != InvalidHandle) {
        CloseHandle(ToWindows(handle));
    }
}

bool WindowsHidPlatform::GetAttributes(HidHandle handle, HidAttributes& attributes) {
    if (!bindings_->hid.IsBound()) {
        return false;
    }
    HIDD_ATTRIBUTES record{};
    record.Size = sizeof(record);
    if (!bindings_->getAttributes(ToWindows(handle), &record)) {
        return false;
    }
    attributes.vendorId = record.VendorID;
    attributes.productId = record.ProductID;
    attributes.versionNumber = record.VersionNumber;
    return true;
}

std::uint16_t WindowsHidPlatform::GetFeatureReportLength(HidHandle handle) {
    Bindings& b = *bindings_;
    if (!b.hid.IsBound()) {
        return 0;
    }
    HIDP_CAPS capabilities;
    std::memset(&capabilities, 0, sizeof(capabilities));
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    // Windows would read through a null preparsed pointer; without one the length stays 0.
    if (b.getPreparsedData(ToWindows(handle), &preparsed) && preparsed != nullptr) {
        b.getCaps(preparsed, &capabilities);
    }
    if (preparsed != nullptr) {
        b.freePreparsedData(preparsed);
    }
    return capabilities.FeatureReportByteLength;
}

bool WindowsHidPlatform::SetFeature(HidHandle handle, const std::uint8_t* buffer,
                                    std::size_t length) {
    lastTransferError.clear();
    if (!bindings_->hid.IsBound()) {
        return false;
    }
    // The library takes a writable buffer; the caller's report stays untouched.
    std::vector<std::uint8_t> report(buffer, buffer + length);
    return bindings_->setFeature(ToWindows(handle), report.data(), static_cast<ULONG>(length)) !=
               FALSE ||
           NoteTransferError("HidD_SetFeature");
}

bool WindowsHidPlatform::GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) {
    lastTransferError.clear();
    if (!bindings_->hid.IsBound()) {
        return false;
    }
    return bindings_->getFeature(ToWindows(handle), buffer, static_cast<ULONG>(length)) != FALSE ||
           NoteTransferError("HidD_GetFeature");
}

std::string WindowsHidPlatform::LastTransferError() {
    return lastTransferError;
}

bool WindowsHidPlatform::SetupApiBound() const {
    return bindings_->setupApi.IsBound();
}

bool WindowsHidPlatform::HidBound() const {
    return bindings_->hid.IsBound();
}

unsigned long WindowsHidPlatform::SetupApiUseCount() const {
    return bindings_->setupApi.UseCount();
}

} // namespace vrax
