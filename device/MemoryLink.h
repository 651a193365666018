#pragma once

#include <cstdint>

namespace vrax {

// The memory operations every device family offers; the programming operations write and
// read through this without caring which family is underneath.
class MemoryLink {
public:
    virtual ~MemoryLink() = default;

    // Fills destinationSize bytes of destination with 0xFF, then reads length bytes at address.
    virtual bool ReadMemory(int address, int length, std::uint8_t* destination,
                            int destinationSize) = 0;
    virtual bool WriteMemory(int address, int length, const std::uint8_t* source) = 0;
};

} // namespace vrax
