#include "records/RecordsReport.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <tuple>

namespace vrax {

namespace {

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

std::string Hex4(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value) & 0xFFFFu);
    return text;
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

bool IsWrite(const ProductionRecord& record) {
    return record.operation == "write";
}

} // namespace

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

std::vector<std::string> RecordsSummary(const std::vector<ProductionRecord>& records) {
    struct Count {
        long passes = 0;
        long fails = 0;
    };
    // By IC type, then by the UTC hour "YYYY-MM-DDTHH".
    std::map<std::pair<std::string, std::string>, Count> counts;
    std::map<std::string, Count> totals;
    for (const ProductionRecord& record : records) {
        if (!IsWrite(record)) {
            continue;
        }
        const bool pass = record.verdict == WritePassVerdict;
        Count& hour = counts[{record.icType, record.time.substr(0, 13)}];
        Count& total = totals[record.icType];
        (pass ? hour.passes : hour.fails) += 1;
        (pass ? total.passes : total.fails) += 1;
    }
    const auto yield = [](const Count& count) {
        char text[16];
        std::snprintf(text, sizeof text, "%.1f %%",
                      100.0 * static_cast<double>(count.passes) /
                          static_cast<double>(std::max(1L, count.passes + count.fails)));
        return std::string(text);
    };
    std::vector<std::vector<std::string>> rows{
        {"ic_type", "hour (UTC)", "passes", "fails", "yield"}};
    for (const auto& [key, count] : counts) {
        rows.push_back({key.first, key.second + ":00", std::to_string(count.passes),
                        std::to_string(count.fails), yield(count)});
    }
    for (const auto& [icType, count] : totals) {
        rows.push_back({icType, "all", std::to_string(count.passes), std::to_string(count.fails),
                        yield(count)});
    }
    return AlignedTable(rows);
}

std::vector<std::string> DuplicateSerialNumbers(const std::vector<ProductionRecord>& records) {
    std::map<std::tuple<std::string, int>, std::vector<const ProductionRecord*>> stamped;
    for (const ProductionRecord& record : records) {
        if (IsWrite(record) && record.verdict == WritePassVerdict && record.serialNumber) {
            const std::string type = record.productType ? Hex4(*record.productType) : "";
            stamped[{type, *record.serialNumber}].push_back(&record);
        }
    }
    std::vector<std::vector<std::string>> rows{
        {"product", "serial", "time", "station", "host", "ic_type", "path"}};
    for (const auto& [key, list] : stamped) {
        if (list.size() < 2) {
            continue;
        }
        for (const ProductionRecord* record : list) {
            rows.push_back({std::get<0>(key), record->SerialText(), record->time,
                            record->StationText(), record->host, record->icType,
                            record->devicePath});
        }
    }
    return rows.size() == 1 ? std::vector<std::string>{} : AlignedTable(rows);
}

} // namespace vrax
