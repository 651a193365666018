#include "records/OperationRecord.h"

#include "device/RememberingHidPlatform.h"
#include "host/HostName.h"
#include "programming/BinImage.h"

namespace vrax {

char LineLetter(int lineIndex) {
    return lineIndex >= 0 && lineIndex < 26 ? static_cast<char>('A' + lineIndex) : '?';
}

std::string FormatText(StationSettings& settings) {
    switch (settings.Format()) {
    case DataFormat::Byte2K:
        return "2K Byte";
    case DataFormat::Byte256:
        return "256 Byte x " + std::to_string(settings.BlockCount());
    case DataFormat::Custom:
        return "Custom " + settings.CustomRanges();
    case DataFormat::None:
        break;
    }
    return "";
}

ProductionRecord RecordOfOperation(const JobOutcome& outcome, StationContext& context,
                                   const RememberingHidPlatform* devices,
                                   const RecordOrigin& origin) {
    StationSettings& settings = context.settings;
    ProductionRecord record;
    record.id = NewRecordId();
    record.time = UtcTimeWithMilliseconds();
    record.operation = JobName(outcome.job);
    record.factory = settings.FactoryIndex() + 1;
    record.line = LineLetter(settings.LineIndex());
    record.station = settings.StationIndex() + 1;
    record.host = HostName();
    const int icType = settings.IcType();
    record.icType = IcTypeName(icType);
    record.vendorId = origin.vendorId;
    record.productId = origin.productId;
    const MouseLink* link = context.links.For(icType);
    const HidHandle handle = link == nullptr ? InvalidHandle : link->DeviceHandle();
    if (devices && handle != InvalidHandle) {
        const RememberingHidPlatform::Opened opened = devices->Find(handle);
        record.devicePath = opened.path;
        if (opened.attributes.vendorId != 0 || opened.attributes.productId != 0) {
            record.vendorId = opened.attributes.vendorId;
            record.productId = opened.attributes.productId;
        }
    }
    if (outcome.job == Job::Write || outcome.job == Job::Verify) {
        record.imageFile = origin.imageFile;
        record.imageSha256 = origin.imageSha256;
        record.format = FormatText(settings);
    }
    record.productType = outcome.productType;
    record.serialNumber = outcome.serialNumber;
    record.verdict = VerdictText(outcome);
    record.durationMs = outcome.durationMs;
    record.error = outcome.reason;
    return record;
}

} // namespace vrax
