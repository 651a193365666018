#include "StationError.h"

#include <cstdint>

namespace vrax {

int ConvertDecimal(const std::string& text) {
    std::size_t position = 0;
    bool negative = false;
    if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
        negative = text[position] == '-';
        ++position;
    }
    if (position == text.size()) {
        throw ConversionError(text);
    }
    std::int64_t value = 0;
    for (; position < text.size(); ++position) {
        const char c = text[position];
        if (c < '0' || c > '9') {
            throw ConversionError(text);
        }
        value = value * 10 + (c - '0');
        if (value > std::int64_t{2147483648}) {
            throw ConversionError(text);
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > 2147483647 || value < -2147483648LL) {
        throw ConversionError(text);
    }
    return static_cast<int>(value);
}

int ConvertHexadecimal(const std::string& fieldText) {
    const std::string shown = "$0" + fieldText;
    std::uint32_t value = 0;
    int significantDigits = 0;
    for (const char c : fieldText) {
        int digit = 0;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            throw ConversionError(shown);
        }
        if (significantDigits > 0 || digit != 0) {
            ++significantDigits;
        }
        if (significantDigits > 8) {
            throw ConversionError(shown);
        }
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return static_cast<int>(value);
}

} // namespace vrax
