#pragma once

#include "host/ProcessFileLock.h"
#include "records/postgres/PostgresProductionRecords.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct sqlite3;

namespace vrax {

// outbox.sqlite beside the default records file; empty when no such folder is known.
std::string DefaultOutboxPath();

// The line database, with a local outbox for the network's failures: a record or a settled
// serial number the server cannot take waits in a SQLite file on this PC and is sent, in
// order and once, as soon as the server answers again. What needs the server there and then
// (a serial number's reservation and its duplicate check, the reports) fails instead, naming
// why. Entries are kept for the server and database the address resolves to, so any spelling
// of it sends them; an entry the server refuses for its content is set aside with the reason.
// Several stations of the PC share the file: one sends at a time, in short batches, while the
// others go on keeping theirs.
class OutboxProductionRecords final : public ProductionRecords {
public:
    enum class Access {
        Station, // sends what waits at once; the outbox is created when missing
        Report,  // only counts what waits
    };

    // Throws RecordsError naming the outbox's file when it cannot be opened.
    OutboxProductionRecords(std::unique_ptr<PostgresProductionRecords> server,
                            const std::string& outboxPath, Access access);
    ~OutboxProductionRecords() override;
    OutboxProductionRecords(const OutboxProductionRecords&) = delete;
    OutboxProductionRecords& operator=(const OutboxProductionRecords&) = delete;

    void ProveWritable() override;
    void ProveStation(int factory, char line, int station) override;
    std::vector<std::string> RestoreFindings() override;
    std::vector<std::string> AcknowledgeRestores() override;
    std::vector<ProductionRecord> PassesInRestoreGaps() override;
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
    // A station sends what it can first.
    long WaitingToSend() override;
    std::vector<std::string> SetAside() override;

    // Sends what waits for this server, oldest first. False when some must wait on, also
    // while another station or thread of this PC sends it, unless told to wait for its turn
    // (within the records' deadline).
    bool Deliver(bool waitForTurn = false);

private:
    struct Entry;
    struct Queued;
    void Keep(const Entry& entry);
    void AdoptEarlierKeys();
    bool AnyWaiting();
    bool TakeTurn();
    void EndTurn();
    std::vector<Queued> NextBatch();
    void Send(const Entry& entry);
    void Done(const std::vector<std::pair<long long, std::string>>& done);
    bool Moved();
    struct Mark {
        int productType = 0;
        int serialNumber = 0;
        std::string time; // the server's, when this PC saw it taken
    };
    std::optional<Mark> Remembered(int productType);
    void Remember(int productType, int serialNumber, const std::string& seen);
    void CompareMemory();
    std::string LostMice();
    [[noreturn]] void Fail(const std::string& what, const std::string& cause);

    std::unique_ptr<PostgresProductionRecords> server_;
    std::string path_;
    sqlite3* outbox_ = nullptr;
    bool reasons_ = false; // the file can set entries aside (a report may read an older one)
    // The stations' turn to send, held by a live process: the file beside the outbox.
    std::unique_ptr<ProcessFileLock> turn_;
    std::mutex mutex_;   // one transaction at a time on the connection
    std::mutex sending_; // one thread sends
};

} // namespace vrax
