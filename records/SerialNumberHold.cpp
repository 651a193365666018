#include "records/SerialNumberHold.h"

#include "device/HexText.h"

#include <cstdio>

namespace vrax {

SerialNumberHold::~SerialNumberHold() {
    if (held_) {
        try {
            records_.SettleSerialNumber(held_->productType, held_->serialNumber, false);
        } catch (const RecordsError&) {
            // Left reserved: the next open after this process settles it from the records.
        }
    }
}

void SerialNumberHold::Claim(int productType, int serialNumber) {
    if (Holds(productType, serialNumber)) {
        return;
    }
    if (held_) {
        Settle(false);
    }
    records_.ClaimSerialNumber(productType, serialNumber);
    held_ = Held{productType, serialNumber};
}

int SerialNumberHold::Reserve(int productType, int firstSerial) {
    if (held_) {
        Settle(false);
    }
    const int serialNumber = records_.ReserveSerialNumber(productType, firstSerial);
    held_ = Held{productType, serialNumber};
    return serialNumber;
}

void SerialNumberHold::Settle(bool stamped) {
    if (!held_) {
        return;
    }
    const Held held = *held_;
    held_.reset();
    records_.SettleSerialNumber(held.productType, held.serialNumber, stamped);
}

void SerialNumberHold::SettleRecordLost() {
    if (!held_) {
        return;
    }
    const Held held = *held_;
    held_.reset();
    records_.SettleRecordLost(held.productType, held.serialNumber);
}

UnrecordedMouse::UnrecordedMouse(const std::string& cause, const std::string& mouse)
    : RecordsError(cause + "\nThis mouse was programmed and has no record: " + mouse),
      cause_(cause), mouse_(mouse) {}

std::string MouseOfRecord(const ProductionRecord& record) {
    std::string text =
        record.devicePath.empty() ? std::string("(unknown path)") : record.devicePath;
    if (record.serialNumber) {
        text += "  SN " + record.SerialText();
        if (record.productType) {
            text += " of product type " + HexText(static_cast<unsigned>(*record.productType), 4);
        }
    }
    return text + "  " + (record.verdict.empty() ? record.error : record.verdict);
}

void StoreRecord(RecordJournal& records, const ProductionRecord& record, SerialNumberHold* hold,
                 bool passed) {
    try {
        records.Append(record);
    } catch (const RecordsError& error) {
        if (hold != nullptr) {
            // The mouse may hold the number, also after a failed write without its record:
            // keep it from every other mouse, on a mouse with its record lost if the store
            // still takes that much, else reserved until the next open settles it as of unknown
            // outcome.
            try {
                if (passed) {
                    hold->SettleRecordLost();
                }
            } catch (const RecordsError&) {
            }
            hold->Keep();
        }
        throw UnrecordedMouse(error.what(), MouseOfRecord(record));
    }
    if (hold != nullptr) {
        hold->Settle(passed);
    }
}

} // namespace vrax
