#include "remote/LineReader.h"

namespace vrax {

std::vector<LineReader::Line> LineReader::Feed(std::string_view bytes) {
    std::vector<Line> lines;
    for (const char byte : bytes) {
        if (byte == '\n' && afterCarriageReturn_) {
            afterCarriageReturn_ = false;
            continue;
        }
        afterCarriageReturn_ = byte == '\r';
        if (byte == '\r' || byte == '\n') {
            Line line;
            if (tooLong_) {
                line.refusal = "LINE LONGER THAN 4096 BYTES";
            } else if (notAscii_) {
                line.refusal = "NOT ASCII";
            } else {
                line.text = std::move(pending_);
            }
            pending_.clear();
            tooLong_ = false;
            notAscii_ = false;
            lines.push_back(std::move(line));
            continue;
        }
        const auto code = static_cast<unsigned char>(byte);
        if (code < 0x20 && byte != '\t') {
            notAscii_ = true;
        } else if (code > 0x7E) {
            notAscii_ = true;
        }
        if (pending_.size() >= MaxLine) {
            tooLong_ = true;
            continue;
        }
        pending_ += byte;
    }
    return lines;
}

void LineReader::Reset() {
    pending_.clear();
    afterCarriageReturn_ = false;
    tooLong_ = false;
    notAscii_ = false;
}

} // namespace vrax
