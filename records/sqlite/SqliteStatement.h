#pragma once

#include <sqlite3.h>

#include <cstdio>

#include <optional>
#include <string>

namespace vrax {

// An error of SQLite's, with its code, before the store adds the file and the call to it.
struct SqliteFailure {
    int code;
    std::string message;
};

[[noreturn]] inline void ThrowSqlite(sqlite3* db, int code) {
    throw SqliteFailure{code, sqlite3_errmsg(db)};
}

// One prepared statement, finalized by scope; every failure throws SqliteFailure.
class SqliteStatement {
public:
    SqliteStatement(sqlite3* db, const std::string& sql) : db_(db) {
        const int result = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement_, nullptr);
        if (result != SQLITE_OK) {
            ThrowSqlite(db, result);
        }
    }
    ~SqliteStatement() { sqlite3_finalize(statement_); }
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    void Bind(int index, const std::string& text) {
        sqlite3_bind_text(statement_, index, text.c_str(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
    }
    void Bind(int index, long long value) { sqlite3_bind_int64(statement_, index, value); }
    void Bind(int index, int value) { sqlite3_bind_int64(statement_, index, value); }
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
            ThrowSqlite(db_, result);
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

inline void SqliteExecute(sqlite3* db, const char* sql) {
    const int result = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (result != SQLITE_OK) {
        ThrowSqlite(db, result);
    }
}

// A read that leaves nothing beside the file: without a station's journal files, a reader of a
// WAL file would make them, owned by its user with its user's mode, and a station of another
// user could then no longer write. Only while no station has the file open (no -wal, no -shm).
inline std::string SqliteImmutableUri(const std::string& path) {
    std::string uri = "file:";
    for (const char c : path) {
        if (c == '%' || c == '?' || c == '#') {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned>(c));
            uri += escaped;
        } else {
            uri += c == '\\' ? '/' : c;
        }
    }
    return uri + "?immutable=1";
}

} // namespace vrax
