#include "host/HostName.h"
#include "host/ProcessFileLock.h"
#include "records/RecordsLocation.h"
#include "records/StationIdentity.h"
#include "records/postgres/OutboxProductionRecords.h"
#include "records/postgres/PostgresProductionRecords.h"
#include "tests/linedb/LineDatabaseFixture.h"

#include <gmock/gmock.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

namespace vrax::testing {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

ProductionRecord WritePass(int serialNumber) {
    ProductionRecord record;
    record.id = NewRecordId();
    record.time = UtcTimeWithMilliseconds();
    record.operation = "write";
    record.icType = "KVQM31X";
    record.productType = 5;
    record.serialNumber = serialNumber;
    record.verdict = "Write Pass";
    return record;
}

std::vector<std::string> Lines(const std::string& text) {
    std::istringstream stream(text);
    std::vector<std::string> lines;
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST_F(LineDatabase, KeepsTheFilesRulesForEveryStationAndRoleItMayPlay) {
    // A station's role cannot make the tables; the owner's first open does, once, however
    // many open at the same moment.
    EXPECT_THROW(
        {
            try {
                OpenProductionRecords(Address("station"));
            } catch (const RecordsError& error) {
                EXPECT_THAT(error.what(), HasSubstr("vrax_owner"));
                throw;
            }
        },
        RecordsError);
    std::vector<std::thread> owners;
    std::atomic<int> failures{0};
    for (int i = 0; i < 4; ++i) {
        owners.emplace_back([&] {
            try {
                OpenProductionRecords(Address("owner"));
            } catch (const RecordsError& error) {
                ADD_FAILURE() << error.what();
                ++failures;
            }
        });
    }
    for (std::thread& owner : owners) {
        owner.join();
    }
    EXPECT_EQ(failures, 0);

    auto station = OpenProductionRecords(Address("station"));
    // A record sent twice (its answer lost) is stored once.
    const ProductionRecord first = WritePass(0x10);
    station->ClaimSerialNumber(5, 0x10);
    station->Append(first);
    station->Append(first);
    EXPECT_EQ(station->Find({}).size(), 1u);
    EXPECT_EQ(station->Find({}).front().id, first.id);

    // What every store promises (reservations, claims, reports) is in the contract suite.

    // The trail is append-only for a station: no change, no removal, no new table.
    EXPECT_THAT(Sql("station", "DELETE FROM records"), HasSubstr("permission denied"));
    EXPECT_THAT(Sql("station", "UPDATE records SET verdict = 'Write Pass'"),
                HasSubstr("permission denied"));
    EXPECT_THAT(Sql("station", "UPDATE serials SET serial = 1"), HasSubstr("permission denied"));
    EXPECT_THAT(Sql("station", "DELETE FROM serials"), HasSubstr("permission denied"));
    EXPECT_THAT(Sql("station", "DROP TABLE records"), HasSubstr("must be owner"));
    EXPECT_THAT(Sql("station", "CREATE TABLE mine (x integer)"), HasSubstr("permission denied"));
    EXPECT_EQ(Value("owner", "SELECT count(*) FROM records"), "1");

    // Images are approved by the approver's role only; stations read the approvals.
    const ImageApproval approval{5, std::string(64, 'a'), "mouse.bin", "qa@lab", ""};
    EXPECT_THROW(station->ApproveImage(approval), RecordsError);
    OpenProductionRecords(Address("approver"), RecordsAccess::Approval)->ApproveImage(approval);
    ASSERT_EQ(station->FindApprovals(5).size(), 1u);
    EXPECT_EQ(station->FindApprovals(5).front().imageFile, "mouse.bin");
    EXPECT_THAT(Sql("approver", "DELETE FROM approvals"), HasSubstr("permission denied"));

    // A password never rides in an address, nor in what the error shows.
    std::string address = Address("station");
    address.insert(address.find('@'), ":secret");
    try {
        OpenProductionRecords(address);
        ADD_FAILURE() << "an address with a password was taken";
    } catch (const RecordsError& error) {
        EXPECT_THAT(error.what(), HasSubstr("password file"));
        EXPECT_THAT(error.what(), Not(HasSubstr("secret")));
    }
}

TEST_F(LineDatabase, FourStationsNeverStampOneSerialNumberTwice) {
    OpenProductionRecords(Address("owner"));
    // Four stations, two mice at a time each; every 26th mouse fails its factory record.
    std::vector<pid_t> stations;
    for (int station = 1; station <= 4; ++station) {
        stations.push_back(
            StartInBackground({"--records", Address("station"), "--sim", "kvqm31x:corrupt=0",
                               "--sim-mice", "260", "--sim-faulty-every", "26", "--gang", "2",
                               "--factory", "0005,20261208,000001,1,A," + std::to_string(station),
                               "line", imagePath, "--serial", "next"},
                              "station" + std::to_string(station)));
    }
    for (int station = 1; station <= 4; ++station) {
        const ProgramResult result =
            WaitFor(stations[station - 1], "station" + std::to_string(station));
        EXPECT_EQ(result.exitCode, 1) << result.err; // some mice failed
        EXPECT_THAT(result.out, HasSubstr("Mice: 260, passed 250, failed 10")) << result.err;
    }
    auto records = OpenProductionRecords(Address("station"), RecordsAccess::Report);
    std::set<int> passed;
    std::set<int> failed;
    for (const ProductionRecord& record : records->Find({})) {
        ASSERT_TRUE(record.serialNumber.has_value()) << record.verdict << " " << record.error;
        (record.verdict == "Write Pass" ? passed : failed).insert(*record.serialNumber);
    }
    EXPECT_EQ(passed.size(), 1000u);
    EXPECT_EQ(Value("station", "SELECT count(*) FROM records WHERE verdict = 'Write Pass'"),
              "1000");
    // Every number skipped between the passes is a failed mouse the records show.
    ASSERT_FALSE(passed.empty());
    for (int serial = *passed.begin(); serial < *passed.rbegin(); ++serial) {
        if (passed.count(serial) == 0) {
            EXPECT_EQ(failed.count(serial), 1u) << "serial number " << serial;
        }
    }
    EXPECT_TRUE(records->FindReservations().empty());

    // Every station's summary and the line report count the same shift.
    const ProgramResult summary = Run({"--records", Address("station"), "records", "--summary"});
    EXPECT_THAT(summary.out, ::testing::ContainsRegex("KVQM31X +all +1000 +40 "));
    const ProgramResult report =
        Run({"--records", Address("station"), "records", "--report", Path("line.html")});
    ASSERT_EQ(report.exitCode, 0) << report.err;
    const std::vector<std::uint8_t> page = ReadFile("line.html");
    EXPECT_THAT(std::string(page.begin(), page.end()),
                HasSubstr("<div class=\"v\">1\u2009000</div><div class=\"k\">passed</div>"));
}

// TLS to the server that the CA vouches for under the name asked for: a wrong name or another
// CA is refused before any mouse; an address without verify-full works, and says so once.
TEST_F(LineDatabase, IsReachedByAVerifiedConnectionOrSaysItIsNot) {
    OpenProductionRecords(Address("owner"), RecordsAccess::Station,
                          [](LineDatabaseNotice, const std::string&) {});
    const std::string plain = Address("station");
    const auto verified = [&](const std::string& host, const std::string& ca) {
        std::string address = plain;
        address.replace(address.find("@127.0.0.1:") + 1, 9, host);
        return address + "?sslmode=verify-full&sslrootcert=" + ServerFile(ca);
    };
    ProgramResult result =
        Run({"--records", verified("localhost", "ca.crt"), "--sim", "kvqm31x", "write", imagePath});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_THAT(result.err, Not(HasSubstr("not encrypted")));

    const ProgramResult otherName =
        Run({"--records", verified("127.0.0.1", "ca.crt"), "--sim", "kvqm31x", "write", imagePath});
    EXPECT_EQ(otherName.exitCode, 2) << otherName.err;
    EXPECT_THAT(otherName.err, HasSubstr("does not match host name \"127.0.0.1\""));
    const ProgramResult otherCa = Run({"--records", verified("localhost", "other-ca.crt"), "--sim",
                                       "kvqm31x", "write", imagePath});
    EXPECT_EQ(otherCa.exitCode, 2) << otherCa.err;
    EXPECT_THAT(otherCa.err, HasSubstr("certificate verify failed"));

    result = Run({"--records", plain, "--sim", "kvqm31x", "--sim-mice", "3", "line", imagePath});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const std::string warning = "Line database \"" + plain + "\": the connection is not encrypted";
    const auto first = result.err.find(warning);
    EXPECT_NE(first, std::string::npos) << result.err;
    EXPECT_EQ(result.err.find(warning, first + 1), std::string::npos) << result.err;
    EXPECT_EQ(Value("owner", "SELECT count(*) FROM records"), "4");

    EXPECT_THAT(Run({"--version"}).out, HasSubstr("OpenSSL 3."));
}

#ifndef _WIN32
// A PC named in bytes that are not UTF-8 (a name of its own in a namespace of this test) still
// opens and records, its name shown as the records show any such text.
TEST_F(LineDatabase, AStationWhoseNameIsNotUtf8StillRecords) {
    OpenProductionRecords(Address("owner"));
    const std::string command =
        "unshare -Ur -u python3 -c 'import os, socket, sys; socket.sethostname(b\"caf\\xe9\"); "
        "os.execv(sys.argv[1], sys.argv[1:])' " VRAX_CLI_PROGRAM " --records '" +
        Address("station") + "' --sim kvqm31x write '" + imagePath + "' >'" + Path("named.txt") +
        "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << Slurp(Path("named.txt"));
    EXPECT_EQ(Value("owner", "SELECT host FROM records WHERE operation = 'write'"), "caf\\xE9");
}
#endif

std::string ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const RecordsError& error) {
        return error.what();
    }
    return "";
}

