#include "device/DeviceArrivalSource.h"

#include <windows.h>

#include <dbt.h>

#include <future>
#include <thread>
#include <utility>

namespace vrax {

namespace {

// GUID_DEVINTERFACE_HID, spelled out so that no header needs INITGUID.
constexpr GUID HidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr const wchar_t* WindowClass = L"VraxDeviceArrivalWatch";

class WindowsArrivalWatch final : public DeviceArrivalWatch {
public:
    explicit WindowsArrivalWatch(std::function<void()> changed) : changed_(std::move(changed)) {}

    ~WindowsArrivalWatch() override {
        if (thread_.joinable()) {
            PostMessageW(window_, WM_CLOSE, 0, 0);
            thread_.join();
        }
    }

    bool Start() {
        std::promise<bool> started;
        std::future<bool> answer = started.get_future();
        thread_ = std::thread([this, &started] { Run(started); });
        if (answer.get()) {
            return true;
        }
        thread_.join();
        return false;
    }

private:
    // The window, its registration and its messages all belong to one thread.
    void Run(std::promise<bool>& started) {
        const HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = &WindowsArrivalWatch::Procedure;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = WindowClass;
        if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
            started.set_value(false);
            return;
        }
        window_ = CreateWindowExW(0, WindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  instance, this);
        if (window_ == nullptr) {
            started.set_value(false);
            return;
        }
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof(filter);
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = HidInterfaceClass;
        const HDEVNOTIFY registration =
            RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (registration == nullptr) {
            DestroyWindow(window_);
            started.set_value(false);
            return;
        }
        started.set_value(true);
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            DispatchMessageW(&message);
        }
        UnregisterDeviceNotification(registration);
    }

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
        }
        auto* self =
            reinterpret_cast<WindowsArrivalWatch*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        switch (message) {
        case WM_DEVICECHANGE:
            if ((wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) &&
                self != nullptr) {
                self->changed_();
            }
            return TRUE;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
        }
    }

    std::function<void()> changed_;
    std::thread thread_;
    HWND window_ = nullptr;
};

} // namespace

std::unique_ptr<DeviceArrivalWatch> WatchSystemDeviceArrivals(std::function<void()> changed) {
    auto watch = std::make_unique<WindowsArrivalWatch>(std::move(changed));
    if (!watch->Start()) {
        return nullptr;
    }
    return watch;
}

} // namespace vrax
