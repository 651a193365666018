#include "device/windows/LibraryBinding.h"

#include <windows.h>

#include <string>

namespace vrax {

namespace {

// SEM_NOOPENFILEERRORBOX: a missing library must not stop the line with a system error box.
constexpr UINT NoOpenFileErrorBox = 0x8000;

bool IsBareName(const std::string& fileName) {
    return fileName.find_first_of("\\/:") == std::string::npos;
}

// hid.dll is no known DLL: loaded by name, a copy beside the program or in the working folder
// would run inside the station. The system folder is the only place a bare name is looked for.
HMODULE LoadFromSystemFolder(const std::string& fileName) {
    wchar_t folder[MAX_PATH];
    const UINT folderLength = GetSystemDirectoryW(folder, MAX_PATH);
    if (folderLength == 0 || folderLength >= MAX_PATH) {
        return nullptr;
    }
    std::wstring path(folder, folderLength);
    path += L'\\';
    path.append(fileName.begin(), fileName.end());
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
        // A Windows 7 without KB2533623 knows no search flags; its dependencies are then
        // looked for beside it, in the system folder, first.
        module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    return module;
}

} // namespace

LibraryBinding::~LibraryBinding() {
    Release();
}

bool LibraryBinding::Request() {
    const std::lock_guard lock(mutex_);
    if (IsBound()) {
        ++useCount_;
        return true;
    }
    const UINT previousMode = SetErrorMode(NoOpenFileErrorBox);
    HMODULE module = IsBareName(fileName_) ? LoadFromSystemFolder(fileName_)
                                           : LoadLibraryExA(fileName_.c_str(), nullptr, 0);
    SetErrorMode(previousMode);
    if (module == nullptr) {
        return false;
    }
    for (const Slot& operation : operations_) {
        const FARPROC found = GetProcAddress(module, operation.name);
        if (found == nullptr) {
            FreeLibrary(module);
            ClearOperations();
            return false;
        }
        operation.assign(reinterpret_cast<Operation>(found));
    }
    module_.store(module, std::memory_order_release);
    useCount_ = 1;
    return true;
}

void LibraryBinding::Release() {
    const std::lock_guard lock(mutex_);
    if (void* module = module_.exchange(nullptr)) {
        FreeLibrary(static_cast<HMODULE>(module));
    }
    ClearOperations();
    useCount_ = 0;
}

unsigned long LibraryBinding::UseCount() const {
    const std::lock_guard lock(mutex_);
    return useCount_;
}

void LibraryBinding::ClearOperations() {
    for (const Slot& operation : operations_) {
        operation.assign(nullptr);
    }
}

} // namespace vrax
