#pragma once

#include "device/windows/WindowsHidPlatform.h"
#include "tests/windows/ReplacementControl.h"

#include <windows.h>

#include <string>
#include <vector>

namespace vrax::wine {

// The folder of the running test program, where the replacement libraries are built.
std::string ProgramFolder();

// The replacement setupapi.dll and hid.dll beside the test program, named by full path: a
// bare name binds the system's own.
WindowsHidLibraries ReplacementLibraryFiles();

// A fresh folder under the temporary folder, removed with everything in it at the end.
class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string PathOf(const std::string& name) const { return path_ + "\\" + name; }
    // Creates an empty file and returns its path.
    std::string MakeFile(const std::string& name) const;
    // Copies a library built beside the test program into this folder.
    bool CopyLibrary(const std::string& builtName, const std::string& name) const;

private:
    std::string path_;
};

struct PluggedDevice {
    int id = -1;
    std::vector<std::string> paths;
};

// The controls of the replacement setupapi.dll and hid.dll beside the test program, holding
// both loaded and reset for the length of a test.
class ReplacementLibraries {
public:
    ReplacementLibraries();
    ~ReplacementLibraries();
    ReplacementLibraries(const ReplacementLibraries&) = delete;
    ReplacementLibraries& operator=(const ReplacementLibraries&) = delete;

    bool Loaded() const { return setupApi_ != nullptr && hid_ != nullptr; }

    // Registers an interface with the device-setup library; present as the system sees it.
    void AddInterface(const std::string& path, bool present = true,
                      ReplacementDetailFault fault = DetailAnswers) const;
    // A device of the model whose interfaces become files in folder, registered in order.
    PluggedDevice Plug(const TemporaryFolder& folder, const std::string& model, unsigned vendorId,
                       unsigned productId, unsigned versionNumber,
                       unsigned featureReportLength = 8);

    // Every device leaves at once, as when the one mouse on the station is pulled out.
    void UnplugAll() const;

    SetupApiFailClassDevsFn failClassDevs = nullptr;
    SetupApiCountFn openSets = nullptr;
    SetupApiCountFn setupApiRuleViolations = nullptr;
    SetupApiLastClassDevsFn lastClassDevs = nullptr;
    HidSetFaultsFn setFaults = nullptr;
    HidMemoryFn memory = nullptr;
    HidCountFn livePreparsedData = nullptr;
    HidCountFn guidRequests = nullptr;
    HidCountFn hidRuleViolations = nullptr;

private:
    HMODULE setupApi_ = nullptr;
    HMODULE hid_ = nullptr;
    SetupApiResetFn resetSetupApi_ = nullptr;
    SetupApiAddInterfaceFn addInterface_ = nullptr;
    HidResetFn resetHid_ = nullptr;
    HidAddDeviceFn addDevice_ = nullptr;
    HidAttachInterfaceFn attachInterface_ = nullptr;
    int plugged_ = 0;
};

// Resolves a control of a loaded library; nullptr when it has none of that name.
template <typename Function> Function Control(HMODULE module, const char* name) {
    if (module == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The final path of an open handle, to tell which interface a link holds.
std::string FinalPathOf(HANDLE handle);

} // namespace vrax::wine
