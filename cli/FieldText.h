#pragma once

#include <string>

namespace vrax {

// The window's number fields take only digits of their notation, up to a typing limit; an
// option standing for one takes the same. Both throw UsageError naming the option.
int DecimalFieldValue(const std::string& option, const std::string& text, int maximumDigits);

// A leading "0x" is allowed, as shells and scripts often write one.
int HexadecimalFieldValue(const std::string& option, const std::string& text, int maximumDigits);

} // namespace vrax
