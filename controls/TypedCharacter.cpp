#include "TypedCharacter.h"

#include <QKeyEvent>

namespace vrax {

std::optional<char16_t> TypedCharacter(const QKeyEvent& event) {
    const int key = event.key();
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    const bool control = modifiers.testFlag(Qt::ControlModifier);
    const bool alt = modifiers.testFlag(Qt::AltModifier);

    if (key == Qt::Key_Backspace) {
        return control ? char16_t{127} : char16_t{8};
    }
    if (key == Qt::Key_Delete || key == Qt::Key_Tab || key == Qt::Key_Backtab) {
        return std::nullopt;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        return control ? char16_t{10} : char16_t{13};
    }
    if (key == Qt::Key_Escape) {
        return char16_t{27};
    }
    // Ctrl with a letter types the control character, whatever text the platform attached.
    if (control && !alt) {
        if (key >= Qt::Key_A && key <= Qt::Key_Z) {
            return static_cast<char16_t>(key - Qt::Key_A + 1);
        }
        switch (key) {
        case Qt::Key_BracketLeft:
            return char16_t{27};
        case Qt::Key_Backslash:
            return char16_t{28};
        case Qt::Key_BracketRight:
            return char16_t{29};
        default:
            return std::nullopt;
        }
    }
    const QString text = event.text();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    return static_cast<char16_t>(text.at(0).unicode());
}

} // namespace vrax
