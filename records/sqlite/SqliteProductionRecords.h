#pragma once

#include "host/ProcessIdentity.h"
#include "records/CallGate.h"
#include "records/ProductionRecords.h"

#include <chrono>
#include <functional>
#include <string>

struct sqlite3;

namespace vrax {

// The records in one SQLite file in WAL mode, which several processes and threads may share.
class SqliteProductionRecords final : public ProductionRecords {
public:
    static constexpr int SchemaVersion = 6;

    enum class Access {
        // Creates the file (and its folder) when missing and upgrades an older schema. Refuses
        // a file on a network file system, where SQLite's locks cannot be trusted.
        ReadWrite,
        ReadOnly, // the reports: the file must exist and is never changed or upgraded
    };

    // Throws RecordsError naming the file.
    explicit SqliteProductionRecords(const std::string& path, Access access = Access::ReadWrite,
                                     std::chrono::milliseconds waitLimit = RecordsWaitLimit);
    ~SqliteProductionRecords() override;
    SqliteProductionRecords(const SqliteProductionRecords&) = delete;
    SqliteProductionRecords& operator=(const SqliteProductionRecords&) = delete;

    void ProveWritable() override;
    int SettleAbandonedReservations() override;
    void Append(const ProductionRecord& record) override;
    std::vector<ProductionRecord> Find(const RecordFilter& filter) override;
    std::vector<WriteTally> SummarizeWrites(const RecordFilter& filter) override;
    std::vector<ProductionRecord> FindRepeatedPasses(const RecordFilter& filter) override;
    std::vector<Reservation> FindReservations() override;
    std::vector<StationTally> SummarizeStations(const RecordFilter& filter) override;
    std::vector<FailureReason> CountFailureReasons(const RecordFilter& filter, int limit) override;
    std::vector<SerialNumberRun> FindStampedRuns(const RecordFilter& filter) override;
    int ReserveSerialNumber(int productType, int firstSerial) override;
    void ClaimSerialNumber(int productType, int serialNumber) override;
    void SettleSerialNumber(int productType, int serialNumber, bool stamped) override;
    void SettleRecordLost(int productType, int serialNumber) override;
    void StopWaiting() override;
    ImageApproval ApproveImage(const ImageApproval& approval) override;
    std::vector<ImageApproval> FindApprovals(std::optional<int> productType) override;

    int StoredSchemaVersion();

private:
    using Steady = std::chrono::steady_clock;

    static int OnBusy(void* self, int count);
    // Runs body holding the connection, with this call's deadline; errors get the file's name
    // and what was being done.
    void Call(const char* what, const std::function<void()>& body);
    [[noreturn]] void Fail(const std::string& what, const std::string& cause);
    std::string WaitText() const;
    // SQLite's message, led by how long the call waited when SQLite's wait for the lock gave up.
    std::string FailureText(int code, const std::string& message) const;
    void Open(Access access);
    void OpenImmutable();
    // A report read as the file stood fails when a station changed it meanwhile.
    void RequireUnchanged();
    void SwitchToWal();
    int ReadVersion();
    void CreateOrUpgrade();
    std::vector<ProductionRecord> SelectRecords(const std::string& where,
                                                const RecordFilter& filter);
    // A report's query over the filter in one read call, each row made by makeRow.
    template <typename Row, typename MakeRow>
    std::vector<Row> ReadRows(const std::string& sql, const RecordFilter& filter,
                              const MakeRow& makeRow);
    bool PassedBefore(int productType, int serialNumber, std::string* where);
    void RequireWritable() const;

    std::string path_;
    sqlite3* db_ = nullptr;
    bool readOnly_ = false;
    // Read as the file stood, without the journal files a reader would make.
    bool immutable_ = false;
    std::string standing_;
    int version_ = 0;
    ProcessIdentity self_;
    std::chrono::milliseconds waitLimit_;
    CallGate gate_;
    // The deadline of the call holding the connection, and whether SQLite's wait gave up.
    Steady::time_point deadline_{};
    Steady::time_point callStart_{};
    bool gaveUp_ = false;
};

} // namespace vrax
