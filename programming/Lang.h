#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vrax {

struct UITextRow {
    std::uint8_t id;
    std::array<const char*, 3> texts;
};

inline constexpr int UITextRowCount = 39;
extern const std::array<UITextRow, UITextRowCount> UITextTable;

// Operator-visible texts by id, in the column LanguageIndex chooses for the whole run.
class Lang {
public:
    // 0 at start; only the start-up's language choice sets it (to 0 or 2).
    std::uint8_t LanguageIndex = 0;

    // Scans the table in stored order; an id without a row leaves text as it was.
    void GetUIText(std::uint8_t id, std::string& text) const;

    // Convenience for callers that start from an empty text.
    std::string Text(std::uint8_t id) const {
        std::string text;
        GetUIText(id, text);
        return text;
    }
};

} // namespace vrax
