#include "TIntEdit.h"

#include "programming/StationError.h"

namespace vrax {

namespace {
constexpr const char* DecimalDigits = "0123456789";
} // namespace

bool TIntEdit::FilterWndProc(QEvent* message) {
    return FilterTyped(message, DecimalDigits);
}

int TIntEdit::GetValue() {
    // Appending, not operator+ on a literal: GCC 12 at -O3 takes the latter for an
    // overlapping copy (-Wrestrict).
    std::string digits = "0";
    digits += text().toStdString();
    return ConvertDecimal(digits);
}

void TIntEdit::SetValue(int value) {
    setText(value <= 0 ? QString() : QString::number(value));
}

} // namespace vrax
