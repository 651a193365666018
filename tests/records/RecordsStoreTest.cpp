#include "records/Sha256.h"
#include "records/reports/RecordsReport.h"
#include "records/sqlite/SqliteProductionRecords.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

namespace vrax {
namespace {

class RecordsStore : public ::testing::Test {
protected:
    RecordsStore() {
        folder_ =
            std::filesystem::temp_directory_path() /
            ("vrax-records-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        path = (folder_ / "deeper" / "records.sqlite").string();
    }
    ~RecordsStore() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    static ProductionRecord Write(const std::string& time, int serial, const std::string& verdict) {
        ProductionRecord record;
        record.time = time;
        record.operation = "write";
        record.factory = 2;
        record.line = 'C';
        record.station = 4;
        record.host = "bench";
        record.icType = "KVQM31X";
        record.vendorId = 0x3C5E;
        record.productId = 0x0A31;
        record.devicePath = "sim:1/0";
        record.imageFile = "/x/a,b.bin";
        record.productType = 5;
        record.serialNumber = serial;
        record.verdict = verdict;
        record.durationMs = 3612;
        return record;
    }

    std::filesystem::path folder_;
    std::string path;
};

TEST_F(RecordsStore, KeepsRecordsAcrossOpensAndReportsThem) {
    {
        SqliteProductionRecords records(path);
        records.Append(Write("2026-01-02T10:00:00.000Z", 0x00ABCD, "Write Pass"));
        records.Append(Write("2026-01-02T10:30:00.000Z", 0x00ABCE, "Write Fail"));
        records.Append(Write("2026-01-02T11:05:00.000Z", 0x00ABCD, "Write Pass"));
        ProductionRecord verify = Write("2026-01-03T09:00:00.000Z", 0, "Verify Pass");
        verify.operation = "verify";
        verify.serialNumber.reset();
        verify.error = "said \"no\"";
        records.Append(verify);
    }
    SqliteProductionRecords records(path);
    EXPECT_EQ(records.StoredSchemaVersion(), SqliteProductionRecords::SchemaVersion);
    const std::vector<ProductionRecord> all = records.Find({});
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(records.Find({"2026-01-02T10:30", std::nullopt}).size(), 3u);
    EXPECT_EQ(records.Find({"2026-01-03", std::nullopt}).size(), 1u);
    EXPECT_EQ(records.Find({"", 0x00ABCD}).size(), 2u);

    const std::vector<std::string> csv = RecordsCsv(all);
    EXPECT_EQ(csv[0], "time,operation,station,host,ic_type,vid,pid,path,image_sha256,image_file,"
                      "format,serial,verdict,duration_ms,error");
    EXPECT_EQ(csv[1], "2026-01-02T10:00:00.000Z,write,2-C-4,bench,KVQM31X,3C5E,0A31,sim:1/0,,"
                      "\"/x/a,b.bin\",,00ABCD,Write Pass,3612,");
    EXPECT_EQ(csv[4], "2026-01-03T09:00:00.000Z,verify,2-C-4,bench,KVQM31X,3C5E,0A31,sim:1/0,,"
                      "\"/x/a,b.bin\",,,Verify Pass,3612,\"said \"\"no\"\"\"");

    const std::vector<std::string> duplicates = DuplicateSerialNumbers(all);
    ASSERT_EQ(duplicates.size(), 3u); // the header and both mice
    EXPECT_NE(duplicates[1].find("2026-01-02T10:00:00.000Z"), std::string::npos);
    EXPECT_NE(duplicates[2].find("2026-01-02T11:05:00.000Z"), std::string::npos);
    // Only the repeated passes are read back; one of them after the time is enough.
    EXPECT_EQ(records.FindRepeatedPasses({}).size(), 2u);
    const RecordFilter later{"2026-01-02T10:30:00.000Z", std::nullopt};
    EXPECT_EQ(DuplicateSerialNumbers(records.FindRepeatedPasses(later), later.since).size(), 3u);
    const RecordFilter after{"2026-01-02T12:00:00.000Z", std::nullopt};
    EXPECT_TRUE(DuplicateSerialNumbers(records.FindRepeatedPasses(after), after.since).empty());

    const std::vector<std::string> summary =
        RecordsSummary(records.SummarizeWrites({}), records.FindReservations());
    ASSERT_EQ(summary.size(), 5u);
    EXPECT_EQ(summary[4], "Serial numbers reserved and not settled: none");
    EXPECT_NE(summary[1].find("2026-01-02T10:00"), std::string::npos);
    EXPECT_NE(summary[1].find("50.0 %"), std::string::npos);
    EXPECT_NE(summary[3].find("all"), std::string::npos);
    EXPECT_NE(summary[3].find("66.7 %"), std::string::npos);
}

TEST_F(RecordsStore, UpgradesAVersionOneFileAndReservesSerialNumbersOnce) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE schema_version (version INTEGER NOT NULL);"
                           "INSERT INTO schema_version VALUES (1);"
                           "CREATE TABLE records (id INTEGER PRIMARY KEY, time TEXT NOT NULL,"
                           " operation TEXT NOT NULL, factory INTEGER, line TEXT, station INTEGER,"
                           " host TEXT, ic_type TEXT, vid INTEGER, pid INTEGER, path TEXT,"
                           " image_sha256 TEXT, image_file TEXT, format TEXT, serial INTEGER,"
                           " verdict TEXT, duration_ms INTEGER, error TEXT);"
                           "INSERT INTO records (time, operation, serial, verdict) VALUES"
                           " ('2025-05-05T05:05:05.000Z', 'write', 16, 'Write Pass');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    {
        // A report of the old file: no approvals, and the file stays as it was.
        SqliteProductionRecords report(path, SqliteProductionRecords::Access::ReadOnly);
        EXPECT_TRUE(report.FindApprovals(std::nullopt).empty());
        EXPECT_EQ(report.StoredSchemaVersion(), 1);
    }

