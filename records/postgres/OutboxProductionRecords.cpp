#include "records/postgres/OutboxProductionRecords.h"

#include "device/HexText.h"
#include "records/RecordsLocation.h"
#include "records/SerialNumberHold.h"
#include "records/Utf8Text.h"
#include "records/sqlite/SqliteStatement.h"

#include <chrono>
#include <filesystem>
#include <initializer_list>
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
    stamped INTEGER,
    reason TEXT);
CREATE INDEX IF NOT EXISTS outbox_server ON outbox(server, seq);
CREATE TABLE IF NOT EXISTS sender (
    one INTEGER PRIMARY KEY CHECK (one = 1),
    holder TEXT NOT NULL,
    until INTEGER NOT NULL);
INSERT OR IGNORE INTO sender VALUES (1, '', 0);
CREATE TABLE IF NOT EXISTS high_marks (
    server TEXT NOT NULL,
    product_type INTEGER NOT NULL,
    serial INTEGER NOT NULL,
    time TEXT NOT NULL,
    PRIMARY KEY (server, product_type));
)";

constexpr const char* Columns =
    "id, time, operation, factory, line, station, host, ic_type, vid, pid, path, image_sha256, "
    "image_file, format, product_type, serial, verdict, duration_ms, error, stamped";

// Short enough that the file's write lock is never held long.
constexpr long long BatchSize = 32;

// Whether the outbox can set entries aside: an earlier version's file cannot until a station
// opens it.
bool HasReasons(sqlite3* db) {
    SqliteStatement column(
        db, "SELECT count(*) FROM pragma_table_info('outbox') WHERE name = 'reason'");
    column.Step();
    return column.Integer(0) > 0;
}

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
            break;
        }
        if ((result & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline) {
            ThrowSqlite(db, result);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!HasReasons(db)) {
        const int result = sqlite3_exec(db, "ALTER TABLE outbox ADD COLUMN reason TEXT", nullptr,
                                        nullptr, nullptr);
        // Another station may have added it meanwhile.
        if (result != SQLITE_OK && !HasReasons(db)) {
            ThrowSqlite(db, result);
        }
    }
}

} // namespace

// A record, or a serial number's settling (kind "settle": productType, serialNumber, stamped;
// kind "settle-lost": a passed mouse's number whose record was lost).
struct OutboxProductionRecords::Entry {
    std::string kind;
    ProductionRecord record;
    bool stamped = false;
};

struct OutboxProductionRecords::Queued {
    long long seq = 0;
    Entry entry;
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
        // A report leaves no journal files of its user's beside a station's outbox.
        bool immutable = false;
#ifndef _WIN32
        immutable = access == Access::Report && !std::filesystem::exists(path_ + "-wal", error) &&
                    !std::filesystem::exists(path_ + "-shm", error);
#endif
        const int opened = sqlite3_open_v2(
            immutable ? SqliteImmutableUri(path_).c_str() : path_.c_str(), &outbox_,
            (access == Access::Report ? SQLITE_OPEN_READONLY
                                      : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
                SQLITE_OPEN_FULLMUTEX | (immutable ? SQLITE_OPEN_URI : 0),
            nullptr);
        if (opened != SQLITE_OK) {
            throw SqliteFailure{opened, outbox_ ? sqlite3_errmsg(outbox_) : "out of memory"};
        }
        sqlite3_busy_timeout(outbox_, static_cast<int>(RecordsWaitLimit.count()));
        if (access == Access::Station) {
            turn_ = std::make_unique<ProcessFileLock>(path_ + ".sending");
            PrepareOutbox(outbox_);
            AdoptEarlierKeys();
        }
        reasons_ = HasReasons(outbox_);
    } catch (const SqliteFailure& failure) {
        sqlite3_close(outbox_);
        outbox_ = nullptr;
        Fail("cannot open", failure.message);
    }
    if (access == Access::Station) {
        // What a station left here while the server was gone goes first.
        Deliver();
        CompareMemory();
    }
}

