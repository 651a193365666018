#include "records/RecordsLocation.h"

#ifdef VRAX_HAVE_SQLITE
#include "records/sqlite/SqliteProductionRecords.h"
#endif
#ifdef VRAX_HAVE_POSTGRESQL
#include "records/StationIdentity.h"
#include "records/postgres/OutboxProductionRecords.h"
#endif

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

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

// The end of a value starting at `start`: a quoted one's closing quote, else the space or '&'
// before the next keyword. One that does not end so runs to the end of the text: libpq may
// split there a password that a malformed address holds whole.
std::size_t ValueEnd(const std::string& text, std::size_t start) {
    const bool quoted = start < text.size() && text[start] == '\'';
    for (std::size_t at = quoted ? start + 1 : start; at < text.size(); ++at) {
        if (text[at] == '\\') {
            ++at;
        } else if (quoted && text[at] == '\'') {
            return at + 1;
        } else if (!quoted && (Space(text[at]) || text[at] == '&')) {
            std::size_t next = at + 1;
            while (next < text.size() && Space(text[next])) {
                ++next;
            }
            if (KeywordAt(text, next)) {
                return at;
            }
        }
    }
    return text.size();
}

// password, sslpassword, oauth_client_secret and the SCRAM keys, which stand for a password.
constexpr std::string_view SecretWords[] = {"password", "secret", "scram_client_key",
                                            "scram_server_key"};

// A URI query's key as libpq reads it: percent-decoded (and here in small letters).
std::string DecodedKey(const std::string& text) {
    std::string decoded;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '%' && at + 2 < text.size() &&
            std::isxdigit(static_cast<unsigned char>(text[at + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[at + 2]))) {
            decoded += Lower(static_cast<char>(std::stoi(text.substr(at + 1, 2), nullptr, 16)));
            at += 2;
        } else {
            decoded += Lower(text[at]);
        }
    }
    return decoded;
}

using Span = std::pair<std::size_t, std::size_t>;

// The parts of an address that are or may be a password, read more widely than libpq reads
// them, so that a malformed address shows none either; in order, apart.
std::vector<Span> SecretSpans(const std::string& address) {
    std::vector<Span> spans;
    const std::size_t rest = Scheme(address).second;
    if (rest != std::string::npos) {
        // libpq ends the user's part at the first '@' before a '/'; its writer may have meant
        // the last '@' before the query.
        std::size_t end = address.find_first_of("@/", rest);
        if (end != std::string::npos && address[end] != '@') {
            end = std::string::npos;
        }
        const std::size_t query = address.find('?', rest);
        const std::size_t last = address.rfind('@', query == std::string::npos ? query : query - 1);
        if (last != std::string::npos && last >= rest && (end == std::string::npos || last > end)) {
            end = last;
        }
        const std::size_t colon = address.find(':', rest);
        if (end != std::string::npos && colon < end) {
            spans.emplace_back(colon + 1, end);
        }
        for (std::size_t key = query; key != std::string::npos; key = address.find('&', key)) {
            ++key;
            const std::size_t equals = address.find('=', key);
            if (equals == std::string::npos) {
                break;
            }
            const std::string name = DecodedKey(address.substr(key, equals - key));
            for (std::string_view word : SecretWords) {
                if (name.find(word) != std::string::npos) {
                    spans.emplace_back(equals + 1, ValueEnd(address, equals + 1));
                }
            }
        }
    }
    // Keyword and value, also inside another value or a URI's query.
    for (std::size_t at = 0; at < address.size(); ++at) {
        for (std::string_view word : SecretWords) {
            const std::size_t value = ValueAfter(address, at, word);
            if (value != std::string::npos) {
                spans.emplace_back(value, ValueEnd(address, value));
            }
        }
    }
    std::sort(spans.begin(), spans.end());
    std::vector<Span> apart;
    for (const Span& span : spans) {
        if (span.first >= span.second) {
            continue;
        }
        if (!apart.empty() && span.first <= apart.back().second) {
            apart.back().second = std::max(apart.back().second, span.second);
        } else {
            apart.push_back(span);
        }
    }
    return apart;
}

constexpr const char* Hidden = "***";

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

