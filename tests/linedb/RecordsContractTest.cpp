#include "records/RecordsLocation.h"
#include "records/SerialNumberHold.h"
#include "records/postgres/PostgresProductionRecords.h"
#include "records/reports/LineReport.h"
#include "records/reports/RecordsReport.h"
#include "tests/linedb/LineDatabaseFixture.h"

#include <gmock/gmock.h>

#include <functional>
#include <string>
#include <type_traits>

namespace vrax::testing {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

// What a station, a report and an approver rely on whichever store --records picks: the same
// cases over a SQLite file, the line database reached directly, and through this PC's outbox.
struct SqliteFile {};
struct LineDatabaseDirect {};
struct LineDatabaseOutbox {};

template <typename Store> class RecordsContract : public LineDatabase {
protected:
    std::unique_ptr<ProductionRecords> Open(RecordsAccess access = RecordsAccess::Station) {
        if constexpr (std::is_same_v<Store, SqliteFile>) {
            return OpenProductionRecords(Path("records.sqlite"), access);
        } else {
            if (!tablesMade_) {
                OpenProductionRecords(Address("owner"));
                tablesMade_ = true;
            }
            const std::string role = access == RecordsAccess::Approval ? "approver" : "station";
            if constexpr (std::is_same_v<Store, LineDatabaseDirect>) {
                return std::make_unique<PostgresProductionRecords>(
                    Address(role), PostgresProductionRecords::Access::Station);
            } else {
                return OpenProductionRecords(Address(role), access);
            }
        }
    }

    static ProductionRecord Write(int serialNumber, const std::string& verdict,
                                  const std::string& error = {}) {
        ProductionRecord record;
        record.id = NewRecordId();
        record.time = UtcTimeWithMilliseconds();
        record.operation = "write";
        record.icType = "KVQM31X";
        record.productType = 5;
        record.serialNumber = serialNumber;
        record.verdict = verdict;
        record.error = error;
        return record;
    }

    static std::string ErrorOf(const std::function<void()>& call) {
        try {
            call();
        } catch (const RecordsError& error) {
            return error.what();
        }
        return "(no error)";
    }

private:
    bool tablesMade_ = false;
};

using Stores = ::testing::Types<SqliteFile, LineDatabaseDirect, LineDatabaseOutbox>;
struct StoreName {
    template <typename Store> static std::string GetName(int) {
        if constexpr (std::is_same_v<Store, SqliteFile>) {
            return "Sqlite";
        } else if constexpr (std::is_same_v<Store, LineDatabaseDirect>) {
            return "Postgres";
        } else {
            return "Outbox";
        }
    }
};
TYPED_TEST_SUITE(RecordsContract, Stores, StoreName);

TYPED_TEST(RecordsContract, KeepsEveryRecordAndAnswersTheReportsFromThem) {
    auto records = this->Open();
    // The line database takes a station's write only for a number the station holds.
    for (int serial : {0x10, 0x11, 0x12}) {
        records->ClaimSerialNumber(5, serial);
    }
    records->Append(this->Write(0x10, "Write Pass"));
    records->Append(this->Write(0x11, "Write Pass"));
    records->Append(this->Write(0x12, "Write Fail", "HidD_SetFeature: gone"));
    records->Append(this->Write(0x10, "Write Pass")); // a second mouse with one number

    const std::vector<ProductionRecord> kept = this->Open(RecordsAccess::Report)->Find({});
    ASSERT_EQ(kept.size(), 4u);
    EXPECT_EQ(kept[2].verdict, "Write Fail");
    EXPECT_EQ(kept[2].error, "HidD_SetFeature: gone");
    EXPECT_EQ(kept[2].serialNumber, 0x12);
    const std::vector<WriteTally> tallies = records->SummarizeWrites({});
    ASSERT_EQ(tallies.size(), 1u);
    EXPECT_EQ(tallies[0].icType, "KVQM31X");
    EXPECT_EQ(tallies[0].passes, 3);
    EXPECT_EQ(tallies[0].fails, 1);
    EXPECT_EQ(records->FindRepeatedPasses({}).size(), 2u);
    const std::vector<SerialNumberRun> runs = records->FindStampedRuns({});
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].first, 0x10);
    EXPECT_EQ(runs[0].last, 0x11);
    const std::vector<FailureReason> reasons = records->CountFailureReasons({}, 5);
    ASSERT_EQ(reasons.size(), 1u);
    EXPECT_EQ(reasons[0].error, "HidD_SetFeature: gone");
    RecordFilter bySerial;
    bySerial.serialNumber = 0x11;
    EXPECT_EQ(records->Find(bySerial).size(), 1u);
}

