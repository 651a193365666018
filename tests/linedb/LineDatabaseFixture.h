#pragma once

#include "tests/cli/CliFixture.h"

#include <string>

struct pg_conn;

namespace vrax::testing {

// A database of its own on the run's PostgreSQL server for each test, set up as the factory's
// SQL does, and the command-line program to run against it.
class LineDatabase : public CliFixture {
protected:
    LineDatabase();
    ~LineDatabase() override;

    // The address of this test's database for a role: "owner", "station" or "approver".
    std::string Address(const std::string& role) const;
    // Runs SQL as role straight through libpq; returns the server's error, empty when it ran.
    std::string Sql(const std::string& role, const std::string& sql) const;
    // The first column of the first row.
    std::string Value(const std::string& role, const std::string& sql) const;

    // A file of the server's folder, as pg-server.sh left it (its CA certificates, say).
    std::string ServerFile(const std::string& name) const;
    // A server of the test's own, which it may stop and start: pg-server.sh's folder.
    std::string StartOwnServer();
    void ServerCommand(const std::string& command) const;

private:
    std::string server_;   // the run's server's folder
    std::string database_; // this test's database
    std::string ownServer_;
};

} // namespace vrax::testing