// The highest number of each product type this PC saw committed on the server: a server that
// knows less was restored from an older backup, and would hand those numbers out again.
std::optional<OutboxProductionRecords::Mark> OutboxProductionRecords::Remembered(int productType) {
    std::lock_guard lock(mutex_);
    try {
        SqliteStatement select(
            outbox_, "SELECT serial, time FROM high_marks WHERE server = ? AND product_type = ?");
        select.Bind(1, server_->Server());
        select.Bind(2, productType);
        if (select.Step()) {
            return Mark{productType, static_cast<int>(select.Integer(0)), select.Text(1)};
        }
    } catch (const SqliteFailure&) {
        // Unread, the memory checks nothing this time; the server still hands out each number once.
    }
    return std::nullopt;
}

// seen: the server's time of taking it. A number below it handed out later, after the server
// went back in time, is on two mice.
void OutboxProductionRecords::Remember(int productType, int serialNumber, const std::string& seen) {
    std::lock_guard lock(mutex_);
    try {
        SqliteStatement remember(
            outbox_, "INSERT INTO high_marks VALUES (?1, ?2, ?3, ?4) ON CONFLICT DO UPDATE SET "
                     "time = iif(excluded.serial >= serial, excluded.time, time), "
                     "serial = max(serial, excluded.serial)");
        remember.Bind(1, server_->Server());
        remember.Bind(2, productType);
        remember.Bind(3, serialNumber);
        remember.Bind(4, seen);
        remember.Step();
    } catch (const SqliteFailure&) {
        // The server holds the number; only a later restore would go unnoticed.
    }
}

