#include "MouseLink.h"

#include "Chunking.h"

#include <algorithm>

namespace vrax {

bool MouseLink::ReadMemory(int address, int length, std::uint8_t* destination,
                           int destinationSize) {
    if (destinationSize > 0) {
        std::fill_n(destination, destinationSize, std::uint8_t{0xFF});
    }
    if (!BeginRead(address, length)) {
        return false;
    }
    const int chunks = ChunkCount(length, chunkSize_);
    for (int k = 0; k < chunks; ++k) {
        progress_.ChunkStarting(k, chunks);
        chunk_.fill(0xFF);
        const bool delivered = ReadChunk(chunk_.data());
        std::copy_n(chunk_.begin(), ChunkLength(k, length, chunkSize_),
                    destination + chunkSize_ * k);
        // A chunk that did not arrive leaves 0xFF in the destination; reporting success then
        // would let a verify or a saved file pass on bytes the mouse never sent.
        if (!delivered) {
            return false;
        }
        ChunkPlaced();
    }
    return true;
}

bool MouseLink::WriteMemory(int address, int length, const std::uint8_t* source) {
    chunk_.fill(0xFF);
    if (!BeginWrite(address, length)) {
        return false;
    }
    const int chunks = ChunkCount(length, chunkSize_);
    for (int k = 0; k < chunks; ++k) {
        progress_.ChunkStarting(k, chunks);
        std::copy_n(source + chunkSize_ * k, ChunkLength(k, length, chunkSize_), chunk_.begin());
        ChunkPlaced();
        if (!WriteChunk(chunk_.data())) {
            return false;
        }
    }
    return true;
}

} // namespace vrax
