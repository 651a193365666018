#include "records/PostgresProductionRecords.h"

#include "device/HexText.h"
#include "records/RecordsLocation.h"
#include "records/RecordsReport.h"

#include <libpq-fe.h>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#endif

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace vrax {

namespace {

// Keys of pg_advisory_xact_lock: the schema's creation, and one lock per product type for the
// serial numbers, so two stations never take the same number and nothing else waits.
constexpr int LockSpace = 0x56524158; // "VRAX"
constexpr int SchemaLock = -1;

// The owner's tables and what each role may do with them: stations add records, reserve and
// settle serial numbers and read approvals; they never change or delete a record.
constexpr const char* CreateVersion1 = R"(
CREATE TABLE vrax_schema (version integer NOT NULL);
INSERT INTO vrax_schema VALUES (1);
CREATE TABLE records (
    seq bigserial PRIMARY KEY,
    id text NOT NULL UNIQUE,
    time text NOT NULL,
    operation text NOT NULL,
    factory integer, line text, station integer, host text,
    ic_type text, vid integer, pid integer, path text,
    image_sha256 text, image_file text, format text,
    product_type integer, serial integer,
    verdict text, duration_ms bigint, error text,
    stored timestamptz NOT NULL DEFAULT now());
CREATE INDEX records_time ON records(time);
CREATE INDEX records_serial ON records(serial);
CREATE INDEX records_writes ON records(product_type, serial) WHERE operation = 'write';
CREATE INDEX records_passes ON records(serial, product_type, time)
    WHERE operation = 'write' AND verdict = 'Write Pass';
CREATE TABLE serials (
    product_type integer NOT NULL,
    serial integer NOT NULL,
    state text NOT NULL,
    time text NOT NULL,
    host text, process bigint, process_start text,
    PRIMARY KEY (product_type, serial));
CREATE INDEX serials_reserved ON serials(product_type, serial) WHERE state = 'reserved';
CREATE TABLE station_opens (
    time timestamptz NOT NULL DEFAULT now(),
    role text NOT NULL DEFAULT current_user,
    host text, process bigint);
CREATE TABLE approvals (
    seq bigserial PRIMARY KEY,
    product_type integer NOT NULL,
    image_sha256 text NOT NULL,
    image_file text NOT NULL,
    approver text NOT NULL,
    role text NOT NULL DEFAULT session_user,
    time text NOT NULL,
    UNIQUE (product_type, image_sha256));
GRANT SELECT ON vrax_schema TO vrax_station, vrax_approver;
GRANT SELECT ON approvals TO vrax_station;
GRANT SELECT, INSERT ON approvals TO vrax_approver;
GRANT USAGE ON SEQUENCE approvals_seq_seq TO vrax_approver;
GRANT SELECT, INSERT ON records TO vrax_station;
GRANT USAGE ON SEQUENCE records_seq_seq TO vrax_station;
GRANT SELECT, INSERT ON serials TO vrax_station;
GRANT UPDATE (state, time, host, process, process_start) ON serials TO vrax_station;
GRANT INSERT ON station_opens TO vrax_station;
GRANT SELECT ON records, serials TO vrax_approver;
)";

constexpr const char* RecordColumns =
    "time, operation, factory, line, station, host, ic_type, vid, pid, path, image_sha256, "
    "image_file, format, serial, verdict, duration_ms, error, product_type, id";

constexpr const char* PassWhere = "operation = 'write' AND verdict = 'Write Pass'";

// libpq's messages end in a new line and may run over several.
std::string Trimmed(const char* message) {
    std::string text = message ? message : "";
    for (char& c : text) {
        if (c == '\n' || c == '\r' || c == '\t') {
            c = ' ';
        }
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

// Failures inside a call, before the store adds its server and what it was doing.
struct ServerLost {
    std::string message;
};
struct ServerRefused {
    ServerRefused(std::string text, std::string code = {})
        : message(std::move(text)), state(std::move(code)) {}
    std::string message;
    std::string state; // the server's SQLSTATE, when it gave one
};

// Data exceptions and broken table rules: the refusal is for what was sent, not for the station.
bool RefusedForContent(const std::string& state) {
    return state.rfind("22", 0) == 0 || state.rfind("23", 0) == 0;
}

std::map<std::string, std::string> OptionsGiven(PQconninfoOption* options) {
    std::map<std::string, std::string> given;
    for (PQconninfoOption* option = options; option && option->keyword != nullptr; ++option) {
        if (option->val != nullptr && *option->val != '\0') {
            given[option->keyword] = option->val;
        }
    }
    PQconninfoFree(options);
    return given;
}

// "host:port/database". Of a list of hosts the first, whichever answered: the key stays when
// the line fails over.
std::string ServerKey(std::map<std::string, std::string>& given) {
    const auto first = [](const std::string& list) { return list.substr(0, list.find(',')); };
    const std::string host = first(given.count("host") ? given["host"] : given["hostaddr"]);
    const std::string port = first(given["port"]);
    return host + ":" + (port.empty() ? "5432" : port) + "/" + given["dbname"];
}

bool WaitReadable(PGconn* connection, int milliseconds) {
#ifdef _WIN32
    WSAPOLLFD entry{};
    entry.fd = static_cast<SOCKET>(PQsocket(connection));
    entry.events = POLLRDNORM;
    return WSAPoll(&entry, 1, milliseconds) > 0;
#else
    pollfd entry{};
    entry.fd = PQsocket(connection);
    entry.events = POLLIN;
    return poll(&entry, 1, milliseconds) > 0;
#endif
}

class Result {
public:
    explicit Result(PGresult* result) : result_(result, PQclear) {}
    int Rows() const { return PQntuples(result_.get()); }
    bool Null(int row, int column) const { return PQgetisnull(result_.get(), row, column) == 1; }
    std::string Text(int row, int column) const { return PQgetvalue(result_.get(), row, column); }
    long long Integer(int row, int column) const {
        return Null(row, column) ? 0 : std::stoll(Text(row, column));
    }
    std::optional<int> OptionalInteger(int row, int column) const {
        if (Null(row, column)) {
            return std::nullopt;
        }
        return static_cast<int>(std::stoll(Text(row, column)));
    }

private:
    std::unique_ptr<PGresult, void (*)(PGresult*)> result_;
};

// Query parameters as text, as libpq takes them; nullopt is SQL's NULL.
class Parameters {
public:
    Parameters& Add(const std::string& text) {
        values_.emplace_back(text);
        return *this;
    }
    Parameters& Add(long long value) { return Add(std::to_string(value)); }
    Parameters& Add(int value) { return Add(std::to_string(value)); }
    Parameters& Add(const std::optional<int>& value) {
        if (value) {
            return Add(*value);
        }
        values_.emplace_back(std::nullopt);
        return *this;
    }
    std::vector<const char*> Pointers() const {
        std::vector<const char*> pointers;
        for (const auto& value : values_) {
            pointers.push_back(value ? value->c_str() : nullptr);
        }
        return pointers;
    }

private:
    std::vector<std::optional<std::string>> values_;
};

ProductionRecord RecordOfRow(const Result& rows, int row) {
    ProductionRecord record;
    record.time = rows.Text(row, 0);
    record.operation = rows.Text(row, 1);
    record.factory = static_cast<int>(rows.Integer(row, 2));
    const std::string line = rows.Text(row, 3);
    record.line = line.empty() ? '?' : line[0];
    record.station = static_cast<int>(rows.Integer(row, 4));
    record.host = rows.Text(row, 5);
    record.icType = rows.Text(row, 6);
    record.vendorId = static_cast<int>(rows.Integer(row, 7));
    record.productId = static_cast<int>(rows.Integer(row, 8));
    record.devicePath = rows.Text(row, 9);
    record.imageSha256 = rows.Text(row, 10);
    record.imageFile = rows.Text(row, 11);
    record.format = rows.Text(row, 12);
    record.serialNumber = rows.OptionalInteger(row, 13);
    record.verdict = rows.Text(row, 14);
    record.durationMs = rows.Integer(row, 15);
    record.error = rows.Text(row, 16);
    record.productType = rows.OptionalInteger(row, 17);
    record.id = rows.Text(row, 18);
    return record;
}

} // namespace

// One call's use of the connection: its queries wait at most until the call's deadline.
class PostgresProductionRecords::Session {
public:
    Session(PGconn* connection, Steady::time_point deadline, const CallGate& gate)
        : connection_(connection), deadline_(deadline), gate_(gate) {}

    Result Run(const std::string& sql, const Parameters& parameters = {}) {
        const std::vector<const char*> values = parameters.Pointers();
        // Without parameters several statements may go at once (the tables' creation).
        const int sent =
            values.empty()
                ? PQsendQuery(connection_, sql.c_str())
                : PQsendQueryParams(connection_, sql.c_str(), static_cast<int>(values.size()),
                                    nullptr, values.data(), nullptr, nullptr, 0);
        if (!sent) {
            throw ServerLost{Trimmed(PQerrorMessage(connection_))};
        }
        while (PQisBusy(connection_)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::min(deadline_, gate_.Stop()) - Steady::now());
            if (left.count() <= 0) {
                throw ServerLost{"the server gave no answer in time"};
            }
            if (WaitReadable(connection_,
                             static_cast<int>(std::min<long long>(left.count(), 50))) &&
                !PQconsumeInput(connection_)) {
                throw ServerLost{Trimmed(PQerrorMessage(connection_))};
            }
        }
        std::optional<Result> last;
        std::string error;
        std::string state;
        while (PGresult* result = PQgetResult(connection_)) {
            const ExecStatusType status = PQresultStatus(result);
            if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && error.empty()) {
                error = Trimmed(PQresultErrorMessage(result));
                const char* code = PQresultErrorField(result, PG_DIAG_SQLSTATE);
                state = code ? code : "";
            }
            last.emplace(result);
        }
        if (PQstatus(connection_) != CONNECTION_OK) {
            throw ServerLost{error.empty() ? Trimmed(PQerrorMessage(connection_)) : error};
        }
        if (!error.empty() || !last) {
            throw ServerRefused{error.empty() ? "no result" : error, state};
        }
        return std::move(*last);
    }

    // Commits unless body throws; then rolls back, when the connection is still there.
    void Transaction(const std::function<void()>& body) {
        Run("BEGIN");
        try {
            body();
        } catch (const ServerRefused&) {
            // A lost server rolls back by itself once the connection is dropped.
            Run("ROLLBACK");
            throw;
        }
        Run("COMMIT");
    }

private:
    PGconn* connection_;
    Steady::time_point deadline_;
    const CallGate& gate_;
};

