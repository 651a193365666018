#include "records/reports/LineReport.h"

#include "device/HexText.h"
#include "records/UtcTimeText.h"
#include "records/reports/RecordsReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <set>

namespace vrax {

namespace {

constexpr const char* Style = R"(
body{font-family:"DejaVu Sans",Arial,Helvetica,sans-serif;margin:0;background:#eef1f4;color:#1d2329}
header{background:#1f3a5f;color:#fff;padding:16px 28px 14px}
h1{margin:0;font-size:24px;font-weight:bold}
header .sub{font-size:13px;margin-top:5px;color:#d5dfeb}
header .sub b{color:#fff}
main{padding:14px 28px 24px;max-width:1160px}
.tiles{display:grid;grid-template-columns:repeat(8,auto);gap:10px}
.tile{background:#fff;border-radius:6px;padding:8px 14px;border-left:5px solid #90a4ae}
.tile .v{font-size:26px;font-weight:bold;white-space:nowrap}
.tile .k{font-size:12px;color:#5b6570}
.tile.good{border-left-color:#43a047}.tile.bad{border-left-color:#e53935}
section{background:#fff;border-radius:6px;padding:10px 18px 12px;margin-top:12px}
h2{font-size:16px;margin:2px 0 8px}
h2 .note{font-weight:normal;font-size:12px;color:#5b6570;margin-left:8px}
.key{display:inline-block;width:10px;height:10px;margin:0 4px 0 10px;border-radius:2px}
.kp{background:#43a047}.kf{background:#e53935}
svg{display:block;font-family:inherit}
svg text{font-size:11px;fill:#5b6570}
svg .bp{fill:#43a047}svg .bf{fill:#e53935}svg .grid{stroke:#dde2e7;stroke-width:1}
svg .axis{stroke:#8a949e;stroke-width:1}svg .strong{fill:#1d2329;font-size:12px}
svg .low{fill:#c62828;font-weight:bold}
table{border-collapse:collapse;font-size:13px;width:100%}
th{text-align:left;font-weight:bold;color:#5b6570;font-size:12px;border-bottom:2px solid #dde2e7;padding:3px 8px}
td{padding:3px 8px;border-bottom:1px solid #eef1f4;vertical-align:top}
td.n,th.n{text-align:right;white-space:nowrap;font-variant-numeric:tabular-nums}
td.t{white-space:nowrap;color:#5b6570}
td.e{word-break:break-word}
.share{display:inline-block;height:10px;background:#e53935;border-radius:2px;vertical-align:middle}
.type{margin:6px 0 2px;font-size:13px}
.runs{line-height:1.9}
.run{display:inline-block;font-family:"DejaVu Sans Mono",monospace;font-size:12px;background:#e8f3e9;border-radius:4px;padding:0 6px;margin-right:5px;white-space:nowrap}
.fine{color:#2e7d32;font-size:14px}
.alarm td{background:#fdecea}
.muted{color:#5b6570;font-size:12px}
)";

constexpr const char* PassColour = "bp";
constexpr const char* FailColour = "bf";

std::string Number(long long value) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            grouped += "\u2009"; // a thin space: read the same in every locale
        }
        grouped += digits[i];
    }
    return value < 0 ? "-" + grouped : grouped;
}

std::string Fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Yield(long passes, long fails) {
    if (passes + fails == 0) {
        return "–";
    }
    return Fixed(100.0 * static_cast<double>(passes) / static_cast<double>(passes + fails), 1) +
           " %";
}

// "2026-12-08 08:00:01" of the records' "2026-12-08T08:00:01.234Z".
std::string TimeShown(const std::string& time) {
    std::string shown = time.substr(0, 19);
    if (shown.size() > 10 && shown[10] == 'T') {
        shown[10] = ' ';
    }
    return shown;
}

// Hours since 1970 of "YYYY-MM-DDTHH".
std::optional<long long> HourIndex(const std::string& hour) {
    int year = 0, month = 0, day = 0, hours = 0;
    char separator = 0;
    if (std::sscanf(hour.c_str(), "%4d-%2d-%2d%c%2d", &year, &month, &day, &separator, &hours) !=
            5 ||
        month < 1 || month > 12 || day < 1 || day > 31 || hours < 0 || hours > 23) {
        return std::nullopt;
    }
    return DaysFromCivil(year, month, day) * 24 + hours;
}

std::string DateText(long long days) {
    long long year = 0;
    int month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    char text[32];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02d", year, month, day);
    return text;
}

std::string StationName(const StationTally& tally) {
    return std::to_string(tally.factory) + "-" + std::string(1, tally.line) + "-" +
           std::to_string(tally.station);
}

struct Count {
    long passes = 0;
    long fails = 0;
    std::string first;
    std::string last;

    void Add(const StationTally& tally) {
        passes += tally.passes;
        fails += tally.fails;
        if (first.empty() || (!tally.first.empty() && tally.first < first)) {
            first = tally.first;
        }
        last = std::max(last, tally.last);
    }
    long Total() const { return passes + fails; }
};

// 1, 2 or 5 times a power of ten, at least value.
double NiceStep(double value) {
    const double power = std::pow(10.0, std::floor(std::log10(std::max(value, 1.0))));
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (value <= factor * power) {
            return factor * power;
        }
    }
    return 10.0 * power;
}

std::string Attribute(double value) {
    return Fixed(value, 1);
}

std::string Rect(double x, double y, double width, double height, const char* colour) {
    return "<rect class=\"" + std::string(colour) + "\" x=\"" + Attribute(x) + "\" y=\"" +
           Attribute(y) + "\" width=\"" + Attribute(width) + "\" height=\"" + Attribute(height) +
           "\"/>";
}

std::string Text(double x, double y, const std::string& text, const char* anchor = "start",
                 const char* style = "") {
    return "<text x=\"" + Attribute(x) + "\" y=\"" + Attribute(y) + "\" text-anchor=\"" + anchor +
           "\"" + (*style ? std::string(" class=\"") + style + "\"" : "") + ">" +
           HtmlEscaped(text) + "</text>";
}

std::string Line(double x1, double y1, double x2, double y2, const char* style) {
    return "<line class=\"" + std::string(style) + "\" x1=\"" + Attribute(x1) + "\" y1=\"" +
           Attribute(y1) + "\" x2=\"" + Attribute(x2) + "\" y2=\"" + Attribute(y2) + "\"/>";
}

struct Bucket {
    long long index = 0; // hours or days since 1970
    long passes = 0;
    long fails = 0;
};

// Passes and fails per UTC hour, every hour from the first to the last shown; per day when
// the span is longer than two weeks, so the bars stay readable.
std::string TimeChart(const std::vector<StationTally>& tallies, std::string& unit) {
    std::map<long long, Bucket> hours;
    for (const StationTally& tally : tallies) {
        if (const std::optional<long long> hour = HourIndex(tally.hour)) {
            Bucket& bucket = hours[*hour];
            bucket.index = *hour;
            bucket.passes += tally.passes;
            bucket.fails += tally.fails;
        }
    }
    if (hours.empty()) {
        unit = "hour";
        return "<p class=\"muted\">No writes in these records.</p>";
    }
    const bool daily = hours.rbegin()->first - hours.begin()->first >= 14 * 24;
    unit = daily ? "day" : "hour";
    std::map<long long, Bucket> buckets;
    for (const auto& [hour, counted] : hours) {
        const long long index = daily ? (hour >= 0 ? hour / 24 : (hour - 23) / 24) : hour;
        Bucket& bucket = buckets[index];
        bucket.index = index;
        bucket.passes += counted.passes;
        bucket.fails += counted.fails;
    }
    const long long firstIndex = buckets.begin()->first;
    const long long count = buckets.rbegin()->first - firstIndex + 1;

    const double width = 1100, height = 250, left = 52, right = 10, top = 22, bottom = 40;
    const double plotWidth = width - left - right, plotHeight = height - top - bottom;
    long most = 0;
    for (const auto& [index, bucket] : buckets) {
        most = std::max(most, bucket.passes + bucket.fails);
    }
    const double step = NiceStep(static_cast<double>(most) / 4.0);
    const double ceiling = std::max(step, std::ceil(static_cast<double>(most) / step) * step);
    const double slot = plotWidth / static_cast<double>(count);
    const double bar = slot >= 4 ? std::min(slot * 0.72, 56.0) : slot;

    std::string svg = "<svg width=\"" + Attribute(width) + "\" height=\"" + Attribute(height) +
                      "\" viewBox=\"0 0 " + Attribute(width) + " " + Attribute(height) +
                      "\" role=\"img\">";
    for (double value = 0; value <= ceiling + step / 2; value += step) {
        const double y = top + plotHeight - value / ceiling * plotHeight;
        svg += Line(left, y, width - right, y, "grid");
        svg += Text(left - 6, y + 4, Number(static_cast<long long>(value)), "end");
    }
    // Labels at round hours (or days), at least 44 px apart.
    const std::vector<long long> spacings =
        daily ? std::vector<long long>{1, 2, 7, 14, 28, 56, 112, 364}
              : std::vector<long long>{1, 2, 3, 4, 6, 12, 24, 48, 96, 168};
    long long every = spacings.back();
    for (const long long spacing : spacings) {
        if (static_cast<double>(spacing) * slot >= 44) {
            every = spacing;
            break;
        }
    }
    long long lastDay = -1;
    for (long long i = 0; i < count; ++i) {
        const long long index = firstIndex + i;
        const double x = left + static_cast<double>(i) * slot;
        const auto found = buckets.find(index);
        if (found != buckets.end()) {
            const Bucket& bucket = found->second;
            const double passHeight = static_cast<double>(bucket.passes) / ceiling * plotHeight;
            const double failHeight = static_cast<double>(bucket.fails) / ceiling * plotHeight;
            const double barX = x + (slot - bar) / 2;
            const std::string when = daily ? DateText(index)
                                           : DateText(index / 24) + " " +
                                                 (index % 24 < 10 ? "0" : "") +
                                                 std::to_string(index % 24) + ":00";
            svg += "<g><title>" +
                   HtmlEscaped(when + " UTC: " + Number(bucket.passes) + " passed, " +
                               Number(bucket.fails) + " failed, yield " +
                               Yield(bucket.passes, bucket.fails)) +
                   "</title>";
            svg += Rect(barX, top + plotHeight - passHeight, bar, passHeight, PassColour);
            svg +=
                Rect(barX, top + plotHeight - passHeight - failHeight, bar, failHeight, FailColour);
            svg += "</g>";
            if (slot >= 34) {
                const bool low = bucket.passes * 10 < (bucket.passes + bucket.fails) * 9;
                svg += Text(x + slot / 2, top + plotHeight - passHeight - failHeight - 4,
                            Fixed(100.0 * static_cast<double>(bucket.passes) /
                                      static_cast<double>(bucket.passes + bucket.fails),
                                  0) +
                                "%",
                            "middle", low ? "low" : "");
            }
        }
        const long long hourOfDay = daily ? 0 : ((index % 24) + 24) % 24;
        const long long day = daily ? index : (index - hourOfDay) / 24;
        if ((daily ? (index - firstIndex) % every : hourOfDay % every) == 0 || i == 0) {
            const double labelX = x + slot / 2;
            svg += Line(labelX, top + plotHeight, labelX, top + plotHeight + 4, "axis");
            if (!daily) {
                svg +=
                    Text(labelX, top + plotHeight + 16,
                         std::string(hourOfDay < 10 ? "0" : "") + std::to_string(hourOfDay) + ":00",
                         "middle");
            }
            if (daily || day != lastDay) {
                svg += Text(labelX, top + plotHeight + (daily ? 16 : 30), DateText(day), "middle",
                            daily ? "" : "strong");
                lastDay = day;
            }
        }
    }
    svg += Line(left, top + plotHeight, width - right, top + plotHeight, "axis");
    svg += "</svg>";
    return svg;
}

std::string StationChart(const std::map<std::string, Count>& stations) {
    const double width = 1100, rowHeight = 30, left = 70, barWidth = 640, top = 6;
    const double height = top * 2 + rowHeight * static_cast<double>(stations.size());
    long most = 1;
    for (const auto& [name, count] : stations) {
        most = std::max(most, count.Total());
    }
    std::string svg = "<svg width=\"" + Attribute(width) + "\" height=\"" + Attribute(height) +
                      "\" viewBox=\"0 0 " + Attribute(width) + " " + Attribute(height) +
                      "\" role=\"img\">";
    double y = top;
    for (const auto& [name, count] : stations) {
        const double passWidth =
            static_cast<double>(count.passes) / static_cast<double>(most) * barWidth;
        const double failWidth =
            static_cast<double>(count.fails) / static_cast<double>(most) * barWidth;
        svg += Text(left - 10, y + rowHeight / 2 + 4, name, "end", "strong");
        svg += "<g><title>" +
               HtmlEscaped("Station " + name + ": " + Number(count.passes) + " passed, " +
                           Number(count.fails) + " failed, yield " +
                           Yield(count.passes, count.fails)) +
               "</title>";
        svg += Rect(left, y + 5, passWidth, rowHeight - 10, PassColour);
        svg += Rect(left + passWidth, y + 5, failWidth, rowHeight - 10, FailColour);
        svg += "</g>";
        const bool low = count.passes * 10 < count.Total() * 9;
        svg += Text(left + passWidth + failWidth + 10, y + rowHeight / 2 + 4,
                    Yield(count.passes, count.fails), "start", low ? "low" : "strong");
        svg += Text(left + passWidth + failWidth + 72, y + rowHeight / 2 + 4,
                    Number(count.passes) + " passed, " + Number(count.fails) + " failed");
        y += rowHeight;
    }
    svg += Line(left, top, left, height - top, "axis");
    svg += "</svg>";
    return svg;
}

std::string Cell(const std::string& text, const char* kind = "") {
    return std::string("<td") + (*kind ? std::string(" class=\"") + kind + "\"" : "") + ">" +
           HtmlEscaped(text) + "</td>";
}

std::string Tile(const std::string& value, const std::string& label, const char* kind = "") {
    return std::string("<div class=\"tile ") + kind + "\"><div class=\"v\">" + HtmlEscaped(value) +
           "</div><div class=\"k\">" + HtmlEscaped(label) + "</div></div>";
}

std::string SerialText(int serial) {
    return HexText(static_cast<unsigned>(serial) & 0xFFFFFFu, 6);
}

std::string RunsSection(const std::vector<SerialNumberRun>& runs) {
    if (runs.empty()) {
        return "<p class=\"muted\">No serial number was stamped.</p>";
    }
    std::string html;
    for (std::size_t begin = 0; begin < runs.size();) {
        std::size_t end = begin;
        long long stamped = 0;
        while (end < runs.size() && runs[end].productType == runs[begin].productType) {
            stamped += runs[end].last - runs[end].first + 1;
            ++end;
        }
        const SerialNumberRun& first = runs[begin];
        const int lowest = first.first;
        const int highest = runs[end - 1].last;
        const long long between = highest - lowest + 1 - stamped;
        const std::size_t count = end - begin;
        html += "<div class=\"type\"><b>Product type " +
                HtmlEscaped(first.productType
                                ? HexText(static_cast<unsigned>(*first.productType) & 0xFFFFu, 4)
                                : std::string("unknown (records without product type)")) +
                "</b>: " + Number(stamped) + " serial numbers stamped, " + SerialText(lowest) +
                " to " + SerialText(highest) + ", in " + Number(static_cast<long long>(count)) +
                (count == 1 ? " run" : " runs") +
                (between > 0 ? "; " + Number(between) + " numbers between them not stamped" : "") +
                "</div><div class=\"runs\">";
        for (std::size_t i = begin; i < end && i - begin < LineReportRunsShown; ++i) {
            const SerialNumberRun& run = runs[i];
            html += "<span class=\"run\">" + SerialText(run.first) +
                    (run.last != run.first ? "–" + SerialText(run.last) : std::string()) + " (" +
                    Number(run.last - run.first + 1) + ")</span> ";
        }
        if (count > LineReportRunsShown) {
            html += "<span class=\"muted\">… and " +
                    Number(static_cast<long long>(count - LineReportRunsShown)) +
                    " more runs</span>";
        }
        html += "</div>";
        begin = end;
    }
    return html;
}

} // namespace

std::string HtmlEscaped(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&#39;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

LineReportData GatherLineReport(RecordQueries& records, const RecordFilter& filter,
                                const std::string& storeName) {
    LineReportData data;
    data.storeName = storeName;
    data.since = filter.since;
    data.madeAt = UtcTimeWithMilliseconds();
    data.stations = records.SummarizeStations(filter);
    // One more than shown tells whether there are more.
    data.failures = records.CountFailureReasons(filter, LineReportFailureReasons + 1);
    data.runs = records.FindStampedRuns(filter);
    data.repeatedPasses = records.FindRepeatedPasses(filter);
    data.reservations = records.FindReservations();
    return data;
}

std::string LineReportHtml(const LineReportData& data) {
    Count all;
    std::map<std::string, Count> stations;
    for (const StationTally& tally : data.stations) {
        all.Add(tally);
        stations[StationName(tally)].Add(tally);
    }
    long long stamped = 0;
    for (const SerialNumberRun& run : data.runs) {
        stamped += run.last - run.first + 1;
    }
    const std::vector<std::vector<std::string>> duplicates =
        DuplicateSerialNumberRows(data.repeatedPasses, data.since);
    std::set<std::pair<std::string, std::string>> repeated;
    for (std::size_t i = 1; i < duplicates.size(); ++i) {
        repeated.emplace(duplicates[i][0], duplicates[i][1]);
    }

    std::string html = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width\">"
                       "<title>Line report: " +
                       HtmlEscaped(data.storeName) + "</title><style>" + Style +
                       "</style></head><body>\n";
    const std::string span =
        all.Total() == 0 ? std::string("no writes")
                         : "writes from <b>" + HtmlEscaped(TimeShown(all.first)) + "</b> to <b>" +
                               HtmlEscaped(TimeShown(all.last)) + "</b> UTC";
    html += "<header><h1>Line report</h1><div class=\"sub\">Records <b>" +
            HtmlEscaped(data.storeName) + "</b> · " + span +
            (data.since.empty() ? std::string()
                                : " · since " + HtmlEscaped(TimeShown(data.since)) + " UTC") +
            " · made " + HtmlEscaped(TimeShown(data.madeAt)) + " UTC</div></header>\n<main>\n";

    const bool lowYield = all.passes * 10 < all.Total() * 9;
    html += "<div class=\"tiles\">" + Tile(Number(all.Total()), "mice written") +
            Tile(Number(all.passes), "passed", "good") +
            Tile(Number(all.fails), "failed", all.fails > 0 ? "bad" : "good") +
            Tile(Yield(all.passes, all.fails), "yield", lowYield ? "bad" : "good") +
            Tile(Number(static_cast<long long>(stations.size())), "stations") +
            Tile(Number(stamped), "serial numbers stamped") +
            Tile(Number(static_cast<long long>(repeated.size())), "stamped twice",
                 repeated.empty() ? "good" : "bad") +
            Tile(Number(static_cast<long long>(data.reservations.size())), "open reservations",
                 data.reservations.empty() ? "good" : "bad") +
            "</div>\n";

    std::string unit;
    const std::string timeChart = TimeChart(data.stations, unit);
    html += "<section><h2>Writes per " + unit +
            " (UTC)<span class=\"key kp\"></span>passed<span class=\"key kf\"></span>failed"
            "<span class=\"note\">the figure over a bar is its yield</span></h2>" +
            timeChart + "</section>\n";

    html += "<section><h2>Writes per station<span class=\"note\">factory-line-station</span>"
            "</h2>";
    if (stations.empty()) {
        html += "<p class=\"muted\">No writes in these records.</p>";
    } else {
        html += StationChart(stations);
        html += "<table><tr><th>station</th><th class=\"n\">written</th><th class=\"n\">passed"
                "</th><th class=\"n\">failed</th><th class=\"n\">yield</th><th>first write "
                "(UTC)</th><th>last write (UTC)</th></tr>";
        for (const auto& [name, count] : stations) {
            html += "<tr>" + Cell(name) + Cell(Number(count.Total()), "n") +
                    Cell(Number(count.passes), "n") + Cell(Number(count.fails), "n") +
                    Cell(Yield(count.passes, count.fails), "n") +
                    Cell(TimeShown(count.first), "t") + Cell(TimeShown(count.last), "t") + "</tr>";
        }
        html += "</table>";
    }
    html += "</section>\n";

    html += "<section><h2>Failure reasons<span class=\"note\">every failed operation, by verdict "
            "and error</span></h2>";
    if (data.failures.empty()) {
        html += "<p class=\"fine\">✔ No operation failed.</p>";
    } else {
        long most = 1;
        for (const FailureReason& reason : data.failures) {
            most = std::max(most, reason.count);
        }
        html += "<table><tr><th class=\"n\">count</th><th></th><th>operation</th><th>verdict"
                "</th><th>error</th><th>last (UTC)</th></tr>";
        for (std::size_t i = 0;
             i < data.failures.size() && i < static_cast<std::size_t>(LineReportFailureReasons);
             ++i) {
            const FailureReason& reason = data.failures[i];
            html +=
                "<tr>" + Cell(Number(reason.count), "n") +
                "<td><span class=\"share\" style=\"width:" +
                Fixed(4.0 + 116.0 * static_cast<double>(reason.count) / static_cast<double>(most),
                      0) +
                "px\"></span></td>" + Cell(reason.operation) +
                Cell(reason.verdict.empty() ? "(no verdict)" : reason.verdict) +
                (reason.error.empty() ? std::string("<td class=\"muted\">no error text</td>")
                                      : Cell(reason.error, "e")) +
                Cell(TimeShown(reason.last), "t") + "</tr>";
        }
        html += "</table>";
        if (data.failures.size() > static_cast<std::size_t>(LineReportFailureReasons)) {
            html += "<p class=\"muted\">Only the " + std::to_string(LineReportFailureReasons) +
                    " most frequent reasons are shown; <code>records --csv</code> lists every "
                    "record.</p>";
        }
    }
    html += "</section>\n";

    html += "<section><h2>Serial numbers stamped<span class=\"note\">runs of consecutive "
            "numbers with \"Write Pass\", per product type</span></h2>" +
            RunsSection(data.runs) + "</section>\n";

    html += "<section><h2>Serial numbers stamped twice</h2>";
    if (duplicates.size() <= 1) {
        html += "<p class=\"fine\">✔ No serial number was stamped twice.</p>";
    } else {
        html += "<table><tr>";
        for (const std::string& name : duplicates[0]) {
            html += "<th>" + HtmlEscaped(name) + "</th>";
        }
        html += "</tr>";
        for (std::size_t i = 1; i < duplicates.size(); ++i) {
            html += "<tr class=\"alarm\">";
            for (const std::string& field : duplicates[i]) {
                html += Cell(field);
            }
            html += "</tr>";
        }
        html += "</table>";
    }
    html += "</section>\n";

    html += "<section><h2>Open reservations<span class=\"note\">serial numbers handed out and "
            "not yet settled, and those whose write ended without its record</span></h2>";
    if (data.reservations.empty()) {
        html += "<p class=\"fine\">✔ None: every serial number handed out is settled.</p>";
    } else {
        html += "<table><tr><th>product</th><th>serial</th><th>since (UTC)</th><th>host</th>"
                "<th class=\"n\">process</th><th>state</th></tr>";
        for (const Reservation& reservation : data.reservations) {
            // A mouse may carry such a number without its record.
            html +=
                std::string(reservation.outcomeUnknown ? "<tr class=\"alarm\">" : "<tr>") +
                Cell(HexText(static_cast<unsigned>(reservation.productType) & 0xFFFFu, 4)) +
                Cell(SerialText(reservation.serialNumber)) +
                Cell(TimeShown(reservation.time), "t") +
                Cell(reservation.host.empty() ? "?" : reservation.host) +
                Cell(reservation.host.empty() ? "?" : std::to_string(reservation.process), "n") +
                Cell(ReservationState(reservation)) + "</tr>";
        }
        html += "</table>";
    }
    html += "</section>\n</main></body></html>\n";
    return html;
}

} // namespace vrax
