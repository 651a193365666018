// A stand-in for setupapi.dll that presents the interfaces a test registers and refuses every
// call Windows refuses: wrong record sizes, a wrong detail size field, short buffers. Safe to
// call from several threads at once, as the system's is.

#define _SETUPAPI_
#include <windows.h>

#include <setupapi.h>

#include "tests/windows/ReplacementControl.h"
#include "tests/windows/ReplacementDeviceList.h"

#include <cstddef>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#define REPLACEMENT_EXPORT extern "C" __declspec(dllexport)

namespace {

constexpr GUID HidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr GUID HidDeviceSetupClass = {
    0x745A17A0, 0x74D3, 0x11D0, {0xB6, 0xFE, 0x00, 0xA0, 0xC9, 0x0F, 0x57, 0xDA}};

struct Interface {
    std::string path;
    bool present = true;
    int detailFault = DetailAnswers;
};

struct DeviceSet {
    GUID classGuid{};
    std::vector<Interface> interfaces;
};

struct State {
    State() {
        for (const vrax::wine::ListedDevice& device : vrax::wine::ReadDeviceList()) {
            for (const std::string& path : device.paths) {
                interfaces.push_back({path});
            }
        }
    }

    std::vector<Interface> interfaces;
    bool failClassDevs = false;
    std::set<DeviceSet*> openSets;
    GUID lastClassGuid{};
    DWORD lastFlags = 0;
    int classDevsCalls = 0;
    int ruleViolations = 0;
};

State& Current() {
    static State state;
    return state;
}

std::mutex& Guard() {
    static std::mutex mutex;
    return mutex;
}

BOOL Refuse(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BOOL Violation(DWORD error) {
    ++Current().ruleViolations;
    return Refuse(error);
}

DeviceSet* Find(HDEVINFO set) {
    auto* candidate = static_cast<DeviceSet*>(set);
    return Current().openSets.count(candidate) != 0 ? candidate : nullptr;
}

} // namespace

REPLACEMENT_EXPORT HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, PCSTR, HWND,
                                                        DWORD flags) {
    const std::lock_guard lock(Guard());
    State& state = Current();
    ++state.classDevsCalls;
    state.lastFlags = flags;
    if (classGuid == nullptr && (flags & DIGCF_ALLCLASSES) == 0) {
        Violation(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (classGuid != nullptr) {
        state.lastClassGuid = *classGuid;
    }
    if (state.failClassDevs) {
        Refuse(ERROR_INVALID_DATA);
        return INVALID_HANDLE_VALUE;
    }
    auto* set = new DeviceSet;
    set->classGuid = classGuid != nullptr ? *classGuid : GUID{};
    const bool interfaces = (flags & DIGCF_DEVICEINTERFACE) != 0;
    const bool presentOnly = (flags & DIGCF_PRESENT) != 0;
    if (interfaces && classGuid != nullptr && IsEqualGUID(*classGuid, HidInterfaceClass)) {
        for (const Interface& entry : state.interfaces) {
            if (entry.present || !presentOnly) {
                set->interfaces.push_back(entry);
            }
        }
    }
    state.openSets.insert(set);
    return set;
}

REPLACEMENT_EXPORT BOOL WINAPI
SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfoData, const GUID* classGuid,
                            DWORD index, PSP_DEVICE_INTERFACE_DATA interfaceData) {
    const std::lock_guard lock(Guard());
    DeviceSet* found = Find(set);
    if (found == nullptr) {
        return Violation(ERROR_INVALID_HANDLE);
    }
    if (interfaceData == nullptr || classGuid == nullptr) {
        return Violation(ERROR_INVALID_PARAMETER);
    }
    if (interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return Violation(ERROR_INVALID_USER_BUFFER);
    }
    if (deviceInfoData != nullptr && deviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return Violation(ERROR_INVALID_USER_BUFFER);
    }
    if (!IsEqualGUID(*classGuid, found->classGuid) || index >= found->interfaces.size()) {
        return Refuse(ERROR_NO_MORE_ITEMS);
    }
    interfaceData->InterfaceClassGuid = *classGuid;
    interfaceData->Flags = SPINT_ACTIVE;
    interfaceData->Reserved = index + 1;
    return TRUE;
}

REPLACEMENT_EXPORT BOOL WINAPI
SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                 PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                 PDWORD requiredSize, PSP_DEVINFO_DATA deviceInfoData) {
    const std::lock_guard lock(Guard());
    DeviceSet* found = Find(set);
    if (found == nullptr) {
        return Violation(ERROR_INVALID_HANDLE);
    }
    if (interfaceData == nullptr || interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return Violation(ERROR_INVALID_USER_BUFFER);
    }
    if (interfaceData->Reserved == 0 || interfaceData->Reserved > found->interfaces.size()) {
        return Violation(ERROR_INVALID_PARAMETER);
    }
    if (deviceInfoData != nullptr && deviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return Violation(ERROR_INVALID_USER_BUFFER);
    }
    const std::size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    if (detail == nullptr ? detailSize != 0 : detailSize < pathOffset + 1) {
        return Violation(ERROR_INVALID_USER_BUFFER);
    }
    if (detail != nullptr && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        return Violation(ERROR_INVALID_USER_BUFFER);
    }

    const std::size_t position = interfaceData->Reserved - 1;
    const Interface& entry = found->interfaces[position];
    if (entry.detailFault == DetailSizeRefused) {
        return Refuse(ERROR_NO_SUCH_DEVINST);
    }
    const DWORD required = static_cast<DWORD>(pathOffset + entry.path.size() + 1);
    if (detail == nullptr) {
        if (requiredSize != nullptr) {
            *requiredSize = entry.detailFault == DetailSizeZero ? 0 : required;
        }
        return Refuse(ERROR_INSUFFICIENT_BUFFER);
    }
    if (entry.detailFault == DetailFetchRefused) {
        return Refuse(ERROR_NO_SUCH_DEVINST);
    }
    if (requiredSize != nullptr) {
        *requiredSize = required;
    }
    if (detailSize < required) {
        return Refuse(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(detail->DevicePath, entry.path.c_str(), entry.path.size() + 1);
    if (deviceInfoData != nullptr) {
        deviceInfoData->ClassGuid = HidDeviceSetupClass;
        deviceInfoData->DevInst = static_cast<DWORD>(position + 1);
    }
    return TRUE;
}

// The incomplete build lacks this one, the last the backend looks up.
#ifndef REPLACEMENT_INCOMPLETE
REPLACEMENT_EXPORT BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    const std::lock_guard lock(Guard());
    DeviceSet* found = Find(set);
    if (found == nullptr) {
        return Violation(ERROR_INVALID_HANDLE);
    }
    Current().openSets.erase(found);
    delete found;
    return TRUE;
}
#endif

REPLACEMENT_EXPORT void VraxSetupApi_Reset() {
    const std::lock_guard lock(Guard());
    State& state = Current();
    for (DeviceSet* set : state.openSets) {
        delete set;
    }
    state.interfaces.clear();
    state.openSets.clear();
    state.failClassDevs = false;
    state.lastClassGuid = GUID{};
    state.lastFlags = 0;
    state.classDevsCalls = 0;
    state.ruleViolations = 0;
}

REPLACEMENT_EXPORT void VraxSetupApi_AddInterface(const char* path, int present, int detailFault) {
    const std::lock_guard lock(Guard());
    Current().interfaces.push_back({path, present != 0, detailFault});
}

REPLACEMENT_EXPORT void VraxSetupApi_FailClassDevs(int fail) {
    const std::lock_guard lock(Guard());
    Current().failClassDevs = fail != 0;
}

REPLACEMENT_EXPORT int VraxSetupApi_OpenSets() {
    const std::lock_guard lock(Guard());
    return static_cast<int>(Current().openSets.size());
}

REPLACEMENT_EXPORT int VraxSetupApi_ClassDevsCalls() {
    const std::lock_guard lock(Guard());
    return Current().classDevsCalls;
}

REPLACEMENT_EXPORT int VraxSetupApi_RuleViolations() {
    const std::lock_guard lock(Guard());
    return Current().ruleViolations;
}

REPLACEMENT_EXPORT void VraxSetupApi_LastClassDevs(GUID* classGuid, DWORD* flags) {
    const std::lock_guard lock(Guard());
    *classGuid = Current().lastClassGuid;
    *flags = Current().lastFlags;
}