PostgresProductionRecords::PostgresProductionRecords(const std::string& address, Access access,
                                                     std::chrono::milliseconds waitLimit)
    : address_(ShownAddress(address)), self_(ThisProcess()), waitLimit_(waitLimit) {
    const std::string name = "Line database \"" + address_ + "\": ";
    const std::string text = LineDatabaseConnectionText(address);
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(text.c_str(), &error);
    if (options == nullptr) {
        const std::string cause =
            error ? WithoutAddressSecrets(Trimmed(error), text) : "out of memory";
        PQfreemem(error);
        throw RecordsError(name + "not a valid address: " + cause);
    }
    for (PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
        if (option->val != nullptr && *option->val != '\0') {
            settings_[option->keyword] = option->val;
        }
    }
    PQconninfoFree(options);
    // The address shows up in the process list. One that only may hold a password (a '/' in
    // the user's part) is refused too: libpq's words about it could show the password.
    if (settings_.count("password") != 0 || address_ != address) {
        throw RecordsError(name + "the address holds a password: keep it in the password file "
                                  "(PGPASSFILE) or a service file (PGSERVICEFILE) instead, never "
                                  "on a command line");
    }
    try {
        Call("connect", [&](Session& session) { CreateOrUpgrade(session, access); });
        // As libpq resolved the address: service file, environment and defaults included.
        std::map<std::string, std::string> used = OptionsGiven(PQconninfo(connection_));
        used.emplace("host", PQhost(connection_));
        used["dbname"] = PQdb(connection_);
        server_ = ServerKey(used);
    } catch (...) {
        // No destructor runs for an object whose constructor threw.
        PQfinish(connection_);
        connection_ = nullptr;
        throw;
    }
}

