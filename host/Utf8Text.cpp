#include "host/Utf8Text.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstddef>
#include <cstdio>

namespace vrax {

namespace {

// The length of the UTF-8 sequence that starts at `at`; 0 when none does.
std::size_t SequenceAt(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) -> unsigned {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
    };
    const unsigned lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    if (lead < 0xC2 || lead > 0xF4) {
        return 0;
    }
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    // The second byte's range also rules out overlong forms, surrogates and past U+10FFFF.
    const unsigned low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

} // namespace

bool IsUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = SequenceAt(text, at);
        if (length == 0) {
            return false;
        }
        at += length;
    }
    return true;
}

std::string Utf8OfPlatformText(const std::string& text) {
    if (IsUtf8(text)) {
        return text;
    }
#ifdef _WIN32
    const int size = static_cast<int>(text.size());
    const int wide =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (wide > 0) {
        std::wstring utf16(static_cast<std::size_t>(wide), L'\0');
        MultiByteToWideChar(CP_ACP, 0, text.data(), size, utf16.data(), wide);
        const int narrow =
            WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, nullptr, 0, nullptr, nullptr);
        std::string utf8(static_cast<std::size_t>(narrow), '\0');
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, utf8.data(), narrow, nullptr, nullptr);
        return utf8;
    }
#endif
    std::string shown;
    for (std::size_t at = 0; at < text.size();) {
        if (const std::size_t length = SequenceAt(text, at); length > 0) {
            shown.append(text, at, length);
            at += length;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(text[at]));
            shown += escaped;
            ++at;
        }
    }
    return shown;
}

} // namespace vrax
