#include "tests/linedb/LineDatabaseFixture.h"

#include <libpq-fe.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vrax::testing {

namespace {

std::string FirstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

std::string WithDatabase(const std::string& address, const std::string& database) {
    // "postgresql://role@127.0.0.1:port/vrax_line[?...]": the path names the database.
    const auto slash = address.find('/', address.find("://") + 3);
    const auto query = address.find('?', slash);
    return address.substr(0, slash + 1) + database +
           (query == std::string::npos ? "" : address.substr(query));
}

using Connection = std::unique_ptr<PGconn, void (*)(PGconn*)>;

} // namespace

LineDatabase::LineDatabase() {
    const char* server = std::getenv("VRAX_TEST_LINE_DATABASE");
    if (server == nullptr) {
        ADD_FAILURE() << "VRAX_TEST_LINE_DATABASE is not set: run these tests through ctest, "
                         "which starts the server";
        return;
    }
    server_ = server;
    SetVariable("PGPASSFILE", server_ + "/passfile");
    static int counter = 0;
    database_ = "test_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    const std::string admin = FirstLine(server_ + "/admin.uri");
    for (const std::string& sql : {"DROP DATABASE IF EXISTS " + database_,
                                   "CREATE DATABASE " + database_ + " OWNER vrax_owner"}) {
        Connection connection(PQconnectdb(WithDatabase(admin, "postgres").c_str()), PQfinish);
        PGresult* result = PQexec(connection.get(), sql.c_str());
        EXPECT_EQ(PQresultStatus(result), PGRES_COMMAND_OK) << PQerrorMessage(connection.get());
        PQclear(result);
    }
    Connection connection(PQconnectdb(WithDatabase(admin, database_).c_str()), PQfinish);
    PGresult* result =
        PQexec(connection.get(), "REVOKE ALL ON SCHEMA public FROM PUBLIC; "
                                 "GRANT USAGE ON SCHEMA public TO vrax_station, vrax_approver; "
                                 "ALTER SCHEMA public OWNER TO vrax_owner");
    EXPECT_EQ(PQresultStatus(result), PGRES_COMMAND_OK) << PQerrorMessage(connection.get());
    PQclear(result);
}

LineDatabase::~LineDatabase() {
    if (!ownServer_.empty()) {
        ServerCommand("remove");
    }
}

std::string LineDatabase::Address(const std::string& role) const {
    const std::string folder = ownServer_.empty() ? server_ : ownServer_;
    return WithDatabase(FirstLine(folder + "/" + role + ".uri"),
                        ownServer_.empty() ? database_ : "vrax_line");
}

std::string LineDatabase::ServerFile(const std::string& name) const {
    return (ownServer_.empty() ? server_ : ownServer_) + "/" + name;
}

std::string LineDatabase::Sql(const std::string& role, const std::string& sql) const {
    Connection connection(PQconnectdb(Address(role).c_str()), PQfinish);
    if (PQstatus(connection.get()) != CONNECTION_OK) {
        return PQerrorMessage(connection.get());
    }
    PGresult* result = PQexec(connection.get(), sql.c_str());
    const ExecStatusType status = PQresultStatus(result);
    std::string error =
        status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK ? "" : PQresultErrorMessage(result);
    PQclear(result);
    return error;
}

std::string LineDatabase::Value(const std::string& role, const std::string& sql) const {
    Connection connection(PQconnectdb(Address(role).c_str()), PQfinish);
    PGresult* result = PQexec(connection.get(), sql.c_str());
    std::string value;
    if (PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) > 0) {
        value = PQgetvalue(result, 0, 0);
    } else {
        ADD_FAILURE() << sql << ": " << PQerrorMessage(connection.get());
    }
    PQclear(result);
    return value;
}

std::string LineDatabase::StartOwnServer() {
#ifdef _WIN32
    // Under Wine the server's folder is the host's, beside the run's server: the script runs
    // there, and a path from the root of the current drive reaches it from here too.
    ownServer_ = server_ + "-" + std::to_string(getpid());
#else
    ownServer_ = Path("server");
#endif
    ServerCommand("start");
    SetVariable("PGPASSFILE", ownServer_ + "/passfile");
    return ownServer_;
}

void LineDatabase::ServerCommand(const std::string& command) const {
    const std::string line =
        std::string(VRAX_PG_SERVER_SCRIPT) + " " + command + " " + ownServer_ + " >/dev/null";
#ifdef _WIN32
    // Wine runs a program of the host (ELF) when asked to, but cannot wait for it: it leaves
    // its status in a file.
    const std::string done = ownServer_ + ".done";
    std::filesystem::remove(done);
    std::string shell = "/bin/sh -c \"" + line + "; echo $? >" + done + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessA(nullptr, shell.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process))
        << shell;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::string status;
    for (int waited = 0; waited < 1200 && status.empty(); ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        status = FirstLine(done);
    }
    std::filesystem::remove(done);
    ASSERT_EQ(status, "0") << line;
#else
    ASSERT_EQ(std::system(line.c_str()), 0) << line;
#endif
}

} // namespace vrax::testing
