#include "CliFixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>

namespace vrax::testing {
namespace {

using Serve = CliFixture;
using std::chrono::milliseconds;

// A jig on the other end of a connection (a socket, a terminal), reading the station's lines.
class Jig {
public:
    explicit Jig(int descriptor) : socket_(descriptor) {}
    virtual ~Jig() { ::close(socket_); }
    Jig(const Jig&) = delete;
    Jig& operator=(const Jig&) = delete;

    int Descriptor() const { return socket_; }

    void Say(const std::string& line) {
        const std::string bytes = line + "\r\n";
        ASSERT_EQ(::write(socket_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // The next line without its CRLF; "<silence>" when none came in time, "<closed>" at the end.
    std::string Line(milliseconds timeout = milliseconds(5000)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const std::size_t end = pending_.find("\r\n");
            if (end != std::string::npos) {
                std::string line = pending_.substr(0, end);
                pending_.erase(0, end + 2);
                return line;
            }
            const auto left = std::chrono::duration_cast<milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd wanted{socket_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&wanted, 1, static_cast<int>(left.count())) <= 0) {
                return "<silence>";
            }
            char buffer[512];
            const ssize_t got = ::read(socket_, buffer, sizeof buffer);
            if (got <= 0) {
                return "<closed>";
            }
            pending_.append(buffer, static_cast<std::size_t>(got));
        }
    }
    // The next line that is not a heartbeat; the heartbeats seen on the way go to `beats`.
    std::string Reply(std::vector<std::string>* beats = nullptr) {
        for (;;) {
            const std::string line = Line();
            if (line.rfind("#BUSY ", 0) != 0) {
                return line;
            }
            if (beats != nullptr) {
                beats->push_back(line);
            }
        }
    }

private:
    int socket_;
    std::string pending_;
};

class TcpJig final : public Jig {
public:
    explicit TcpJig(int port) : Jig(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(Descriptor(), reinterpret_cast<const sockaddr*>(&address),
                               sizeof address) == 0;
    }
    bool Connected() const { return connected_; }

private:
    bool connected_ = false;
};

TEST_F(Serve, AJigWritesMiceOverTcpAndReadsTheirResults) {
    const pid_t station = StartInBackground(
        {"serve", imagePath, "--remote", "tcp:127.0.0.1:0", "--sim", "kvqm31x", "--real-time",
         "--factory", "0005,20200527,000010,1,A,1", "--records", Path("records.sqlite")},
        "serve");
    int port = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::smatch found;
            const std::string out = Slurp(Path("serveout.txt"));
            if (std::regex_search(out, found,
                                  std::regex("Listening on tcp:127\\.0\\.0\\.1:(\\d+)"))) {
                port = std::stoi(found[1]);
            }
            return port != 0;
        },
        milliseconds(10000)))
        << Slurp(Path("serveerr.txt"));

    TcpJig jig(port);
    ASSERT_TRUE(jig.Connected());
    jig.Say("#status");
    EXPECT_EQ(jig.Line(), "#OK READY");
    jig.Say("#IMAGE");
    EXPECT_EQ(jig.Line().rfind("#OK NAME=image.bin SHA256=", 0), 0u);

    // A second jig is told the station is taken, and let go.
    {
        TcpJig second(port);
        ASSERT_TRUE(second.Connected());
        EXPECT_EQ(second.Line(), "#ERR002:BUSY ANOTHER JIG IS CONNECTED");
        EXPECT_EQ(second.Line(), "<closed>");
    }

    jig.Say("#AUTO");
    EXPECT_EQ(jig.Line(), "#ACK");
    std::vector<std::string> beats;
    const std::string written = jig.Reply(&beats);
    EXPECT_EQ(written.rfind("#OK PASS JOB=WRITE SN=000010 TYPE=0005 MS=", 0), 0u) << written;
    EXPECT_FALSE(beats.empty()) << "a real-time write takes seconds";
    jig.Say("#RESULT");
    EXPECT_EQ(jig.Line(), written);

    // The records show 000010 stamped: the MES's number is refused before the mouse.
    jig.Say("#AUTO SN=10");
    EXPECT_EQ(jig.Line(), "#ACK");
    EXPECT_EQ(jig.Reply().rfind("#ERR005:SERIAL NUMBER ALREADY STAMPED", 0), 0u);

    // Cancelled mid-write, the mouse fails: the jig is told so, and so are the records. (The
    // heartbeat's half second is asserted on the engine's virtual clock; here a loaded machine
    // may stretch it.)
    jig.Say("#AUTO SN=20");
    EXPECT_EQ(jig.Line(), "#ACK");
    EXPECT_EQ(jig.Line().rfind("#BUSY ", 0), 0u);
    jig.Say("#IMAGE");
    EXPECT_EQ(jig.Reply().rfind("#ERR002:BUSY", 0), 0u);
    jig.Say("#CANCEL");
    EXPECT_EQ(jig.Reply(), "#OK CANCELLING");
    const std::string cancelled = jig.Reply();
    EXPECT_EQ(cancelled.rfind("#ERR007:CANCELLED JOB=WRITE", 0), 0u) << cancelled;

