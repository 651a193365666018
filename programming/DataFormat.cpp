#include "DataFormat.h"

#include "programming/MouseIdentity.h"
#include "programming/StationError.h"

#include <algorithm>
#include <cstring>

namespace vrax {

namespace {

void SendClosingCommands(Kvqm31xLink& link) {
    link.SendCommand(Kvqm31xLink::CmdFinish, 0, 0, 0, 0);
    link.SendCommand(Kvqm31xLink::CmdEnd, 0, 0, 0, 0);
}

} // namespace

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

bool WriteImagePass(StationContext& context, MemoryLink& link, bool customAllowed,
                    const ImageBuffer& imageBytes) {
    StationSettings& settings = context.settings;
    const std::uint8_t* image = imageBytes.data();
    const int attempts = settings.RetryTimes();
    switch (settings.Format()) {
    case DataFormat::Byte2K:
        for (int attempt = 0; attempt < attempts; ++attempt) {
            if (link.WriteMemory(0, ImageSize, image)) {
                return true;
            }
        }
        return false;
    case DataFormat::Byte256: {
        const int blocks = settings.BlockCount();
        // No blocks would make every attempt succeed without a single write.
        if (blocks < 1) {
            return false;
        }
        const int blockCount = std::min(blocks, MaxBlockCount);
        for (int attempt = 0; attempt < attempts; ++attempt) {
            bool everyBlockWritten = true;
            for (int block = 0; block < blockCount; ++block) {
                if (!link.WriteMemory(block * BlockSize, BlockSize, image + block * BlockSize)) {
                    everyBlockWritten = false;
                }
            }
            if (everyBlockWritten) {
                return true;
            }
        }
        return false;
    }
    case DataFormat::Custom: {
        if (!customAllowed) {
            return false;
        }
        bool anyRangeWritten = false;
        ForEachCustomRange(settings.CustomRanges(), [&](int start, int end) {
            for (int attempt = 0; attempt < attempts; ++attempt) {
                if (link.WriteMemory(start, end - start, image + start)) {
                    anyRangeWritten = true;
                    break;
                }
            }
            return true;
        });
        return anyRangeWritten;
    }
    case DataFormat::None:
        break;
    }
    return false;
}

bool VerifyAfterWrite(StationContext& context, ImageSnapshot& image) {
    StationView& view = context.view;
    StationState& state = context.state;
    Kvqm31xLink& link = context.link31;
    ImageBuffer& reference = image.bytes;
    view.ShowBusyWindow();
    view.PumpMessages();

    bool result = false;
    try {
        if (MatchImageToMouse(link, image.typeName) == MouseMatch::Match) {
            if (context.settings.WriteProductId()) {
                std::copy(state.FactoryRecord.begin(), state.FactoryRecord.end(),
                          reference.begin() + FactoryRecordAddress);
            }
            result = true;
            switch (context.settings.Format()) {
            case DataFormat::Byte256: {
                const int blockCount = std::min(context.settings.BlockCount(), MaxBlockCount);
                // A check that compares nothing must not pass.
                result = blockCount >= 1;
                ImageBuffer readArea{};
                for (int block = 0; block < blockCount && result; ++block) {
                    const int offset = block * BlockSize;
                    if (!link.ReadMemory(offset, BlockSize, readArea.data() + offset, BlockSize) ||
                        std::memcmp(readArea.data() + offset, reference.data() + offset,
                                    BlockSize) != 0) {
                        result = false;
                    }
                }
                break;
            }
            case DataFormat::Custom:
                ForEachCustomRange(context.settings.CustomRanges(), [&](int start, int end) {
                    std::uint8_t* readBack = state.ReadBackBuffer.data() + start;
                    if (!link.ReadMemory(start, end - start, readBack, 1) ||
                        std::memcmp(readBack, reference.data() + start, end - start) != 0) {
                        result = false;
                    }
                    return result;
                });
                break;
            case DataFormat::Byte2K:
            case DataFormat::None:
                break;
            }
        }
    } catch (...) {
        // The job closes the sequence once on its way out.
        view.HideBusyWindow();
        throw;
    }
    SendClosingCommands(link);
    view.HideBusyWindow();
    view.PumpMessages();
    return result;
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
