#pragma once

namespace vrax {

// What a mouse's identity check found, in order of precedence.
enum class MouseMatch { NoAnswer, Mismatch, Unmarked, NotReady, Match };

inline const char* MouseMatchName(MouseMatch match) {
    switch (match) {
    case MouseMatch::NoAnswer:
        return "no answer";
    case MouseMatch::Mismatch:
        return "mismatch";
    case MouseMatch::Unmarked:
        return "unmarked";
    case MouseMatch::NotReady:
        return "not ready";
    case MouseMatch::Match:
        return "match";
    }
    return "?";
}

} // namespace vrax
