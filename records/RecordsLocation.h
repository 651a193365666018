#pragma once

#include "records/ProductionRecords.h"

#include <functional>
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

// What a line database tells the operator of its connection: the server's own notices, that
// it is neither encrypted with a verified server nor a local socket, or that this PC's clock
// is more than a minute off the server's (whose time the records keep).
enum class LineDatabaseNotice { Server, Unprotected, Clock };

// Whether --records names a line database rather than a file: a URI of the postgresql:// or
// postgres:// scheme in any letter case, or keyword=value pairs with a libpq keyword
// ("service=line-a", "sslmode=disable host=..."). Whether it parses is the line database's to
// say: one that does not is an error, never a file's name.
bool IsLineDatabaseAddress(const std::string& choice);

// Whether a location that is no line database's address still reads as an address: a scheme
// ("postgressql://", "postgresql:/", "pgsql//", "postgresql;//") or a user at a host
// ("station@db:5432/line"). Taken for a file, it would start a numbering of its own beside the
// line's. A drive letter ("C:\\records") and a path that starts with '.' or '/' are paths.
bool LooksLikeAddress(const std::string& choice);

// The address as every message, report and the outbox show it: each password (or other secret)
// it may hold, wherever and however written, shows as "***", also when libpq cannot read the
// address. An address without one shows as it is.
std::string ShownAddress(const std::string& address);

// text (libpq's words about the address) with every piece of the address's secrets it quotes
// hidden as ShownAddress hides them.
std::string WithoutAddressSecrets(const std::string& text, const std::string& address);

// A line database's address as libpq takes it: libpq knows a URI's scheme in small letters only.
std::string LineDatabaseConnectionText(const std::string& address);

// The records that the --records value picks: "none" keeps nothing, empty the default file, a
// line database's address that PostgreSQL database (with its outbox on this PC), anything else
// that file. A build without SQLite keeps nothing by default and refuses a file. A line
// database's notices go to notices, else to stderr. Throws RecordsError.
std::unique_ptr<ProductionRecords>
OpenProductionRecords(const std::string& choice, RecordsAccess access = RecordsAccess::Station,
                      std::function<void(LineDatabaseNotice, const std::string&)> notices = {});

} // namespace vrax
