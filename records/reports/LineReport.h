#pragma once

#include "records/ProductionRecords.h"

#include <string>
#include <vector>

namespace vrax {

// The failure reasons the report lists at most, the most frequent.
inline constexpr int LineReportFailureReasons = 25;
// Runs of serial numbers listed per product type; the rest are counted.
inline constexpr std::size_t LineReportRunsShown = 60;

// What the line report shows: only the store's aggregates, never its records one by one.
struct LineReportData {
    std::string storeName;
    std::string since; // the filter's; empty: from the first record
    std::string madeAt;
    std::vector<StationTally> stations;
    std::vector<FailureReason> failures;
    std::vector<SerialNumberRun> runs;
    std::vector<ProductionRecord> repeatedPasses;
    std::vector<Reservation> reservations;
};

LineReportData GatherLineReport(RecordQueries& records, const RecordFilter& filter,
                                const std::string& storeName);

// One self-contained HTML page: inline style and SVG charts, no script, nothing fetched.
// Every text that comes from the records is escaped.
std::string LineReportHtml(const LineReportData& data);

std::string HtmlEscaped(const std::string& text);

} // namespace vrax
