#pragma once

#include "programming/StationContext.h"

namespace vrax {

// The 12-byte record at device address 160, multi-byte fields big-endian; list positions are
// stored by their low byte, so a list without a selection (-1) stores 0xFF.
FactoryRecordBytes BuildFactoryRecord(int productType, int date, int serialNumber, int factoryIndex,
                                      int lineIndex, int stationIndex);

struct FactoryFields {
    int productType = 0;
    int date = 0;
    int serialNumber = 0;
    int factoryIndex = 0;
    int lineIndex = 0;
    int stationIndex = 0;
};

FactoryFields DecodeFactoryRecord(const FactoryRecordBytes& record);

inline constexpr int MaxSerialNumber = 0xFFFFFF;

// Throws StationError naming the "SN" field for a serial number outside the record's 24 bits.
void CheckSerialNumberFits(int serialNumber);

// The serial number after a pass; never overflows.
int AdvancedSerialNumber(int serialNumber);

// Builds FactoryRecord from the settings and writes it with up to Retry Times attempts, the IC
// type read again on every attempt. True when one attempt was acknowledged. Once the record
// goes out, `stamped` (when given) carries its product type and serial number. Throws, writing
// nothing, when the serial number does not fit the record.
bool WriteFactoryRecord(StationContext& context, JobOutcome* stamped = nullptr);

// The factory read: the record from the mouse into the factory fields, "Read Ok"/"Read Fail";
// the outcome carries the record's product type and serial number when it passed.
JobOutcome ReadFactoryRecord(StationContext& context);

} // namespace vrax