void OutboxProductionRecords::CompareMemory() {
    std::vector<Mark> marks;
    try {
        std::lock_guard lock(mutex_);
        SqliteStatement select(
            outbox_, "SELECT product_type, serial, time FROM high_marks WHERE server = ?");
        select.Bind(1, server_->Server());
        while (select.Step()) {
            marks.push_back(Mark{static_cast<int>(select.Integer(0)),
                                 static_cast<int>(select.Integer(1)), select.Text(2)});
        }
    } catch (const SqliteFailure&) {
        return; // each reservation compares again
    }
    try {
        for (const Mark& mark : marks) {
            if (server_->HighestSerialNumber(mark.productType) < mark.serialNumber) {
                server_->ReportRestore(mark.productType, mark.serialNumber, mark.time);
            }
        }
    } catch (const RecordsError&) {
        // Each reservation compares again.
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

// Earlier versions kept entries under the address as it was spelled, later ones under
// "host:port/database"; this one under the server's identity.
void OutboxProductionRecords::AdoptEarlierKeys() {
    std::vector<std::string> spelled;
    {
        SqliteStatement keys(outbox_, "SELECT DISTINCT server FROM outbox WHERE server LIKE "
                                      "'%://%' OR server LIKE '%=%'");
        while (keys.Step()) {
            spelled.push_back(keys.Text(0));
        }
    }
    for (const std::string& address : spelled) {
        const std::string server = PostgresProductionRecords::ServerOfAddress(address);
        if (!server.empty()) {
            SqliteStatement adopt(outbox_, "UPDATE outbox SET server = ? WHERE server = ?");
            adopt.Bind(1, server);
            adopt.Bind(2, address);
            adopt.Step();
        }
    }
    // Then under "host:port/database": what reached this server under that spelling is the
    // server's, now known by its own identity.
    if (server_->Server() != server_->ServerAddressKey()) {
        SqliteStatement adopt(outbox_, "UPDATE outbox SET server = ? WHERE server = ?");
        adopt.Bind(1, server_->Server());
        adopt.Bind(2, server_->ServerAddressKey());
        adopt.Step();
    }
}

long OutboxProductionRecords::WaitingToSend() {
    Deliver(true);
    std::lock_guard lock(mutex_);
    // What a deleted file held goes with this process: the error that stopped it named them.
    if (outbox_ == nullptr || Moved()) {
        return 0;
    }
    try {
        SqliteStatement count(outbox_,
                              std::string("SELECT count(*) FROM outbox WHERE kind = 'record'") +
                                  (reasons_ ? " AND reason IS NULL" : ""));
        count.Step();
        return static_cast<long>(count.Integer(0));
    } catch (const SqliteFailure& failure) {
        if (sqlite3_db_readonly(outbox_, "main") == 1) {
            return 0; // a report's look at an outbox no station has used yet
        }
        Fail("cannot read", failure.message);
    }
}

std::vector<std::string> OutboxProductionRecords::SetAside() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> lines;
    if (outbox_ == nullptr || !reasons_) {
        return lines;
    }
    try {
        SqliteStatement rows(outbox_, "SELECT kind, path, product_type, serial, verdict, error, "
                                      "stamped, time, reason FROM outbox WHERE reason IS NOT NULL "
                                      "ORDER BY seq");
        while (rows.Step()) {
            ProductionRecord record;
            record.devicePath = rows.Text(1);
            record.productType = rows.OptionalInteger(2);
            record.serialNumber = rows.OptionalInteger(3);
            record.verdict = rows.Text(4);
            record.error = rows.Text(5);
            const std::string kind = rows.Text(0);
            const std::string what =
                kind == "settle" || kind == "settle-lost"
                    ? "SN " + record.SerialText() + " of product type " +
                          HexText(static_cast<unsigned>(record.productType.value_or(0)), 4) +
                          (kind == "settle-lost"  ? " on a mouse, record lost"
                           : rows.Integer(6) != 0 ? " stamped"
                                                  : " released")
                    : MouseOfRecord(record) + "  " + rows.Text(7);
            lines.push_back(what + ": " + rows.Text(8));
        }
    } catch (const SqliteFailure& failure) {
        Fail("cannot read", failure.message);
    }
    return lines;
}

// A file deleted or replaced under an open connection takes what is written to it nowhere.
bool OutboxProductionRecords::Moved() {
    int moved = 0;
    return sqlite3_file_control(outbox_, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK &&
           moved != 0;
}

std::string OutboxProductionRecords::LostMice() {
    SqliteStatement rows(outbox_, "SELECT path, product_type, serial, verdict, error FROM outbox "
                                  "WHERE kind = 'record' AND reason IS NULL ORDER BY seq");
    std::string mice;
    while (rows.Step()) {
        ProductionRecord record;
        record.devicePath = rows.Text(0);
        record.productType = rows.OptionalInteger(1);
        record.serialNumber = rows.OptionalInteger(2);
        record.verdict = rows.Text(3);
        record.error = rows.Text(4);
        mice += "\n  " + MouseOfRecord(record);
    }
    return mice.empty() ? "no record waited in it"
                        : "the records of these mice waited in it, not sent to the line "
                          "database:" +
                              mice;
}

void OutboxProductionRecords::Keep(const Entry& entry) {
    std::lock_guard lock(mutex_);
    try {
        if (Moved()) {
            Fail("was deleted or replaced while this station used it; it cannot keep this "
                 "record",
                 LostMice());
        }
        SqliteStatement insert(outbox_, "INSERT INTO outbox (server, kind, id, time, operation, "
                                        "factory, line, station, host, ic_type, vid, pid, path, "
                                        "image_sha256, image_file, format, product_type, serial, "
                                        "verdict, duration_ms, error, stamped) VALUES "
                                        "(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
        const ProductionRecord& record = entry.record;
        insert.Bind(1, server_->Server());
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

bool OutboxProductionRecords::AnyWaiting() {
    std::lock_guard lock(mutex_);
    // Almost always empty: a look that writes nothing and syncs nothing.
    SqliteStatement any(outbox_,
                        "SELECT 1 FROM outbox WHERE server = ? AND reason IS NULL LIMIT 1");
    any.Bind(1, server_->Server());
    return any.Step();
}

// The stations of this PC take turns: each entry goes once and in order. An earlier version's
// turn, a lease in the file's sender table, is not looked at: a clock moved ahead kept it.
bool OutboxProductionRecords::TakeTurn() {
    return turn_ && turn_->TryLock();
}

void OutboxProductionRecords::EndTurn() {
    if (turn_) {
        turn_->Unlock();
    }
}

std::vector<OutboxProductionRecords::Queued> OutboxProductionRecords::NextBatch() {
    std::lock_guard lock(mutex_);
    SqliteStatement select(outbox_, std::string("SELECT seq, kind, ") + Columns +
                                        " FROM outbox WHERE server = ? AND reason IS NULL "
                                        "ORDER BY seq LIMIT ?");
    select.Bind(1, server_->Server());
    select.Bind(2, BatchSize);
    std::vector<Queued> batch;
    while (select.Step()) {
        Queued& queued = batch.emplace_back();
        queued.seq = select.Integer(0);
        queued.entry.kind = select.Text(1);
        ProductionRecord& record = queued.entry.record;
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
        queued.entry.stamped = select.Integer(21) != 0;
    }
    return batch;
}

void OutboxProductionRecords::Send(const Entry& entry) {
    if (entry.kind == "settle-lost") {
        server_->SettleRecordLost(entry.record.productType.value_or(0),
                                  entry.record.serialNumber.value_or(0));
    } else if (entry.kind == "settle") {
        server_->SettleSerialNumber(entry.record.productType.value_or(0),
                                    entry.record.serialNumber.value_or(0), entry.stamped);
    } else {
        // Sent again after a lost answer, the server keeps it once (its id).
        server_->Append(entry.record);
    }
}

// Sent entries leave the file; refused ones stay, set aside with the server's reason.
void OutboxProductionRecords::Done(const std::vector<std::pair<long long, std::string>>& done) {
    std::lock_guard lock(mutex_);
    SqliteExecute(outbox_, "BEGIN IMMEDIATE");
    try {
        for (const auto& [seq, reason] : done) {
            if (reason.empty()) {
                SqliteStatement remove(outbox_, "DELETE FROM outbox WHERE seq = ?");
                remove.Bind(1, seq);
                remove.Step();
            } else {
                SqliteStatement aside(outbox_, "UPDATE outbox SET reason = ? WHERE seq = ?");
                aside.Bind(1, reason);
                aside.Bind(2, seq);
                aside.Step();
            }
        }
        SqliteExecute(outbox_, "COMMIT");
    } catch (...) {
        sqlite3_exec(outbox_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

bool OutboxProductionRecords::Deliver(bool waitForTurn) {
    if (outbox_ == nullptr || sqlite3_db_readonly(outbox_, "main") == 1) {
        return true;
    }
    std::unique_lock turn(sending_, std::defer_lock);
    const auto deadline = std::chrono::steady_clock::now() + RecordsWaitLimit;
    try {
        for (;;) {
            if (!AnyWaiting()) {
                return true;
            }
            // While another thread or station of this PC sends, what this one has goes behind.
            while (!(turn.owns_lock() || turn.try_lock()) || !TakeTurn()) {
                if (!waitForTurn || std::chrono::steady_clock::now() >= deadline) {
                    return false;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                if (!AnyWaiting()) {
                    return true;
                }
            }
            bool delivered = true;
            try {
                while (delivered) {
                    const std::vector<Queued> batch = NextBatch();
                    if (batch.empty()) {
                        break;
                    }
                    std::vector<std::pair<long long, std::string>> done;
                    for (const Queued& queued : batch) {
                        try {
                            Send(queued.entry);
                            done.emplace_back(queued.seq, "");
                        } catch (const RecordsUnreachable&) {
                            delivered = false;
                            break;
                        } catch (const RecordRefused& refused) {
                            done.emplace_back(queued.seq, refused.what());
                        }
                    }
                    Done(done);
                }
            } catch (...) {
                EndTurn();
                throw;
            }
            EndTurn();
            if (!delivered) {
                return false;
            }
            // Another look: what was kept behind this turn as it ended goes too.
        }
    } catch (const SqliteFailure& failure) {
        Fail("cannot send what waits", failure.message);
    }
}

void OutboxProductionRecords::ProveWritable() {
    server_->ProveWritable();
}

void OutboxProductionRecords::ProveStation(int factory, char line, int station) {
    try {
        server_->ProveStation(factory, line, station);
    } catch (const RecordsUnreachable&) {
        // The records wait here meanwhile; one the server then refuses is set aside.
    }
}

int OutboxProductionRecords::SettleAbandonedReservations() {
    // A gone process's pass may still wait here: settled now, its number would count as
    // released.
    if (!Deliver()) {
        return 0;
    }
    return server_->SettleAbandonedReservations();
}

void OutboxProductionRecords::Append(const ProductionRecord& record) {
    Entry entry{"record", record, false};
    if (entry.record.id.empty()) {
        entry.record.id = NewRecordId();
    }
    // The server takes UTF-8 only, whatever the system handed the station.
    ProductionRecord& text = entry.record;
    for (std::string* field :
         {&text.time, &text.operation, &text.host, &text.icType, &text.devicePath, &text.imageFile,
          &text.format, &text.verdict, &text.error}) {
        *field = Utf8OfPlatformText(*field);
    }
    if (Deliver()) {
        try {
            server_->Append(entry.record);
            return;
        } catch (const RecordsUnreachable&) {
        }
    }
    Keep(entry);
}

void OutboxProductionRecords::SettleSerialNumber(int productType, int serialNumber, bool stamped) {
    if (Deliver()) {
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

void OutboxProductionRecords::SettleRecordLost(int productType, int serialNumber) {
    if (Deliver()) {
        try {
            server_->SettleRecordLost(productType, serialNumber);
            return;
        } catch (const RecordsUnreachable&) {
        }
    }
    Entry entry{"settle-lost", {}, true};
    entry.record.productType = productType;
    entry.record.serialNumber = serialNumber;
    Keep(entry);
}

int OutboxProductionRecords::ReserveSerialNumber(int productType, int firstSerial) {
    try {
        Deliver();
        std::string takenAt;
        const int serialNumber = server_->ReserveSerialNumber(productType, firstSerial, &takenAt);
        // Stations and gang threads of this PC reserve at once, so a number below what this PC
        // saw may be new all the same; the server's own highest number tells.
        if (const std::optional<Mark> seen = Remembered(productType);
            seen && serialNumber <= seen->serialNumber &&
            server_->HighestSerialNumber(productType) < seen->serialNumber) {
            // Held as reserved: settled as of unknown outcome once this process ends.
            try {
                server_->ReportRestore(productType, seen->serialNumber, seen->time);
            } catch (const RecordsError&) {
                // This PC refuses it all the same.
            }
            throw RecordsError(
                "Line database \"" + server_->Address() + "\" handed out SN " +
                HexText(static_cast<unsigned>(serialNumber), 6) + " of product type " +
                HexText(static_cast<unsigned>(productType), 4) + ", but this PC saw up to SN " +
                HexText(static_cast<unsigned>(seen->serialNumber), 6) +
                " taken there: it went back in time (restored from a backup?). No serial number "
                "is handed out until its owner acknowledges it (records --acknowledge-restore); "
                "nothing was written.");
        }
        Remember(productType, serialNumber, takenAt);
        return serialNumber;
    } catch (const RecordsUnreachable& error) {
        throw RecordsUnreachable(
            "A serial number of product type " + HexText(static_cast<unsigned>(productType), 4) +
            " needs the line database, and it cannot be reached; nothing was written. " +
            error.what());
    }
}

void OutboxProductionRecords::ClaimSerialNumber(int productType, int serialNumber) {
    try {
        Deliver();
        std::string takenAt;
        server_->ClaimSerialNumber(productType, serialNumber, &takenAt);
        Remember(productType, serialNumber, takenAt);
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
    Deliver();
    return server_->Find(filter);
}

std::vector<WriteTally> OutboxProductionRecords::SummarizeWrites(const RecordFilter& filter) {
    Deliver();
    return server_->SummarizeWrites(filter);
}

std::vector<ProductionRecord>
OutboxProductionRecords::FindRepeatedPasses(const RecordFilter& filter) {
    Deliver();
    return server_->FindRepeatedPasses(filter);
}

std::vector<std::string> OutboxProductionRecords::RestoreFindings() {
    return server_->RestoreFindings();
}

std::vector<ProductionRecord> OutboxProductionRecords::PassesInRestoreGaps() {
    return server_->PassesInRestoreGaps();
}

std::vector<std::string> OutboxProductionRecords::AcknowledgeRestores() {
    return server_->AcknowledgeRestores();
}

std::vector<Reservation> OutboxProductionRecords::FindReservations() {
    Deliver();
    return server_->FindReservations();
}

std::vector<StationTally> OutboxProductionRecords::SummarizeStations(const RecordFilter& filter) {
    Deliver();
    return server_->SummarizeStations(filter);
}

std::vector<FailureReason> OutboxProductionRecords::CountFailureReasons(const RecordFilter& filter,
                                                                        int limit) {
    Deliver();
    return server_->CountFailureReasons(filter, limit);
}

std::vector<SerialNumberRun> OutboxProductionRecords::FindStampedRuns(const RecordFilter& filter) {
    Deliver();
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
