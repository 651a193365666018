#include "CliFixture.h"

namespace vrax::testing {
namespace {

using ProductionRecords = CliFixture;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos;
         end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

TEST_F(ProductionRecords, EveryOperationLeavesARecordAndRepeatsShowUp) {
    const std::string records = Path("line3.sqlite");
    const std::vector<std::string> stamp = {"--records", records,     "--sim",
                                            "kvqm31x",   "--factory", "5,20200527,00002A,2,C,4",
                                            "--format",  "2k"};
    auto with = [&](std::vector<std::string> arguments, const std::vector<std::string>& more) {
        arguments.insert(arguments.end(), more.begin(), more.end());
        return arguments;
    };
    EXPECT_EQ(Run(with(stamp, {"write", imagePath})).out, "Write Pass\n");
    EXPECT_EQ(Run(with(stamp, {"write", imagePath})).out, "Write Pass\n");
    EXPECT_EQ(Run({"--records", records, "--sim", "kvqm31x:refuse-setup", "--factory",
                   "5,20200527,00002B,1,A,1", "write", imagePath})
                  .exitCode,
              1);
    EXPECT_EQ(Run({"--records", records, "--sim", "kvqm42xx", "verify", imagePath}).out,
              "Verify Fail\n");
    EXPECT_EQ(Run({"--records", records, "--sim", "kvqm31x", "factory-read"}).exitCode, 0);
    EXPECT_EQ(Run({"--records", "none", "--sim", "kvqm31x", "factory-read"}).exitCode, 0);

    const ProgramResult csv = Run({"--records", records, "records", "--csv"});
    EXPECT_EQ(csv.exitCode, 0) << csv.err;
    const std::vector<std::string> lines = Lines(csv.out);
    ASSERT_EQ(lines.size(), 6u) << csv.out;
    EXPECT_EQ(lines[0], "time,operation,station,host,ic_type,vid,pid,path,image_sha256,"
                        "image_file,format,serial,verdict,duration_ms,error");
    EXPECT_NE(lines[1].find(",write,2-C-4,"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find(",KVQM31X,3C5E,0A31,"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find(imagePath + ",2K Byte,00002A,Write Pass,"), std::string::npos)
        << lines[1];
    EXPECT_NE(lines[3].find(",00002B,Write Fail,"), std::string::npos) << lines[3];
    EXPECT_NE(lines[4].find(",verify,1-A-1,"), std::string::npos) << lines[4];
    EXPECT_NE(lines[4].find(",KVQM42xx,3C5E,0A42,"), std::string::npos) << lines[4];
    EXPECT_NE(lines[5].find(",factory-read,"), std::string::npos) << lines[5];
    EXPECT_NE(lines[5].find(",FFFFFF,Read Ok,"), std::string::npos) << lines[5];

    const ProgramResult duplicates = Run({"--records", records, "records", "--duplicates"});
    EXPECT_EQ(duplicates.exitCode, 1);
    const std::vector<std::string> repeated = Lines(duplicates.out);
    ASSERT_EQ(repeated.size(), 3u) << duplicates.out;
    EXPECT_NE(repeated[1].find("00002A"), std::string::npos);
    EXPECT_NE(repeated[2].find("00002A"), std::string::npos);

    const ProgramResult bySerial = Run({"--records", records, "records", "--serial", "2b"});
    EXPECT_EQ(Lines(bySerial.out).size(), 3u) << bySerial.out; // header, one record, count

    const ProgramResult summary = Run({"--records", records, "records", "--summary"});
    EXPECT_NE(summary.out.find("66.7 %"), std::string::npos) << summary.out;

    // The default file lives in the user's data folder.
    EXPECT_EQ(Run({"--sim", "kvqm31x", "factory-read"}).exitCode, 0);
    EXPECT_TRUE(Exists("data/vrax-bin-writer/records.sqlite"));

    const ProgramResult unwritable =
        Run({"--records", Path("image.bin/records.sqlite"), "--sim", "kvqm31x", "factory-read"});
    EXPECT_EQ(unwritable.exitCode, 2);
    EXPECT_EQ(unwritable.out, "");
}

} // namespace
} // namespace vrax::testing
