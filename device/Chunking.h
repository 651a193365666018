#pragma once

#include <cstdint>

namespace vrax {

// How the links cut a memory transfer into reports of chunkSize data bytes.
inline int ChunkCount(int length, int chunkSize) {
    return length / chunkSize + (length % chunkSize > 0 ? 1 : 0);
}

// The bytes chunk k carries: chunkSize, except a short last chunk.
inline int ChunkLength(int k, int length, int chunkSize) {
    return (k == ChunkCount(length, chunkSize) - 1 && length % chunkSize > 0) ? length % chunkSize
                                                                              : chunkSize;
}

inline std::uint8_t LowByte(int value) {
    return static_cast<std::uint8_t>(value & 0xFF);
}

} // namespace vrax
