#include "sim/MouseFaults.h"
#include "sim/VirtualMouse31x.h"
#include "sim/VirtualMouse42xx.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

// The frame handling of both virtual mice under any sequence of reports, and the fault list
// parser. Input: byte 0 picks the family and the layout, byte 1 the length of a fault list that
// follows; then records of 10 bytes: what to do, the report length, and 8 report bytes.
//
// Findings besides crashes: a parsed fault list that does not read back the same; a failed call
// that changed the caller's buffer; memory changed other than by one chunk of a write (a get on
// KVQM42xx, a set on KVQM31X, where commands run when polled); a KVQM31X status outside 0, 1
// and 204.

namespace {

using Report = std::array<std::uint8_t, 8>;

[[noreturn]] void Finding() {
    std::abort();
}

void CheckOneChunkChanged(const vrax::VirtualMouse::MemoryImage& before,
                          const vrax::VirtualMouse::MemoryImage& after, int chunk) {
    int first = -1;
    int last = -1;
    for (int i = 0; i < vrax::VirtualMouse::MemorySize; ++i) {
        if (before[static_cast<std::size_t>(i)] != after[static_cast<std::size_t>(i)]) {
            first = first < 0 ? i : first;
            last = i;
        }
    }
    if (first >= 0 && last - first >= chunk) {
        Finding();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const bool first = (data[0] & 1) == 0;
    const auto family = first ? vrax::MouseFamily::Kvqm31x : vrax::MouseFamily::Kvqm42xx;
    std::unique_ptr<vrax::VirtualMouse> mouse;
    if (first) {
        mouse = std::make_unique<vrax::VirtualMouse31x>();
    } else {
        mouse = std::make_unique<vrax::VirtualMouse42xx>(
            (data[0] & 2) ? vrax::VirtualMouse42xx::Layout::TwoInterfaces
                          : vrax::VirtualMouse42xx::Layout::OneInterface);
    }
    for (int i = 0; i < vrax::VirtualMouse::MemorySize; ++i) {
        mouse->Memory()[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 7);
    }

    std::size_t at = 2;
    const std::size_t listLength = std::min<std::size_t>(data[1], size - at);
    const std::string list(reinterpret_cast<const char*>(data + at), listLength);
    at += listLength;
    vrax::MouseFaults faults;
    std::string error;
    if (vrax::ParseMouseFaults(list, family, faults, error)) {
        vrax::MouseFaults again;
        if (!vrax::ParseMouseFaults(vrax::FormatMouseFaults(faults), family, again, error) ||
            again != faults) {
            Finding();
        }
        // Busy mice that never answer make no interesting sequences.
        faults.busyPolls = std::min(faults.busyPolls, 8);
        mouse->SetFaults(faults);
    }

    const int chunk = first ? 6 : 7;
    for (; at + 10 <= size; at += 10) {
        const std::uint8_t what = data[at];
        const bool set = (what & 1) != 0;
        const int interfaceIndex = (what >> 1) & 3;
        const std::size_t length = data[at + 1] % 16 == 0 ? data[at + 1] / 16 : 8;
        Report report{};
        std::copy_n(data + at + 2, 8, report.begin());
        if (first && (what & 0x80) != 0) {
            report[0] = vrax::VirtualMouse31x::ReportId;
        }
        std::array<std::uint8_t, 24> buffer{};
        std::copy(report.begin(), report.end(), buffer.begin());
        const auto buffered = buffer;
        const auto memory = mouse->Memory();

        const bool ok = set ? mouse->SetFeature(interfaceIndex, buffer.data(), length)
                            : mouse->GetFeature(interfaceIndex, buffer.data(), length);
        if (!ok && buffer != buffered) {
            Finding();
        }
        if (length != 8 && (ok || mouse->Memory() != memory)) {
            Finding();
        }
        const bool mayWrite = first ? !set : set;
        if (!mayWrite && mouse->Memory() != memory) {
            Finding();
        }
        CheckOneChunkChanged(memory, mouse->Memory(), chunk);
        if (first && ok && !set) {
            const std::uint8_t status = buffer[7];
            if (buffer[0] != vrax::VirtualMouse31x::ReportId ||
                (status != 0 && status != 1 && status != 204)) {
                Finding();
            }
        }
    }
    return 0;
}
