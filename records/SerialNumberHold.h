#pragma once

#include "records/ProductionRecords.h"

#include <optional>
#include <string>

namespace vrax {

// The serial number one write job stamps, held in the records from before the mouse is
// touched until the job's record is stored; released when dropped unsettled.
class SerialNumberHold {
public:
    explicit SerialNumberHold(SerialLedger& records) : records_(records) {}
    ~SerialNumberHold();
    SerialNumberHold(const SerialNumberHold&) = delete;
    SerialNumberHold& operator=(const SerialNumberHold&) = delete;

    // The station's own number (the window's field, the line's advance). Throws RecordsError
    // when the records show it stamped or reserved by another write. A hold on another number
    // is released first; the same number again changes nothing.
    void Claim(int productType, int serialNumber);
    // The number the records choose (--serial next).
    int Reserve(int productType, int firstSerial);
    // Once the job's record is stored: stamped when it passed, else released.
    void Settle(bool stamped);
    // Passed, and its record could not be stored.
    void SettleRecordLost();
    // Leaves the number reserved as it is (its mouse's record could not be stored): the next
    // open after this process settles it from the records, as stamped or of unknown outcome.
    void Keep() { held_.reset(); }

    bool Holds(int productType, int serialNumber) const {
        return held_ && held_->productType == productType && held_->serialNumber == serialNumber;
    }

private:
    struct Held {
        int productType;
        int serialNumber;
    };
    SerialLedger& records_;
    std::optional<Held> held_;
};

// Thrown when the record of a mouse that was programmed could not be stored.
class UnrecordedMouse : public RecordsError {
public:
    UnrecordedMouse(const std::string& cause, const std::string& mouse);
    const std::string& Cause() const { return cause_; } // the store's error
    const std::string& Mouse() const { return mouse_; } // path, serial number and verdict

private:
    std::string cause_;
    std::string mouse_;
};

// "sim1&mi_00  SN 00012A of product type 0005  Write Pass".
std::string MouseOfRecord(const ProductionRecord& record);

// Commits the record of an operation that reached a mouse, then settles the serial number it
// held (hold may be null): stamped when the write `passed`, else released. Throws
// UnrecordedMouse when the record cannot be stored, and RecordsError when the settling fails
// after it was.
void StoreRecord(RecordJournal& records, const ProductionRecord& record, SerialNumberHold* hold,
                 bool passed);

} // namespace vrax
