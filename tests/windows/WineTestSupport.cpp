#include "tests/windows/WineTestSupport.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace vrax::wine {

std::string ProgramFolder() {
    char buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    std::string path(buffer, length);
    return path.substr(0, path.find_last_of("\\/"));
}

WindowsHidLibraries ReplacementLibraryFiles() {
    return {ProgramFolder() + "\\setupapi.dll", ProgramFolder() + "\\hid.dll"};
}

TemporaryFolder::TemporaryFolder() {
    static int created = 0;
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    path_ = std::string(base) + "vrax-wine-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++created);
    CreateDirectoryA(path_.c_str(), nullptr);
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TemporaryFolder::MakeFile(const std::string& name) const {
    const std::string path = PathOf(name);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    return path;
}

bool TemporaryFolder::CopyLibrary(const std::string& builtName, const std::string& name) const {
    const std::string source = ProgramFolder() + "\\" + builtName;
    return CopyFileA(source.c_str(), PathOf(name).c_str(), FALSE) != FALSE;
}

ReplacementLibraries::ReplacementLibraries()
    : setupApi_(LoadLibraryA("setupapi.dll")), hid_(LoadLibraryA("hid.dll")) {
    resetSetupApi_ = Control<SetupApiResetFn>(setupApi_, "VraxSetupApi_Reset");
    addInterface_ = Control<SetupApiAddInterfaceFn>(setupApi_, "VraxSetupApi_AddInterface");
    failClassDevs = Control<SetupApiFailClassDevsFn>(setupApi_, "VraxSetupApi_FailClassDevs");
    openSets = Control<SetupApiCountFn>(setupApi_, "VraxSetupApi_OpenSets");
    setupApiRuleViolations = Control<SetupApiCountFn>(setupApi_, "VraxSetupApi_RuleViolations");
    lastClassDevs = Control<SetupApiLastClassDevsFn>(setupApi_, "VraxSetupApi_LastClassDevs");
    resetHid_ = Control<HidResetFn>(hid_, "VraxHid_Reset");
    addDevice_ = Control<HidAddDeviceFn>(hid_, "VraxHid_AddDevice");
    attachInterface_ = Control<HidAttachInterfaceFn>(hid_, "VraxHid_AttachInterface");
    setFaults = Control<HidSetFaultsFn>(hid_, "VraxHid_SetFaults");
    memory = Control<HidMemoryFn>(hid_, "VraxHid_Memory");
    livePreparsedData = Control<HidCountFn>(hid_, "VraxHid_LivePreparsedData");
    guidRequests = Control<HidCountFn>(hid_, "VraxHid_GuidRequests");
    hidRuleViolations = Control<HidCountFn>(hid_, "VraxHid_RuleViolations");
    if (resetSetupApi_ == nullptr || resetHid_ == nullptr || addInterface_ == nullptr ||
        addDevice_ == nullptr || attachInterface_ == nullptr) {
        setupApi_ = nullptr;
        hid_ = nullptr;
        return;
    }
    resetSetupApi_();
    resetHid_();
}

ReplacementLibraries::~ReplacementLibraries() {
    if (Loaded()) {
        resetSetupApi_();
        resetHid_();
    }
    if (hid_ != nullptr) {
        FreeLibrary(hid_);
    }
    if (setupApi_ != nullptr) {
        FreeLibrary(setupApi_);
    }
}

void ReplacementLibraries::AddInterface(const std::string& path, bool present,
                                        ReplacementDetailFault fault) const {
    addInterface_(path.c_str(), present ? 1 : 0, fault);
}

PluggedDevice ReplacementLibraries::Plug(const TemporaryFolder& folder, const std::string& model,
                                         unsigned vendorId, unsigned productId,
                                         unsigned versionNumber, unsigned featureReportLength) {
    PluggedDevice device;
    device.id = addDevice_(model.c_str(), vendorId, productId, versionNumber, featureReportLength);
    const int interfaces = model == "plain" || model == "kvqm42xx-two-interfaces" ? 2 : 1;
    ++plugged_;
    for (int index = 0; index < interfaces; ++index) {
        const std::string path = folder.MakeFile("hid-" + std::to_string(plugged_) + "-" + model +
                                                 "-" + std::to_string(index));
        attachInterface_(device.id, index, path.c_str());
        AddInterface(path);
        device.paths.push_back(path);
    }
    return device;
}

void ReplacementLibraries::UnplugAll() const {
    resetSetupApi_();
    resetHid_();
}

std::string FinalPathOf(HANDLE handle) {
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

} // namespace vrax::wine
