#pragma once

#include "device/MouseTypes.h"

#include <string>

namespace vrax {

enum class DataFormat { None, Byte2K, Byte256, Custom };

// The operator's settings, read at the moment the behaviour needs them (some afresh on every
// pass). Number getters may throw ConversionError, as the number fields do.
class StationSettings {
public:
    virtual ~StationSettings() = default;

    // Selected item of the IC type list; -1 or any other value when none is selected.
    virtual int IcType() = 0;
    virtual int TotalTimes() = 0;
    virtual int RetryTimes() = 0;
    virtual int SleepTime() = 0;
    // The first checked of 2K Byte, 256 Byte, Custom.
    virtual DataFormat Format() = 0;
    virtual int BlockCount() = 0;
    virtual std::string CustomRanges() = 0;
    virtual bool WriteProductId() = 0;

    virtual int FactoryType() = 0;
    virtual int FactoryDate() = 0;
    virtual int FactoryNumber() = 0;
    // Selected list positions; -1 when a list has no selection.
    virtual int FactoryIndex() = 0;
    virtual int LineIndex() = 0;
    virtual int StationIndex() = 0;
};

// Plain settings for tests and the command line, with the window's defaults.
class PlainSettings : public StationSettings {
public:
    int IcType() override { return icType; }
    int TotalTimes() override { return totalTimes; }
    int RetryTimes() override { return retryTimes; }
    int SleepTime() override { return sleepTime; }
    DataFormat Format() override { return format; }
    int BlockCount() override { return blockCount; }
    std::string CustomRanges() override { return customRanges; }
    bool WriteProductId() override { return writeProductId; }
    int FactoryType() override { return factoryType; }
    int FactoryDate() override { return factoryDate; }
    int FactoryNumber() override { return factoryNumber; }
    int FactoryIndex() override { return factoryIndex; }
    int LineIndex() override { return lineIndex; }
    int StationIndex() override { return stationIndex; }

    int icType = IcTypeKvqm31x;
    int totalTimes = 1;
    int retryTimes = 3;
    int sleepTime = 100;
    DataFormat format = DataFormat::Custom;
    int blockCount = 8;
    std::string customRanges = "000-256;1280-1536;";
    bool writeProductId = false;
    int factoryType = 0x0005;
    int factoryDate = 0x20200527;
    int factoryNumber = 0x000001;
    int factoryIndex = 0;
    int lineIndex = 0;
    int stationIndex = 0;
};

} // namespace vrax