// A station login took the advisory lock the reservations waited on, and every station's next
// number of that product type failed as "the server was lost".
TEST_F(LineDatabase, NoStationLoginStopsAProductTypesNumbersAndALockWaitNamesItsHolder) {
    OpenProductionRecords(Address("owner"));
    std::unique_ptr<PGconn, void (*)(PGconn*)> hostile(PQconnectdb(Address("station").c_str()),
                                                       PQfinish);
    ASSERT_EQ(PQstatus(hostile.get()), CONNECTION_OK);
    PQclear(PQexec(hostile.get(), "SELECT pg_advisory_lock(1448231256, 198)"));
    PGresult* locked = PQexec(hostile.get(), "SELECT 1 FROM product_type_locks FOR UPDATE");
    EXPECT_EQ(PQresultStatus(locked), PGRES_FATAL_ERROR);
    PQclear(locked);
    auto station = OpenProductionRecords(Address("station"));
    EXPECT_EQ(station->ReserveSerialNumber(198, 1), 1);

    // The owner's own session holding the lock: reservations go on, a claim's wait says whose.
    std::unique_ptr<PGconn, void (*)(PGconn*)> holder(PQconnectdb(Address("owner").c_str()),
                                                      PQfinish);
    PQclear(PQexec(holder.get(), "BEGIN; SELECT vrax_lock_product_type(198)"));
    EXPECT_EQ(station->ReserveSerialNumber(198, 1), 2);
    EXPECT_THAT(ErrorOf([&] { station->ClaimSerialNumber(198, 50); }),
                HasSubstr("waited 8 s for the lock on the serial numbers of product type 00C6, "
                          "held by role "));
    PQclear(PQexec(holder.get(), "ROLLBACK"));
    station->ClaimSerialNumber(198, 50);
    EXPECT_EQ(station->ReserveSerialNumber(198, 1), 51);
}

