#include "CliFixture.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

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
pid_t Start(const std::vector<std::string>& arguments, const std::string& outPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
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

std::string Slurp(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
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
    const pid_t line =
        Start({"--records", records, "--sim", "kvqm31x", "--sim-mice", "100000", "--gang", "2",
               "--format", "2k", "--factory", "5,20200527,000001,1,A,1", "line", imagePath},
              Path("shift.txt"));
    // Until some mice are done, then without warning.
    for (int wait = 0; wait < 200 && SplitLines(Slurp(Path("shift.txt"))).size() < 20; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
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

} // namespace
} // namespace vrax::testing
