#include "records/sqlite/SqliteProductionRecords.h"

#include "device/HexText.h"
#include "host/RemoteFileSystem.h"
#include "programming/JobOutcome.h"
#include "records/sqlite/SqliteStatement.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <thread>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace vrax {

namespace {

// The tables' indexes and functions spell the stored pass in their SQL, as stored files keep it.
static_assert(std::string_view(WritePassText) == "Write Pass");

// Version 1 kept the records alone; version 2 added the product type and the reservations;
// version 3 names who holds a reservation and indexes what the reports and reservations ask;
// version 4 keeps the approved images; version 5 settles an abandoned reservation as of unknown
// outcome, a state older programs would hand out again.
constexpr const char* CreateVersion1 = R"(
CREATE TABLE schema_version (version INTEGER NOT NULL);
CREATE TABLE records (
    id INTEGER PRIMARY KEY,
    time TEXT NOT NULL,
    operation TEXT NOT NULL,
    factory INTEGER, line TEXT, station INTEGER, host TEXT,
    ic_type TEXT, vid INTEGER, pid INTEGER, path TEXT,
    image_sha256 TEXT, image_file TEXT, format TEXT,
    serial INTEGER,
    verdict TEXT, duration_ms INTEGER, error TEXT);
CREATE INDEX records_time ON records(time);
CREATE INDEX records_serial ON records(serial);
INSERT INTO schema_version VALUES (1);
)";

constexpr const char* UpgradeTo2 = R"(
ALTER TABLE records ADD COLUMN product_type INTEGER;
CREATE TABLE serials (
    product_type INTEGER NOT NULL,
    serial INTEGER NOT NULL,
    state TEXT NOT NULL,
    time TEXT NOT NULL,
    PRIMARY KEY (product_type, serial));
UPDATE schema_version SET version = 2;
)";

// Reservations left by version 2 name no holder; SettleAbandonedReservations settles them.
constexpr const char* UpgradeTo3 = R"(
ALTER TABLE serials ADD COLUMN host TEXT;
ALTER TABLE serials ADD COLUMN process INTEGER;
ALTER TABLE serials ADD COLUMN process_start TEXT;
CREATE INDEX records_writes ON records(product_type, serial) WHERE operation = 'write';
CREATE INDEX records_passes ON records(serial, product_type, time)
    WHERE operation = 'write' AND verdict = 'Write Pass';
CREATE INDEX serials_reserved ON serials(product_type, serial) WHERE state = 'reserved';
UPDATE schema_version SET version = 3;
)";

// The key is the index the stations' one lookup per product type goes through.
constexpr const char* UpgradeTo4 = R"(
CREATE TABLE approvals (
    product_type INTEGER NOT NULL,
    image_sha256 TEXT NOT NULL,
    image_file TEXT NOT NULL,
    approver TEXT NOT NULL,
    time TEXT NOT NULL,
    PRIMARY KEY (product_type, image_sha256));
UPDATE schema_version SET version = 4;
)";

constexpr const char* UpgradeTo5 = R"(
CREATE INDEX serials_unknown ON serials(product_type, serial) WHERE state = 'unknown';
UPDATE schema_version SET version = 5;
)";

// A number on a mouse whose record was lost is listed, through its own index.
constexpr const char* UpgradeTo6 = R"(
CREATE INDEX serials_lost ON serials(product_type, serial) WHERE state = 'lost';
UPDATE schema_version SET version = 6;
)";

constexpr const char* PassWhere = "operation = 'write' AND verdict = 'Write Pass'";

// Taken as a writer from the start: a read snapshot that another process overtook could not
// be upgraded, and that refusal would not wait. Rolls back unless committed.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : db_(db) { SqliteExecute(db, "BEGIN IMMEDIATE"); }
    ~Transaction() {
        if (!done_) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit() {
        SqliteExecute(db_, "COMMIT");
        done_ = true;
    }

private:
    sqlite3* db_;
    bool done_ = false;
};

ProductionRecord RecordOfRow(const SqliteStatement& select) {
    ProductionRecord record;
    record.time = select.Text(0);
    record.operation = select.Text(1);
    record.factory = static_cast<int>(select.Integer(2));
    const std::string line = select.Text(3);
    record.line = line.empty() ? '?' : line[0];
    record.station = static_cast<int>(select.Integer(4));
    record.host = select.Text(5);
    record.icType = select.Text(6);
    record.vendorId = static_cast<int>(select.Integer(7));
    record.productId = static_cast<int>(select.Integer(8));
    record.devicePath = select.Text(9);
    record.imageSha256 = select.Text(10);
    record.imageFile = select.Text(11);
    record.format = select.Text(12);
    record.serialNumber = select.OptionalInteger(13);
    record.verdict = select.Text(14);
    record.durationMs = select.Integer(15);
    record.error = select.Text(16);
    record.productType = select.OptionalInteger(17);
    return record;
}

