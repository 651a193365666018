#pragma once

#include "programming/JobOutcome.h"
#include "records/ProductionRecords.h"

#include <string>
#include <vector>

namespace vrax {

inline constexpr const char* RecordsCsvHeader =
    "time,operation,station,host,ic_type,vid,pid,path,image_sha256,image_file,format,serial,"
    "verdict,duration_ms,error";

inline constexpr const char* WritePassVerdict = WritePassText;

// One field of a CSV line, quoted only when it must be.
std::string CsvField(const std::string& text);

// Each row's fields in columns two spaces apart, as wide as their widest field.
std::vector<std::string> AlignedTable(const std::vector<std::vector<std::string>>& rows);

std::vector<std::string> RecordsCsv(const std::vector<ProductionRecord>& records);
// Aligned columns for a terminal; the image's hash shortened to 12 digits.
std::vector<std::string> RecordsTable(const std::vector<ProductionRecord>& records);
// Writes per IC type and per UTC hour, then per IC type: passes, fails and yield; then every
// serial number still reserved, with since when and by whom, and every one of unknown outcome.
std::vector<std::string> RecordsSummary(const std::vector<WriteTally>& tallies,
                                        const std::vector<Reservation>& reserved);
// Every serial number of unknown outcome among reservations, with since when and whose it was;
// empty when there is none.
std::vector<std::string> UnknownSerialNumbers(const std::vector<Reservation>& reservations);

// "reserved", "unknown: written without its record?" or "on a mouse, record lost".
std::string ReservationState(const Reservation& reservation);
// Every serial number stamped with "Write Pass" on more than one mouse of the same product
// type (a pass without product type counts for every type), at least one of them at or after
// since, each with when and where. Empty when there is none.
std::vector<std::string> DuplicateSerialNumbers(const std::vector<ProductionRecord>& records,
                                                const std::string& since = {});
// The same as rows of fields, the first row the column names; only that row when there is none.
std::vector<std::vector<std::string>>
DuplicateSerialNumberRows(const std::vector<ProductionRecord>& records,
                          const std::string& since = {});

} // namespace vrax
