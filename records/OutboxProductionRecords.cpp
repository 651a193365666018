#include "records/OutboxProductionRecords.h"

#include "device/HexText.h"
#include "records/RecordsLocation.h"
#include "records/SqliteStatement.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

namespace vrax {

namespace {

constexpr const char* CreateOutbox = R"(
CREATE TABLE IF NOT EXISTS outbox (
    seq INTEGER PRIMARY KEY,
    server TEXT NOT NULL,
    kind TEXT NOT NULL,
    id TEXT, time TEXT, operation TEXT,
    factory INTEGER, line TEXT, station INTEGER, host TEXT,
    ic_type TEXT, vid INTEGER, pid INTEGER, path TEXT,
    image_sha256 TEXT, image_file TEXT, format TEXT,
    product_type INTEGER, serial INTEGER,
    verdict TEXT, duration_ms INTEGER, error TEXT,
    stamped INTEGER);
CREATE INDEX IF NOT EXISTS outbox_server ON outbox(server, seq);
)";

constexpr const char* Columns =
    "id, time, operation, factory, line, station, host, ic_type, vid, pid, path, image_sha256, "
    "image_file, format, product_type, serial, verdict, duration_ms, error, stamped";

// Switching to WAL and making the table need the file alone, and another program of this PC may
// be opening it at the same moment: SQLite does not always wait on its own there (seen under
// Wine), so the wait for the records bounds the retries.
void PrepareOutbox(sqlite3* db) {
    const std::string sql =
        std::string("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; ") + CreateOutbox;
    const auto deadline = std::chrono::steady_clock::now() + RecordsWaitLimit;
    for (;;) {
        const int result = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
        if (result == SQLITE_OK) {
            return;
        }
        if ((result & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline) {
            ThrowSqlite(db, result);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

// A record, or a serial number's settling (kind "settle": productType, serialNumber, stamped).
struct OutboxProductionRecords::Entry {
    std::string kind;
    ProductionRecord record;
    bool stamped = false;
};

std::string DefaultOutboxPath() {
    const std::string records = DefaultRecordsPath();
    if (records.empty()) {
        return {};
    }
    return (std::filesystem::path(records).parent_path() / "outbox.sqlite").string();
}

OutboxProductionRecords::OutboxProductionRecords(std::unique_ptr<PostgresProductionRecords> server,
                                                 const std::string& outboxPath, Access access)
    : server_(std::move(server)), path_(outboxPath) {
    if (path_.empty()) {
        throw RecordsError("no folder for the line database's outbox is known (set HOME or "
                           "LOCALAPPDATA)");
    }
    std::error_code error;
    if (access == Access::Report && !std::filesystem::exists(path_, error)) {
        return; // nothing ever waited here
    }
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), error);
    try {
        const int opened = sqlite3_open_v2(path_.c_str(), &outbox_,
                                           (access == Access::Report
                                                ? SQLITE_OPEN_READONLY
                                                : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
                                               SQLITE_OPEN_FULLMUTEX,
                                           nullptr);
        if (opened != SQLITE_OK) {
            throw SqliteFailure{opened, outbox_ ? sqlite3_errmsg(outbox_) : "out of memory"};
        }
        sqlite3_busy_timeout(outbox_, static_cast<int>(RecordsWaitLimit.count()));
        if (access == Access::Station) {
            PrepareOutbox(outbox_);
        }
    } catch (const SqliteFailure& failure) {
        sqlite3_close(outbox_);
        outbox_ = nullptr;
        Fail("cannot open", failure.message);
    }
    if (access == Access::Station) {
        // What a station left here while the server was gone goes first.
        Deliver();
    }
}

OutboxProductionRecords::~OutboxProductionRecords() {
    try {
        Deliver();
    } catch (const RecordsError&) {
        // Kept: the next program on this PC sends it.
    }
    sqlite3_close(outbox_);
}

void OutboxProductionRecords::Fail(const std::string& what, const std::string& cause) {
    throw RecordsError("Outbox \"" + path_ + "\" of line database \"" + server_->Address() +
                       "\": " + what + ": " + cause);
}

long OutboxProductionRecords::WaitingToSend() {
    std::lock_guard lock(mutex_);
    if (outbox_ == nullptr) {
        return 0;
    }
    try {
        SqliteStatement count(outbox_,
                              "SELECT count(*) FROM outbox WHERE server = ? AND kind = 'record'");
        count.Bind(1, server_->Address());
        count.Step();
        return static_cast<long>(count.Integer(0));
    } catch (const SqliteFailure& failure) {
        if (sqlite3_db_readonly(outbox_, "main") == 1) {
            return 0; // a report's look at an outbox no station has used yet
        }
        Fail("cannot read", failure.message);
    }
}

void OutboxProductionRecords::Keep(const Entry& entry) {
    try {
        SqliteStatement insert(outbox_, "INSERT INTO outbox (server, kind, id, time, operation, "
                                        "factory, line, station, host, ic_type, vid, pid, path, "
                                        "image_sha256, image_file, format, product_type, serial, "
                                        "verdict, duration_ms, error, stamped) VALUES "
                                        "(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
        const ProductionRecord& record = entry.record;
        insert.Bind(1, server_->Address());
        insert.Bind(2, entry.kind);
        insert.Bind(3, record.id);
        insert.Bind(4, record.time);
        insert.Bind(5, record.operation);
        insert.Bind(6, static_cast<long long>(record.factory));
        insert.Bind(7, std::string(1, record.line));
        insert.Bind(8, static_cast<long long>(record.station));
        insert.Bind(9, record.host);
        insert.Bind(10, record.icType);
        insert.Bind(11, static_cast<long long>(record.vendorId));
        insert.Bind(12, static_cast<long long>(record.productId));
        insert.Bind(13, record.devicePath);
        insert.Bind(14, record.imageSha256);
        insert.Bind(15, record.imageFile);
        insert.Bind(16, record.format);
        insert.Bind(17, record.productType);
        insert.Bind(18, record.serialNumber);
        insert.Bind(19, record.verdict);
        insert.Bind(20, record.durationMs);
        insert.Bind(21, record.error);
        insert.Bind(22, static_cast<long long>(entry.stamped ? 1 : 0));
        insert.Step();
    } catch (const SqliteFailure& failure) {
        Fail("cannot keep a record while the server is gone", failure.message);
    }
}

bool OutboxProductionRecords::Deliver() {
    std::lock_guard lock(mutex_);
    return DeliverLocked();
}

bool OutboxProductionRecords::DeliverLocked() {
    if (outbox_ == nullptr || sqlite3_db_readonly(outbox_, "main") == 1) {
        return true;
    }
    try {
        {
            // Almost always empty: a look that writes nothing and syncs nothing.
            SqliteStatement any(outbox_, "SELECT 1 FROM outbox WHERE server = ? LIMIT 1");
            any.Bind(1, server_->Address());
            if (!any.Step()) {
                return true;
            }
        }
        // Taken as a writer: another station of this PC sending the same entries waits, so
        // each goes once and in order.
        SqliteExecute(outbox_, "BEGIN IMMEDIATE");
        bool delivered = true;
        try {
            SqliteStatement select(outbox_, (std::string("SELECT seq, kind, ") + Columns +
                                             " FROM outbox WHERE server = ? ORDER BY seq")
                                                .c_str());
            select.Bind(1, server_->Address());
            while (select.Step()) {
                Entry entry;
                entry.kind = select.Text(1);
                ProductionRecord& record = entry.record;
                record.id = select.Text(2);
                record.time = select.Text(3);
                record.operation = select.Text(4);
                record.factory = static_cast<int>(select.Integer(5));
                const std::string line = select.Text(6);
                record.line = line.empty() ? '?' : line[0];
                record.station = static_cast<int>(select.Integer(7));
                record.host = select.Text(8);
                record.icType = select.Text(9);
                record.vendorId = static_cast<int>(select.Integer(10));
                record.productId = static_cast<int>(select.Integer(11));
                record.devicePath = select.Text(12);
                record.imageSha256 = select.Text(13);
                record.imageFile = select.Text(14);
                record.format = select.Text(15);
                record.productType = select.OptionalInteger(16);
                record.serialNumber = select.OptionalInteger(17);
                record.verdict = select.Text(18);
                record.durationMs = select.Integer(19);
                record.error = select.Text(20);
                entry.stamped = select.Integer(21) != 0;
                try {
                    if (entry.kind == "settle") {
                        server_->SettleSerialNumber(record.productType.value_or(0),
                                                    record.serialNumber.value_or(0), entry.stamped);
                    } else {
                        // Sent again after a lost answer, the server keeps it once (its id).
                        server_->Append(record);
                    }
                } catch (const RecordsUnreachable&) {
                    delivered = false;
                    break;
                }
                SqliteStatement remove(outbox_, "DELETE FROM outbox WHERE seq = ?");
                remove.Bind(1, select.Integer(0));
                remove.Step();
            }
        } catch (...) {
            sqlite3_exec(outbox_, "COMMIT", nullptr, nullptr, nullptr);
            throw;
        }
        SqliteExecute(outbox_, "COMMIT");
        return delivered;
    } catch (const SqliteFailure& failure) {
        Fail("cannot send what waits", failure.message);
    }
}

void OutboxProductionRecords::ProveWritable() {
    std::lock_guard lock(mutex_);
    server_->ProveWritable();
}

int OutboxProductionRecords::SettleAbandonedReservations() {
    std::lock_guard lock(mutex_);
    // A gone process's pass may still wait here: settled now, its number would count as
    // released.
    if (!DeliverLocked()) {
        return 0;
    }
    return server_->SettleAbandonedReservations();
}

void OutboxProductionRecords::Append(const ProductionRecord& record) {
    std::lock_guard lock(mutex_);
    Entry entry{"record", record, false};
    if (entry.record.id.empty()) {
        entry.record.id = NewRecordId();
    }
    if (DeliverLocked()) {
        try {
            server_->Append(entry.record);
            return;
        } catch (const RecordsUnreachable&) {
        }
    }
    Keep(entry);
}

void OutboxProductionRecords::SettleSerialNumber(int productType, int serialNumber, bool stamped) {
    std::lock_guard lock(mutex_);
    if (DeliverLocked()) {
        try {
            server_->SettleSerialNumber(productType, serialNumber, stamped);
            return;
        } catch (const RecordsUnreachable&) {
        }
    }
    Entry entry{"settle", {}, stamped};
    entry.record.productType = productType;
    entry.record.serialNumber = serialNumber;
    Keep(entry);
}

int OutboxProductionRecords::ReserveSerialNumber(int productType, int firstSerial) {
    std::lock_guard lock(mutex_);
    try {
        DeliverLocked();
        return server_->ReserveSerialNumber(productType, firstSerial);
    } catch (const RecordsUnreachable& error) {
        throw RecordsUnreachable(
            "A serial number of product type " + HexText(static_cast<unsigned>(productType), 4) +
            " needs the line database, and it cannot be reached; nothing was written. " +
            error.what());
    }
}

void OutboxProductionRecords::ClaimSerialNumber(int productType, int serialNumber) {
    std::lock_guard lock(mutex_);
    try {
        DeliverLocked();
        server_->ClaimSerialNumber(productType, serialNumber);
    } catch (const RecordsUnreachable& error) {
        throw RecordsUnreachable(
            "SN " + HexText(static_cast<unsigned>(serialNumber), 6) + " of product type " +
            HexText(static_cast<unsigned>(productType), 4) +
            " needs the line database's duplicate check, and it cannot be reached; nothing was "
            "written. " +
            error.what());
    }
}

std::vector<ProductionRecord> OutboxProductionRecords::Find(const RecordFilter& filter) {
    std::lock_guard lock(mutex_);
    DeliverLocked();
    return server_->Find(filter);
}

std::vector<WriteTally> OutboxProductionRecords::SummarizeWrites(const RecordFilter& filter) {
    std::lock_guard lock(mutex_);
    DeliverLocked();
    return server_->SummarizeWrites(filter);
}

std::vector<ProductionRecord>
OutboxProductionRecords::FindRepeatedPasses(const RecordFilter& filter) {
    std::lock_guard lock(mutex_);
    DeliverLocked();
    return server_->FindRepeatedPasses(filter);
}

std::vector<Reservation> OutboxProductionRecords::FindReservations() {
    std::lock_guard lock(mutex_);
    DeliverLocked();
    return server_->FindReservations();
}

std::vector<StationTally> OutboxProductionRecords::SummarizeStations(const RecordFilter& filter) {
    std::lock_guard lock(mutex_);
    DeliverLocked();
    return server_->SummarizeStations(filter);
}

std::vector<FailureReason> OutboxProductionRecords::CountFailureReasons(const RecordFilter& filter,
                                                                        int limit) {
    std::lock_guard lock(mutex_);
    DeliverLocked();
    return server_->CountFailureReasons(filter, limit);
}

std::vector<SerialNumberRun> OutboxProductionRecords::FindStampedRuns(const RecordFilter& filter) {
    std::lock_guard lock(mutex_);
    DeliverLocked();
    return server_->FindStampedRuns(filter);
}

void OutboxProductionRecords::StopWaiting() {
    server_->StopWaiting();
}

ImageApproval OutboxProductionRecords::ApproveImage(const ImageApproval& approval) {
    return server_->ApproveImage(approval);
}

std::vector<ImageApproval> OutboxProductionRecords::FindApprovals(std::optional<int> productType) {
    // Gone with the server, the station's check keeps its last answer for the same image.
    return server_->FindApprovals(productType);
}

} // namespace vrax
