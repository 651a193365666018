#include "records/RecordsLocation.h"

#ifdef VRAX_HAVE_SQLITE
#include "records/SqliteProductionRecords.h"
#endif
#ifdef VRAX_HAVE_POSTGRESQL
#include "records/OutboxProductionRecords.h"
#endif

#include <cstdlib>

namespace vrax {

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

} // namespace

bool IsLineDatabaseAddress(const std::string& choice) {
    if (StartsWith(choice, "postgresql://") || StartsWith(choice, "postgres://")) {
        return true;
    }
    // A libpq connection string: keyword=value pairs, such as "service=line-a".
    for (const char* keyword : {"service=", "host=", "hostaddr=", "dbname=", "user=", "port="}) {
        if (StartsWith(choice, keyword)) {
            return true;
        }
    }
    return false;
}

std::string DefaultRecordsPath() {
#ifdef _WIN32
    const std::string local = Environment("LOCALAPPDATA");
    return local.empty() ? std::string{} : local + "\\VRAX\\records.sqlite";
#else
    std::string data = Environment("XDG_DATA_HOME");
    if (data.empty()) {
        const std::string home = Environment("HOME");
        if (home.empty()) {
            return {};
        }
        data = home + "/.local/share";
    }
    return data + "/vrax-bin-writer/records.sqlite";
#endif
}

std::unique_ptr<ProductionRecords> OpenProductionRecords(const std::string& choice,
                                                         [[maybe_unused]] RecordsAccess access) {
    if (choice == "none") {
        return std::make_unique<NullProductionRecords>();
    }
#ifdef VRAX_HAVE_POSTGRESQL
    if (IsLineDatabaseAddress(choice)) {
        const bool report = access == RecordsAccess::Report;
        auto server = std::make_unique<PostgresProductionRecords>(
            choice, report ? PostgresProductionRecords::Access::Report
                           : PostgresProductionRecords::Access::Station);
        if (access == RecordsAccess::Approval) {
            return server; // the approver's role: no outbox, nothing of a station's
        }
        std::unique_ptr<ProductionRecords> records = std::make_unique<OutboxProductionRecords>(
            std::move(server), DefaultOutboxPath(),
            report ? OutboxProductionRecords::Access::Report
                   : OutboxProductionRecords::Access::Station);
        if (!report) {
            records->ProveWritable();
            records->SettleAbandonedReservations();
        }
        return records;
    }
#else
    if (IsLineDatabaseAddress(choice)) {
        throw RecordsError("this build cannot use a line database (built without libpq): \"" +
                           choice + "\"");
    }
#endif
#ifndef VRAX_HAVE_SQLITE
    // A build without SQLite keeps nothing unless a file is asked for, which it refuses.
    if (choice.empty()) {
        return std::make_unique<NullProductionRecords>();
    }
#endif
    const std::string path = choice.empty() ? DefaultRecordsPath() : choice;
    if (path.empty()) {
        throw RecordsError("no folder for the records is known: give --records FILE or none");
    }
#ifdef VRAX_HAVE_SQLITE
    if (access == RecordsAccess::Report) {
        return std::make_unique<SqliteProductionRecords>(path,
                                                         SqliteProductionRecords::Access::ReadOnly);
    }
    std::unique_ptr<ProductionRecords> records = std::make_unique<SqliteProductionRecords>(path);
    if (access == RecordsAccess::Approval) {
        return records;
    }
    records->ProveWritable();
    records->SettleAbandonedReservations();
    return records;
#else
    throw RecordsError("this build keeps no records (built without SQLite): use --records none");
#endif
}

} // namespace vrax