PostgresProductionRecords::~PostgresProductionRecords() {
    PQfinish(connection_);
}

void PostgresProductionRecords::Connect(Steady::time_point deadline) {
    const std::string name = "Line database \"" + address_ + "\": ";
    if (Steady::now() < retryAfter_) {
        throw RecordsUnreachable(name + "cannot connect to the server (" + lastFailure_ + ")");
    }
    PQfinish(connection_);
    connection_ = nullptr;
    std::map<std::string, std::string> settings = settings_;
    const auto left =
        std::chrono::duration_cast<std::chrono::seconds>(deadline - Steady::now()).count();
    // libpq takes whole seconds and treats 1 as 2.
    settings["connect_timeout"] = std::to_string(std::max<long long>(2, left));
    settings.emplace("application_name", "vrax-bin-writer");
    // A server that stops answering (a cable pulled) is noticed within the wait limit; the
    // server drops a station stuck inside a transaction.
    settings.emplace("keepalives_idle", "5");
    settings.emplace("keepalives_interval", "2");
    settings.emplace("keepalives_count", "3");
    settings.emplace("tcp_user_timeout", std::to_string(waitLimit_.count()));
    settings.emplace("options", "-c lock_timeout=" + std::to_string(waitLimit_.count()) +
                                    " -c idle_in_transaction_session_timeout=60000");
    std::vector<const char*> keywords;
    std::vector<const char*> values;
    for (const auto& [keyword, value] : settings) {
        keywords.push_back(keyword.c_str());
        values.push_back(value.c_str());
    }
    keywords.push_back(nullptr);
    values.push_back(nullptr);
    PGconn* connection = PQconnectdbParams(keywords.data(), values.data(), 0);
    if (connection == nullptr || PQstatus(connection) != CONNECTION_OK) {
        lastFailure_ = connection ? Trimmed(PQerrorMessage(connection)) : "out of memory";
        if (connection != nullptr && PQconnectionNeedsPassword(connection)) {
            lastFailure_ += "; the password file (PGPASSFILE, else ~/.pgpass or "
                            "%APPDATA%\\postgresql\\pgpass.conf) holds no password for this role";
        }
        PQfinish(connection);
        retryAfter_ = Steady::now() + std::chrono::seconds(2);
        throw RecordsUnreachable(name + "cannot connect to the server (" + lastFailure_ + ")");
    }
    connection_ = connection;
}

