#include "THexEdit.h"

#include "TypedCharacter.h"
#include "programming/StationError.h"

#include <QInputMethodEvent>
#include <QKeyEvent>

#include <cstring>

namespace vrax {

namespace {
constexpr const char* HexDigits = "0123456789abcdefABCDEF";

bool IsAllowed(char16_t typed, const char* allowed) {
    if (typed == 8) {
        return true;
    }
    // Only the low byte counts, as for an 8-bit character message.
    const char low = static_cast<char>(typed & 0xFF);
    return low != '\0' && std::strchr(allowed, low) != nullptr;
}
} // namespace

THexEdit::THexEdit(QWidget* parent) : TVRAXEdit(parent) {}

bool THexEdit::event(QEvent* event) {
    return FilterWndProc(event);
}

bool THexEdit::FilterTyped(QEvent* message, const char* allowed) {
    if (!IsFilter()) {
        return TVRAXEdit::event(message);
    }
    if (message->type() == QEvent::KeyPress) {
        const std::optional<char16_t> typed = TypedCharacter(*static_cast<QKeyEvent*>(message));
        if (typed && !IsAllowed(*typed, allowed)) {
            message->accept();
            return true;
        }
    } else if (message->type() == QEvent::InputMethod) {
        const QString committed = static_cast<QInputMethodEvent*>(message)->commitString();
        for (const QChar c : committed) {
            if (!IsAllowed(c.unicode(), allowed)) {
                message->accept();
                return true;
            }
        }
    }
    return TVRAXEdit::event(message);
}

bool THexEdit::FilterWndProc(QEvent* message) {
    return FilterTyped(message, HexDigits);
}

int THexEdit::GetValue() {
    return ConvertHexadecimal(text().toStdString());
}

void THexEdit::SetValue(int value) {
    setText(value <= 0 ? QString() : QString::number(value, 16).toUpper());
}

} // namespace vrax
