#pragma once

#include <optional>
#include <string>

namespace vrax {

// One operation on one mouse as the production records keep it.
struct ProductionRecord {
    // Made by the station when the operation ends, so that a record sent twice (from the line
    // database's outbox) is stored once. Empty in records read back from a SQLite file.
    std::string id;
    std::string time;      // UTC, "YYYY-MM-DDTHH:MM:SS.mmmZ"
    std::string operation; // "write", "verify", "read" or "factory-read"
    int factory = 0;       // the factory, line and station numbers of the station's fields
    char line = 'A';
    int station = 0;
    std::string host;
    std::string icType;
    int vendorId = 0;
    int productId = 0;
    std::string devicePath;
    std::string imageSha256; // lower-case hexadecimal; empty when no image took part
    std::string imageFile;
    std::string format;              // "2K Byte", "256 Byte x N", "Custom" or empty
    std::optional<int> productType;  // the factory record's product type, with the serial number
    std::optional<int> serialNumber; // stamped by a write or read by a factory read
    std::string verdict;
    long long durationMs = 0;
    std::string error;

    // "1-A-1": factory, line, station.
    std::string StationText() const;
    // Six upper-case hexadecimal digits, or empty.
    std::string SerialText() const;
};

std::string UtcTimeWithMilliseconds();

// 32 random hexadecimal digits.
std::string NewRecordId();

} // namespace vrax
