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

// A file's name as the records keep it: converted on Windows, where the program gets it in the
// code page; elsewhere a name that is not UTF-8 cannot be told right and is refused
// (RecordsError), before any mouse is touched.
std::string Utf8FileName(const std::string& name);

} // namespace vrax
