// The line database on a server of its own (fsync on, as a factory's would be) on this VM's
// disk: reservations per second with 1, 4 and 16 stations, the cost of one record, and a gang
// line's time against the same line on a SQLite file.
#include "benchmarks/BenchmarkTable.h"
#include "records/PostgresProductionRecords.h"
#include "records/RecordsLocation.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
    Shell(std::string(VRAX_PG_SERVER_SCRIPT) + " remove " + server + " >/dev/null");
    std::filesystem::remove_all(folder);
    return 0;
}
