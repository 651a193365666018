#pragma once

#include "device/HidPlatform.h"

#include <memory>
#include <mutex>
#include <string>

namespace vrax {

// The files the backend binds: by bare name the system's own, from the system folder only.
// Tests name replacement copies by their full path.
struct WindowsHidLibraries {
    std::string setupApi = "SetupApi.dll";
    std::string hid = "HID.dll";
};

// What the last interface walk met, for diagnostics.
struct WindowsHidWalk {
    bool setOpened = false;
    int interfaces = 0;
    int pathsRead = 0;
};

// The Windows backend: the device-setup and HID class libraries bound at run time,
// the kernel's CreateFileA and CloseHandle for the handles.
class WindowsHidPlatform final : public HidPlatform {
public:
    explicit WindowsHidPlatform(WindowsHidLibraries libraries = {});
    ~WindowsHidPlatform() override;
    WindowsHidPlatform(const WindowsHidPlatform&) = delete;
    WindowsHidPlatform& operator=(const WindowsHidPlatform&) = delete;

    std::vector<std::string> EnumerateInterfaces() override;
    std::string DeviceOfInterface(const std::string& path) override;
    HidHandle Open(const std::string& path) override;
    void Close(HidHandle handle) override;
    bool GetAttributes(HidHandle handle, HidAttributes& attributes) override;
    std::uint16_t GetFeatureReportLength(HidHandle handle) override;
    bool SetFeature(HidHandle handle, const std::uint8_t* buffer, std::size_t length) override;
    bool GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) override;
    std::string LastTransferError() override;

    bool SetupApiBound() const;
    bool HidBound() const;
    unsigned long SetupApiUseCount() const;
    // The walk that finished last, of whichever thread.
    WindowsHidWalk LastWalk() const;

private:
    struct Bindings;

    std::vector<std::string> Walk(WindowsHidWalk& walk);

    std::unique_ptr<Bindings> bindings_;
    // A gang's threads walk at once: each walk counts on its own and only the result is
    // kept under the lock.
    mutable std::mutex walkMutex_;
    WindowsHidWalk lastWalk_;
};

} // namespace vrax
