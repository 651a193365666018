#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vrax {

// Cuts a jig's byte stream into lines ended by CR, LF or CRLF. A line longer than MaxLine or
// holding a byte that is not printable ASCII comes out as a refusal instead, and the rest of it
// up to its end is dropped, so one bad line never swallows the next.
class LineReader {
public:
    static constexpr std::size_t MaxLine = 4096;

    struct Line {
        std::string text;
        std::string refusal; // why the line was dropped; text is empty then
    };

    std::vector<Line> Feed(std::string_view bytes);
    // A new client starts with nothing pending.
    void Reset();

private:
    std::string pending_;
    bool afterCarriageReturn_ = false;
    bool tooLong_ = false;
    bool notAscii_ = false;
};

} // namespace vrax