    kill(station, SIGTERM);
    const ProgramResult ended = WaitFor(station, "serve");
    EXPECT_EQ(ended.exitCode, 0) << ended.err;

    // The records hold the truth the jig was told: one pass, the cancelled write a fail.
    const ProgramResult records = Run({"records", "--records", Path("records.sqlite"), "--csv"});
    EXPECT_NE(records.out.find(",000010,Write Pass,"), std::string::npos) << records.out;
    EXPECT_NE(records.out.find(",Write Fail,"), std::string::npos) << records.out;
    EXPECT_EQ(records.out.find(",000020,Write Pass,"), std::string::npos);
}

TEST_F(Serve, AJigDrivesAGangOverASerialLine) {
    int terminal = -1;
    int line = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&terminal, &line, name, nullptr, nullptr), 0);
    const pid_t station = StartInBackground({"serve", imagePath, "--remote",
                                             std::string("serial:") + name + ",115200", "--sim",
                                             "kvqm42xx", "--gang", "2", "--records", "none"},
                                            "serve");
    ASSERT_TRUE(WaitUntil(
        [&] {
            return Slurp(Path("serveout.txt")).find("Listening on serial:") != std::string::npos;
        },
        milliseconds(10000)))
        << Slurp(Path("serveerr.txt"));
    Jig jig(terminal);
    jig.Say("#SELECT 2");
    EXPECT_EQ(jig.Line(), "#OK SELECTED 2");
    jig.Say("#AUTO");
    EXPECT_EQ(jig.Line(), "#ACK");
    const std::string second = jig.Reply();
    EXPECT_EQ(second.rfind("#RESULT:2:PASS JOB=WRITE MS=", 0), 0u) << second;
    EXPECT_EQ(jig.Line(), "#OK 1/1 PASS");
    jig.Say("#SELECT 1,2");
    EXPECT_EQ(jig.Line(), "#OK SELECTED 1,2");
    jig.Say("#VERIFY");
    EXPECT_EQ(jig.Line(), "#ACK");
    EXPECT_EQ(jig.Reply().rfind("#RESULT:1:ERR009 VERIFY FAIL JOB=VERIFY", 0), 0u);
    EXPECT_EQ(jig.Line().rfind("#RESULT:2:PASS JOB=VERIFY", 0), 0u);
    EXPECT_EQ(jig.Line(), "#ERR009:1 OF 2 FAILED");

    kill(station, SIGTERM);
    EXPECT_EQ(WaitFor(station, "serve").exitCode, 0);
    ::close(line);
}

TEST_F(Serve, TcpServesThisPcUnlessAllowedAndLetsASilentJigGo) {
    const ProgramResult open = Run(
        {"serve", imagePath, "--remote", "tcp:0.0.0.0:0", "--sim", "kvqm31x", "--records", "none"});
    EXPECT_EQ(open.exitCode, 2);
    EXPECT_NE(open.err.find("--remote-allow"), std::string::npos) << open.err;
    // A range that opens more than it says is refused; one that opens everything is told. (No
    // port could open: a range taken would not keep the station serving.)
    for (const char* range : {"10.0.0.0/33", "10.1.2.77/8", "fe80::1%lo/64", "fe80::1/8"}) {
        const ProgramResult refused =
            Run({"serve", imagePath, "--remote", "tcp:127.0.0.1:70000", "--remote-allow", range,
                 "--sim", "kvqm31x", "--records", "none"});
        EXPECT_EQ(refused.exitCode, 2) << range;
        EXPECT_NE(refused.err.find(range), std::string::npos) << refused.err;
    }
    const ProgramResult everyone =
        Run({"serve", imagePath, "--remote", "tcp:127.0.0.1:70000", "--remote-allow", "0.0.0.0/0",
             "--sim", "kvqm31x", "--records", "none"});
    EXPECT_NE(everyone.err.find("0.0.0.0/0: every address may drive this station"),
              std::string::npos)
        << everyone.err;

    const pid_t station = StartInBackground({"serve", imagePath, "--remote", "tcp:0.0.0.0:0",
                                             "--remote-allow", "10.1.2.0/24", "--remote-idle", "1",
                                             "--sim", "kvqm31x", "--records", "none"},
                                            "serve");
    int port = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::smatch found;
            const std::string out = Slurp(Path("serveout.txt"));
            if (std::regex_search(out, found,
                                  std::regex("Listening on tcp:0\\.0\\.0\\.0:(\\d+)"))) {
                port = std::stoi(found[1]);
            }
            return port != 0;
        },
        milliseconds(10000)))
        << Slurp(Path("serveerr.txt"));
    TcpJig jig(port);
    ASSERT_TRUE(jig.Connected());
    jig.Say("#STATUS");
    EXPECT_EQ(jig.Line(), "#OK READY");
    EXPECT_EQ(jig.Line(milliseconds(5000)), "<closed>");
    EXPECT_TRUE(WaitUntil(
        [&] { return Slurp(Path("serveout.txt")).find(": silent for 1 s") != std::string::npos; },
        milliseconds(5000)))
        << Slurp(Path("serveout.txt"));
    kill(station, SIGTERM);
    EXPECT_EQ(WaitFor(station, "serve").exitCode, 0);
}

} // namespace
} // namespace vrax::testing
