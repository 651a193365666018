#include "FactoryRecord.h"

#include "programming/StationError.h"

#include <cstdio>
#include <limits>

namespace vrax {

namespace {
std::uint8_t Byte(int value, int shift) {
    return static_cast<std::uint8_t>((static_cast<std::uint32_t>(value) >> shift) & 0xFF);
}
} // namespace

FactoryRecordBytes BuildFactoryRecord(int productType, int date, int serialNumber, int factoryIndex,
                                      int lineIndex, int stationIndex) {
    return {Byte(productType, 8),   Byte(productType, 0),  Byte(date, 24),
            Byte(date, 16),         Byte(date, 8),         Byte(date, 0),
            Byte(serialNumber, 16), Byte(serialNumber, 8), Byte(serialNumber, 0),
            Byte(factoryIndex, 0),  Byte(lineIndex, 0),    Byte(stationIndex, 0)};
}

FactoryFields DecodeFactoryRecord(const FactoryRecordBytes& record) {
    FactoryFields fields;
    fields.productType = record[0] * 256 + record[1];
    const std::uint32_t date = (std::uint32_t{record[2]} << 24) | (std::uint32_t{record[3]} << 16) |
                               (std::uint32_t{record[4]} << 8) | record[5];
    fields.date = static_cast<int>(date);
    fields.serialNumber = (record[6] << 16) | (record[7] << 8) | record[8];
    fields.factoryIndex = record[9];
    fields.lineIndex = record[10];
    fields.stationIndex = record[11];
    return fields;
}

void CheckSerialNumberFits(int serialNumber) {
    if (serialNumber >= 0 && serialNumber <= MaxSerialNumber) {
        return;
    }
    char shown[16];
    std::snprintf(shown, sizeof shown, "%X", static_cast<unsigned>(serialNumber));
    throw StationError("The serial number in \"SN\" (" + std::string(shown) +
                       ") does not fit the factory record, which holds 000000 to FFFFFF; no "
                       "record was stamped. Set \"SN\" to a serial number not yet stamped.");
}

int AdvancedSerialNumber(int serialNumber) {
    // Past the record's range the job refuses the number anyway; it must only never wrap.
    if (serialNumber < 0 || serialNumber == std::numeric_limits<int>::max()) {
        return serialNumber;
    }
    return serialNumber + 1;
}

bool WriteFactoryRecord(StationContext& context, JobOutcome* stamped) {
    StationSettings& settings = context.settings;
    const int productType = settings.FactoryType();
    const int date = settings.FactoryDate();
    const int serialNumber = settings.FactoryNumber();
    CheckSerialNumberFits(serialNumber);
    const int attempts = settings.RetryTimes();
    context.state.FactoryRecord =
        BuildFactoryRecord(productType, date, serialNumber, settings.FactoryIndex(),
                           settings.LineIndex(), settings.StationIndex());
    const std::uint8_t* record = context.state.FactoryRecord.data();
    if (attempts > 0) {
        context.gate.AdmitSerialNumber(productType & 0xFFFF, serialNumber,
                                       StampMoment::RecordGoesOut);
        if (stamped != nullptr) {
            stamped->productType = productType & 0xFFFF;
            stamped->serialNumber = serialNumber;
        }
    }
    for (int attempt = 0; attempt < attempts; ++attempt) {
        MouseLink* link = context.links.For(settings.IcType());
        if (link != nullptr && link->WriteMemory(FactoryRecordAddress, FactoryRecordSize, record)) {
            return true;
        }
    }
    return false;
}

JobOutcome ReadFactoryRecord(StationContext& context) {
    OperationScope operation(context);
    StationView& view = context.view;
    view.HideResult();
    view.SetDevTimerRunning(false);
    view.SetActionButtonsEnabled(false);
    bool success = false;
    view.ShowBusyWindow();
    view.PumpMessages();

    JobOutcome outcome(Job::FactoryRead);
    std::uint8_t* record = context.state.FactoryRecord.data();
    const auto showRecord = [&] {
        const FactoryFields fields = DecodeFactoryRecord(context.state.FactoryRecord);
        outcome.productType = fields.productType;
        outcome.serialNumber = fields.serialNumber;
        view.ShowFactoryRecord(fields.productType, fields.date, fields.serialNumber,
                               fields.factoryIndex, fields.lineIndex, fields.stationIndex);
    };
    // Every family keeps the record at the same place.
    if (MouseLink* link = context.links.For(context.settings.IcType())) {
        if (link->Identify(operation.image.typeName) == MouseMatch::Match &&
            link->ReadMemory(FactoryRecordAddress, FactoryRecordSize, record, 1)) {
            showRecord();
            success = true;
        }
        // Ended in every case, even when the session's opening went unanswered.
        link->EndSession();
    }
    Decide(context, outcome, success ? JobVerdict::Pass : JobVerdict::Fail);
    if (success) {
        view.ShowResult("Read Ok", ResultColour::Green);
    } else {
        view.ShowResult("Read Fail", ResultColour::Red);
    }

    view.HideBusyWindow();
    view.PumpMessages();
    OfferActionButtons(context);
    ResumePolling(context);
    view.PumpMessages();
    return Finished(context, outcome);
}

} // namespace vrax
