#pragma once

#include "records/ProductionRecords.h"

#include <memory>
#include <string>

namespace vrax {

// $XDG_DATA_HOME/vrax-bin-writer/records.sqlite (or ~/.local/share/...), on Windows
// %LOCALAPPDATA%\VRAX\records.sqlite. Empty when no such folder is known.
std::string DefaultRecordsPath();

enum class RecordsAccess {
    // A station: the store is created when missing, proves it can write and settles the
    // reservations of processes that are gone before the first mouse.
    Station,
    // A report: the store must exist and is only read.
    Report,
    // `records approve`: the store is created when missing and takes approvals only; a line
    // database connects with the approver's role, not a station's.
    Approval,
};

// Whether --records names a line database (a libpq URI or a connection string such as
// "service=line-a") rather than a file.
bool IsLineDatabaseAddress(const std::string& choice);

// The records that the --records value picks: "none" keeps nothing, empty the default file, a
// line database's address that PostgreSQL database (with its outbox on this PC), anything else
// that file. A build without SQLite keeps nothing by default and refuses a file.
// Throws RecordsError.
std::unique_ptr<ProductionRecords>
OpenProductionRecords(const std::string& choice, RecordsAccess access = RecordsAccess::Station);

} // namespace vrax
