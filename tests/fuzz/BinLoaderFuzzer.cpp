#include "device/NullHidPlatform.h"
#include "programming/BinImage.h"
#include "programming/StationContext.h"
#include "programming/StationError.h"
#include "tests/programming/RecordingView.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

// The loader's size handling. Byte 0 chooses the IC type (its value mod 4, 3 meaning none) and
// how the file is made: even, the file holds the rest of the input; odd, it is a sparse file
// whose size is the next eight bytes, little-endian, kept below 1 TiB. Exactly 2048 bytes load,
// and then as they are; any other size leaves the image in memory as it was.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    static const std::string path = [] {
        static const std::string name =
            "/tmp/vrax-bin-loader-fuzz-" + std::to_string(getpid()) + ".bin";
        std::atexit([] { std::remove(name.c_str()); });
        return name;
    }();
    const bool sparse = (data[0] & 1) != 0;
    std::uint64_t fileSize = 0;
    {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) {
            std::abort();
        }
        if (sparse) {
            for (std::size_t i = 0; i < 8 && 1 + i < size; ++i) {
                fileSize |= std::uint64_t{data[1 + i]} << (8 * i);
            }
            fileSize &= (std::uint64_t{1} << 40) - 1;
        } else {
            fileSize = size - 1;
            std::fwrite(data + 1, 1, size - 1, file);
        }
        std::fclose(file);
        if (sparse && truncate(path.c_str(), static_cast<off_t>(fileSize)) != 0) {
            return 0;
        }
    }

    vrax::NullHidPlatform platform;
    vrax::VirtualClock clock;
    vrax::PlainSettings settings;
    settings.icType = data[0] / 2 % 4 == 3 ? -1 : data[0] / 2 % 4;
    vrax::testing::RecordingView view;
    vrax::Station station(platform, clock, settings, view);
    station.state.LoadedImage.fill(0xA5);
    vrax::StationContext context = station.Context();
    vrax::BeginLoad(context);
    vrax::LoadOutcome outcome;
    try {
        outcome = vrax::LoadBinFile(context, path);
    } catch (const vrax::FileError&) {
        std::abort();
    }

    const bool rightSize = fileSize == vrax::ImageSize;
    const bool typed = settings.icType >= 0 && settings.icType <= 2;
    if (rightSize && typed) {
        if (outcome != vrax::LoadOutcome::Loaded || !station.state.ImageLoaded) {
            std::abort();
        }
        for (int i = 0; i < vrax::ImageSize; ++i) {
            const std::uint8_t expected = sparse ? 0 : data[1 + i];
            if (station.state.LoadedImage[static_cast<std::size_t>(i)] != expected) {
                std::abort();
            }
        }
        return 0;
    }
    if (outcome == vrax::LoadOutcome::Loaded || station.state.ImageLoaded ||
        (outcome == vrax::LoadOutcome::WrongSize) == rightSize) {
        std::abort();
    }
    for (const std::uint8_t byte : station.state.LoadedImage) {
        if (byte != 0xA5) {
            std::abort();
        }
    }
    return 0;
}
