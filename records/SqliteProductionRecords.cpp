#include "records/SqliteProductionRecords.h"

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>

namespace vrax {

namespace {

// Version 1 kept the records alone; version 2 adds the product type and the reservations.
constexpr const char* CreateVersion1 = R"(
CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS records (
    id INTEGER PRIMARY KEY,
    time TEXT NOT NULL,
    operation TEXT NOT NULL,
    factory INTEGER, line TEXT, station INTEGER, host TEXT,
    ic_type TEXT, vid INTEGER, pid INTEGER, path TEXT,
    image_sha256 TEXT, image_file TEXT, format TEXT,
    serial INTEGER,
    verdict TEXT, duration_ms INTEGER, error TEXT);
CREATE INDEX IF NOT EXISTS records_time ON records(time);
CREATE INDEX IF NOT EXISTS records_serial ON records(serial);
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

class Statement {
public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) {
            throw RecordsError(sqlite3_errmsg(db));
        }
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void Bind(int index, const std::string& text) {
        sqlite3_bind_text(statement_, index, text.c_str(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
    }
    void Bind(int index, long long value) { sqlite3_bind_int64(statement_, index, value); }
    void Bind(int index, const std::optional<int>& value) {
        if (value) {
            sqlite3_bind_int64(statement_, index, *value);
        } else {
            sqlite3_bind_null(statement_, index);
        }
    }
    // True while a row is there.
    bool Step() {
        const int result = sqlite3_step(statement_);
        if (result == SQLITE_ROW) {
            return true;
        }
        if (result != SQLITE_DONE) {
            throw RecordsError(sqlite3_errmsg(db_));
        }
        return false;
    }
    std::string Text(int column) const {
        const auto* text = sqlite3_column_text(statement_, column);
        return text ? reinterpret_cast<const char*>(text) : "";
    }
    long long Integer(int column) const { return sqlite3_column_int64(statement_, column); }
    std::optional<int> OptionalInteger(int column) const {
        if (sqlite3_column_type(statement_, column) == SQLITE_NULL) {
            return std::nullopt;
        }
        return static_cast<int>(sqlite3_column_int64(statement_, column));
    }

private:
    sqlite3* db_;
    sqlite3_stmt* statement_ = nullptr;
};

// Rolls back unless committed, so a throw in the middle leaves the store as it was.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : db_(db) {
        if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
            throw RecordsError(sqlite3_errmsg(db));
        }
    }
    ~Transaction() {
        if (!done_) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit() {
        if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            throw RecordsError(sqlite3_errmsg(db_));
        }
        done_ = true;
    }

private:
    sqlite3* db_;
    bool done_ = false;
};

} // namespace

SqliteProductionRecords::SqliteProductionRecords(const std::string& path) : path_(path) {
    std::error_code ignored;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, ignored);
    }
    // A connection that failed to open still holds memory until it is closed.
    try {
        if (sqlite3_open_v2(path.c_str(), &db_,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                            nullptr) != SQLITE_OK) {
            Fail("cannot open");
        }
        // Stations sharing the file wait for each other's short transactions.
        sqlite3_busy_timeout(db_, 30000);
        // Switching a new file to WAL needs it alone; another station may be doing the same.
        for (int attempt = 0;
             sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr) == SQLITE_BUSY;
             ++attempt) {
            if (attempt == 3000) {
                Fail("cannot switch to WAL");
            }
            sqlite3_sleep(10);
        }
        Execute("PRAGMA synchronous=FULL");
        Upgrade();
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

SqliteProductionRecords::~SqliteProductionRecords() {
    sqlite3_close(db_);
}

void SqliteProductionRecords::Execute(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        throw RecordsError("Records \"" + path_ + "\": " + text);
    }
}

void SqliteProductionRecords::Fail(const std::string& what) {
    const std::string text = db_ ? sqlite3_errmsg(db_) : "out of memory";
    throw RecordsError("Records \"" + path_ + "\": " + what + ": " + text);
}

int SqliteProductionRecords::StoredSchemaVersion() {
    std::lock_guard lock(mutex_);
    Statement select(db_, "SELECT version FROM schema_version");
    return select.Step() ? static_cast<int>(select.Integer(0)) : 0;
}