// A station whose number another role records under learned it from its first record, after
// the mouse was written.
TEST_F(LineDatabase, AStationNumberOfAnotherRoleIsRefusedBeforeAnyMouse) {
    OpenProductionRecords(Address("owner"));
    ASSERT_EQ(Sql("owner", "INSERT INTO station_roles VALUES (2, 'B', 3, 'someone_else')"), "");
    const ProgramResult result =
        Run({"--records", Address("station"), "--sim", "kvqm31x", "--trace", Path("trace.txt"),
             "--factory", "0005,20261208,000001,2,B,3", "write", imagePath});
    EXPECT_NE(result.exitCode, 0);
    EXPECT_THAT(result.err + result.out,
                HasSubstr("station 2-B-3 records as role someone_else, not station"));
    EXPECT_TRUE(ReadTrace("trace.txt").empty());
    EXPECT_EQ(Value("owner", "SELECT count(*) FROM records"), "0");
}

// libfaketime's clock functions hang a program built with a sanitizer's runtime as it starts.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VRAX_TEST_SANITIZED
#endif
#endif

// A station three years behind stored its passes as of then, out of today's reports, and the
// owner's function took a station's time of 2020 as it was given.
TEST_F(LineDatabase, RecordsKeepTheServersTimeAndAStationOffByMoreThanAMinuteHearsIt) {
    OpenProductionRecords(Address("owner"));
    const std::string year = UtcTimeWithMilliseconds().substr(0, 4);
    EXPECT_EQ(Sql("station", "SELECT vrax_add_record('x', '2020-01-01T00:00:00Z', 'verify', 1, "
                             "'A', 1, 'pc', 'KVQM31X', 1, 2, 'p', NULL, NULL, NULL, NULL, "
                             "'Verify Pass', 5, NULL, NULL)"),
              "");
    EXPECT_EQ(Value("owner", "SELECT left(time, 4) FROM records WHERE id = 'x'"), year);
    EXPECT_EQ(Value("owner", "SELECT station_time FROM records WHERE id = 'x'"),
              "2020-01-01T00:00:00Z");
#if !defined(_WIN32) && !defined(VRAX_TEST_SANITIZED)
    const std::string command =
        "FAKETIME_DONT_FAKE_MONOTONIC=1 faketime -f -1095d " VRAX_CLI_PROGRAM " --records '" +
        Address("station") + "' --sim kvqm31x write '" + imagePath + "' >'" + Path("clock.txt") +
        "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << Slurp(Path("clock.txt"));
    EXPECT_THAT(Slurp(Path("clock.txt")), HasSubstr("1095 days behind the server's"));
    EXPECT_EQ(Value("owner", "SELECT left(time, 4) FROM records WHERE operation = 'write'"), year);
    EXPECT_EQ(Value("owner", "SELECT left(station_time, 4) FROM records WHERE operation = 'write'"),
              std::to_string(std::stoi(year) - 3));
#endif
}

