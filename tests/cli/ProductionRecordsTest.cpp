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
    // The same number again is refused before the mouse is touched.
    const ProgramResult again =
        Run(with(stamp, {"--sim-dump", Path("again.bin"), "write", imagePath}));
    EXPECT_EQ(again.exitCode, 2);
    EXPECT_EQ(again.out, "");
    EXPECT_NE(again.err.find("SN 00002A of product type 0005 is already stamped: Write Pass on "),
              std::string::npos)
        << again.err;
    EXPECT_EQ(ReadFile("again.bin"), std::vector<std::uint8_t>(2048, 0xFF));
    EXPECT_EQ(Run({"--records", records, "--sim", "kvqm31x:refuse-setup", "--factory",
                   "5,20200527,00002B,1,A,1", "write", imagePath})
                  .exitCode,
              1);
    EXPECT_EQ(Run({"--records", records, "--sim", "kvqm42xx", "verify", imagePath}).out,
              "Verify Fail\n");
    EXPECT_EQ(Run({"--records", records, "--sim", "kvqm31x", "factory-read"}).exitCode, 0);
    EXPECT_EQ(Run({"--records", "none", "--sim", "kvqm31x", "factory-read"}).exitCode, 0);

    // Another chip: a record of why, with no serial number. A read whose file cannot be
    // written: a record of the failed save.
    EXPECT_EQ(Run({"--records", records, "--sim", "kvqm31x:chip=36", "--factory",
                   "5,20200527,00002C,1,A,1", "write", imagePath})
                  .exitCode,
              1);
    EXPECT_EQ(
        Run({"--records", records, "--sim", "kvqm42xx", "read", Path("image.bin/out")}).exitCode,
        2);

    const ProgramResult csv = Run({"--records", records, "records", "--csv"});
    EXPECT_EQ(csv.exitCode, 0) << csv.err;
    const std::vector<std::string> lines = Lines(csv.out);
    ASSERT_EQ(lines.size(), 7u) << csv.out;
    EXPECT_EQ(lines[0], "time,operation,station,host,ic_type,vid,pid,path,image_sha256,"
                        "image_file,format,serial,verdict,duration_ms,error");
    EXPECT_NE(lines[1].find(",write,2-C-4,"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find(",KVQM31X,3C5E,0A31,"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find(imagePath + ",2K Byte,00002A,Write Pass,"), std::string::npos)
        << lines[1];
    EXPECT_NE(lines[2].find(",00002B,Write Fail,"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find(",verify,1-A-1,"), std::string::npos) << lines[3];
    EXPECT_NE(lines[3].find(",KVQM42xx,3C5E,0A42,"), std::string::npos) << lines[3];
    EXPECT_NE(lines[4].find(",factory-read,"), std::string::npos) << lines[4];
    EXPECT_NE(lines[4].find(",FFFFFF,Read Ok,"), std::string::npos) << lines[4];
    EXPECT_NE(lines[5].find(",,BIN file not match Mouse,"), std::string::npos) << lines[5];
    EXPECT_NE(lines[6].find(",read,"), std::string::npos) << lines[6];
    EXPECT_NE(lines[6].find(",Save Fail,"), std::string::npos) << lines[6];
    EXPECT_NE(lines[6].find("Cannot create file"), std::string::npos) << lines[6];

    const ProgramResult duplicates = Run({"--records", records, "records", "--duplicates"});
    EXPECT_EQ(duplicates.exitCode, 0);
    EXPECT_EQ(duplicates.out, "No serial number was stamped twice.\n");

    // A line whose field starts at a number already stamped stops before its first mouse.
    const ProgramResult line =
        Run({"--records", records, "--sim", "kvqm31x", "--sim-mice", "3", "--format", "2k",
             "--factory", "5,20200527,000029,2,C,4", "line", imagePath});
    EXPECT_EQ(line.exitCode, 2);
    EXPECT_NE(line.out.find("000029  Write Pass"), std::string::npos) << line.out;
    EXPECT_NE(line.out.find("Mice: 1, passed 1"), std::string::npos) << line.out;
    EXPECT_NE(line.err.find("SN 00002A of product type 0005 is already stamped"), std::string::npos)
        << line.err;

    // Reports only read: a mistyped name is an error, and nothing is created.
    const ProgramResult typo =
        Run({"--records", Path("typo/line3.sqlite"), "records", "--duplicates"});
    EXPECT_EQ(typo.exitCode, 2);
    EXPECT_NE(typo.err.find("no such file"), std::string::npos) << typo.err;
    EXPECT_FALSE(Exists("typo"));
    EXPECT_EQ(Run({"--records", records, "records", "--since", "08/12/2026"}).exitCode, 2);
    EXPECT_EQ(Run({"--records", records, "records", "--since", "2026-13-45"}).exitCode, 2);
    const ProgramResult future =
        Run({"--records", records, "records", "--since", "9999-12-31 23:59+01:00"});
    EXPECT_EQ(future.out, "time  operation  station  host  ic_type  vid  pid  path  image  "
                          "image_file  format  serial  verdict  ms  error\n0 records\n");

    const ProgramResult bySerial = Run({"--records", records, "records", "--serial", "2b"});
    EXPECT_EQ(Lines(bySerial.out).size(), 3u) << bySerial.out; // header, one record, count

    const ProgramResult summary = Run({"--records", records, "records", "--summary"});
    EXPECT_NE(summary.out.find("50.0 %"), std::string::npos) << summary.out;
    EXPECT_NE(summary.out.find("Serial numbers reserved and not settled: none"), std::string::npos)
        << summary.out;

    // The default file lives in the user's data folder.
    EXPECT_EQ(Run({"--sim", "kvqm31x", "factory-read"}).exitCode, 0);
    EXPECT_TRUE(Exists("data/vrax-bin-writer/records.sqlite"));

    const ProgramResult unwritable =
        Run({"--records", Path("image.bin/records.sqlite"), "--sim", "kvqm31x", "factory-read"});
    EXPECT_EQ(unwritable.exitCode, 2);
    EXPECT_EQ(unwritable.out, "");
}

TEST_F(ProductionRecords, OnlyApprovedImagesAreWrittenForAProductTypeWithApprovals) {
    const std::string records = Path("approvals.sqlite");
    std::vector<std::uint8_t> other = image;
    other[1000] ^= 0x01;
    WriteFile("other.bin", other);
    const std::string otherPath = Path("other.bin");

    const ProgramResult approve =
        Run({"--records", records, "records", "approve", imagePath, "--product", "5"});
    ASSERT_EQ(approve.exitCode, 0) << approve.err;
    const std::string approved = "Approved for product type 0005: " + imagePath + " (SHA-256 ";
    ASSERT_EQ(approve.out.rfind(approved, 0), 0u) << approve.out;
    const std::string hash = approve.out.substr(approved.size(), 64);
    EXPECT_NE(approve.out.find(") by "), std::string::npos) << approve.out;
    // Approving it again keeps the first approval.
    EXPECT_EQ(Run({"--records", records, "records", "approve", imagePath, "--product", "0005"}).out,
              approve.out);
    const std::vector<std::string> table =
        Lines(Run({"--records", records, "records", "approvals"}).out);
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[1].rfind("0005          " + hash + "  " + imagePath, 0), 0u) << table[1];
    EXPECT_EQ(table[2], "1 approval");
    const std::vector<std::string> csv =
        Lines(Run({"--records", records, "records", "approvals", "--csv", "--product", "5"}).out);
    ASSERT_EQ(csv.size(), 2u);
    EXPECT_EQ(csv[1].rfind("0005," + hash + "," + imagePath + ",", 0), 0u) << csv[1];
    EXPECT_EQ(
        Lines(Run({"--records", records, "records", "approvals", "--product", "6"}).out).back(),
        "0 approvals");

    // Another image for the same product type: refused before the mouse is touched, with
    // no record, also without a factory record to stamp.
    const ProgramResult refused = Run({"--records", records, "--sim", "kvqm31x", "--product", "5",
                                       "--sim-dump", Path("refused.bin"), "write", otherPath});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err.rfind("Image \"" + otherPath + "\" (SHA-256 ", 0), 0u) << refused.err;
    EXPECT_NE(refused.err.find(") is not approved for product type 0005; nothing was written."),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(refused.err.find(hash), std::string::npos);
    EXPECT_EQ(ReadFile("refused.bin"), std::vector<std::uint8_t>(2048, 0xFF));
    EXPECT_EQ(Lines(Run({"--records", records, "records"}).out).back(), "0 records");

    // The approved image passes; the other one still may for a product type without
    // approvals.
    EXPECT_EQ(Run({"--records", records, "--sim", "kvqm31x", "--factory", "5,20200527,000001,1,A,1",
                   "write", imagePath})
                  .out,
              "Write Pass\n");
    EXPECT_EQ(
        Run({"--records", records, "--sim", "kvqm42xx", "--product", "6", "write", otherPath}).out,
        "Write Pass\n");

    // A line of the unapproved image stops before its first mouse.
    const ProgramResult line =
        Run({"--records", records, "--sim", "kvqm31x", "--sim-mice", "4", "--gang", "2", "--format",
             "2k", "--factory", "5,20200527,000100,1,A,1", "line", otherPath});
    EXPECT_EQ(line.exitCode, 2);
    EXPECT_EQ(line.out, "");
    EXPECT_NE(line.err.find("is not approved for product type 0005"), std::string::npos)
        << line.err;
    const ProgramResult gang =
        Run({"--records", records, "--sim", "kvqm31x", "--sim-mice", "4", "--gang", "2", "--format",
             "2k", "--factory", "5,20200527,000100,1,A,1", "line", imagePath});
    EXPECT_EQ(gang.exitCode, 0) << gang.err;
    EXPECT_NE(gang.out.find("Mice: 4, passed 4"), std::string::npos) << gang.out;
    EXPECT_EQ(Lines(Run({"--records", records, "records"}).out).back(), "6 records");

    const ProgramResult nowhere =
        Run({"--records", "none", "records", "approve", imagePath, "--product", "5"});
    EXPECT_EQ(nowhere.exitCode, 2);
    EXPECT_NE(nowhere.err.find("needs a records store"), std::string::npos) << nowhere.err;
}

} // namespace
} // namespace vrax::testing
