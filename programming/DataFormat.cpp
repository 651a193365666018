#include "DataFormat.h"

#include "programming/StationError.h"

#include <algorithm>
#include <cstring>

namespace vrax {

void ForEachCustomRange(const std::string& text,
                        const std::function<bool(int start, int end)>& handler) {
    std::string rest = text;
    for (std::size_t separator = rest.find(';'); separator != std::string::npos;
         separator = rest.find(';')) {
        const std::string item = rest.substr(0, separator);
        const std::size_t dash = item.find('-');
        const std::size_t width = dash == std::string::npos ? 0 : dash;
        const int start = ConvertDecimal(item.substr(0, width));
        const int end = ConvertDecimal(item.substr(item.size() - width));
        // Nothing outside the image may be read or written, whatever the text says.
        if (start < 0 || end <= start || end > ImageSize) {
            throw StationError("Custom range \"" + item + ";\" is not valid: it stands for bytes " +
                               std::to_string(start) + " to " + std::to_string(end) +
                               ", but a range must end above its start and lie within 0-" +
                               std::to_string(ImageSize) + ".");
        }
        if (!handler(start, end)) {
            return;
        }
        rest.erase(0, separator + 1);
    }
}

std::optional<int> ClampedBlockCount(int value) {
    if (value < 1) {
        return 1;
    }
    if (value > MaxBlockCount) {
        return MaxBlockCount;
    }
    return std::nullopt;
}

} // namespace vrax
