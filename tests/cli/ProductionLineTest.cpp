#include "CliFixture.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#if __has_include(<sqlite3.h>)
#include <sqlite3.h>
#endif

extern char** environ;

namespace vrax::testing {
namespace {

using ProductionLine = CliFixture;

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> CsvFields(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    for (const char c : line) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    fields.push_back(field);
    return fields;
}

// The program started in the background with its standard output in a file.
pid_t Start(const std::vector<std::string>& arguments, const std::string& outPath,
            const std::string& errPath = "/dev/null") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<std::string> storage{VRAX_CLI_PROGRAM};
    storage.insert(storage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : storage) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    EXPECT_EQ(posix_spawn(&child, VRAX_CLI_PROGRAM, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

TEST_F(ProductionLine, TwoProcessesSharingTheRecordsNeverStampASerialNumberTwice) {
    const std::string records = Path("shared.sqlite");
    std::vector<pid_t> lines;
    for (const char* batch : {"a", "b"}) {
        lines.push_back(Start({"--records",
                               records,
                               "--sim",
                               "kvqm31x:refuse-setup",
                               "--sim-faulty-every",
                               "7",
                               "--sim-mice",
                               "500",
                               "--gang",
                               "3",
                               "--format",
                               "2k",
                               "--factory",
                               "5,20200527,000001,1,A,1",
                               "--serial",
                               "next",
                               "--serial-start",
                               "100",
                               "line",
                               imagePath},
                              Path(std::string("line-") + batch + ".txt")));
    }
    for (const pid_t line : lines) {
        int status = 0;
        waitpid(line, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1); // some mice failed
    }
    for (const char* batch : {"a", "b"}) {
        const std::vector<std::string> out =
            SplitLines(Slurp(Path(std::string("line-") + batch + ".txt")));
        ASSERT_EQ(out.size(), 501u);
        EXPECT_EQ(out.back(), "Mice: 500, passed 429, failed 71, yield 85.8 %");
    }

    const ProgramResult csv = Run({"--records", records, "records", "--csv"});
    const std::vector<std::string> rows = SplitLines(csv.out);
    ASSERT_EQ(rows.size(), 1001u);
    std::map<int, std::string> verdictBySerial;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const std::vector<std::string> fields = CsvFields(rows[i]);
        ASSERT_EQ(fields.size(), 15u) << rows[i];
        const int serial = std::stoi(fields[11], nullptr, 16);
        EXPECT_TRUE(verdictBySerial.emplace(serial, fields[12]).second)
            << "serial " << fields[11] << " handed out twice";
    }
    // Every number from the start on went to exactly one mouse: none lost, none repeated.
    EXPECT_EQ(verdictBySerial.begin()->first, 0x100);
    EXPECT_EQ(verdictBySerial.rbegin()->first, 0x100 + 999);
    int failed = 0;
    for (const auto& [serial, verdict] : verdictBySerial) {
        failed += verdict == "Write Fail" ? 1 : 0;
    }
    EXPECT_EQ(failed, 142);
    EXPECT_EQ(Run({"--records", records, "records", "--duplicates"}).exitCode, 0);
}

TEST_F(ProductionLine, KilledMidShiftKeepsTheRecordOfEveryMousePrinted) {
    const std::string records = Path("shift.sqlite");
    const pid_t line = Start({"--records", records, "--sim", "kvqm31x", "--sim-mice", "100000",
                              "--gang", "2", "--format", "2k", "--factory",
                              "5,20200527,000001,1,A,1", "--serial", "next", "line", imagePath},
                             Path("shift.txt"));
    // Until some mice are done, then without warning.
    WaitUntil([&] { return SplitLines(Slurp(Path("shift.txt"))).size() >= 20; },
              std::chrono::seconds(30));
    kill(line, SIGKILL);
    int status = 0;
    waitpid(line, &status, 0);
    const std::vector<std::string> printed = SplitLines(Slurp(Path("shift.txt")));
    ASSERT_GE(printed.size(), 20u);

    const std::vector<std::string> rows =
        SplitLines(Run({"--records", records, "records", "--csv"}).out);
    std::set<std::string> recordedSerials;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        recordedSerials.insert(CsvFields(rows[i])[11]);
    }
    for (const std::string& mouse : printed) {
        const std::string serial = SplitLines(mouse)[0].substr(mouse.find("  ") + 2, 6);
        EXPECT_TRUE(recordedSerials.count(serial)) << mouse;
    }
    // Committed but not yet printed: at most the mice in flight.
    EXPECT_LE(rows.size() - 1, printed.size() + 2);

    // The killed line's reservations are settled by the next station to open the file.
    EXPECT_EQ(Run({"--records", records, "--sim", "kvqm31x", "factory-read"}).exitCode, 0);
    const ProgramResult summary = Run({"--records", records, "records", "--summary"});
    EXPECT_NE(summary.out.find("Serial numbers reserved and not settled: none"), std::string::npos)
        << summary.out;
}

// The mouse lines printed before the summary, and the serial numbers the records hold.
std::vector<std::string> MouseLines(const std::string& out) {
    std::vector<std::string> mice;
    for (const std::string& line : SplitLines(out)) {
        if (line.rfind("Mice: ", 0) != 0) {
            mice.push_back(line);
        }
    }
    return mice;
}

TEST_F(ProductionLine, AFullDiskOrAHeldLockStopsTheLineAndNamesEveryMouseLeftWithoutRecord) {
    // A disk that fills: every write beyond 192 KiB fails (EFBIG, which SQLite reports as an
    // I/O error).
    const std::string full = Path("full.sqlite");
    struct rlimit unlimited {};
    getrlimit(RLIMIT_FSIZE, &unlimited);
    struct rlimit limited = unlimited;
    limited.rlim_cur = 192 * 1024;
    void (*const previous)(int) = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limited);
    const pid_t filling = Start({"--records", full, "--sim", "kvqm31x", "--sim-mice", "500",
                                 "--gang", "3", "--format", "2k", "line", imagePath},
                                Path("full.txt"), Path("full-err.txt"));
    // A disk already full: the store's proof at open fails, and no mouse is touched.
    setrlimit(RLIMIT_FSIZE, &unlimited);
    EXPECT_EQ(
        Run({"--records", Path("full-before.sqlite"), "--sim", "kvqm31x", "factory-read"}).exitCode,
        0);
    limited.rlim_cur = 1024;
    setrlimit(RLIMIT_FSIZE, &limited);
    const pid_t refused = Start({"--records", Path("full-before.sqlite"), "--sim", "kvqm31x",
                                 "--sim-dump", Path("untouched.bin"), "write", imagePath},
                                Path("refused.txt"), Path("refused-err.txt"));
    setrlimit(RLIMIT_FSIZE, &unlimited);
    signal(SIGXFSZ, previous);
    int status = 0;
    waitpid(refused, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
    EXPECT_NE(Slurp(Path("refused-err.txt")).find("disk I/O error"), std::string::npos)
        << Slurp(Path("refused-err.txt"));
    EXPECT_FALSE(Exists("untouched.bin"));
    waitpid(filling, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
    const std::string out = Slurp(Path("full.txt"));
    const std::string err = Slurp(Path("full-err.txt"));
    EXPECT_NE(err.find("cannot append: disk I/O error"), std::string::npos) << err;
    const std::vector<std::string> mice = MouseLines(out);
    std::size_t unrecorded = 0;
    for (const std::string& mouse : mice) {
        if (mouse.find("(no record)") != std::string::npos) {
            ++unrecorded;
            const std::string path = mouse.substr(0, mouse.find("  "));
            EXPECT_NE(err.find("\n  " + path + "  Write Pass"), std::string::npos) << err;
        }
    }
    // Stopped at once: only the mice in flight, and the summary counts them all.
    EXPECT_GE(unrecorded, 1u);
    EXPECT_LE(unrecorded, 3u);
    EXPECT_NE(out.find("Mice: " + std::to_string(mice.size()) + ", "), std::string::npos) << out;
    EXPECT_EQ(SplitLines(Run({"--records", full, "records", "--csv"}).out).size(),
              1 + mice.size() - unrecorded);

#if __has_include(<sqlite3.h>)
    // Another program holds the records' lock: Ctrl+C ends the line within a few seconds,
    // and no mouse was written without its record.
    const std::string shared = Path("shared.sqlite");
    const pid_t line = Start({"--records", shared, "--sim", "kvqm31x", "--sim-mice", "100000",
                              "--gang", "4", "--format", "2k", "--factory",
                              "5,20200527,000001,1,A,1", "--serial", "next", "line", imagePath},
                             Path("locked.txt"), Path("locked-err.txt"));
    EXPECT_TRUE(WaitUntil([&] { return MouseLines(Slurp(Path("locked.txt"))).size() >= 8; },
                          std::chrono::seconds(30)));
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(shared.c_str(), &holder), SQLITE_OK);
    // The gang's writers try again every 2 ms; SQLite's own timeout backs off to 100 ms between
    // tries and could lose to them for all of its 5 s.
    sqlite3_busy_handler(
        holder,
        [](void*, int tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return tries < 30000 ? 1 : 0;
        },
        nullptr);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto interrupted = std::chrono::steady_clock::now();
    kill(line, SIGINT);
    waitpid(line, &status, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::seconds(5));
    sqlite3_close(holder);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
    EXPECT_NE(Slurp(Path("locked-err.txt")).find("gave up after"), std::string::npos)
        << Slurp(Path("locked-err.txt"));
    std::set<std::string> recorded;
    const std::vector<std::string> rows =
        SplitLines(Run({"--records", shared, "records", "--csv"}).out);
    for (std::size_t i = 1; i < rows.size(); ++i) {
        recorded.insert(CsvFields(rows[i])[11]);
    }
    for (const std::string& mouse : MouseLines(Slurp(Path("locked.txt")))) {
        const std::string serial = mouse.substr(mouse.find("  ") + 2, 6);
        EXPECT_EQ(recorded.count(serial), mouse.find("(no record)") == std::string::npos ? 1u : 0u)
            << mouse;
    }
#endif
}

TEST_F(ProductionLine, GangOfFourAndTheWindowsSerialAdvance) {
    const ProgramResult result =
        Run({"--records", "none", "--sim", "kvqm31x:refuse-setup", "--sim-faulty-every", "3",
             "--sim-mice", "9", "--gang", "4", "--format", "2k", "--factory",
             "5,20200527,000100,1,A,1", "line", imagePath});
    const std::vector<std::string> out = SplitLines(result.out);
    ASSERT_EQ(out.size(), 10u) << result.out << result.err;
    EXPECT_EQ(out.back(), "Mice: 9, passed 6, failed 3, yield 66.7 %");
    std::multiset<std::string> passed;
    for (std::size_t i = 0; i + 1 < out.size(); ++i) {
        if (out[i].find("Write Pass") != std::string::npos) {
            passed.insert(out[i].substr(out[i].find("  ") + 2, 6));
        }
    }
    EXPECT_EQ(std::set<std::string>(passed.begin(), passed.end()).size(), passed.size());

    // Past FFFFFF the line refuses the next mouse instead of wrapping round to 000000.
    const ProgramResult full =
        Run({"--records", "none", "--sim", "kvqm31x", "--sim-mice", "3", "--format", "2k",
             "--factory", "5,20200527,FFFFFF,1,A,1", "line", imagePath});
    EXPECT_EQ(full.exitCode, 2);
    EXPECT_NE(full.out.find("FFFFFF  Write Pass"), std::string::npos) << full.out;
    EXPECT_NE(full.err.find("does not fit the factory record"), std::string::npos) << full.err;
    EXPECT_EQ(full.out.find("000000"), std::string::npos) << full.out;

    const ProgramResult limited = Run({"--records", "none", "--sim", "kvqm42xx", "--sim-mice", "9",
                                       "--max-mice", "4", "line", imagePath});
    EXPECT_EQ(SplitLines(limited.out).back(), "Mice: 4, passed 4, failed 0, yield 100.0 %");
    EXPECT_EQ(limited.exitCode, 0);
}

using JsonLines = CliFixture;

// --json's standard output; a line that is not one JSON object fails the test.
std::vector<nlohmann::json> JsonObjects(const std::string& out) {
    std::vector<nlohmann::json> objects;
    for (const std::string& line : SplitLines(out)) {
        objects.push_back(nlohmann::json::parse(line, nullptr, false));
        EXPECT_TRUE(objects.back().is_object()) << line;
    }
    return objects;
}

TEST_F(JsonLines, AJobIsItsStartProgressAndEndWithVerdictSerialAndReason) {
    const ProgramResult written = Run({"--records", "none", "--sim", "kvqm31x", "--factory",
                                       "5,20200527,0000A7,1,A,1", "--json", "write", imagePath});
    EXPECT_EQ(written.exitCode, 0) << written.err;
    const std::vector<nlohmann::json> events = JsonObjects(written.out);
    // Not a line per chunk: the job's first, then one each 250 ms of a job of milliseconds.
    ASSERT_GE(events.size(), 3u) << written.out;
    EXPECT_LE(events.size(), 10u) << written.out;
    EXPECT_EQ(events.front()["event"], "start");
    EXPECT_EQ(events[1]["event"], "progress");
    EXPECT_EQ(events.back()["event"], "end");
    EXPECT_EQ(events.back()["verdict"], "Write Pass");
    EXPECT_EQ(events.back()["serial"], "0000A7");
    EXPECT_EQ(events.back()["product_type"], "0005");
    EXPECT_EQ(events.back()["reason"], "");
    EXPECT_EQ(events.back()["mouse"], events.front()["mouse"]);

    const ProgramResult failed =
        Run({"--records", "none", "--sim", "kvqm31x:silent", "--json", "write", imagePath});
    EXPECT_EQ(failed.exitCode, 1);
    const nlohmann::json end = JsonObjects(failed.out).back();
    EXPECT_EQ(end["verdict"], "");
    EXPECT_EQ(end["reason"], "No verdict: the mouse did not answer");
    EXPECT_EQ(end["passed"], false);

    const ProgramResult missing = Run({"--records", "none", "--sim", "kvqm31x", "--ic", "KVQM42xx",
                                       "--json", "verify", imagePath});
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_EQ(missing.out, R"({"event":"end","job":"verify","mouse":"","verdict":"",)"
                           R"("passed":false,"serial":"","product_type":"","ms":0,)"
                           R"("reason":"No Find Mouse"})"
                           "\n");
}

TEST_F(JsonLines, AGangLineEndsEachMouseItStartedThenTalliesThem) {
    const ProgramResult result =
        Run({"--records", "none", "--sim", "kvqm31x:refuse-setup", "--sim-faulty-every", "3",
             "--sim-mice", "6", "--gang", "3", "--format", "2k", "--factory",
             "5,20200527,000100,1,A,1", "--json", "line", imagePath});
    EXPECT_EQ(result.exitCode, 1);
    const std::vector<nlohmann::json> events = JsonObjects(result.out);
    ASSERT_FALSE(events.empty());
    std::set<std::string> running;
    std::set<std::string> serials;
    int fails = 0;
    for (std::size_t i = 0; i + 1 < events.size(); ++i) {
        const nlohmann::json& event = events[i];
        const std::string mouse = event["mouse"];
        if (event["event"] == "start") {
            EXPECT_TRUE(running.insert(mouse).second) << mouse;
        } else if (event["event"] == "progress") {
            EXPECT_EQ(running.count(mouse), 1u) << mouse;
        } else {
            ASSERT_EQ(event["event"], "end");
            EXPECT_EQ(running.erase(mouse), 1u) << mouse;
            if (event["verdict"] == "Write Pass") {
                EXPECT_TRUE(serials.insert(event["serial"].get<std::string>()).second);
            } else {
                EXPECT_EQ(event["verdict"], "Write Fail");
                EXPECT_TRUE(event["reason"].is_string());
                ++fails;
            }
        }
    }
    EXPECT_TRUE(running.empty());
    EXPECT_EQ(serials.size(), 4u);
    EXPECT_EQ(fails, 2);
    EXPECT_EQ(events.back(), nlohmann::json::parse(R"({"event":"tally","mice":6,"passed":4,)"
                                                   R"("failed":2,"yield":66.7})"));
}

} // namespace
} // namespace vrax::testing
