// The line database on a server of its own (fsync on, as a factory's would be) on this VM's
// disk: reservations per second with 1, 4 and 16 stations, the cost of one record, and a gang
// line's time against the same line on a SQLite file; then reservations with 1, 8 and 16
// stations at 3,000,000 records.
#include "benchmarks/BenchmarkTable.h"
#include "records/RecordsLocation.h"
#include "records/postgres/PostgresProductionRecords.h"

#include <libpq-fe.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string FirstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

int Shell(const std::string& command) {
    return std::system(command.c_str());
}

} // namespace

int main() {
    using namespace vrax;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "vrax-line-database-benchmark";
    const std::string server = (folder / "server").string();
    std::filesystem::create_directories(folder);
    if (Shell(std::string("VRAX_PG_FSYNC=on ") + VRAX_PG_SERVER_SCRIPT + " start " + server +
              " >/dev/null") != 0) {
        std::fprintf(stderr, "cannot start the server\n");
        return 1;
    }
    setenv("PGPASSFILE", (server + "/passfile").c_str(), 1);
    setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
    const std::string owner = FirstLine(server + "/owner.uri");
    const std::string station = FirstLine(server + "/station.uri");
    OpenProductionRecords(owner);

    for (const int stations : {1, 4, 16}) {
        std::atomic<long> reserved{0};
        std::atomic<bool> stop{false};
        std::vector<std::thread> threads;
        for (int i = 0; i < stations; ++i) {
            threads.emplace_back([&, i] {
                // A station of its own: its own connection, as on its own PC.
                PostgresProductionRecords records(station,
                                                  PostgresProductionRecords::Access::Station);
                while (!stop) {
                    const int serial = records.ReserveSerialNumber(0x100 + stations, 1);
                    records.SettleSerialNumber(0x100 + stations, serial, true);
                    ++reserved;
                }
                (void)i;
            });
        }
        const auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(3));
        stop = true;
        for (std::thread& thread : threads) {
            thread.join();
        }
        const double rate = static_cast<double>(reserved) / Seconds(Clock::now() - start);
        PrintBenchmarkRow("Line database",
                          std::to_string(stations) + " station" + (stations == 1 ? "" : "s") +
                              " reserving and settling serial numbers",
                          FormatFigure("%.0f reservations/s", rate), "-", std::nullopt);
    }

    {
        PostgresProductionRecords records(station, PostgresProductionRecords::Access::Station);
        std::vector<double> costs;
        for (int i = 0; i < 1000; ++i) {
            ProductionRecord record;
            record.id = NewRecordId();
            record.time = UtcTimeWithMilliseconds();
            record.operation = "write";
            record.verdict = "Write Pass";
            const auto start = Clock::now();
            records.Append(record);
            costs.push_back(Seconds(Clock::now() - start) * 1000.0);
        }
        std::sort(costs.begin(), costs.end());
        PrintBenchmarkRow("Line database", "one record (commit with fsync), one station",
                          FormatFigure("median %.2f ms", costs[costs.size() / 2]) +
                              FormatFigure(", p95 %.2f ms", costs[costs.size() * 95 / 100]),
                          "-", std::nullopt);
    }

    const auto line = [&](const std::string& records) {
        const std::string command =
            std::string(VRAX_CLI_PROGRAM) + " --records '" + records +
            "' --sim kvqm31x --sim-mice 400 --gang 4 --factory 0005,20261208,000001,1,A,1 line " +
            (folder / "image.bin").string() + " --serial next >/dev/null";
        const auto start = Clock::now();
        if (Shell(command) != 0) {
            std::fprintf(stderr, "the line failed: %s\n", command.c_str());
        }
        return Seconds(Clock::now() - start);
    };
    std::ofstream(folder / "image.bin", std::ios::binary) << std::string(2048, '\x5a');
    std::filesystem::remove(folder / "records.sqlite");
    const double onFile = line((folder / "records.sqlite").string());
    const double onServer = line(station);
    PrintBenchmarkRow("Line database",
                      "a gang line of 400 virtual mice (--gang 4 --serial next), virtual clock",
                      FormatFigure("%.2f s on the server", onServer) +
                          FormatFigure(", %.2f s on a SQLite file", onFile) +
                          FormatFigure(": ratio %.2f", onServer / onFile),
                      "-", std::nullopt);
    // At scale: 3,000,000 write records built on the server (half of product type 0006 at
    // serial numbers from 800000 up, half of 0005 from 1, beside the line's above; one write in
    // 26 fails; ten numbers of 0005 passed once more), then a reservation with 1 and 16 stations
    // and the reports.
    {
        const auto connection =
            std::unique_ptr<PGconn, void (*)(PGconn*)>(PQconnectdb(owner.c_str()), PQfinish);
        const auto sql = [&](const std::string& text) {
            PGresult* result = PQexec(connection.get(), text.c_str());
            const ExecStatusType status = PQresultStatus(result);
            if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
                std::fprintf(stderr, "%s\n", PQerrorMessage(connection.get()));
                std::exit(1);
            }
            PQclear(result);
        };
        const std::string columns =
            "INSERT INTO records (id, time, operation, factory, line, station, host, ic_type, "
            "vid, pid, path, image_sha256, image_file, format, product_type, serial, verdict, "
            "duration_ms, error) SELECT ";
        const std::string common =
            "to_char(timestamp '2026-01-01' + g * interval '3 seconds', "
            "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), 'write', 1, 'A', g % 16 + 1, 'pc' || g % 16, "
            "'KVQM31X', 15454, 2609, 'sim1&mi_00', repeat('5a', 32), '/line/image.bin', "
            "'2K Byte', ";
        const auto built = Clock::now();
        sql(columns + "'big' || g, " + common +
            "CASE WHEN g % 2 = 1 THEN 6 ELSE 5 END, CASE WHEN g % 2 = 1 THEN 8388608 + g / 2 "
            "ELSE g / 2 + 1 END, CASE WHEN g % 26 = 0 THEN 'Write Fail' ELSE 'Write Pass' END, "
            "3612, '' FROM generate_series(0, 2999999) g");
        sql(columns + "'again' || g, " + common +
            "5, g * 100000 + 1, 'Write Pass', 3612, '' FROM generate_series(1, 10) g");
        sql("VACUUM ANALYZE records, serials, passed_serials, write_tallies");
        std::fprintf(stderr, "3,000,000 records built in %.0f s\n", Seconds(Clock::now() - built));

        const auto percentile = [](std::vector<double> costs, int percent) {
            std::sort(costs.begin(), costs.end());
            return costs[costs.size() * static_cast<std::size_t>(percent) / 100];
        };
        for (const int stations : {1, 8, 16}) {
            std::mutex mutex;
            std::vector<double> costs;
            std::atomic<bool> stop{false};
            std::vector<std::thread> threads;
            for (int i = 0; i < stations; ++i) {
                threads.emplace_back([&] {
                    PostgresProductionRecords records(station,
                                                      PostgresProductionRecords::Access::Station);
                    while (!stop) {
                        const auto start = Clock::now();
                        const int serial = records.ReserveSerialNumber(5, 1);
                        const double cost = Seconds(Clock::now() - start) * 1000.0;
                        records.SettleSerialNumber(5, serial, true);
                        std::lock_guard lock(mutex);
                        costs.push_back(cost);
                    }
                });
            }
            std::this_thread::sleep_for(std::chrono::seconds(3));
            stop = true;
            for (std::thread& thread : threads) {
                thread.join();
            }
            PrintBenchmarkRow(
                "Line database at scale (3,000,000 records)",
                std::to_string(stations) + (stations == 1 ? " station" : " stations") +
                    " reserving serial numbers of product type 0005 (each commit flushed)",
                FormatFigure("median %.2f ms", percentile(costs, 50)) +
                    FormatFigure(", p95 %.2f ms", percentile(costs, 95)) +
                    FormatFigure(", %.0f per s", static_cast<double>(costs.size()) / 3.0),
                stations == 1 ? "< 5 ms" : "median <= 20 ms",
                std::optional<bool>(percentile(costs, 50) < (stations == 1 ? 5.0 : 20.0)));
        }
        PostgresProductionRecords report(station, PostgresProductionRecords::Access::Report);
        const auto timed = [&](const std::function<std::size_t()>& call) {
            std::vector<double> costs;
            std::size_t rows = 0;
            for (int i = 0; i < 5; ++i) {
                const auto start = Clock::now();
                rows = call();
                costs.push_back(Seconds(Clock::now() - start) * 1000.0);
            }
            return FormatFigure("median %.1f ms", percentile(costs, 50)) +
                   FormatFigure(" (%.0f rows)", static_cast<double>(rows));
        };
        PrintBenchmarkRow("Line database at scale (3,000,000 records)",
                          "`records --duplicates`: every pass of a number stamped twice",
                          timed([&] { return report.FindRepeatedPasses({}).size(); }), "-",
                          std::nullopt);
        PrintBenchmarkRow("Line database at scale (3,000,000 records)",
                          "`records --summary`: writes per IC type and hour (104 days)",
                          timed([&] { return report.SummarizeWrites({}).size(); }), "-",
                          std::nullopt);
        RecordFilter lastDay;
        lastDay.since = "2026-04-14T04:30:00.000Z";
        PrintBenchmarkRow("Line database at scale (3,000,000 records)",
                          "`records --summary --since` the last day",
                          timed([&] { return report.SummarizeWrites(lastDay).size(); }), "-",
                          std::nullopt);
    }

    Shell(std::string(VRAX_PG_SERVER_SCRIPT) + " remove " + server + " >/dev/null");
    std::filesystem::remove_all(folder);
    return 0;
}