TYPED_TEST(RecordsContract, HandsEachSerialNumberToOneMouse) {
    auto records = this->Open();
    records->ClaimSerialNumber(5, 0x10);
    records->Append(this->Write(0x10, "Write Pass")); // stamped, its reservation still open

    // Reservations go above everything stamped or held, per product type.
    EXPECT_EQ(records->ReserveSerialNumber(5, 1), 0x11);
    EXPECT_EQ(records->ReserveSerialNumber(5, 1), 0x12);
    EXPECT_EQ(records->ReserveSerialNumber(6, 1), 1);
    EXPECT_THAT(this->ErrorOf([&] { records->ClaimSerialNumber(5, 0x10); }),
                HasSubstr("SN 000010 of product type 0005 is already stamped"));
    auto other = this->Open();
    EXPECT_THAT(this->ErrorOf([&] { other->ClaimSerialNumber(5, 0x12); }),
                HasSubstr("reserved by another"));
    // Released after a failed write: never handed out again, but a claim may take it.
    records->SettleSerialNumber(5, 0x11, false);
    EXPECT_EQ(other->ReserveSerialNumber(5, 1), 0x13);
    other->ClaimSerialNumber(5, 0x11);
    EXPECT_EQ(records->FindReservations().size(), 5u); // 0x10 to 0x13 and type 6's 1
    EXPECT_EQ(records->ReserveSerialNumber(7, LargestSerialNumber), LargestSerialNumber);
    EXPECT_THAT(this->ErrorOf([&] { records->ReserveSerialNumber(7, 1); }),
                HasSubstr("would not fit 24 bits (FFFFFF)"));
}

// The records' disk was full while the serial numbers' still took a settle: the number was
// settled stamped, and no listing showed a stamped number without its pass.
TYPED_TEST(RecordsContract, ANumberWhoseRecordWasLostIsListedAndNeverHandedOutAgain) {
    struct FullJournal : RecordJournal {
        void Append(const ProductionRecord&) override {
            throw RecordsError("cannot append: database or disk is full");
        }
    } full;
    auto records = this->Open();
    {
        SerialNumberHold hold(*records);
        EXPECT_EQ(hold.Reserve(5, 0x20), 0x20);
        EXPECT_THROW(StoreRecord(full, this->Write(0x20, "Write Pass"), &hold, true),
                     UnrecordedMouse);
    }
    const std::vector<Reservation> lost = records->FindReservations();
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_TRUE(lost[0].recordLost && lost[0].outcomeUnknown);
    EXPECT_THAT(RecordsSummary({}, lost), Contains(HasSubstr("on a mouse, record lost")));
    EXPECT_THAT(UnknownSerialNumbers(lost), Contains(HasSubstr("on a mouse, record lost")));
    EXPECT_THAT(LineReportHtml(GatherLineReport(*records, {}, "store")),
                HasSubstr("on a mouse, record lost"));
    EXPECT_THAT(this->ErrorOf([&] { records->ClaimSerialNumber(5, 0x20); }),
                HasSubstr("already stamped"));
    EXPECT_EQ(records->ReserveSerialNumber(5, 1), 0x21);
}

TYPED_TEST(RecordsContract, KeepsTheFirstApprovalOfAnImage) {
    auto approver = this->Open(RecordsAccess::Approval);
    const ImageApproval first{5, std::string(64, 'a'), "mouse.bin", "qa@lab", ""};
    const ImageApproval kept = approver->ApproveImage(first);
    EXPECT_FALSE(kept.time.empty());
    ImageApproval again = first;
    again.imageFile = "renamed.bin";
    EXPECT_EQ(approver->ApproveImage(again).imageFile, "mouse.bin");
    approver->ApproveImage({6, std::string(64, 'b'), "other.bin", "qa@lab", ""});

    auto station = this->Open();
    ASSERT_EQ(station->FindApprovals(5).size(), 1u);
    EXPECT_EQ(station->FindApprovals(5).front().imageSha256, std::string(64, 'a'));
    EXPECT_EQ(station->FindApprovals(std::nullopt).size(), 2u);
    EXPECT_TRUE(station->FindApprovals(7).empty());
}

} // namespace
} // namespace vrax::testing