void SqliteProductionRecords::Upgrade() {
    try {
        Transaction transaction(db_);
        Execute(CreateVersion1);
        int version = 0;
        {
            Statement select(db_, "SELECT version FROM schema_version");
            if (select.Step()) {
                version = static_cast<int>(select.Integer(0));
            } else {
                Execute("INSERT INTO schema_version VALUES (1)");
                version = 1;
            }
        }
        if (version > SchemaVersion) {
            throw RecordsError("made by a newer program (schema version " +
                               std::to_string(version) + ")");
        }
        if (version == 1) {
            Execute(UpgradeTo2);
        }
        transaction.Commit();
    } catch (const RecordsError& error) {
        const std::string text = error.what();
        if (text.rfind("Records \"", 0) == 0) {
            throw;
        }
        throw RecordsError("Records \"" + path_ + "\": " + text);
    }
}

void SqliteProductionRecords::Append(const ProductionRecord& record) {
    std::lock_guard lock(mutex_);
    try {
        Statement insert(db_, "INSERT INTO records (time, operation, factory, line, station, host, "
                              "ic_type, vid, pid, path, image_sha256, image_file, format, serial, "
                              "verdict, duration_ms, error, product_type) VALUES "
                              "(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
        insert.Bind(1, record.time);
        insert.Bind(2, record.operation);
        insert.Bind(3, static_cast<long long>(record.factory));
        insert.Bind(4, std::string(1, record.line));
        insert.Bind(5, static_cast<long long>(record.station));
        insert.Bind(6, record.host);
        insert.Bind(7, record.icType);
        insert.Bind(8, static_cast<long long>(record.vendorId));
        insert.Bind(9, static_cast<long long>(record.productId));
        insert.Bind(10, record.devicePath);
        insert.Bind(11, record.imageSha256);
        insert.Bind(12, record.imageFile);
        insert.Bind(13, record.format);
        insert.Bind(14, record.serialNumber);
        insert.Bind(15, record.verdict);
        insert.Bind(16, record.durationMs);
        insert.Bind(17, record.error);
        insert.Bind(18, record.productType);
        // Taken as a writer from the start: a read snapshot that another process overtook
        // could not be upgraded, and that refusal would not wait.
        Transaction transaction(db_);
        insert.Step();
        transaction.Commit();
    } catch (const RecordsError& error) {
        throw RecordsError("Records \"" + path_ + "\": cannot append: " + error.what());
    }
}

std::vector<ProductionRecord> SqliteProductionRecords::Find(const RecordFilter& filter) {
    std::lock_guard lock(mutex_);
    std::vector<ProductionRecord> records;
    try {
        Statement select(db_, "SELECT time, operation, factory, line, station, host, ic_type, vid, "
                              "pid, path, image_sha256, image_file, format, serial, verdict, "
                              "duration_ms, error, product_type FROM records "
                              "WHERE time >= ?1 AND (?2 IS NULL OR serial = ?2) ORDER BY id");
        select.Bind(1, filter.since);
        select.Bind(2, filter.serialNumber);
        while (select.Step()) {
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
            records.push_back(std::move(record));
        }
    } catch (const RecordsError& error) {
        throw RecordsError("Records \"" + path_ + "\": cannot read: " + error.what());
    }
    return records;
}

int SqliteProductionRecords::ReserveSerialNumber(int productType, int firstSerial) {
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    long long highest = -1;
    {
        // Serial numbers that windows stamped without a reservation count too.
        Statement select(db_, "SELECT MAX(s) FROM ("
                              " SELECT MAX(serial) AS s FROM serials WHERE product_type = ?1"
                              " UNION ALL SELECT MAX(serial) FROM records"
                              " WHERE operation = 'write' AND product_type = ?1)");
        select.Bind(1, static_cast<long long>(productType));
        if (select.Step() && select.OptionalInteger(0)) {
            highest = select.Integer(0);
        }
    }
    const long long serial = std::max<long long>(highest + 1, firstSerial);
    if (serial > LargestSerialNumber) {
        throw RecordsError("no serial number left for product type " + std::to_string(productType) +
                           ": the next one would not fit 24 bits (FFFFFF)");
    }
    Statement insert(db_, "INSERT INTO serials VALUES (?, ?, 'reserved', ?)");
    insert.Bind(1, static_cast<long long>(productType));
    insert.Bind(2, serial);
    insert.Bind(3, UtcTimeWithMilliseconds());
    insert.Step();
    transaction.Commit();
    return static_cast<int>(serial);
}

void SqliteProductionRecords::SettleSerialNumber(int productType, int serialNumber, bool stamped) {
    std::lock_guard lock(mutex_);
    Statement update(db_, "UPDATE serials SET state = ? WHERE product_type = ? AND serial = ?");
    update.Bind(1, std::string(stamped ? "stamped" : "released"));
    update.Bind(2, static_cast<long long>(productType));
    update.Bind(3, static_cast<long long>(serialNumber));
    Transaction transaction(db_);
    update.Step();
    transaction.Commit();
}

} // namespace vrax
