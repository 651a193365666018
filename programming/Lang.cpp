#include "Lang.h"

namespace vrax {

namespace {
constexpr UITextRow Same(std::uint8_t id, const char* text) {
    return {id, {text, text, text}};
}
} // namespace

// Stored order matters only for the scan; ids 28 and 30 carry the same text on purpose.
const std::array<UITextRow, UITextRowCount> UITextTable = {{
    Same(36, "Station"),
    Same(35, "Line"),
    Same(34, "Factory"),
    Same(33, "SN"),
    Same(32, "Date"),
    Same(31, "Product"),
    Same(30, "Factory Config"),
    Same(29, "Write Product ID"),
    Same(28, "Factory Config"),
    Same(27, "Data Format"),
    Same(26, "Retry Times"),
    Same(25, "Total Times"),
    Same(0, "No Find Mouse"),
    Same(1, "Mouse Ready"),
    {2, {"VRAX IC Type:", "VRAX IC Type", "VRAX IC Type"}},
    Same(3, "VID:"),
    Same(4, "PID:"),
    Same(5, "Write Mode:"),
    Same(6, "Auto Write"),
    Same(7, "BIN File Path:"),
    Same(8, "Load BIN"),
    Same(9, "Write"),
    Same(10, "Verify"),
    Same(11, "Save"),
    Same(12, "Write Pass"),
    Same(13, "Write Fail"),
    Same(14, "Verify Pass"),
    Same(15, "Verify Fail"),
    Same(16, "Save Pass"),
    Same(17, "Save Fail"),
    Same(18, "Result:"),
    Same(19, "BIN file not match Mouse"),
    Same(20, "BIN file not match IC Type"),
    Same(21, "PASS"),
    Same(22, "FAIL"),
    Same(23, "PASS Number:"),
    Same(37, "Read"),
    Same(38, "SleepTimes"),
    Same(24, "Write Parameter:"),
}};

void Lang::GetUIText(std::uint8_t id, std::string& text) const {
    for (const UITextRow& row : UITextTable) {
        if (row.id == id) {
            // A column past the table would be a programming error; fall back to column 0.
            text = row.texts[LanguageIndex < 3 ? LanguageIndex : 0];
            return;
        }
    }
}

} // namespace vrax