StationTally StationTallyOfRow(const SqliteStatement& row) {
    StationTally tally;
    tally.factory = static_cast<int>(row.Integer(0));
    const std::string line = row.Text(1);
    tally.line = line.empty() ? '?' : line[0];
    tally.station = static_cast<int>(row.Integer(2));
    tally.hour = row.Text(3);
    tally.passes = static_cast<long>(row.Integer(4));
    tally.fails = static_cast<long>(row.Integer(5));
    tally.first = row.Text(6);
    tally.last = row.Text(7);
    return tally;
}

// A report's query takes the filter as ?1 (since) and ?2 (a serial number, or NULL for all).
void BindFilter(SqliteStatement& select, const RecordFilter& filter) {
    select.Bind(1, filter.since);
    select.Bind(2, filter.serialNumber);
}

// A reservation's row: product type, serial number, the time now and its holder, as ?1 to ?6.
void BindReservation(SqliteStatement& statement, int productType, long long serialNumber,
                     const ProcessIdentity& holder) {
    statement.Bind(1, productType);
    statement.Bind(2, serialNumber);
    statement.Bind(3, UtcTimeWithMilliseconds());
    statement.Bind(4, holder.host);
    statement.Bind(5, holder.process);
    statement.Bind(6, holder.start);
}

bool Writable(const std::string& path) {
#ifdef _WIN32
    return _access(path.c_str(), 2) == 0;
#else
    return access(path.c_str(), W_OK) == 0;
#endif
}

// Which of the file and its journal files this user cannot write, when SQLite says only that
// the database is read-only.
std::string UnwritableOf(const std::string& path) {
    std::string names;
    for (const std::string& name : {path, path + "-wal", path + "-shm"}) {
        std::error_code error;
        if (std::filesystem::exists(name, error) && !Writable(name)) {
            names += (names.empty() ? "" : ", ") + ("\"" + name + "\"");
        }
    }
    return names.empty() ? names : "this user cannot write " + names;
}

// The file's size and time of its last change: a checkpoint changes both.
std::string StandingOf(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    const auto changed = std::filesystem::last_write_time(path, error);
    return error ? std::string()
                 : std::to_string(size) + "@" + std::to_string(changed.time_since_epoch().count());
}

template <typename Row, typename MakeRow>
std::vector<Row> RowsOf(SqliteStatement& select, MakeRow makeRow) {
    std::vector<Row> rows;
    while (select.Step()) {
        rows.push_back(makeRow(select));
    }
    return rows;
}

} // namespace

