#include "records/OutboxProductionRecords.h"
#include "records/PostgresProductionRecords.h"
#include "records/RecordsLocation.h"
#include "tests/linedb/LineDatabaseFixture.h"

#include <gmock/gmock.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

namespace vrax::testing {
namespace {

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
    station->Append(first);
    station->Append(first);
    EXPECT_EQ(station->Find({}).size(), 1u);
    EXPECT_EQ(station->Find({}).front().id, first.id);

    // Reservations go above everything stamped; a stamped number cannot be claimed again.
    EXPECT_EQ(station->ReserveSerialNumber(5, 1), 0x11);
    EXPECT_EQ(station->ReserveSerialNumber(5, 1), 0x12);
    EXPECT_EQ(station->ReserveSerialNumber(6, 1), 1);
    station->SettleSerialNumber(5, 0x11, false);
    try {
        station->ClaimSerialNumber(5, 0x10);
        ADD_FAILURE() << "a stamped serial number was claimed";
    } catch (const RecordsError& error) {
        EXPECT_THAT(error.what(), HasSubstr("SN 000010 of product type 0005 is already stamped"));
    }
    station->ClaimSerialNumber(5, 0x11); // released: a claim may take it
    station->Append(WritePass(0x10));    // a duplicate, as a window without records made it
    EXPECT_EQ(station->FindRepeatedPasses({}).size(), 2u);
    const auto tallies = station->SummarizeWrites({});
    ASSERT_EQ(tallies.size(), 1u);
    EXPECT_EQ(tallies[0].passes, 2);
    EXPECT_EQ(station->FindReservations().size(), 3u); // 0x11 claimed, 0x12, type 6's 1

    // The trail is append-only for a station: no change, no removal, no new table.
    EXPECT_THAT(Sql("station", "DELETE FROM records"), HasSubstr("permission denied"));
    EXPECT_THAT(Sql("station", "UPDATE records SET verdict = 'Write Pass'"),
                HasSubstr("permission denied"));
    EXPECT_THAT(Sql("station", "UPDATE serials SET serial = 1"), HasSubstr("permission denied"));
    EXPECT_THAT(Sql("station", "DELETE FROM serials"), HasSubstr("permission denied"));
    EXPECT_THAT(Sql("station", "DROP TABLE records"), HasSubstr("must be owner"));
    EXPECT_THAT(Sql("station", "CREATE TABLE mine (x integer)"), HasSubstr("permission denied"));
    EXPECT_EQ(Value("owner", "SELECT count(*) FROM records"), "2");

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
        for (int waited = 0; waited < 600 && Lines(Text(tag + "out.txt")).size() < 4; ++waited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
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
        ServerCommand("stop");
        for (const ProductionRecord& record : records) {
            station->Append(record);
        }
        station.reset();
        ServerCommand("resume");
    }

    std::string OutboxFile() const { return Path("data/vrax-bin-writer/outbox.sqlite"); }

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
    const std::string port =
        address.substr(address.rfind(':') + 1, address.rfind('/') - address.rfind(':') - 1);
    OpenProductionRecords("dbname=vrax_line user=station port=" + port + " host=127.0.0.1");
    EXPECT_EQ(Records(), "3");
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
    EXPECT_EQ(Value("owner", "SELECT image_file FROM records WHERE serial = 1"), "caf\\xE9.bin");
    const ProgramResult summary = Run({"--records", Address("station"), "records", "--summary"});
    EXPECT_THAT(summary.out, HasSubstr("Set aside in this PC's outbox"));
    EXPECT_THAT(summary.out, HasSubstr("mouse-2  SN 000002 of product type 0005  Scrap"));
    EXPECT_THAT(summary.out, HasSubstr("no_scrap"));
    EXPECT_THAT(summary.out, Not(HasSubstr("Waiting")));

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
    for (int waited = 0; waited < 500 && Records() == "0"; ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const auto start = std::chrono::steady_clock::now();
    auto other = OpenProductionRecords(Address("station"));
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
    for (int waited = 0; waited < 600 && ReadLines("lineout.txt").size() < 2; ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
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
