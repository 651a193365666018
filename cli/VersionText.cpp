#include "cli/VersionText.h"

#ifdef VRAX_HAVE_SQLITE
#include <sqlite3.h>
#endif

#include <vector>

#ifdef VRAX_HAVE_OPENSSL
#include <openssl/crypto.h>
#include <openssl/opensslv.h>
#endif

#ifdef VRAX_HAVE_POSTGRESQL
#include <libpq-fe.h>
// Last: PG_VERSION_NUM comes with the build's configuration macros, which nothing else reads.
#include <pg_config.h>
#endif

#ifndef VRAX_VERSION
#error "VRAX_VERSION, the project's version, comes from the top-level CMakeLists.txt"
#endif

namespace vrax {

namespace {

struct Library {
    std::string name;
    std::string builtWith; // the version of the headers the program was compiled with
    std::string running;   // the version of the library the program runs with
};

#ifdef VRAX_HAVE_POSTGRESQL
// libpq numbers its versions as major * 10000 + minor since 10: 150018 is 15.18.
std::string PostgresVersion(int number) {
    return std::to_string(number / 10000) + "." + std::to_string(number % 10000);
}
#endif

// Every library linked into the program, each under its own licence. A new one joins here;
// Qt, say, were the command line ever to link it: {"Qt", QT_VERSION_STR, qVersion()}.
std::vector<Library> LinkedLibraries() {
    std::vector<Library> libraries;
#ifdef VRAX_HAVE_SQLITE
    libraries.push_back({"SQLite", SQLITE_VERSION, sqlite3_libversion()});
#endif
#ifdef VRAX_HAVE_POSTGRESQL
    libraries.push_back(
        {"libpq", PostgresVersion(PG_VERSION_NUM), PostgresVersion(PQlibVersion())});
#endif
#ifdef VRAX_HAVE_OPENSSL
    // libpq's TLS to the line database.
    libraries.push_back({"OpenSSL", OPENSSL_VERSION_STR, OpenSSL_version(OPENSSL_VERSION_STRING)});
#endif
    return libraries;
}

} // namespace

std::string VersionText() {
    std::string text = "vrax-bin-writer-cli " VRAX_VERSION "\n"
                       "Copyright (c) 2026 VRAX 2K-Bin Writer contributors\n";
#ifdef _WIN32
    text += "Licence: MIT, see LICENSE.txt beside the program; the licences of the libraries\n"
            "linked into it are in LICENSES\\ beside it.\n";
#else
    text += "Licence: MIT, see /usr/share/doc/vrax-bin-writer/copyright or LICENSE in the\n"
            "source; each library keeps its own licence.\n";
#endif
    const std::vector<Library> libraries = LinkedLibraries();
    text +=
        libraries.empty() ? "Built with no library besides the C++ runtime.\n" : "Built with:\n";
    for (const Library& library : libraries) {
        text += "  " + library.name + " " + library.builtWith;
        if (library.running != library.builtWith) {
            text += " (running with " + library.running + ")";
        }
        text += "\n";
    }
    return text;
}

} // namespace vrax