void PostgresProductionRecords::Call(const char* what, const std::function<void(Session&)>& body) {
    const auto start = Steady::now();
    const std::string name = "Line database \"" + address_ + "\": ";
    const CallGate::Held held = gate_.Enter(start + waitLimit_, [&](Steady::time_point) {
        throw RecordsUnreachable(name + "cannot " + what + ": the server gave no answer in time");
    });
    const Steady::time_point deadline = start + waitLimit_;
    if (connection_ == nullptr || PQstatus(connection_) != CONNECTION_OK) {
        Connect(deadline);
    }
    Session session(connection_, deadline, gate_);
    try {
        body(session);
    } catch (const ServerLost& lost) {
        // The connection is dropped: the server rolls back what it held, and the next call
        // connects again.
        PQfinish(connection_);
        connection_ = nullptr;
        // The calls queued behind this one go to the outbox at once instead of each waiting
        // out a server that does not answer.
        lastFailure_ = lost.message;
        retryAfter_ = Steady::now() + std::chrono::seconds(2);
        throw RecordsUnreachable(name + "cannot " + what + ": the server was lost (" +
                                 lost.message + ")");
    } catch (const ServerRefused& refused) {
        if (RefusedForContent(refused.state)) {
            throw RecordRefused(name + "cannot " + what + ": " + refused.message);
        }
        throw RecordsError(name + "cannot " + what + ": " + refused.message);
    }
}

std::string PostgresProductionRecords::ServerOfAddress(const std::string& address) {
    std::map<std::string, std::string> given =
        OptionsGiven(PQconninfoParse(LineDatabaseConnectionText(address).c_str(), nullptr));
    // What a service file or the environment would add is not known here.
    if ((given.count("host") == 0 && given.count("hostaddr") == 0) || given.count("dbname") == 0 ||
        given.count("service") != 0) {
        return {};
    }
    return ServerKey(given);
}

void PostgresProductionRecords::StopWaiting() {
    gate_.StopWaiting();
}

