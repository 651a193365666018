#include "device/windows/LibraryBinding.h"

#include <windows.h>

namespace vrax {

namespace {

// SEM_NOOPENFILEERRORBOX: a missing library must not stop the line with a system error box.
constexpr UINT NoOpenFileErrorBox = 0x8000;

} // namespace

LibraryBinding::~LibraryBinding() {
    Release();
}

bool LibraryBinding::Request() {
    if (module_ != nullptr) {
        ++useCount_;
        return true;
    }
    const UINT previousMode = SetErrorMode(NoOpenFileErrorBox);
    HMODULE module = LoadLibraryA(fileName_.c_str());
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
    module_ = module;
    useCount_ = 1;
    return true;
}

void LibraryBinding::Release() {
    if (module_ != nullptr) {
        FreeLibrary(static_cast<HMODULE>(module_));
        module_ = nullptr;
    }
    ClearOperations();
    useCount_ = 0;
}

void LibraryBinding::ClearOperations() {
    for (const Slot& operation : operations_) {
        operation.assign(nullptr);
    }
}

} // namespace vrax
