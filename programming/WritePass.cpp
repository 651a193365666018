#include "WritePass.h"

#include "programming/DataFormat.h"

#include <algorithm>
#include <cstring>

namespace vrax {

bool WriteImagePass(StationContext& context, MemoryLink& link, const JobTraits& jobs,
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
        if (!jobs.customRanges) {
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

bool VerifyAfterWrite(StationContext& context, MouseLink& link, ImageSnapshot& image) {
    StationView& view = context.view;
    StationState& state = context.state;
    ImageBuffer& reference = image.bytes;
    view.ShowBusyWindow();
    view.PumpMessages();

    bool result = false;
    try {
        if (link.Identify(image.typeName) == MouseMatch::Match) {
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
    link.EndSession();
    view.HideBusyWindow();
    view.PumpMessages();
    return result;
}

} // namespace vrax
