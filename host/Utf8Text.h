#pragma once

#include <string>
#include <string_view>

namespace vrax {

// Whether text is UTF-8 as PostgreSQL takes it: no overlong form, surrogate or code point past
// U+10FFFF.
bool IsUtf8(std::string_view text);

// text in UTF-8: as it is when it already is; else read in the code page Windows gives a
// program's narrow strings, and elsewhere with each byte that is not UTF-8 shown as \xNN.
std::string Utf8OfPlatformText(const std::string& text);

} // namespace vrax
