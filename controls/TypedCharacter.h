#pragma once

#include <optional>

class QKeyEvent;

namespace vrax {

// The character code a key press types into an edit control, control characters included
// (Ctrl+C types 3, Enter 13, Escape 27, Backspace 8); none for keys that type nothing, such
// as the arrows, Delete, Insert or the function keys.
std::optional<char16_t> TypedCharacter(const QKeyEvent& event);

} // namespace vrax