    SqliteProductionRecords records(path);
    EXPECT_EQ(records.StoredSchemaVersion(), SqliteProductionRecords::SchemaVersion);
    // Approvals after the upgrade: the first approval of an image stands.
    const ImageApproval first = records.ApproveImage({5, "aa11", "/images/a.bin", "ann@qa", ""});
    EXPECT_EQ(first.approver, "ann@qa");
    EXPECT_EQ(first.time.size(), 24u) << first.time;
    EXPECT_EQ(records.ApproveImage({5, "aa11", "/other/a.bin", "bob@qa", ""}).approver, "ann@qa");
    records.ApproveImage({6, "aa11", "/images/a.bin", "bob@qa", ""});
    records.ApproveImage({5, "bb22", "/images/b.bin", "bob@qa", ""});
    const std::vector<ImageApproval> five = records.FindApprovals(5);
    ASSERT_EQ(five.size(), 2u);
    EXPECT_EQ(five[0].imageFile, "/images/a.bin");
    EXPECT_EQ(five[1].imageSha256, "bb22");
    EXPECT_EQ(records.FindApprovals(6).size(), 1u);
    EXPECT_TRUE(records.FindApprovals(7).empty());
    EXPECT_EQ(records.FindApprovals(std::nullopt).size(), 3u);
    const std::vector<ProductionRecord> old = records.Find({});
    ASSERT_EQ(old.size(), 1u);
    EXPECT_EQ(old[0].SerialText(), "000010");
    EXPECT_FALSE(old[0].productType);

    // Above every reservation, released or not, and above what windows stamped unreserved;
    // the version 1 file's number, without product type, counts for every type.
    EXPECT_EQ(records.ReserveSerialNumber(5, 1), 0x11);
    EXPECT_EQ(records.ReserveSerialNumber(5, 1), 0x12);
    records.SettleSerialNumber(5, 0x12, false);
    EXPECT_EQ(records.ReserveSerialNumber(5, 1), 0x13);
    EXPECT_EQ(records.ReserveSerialNumber(5, 0x100), 0x100);
    EXPECT_EQ(records.ReserveSerialNumber(6, 1), 0x11);
    records.Append(Write("2026-01-01T00:00:00.000Z", 0x200, "Write Pass"));
    EXPECT_EQ(records.ReserveSerialNumber(5, 1), 0x201);

    EXPECT_EQ(records.ReserveSerialNumber(0x10, 0xFFFFFF), 0xFFFFFF);
    try {
        records.ReserveSerialNumber(0x10, 1);
        ADD_FAILURE() << "a serial number past FFFFFF";
    } catch (const RecordsError& error) {
        // The file and the product type as the window shows it.
        EXPECT_NE(std::string(error.what()).find("Records \"" + path + "\""), std::string::npos);
        EXPECT_NE(std::string(error.what()).find("product type 0010"), std::string::npos)
            << error.what();
    }
    EXPECT_EQ(records.ReserveSerialNumber(8, 0xFFFFFE), 0xFFFFFE);

    // The old pass pairs with a new one of any product type.
    records.Append(Write("2026-01-02T00:00:00.000Z", 0x10, "Write Pass"));
    const std::vector<std::string> pairs = DuplicateSerialNumbers(records.FindRepeatedPasses({}));
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_NE(pairs[1].find("2025-05-05T05:05:05.000Z"), std::string::npos) << pairs[1];
}

TEST(Sha256, MatchesTheStandardsExamples) {
    const std::string abc = "abc";
    EXPECT_EQ(Sha256Hex(reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(Sha256Hex(reinterpret_cast<const std::uint8_t*>(two.data()), two.size()),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

} // namespace
} // namespace vrax
