#pragma once

#include "host/ProcessIdentity.h"
#include "records/CallGate.h"
#include "records/ProductionRecords.h"
#include "records/RecordsLocation.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

struct pg_conn;

namespace vrax {

// The records of a whole line in one PostgreSQL database, shared by every station. One
// connection, shared by the process's threads; it is made again when lost.
class PostgresProductionRecords final : public ProductionRecords {
public:
    static constexpr int SchemaVersion = 3;

    // Either creates the tables of an empty database, or upgrades older ones, when this role
    // owns them (the owner's first look); another role is refused older tables.
    enum class Access {
        Station,
        Report, // changes nothing else
    };

    // Each notice names the line database; Unprotected comes once, at the first connection
    // without sslmode=verify-full that is not a local socket. Called on the calling thread.
    using Notices = std::function<void(LineDatabaseNotice, const std::string&)>;

    // Connects at once. Throws RecordsError naming the server when it cannot be reached, when
    // the address holds a password, or when the tables are missing and this role cannot make
    // them. Without notices, they go to stderr.
    PostgresProductionRecords(const std::string& address, Access access,
                              std::chrono::milliseconds waitLimit = RecordsWaitLimit,
                              Notices notices = {});
    ~PostgresProductionRecords() override;
    PostgresProductionRecords(const PostgresProductionRecords&) = delete;
    PostgresProductionRecords& operator=(const PostgresProductionRecords&) = delete;

    void ProveWritable() override;
    void ProveStation(int factory, char line, int station) override;
    std::vector<std::string> RestoreFindings() override;
    std::vector<std::string> AcknowledgeRestores() override;
    std::vector<ProductionRecord> PassesInRestoreGaps() override;
    // The highest number of the product type handed out, written or put out of reach; -1 for
    // none. A station that remembers more found the server gone back in time, and says so.
    int HighestSerialNumber(int productType);
    // remembered: the number, and when (the server's time) it was seen taken.
    void ReportRestore(int productType, int remembered, const std::string& rememberedAt);

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
    // The same, giving the server's time of the reservation.
    int ReserveSerialNumber(int productType, int firstSerial, std::string* takenAt);
    void ClaimSerialNumber(int productType, int serialNumber, std::string* takenAt);
    void SettleSerialNumber(int productType, int serialNumber, bool stamped) override;
    void SettleRecordLost(int productType, int serialNumber) override;
    void StopWaiting() override;
    ImageApproval ApproveImage(const ImageApproval& approval) override;
    std::vector<ImageApproval> FindApprovals(std::optional<int> productType) override;

    // The station its reservations are held under (StationIdentityBeside its outbox): only
    // that station settles them once their process is gone.
    void SetStationIdentity(const std::string& station) { self_.station = station; }

    // The address as messages and the outbox show it: never a password.
    const std::string& Address() const { return address_; }
    // The line database's own identity ("line " and the id its tables were made with), learned
    // when it was reached: the same server however its address is spelled, localhost or
    // 127.0.0.1 alike. A report of tables older than that gets ServerAddressKey().
    const std::string& Server() const { return server_; }
    // "host:port/database" as libpq resolved the address (service file, environment,
    // defaults), what earlier versions kept the outbox's entries under.
    const std::string& ServerAddressKey() const { return addressKey_; }
    // The same from an address alone, when it names host and database itself; else empty.
    static std::string ServerOfAddress(const std::string& address);

    class Session;

private:
    using Steady = std::chrono::steady_clock;

    // Runs body on the connection with this call's deadline; a lost server becomes
    // RecordsUnreachable, any other failure RecordsError, both naming the server.
    void Call(const char* what, const std::function<void(Session&)>& body);
    void Connect(Steady::time_point deadline);
    static void ServerNotice(void* self, const char* message);
    void TellClockOffset();
    void CreateOrUpgrade(Session& session);

    std::string address_;
    std::string server_;
    std::string addressKey_;
    std::map<std::string, std::string> settings_; // the address's keywords, for libpq
    pg_conn* connection_ = nullptr;
    ProcessIdentity self_;
    std::chrono::milliseconds waitLimit_;
    // After a failed connect, calls within the pause fail at once instead of waiting again.
    Steady::time_point retryAfter_{};
    std::string lastFailure_;
    Notices notices_;
    bool toldUnprotected_ = false;
    bool toldClock_ = false;
    std::mutex provenLock_;
    std::set<std::string> proven_; // station numbers this role may record under
    CallGate gate_;
};

} // namespace vrax
