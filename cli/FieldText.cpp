#include "cli/FieldText.h"

#include "cli/UsageError.h"

#include <cctype>

namespace vrax {

namespace {

bool AllOf(const std::string& text, int (*accepts)(int)) {
    for (const char c : text) {
        if (accepts(static_cast<unsigned char>(c)) == 0) {
            return false;
        }
    }
    return true;
}

} // namespace

int DecimalFieldValue(const std::string& option, const std::string& text, int maximumDigits) {
    if (text.empty() || static_cast<int>(text.size()) > maximumDigits ||
        !AllOf(text, &std::isdigit)) {
        throw UsageError(option + ": '" + text + "' is not a decimal number of 1 to " +
                         std::to_string(maximumDigits) + " digits");
    }
    return ConvertDecimal(text);
}

int HexadecimalFieldValue(const std::string& option, const std::string& text, int maximumDigits) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.erase(0, 2);
    }
    if (digits.empty() || static_cast<int>(digits.size()) > maximumDigits ||
        !AllOf(digits, &std::isxdigit)) {
        throw UsageError(option + ": '" + text + "' is not a hexadecimal number of 1 to " +
                         std::to_string(maximumDigits) + " digits");
    }
    return ConvertHexadecimal(digits);
}

} // namespace vrax
