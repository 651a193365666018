#include "records/RecordsLocation.h"

#ifdef VRAX_HAVE_SQLITE
#include "records/SqliteProductionRecords.h"
#endif
#ifdef VRAX_HAVE_POSTGRESQL
#include "records/OutboxProductionRecords.h"
#endif

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace vrax {

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool Space(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Whether text holds word at `at`, in any letter case (word in small letters).
bool HasAt(const std::string& text, std::size_t at, std::string_view word) {
    if (at > text.size() || text.size() - at < word.size()) {
        return false;
    }
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (Lower(text[at + i]) != word[i]) {
            return false;
        }
    }
    return true;
}

// Where the value of keyword at `at` starts, after its '=' and spaces; npos when no '='
// follows.
std::size_t ValueAfter(const std::string& text, std::size_t at, std::string_view keyword) {
    if (!HasAt(text, at, keyword)) {
        return std::string::npos;
    }
    std::size_t next = at + keyword.size();
    while (next < text.size() && Space(text[next])) {
        ++next;
    }
    if (next == text.size() || text[next] != '=') {
        return std::string::npos;
    }
    do {
        ++next;
    } while (next < text.size() && Space(text[next]));
    return next;
}

// libpq's keywords up to version 18, in any letter case: "Host=" is a mistyped address, not a
// file.
bool KeywordAt(const std::string& text, std::size_t at) {
    static constexpr std::string_view keywords =
        "service user password passfile channel_binding connect_timeout dbname host hostaddr "
        "port client_encoding options application_name fallback_application_name keepalives "
        "keepalives_idle keepalives_interval keepalives_count tcp_user_timeout sslmode "
        "sslnegotiation sslcompression sslcert sslkey sslcertmode sslpassword sslrootcert sslcrl "
        "sslcrldir sslsni sslkeylogfile requirepeer require_auth ssl_min_protocol_version "
        "ssl_max_protocol_version min_protocol_version max_protocol_version gssencmode "
        "krbsrvname gsslib gssdelegation replication target_session_attrs load_balance_hosts "
        "scram_client_key scram_server_key oauth_issuer oauth_client_id oauth_client_secret "
        "oauth_scope";
    for (std::size_t start = 0; start < keywords.size();) {
        const std::size_t end = std::min(keywords.find(' ', start), keywords.size());
        if (ValueAfter(text, at, keywords.substr(start, end - start)) != std::string::npos) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

// Where the scheme of a postgresql:// or postgres:// address starts and ends; npos for
// anything else.
std::pair<std::size_t, std::size_t> Scheme(const std::string& address) {
    std::size_t start = 0;
    while (start < address.size() && Space(address[start])) {
        ++start;
    }
    for (std::string_view scheme : {"postgresql://", "postgres://"}) {
        if (HasAt(address, start, scheme)) {
            return {start, start + scheme.size()};
        }
    }
    return {std::string::npos, std::string::npos};
}

} // namespace

bool IsLineDatabaseAddress(const std::string& choice) {
    if (Scheme(choice).first != std::string::npos) {
        return true;
    }
    // Pairs in any order. A path whose folder has '=' in its name has no keyword of its own
    // before it.
    for (std::size_t at = 0; at < choice.size(); ++at) {
        if ((at == 0 || Space(choice[at - 1])) && KeywordAt(choice, at)) {
            return true;
        }
    }
    return false;
}

std::string LineDatabaseConnectionText(const std::string& address) {
    const auto [start, end] = Scheme(address);
    if (start == std::string::npos) {
        return address;
    }
    std::string text = address.substr(start);
    std::transform(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(end - start),
                   text.begin(), Lower);
    return text;
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
