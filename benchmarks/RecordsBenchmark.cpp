// The records at scale: builds a file of 1,000,000 records (half of them of another product
// type at higher serial numbers), then times serial-number reservations on it and measures
// the peak memory of `records --duplicates` run by the command-line program.
//   vrax-records-benchmark [--records N] [--folder DIR] [--reservations N]
#include "BenchmarkTable.h"

#include "records/sqlite/SqliteProductionRecords.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

void Execute(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s\n", sql, sqlite3_errmsg(db));
        std::exit(1);
    }
}

// Product type 6 at serial numbers from 800000 up, product type 5 from 1; one pass in 50 of
// type 5 repeats an earlier number, and one write in 10 fails.
void Build(const std::string& path, long count) {
    { vrax::SqliteProductionRecords create(path); }
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    Execute(db, "PRAGMA synchronous=OFF");
    Execute(db, "BEGIN");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO records (time, operation, factory, line, station, host, "
                       "ic_type, vid, pid, path, image_sha256, image_file, format, serial, "
                       "verdict, duration_ms, error, product_type) VALUES (?1, 'write', 1, 'A', "
                       "1, 'bench', 'KVQM31X', 15454, 2609, 'sim1&mi_00', "
                       "'5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a', "
                       "'/line/image.bin', '2K Byte', ?2, ?3, 3612, '', ?4)",
                       -1, &insert, nullptr);
    for (long i = 0; i < count; ++i) {
        const bool other = i % 2 == 1;
        const long n = i / 2;
        const long seconds = i * 3;
        char time[40];
        std::snprintf(time, sizeof time, "2026-%02ld-%02ldT%02ld:%02ld:%02ld.000Z",
                      1 + seconds / (28 * 86400) % 12, 1 + seconds / 86400 % 28,
                      seconds / 3600 % 24, seconds / 60 % 60, seconds % 60);
        const long serial = other ? 0x800000 + n : (n % 50 == 49 ? n / 2 + 1 : n + 1);
        sqlite3_bind_text(insert, 1, time, -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(insert, 2, serial);
        sqlite3_bind_text(insert, 3, i % 10 == 9 ? "Write Fail" : "Write Pass", -1, SQLITE_STATIC);
        sqlite3_bind_int(insert, 4, other ? 6 : 5);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Execute(db, "COMMIT");
    sqlite3_close(db);
}

double Milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

} // namespace

int main(int argc, char** argv) {
    long count = 1000000;
    int reservations = 200;
    std::filesystem::path folder = std::filesystem::temp_directory_path();
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--records") {
            count = std::stol(argv[i + 1]);
        } else if (option == "--folder") {
            folder = argv[i + 1];
        } else if (option == "--reservations") {
            reservations = std::stoi(argv[i + 1]);
        }
    }
    const std::string path = (folder / "vrax-records-benchmark.sqlite").string();
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::filesystem::remove(path + suffix);
    }
    const auto built = Clock::now();
    Build(path, count);
    const double buildSeconds = Milliseconds(Clock::now() - built) / 1000;

    std::vector<double> reserve;
    double commit = 0;
    {
        vrax::SqliteProductionRecords records(path);
        records.ProveWritable();
        const auto proved = Clock::now();
        records.ProveWritable();
        commit = Milliseconds(Clock::now() - proved);
        for (int i = 0; i < reservations; ++i) {
            const auto start = Clock::now();
            const int serial = records.ReserveSerialNumber(5, 1);
            reserve.push_back(Milliseconds(Clock::now() - start));
            records.SettleSerialNumber(5, serial, false);
        }
    }
    std::sort(reserve.begin(), reserve.end());
    const double median = reserve[reserve.size() / 2];
    const double p95 = reserve[reserve.size() * 95 / 100];

    // The report as an operator runs it, in its own process, so its peak is its own.
    std::vector<std::string> arguments{VRAX_CLI_PROGRAM, "--records", path, "records",
                                       "--duplicates"};
    std::vector<char*> argv2;
    for (std::string& argument : arguments) {
        argv2.push_back(argument.data());
    }
    argv2.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const auto reported = Clock::now();
    posix_spawn(&child, VRAX_CLI_PROGRAM, &actions, nullptr, argv2.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    struct rusage usage {};
    wait4(child, &status, 0, &usage);
    const double reportSeconds = Milliseconds(Clock::now() - reported) / 1000;
    const double peakMegabytes = static_cast<double>(usage.ru_maxrss) / 1024.0;

    const std::string subject = vrax::FormatFigure("%.0f records", static_cast<double>(count)) +
                                " (half of another product type, above)";
    vrax::PrintBenchmarkRow("Records at scale", "reservation (--serial next), " + subject,
                            vrax::FormatFigure("median %.2f ms", median) +
                                vrax::FormatFigure(", p95 %.2f ms", p95) +
                                vrax::FormatFigure(" (a bare synced commit: %.2f ms)", commit),
                            "< 2 ms", median < 2.0);
    vrax::PrintBenchmarkRow("Records at scale", "records --duplicates, " + subject,
                            vrax::FormatFigure("peak RSS %.1f MB", peakMegabytes) +
                                vrax::FormatFigure(", %.1f s", reportSeconds) +
                                (WIFEXITED(status) && WEXITSTATUS(status) == 1
                                     ? std::string(", pairs found")
                                     : std::string(", UNEXPECTED EXIT")),
                            "< 50 MB", peakMegabytes < 50.0);
    std::fprintf(stderr, "built %ld records in %.1f s; file %.0f MB\n", count, buildSeconds,
                 static_cast<double>(std::filesystem::file_size(path)) / 1e6);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::filesystem::remove(path + suffix);
    }
    return 0;
}