void PostgresProductionRecords::CreateOrUpgrade(Session& session, Access access) {
    const auto version = [&]() -> int {
        // Read from the catalog's table, not its cache: after the lock below, a cache may
        // not yet know the tables that another station just made.
        if (session
                .Run("SELECT count(*) FROM pg_catalog.pg_class WHERE relname = "
                     "'vrax_schema' AND relnamespace = 'public'::regnamespace")
                .Text(0, 0) == "0") {
            return 0;
        }
        const Result rows = session.Run("SELECT version FROM vrax_schema");
        if (rows.Rows() != 1) {
            throw ServerRefused{rows.Rows() == 0 ? "its schema version is missing"
                                                 : "it holds more than one schema version"};
        }
        return static_cast<int>(rows.Integer(0, 0));
    };
    const int found = version();
    if (found > SchemaVersion) {
        throw ServerRefused{"made by a newer program (schema version " + std::to_string(found) +
                            ")"};
    }
    if (found == SchemaVersion) {
        return;
    }
    if (access == Access::Report && found > 0) {
        throw ServerRefused{"its tables are of an older version (" + std::to_string(found) +
                            "): open it once from a station to upgrade them"};
    }
    session.Transaction([&] {
        // Two stations starting at once: the second waits here, then finds the tables made.
        session.Run("SELECT pg_advisory_xact_lock($1, $2)",
                    Parameters().Add(LockSpace).Add(SchemaLock));
        if (version() == SchemaVersion) {
            return;
        }
        if (session.Run("SELECT has_schema_privilege('public', 'CREATE')").Text(0, 0) != "t") {
            throw ServerRefused{"it has no tables yet, and this role may not make them: connect "
                                "once as the database's owner (vrax_owner) to create them"};
        }
        session.Run(CreateVersion1);
    });
}

void PostgresProductionRecords::ProveWritable() {
    // A real insert committed: a role that may only read, or a server that cannot write,
    // refuses the station here.
    Call("write", [&](Session& session) {
        session.Run("INSERT INTO station_opens (host, process) VALUES ($1, $2)",
                    Parameters().Add(self_.host).Add(self_.process));
    });
}

int PostgresProductionRecords::SettleAbandonedReservations() {
    int settled = 0;
    Call("settle abandoned reservations", [&](Session& session) {
        // Only this machine's processes can be looked at.
        const Result rows = session.Run("SELECT product_type, serial, process, process_start FROM "
                                        "serials WHERE state = 'reserved' AND host = $1",
                                        Parameters().Add(self_.host));
        for (int row = 0; row < rows.Rows(); ++row) {
            const ProcessIdentity holder{self_.host, rows.Integer(row, 2), rows.Text(row, 3)};
            if (!ProcessHasEnded(holder)) {
                continue;
            }
            session.Run(std::string("UPDATE serials SET state = CASE WHEN EXISTS (SELECT 1 FROM "
                                    "records WHERE ") +
                            PassWhere +
                            " AND serial = $2 AND (product_type = $1 OR product_type IS NULL)) "
                            "THEN 'stamped' ELSE 'released' END WHERE product_type = $1 AND "
                            "serial = $2 AND state = 'reserved'",
                        Parameters().Add(rows.Integer(row, 0)).Add(rows.Integer(row, 1)));
            ++settled;
        }
    });
    return settled;
}

void PostgresProductionRecords::Append(const ProductionRecord& record) {
    Call("append", [&](Session& session) {
        // A record sent again (after an answer that was lost) is stored once.
        session.Run(std::string("INSERT INTO records (") + RecordColumns +
                        ") VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, "
                        "$15, $16, $17, $18, $19) ON CONFLICT (id) DO NOTHING",
                    Parameters()
                        .Add(record.time)
                        .Add(record.operation)
                        .Add(record.factory)
                        .Add(std::string(1, record.line))
                        .Add(record.station)
                        .Add(record.host)
                        .Add(record.icType)
                        .Add(record.vendorId)
                        .Add(record.productId)
                        .Add(record.devicePath)
                        .Add(record.imageSha256)
                        .Add(record.imageFile)
                        .Add(record.format)
                        .Add(record.serialNumber)
                        .Add(record.verdict)
                        .Add(record.durationMs)
                        .Add(record.error)
                        .Add(record.productType)
                        .Add(record.id.empty() ? NewRecordId() : record.id));
    });
}

std::vector<ProductionRecord> PostgresProductionRecords::Find(const RecordFilter& filter) {
    std::vector<ProductionRecord> records;
    Call("read", [&](Session& session) {
        const Result rows = session.Run(std::string("SELECT ") + RecordColumns +
                                            " FROM records WHERE time >= $1 AND ($2::integer IS "
                                            "NULL OR serial = $2) ORDER BY seq",
                                        Parameters().Add(filter.since).Add(filter.serialNumber));
        for (int row = 0; row < rows.Rows(); ++row) {
            records.push_back(RecordOfRow(rows, row));
        }
    });
    return records;
}

