#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vrax {

// Lower-case hexadecimal SHA-256 of the bytes.
std::string Sha256Hex(const std::uint8_t* data, std::size_t size);

} // namespace vrax
