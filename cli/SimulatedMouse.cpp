#include "cli/SimulatedMouse.h"

#include "cli/UsageError.h"
#include "device/ErrorText.h"
#include "programming/BinImage.h"
#include "sim/VirtualMouse31x.h"
#include "sim/VirtualMouse42xx.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace vrax {

SimulatedMouse::SimulatedMouse(const SimulatedMouseOptions& options, Clock& clock)
    : options_(options), bus_(clock) {
    if (options.family == MouseFamily::Kvqm31x) {
        mouse_ = std::make_shared<VirtualMouse31x>();
    } else {
        mouse_ = std::make_shared<VirtualMouse42xx>();
    }
    mouse_->SetFaults(options.faults);
}

void SimulatedMouse::Plug() {
    if (!options_.memoryPath.empty()) {
        errno = 0;
        std::ifstream file(options_.memoryPath, std::ios::binary);
        if (!file) {
            throw FileError("Cannot open file \"" + ExpandFileName(options_.memoryPath) + "\". " +
                            ErrorText(errno ? errno : ENOENT));
        }
        const std::string bytes{std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>()};
        if (bytes.size() != static_cast<std::size_t>(VirtualMouse::MemorySize)) {
            throw UsageError("--sim-memory: \"" + options_.memoryPath + "\" holds " +
                             std::to_string(bytes.size()) + " bytes, not " +
                             std::to_string(VirtualMouse::MemorySize));
        }
        std::memcpy(mouse_->Memory().data(), bytes.data(), bytes.size());
    }
    bus_.Plug(mouse_);
}

void SimulatedMouse::Dump(const std::string& path) const {
    errno = 0;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        throw FileError("Cannot create file \"" + ExpandFileName(path) + "\". " +
                        ErrorText(errno ? errno : EIO));
    }
    const VirtualMouse::MemoryImage& memory = mouse_->Memory();
    file.write(reinterpret_cast<const char*>(memory.data()),
               static_cast<std::streamsize>(memory.size()));
    file.close();
    if (!file) {
        throw FileError("Cannot write file \"" + ExpandFileName(path) + "\". " +
                        ErrorText(errno ? errno : EIO));
    }
}

} // namespace vrax
