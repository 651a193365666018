#include "records/OperationRecord.h"

#include "device/RememberingHidPlatform.h"
#include "programming/BinImage.h"
#include "records/HostName.h"

namespace vrax {

namespace {

int BigEndian(const FactoryRecordBytes& record, int first, int count) {
    int value = 0;
    for (int i = first; i < first + count; ++i) {
        value = (value << 8) | record[static_cast<std::size_t>(i)];
    }
    return value;
}

} // namespace

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

ProductionRecord RecordOfOperation(const std::string& operation, const std::string& verdict,
                                   StationContext& context, const RememberingHidPlatform* devices,
                                   const RecordOrigin& origin,
                                   const std::optional<StampedNumber>& stamped) {
    StationSettings& settings = context.settings;
    ProductionRecord record;
    record.id = NewRecordId();
    record.time = UtcTimeWithMilliseconds();
    record.operation = operation;
    record.factory = settings.FactoryIndex() + 1;
    const int line = settings.LineIndex();
    record.line = line >= 0 && line < 26 ? static_cast<char>('A' + line) : '?';
    record.station = settings.StationIndex() + 1;
    record.host = HostName();
    const int icType = settings.IcType();
    record.icType = IcTypeName(icType);
    record.vendorId = origin.vendorId;
    record.productId = origin.productId;
    const HidHandle handle =
        icType == IcTypeKvqm31x ? context.link31.Handle() : context.link42.CommandHandle();
    if (devices && handle != InvalidHandle) {
        const RememberingHidPlatform::Opened opened = devices->Find(handle);
        record.devicePath = opened.path;
        if (opened.attributes.vendorId != 0 || opened.attributes.productId != 0) {
            record.vendorId = opened.attributes.vendorId;
            record.productId = opened.attributes.productId;
        }
    }
    if (operation == "write" || operation == "verify") {
        record.imageFile = origin.imageFile;
        record.imageSha256 = origin.imageSha256;
        record.format = FormatText(settings);
    }
    if (operation == "write" && stamped) {
        record.productType = stamped->productType;
        record.serialNumber = stamped->serialNumber;
    } else if (operation == "factory-read" && verdict == "Read Ok") {
        const FactoryRecordBytes& bytes = context.state.FactoryRecord;
        record.productType = BigEndian(bytes, 0, 2);
        record.serialNumber = BigEndian(bytes, 6, 3);
    }
    record.verdict = verdict;
    return record;
}

} // namespace vrax
