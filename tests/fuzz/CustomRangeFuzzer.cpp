#include "programming/DataFormat.h"
#include "programming/StationError.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

// Any text at all: the reader hands on only ranges within the image, at most one per item, and
// refuses everything else with its own error type; any other exception is a finding.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const long items = std::count(text.begin(), text.end(), ';');
    long handed = 0;
    try {
        vrax::ForEachCustomRange(text, [&](int start, int end) {
            if (start < 0 || end <= start || end > vrax::ImageSize) {
                std::abort();
            }
            ++handed;
            return true;
        });
    } catch (const vrax::StationError& error) {
        if (std::string(error.what()).empty()) {
            std::abort();
        }
    }
    if (handed > items) {
        std::abort();
    }
    return 0;
}
