#pragma once

#include <stdexcept>
#include <string>

namespace vrax {

// An error that stops the handler it arose in; its message is shown to the operator as is.
class StationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A number text that does not convert; names the text that was converted.
class ConversionError : public StationError {
public:
    explicit ConversionError(const std::string& text)
        : StationError("'" + text + "' is not a valid integer value") {}
};

// "Cannot open file ..." and "Cannot create file ...".
class FileError : public StationError {
public:
    using StationError::StationError;
};

// Converts a decimal text with an optional sign to a 32-bit integer, as the number fields
// and the range list do; anything else throws ConversionError naming the text.
int ConvertDecimal(const std::string& text);

// Reads a hexadecimal field text as the conversion of "$0" + text: up to eight significant
// digits, the 32 bits taken as a signed value (FFFFFFFF gives -1). The error names "$0" + text.
int ConvertHexadecimal(const std::string& fieldText);

} // namespace vrax