TEST_F(LineDatabase, NoFinishedMouseLosesItsRecordWhenTheServerIsLost) {
    StartOwnServer();
    const std::string station = Address("station");
    // Unreachable at the start: named, before any mouse.
    std::string closed = station;
    closed.replace(closed.rfind(':') + 1, closed.rfind('/') - closed.rfind(':') - 1, "1");
    ProgramResult result = Run({"--records", closed, "--sim", "kvqm31x", "write", imagePath});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_THAT(result.err, HasSubstr("cannot connect to the server"));
    EXPECT_THAT(result.err, HasSubstr("127.0.0.1:1/vrax_line"));
    OpenProductionRecords(Address("owner"));

    // The server stops for good measure in the middle of a gang line of real-time mice whose
    // writes stamp nothing: their records wait in the outbox and go when it is back.
    const auto Text = [&](const std::string& name) {
        const std::vector<std::uint8_t> bytes = ReadFile(name);
        return std::string(bytes.begin(), bytes.end());
    };
    const auto lostDuring = [&](const std::vector<std::string>& arguments, const std::string& tag) {
        const pid_t line = StartInBackground(arguments, tag);
        EXPECT_TRUE(WaitUntil([&] { return Lines(Text(tag + "out.txt")).size() >= 4; },
                              std::chrono::seconds(30)));
        ServerCommand("stop");
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        ServerCommand("resume");
        return WaitFor(line, tag);
    };
    result = lostDuring({"--records", station, "--sim", "kvqm31x", "--real-time", "--sim-mice",
                         "16", "--gang", "4", "line", imagePath},
                        "plain");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_THAT(result.out, HasSubstr("Mice: 16, passed 16"));
    EXPECT_EQ(Value("owner", "SELECT count(*) FROM records"), "16");
    EXPECT_EQ(Value("owner", "SELECT count(DISTINCT id) FROM records"), "16");

    // Serial numbers need the server: while it is gone those mice are refused, unwritten,
    // and the line goes on; what finished meanwhile waits and is sent by the next station.
    result = lostDuring({"--records", station, "--sim", "kvqm31x", "--real-time", "--sim-mice",
                         "12", "--gang", "4", "--factory", "0005,20261208,000001,1,A,1", "line",
                         imagePath, "--serial", "next"},
                        "serial");
    // A line that ends before the server is back says so.
    const bool waits = result.err.find("Records waiting in this PC's outbox") != std::string::npos;
    EXPECT_EQ(result.exitCode, waits ? 4 : 0) << result.err;
    int shown = 0;
    for (const std::string& line : Lines(result.out)) {
        shown += line.find("Write Pass") != std::string::npos ? 1 : 0;
    }
    ASSERT_THAT(result.out, HasSubstr("needs the line database"));
    const ProgramResult summary = Run({"--records", station, "records", "--summary"});
    const ProgramResult next =
        Run({"--records", station, "--sim", "kvqm31x", "--factory", "0005,20261208,000001,1,A,1",
             "line", imagePath, "--sim-mice", "1", "--serial", "next"});
    EXPECT_EQ(next.exitCode, 0) << next.err;
    EXPECT_EQ(Value("owner", "SELECT count(*) FROM records WHERE serial IS NOT NULL"),
              std::to_string(shown + 1))
        << summary.out;
    EXPECT_EQ(Value("owner", "SELECT count(DISTINCT serial) FROM records"),
              std::to_string(shown + 1));
    EXPECT_EQ(Value("owner", "SELECT count(*) FROM serials WHERE state = 'reserved'"), "0");
    const ProgramResult after = Run({"--records", station, "records", "--summary"});
    EXPECT_THAT(after.out, Not(HasSubstr("Waiting in this PC's outbox")));
}

