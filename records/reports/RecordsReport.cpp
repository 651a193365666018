#include "records/reports/RecordsReport.h"

#include "device/HexText.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>

namespace vrax {

namespace {

std::string Hex4(int value) {
    return HexText(static_cast<unsigned>(value) & 0xFFFFu, 4);
}

std::vector<std::string> Fields(const ProductionRecord& r) {
    return {r.time,
            r.operation,
            r.StationText(),
            r.host,
            r.icType,
            Hex4(r.vendorId),
            Hex4(r.productId),
            r.devicePath,
            r.imageSha256,
            r.imageFile,
            r.format,
            r.SerialText(),
            r.verdict,
            std::to_string(r.durationMs),
            r.error};
}

} // namespace

std::vector<std::string> AlignedTable(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    std::vector<std::string> lines;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) {
                line += std::string(widths[i] - row[i].size() + 2, ' ');
            }
        }
        lines.push_back(line);
    }
    return lines;
}

namespace {

bool IsWrite(const ProductionRecord& record) {
    return record.operation == "write";
}

std::vector<std::string> ReservationTable(const std::vector<Reservation>& reservations) {
    std::vector<std::vector<std::string>> rows{
        {"product", "serial", "since", "host", "process", "state"}};
    for (const Reservation& reservation : reservations) {
        ProductionRecord number;
        number.serialNumber = reservation.serialNumber;
        rows.push_back({Hex4(reservation.productType), number.SerialText(), reservation.time,
                        reservation.host.empty() ? "?" : reservation.host,
                        reservation.host.empty() ? "?" : std::to_string(reservation.process),
                        ReservationState(reservation)});
    }
    return AlignedTable(rows);
}

} // namespace

std::string ReservationState(const Reservation& reservation) {
    return reservation.recordLost       ? "on a mouse, record lost"
           : reservation.outcomeUnknown ? "unknown: written without its record?"
                                        : "reserved";
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + '"';
}

std::vector<std::string> RecordsCsv(const std::vector<ProductionRecord>& records) {
    std::vector<std::string> lines{RecordsCsvHeader};
    for (const ProductionRecord& record : records) {
        std::string line;
        for (const std::string& field : Fields(record)) {
            line += (line.empty() ? "" : ",") + CsvField(field);
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> RecordsTable(const std::vector<ProductionRecord>& records) {
    std::vector<std::vector<std::string>> rows{{"time", "operation", "station", "host", "ic_type",
                                                "vid", "pid", "path", "image", "image_file",
                                                "format", "serial", "verdict", "ms", "error"}};
    for (const ProductionRecord& record : records) {
        std::vector<std::string> row = Fields(record);
        row[8] = row[8].substr(0, 12);
        rows.push_back(std::move(row));
    }
    std::vector<std::string> lines = AlignedTable(rows);
    lines.push_back(std::to_string(records.size()) + " records");
    return lines;
}

std::vector<std::string> RecordsSummary(const std::vector<WriteTally>& tallies,
                                        const std::vector<Reservation>& reserved) {
    struct Count {
        long passes = 0;
        long fails = 0;
    };
    std::map<std::string, Count> totals;
    const auto yield = [](long passes, long fails) {
        char text[16];
        std::snprintf(text, sizeof text, "%.1f %%",
                      100.0 * static_cast<double>(passes) /
                          static_cast<double>(std::max(1L, passes + fails)));
        return std::string(text);
    };
    std::vector<std::vector<std::string>> rows{
        {"ic_type", "hour (UTC)", "passes", "fails", "yield"}};
    for (const WriteTally& tally : tallies) {
        rows.push_back({tally.icType, tally.hour + ":00", std::to_string(tally.passes),
                        std::to_string(tally.fails), yield(tally.passes, tally.fails)});
        totals[tally.icType].passes += tally.passes;
        totals[tally.icType].fails += tally.fails;
    }
    for (const auto& [icType, count] : totals) {
        rows.push_back({icType, "all", std::to_string(count.passes), std::to_string(count.fails),
                        yield(count.passes, count.fails)});
    }
    std::vector<std::string> lines = AlignedTable(rows);
    std::vector<Reservation> open;
    std::copy_if(reserved.begin(), reserved.end(), std::back_inserter(open),
                 [](const Reservation& reservation) { return !reservation.outcomeUnknown; });
    if (open.empty()) {
        lines.push_back("Serial numbers reserved and not settled: none");
    } else {
        lines.push_back("Serial numbers reserved and not settled: " + std::to_string(open.size()));
        const std::vector<std::string> held = ReservationTable(open);
        lines.insert(lines.end(), held.begin(), held.end());
    }
    const std::vector<std::string> unknown = UnknownSerialNumbers(reserved);
    lines.insert(lines.end(), unknown.begin(), unknown.end());
    return lines;
}

std::vector<std::string> UnknownSerialNumbers(const std::vector<Reservation>& reservations) {
    std::vector<Reservation> unknown;
    std::copy_if(reservations.begin(), reservations.end(), std::back_inserter(unknown),
                 [](const Reservation& reservation) { return reservation.outcomeUnknown; });
    if (unknown.empty()) {
        return {};
    }
    std::vector<std::string> lines{"Serial numbers a mouse may carry without its record: " +
                                   std::to_string(unknown.size()) + " (never handed out again)"};
    const std::vector<std::string> table = ReservationTable(unknown);
    lines.insert(lines.end(), table.begin(), table.end());
    return lines;
}

std::vector<std::vector<std::string>>
DuplicateSerialNumberRows(const std::vector<ProductionRecord>& records, const std::string& since) {
    struct Passes {
        std::map<int, std::vector<const ProductionRecord*>> typed;
        std::vector<const ProductionRecord*> untyped;
    };
    std::map<int, Passes> bySerial;
    for (const ProductionRecord& record : records) {
        if (IsWrite(record) && record.verdict == WritePassVerdict && record.serialNumber) {
            Passes& passes = bySerial[*record.serialNumber];
            if (record.productType) {
                passes.typed[*record.productType].push_back(&record);
            } else {
                passes.untyped.push_back(&record);
            }
        }
    }
    std::vector<std::vector<std::string>> rows{
        {"product", "serial", "time", "station", "host", "ic_type", "path"}};
    const auto add = [&](const std::string& type, std::vector<const ProductionRecord*> group) {
        const bool recent = std::any_of(group.begin(), group.end(),
                                        [&](const auto* record) { return record->time >= since; });
        if (group.size() < 2 || !recent) {
            return;
        }
        std::stable_sort(group.begin(), group.end(),
                         [](const auto* a, const auto* b) { return a->time < b->time; });
        for (const ProductionRecord* record : group) {
            rows.push_back({type, record->SerialText(), record->time, record->StationText(),
                            record->host, record->icType, record->devicePath});
        }
    };
    for (const auto& [serial, passes] : bySerial) {
        for (const auto& [type, group] : passes.typed) {
            std::vector<const ProductionRecord*> members = group;
            members.insert(members.end(), passes.untyped.begin(), passes.untyped.end());
            add(Hex4(type), members);
        }
        if (passes.typed.empty()) {
            add("", passes.untyped);
        }
    }
    return rows;
}

std::vector<std::string> DuplicateSerialNumbers(const std::vector<ProductionRecord>& records,
                                                const std::string& since) {
    const std::vector<std::vector<std::string>> rows = DuplicateSerialNumberRows(records, since);
    return rows.size() == 1 ? std::vector<std::string>{} : AlignedTable(rows);
}

} // namespace vrax
