#include "VirtualMouse.h"

#include <algorithm>

namespace vrax {

std::uint8_t VirtualMouse::ServedByte(int address) const {
    if (address < 0 || address >= MemorySize) {
        return 0xFF;
    }
    const std::uint8_t stored = memory_[static_cast<std::size_t>(address)];
    return address == faults_.corruptAddress ? static_cast<std::uint8_t>(~stored) : stored;
}

void VirtualMouse::Store(Transfer& transfer, const std::uint8_t* data, int count) {
    const int stored = std::min(count, transfer.remaining);
    std::copy_n(data, stored, memory_.begin() + transfer.address);
    transfer.address += stored;
    transfer.remaining -= stored;
    ++transfer.chunk;
}

void VirtualMouse::Serve(Transfer& transfer, std::uint8_t* out, int count) const {
    for (int i = 0; i < count; ++i) {
        out[i] = ServedByte(transfer.address + i);
    }
    const int served = std::min(count, transfer.remaining);
    transfer.address += served;
    transfer.remaining -= served;
    ++transfer.chunk;
}

} // namespace vrax
