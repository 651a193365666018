#include "CliFixture.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>
#include <regex>

extern char** environ;

namespace vrax::testing {
namespace {

using LineReport = CliFixture;

// Runs a tool from the PATH; its standard output, or empty when it failed.
std::string Tool(const std::vector<std::string>& arguments, const std::string& outPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> storage = arguments;
    std::vector<char*> argv;
    for (std::string& argument : storage) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0) << "cannot start " << arguments[0];
    int status = 0;
    if (spawned != 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        ADD_FAILURE() << arguments[0] << " failed";
        return {};
    }
    return Slurp(outPath);
}

TEST_F(LineReport, AShiftOnOnePageThatNeedsNothingElseAndEscapesWhatTheRecordsHold) {
    // Records of a shift: a station whose every fifth mouse fails, one that passes them all,
    // a write of another product type, a failed verify and a save to a hostile name.
    const std::string records = Path("<script>line.sqlite");
    const std::vector<std::string> line = {"--records", records, "--format",  "2k",
                                           "--serial",  "next",  "--sim-mice"};
    auto with = [](std::vector<std::string> arguments, const std::vector<std::string>& more) {
        arguments.insert(arguments.end(), more.begin(), more.end());
        return arguments;
    };
    EXPECT_EQ(Run(with(line, {"20", "--sim", "kvqm31x:refuse-setup", "--sim-faulty-every", "5",
                              "--factory", "5,20200527,000001,1,A,1", "line", imagePath}))
                  .exitCode,
              1);
    EXPECT_EQ(Run(with(line, {"10", "--sim", "kvqm31x", "--factory", "5,20200527,000001,1,A,2",
                              "line", imagePath}))
                  .exitCode,
              0);
    EXPECT_EQ(Run({"--records", records, "--sim", "kvqm31x", "--format", "2k", "--factory",
                   "7,20200527,000100,1,B,1", "write", imagePath})
                  .exitCode,
              0);
    EXPECT_EQ(Run({"--records", records, "--sim", "kvqm42xx", "verify", imagePath}).exitCode, 1);
    EXPECT_EQ(Run({"--records", records, "--sim", "kvqm42xx", "read",
                   Path("image.bin/<img src=x onerror=alert(1)>")})
                  .exitCode,
              2);

    const ProgramResult written =
        Run({"--records", records, "records", "--report", Path("shift.html")});
    ASSERT_EQ(written.exitCode, 0) << written.err;
    const std::string html = Slurp(Path("shift.html"));
    for (const char* foreign :
         {"http://", "https://", "<script", "<img", "<link", "@import", "url("}) {
        EXPECT_EQ(html.find(foreign), std::string::npos) << foreign;
    }
    for (const char* shown :
         {"&lt;script&gt;line.sqlite",
          "&lt;img src=x onerror=alert(1)&gt;",
          ">31<",
          ">27<",
          "87.1 %",
          ">1-A-1<",
          ">1-A-2<",
          ">1-B-1<",
          "80.0 %",
          "100.0 %",
          "<b>Product type 0005</b>: 26 serial numbers stamped, 000001 to 00001E, in 5 runs; 4 "
          "numbers between them not stamped",
          ">000001–000004 (4)<",
          ">000006–000009 (4)<",
          ">00000B–00000E (4)<",
          ">000010–000013 (4)<",
          ">000015–00001E (10)<",
          "<b>Product type 0007</b>",
          ">000100 (1)<",
          "Verify Fail",
          "Save Fail",
          "No serial number was stamped twice",
          "None: every serial number handed out is settled",
          "<svg"}) {
        EXPECT_NE(html.find(shown), std::string::npos) << shown;
    }
    // The four failed writes are one reason, counted once.
    EXPECT_TRUE(std::regex_search(html, std::regex("<td class=\"n\">4</td>.*Write Fail")));

    // As the other reports: a missing store is an error and nothing is made; so is a page
    // that cannot be written.
    const ProgramResult missing =
        Run({"--records", Path("typo.sqlite"), "records", "--report", Path("typo.html")});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_FALSE(Exists("typo.sqlite"));
    EXPECT_FALSE(Exists("typo.html"));
    const ProgramResult unwritable =
        Run({"--records", records, "records", "--report", Path("image.bin/shift.html")});
    EXPECT_EQ(unwritable.exitCode, 2);
    EXPECT_NE(unwritable.err.find("Cannot create file \"" + Path("image.bin/shift.html") + "\""),
              std::string::npos)
        << unwritable.err;

    // Drawn by a browser with no network: the charts' colours are on the picture.
    const std::string picture = Path("shift.png");
    Tool({"timeout", "120", "chromium", "--headless", "--no-sandbox", "--disable-gpu",
          "--disable-quic", "--no-first-run", "--disable-background-networking",
          "--disable-component-update", "--disable-sync", "--user-data-dir=" + Path("chromium"),
          "--screenshot=" + picture, "--window-size=1200,1400", "file://" + Path("shift.html")},
         Path("chromium.txt"));
    EXPECT_EQ(Tool({"identify", "-format", "%w %h", picture}, Path("size.txt")), "1200 1400");
    const std::string colours =
        Tool({"convert", picture, "-format", "%c", "histogram:info:-"}, Path("colours.txt"));
    for (const char* colour : {"#43A047", "#E53935", "#1F3A5F"}) {
        EXPECT_NE(colours.find(colour), std::string::npos) << colour;
    }
}

} // namespace
} // namespace vrax::testing
