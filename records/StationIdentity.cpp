#include "records/StationIdentity.h"

#include "records/ProductionRecords.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

namespace vrax {

namespace {

std::string Read(const std::filesystem::path& file) {
    std::ifstream stream(file);
    std::string identity;
    std::getline(stream, identity);
    const bool valid =
        identity.size() == 32 && std::all_of(identity.begin(), identity.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) != 0;
        });
    return valid ? identity : std::string{};
}

} // namespace

std::string StationIdentityBeside(const std::string& outboxPath) {
    std::filesystem::path file(outboxPath);
    file.replace_extension(".station");
    if (std::string identity = Read(file); !identity.empty()) {
        return identity;
    }
    std::random_device random;
    std::string made;
    for (int i = 0; i < 4; ++i) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
        made += part;
    }
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    // Written aside, then linked into place, which fails when another program of the PC made
    // it first: every program of this outbox ends up with the same name.
    std::filesystem::path aside = file;
    aside += "." + made;
    {
        std::ofstream stream(aside, std::ios::trunc);
        stream << made << '\n';
        stream.flush();
        if (!stream) {
            throw RecordsError("Station identity \"" + file.string() + "\": cannot be written");
        }
    }
    std::filesystem::create_hard_link(aside, file, error);
    std::filesystem::remove(aside, error);
    std::string identity = Read(file);
    if (identity.empty()) {
        throw RecordsError("Station identity \"" + file.string() +
                           "\": cannot be read (remove it and a new one is made)");
    }
    return identity;
}

} // namespace vrax