std::vector<WriteTally> PostgresProductionRecords::SummarizeWrites(const RecordFilter& filter) {
    std::vector<WriteTally> tallies;
    Call("read", [&](Session& session) {
        const Result rows =
            session.Run("SELECT ic_type, substr(time, 1, 13) AS hour, "
                        "count(*) FILTER (WHERE verdict = 'Write Pass'), "
                        "count(*) FILTER (WHERE verdict IS DISTINCT FROM 'Write Pass') "
                        "FROM records WHERE operation = 'write' AND time >= $1 AND "
                        "($2::integer IS NULL OR serial = $2) GROUP BY 1, 2 ORDER BY 1, 2",
                        Parameters().Add(filter.since).Add(filter.serialNumber));
        for (int row = 0; row < rows.Rows(); ++row) {
            tallies.push_back({rows.Text(row, 0), rows.Text(row, 1),
                               static_cast<long>(rows.Integer(row, 2)),
                               static_cast<long>(rows.Integer(row, 3))});
        }
    });
    return tallies;
}

std::vector<ProductionRecord>
PostgresProductionRecords::FindRepeatedPasses(const RecordFilter& filter) {
    std::vector<ProductionRecord> records;
    Call("read", [&](Session& session) {
        const std::string passes = std::string("SELECT serial, product_type AS type, time FROM "
                                               "records WHERE ") +
                                   PassWhere +
                                   " AND serial IS NOT NULL AND ($2::integer IS NULL OR "
                                   "serial = $2)";
        const std::string repeated =
            "SELECT serial FROM (" + passes +
            ") p WHERE type IS NOT NULL GROUP BY serial, type HAVING count(*) > 1 AND "
            "max(time) >= $1 UNION SELECT serial FROM (" +
            passes +
            ") q GROUP BY serial HAVING count(*) FILTER (WHERE type IS NULL) > 0 AND "
            "count(*) > 1 AND max(time) >= $1";
        const Result rows =
            session.Run(std::string("SELECT ") + RecordColumns + " FROM records WHERE " +
                            PassWhere + " AND serial IN (" + repeated + ") ORDER BY serial, seq",
                        Parameters().Add(filter.since).Add(filter.serialNumber));
        for (int row = 0; row < rows.Rows(); ++row) {
            records.push_back(RecordOfRow(rows, row));
        }
    });
    return records;
}

std::vector<Reservation> PostgresProductionRecords::FindReservations() {
    std::vector<Reservation> reservations;
    Call("read", [&](Session& session) {
        const Result rows = session.Run("SELECT product_type, serial, time, host, process FROM "
                                        "serials WHERE state = 'reserved' ORDER BY 1, 2");
        for (int row = 0; row < rows.Rows(); ++row) {
            reservations.push_back({static_cast<int>(rows.Integer(row, 0)),
                                    static_cast<int>(rows.Integer(row, 1)), rows.Text(row, 2),
                                    rows.Text(row, 3), rows.Integer(row, 4)});
        }
    });
    return reservations;
}

int PostgresProductionRecords::ReserveSerialNumber(int productType, int firstSerial) {
    long long serial = 0;
    Call("reserve a serial number", [&](Session& session) {
        session.Transaction([&] {
            session.Run("SELECT pg_advisory_xact_lock($1, $2)",
                        Parameters().Add(LockSpace).Add(productType));
            // Each maximum is one step down an index.
            const Result highest = session.Run(
                "SELECT greatest((SELECT max(serial) FROM serials WHERE product_type = $1), "
                "(SELECT max(serial) FROM records WHERE operation = 'write' AND "
                "product_type = $1), (SELECT max(serial) FROM records WHERE operation = 'write' "
                "AND product_type IS NULL))",
                Parameters().Add(productType));
            serial = std::max<long long>(highest.Null(0, 0) ? 0 : highest.Integer(0, 0) + 1,
                                         firstSerial);
            if (serial > LargestSerialNumber) {
                throw ServerRefused{"no serial number left for product type " +
                                    HexText(static_cast<unsigned>(productType), 4) +
                                    ": the next one would not fit 24 bits (FFFFFF)"};
            }
            session.Run("INSERT INTO serials (product_type, serial, state, time, host, process, "
                        "process_start) VALUES ($1, $2, 'reserved', $3, $4, $5, $6)",
                        Parameters()
                            .Add(productType)
                            .Add(serial)
                            .Add(UtcTimeWithMilliseconds())
                            .Add(self_.host)
                            .Add(self_.process)
                            .Add(self_.start));
        });
    });
    return static_cast<int>(serial);
}

