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
    return ConvertDecimal("0" + text().toStdString());
}

void TIntEdit::SetValue(int value) {
    setText(value <= 0 ? QString() : QString::number(value));
}

} // namespace vrax
