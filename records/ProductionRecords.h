#pragma once

#include "programming/StationError.h"
#include "records/ProductionRecord.h"

#include <optional>
#include <string>
#include <vector>

namespace vrax {

// Shown to the operator as it stands, as the station's other errors are.
class RecordsError : public StationError {
public:
    using StationError::StationError;
};

struct RecordFilter {
    std::string since; // records whose time is at or after this text (an ISO date or time)
    std::optional<int> serialNumber;
};

inline constexpr int LargestSerialNumber = 0xFFFFFF;

// Where the stations keep what they did. Append commits before it returns, so a record
// survives the process being killed right after. Every call throws RecordsError on failure.
class ProductionRecords {
public:
    virtual ~ProductionRecords() = default;

    virtual void Append(const ProductionRecord& record) = 0;
    virtual std::vector<ProductionRecord> Find(const RecordFilter& filter) = 0;

    // Takes the lowest serial number above every one ever handed out for the product type
    // (at least firstSerial) and commits the reservation, so no other process sharing the
    // store can take it. Throws RecordsError when it would not fit 24 bits.
    virtual int ReserveSerialNumber(int productType, int firstSerial) = 0;
    // Stamped: the mouse holds it; otherwise released, and never handed out again either.
    virtual void SettleSerialNumber(int productType, int serialNumber, bool stamped) = 0;
};

// A station that keeps no records: --records none.
class NullProductionRecords final : public ProductionRecords {
public:
    void Append(const ProductionRecord&) override {}
    std::vector<ProductionRecord> Find(const RecordFilter&) override { return {}; }
    int ReserveSerialNumber(int, int) override {
        throw RecordsError("serial numbers from the records need a records file");
    }
    void SettleSerialNumber(int, int, bool) override {}
};

} // namespace vrax