bool LooksLikeAddress(const std::string& choice) {
    std::size_t start = 0;
    while (start < choice.size() && Space(choice[start])) {
        ++start;
    }
    const auto schemeChar = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
    };
    std::size_t end = start;
    if (end < choice.size() && std::isalpha(static_cast<unsigned char>(choice[end])) != 0) {
        while (end < choice.size() && schemeChar(choice[end])) {
            ++end;
        }
    }
    // One letter before ':' is a drive.
    if (end - start >= 2 && end < choice.size()) {
        const std::string_view rest = std::string_view(choice).substr(end);
        const bool slash = rest.find("//") <= 1;
        if (slash || (rest[0] == ':' && rest.size() > 1 && (rest[1] == '/' || rest[1] == '\\'))) {
            return true;
        }
    }
    // user@host:port or user@host/database: the '@' in the first piece of a relative location.
    const std::size_t firstSlash = choice.find_first_of("/\\", start);
    const std::string_view first = std::string_view(choice).substr(start, firstSlash - start);
    const std::size_t at = first.find('@');
    if (at == std::string_view::npos || at == 0 || first[0] == '.') {
        return false;
    }
    const std::string_view host = first.substr(at + 1);
    return !host.empty() &&
           (host.find(':') != std::string_view::npos || firstSlash != std::string::npos);
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

std::string ShownAddress(const std::string& address) {
    std::string shown;
    std::size_t from = 0;
    for (const auto& [begin, end] : SecretSpans(address)) {
        shown += address.substr(from, begin - from) + Hidden;
        from = end;
    }
    return shown + address.substr(from);
}

std::string WithoutAddressSecrets(const std::string& text, const std::string& address) {
    const std::vector<Span> spans = SecretSpans(address);
    if (spans.empty()) {
        return text;
    }
    std::string shown = text;
    const std::string hidden = ShownAddress(address);
    for (std::size_t at = shown.find(address); at != std::string::npos;
         at = shown.find(address, at + hidden.size())) {
        shown.replace(at, address.size(), hidden);
    }
    // libpq quotes the token it stumbled on, which may be a password or a piece of one.
    std::size_t open = shown.find('"');
    while (open != std::string::npos) {
        const std::size_t close = shown.find('"', open + 1);
        if (close == std::string::npos) {
            break;
        }
        const std::string quoted = shown.substr(open + 1, close - open - 1);
        // Not the "=" or "]" of libpq's own words.
        const bool word =
            quoted.size() > 1 ||
            (quoted.size() == 1 && std::isalnum(static_cast<unsigned char>(quoted[0])));
        bool secret = false;
        for (const auto& [begin, end] : spans) {
            const std::string part = address.substr(begin, end - begin);
            secret = secret || quoted.find(part) != std::string::npos ||
                     (word && part.find(quoted) != std::string::npos);
        }
        std::size_t after = close;
        if (secret) {
            shown.replace(open + 1, quoted.size(), Hidden);
            after = open + 1 + std::string_view(Hidden).size();
        }
        open = shown.find('"', after + 1);
    }
    return shown;
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

std::unique_ptr<ProductionRecords> OpenProductionRecords(
    const std::string& choice, [[maybe_unused]] RecordsAccess access,
    [[maybe_unused]] std::function<void(LineDatabaseNotice, const std::string&)> notices) {
    if (choice == "none") {
        return std::make_unique<NullProductionRecords>();
    }
#ifdef VRAX_HAVE_POSTGRESQL
    if (IsLineDatabaseAddress(choice)) {
        const bool report = access == RecordsAccess::Report;
        auto server = std::make_unique<PostgresProductionRecords>(
            choice,
            report ? PostgresProductionRecords::Access::Report
                   : PostgresProductionRecords::Access::Station,
            RecordsWaitLimit, std::move(notices));
        if (access == RecordsAccess::Approval) {
            return server; // the approver's role: no outbox, nothing of a station's
        }
        const std::string outbox = DefaultOutboxPath();
        if (!report && !outbox.empty()) {
            server->SetStationIdentity(StationIdentityBeside(outbox));
        }
        std::unique_ptr<ProductionRecords> records = std::make_unique<OutboxProductionRecords>(
            std::move(server), outbox,
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
                           ShownAddress(choice) + "\"");
    }
#endif
    if (LooksLikeAddress(choice)) {
        // user:password@host, however mistyped the rest.
        std::string shown = ShownAddress(choice);
        const std::size_t at = shown.find('@');
        const std::size_t colon =
            at == std::string::npos ? std::string::npos : shown.rfind(':', at);
        if (colon != std::string::npos && shown.find_first_of("/\\", colon) > at) {
            shown.replace(colon + 1, at - colon - 1, "***");
        }
        throw RecordsError("Records \"" + shown +
                           "\": it reads as an address but is none this program knows (a line "
                           "database's begins postgresql://): check its spelling; a file of "
                           "such a name is given as ./NAME");
    }
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