void PostgresProductionRecords::ClaimSerialNumber(int productType, int serialNumber) {
    Call("reserve a serial number", [&](Session& session) {
        session.Transaction([&] {
            session.Run("SELECT pg_advisory_xact_lock($1, $2)",
                        Parameters().Add(LockSpace).Add(productType));
            const std::string number = "SN " + HexText(static_cast<unsigned>(serialNumber), 6) +
                                       " of product type " +
                                       HexText(static_cast<unsigned>(productType), 4);
            const std::string nothing =
                "; nothing was written. Set \"SN\" to a serial number not yet stamped.";
            const Result pass = session.Run(
                std::string("SELECT time, factory, line, station, host, path FROM records WHERE ") +
                    PassWhere +
                    " AND serial = $2 AND (product_type = $1 OR product_type IS NULL) "
                    "ORDER BY seq LIMIT 1",
                Parameters().Add(productType).Add(serialNumber));
            if (pass.Rows() > 0) {
                throw ServerRefused{number + " is already stamped: Write Pass on " +
                                    pass.Text(0, 0) + " at station " + pass.Text(0, 1) + "-" +
                                    pass.Text(0, 2) + "-" + pass.Text(0, 3) + " (host " +
                                    pass.Text(0, 4) + ", " + pass.Text(0, 5) + ")" + nothing};
            }
            const Result held =
                session.Run("SELECT state, time, host, process, process_start FROM serials "
                            "WHERE product_type = $1 AND serial = $2",
                            Parameters().Add(productType).Add(serialNumber));
            if (held.Rows() > 0) {
                const std::string state = held.Text(0, 0);
                const ProcessIdentity holder{held.Text(0, 2), held.Integer(0, 3), held.Text(0, 4)};
                if (state == "stamped") {
                    throw ServerRefused{number + " is already stamped (settled so on " +
                                        held.Text(0, 1) + ")" + nothing};
                }
                if (state == "reserved" && !ProcessHasEnded(holder)) {
                    throw ServerRefused{number + " is reserved by another write (process " +
                                        std::to_string(holder.process) + " on host " + holder.host +
                                        " since " + held.Text(0, 1) + ")" + nothing};
                }
            }
            session.Run(held.Rows() > 0
                            ? "UPDATE serials SET state = 'reserved', time = $3, host = $4, "
                              "process = $5, process_start = $6 WHERE product_type = $1 AND "
                              "serial = $2"
                            : "INSERT INTO serials (product_type, serial, state, time, host, "
                              "process, process_start) VALUES ($1, $2, 'reserved', $3, $4, $5, "
                              "$6)",
                        Parameters()
                            .Add(productType)
                            .Add(serialNumber)
                            .Add(UtcTimeWithMilliseconds())
                            .Add(self_.host)
                            .Add(self_.process)
                            .Add(self_.start));
        });
    });
}

void PostgresProductionRecords::SettleSerialNumber(int productType, int serialNumber,
                                                   bool stamped) {
    Call("settle a serial number", [&](Session& session) {
        session.Run("UPDATE serials SET state = $1 WHERE product_type = $2 AND serial = $3",
                    Parameters()
                        .Add(std::string(stamped ? "stamped" : "released"))
                        .Add(productType)
                        .Add(serialNumber));
    });
}

ImageApproval PostgresProductionRecords::ApproveImage(const ImageApproval& approval) {
    ImageApproval stored;
    Call("approve an image", [&](Session& session) {
        // Approved twice, the first approval stands.
        session.Run("INSERT INTO approvals (product_type, image_sha256, image_file, approver, "
                    "time) VALUES ($1, $2, $3, $4, $5) ON CONFLICT (product_type, image_sha256) "
                    "DO NOTHING",
                    Parameters()
                        .Add(approval.productType)
                        .Add(approval.imageSha256)
                        .Add(approval.imageFile)
                        .Add(approval.approver)
                        .Add(UtcTimeWithMilliseconds()));
        const Result rows =
            session.Run("SELECT product_type, image_sha256, image_file, approver, time FROM "
                        "approvals WHERE product_type = $1 AND image_sha256 = $2",
                        Parameters().Add(approval.productType).Add(approval.imageSha256));
        stored = {static_cast<int>(rows.Integer(0, 0)), rows.Text(0, 1), rows.Text(0, 2),
                  rows.Text(0, 3), rows.Text(0, 4)};
    });
    return stored;
}

