// A stand-in for hid.dll whose devices are the virtual mice of the simulated bus. Each
// interface is a real file: the backend opens it with the real CreateFileA, and every call
// finds its interface again from the handle's final path. Calls that Windows refuses are
// refused here too: unknown handles and preparsed data, report buffers of another length
// than the interface's feature report length.

#include <windows.h>

extern "C" {
#include <hidsdi.h>
}

#include "sim/MouseFaults.h"
#include "sim/PlainHidDevice.h"
#include "sim/VirtualMouse31x.h"
#include "sim/VirtualMouse42xx.h"
#include "tests/windows/ReplacementControl.h"
#include "tests/windows/ReplacementDeviceList.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#define REPLACEMENT_EXPORT extern "C" __declspec(dllexport)

namespace {

using vrax::HidAttributes;
using vrax::VirtualHidDevice;
using vrax::VirtualMouse;

constexpr GUID HidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

struct Interface {
    std::string finalPath;
    VirtualHidDevice* device = nullptr;
    int index = 0;
};

struct Preparsed {
    const Interface* owner;
};

// A listed mouse's memory file, written back when the program ends.
struct PersistedMemory {
    VirtualMouse* mouse;
    std::string file;
};

struct State;
void LoadDeviceList(State& state);

struct State {
    State() { LoadDeviceList(*this); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ~State() {
        for (const PersistedMemory& persisted : persistedMemory) {
            std::ofstream file(persisted.file, std::ios::binary | std::ios::trunc);
            file.write(reinterpret_cast<const char*>(persisted.mouse->Memory().data()),
                       VirtualMouse::MemorySize);
        }
    }

    std::vector<PersistedMemory> persistedMemory;
    std::vector<std::unique_ptr<VirtualHidDevice>> devices;
    std::vector<Interface> interfaces;
    std::set<Preparsed*> preparsed;
    std::atomic<int> guidRequests{0}; // asked by every walk, of any thread
    int ruleViolations = 0;
};

State& Current() {
    static State state;
    return state;
}

BOOLEAN Refuse(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BOOLEAN Violation(DWORD error) {
    ++Current().ruleViolations;
    return Refuse(error);
}

std::string FinalPath(HANDLE handle) {
    char buffer[MAX_PATH * 2];
    const DWORD length = GetFinalPathNameByHandleA(handle, buffer, sizeof(buffer),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= sizeof(buffer)) {
        return {};
    }
    std::string path(buffer, length);
    std::transform(path.begin(), path.end(), path.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return path;
}

const Interface* Find(HANDLE handle) {
    const std::string path = FinalPath(handle);
    if (path.empty()) {
        return nullptr;
    }
    for (const Interface& entry : Current().interfaces) {
        if (entry.finalPath == path) {
            return &entry;
        }
    }
    return nullptr;
}

VirtualHidDevice* Device(State& state, int id) {
    if (id < 0 || id >= static_cast<int>(state.devices.size())) {
        return nullptr;
    }
    return state.devices[static_cast<std::size_t>(id)].get();
}

// Checks a feature report transfer as the HID class driver does before the device sees it.
const Interface* FeatureTarget(HANDLE handle, PVOID buffer, ULONG length) {
    const Interface* entry = Find(handle);
    if (entry == nullptr) {
        Refuse(ERROR_INVALID_FUNCTION);
        return nullptr;
    }
    const std::uint16_t expected = entry->device->FeatureReportLength(entry->index);
    if (expected == 0) {
        Refuse(ERROR_INVALID_FUNCTION);
        return nullptr;
    }
    if (buffer == nullptr || length != expected) {
        Violation(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return entry;
}

int AddDevice(State& state, const std::string& name, unsigned vendorId, unsigned productId,
              unsigned versionNumber, unsigned featureReportLength) {
    const HidAttributes attributes{static_cast<std::uint16_t>(vendorId),
                                   static_cast<std::uint16_t>(productId),
                                   static_cast<std::uint16_t>(versionNumber)};
    const auto length = static_cast<std::uint16_t>(featureReportLength);
    std::unique_ptr<VirtualHidDevice> device;
    if (name == "plain") {
        device = std::make_unique<vrax::PlainHidDevice>(attributes, 2, length);
    } else {
        std::unique_ptr<VirtualMouse> mouse;
        if (name == "kvqm31x") {
            mouse = std::make_unique<vrax::VirtualMouse31x>();
        } else if (name == "kvqm42xx") {
            mouse = std::make_unique<vrax::VirtualMouse42xx>();
        } else if (name == "kvqm42xx-two-interfaces") {
            mouse = std::make_unique<vrax::VirtualMouse42xx>(
                vrax::VirtualMouse42xx::Layout::TwoInterfaces);
        } else {
            return -1;
        }
        mouse->SetAttributes(attributes);
        mouse->SetFeatureReportLength(length);
        device = std::move(mouse);
    }
    state.devices.push_back(std::move(device));
    return static_cast<int>(state.devices.size()) - 1;
}

bool AttachInterface(State& state, int id, int interfaceIndex, const char* path) {
    VirtualHidDevice* device = Device(state, id);
    if (device == nullptr || interfaceIndex < 0 || interfaceIndex >= device->InterfaceCount()) {
        return false;
    }
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::string finalPath = FinalPath(file);
    CloseHandle(file);
    if (finalPath.empty()) {
        return false;
    }
    state.interfaces.push_back({std::move(finalPath), device, interfaceIndex});
    return true;
}

void LoadDeviceList(State& state) {
    for (const vrax::wine::ListedDevice& listed : vrax::wine::ReadDeviceList()) {
        const int id = AddDevice(state, listed.model, listed.vendorId, listed.productId,
                                 listed.versionNumber, listed.featureReportLength);
        if (id < 0) {
            continue;
        }
        for (std::size_t index = 0; index < listed.paths.size(); ++index) {
            AttachInterface(state, id, static_cast<int>(index), listed.paths[index].c_str());
        }
        auto* mouse = dynamic_cast<VirtualMouse*>(state.devices.back().get());
        if (mouse == nullptr || listed.memoryFile.empty()) {
            continue;
        }
        std::ifstream file(listed.memoryFile, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(file),
                                      std::istreambuf_iterator<char>()};
        if (bytes.size() == VirtualMouse::MemorySize) {
            std::copy(bytes.begin(), bytes.end(), mouse->Memory().begin());
        }
        state.persistedMemory.push_back({mouse, listed.memoryFile});
    }
}

} // namespace

REPLACEMENT_EXPORT void NTAPI HidD_GetHidGuid(LPGUID hidGuid) {
    ++Current().guidRequests;
    *hidGuid = HidInterfaceClass;
}

REPLACEMENT_EXPORT BOOLEAN NTAPI HidD_GetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
    const Interface* entry = Find(handle);
    if (entry == nullptr) {
        return Refuse(ERROR_INVALID_FUNCTION);
    }
    if (attributes == nullptr) {
        return Violation(ERROR_INVALID_PARAMETER);
    }
    const HidAttributes values = entry->device->Attributes();
    attributes->Size = sizeof(HIDD_ATTRIBUTES);
    attributes->VendorID = values.vendorId;
    attributes->ProductID = values.productId;
    attributes->VersionNumber = values.versionNumber;
    return TRUE;
}

REPLACEMENT_EXPORT BOOLEAN NTAPI HidD_GetPreparsedData(HANDLE handle,
                                                       PHIDP_PREPARSED_DATA* preparsedData) {
    const Interface* entry = Find(handle);
    if (entry == nullptr) {
        return Refuse(ERROR_INVALID_FUNCTION);
    }
    if (preparsedData == nullptr) {
        return Violation(ERROR_INVALID_PARAMETER);
    }
    auto* data = new Preparsed{entry};
    Current().preparsed.insert(data);
    *preparsedData = reinterpret_cast<PHIDP_PREPARSED_DATA>(data);
    return TRUE;
}

REPLACEMENT_EXPORT BOOLEAN NTAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData) {
    auto* data = reinterpret_cast<Preparsed*>(preparsedData);
    if (Current().preparsed.erase(data) == 0) {
        return Violation(ERROR_INVALID_PARAMETER);
    }
    delete data;
    return TRUE;
}

REPLACEMENT_EXPORT NTSTATUS NTAPI HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData,
                                               PHIDP_CAPS capabilities) {
    auto* data = reinterpret_cast<Preparsed*>(preparsedData);
    if (Current().preparsed.count(data) == 0 || capabilities == nullptr) {
        ++Current().ruleViolations;
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    }
    const Interface& entry = *data->owner;
    HIDP_CAPS filled{};
    filled.UsagePage = 0x01;
    filled.Usage = 0x02;
    filled.InputReportByteLength = 5;
    filled.FeatureReportByteLength = entry.device->FeatureReportLength(entry.index);
    filled.NumberFeatureValueCaps = filled.FeatureReportByteLength != 0 ? 1 : 0;
    *capabilities = filled;
    return HIDP_STATUS_SUCCESS;
}

// Each listed device's own: "replacement-" and its line in the list.
REPLACEMENT_EXPORT BOOLEAN NTAPI HidD_GetSerialNumberString(HANDLE handle, PVOID buffer,
                                                            ULONG length) {
    const Interface* entry = Find(handle);
    if (entry == nullptr) {
        return Refuse(ERROR_INVALID_FUNCTION);
    }
    State& state = Current();
    std::size_t line = 0;
    while (line < state.devices.size() && state.devices[line].get() != entry->device) {
        ++line;
    }
    const std::string serial = "replacement-" + std::to_string(line);
    if (buffer == nullptr || length < (serial.size() + 1) * sizeof(wchar_t)) {
        return Refuse(ERROR_INSUFFICIENT_BUFFER);
    }
    auto* text = static_cast<wchar_t*>(buffer);
    std::copy(serial.begin(), serial.end(), text);
    text[serial.size()] = 0;
    return TRUE;
}

REPLACEMENT_EXPORT BOOLEAN NTAPI HidD_SetFeature(HANDLE handle, PVOID buffer, ULONG length) {
    const Interface* entry = FeatureTarget(handle, buffer, length);
    if (entry == nullptr) {
        return FALSE;
    }
    if (!entry->device->SetFeature(entry->index, static_cast<const std::uint8_t*>(buffer),
                                   length)) {
        return Refuse(ERROR_GEN_FAILURE);
    }
    return TRUE;
}

// The incomplete build lacks this one, the last the backend looks up.
#ifndef REPLACEMENT_INCOMPLETE
REPLACEMENT_EXPORT BOOLEAN NTAPI HidD_GetFeature(HANDLE handle, PVOID buffer, ULONG length) {
    const Interface* entry = FeatureTarget(handle, buffer, length);
    if (entry == nullptr) {
        return FALSE;
    }
    if (!entry->device->GetFeature(entry->index, static_cast<std::uint8_t*>(buffer), length)) {
        return Refuse(ERROR_GEN_FAILURE);
    }
    return TRUE;
}
#endif

REPLACEMENT_EXPORT int VraxHid_AddDevice(const char* model, unsigned vendorId, unsigned productId,
                                         unsigned versionNumber, unsigned featureReportLength) {
    return AddDevice(Current(), model, vendorId, productId, versionNumber, featureReportLength);
}

REPLACEMENT_EXPORT int VraxHid_AttachInterface(int id, int interfaceIndex, const char* path) {
    return AttachInterface(Current(), id, interfaceIndex, path) ? 1 : 0;
}

REPLACEMENT_EXPORT int VraxHid_SetFaults(int id, const char* faults) {
    auto* mouse = dynamic_cast<VirtualMouse*>(Device(Current(), id));
    if (mouse == nullptr) {
        return 0;
    }
    vrax::MouseFaults parsed;
    std::string error;
    if (!vrax::ParseMouseFaults(faults, mouse->Family(), parsed, error)) {
        return 0;
    }
    mouse->SetFaults(parsed);
    return 1;
}

REPLACEMENT_EXPORT int VraxHid_Memory(int id, unsigned char* image, int write) {
    auto* mouse = dynamic_cast<VirtualMouse*>(Device(Current(), id));
    if (mouse == nullptr) {
        return 0;
    }
    if (write != 0) {
        std::copy_n(image, VirtualMouse::MemorySize, mouse->Memory().begin());
    } else {
        std::copy(mouse->Memory().begin(), mouse->Memory().end(), image);
    }
    return 1;
}

REPLACEMENT_EXPORT void VraxHid_Reset() {
    State& state = Current();
    for (Preparsed* data : state.preparsed) {
        delete data;
    }
    state.preparsed.clear();
    state.persistedMemory.clear();
    state.interfaces.clear();
    state.devices.clear();
    state.guidRequests = 0;
    state.ruleViolations = 0;
}

REPLACEMENT_EXPORT int VraxHid_LivePreparsedData() {
    return static_cast<int>(Current().preparsed.size());
}

REPLACEMENT_EXPORT int VraxHid_GuidRequests() {
    return Current().guidRequests;
}

REPLACEMENT_EXPORT int VraxHid_RuleViolations() {
    return Current().ruleViolations;
}