SqliteProductionRecords::SqliteProductionRecords(const std::string& path, Access access,
                                                 std::chrono::milliseconds waitLimit)
    : path_(path), readOnly_(access == Access::ReadOnly), self_(ThisProcess()),
      waitLimit_(waitLimit) {
    try {
        Open(access);
    } catch (...) {
        // A connection that failed to open still holds memory until it is closed.
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

SqliteProductionRecords::~SqliteProductionRecords() {
    sqlite3_close(db_);
}

void SqliteProductionRecords::Fail(const std::string& what, const std::string& cause) {
    throw RecordsError("Records \"" + path_ + "\": " + what + ": " + cause);
}

std::string SqliteProductionRecords::WaitText() const {
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - callStart_);
    char text[96];
    std::snprintf(text, sizeof text, "another program holds the file's lock (gave up after %.1f s)",
                  static_cast<double>(waited.count()) / 1000.0);
    return text;
}

std::string SqliteProductionRecords::FailureText(int code, const std::string& message) const {
    if ((code & 0xFF) == SQLITE_READONLY) {
        const std::string unwritable = UnwritableOf(path_);
        if (!unwritable.empty()) {
            return message + " (" + unwritable + ")";
        }
    }
    const bool busy = (code & 0xFF) == SQLITE_BUSY;
    return busy && gaveUp_ ? WaitText() + " (" + message + ")" : message;
}

int SqliteProductionRecords::OnBusy(void* self, int) {
    auto* store = static_cast<SqliteProductionRecords*>(self);
    const auto now = Steady::now();
    if (now >= store->deadline_ || now >= store->gate_.Stop()) {
        store->gaveUp_ = true;
        return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return 1;
}

void SqliteProductionRecords::Call(const char* what, const std::function<void()>& body) {
    const auto start = Steady::now();
    // Waits behind this program's other threads count against the same deadline.
    const CallGate::Held held = gate_.Enter(start + waitLimit_, [&](Steady::time_point now) {
        char waited[64];
        std::snprintf(waited, sizeof waited, "%.1f s",
                      std::chrono::duration<double>(now - start).count());
        // The thread ahead of this one is itself waiting, for the file's lock or its disk.
        Fail(std::string("cannot ") + what, std::string("the file stayed busy (gave up after ") +
                                                waited + "; another program may hold its lock)");
    });
    callStart_ = start;
    deadline_ = start + waitLimit_;
    gaveUp_ = false;
    try {
        body();
    } catch (const SqliteFailure& failure) {
        Fail(std::string("cannot ") + what, FailureText(failure.code, failure.message));
    }
    if (immutable_) {
        RequireUnchanged();
    }
}

void SqliteProductionRecords::StopWaiting() {
    gate_.StopWaiting();
}

void SqliteProductionRecords::RequireWritable() const {
    if (readOnly_) {
        throw RecordsError("Records \"" + path_ + "\": opened for reading only");
    }
}

void SqliteProductionRecords::Open(Access access) {
    callStart_ = Steady::now();
    deadline_ = callStart_ + waitLimit_;
    const std::filesystem::path file(path_);
    std::error_code error;
    if (access == Access::ReadOnly) {
        // A report never creates anything: a mistyped name is an error, not an empty file.
        const auto status = std::filesystem::status(file, error);
        if (!std::filesystem::exists(status)) {
            Fail("cannot open", "no such file");
        }
        if (!std::filesystem::is_regular_file(status)) {
            Fail("cannot open", "not a file");
        }
    } else {
        // Reports may read a copy on a share; a station may not write there.
        const std::string remote = RemoteFileSystemOf(path_);
        if (!remote.empty()) {
            Fail("cannot open",
                 "it is on a network file system (" + remote +
                     "), where SQLite's locking cannot be trusted and two stations could stamp "
                     "the same serial number. Keep the file on this computer's own disk, or "
                     "share the line's records through the line database: --records "
                     "postgresql://SERVER/DATABASE");
        }
        if (!file.parent_path().empty()) {
            std::filesystem::create_directories(file.parent_path(), error);
        }
    }
#ifndef _WIN32
    // On Windows the journal files inherit the folder's permissions, not their maker's mode.
    if (access == Access::ReadOnly && !std::filesystem::exists(path_ + "-wal", error) &&
        !std::filesystem::exists(path_ + "-shm", error)) {
        // No station has the file open. A reader would make the journal files, owned by this
        // user with this user's mode, and the station of another user could then not write.
        OpenImmutable();
        standing_ = StandingOf(path_);
        immutable_ = true;
        try {
            version_ = ReadVersion();
        } catch (const SqliteFailure& failure) {
            Fail("cannot open", FailureText(failure.code, failure.message));
        }
        RequireUnchanged();
        return;
    }
#endif
    const int flags = (access == Access::ReadOnly ? SQLITE_OPEN_READONLY
                                                  : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
                      SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(path_.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        Fail("cannot open", db_ ? sqlite3_errmsg(db_) : "out of memory");
    }
    sqlite3_busy_handler(db_, OnBusy, this);
    try {
        if (access == Access::ReadWrite) {
            if (sqlite3_db_readonly(db_, "main") == 1) {
                Fail("cannot write", "the file is read-only");
            }
            SwitchToWal();
            SqliteExecute(db_, "PRAGMA synchronous=FULL");
            CreateOrUpgrade();
        } else {
            try {
                version_ = ReadVersion();
            } catch (const SqliteFailure& failure) {
                // On a read-only file system SQLite cannot make the shared-memory file a WAL
                // reader needs. Nobody can write there either: with no journal left behind,
                // the file alone holds every record.
                std::error_code ignored;
                const std::string wal = path_ + "-wal";
                if ((failure.code & 0xFF) != SQLITE_CANTOPEN ||
                    (std::filesystem::exists(wal, ignored) &&
                     std::filesystem::file_size(wal, ignored) > 0)) {
                    throw;
                }
                sqlite3_close(db_);
                db_ = nullptr;
                OpenImmutable();
                version_ = ReadVersion();
            }
        }
    } catch (const SqliteFailure& failure) {
        Fail("cannot open", FailureText(failure.code, failure.message));
    }
}

void SqliteProductionRecords::OpenImmutable() {
    if (sqlite3_open_v2(SqliteImmutableUri(path_).c_str(), &db_,
                        SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        Fail("cannot open", db_ ? sqlite3_errmsg(db_) : "out of memory");
    }
}

void SqliteProductionRecords::RequireUnchanged() {
    // A station writes into its journal and the file changes only when the journal is copied
    // back: until then this read is of the file as it stood.
    if (StandingOf(path_) != standing_) {
        Fail("cannot read", "a station changed the file while it was read; run the report again");
    }
}

void SqliteProductionRecords::SwitchToWal() {
    // Switching needs the file alone: another station may hold it, or be switching too. SQLite
    // does not always wait on its own here, so the open's one deadline bounds the retries.
    for (;;) {
        std::string mode;
        const int result = sqlite3_exec(
            db_, "PRAGMA journal_mode=WAL",
            [](void* text, int, char** values, char**) {
                *static_cast<std::string*>(text) = values[0] ? values[0] : "";
                return 0;
            },
            &mode, nullptr);
        if (result == SQLITE_OK) {
            if (mode != "wal") {
                Fail("cannot open",
                     "the file cannot be put in WAL mode (its journal mode stays \"" + mode +
                         "\")");
            }
            return;
        }
        if ((result & 0xFF) != SQLITE_BUSY || Steady::now() >= deadline_) {
            gaveUp_ = gaveUp_ || (result & 0xFF) == SQLITE_BUSY;
            ThrowSqlite(db_, result);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int SqliteProductionRecords::ReadVersion() {
    {
        SqliteStatement table(db_, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                                   "name = 'schema_version'");
        table.Step();
        if (table.Integer(0) == 0) {
            SqliteStatement any(db_, "SELECT count(*) FROM sqlite_master");
            any.Step();
            if (any.Integer(0) == 0) {
                return 0; // a new, empty file
            }
            Fail("cannot open", "not a records file (it has no schema version)");
        }
    }
    SqliteStatement select(db_, "SELECT version FROM schema_version");
    std::vector<long long> versions;
    while (select.Step()) {
        versions.push_back(select.Integer(0));
    }
    if (versions.size() != 1) {
        Fail("cannot open", versions.empty() ? "its schema version is missing"
                                             : "it holds more than one schema version");
    }
    if (versions[0] > SchemaVersion) {
        Fail("cannot open",
             "made by a newer program (schema version " + std::to_string(versions[0]) + ")");
    }
    if (versions[0] < 1) {
        Fail("cannot open", "unknown schema version " + std::to_string(versions[0]));
    }
    return static_cast<int>(versions[0]);
}

void SqliteProductionRecords::CreateOrUpgrade() {
    Transaction transaction(db_);
    const int version = ReadVersion();
    if (version == 0) {
        SqliteExecute(db_, CreateVersion1);
    }
    if (version <= 1) {
        SqliteExecute(db_, UpgradeTo2);
    }
    if (version <= 2) {
        SqliteExecute(db_, UpgradeTo3);
    }
    if (version <= 3) {
        SqliteExecute(db_, UpgradeTo4);
    }
    if (version <= 4) {
        SqliteExecute(db_, UpgradeTo5);
    }
    if (version <= 5) {
        SqliteExecute(db_, UpgradeTo6);
    }
    transaction.Commit();
    version_ = SchemaVersion;
}

int SqliteProductionRecords::StoredSchemaVersion() {
    int version = 0;
    Call("read", [&] { version = ReadVersion(); });
    return version;
}

void SqliteProductionRecords::ProveWritable() {
    RequireWritable();
    // A real change committed and synced: a read-only file, a full disk or a lock held for
    // good shows here, before the first mouse. SQLite skips an update that changes nothing,
    // so the header's user version counts the stations' opens.
    Call("write", [&] {
        Transaction transaction(db_);
        long long opens = 0;
        {
            SqliteStatement select(db_, "PRAGMA user_version");
            if (select.Step()) {
                opens = select.Integer(0);
            }
        }
        SqliteExecute(
            db_, ("PRAGMA user_version = " + std::to_string((opens + 1) % 0x7FFFFFFF)).c_str());
        transaction.Commit();
    });
}

bool SqliteProductionRecords::PassedBefore(int productType, int serialNumber, std::string* where) {
    // A pass without product type (a version 1 file) counts for every product type.
    SqliteStatement select(db_,
                           std::string("SELECT time, factory, line, station, host, path FROM "
                                       "records WHERE ") +
                               PassWhere +
                               " AND serial = ?2 AND (product_type = ?1 OR product_type IS NULL)"
                               " ORDER BY id LIMIT 1");
    select.Bind(1, productType);
    select.Bind(2, serialNumber);
    if (!select.Step()) {
        return false;
    }
    if (where != nullptr) {
        const std::string line = select.Text(2);
        *where = "Write Pass on " + select.Text(0) + " at station " + select.Text(1) + "-" +
                 (line.empty() ? "?" : line) + "-" + select.Text(3) + " (host " + select.Text(4) +
                 ", " + select.Text(5) + ")";
    }
    return true;
}

int SqliteProductionRecords::SettleAbandonedReservations() {
    RequireWritable();
    int settled = 0;
    Call("settle abandoned reservations", [&] {
        Transaction transaction(db_);
        struct Row {
            int productType;
            int serialNumber;
            ProcessIdentity holder;
            bool ownerless;
        };
        std::vector<Row> rows;
        {
            SqliteStatement select(db_, "SELECT product_type, serial, host, process, process_start "
                                        "FROM serials WHERE state = 'reserved'");
            while (select.Step()) {
                rows.push_back({static_cast<int>(select.Integer(0)),
                                static_cast<int>(select.Integer(1)),
                                {select.Text(2), select.Integer(3), select.Text(4), {}},
                                !select.OptionalInteger(3).has_value()});
            }
        }
        for (const Row& row : rows) {
            if (!row.ownerless && !ProcessHasEnded(row.holder)) {
                continue;
            }
            // Without its pass the mouse may still have been written (a process killed, a
            // record the disk refused): the number is never handed out again.
            const bool stamped = PassedBefore(row.productType, row.serialNumber, nullptr);
            SqliteStatement update(db_, "UPDATE serials SET state = ?1 WHERE product_type = ?2 AND "
                                        "serial = ?3");
            update.Bind(1, std::string(stamped ? "stamped" : "unknown"));
            update.Bind(2, row.productType);
            update.Bind(3, row.serialNumber);
            update.Step();
            ++settled;
        }
        transaction.Commit();
    });
    return settled;
}

void SqliteProductionRecords::Append(const ProductionRecord& record) {
    RequireWritable();
    Call("append", [&] {
        SqliteStatement insert(db_,
                               "INSERT INTO records (time, operation, factory, line, station, "
                               "host, ic_type, vid, pid, path, image_sha256, image_file, format, "
                               "serial, verdict, duration_ms, error, product_type) VALUES "
                               "(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
        insert.Bind(1, record.time);
        insert.Bind(2, record.operation);
        insert.Bind(3, record.factory);
        insert.Bind(4, std::string(1, record.line));
        insert.Bind(5, record.station);
        insert.Bind(6, record.host);
        insert.Bind(7, record.icType);
        insert.Bind(8, record.vendorId);
        insert.Bind(9, record.productId);
        insert.Bind(10, record.devicePath);
        insert.Bind(11, record.imageSha256);
        insert.Bind(12, record.imageFile);
        insert.Bind(13, record.format);
        insert.Bind(14, record.serialNumber);
        insert.Bind(15, record.verdict);
        insert.Bind(16, record.durationMs);
        insert.Bind(17, record.error);
        insert.Bind(18, record.productType);
        Transaction transaction(db_);
        insert.Step();
        transaction.Commit();
    });
}

std::vector<ProductionRecord> SqliteProductionRecords::SelectRecords(const std::string& where,
                                                                     const RecordFilter& filter) {
    // A version 1 file, read without upgrading, has no product type.
    const std::string productType = version_ >= 2 ? "product_type" : "NULL";
    SqliteStatement select(db_,
                           "SELECT time, operation, factory, line, station, host, ic_type, vid, "
                           "pid, path, image_sha256, image_file, format, serial, verdict, "
                           "duration_ms, error, " +
                               productType + " FROM records WHERE " + where + " ORDER BY id");
    BindFilter(select, filter);
    return RowsOf<ProductionRecord>(select, RecordOfRow);
}

template <typename Row, typename MakeRow>
std::vector<Row> SqliteProductionRecords::ReadRows(const std::string& sql,
                                                   const RecordFilter& filter,
                                                   const MakeRow& makeRow) {
    std::vector<Row> rows;
    Call("read", [&] {
        SqliteStatement select(db_, sql);
        BindFilter(select, filter);
        rows = RowsOf<Row>(select, makeRow);
    });
    return rows;
}

std::vector<ProductionRecord> SqliteProductionRecords::Find(const RecordFilter& filter) {
    std::vector<ProductionRecord> records;
    Call("read",
         [&] { records = SelectRecords("time >= ?1 AND (?2 IS NULL OR serial = ?2)", filter); });
    return records;
}

std::vector<WriteTally> SqliteProductionRecords::SummarizeWrites(const RecordFilter& filter) {
    return ReadRows<WriteTally>(
        "SELECT ic_type, substr(time, 1, 13) AS hour, sum(verdict = 'Write Pass'), "
        "sum(verdict IS NOT 'Write Pass') FROM records WHERE operation = 'write' AND time >= ?1 "
        "AND (?2 IS NULL OR serial = ?2) GROUP BY ic_type, hour ORDER BY ic_type, hour",
        filter, [](const SqliteStatement& row) {
            return WriteTally{row.Text(0), row.Text(1), static_cast<long>(row.Integer(2)),
                              static_cast<long>(row.Integer(3))};
        });
}

std::vector<ProductionRecord>
SqliteProductionRecords::FindRepeatedPasses(const RecordFilter& filter) {
    std::vector<ProductionRecord> records;
    Call("read", [&] {
        const std::string productType = version_ >= 2 ? "product_type" : "NULL";
        const std::string passes = std::string("SELECT serial, ") + productType +
                                   " AS type, time FROM records WHERE " + PassWhere +
                                   " AND serial IS NOT NULL AND (?2 IS NULL OR serial = ?2)";
        // Only the serial numbers that repeat are read back, through the passes' index: the
        // same product type twice, or a pass without one beside any other.
        const std::string repeated =
            "SELECT serial FROM (" + passes +
            ") WHERE type IS NOT NULL GROUP BY serial, type HAVING count(*) > 1 AND "
            "max(time) >= ?1 UNION SELECT serial FROM (" +
            passes +
            ") GROUP BY serial HAVING sum(type IS NULL) > 0 AND count(*) > 1 AND max(time) >= ?1";
        records =
            SelectRecords(std::string(PassWhere) + " AND serial IN (" + repeated + ")", filter);
        std::stable_sort(records.begin(), records.end(),
                         [](const ProductionRecord& a, const ProductionRecord& b) {
                             return a.serialNumber < b.serialNumber;
                         });
    });
    return records;
}

std::vector<Reservation> SqliteProductionRecords::FindReservations() {
    std::vector<Reservation> reservations;
    if (version_ < 2) {
        return reservations;
    }
    Call("read", [&] {
        const std::string holder = version_ >= 3 ? "host, process" : "NULL, NULL";
        // Each state through its own index.
        const std::string columns = "SELECT product_type, serial, time, " + holder + ", state";
        SqliteStatement select(db_, columns + " FROM serials WHERE state = 'reserved' UNION ALL " +
                                        columns + " FROM serials WHERE state = 'unknown' " +
                                        "UNION ALL " + columns +
                                        " FROM serials WHERE state = 'lost' "
                                        "ORDER BY product_type, serial");
        reservations = RowsOf<Reservation>(select, [](const SqliteStatement& row) {
            const std::string state = row.Text(5);
            return Reservation{static_cast<int>(row.Integer(0)),
                               static_cast<int>(row.Integer(1)),
                               row.Text(2),
                               row.Text(3),
                               row.Integer(4),
                               state != "reserved",
                               state == "lost"};
        });
    });
    return reservations;
}

std::vector<StationTally> SqliteProductionRecords::SummarizeStations(const RecordFilter& filter) {
    return ReadRows<StationTally>("SELECT factory, line, station, substr(time, 1, 13) AS hour, "
                                  "sum(CASE WHEN verdict = 'Write Pass' THEN 1 ELSE 0 END), "
                                  "sum(CASE WHEN verdict = 'Write Pass' THEN 0 ELSE 1 END), "
                                  "min(time), max(time) FROM records "
                                  "WHERE operation = 'write' AND time >= ?1 AND "
                                  "(?2 IS NULL OR serial = ?2) "
                                  "GROUP BY factory, line, station, hour "
                                  "ORDER BY factory, line, station, hour",
                                  filter, StationTallyOfRow);
}

std::vector<FailureReason> SqliteProductionRecords::CountFailureReasons(const RecordFilter& filter,
                                                                        int limit) {
    std::vector<FailureReason> reasons;
    Call("read", [&] {
        SqliteStatement select(db_,
                               "SELECT operation, verdict, error, count(*) AS n, max(time) "
                               "FROM records WHERE time >= ?1 AND (?2 IS NULL OR serial = ?2) AND "
                               "(verdict IS NULL OR verdict NOT IN "
                               "('Write Pass', 'Verify Pass', 'Save Pass', 'Read Ok')) "
                               "GROUP BY operation, verdict, error "
                               "ORDER BY n DESC, operation, verdict, error LIMIT ?3");
        BindFilter(select, filter);
        select.Bind(3, limit);
        reasons = RowsOf<FailureReason>(select, [](const SqliteStatement& row) {
            return FailureReason{row.Text(0), row.Text(1), row.Text(2),
                                 static_cast<long>(row.Integer(3)), row.Text(4)};
        });
    });
    return reasons;
}

std::vector<SerialNumberRun> SqliteProductionRecords::FindStampedRuns(const RecordFilter& filter) {
    const std::string productType = version_ >= 2 ? "product_type" : "NULL";
    // Gaps and islands: within a run, a number less its rank is the same for every member.
    return ReadRows<SerialNumberRun>(
        "WITH passes AS (SELECT DISTINCT " + productType + " AS type, serial FROM records WHERE " +
            PassWhere +
            " AND serial IS NOT NULL AND time >= ?1 AND (?2 IS NULL OR serial = ?2)), "
            "ranked AS (SELECT type, serial, serial - row_number() OVER "
            "(PARTITION BY type ORDER BY serial) AS run FROM passes) "
            "SELECT type, min(serial) AS first, max(serial) FROM ranked "
            "GROUP BY type, run ORDER BY type NULLS LAST, first",
        filter, [](const SqliteStatement& row) {
            return SerialNumberRun{row.OptionalInteger(0), static_cast<int>(row.Integer(1)),
                                   static_cast<int>(row.Integer(2))};
        });
}

int SqliteProductionRecords::ReserveSerialNumber(int productType, int firstSerial) {
    RequireWritable();
    long long serial = 0;
    Call("reserve a serial number", [&] {
        Transaction transaction(db_);
        long long highest = -1;
        {
            // Serial numbers that windows stamped without a reservation count too, and a write
            // without product type counts for every type.
            SqliteStatement select(db_,
                                   "SELECT max(s) FROM ("
                                   " SELECT max(serial) AS s FROM serials WHERE product_type = ?1"
                                   " UNION ALL SELECT max(serial) FROM records"
                                   "  WHERE operation = 'write' AND product_type = ?1"
                                   " UNION ALL SELECT max(serial) FROM records"
                                   "  WHERE operation = 'write' AND product_type IS NULL)");
            select.Bind(1, productType);
            if (select.Step() && select.OptionalInteger(0)) {
                highest = select.Integer(0);
            }
        }
        serial = std::max<long long>(highest + 1, firstSerial);
        if (serial > LargestSerialNumber) {
            throw SqliteFailure{SQLITE_FULL, "no serial number left for product type " +
                                                 HexText(static_cast<unsigned>(productType), 4) +
                                                 ": the next one would not fit 24 bits (FFFFFF)"};
        }
        SqliteStatement insert(db_,
                               "INSERT INTO serials (product_type, serial, state, time, host, "
                               "process, process_start) VALUES (?, ?, 'reserved', ?, ?, ?, ?)");
        BindReservation(insert, productType, serial, self_);
        insert.Step();
        transaction.Commit();
    });
    return static_cast<int>(serial);
}

void SqliteProductionRecords::ClaimSerialNumber(int productType, int serialNumber) {
    RequireWritable();
    Call("reserve a serial number", [&] {
        Transaction transaction(db_);
        const std::string number = "SN " + HexText(static_cast<unsigned>(serialNumber), 6) +
                                   " of product type " +
                                   HexText(static_cast<unsigned>(productType), 4);
        const std::string nothing =
            "; nothing was written. Set \"SN\" to a serial number not yet stamped.";
        std::string where;
        if (PassedBefore(productType, serialNumber, &where)) {
            throw SqliteFailure{SQLITE_CONSTRAINT,
                                number + " is already stamped: " + where + nothing};
        }
        bool present = false;
        {
            SqliteStatement select(db_,
                                   "SELECT state, time, host, process, process_start FROM serials "
                                   "WHERE product_type = ?1 AND serial = ?2");
            select.Bind(1, productType);
            select.Bind(2, serialNumber);
            if (select.Step()) {
                present = true;
                const std::string state = select.Text(0);
                if (state == "stamped" || state == "lost") {
                    throw SqliteFailure{
                        SQLITE_CONSTRAINT,
                        number + " is already stamped (settled so on " + select.Text(1) +
                            (state == "lost" ? ", its record lost" : "") + ")" + nothing};
                }
                if (state == "unknown") {
                    throw SqliteFailure{SQLITE_CONSTRAINT,
                                        number +
                                            " may already be on a mouse: its write ended "
                                            "without a record (process " +
                                            std::to_string(select.Integer(3)) + " on host " +
                                            select.Text(2) + ", reserved " + select.Text(1) + ")" +
                                            nothing};
                }
                // Also when its process is gone: that mouse may have been written.
                if (state == "reserved") {
                    throw SqliteFailure{SQLITE_CONSTRAINT,
                                        number + " is reserved by another write (process " +
                                            std::to_string(select.Integer(3)) + " on host " +
                                            select.Text(2) + " since " + select.Text(1) + ")" +
                                            nothing};
                }
            }
        }
        SqliteStatement hold(db_, present
                                      ? "UPDATE serials SET state = 'reserved', time = ?3, "
                                        "host = ?4, process = ?5, process_start = ?6 "
                                        "WHERE product_type = ?1 AND serial = ?2"
                                      : "INSERT INTO serials (product_type, serial, state, time, "
                                        "host, process, process_start) "
                                        "VALUES (?1, ?2, 'reserved', ?3, ?4, ?5, ?6)");
        BindReservation(hold, productType, serialNumber, self_);
        hold.Step();
        transaction.Commit();
    });
}

void SqliteProductionRecords::SettleSerialNumber(int productType, int serialNumber, bool stamped) {
    RequireWritable();
    Call("settle a serial number", [&] {
        // A number of unknown outcome is never released.
        SqliteStatement update(db_, "UPDATE serials SET state = ?1 WHERE product_type = ?2 AND "
                                    "serial = ?3 AND (?1 = 'stamped' OR state = 'reserved')");
        update.Bind(1, std::string(stamped ? "stamped" : "released"));
        update.Bind(2, productType);
        update.Bind(3, serialNumber);
        Transaction transaction(db_);
        update.Step();
        transaction.Commit();
    });
}

void SqliteProductionRecords::SettleRecordLost(int productType, int serialNumber) {
    RequireWritable();
    Call("settle a serial number", [&] {
        SqliteStatement update(db_, "UPDATE serials SET state = 'lost' WHERE product_type = ?1 "
                                    "AND serial = ?2 AND state IN ('reserved', 'unknown')");
        update.Bind(1, productType);
        update.Bind(2, serialNumber);
        Transaction transaction(db_);
        update.Step();
        transaction.Commit();
    });
}

namespace {

ImageApproval ApprovalOfRow(const SqliteStatement& select) {
    return {static_cast<int>(select.Integer(0)), select.Text(1), select.Text(2), select.Text(3),
            select.Text(4)};
}

constexpr const char* ApprovalColumns =
    "SELECT product_type, image_sha256, image_file, approver, time FROM approvals ";

} // namespace

ImageApproval SqliteProductionRecords::ApproveImage(const ImageApproval& approval) {
    RequireWritable();
    ImageApproval stored;
    Call("approve an image", [&] {
        Transaction transaction(db_);
        {
            SqliteStatement insert(db_,
                                   "INSERT OR IGNORE INTO approvals (product_type, image_sha256, "
                                   "image_file, approver, time) VALUES (?, ?, ?, ?, ?)");
            insert.Bind(1, approval.productType);
            insert.Bind(2, approval.imageSha256);
            insert.Bind(3, approval.imageFile);
            insert.Bind(4, approval.approver);
            insert.Bind(5, UtcTimeWithMilliseconds());
            insert.Step();
        }
        SqliteStatement select(db_, std::string(ApprovalColumns) +
                                        "WHERE product_type = ?1 AND image_sha256 = ?2");
        select.Bind(1, approval.productType);
        select.Bind(2, approval.imageSha256);
        select.Step();
        stored = ApprovalOfRow(select);
        transaction.Commit();
    });
    return stored;
}

std::vector<ImageApproval> SqliteProductionRecords::FindApprovals(std::optional<int> productType) {
    std::vector<ImageApproval> approvals;
    // A file of an older program, read without upgrading, has none.
    if (version_ < 4) {
        return approvals;
    }
    Call("read the approved images", [&] {
        // One product type's goes through the key's index.
        SqliteStatement select(db_, std::string(ApprovalColumns) +
                                        (productType ? "WHERE product_type = ?1 " : "") +
                                        "ORDER BY product_type, rowid");
        if (productType) {
            select.Bind(1, *productType);
        }
        while (select.Step()) {
            approvals.push_back(ApprovalOfRow(select));
        }
    });
    return approvals;
}

} // namespace vrax