TEST_F(LineDatabase, AWriteThatEndedUnrecordedKeepsItsNumberAndOnlyItsStationSettlesIt) {
    OpenProductionRecords(Address("owner"));
    // Two users of one PC, or two PCs cloned under one host name: an outbox each.
    const auto pc = [&](const std::string& name) {
        SetVariable("XDG_DATA_HOME", Path(name));
        SetVariable("LOCALAPPDATA", Path(name));
        return StationIdentityBeside(DefaultOutboxPath());
    };
    // pc2's line was killed while it wrote SN 000017: the reservation of a process now gone.
    const std::string pc2 = pc("pc2");
    const pid_t gone = StartInBackground({"--version"}, "gone");
    WaitFor(gone, "gone");
    EXPECT_EQ(Sql("owner", "INSERT INTO serials (product_type, serial, state, time, host, "
                           "process, process_start, station) VALUES (5, 23, 'reserved', "
                           "'2026-12-08T10:00:00.000Z', '" +
                               HostName() + "', " + std::to_string(gone) + ", '', '" + pc2 + "')"),
              "");
    const auto state = [&] {
        return Value("owner", "SELECT state FROM serials WHERE serial = 23");
    };
    pc("pc1");
    auto pc1 = OpenProductionRecords(Address("station"));
    EXPECT_EQ(state(), "reserved"); // its pass may still wait in pc2's outbox
    EXPECT_THROW(pc1->ClaimSerialNumber(5, 0x17), RecordsError);
    pc("pc2");
    OpenProductionRecords(Address("station")); // pc2's outbox is empty: settled, never released
    EXPECT_EQ(state(), "unknown");

    // Taken for good: a fixed serial number is refused, --serial next goes above it, and the
    // reports show it.
    pc("pc1");
    const std::vector<std::string> line = {
        "--records", Address("station"),           "--sim", "kvqm31x", "--sim-mice", "1",
        "--factory", "0005,20261208,000017,1,A,1", "line",  imagePath};
    ProgramResult result = Run(line);
    EXPECT_THAT(result.out + result.err, HasSubstr("may already be on a mouse"));
    EXPECT_THAT(result.out, Not(HasSubstr("Write Pass")));
    std::vector<std::string> next = line;
    next.insert(next.end(), {"--serial", "next"});
    EXPECT_THAT(Run(next).out, HasSubstr("000018  Write Pass"));
    EXPECT_THAT(Run({"--records", Address("station"), "records", "--summary"}).out,
                HasSubstr("Serial numbers a mouse may carry without its record: 1"));
    result = Run({"--records", Address("station"), "records", "--duplicates"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_THAT(result.out, HasSubstr("000017"));
    ASSERT_EQ(
        Run({"--records", Address("station"), "records", "--report", Path("line.html")}).exitCode,
        0);
    const std::vector<std::uint8_t> page = ReadFile("line.html");
    EXPECT_THAT(std::string(page.begin(), page.end()), HasSubstr("written without its record"));
    // A pass of it from elsewhere (a program of an older version) is a mouse too many.
    EXPECT_EQ(Sql("owner", "INSERT INTO records (id, time, operation, product_type, serial, "
                           "verdict) VALUES ('old', '2026-12-08T11:00:00.000Z', 'write', 5, 23, "
                           "'Write Pass')"),
              "");
    result = Run({"--records", Address("station"), "records", "--duplicates"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.out, HasSubstr("SN 000017 may be on two mice"));
}

TEST_F(LineDatabase, StationsAndApproversChangeItOnlyThroughTheOwnersCheckedFunctions) {
    OpenProductionRecords(Address("owner"));
    auto station = OpenProductionRecords(Address("station"));
    ProductionRecord pass = WritePass(station->ReserveSerialNumber(5, 0x20));
    pass.factory = 1;
    pass.line = 'A';
    pass.station = 1;
    pass.host = "forged";
    station->Append(pass);
    // The server names who sent it and when it came, whatever the station says.
    EXPECT_EQ(Value("owner", "SELECT role || ' ' || (stored > now() - interval '1 minute') FROM "
                             "records"),
              "station true");

    // No table changes but through the functions: the stations' denial of service and forged
    // passes of before.
    for (const char* sql : {"INSERT INTO serials VALUES (5, 16777215, 'released', 'x')",
                            "UPDATE serials SET state = 'released'",
                            "INSERT INTO records (id, time, operation) VALUES ('x', 'y', 'write')",
                            "INSERT INTO station_opens (host) VALUES ('x')"}) {
        EXPECT_THAT(Sql("station", sql), HasSubstr("permission denied")) << sql;
    }
    EXPECT_THAT(Sql("approver", "INSERT INTO approvals (product_type, image_sha256, image_file, "
                                "approver, role, time) VALUES (5, 'a', 'f', 'x', 'y', 'z')"),
                HasSubstr("permission denied"));
    // Each function checks what it is given, and lets a role act only as itself.
    const std::string record = "SELECT vrax_add_record('r%', '2026-12-08T10:00:00.000Z', 'write', "
                               "%, 'A', 1, 'h', 'KVQM31X', 0, 0, 'p', '', '', '', %, "
                               "'Write Pass', 1, '', 5)";
    const auto with = [](std::string text, const std::vector<std::string>& values) {
        for (const std::string& value : values) {
            text.replace(text.find('%'), 1, value);
        }
        return text;
    };
    EXPECT_THAT(Sql("station", with(record, {"1", "1", "16777215"})), HasSubstr("not reserved"));
    EXPECT_THAT(Sql("station2", with(record, {"2", "1", "NULL"})),
                HasSubstr("station 1-A-1 records as role station"));
    EXPECT_EQ(Sql("station2", with(record, {"3", "2", "NULL"})), "");
    EXPECT_THAT(Sql("station", "SELECT vrax_reserve(5, 16777216, 'h', 1, '', '')"),
                HasSubstr("not one of 000000 to FFFFFF"));
    EXPECT_EQ(Sql("station2", "SELECT vrax_settle(5, 32, false)"), "");
    EXPECT_EQ(Sql("station2", "SELECT vrax_settle_abandoned(5, 32)"), "");
    EXPECT_EQ(Value("owner", "SELECT state FROM serials WHERE serial = 32"), "reserved");
    // Their search path is fixed: a station's own temporary table is not theirs.
    EXPECT_EQ(Sql("station", "CREATE TEMP TABLE serials (product_type integer, serial integer); "
                             "SELECT vrax_claim(5, 64, 'h', 1, '', '')"),
              "");
    EXPECT_EQ(Value("owner", "SELECT role FROM serials WHERE serial = 64"), "station");
    EXPECT_EQ(station->ReserveSerialNumber(5, 1), 65);

    // An approval is the approver's role's, at the server's time.
    EXPECT_THAT(Sql("station", "SELECT vrax_approve(5, repeat('a', 64), 'f')"),
                HasSubstr("permission denied"));
    EXPECT_THAT(Sql("approver", "SELECT vrax_approve(5, 'not a hash', 'f')"), HasSubstr("SHA-256"));
    const ImageApproval approved =
        OpenProductionRecords(Address("approver"), RecordsAccess::Approval)
            ->ApproveImage({5, std::string(64, 'b'), "mouse.bin", "qa@lab", "1999-01-01"});
    EXPECT_EQ(approved.approver, "approver");
    EXPECT_EQ(approved.time.substr(0, 4), UtcTimeWithMilliseconds().substr(0, 4));
    EXPECT_EQ(Value("owner", "SELECT role FROM approvals"), "approver");
}

// A server of the test's own, with its tables, and records a station kept in this PC's outbox
// while that server was stopped.
class Outbox : public LineDatabase {
protected:
    Outbox() {
        StartOwnServer();
        OpenProductionRecords(Address("owner"));
    }

    void KeepWhileStopped(const std::vector<ProductionRecord>& records) {
        auto station = OpenProductionRecords(Address("station"));
        // A station records only the writes of numbers it holds.
        for (const ProductionRecord& record : records) {
            station->ClaimSerialNumber(*record.productType, *record.serialNumber);
        }
        ServerCommand("stop");
        for (const ProductionRecord& record : records) {
            station->Append(record);
        }
        station.reset();
        ServerCommand("resume");
    }

    std::string OutboxFile() const { return DefaultOutboxPath(); }

    std::string Records() const { return Value("owner", "SELECT count(*) FROM records"); }
};

ProductionRecord OfMouse(int serialNumber, const std::string& path) {
    ProductionRecord record = WritePass(serialNumber);
    record.devicePath = path;
    return record;
}

TEST_F(Outbox, SendsWhatWaitsForItsServerHoweverTheAddressIsSpelled) {
    const std::string address = Address("station");
    KeepWhileStopped({WritePass(1), WritePass(2), WritePass(3)});
    // As an earlier version kept it: under the address as it was spelled.
    sqlite3* outbox = nullptr;
    ASSERT_EQ(sqlite3_open(OutboxFile().c_str(), &outbox), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(
                  outbox, ("UPDATE outbox SET server = '" + address + "' WHERE serial = 3").c_str(),
                  nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(outbox);

    std::string uri = address;
    uri.replace(0, uri.find("://"), "postgres");
    EXPECT_THAT(Run({"--records", uri, "records", "--summary"}).out,
                HasSubstr("outbox for the line database: 3 records"));
#ifndef _WIN32
    // A report run by another user would leave its own journal files the station cannot write.
    EXPECT_FALSE(std::filesystem::exists(OutboxFile() + "-wal") ||
                 std::filesystem::exists(OutboxFile() + "-shm"));
#endif
    const std::string port =
        address.substr(address.rfind(':') + 1, address.rfind('/') - address.rfind(':') - 1);
    OpenProductionRecords("dbname=vrax_line user=station port=" + port + " host=127.0.0.1");
    EXPECT_EQ(Records(), "3");
    // Kept under 127.0.0.1, sent by a station that names the server localhost.
    KeepWhileStopped({WritePass(4)});
    std::string localhost = address;
    localhost.replace(localhost.find("@127.0.0.1:") + 1, 9, "localhost");
    OpenProductionRecords(localhost);
    EXPECT_EQ(Records(), "4");
    EXPECT_THAT(Run({"--records", uri, "records", "--summary"}).out, Not(HasSubstr("outbox")));
}

TEST_F(Outbox, NothingTheServerRefusesHoldsUpTheRest) {
    ASSERT_EQ(
        Sql("owner", "ALTER TABLE records ADD CONSTRAINT no_scrap CHECK (verdict <> 'Scrap')"), "");
    ProductionRecord latin = WritePass(1);
    latin.imageFile = "caf\xe9.bin";
    ProductionRecord scrap = OfMouse(2, "mouse-2");
    scrap.verdict = "Scrap";
    KeepWhileStopped({latin, scrap, WritePass(3)});
    OpenProductionRecords(Address("station"));
    EXPECT_EQ(Records(), "2");
#ifdef _WIN32
    // A name in the code page: é.
    EXPECT_EQ(Value("owner", "SELECT image_file FROM records WHERE serial = 1"), "caf\xC3\xA9.bin");
#else
    EXPECT_EQ(Value("owner", "SELECT image_file FROM records WHERE serial = 1"), "caf\\xE9.bin");
#endif
    const ProgramResult summary = Run({"--records", Address("station"), "records", "--summary"});
    EXPECT_THAT(summary.out, HasSubstr("Set aside in this PC's outbox"));
    EXPECT_THAT(summary.out, HasSubstr("mouse-2  SN 000002 of product type 0005  Scrap"));
    EXPECT_THAT(summary.out, HasSubstr("no_scrap"));
    EXPECT_THAT(summary.out, Not(HasSubstr("Waiting")));

    // One the owner's checks refuse (a number nobody reserved) is set aside too: no station of
    // this PC is kept from starting by it.
    auto station = OpenProductionRecords(Address("station"));
    ServerCommand("stop");
    station->Append(OfMouse(7, "mouse-7"));
    station.reset();
    ServerCommand("resume");
    EXPECT_NO_THROW(OpenProductionRecords(Address("station")));
    EXPECT_THAT(Run({"--records", Address("station"), "records", "--summary"}).out,
                AllOf(HasSubstr("mouse-7  SN 000007"),
                      HasSubstr("was not reserved by role station"), Not(HasSubstr("Waiting"))));

#ifndef _WIN32 // Windows names files in its code page, which converts
    // An image whose name the records cannot keep is refused before any mouse.
    WriteFile("caf\xe9.bin", image);
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"write", Path("caf\xe9.bin")},
          std::vector<std::string>{"--sim-mice", "1", "line", Path("caf\xe9.bin")}}) {
        std::vector<std::string> arguments{"--records", Address("station"), "--sim", "kvqm31x"};
        arguments.insert(arguments.end(), command.begin(), command.end());
        const ProgramResult result = Run(arguments);
        EXPECT_EQ(result.exitCode, 2) << result.err;
        EXPECT_THAT(result.err, HasSubstr("caf\\xE9.bin\": its name is not UTF-8"));
        EXPECT_THAT(result.out, Not(HasSubstr("Pass")));
    }
#endif
}

TEST_F(Outbox, ARecordTheServerCannotStoreWaitsLikeOneItCannotReach) {
    ASSERT_EQ(Sql("owner", R"(CREATE FUNCTION full_disk() RETURNS trigger LANGUAGE plpgsql AS
                              $$BEGIN RAISE EXCEPTION USING ERRCODE = 'disk_full',
                              MESSAGE = 'could not extend file: No space left on device'; END$$;
                              CREATE TRIGGER full_disk BEFORE INSERT ON records FOR EACH ROW
                              EXECUTE FUNCTION full_disk())"),
              "");
    auto station = OpenProductionRecords(Address("station"));
    station->ClaimSerialNumber(5, 1);
    EXPECT_NO_THROW(station->Append(WritePass(1)));
    station.reset();
    EXPECT_EQ(Records(), "0");
    ASSERT_EQ(Sql("owner", "DROP TRIGGER full_disk ON records"), "");
    OpenProductionRecords(Address("station"));
    EXPECT_EQ(Records(), "1");
}

// A station killed mid-send while the PC's clock ran a year ahead held the turn, as an earlier
// version kept it, until that year came: the turn now dies with its process.
TEST_F(Outbox, ATurnToSendIsHeldByALiveProcessNeverByAClock) {
    KeepWhileStopped({WritePass(1), WritePass(2)});
    sqlite3* outbox = nullptr;
    ASSERT_EQ(sqlite3_open(OutboxFile().c_str(), &outbox), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(outbox,
                           "UPDATE sender SET holder = 'killed', until = "
                           "CAST(unixepoch('now', '+1 year') AS INTEGER) * 1000",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(outbox);
    {
        // While a live station sends, the others leave theirs behind it.
        ProcessFileLock sending(OutboxFile() + ".sending");
        ASSERT_TRUE(sending.TryLock());
        OpenProductionRecords(Address("station"));
        EXPECT_EQ(Records(), "0");
    }
    OpenProductionRecords(Address("station"));
    EXPECT_EQ(Records(), "2");
}

#ifndef _WIN32
// Last night's dump restored mid-shift: the line stamped its numbers a second time, and nothing
// said so.
TEST_F(Outbox, ARestoredBackupHandsOutNoNumberAgainAndTheDuplicatesShowWhatWas) {
    const auto line = [&](const std::string& mice) {
        return Run({"--records", Address("station"), "--sim", "kvqm31x", "--sim-mice", mice,
                    "--factory", "0061,20261208,000001,1,A,1", "line", imagePath, "--serial",
                    "next"});
    };
    ASSERT_EQ(line("3").exitCode, 0); // 000001-000003
    const std::string dump = Path("line.dump");
    const std::string owner = "'" + Address("owner") + "'";
    ASSERT_EQ(std::system(("pg_dump -Fc -f '" + dump + "' " + owner).c_str()), 0);
    ASSERT_EQ(line("5").exitCode, 0); // 000004-000008, lost by the restore
    ASSERT_EQ(
        std::system(("pg_restore --clean --if-exists -d " + owner + " '" + dump + "'").c_str()), 0);

    // A PC of its own that never saw those numbers takes two of them again.
    const char* thisPc = std::getenv("XDG_DATA_HOME");
    const std::string kept = thisPc != nullptr ? thisPc : "";
    SetVariable("XDG_DATA_HOME", Path("other-pc"));
    EXPECT_EQ(line("2").exitCode, 0);
    if (thisPc != nullptr) {
        SetVariable("XDG_DATA_HOME", kept);
    } else {
        unsetenv("XDG_DATA_HOME");
    }

    // This PC remembers 000008: no number until the owner has looked.
    ProgramResult refused = line("1");
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_THAT(refused.err + refused.out, HasSubstr("went back in time"));
    EXPECT_THAT(refused.out, Not(HasSubstr("Write Pass")));
    EXPECT_THAT(Run({"--records", Address("station"), "records", "--summary"}).out,
                HasSubstr("remembered SN 000008, where the server knew up to 000005"));
    const ProgramResult acknowledged =
        Run({"--records", Address("owner"), "records", "--acknowledge-restore"});
    EXPECT_EQ(acknowledged.exitCode, 0) << acknowledged.err;
    EXPECT_THAT(acknowledged.out, HasSubstr("Product type 0061"));

    ASSERT_EQ(line("2").exitCode, 0);
    EXPECT_EQ(Value("owner", "SELECT string_agg(serial::text, ',' ORDER BY seq) FROM records "
                             "WHERE verdict = 'Write Pass'"),
              "1,2,3,4,5,9,10");
    const ProgramResult duplicates =
        Run({"--records", Address("station"), "records", "--duplicates"});
    EXPECT_EQ(duplicates.exitCode, 1);
    EXPECT_THAT(duplicates.out,
                AllOf(HasSubstr("SN 000004 may be on two mice"),
                      HasSubstr("SN 000005 may be on two mice"), Not(HasSubstr("SN 000009"))));
}
#endif

TEST_F(Outbox, StationsSharingItGoOnWhileOneSendsTheBacklog) {
    // 50 ms a record: the backlog takes the server five seconds.
    ASSERT_EQ(Sql("owner", R"(CREATE FUNCTION slowly() RETURNS trigger LANGUAGE plpgsql AS
                              $$BEGIN PERFORM pg_sleep(0.05); RETURN NEW; END$$;
                              CREATE TRIGGER slowly BEFORE INSERT ON records FOR EACH ROW
                              EXECUTE FUNCTION slowly())"),
              "");
    std::vector<ProductionRecord> backlog;
    for (int serial = 1; serial <= 100; ++serial) {
        backlog.push_back(WritePass(serial));
    }
    KeepWhileStopped(backlog);
    std::thread sender([&] {
        try {
            OpenProductionRecords(Address("station"));
        } catch (const RecordsError& error) {
            ADD_FAILURE() << error.what();
        }
    });
    EXPECT_TRUE(WaitUntil([&] { return Records() != "0"; }, std::chrono::seconds(30)));
    const auto start = std::chrono::steady_clock::now();
    auto other = OpenProductionRecords(Address("station"));
    other->ClaimSerialNumber(5, 101);
    other->Append(WritePass(101));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    sender.join();
    other.reset();
    EXPECT_EQ(Records(), "101");
}

TEST_F(Outbox, ALineEndsSayingWhatWaitsAndStopsWhenTheOutboxIsDeleted) {
    const pid_t line = StartInBackground({"--records", Address("station"), "--sim", "kvqm31x",
                                          "--real-time", "--sim-mice", "6", "line", imagePath},
                                         "line");
    EXPECT_TRUE(
        WaitUntil([&] { return ReadLines("lineout.txt").size() >= 2; }, std::chrono::seconds(30)));
    ServerCommand("stop");
    const ProgramResult result = WaitFor(line, "line");
    EXPECT_EQ(result.exitCode, 4) << result.err;
    EXPECT_THAT(result.err,
                HasSubstr("Records waiting in this PC's outbox for the line database: "));
    ServerCommand("resume");

#ifndef _WIN32 // Windows refuses to delete a file in use
    auto station = OpenProductionRecords(Address("station"));
    EXPECT_EQ(Records(), "6");
    ServerCommand("stop");
    station->Append(OfMouse(1, "mouse-1"));
    station->Append(OfMouse(2, "mouse-2"));
    std::filesystem::remove(OutboxFile());
    try {
        station->Append(OfMouse(3, "mouse-3"));
        ADD_FAILURE() << "a record went into a deleted outbox";
    } catch (const RecordsError& error) {
        EXPECT_THAT(error.what(), HasSubstr("deleted or replaced"));
        EXPECT_THAT(error.what(), HasSubstr("mouse-1  SN 000001"));
        EXPECT_THAT(error.what(), HasSubstr("mouse-2  SN 000002"));
    }
    EXPECT_EQ(station->WaitingToSend(), 0);
#endif
}

} // namespace
} // namespace vrax::testing
