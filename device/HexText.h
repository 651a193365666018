#pragma once

#include <cstdio>
#include <string>

namespace vrax {

// Upper-case hexadecimal of at least `digits` digits, as the window shows IDs, product types and
// serial numbers.
inline std::string HexText(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

} // namespace vrax