std::vector<ImageApproval>
PostgresProductionRecords::FindApprovals(std::optional<int> productType) {
    std::vector<ImageApproval> approvals;
    Call("read the approvals", [&](Session& session) {
        const Result rows = session.Run(
            "SELECT product_type, image_sha256, image_file, approver, time FROM approvals "
            "WHERE $1::integer IS NULL OR product_type = $1 ORDER BY product_type, seq",
            Parameters().Add(productType));
        for (int row = 0; row < rows.Rows(); ++row) {
            approvals.push_back({static_cast<int>(rows.Integer(row, 0)), rows.Text(row, 1),
                                 rows.Text(row, 2), rows.Text(row, 3), rows.Text(row, 4)});
        }
    });
    return approvals;
}

std::vector<StationTally> PostgresProductionRecords::SummarizeStations(const RecordFilter& filter) {
    std::vector<StationTally> tallies;
    Call("read", [&](Session& session) {
        const Result rows = session.Run(
            "SELECT factory, line, station, substr(time, 1, 13) AS hour, "
            "count(*) FILTER (WHERE verdict = 'Write Pass'), "
            "count(*) FILTER (WHERE verdict IS DISTINCT FROM 'Write Pass'), min(time), max(time) "
            "FROM records WHERE operation = 'write' AND time >= $1 AND "
            "($2::integer IS NULL OR serial = $2) GROUP BY 1, 2, 3, 4 ORDER BY 1, 2, 3, 4",
            Parameters().Add(filter.since).Add(filter.serialNumber));
        for (int row = 0; row < rows.Rows(); ++row) {
            const std::string line = rows.Text(row, 1);
            tallies.push_back({static_cast<int>(rows.Integer(row, 0)), line.empty() ? '?' : line[0],
                               static_cast<int>(rows.Integer(row, 2)), rows.Text(row, 3),
                               static_cast<long>(rows.Integer(row, 4)),
                               static_cast<long>(rows.Integer(row, 5)), rows.Text(row, 6),
                               rows.Text(row, 7)});
        }
    });
    return tallies;
}

std::vector<FailureReason>
PostgresProductionRecords::CountFailureReasons(const RecordFilter& filter, int limit) {
    std::vector<FailureReason> reasons;
    Call("read", [&](Session& session) {
        const Result rows = session.Run(
            "SELECT operation, verdict, error, count(*) AS n, max(time) FROM records "
            "WHERE time >= $1 AND ($2::integer IS NULL OR serial = $2) AND (verdict IS NULL OR "
            "verdict NOT IN ('Write Pass', 'Verify Pass', 'Save Pass', 'Read Ok')) "
            "GROUP BY operation, verdict, error ORDER BY n DESC, operation, verdict, error "
            "LIMIT $3",
            Parameters().Add(filter.since).Add(filter.serialNumber).Add(limit));
        for (int row = 0; row < rows.Rows(); ++row) {
            reasons.push_back({rows.Text(row, 0), rows.Text(row, 1), rows.Text(row, 2),
                               static_cast<long>(rows.Integer(row, 3)), rows.Text(row, 4)});
        }
    });
    return reasons;
}

std::vector<SerialNumberRun>
PostgresProductionRecords::FindStampedRuns(const RecordFilter& filter) {
    std::vector<SerialNumberRun> runs;
    Call("read", [&](Session& session) {
        // Consecutive numbers keep one difference to their rank: each difference is a run.
        const Result rows = session.Run(
            std::string("WITH passes AS (SELECT DISTINCT product_type AS type, serial FROM "
                        "records WHERE ") +
                PassWhere +
                " AND serial IS NOT NULL AND time >= $1 AND ($2::integer IS NULL OR "
                "serial = $2)), ranked AS (SELECT type, serial, serial - row_number() OVER "
                "(PARTITION BY type ORDER BY serial) AS run FROM passes) SELECT type, "
                "min(serial) AS first, max(serial) FROM ranked GROUP BY type, run "
                "ORDER BY type NULLS LAST, first",
            Parameters().Add(filter.since).Add(filter.serialNumber));
        for (int row = 0; row < rows.Rows(); ++row) {
            runs.push_back({rows.OptionalInteger(row, 0), static_cast<int>(rows.Integer(row, 1)),
                            static_cast<int>(rows.Integer(row, 2))});
        }
    });
    return runs;
}

} // namespace vrax
