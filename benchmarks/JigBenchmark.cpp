// A jig's write against the bare job: the KVQM31X 2K Byte write with the factory record, run
// through the operation runner in this process, and run by `vrax-bin-writer-cli serve` for a
// TCP client on the loopback, timed from "#AUTO" to its final reply; the two alternate, so a
// machine's load falls on both alike. Then "#STATUS" every 20 ms during further writes, timed
// to its answer.
//   vrax-jig-benchmark [--repeat N] [--status-writes N]
#include "BenchmarkTable.h"

#include "device/Clock.h"
#include "device/MouseTypes.h"
#include "device/RememberingHidPlatform.h"
#include "operations/OperationRunner.h"
#include "programming/BinImage.h"
#include "programming/QuietStationView.h"
#include "programming/StationContext.h"
#include "records/ProductionRecords.h"
#include "sim/SimulatedHidBus.h"
#include "sim/VirtualMouse31x.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace vrax {
namespace {

using Steady = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* Factory = "0005,20200527,000001,1,A,1";
constexpr milliseconds StatusPeriod{20};

double Milliseconds(Steady::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// The value at fraction q of the sorted figures.
double Quantile(std::vector<double> figures, double q) {
    std::sort(figures.begin(), figures.end());
    const auto at = static_cast<std::size_t>(q * static_cast<double>(figures.size() - 1) + 0.5);
    return figures[std::min(at, figures.size() - 1)];
}

ImageBuffer TestImage() {
    ImageBuffer image{};
    for (int i = 0; i < ImageSize; ++i) {
        image[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((i * 29 + 11) & 0xFF);
    }
    return image;
}

// The job as the command line's write runs it, on one virtual mouse that stays plugged, as the
// served station's does.
class BareStation {
public:
    BareStation() : bus_(clock_), mouse_(std::make_shared<VirtualMouse31x>()) {
        bus_.Plug(mouse_);
        settings_.icType = IcTypeKvqm31x;
        settings_.format = DataFormat::Byte2K;
        settings_.writeProductId = true;
    }

    // Milliseconds from opening the mouse to the verdict; negative when the job did not pass.
    double Write() {
        QuietStationView view;
        RememberingHidPlatform devices(bus_);
        Station station(devices, clock_, settings_, view);
        station.state.LoadedImage = TestImage();
        station.state.LoadedTypeName = IcTypeName(IcTypeKvqm31x);
        station.state.ImageLoaded = true;
        OperationRunner runner(station);
        runner.Attach(records_, &devices, [] { return std::string("image.bin"); });
        const MouseType& type = MouseTypes[IcTypeKvqm31x];
        runner.SetSoughtIds(type.vendorId, type.productId);
        const auto start = Steady::now();
        const bool passed = station.OpenMouse(IcTypeKvqm31x, type.vendorId, type.productId) &&
                            runner.Write().Passed();
        const double elapsed = Milliseconds(Steady::now() - start);
        station.links.ForgetAll();
        return passed ? elapsed : -elapsed;
    }

private:
    RealClock clock_;
    SimulatedHidBus bus_;
    std::shared_ptr<VirtualMouse31x> mouse_;
    PlainSettings settings_;
    NullProductionRecords records_;
};

// The jig's end of a TCP connection.
class JigClient {
public:
    explicit JigClient(int port) : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ =
            ::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        const int on = 1;
        ::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    ~JigClient() { ::close(socket_); }
    JigClient(const JigClient&) = delete;
    JigClient& operator=(const JigClient&) = delete;

    bool Connected() const { return connected_; }

    bool Say(const std::string& line) {
        const std::string bytes = line + "\r\n";
        return ::write(socket_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // The next line without its CRLF; empty when none came in time or the station closed.
    std::string Line(milliseconds timeout = milliseconds(30000)) {
        const auto deadline = Steady::now() + timeout;
        for (;;) {
            const std::size_t end = pending_.find("\r\n");
            if (end != std::string::npos) {
                std::string line = pending_.substr(0, end);
                pending_.erase(0, end + 2);
                return line;
            }
            const auto left =
                std::chrono::duration_cast<milliseconds>(deadline - Steady::now()).count();
            pollfd wanted{socket_, POLLIN, 0};
            if (left <= 0 || ::poll(&wanted, 1, static_cast<int>(left)) <= 0) {
                return {};
            }
            char buffer[512];
            const ssize_t got = ::read(socket_, buffer, sizeof buffer);
            if (got <= 0) {
                return {};
            }
            pending_.append(buffer, static_cast<std::size_t>(got));
        }
    }

private:
    int socket_;
    bool connected_ = false;
    std::string pending_;
};

// `serve` on the loopback with one virtual KVQM31X on the real clock, no records.
class ServeProcess {
public:
    explicit ServeProcess(const std::filesystem::path& folder) : out_(folder / "serve.txt") {
        std::vector<std::string> arguments{VRAX_CLI_PROGRAM,
                                           "serve",
                                           (folder / "image.bin").string(),
                                           "--remote",
                                           "tcp:127.0.0.1:0",
                                           "--sim",
                                           "kvqm31x",
                                           "--real-time",
                                           "--format",
                                           "2k",
                                           "--factory",
                                           Factory,
                                           "--records",
                                           "none"};
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawn(&pid_, VRAX_CLI_PROGRAM, &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ServeProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }
    ServeProcess(const ServeProcess&) = delete;
    ServeProcess& operator=(const ServeProcess&) = delete;

    // The port it listens on, once it says so; 0 when it does not within 10 s.
    int Port() const {
        const auto deadline = Steady::now() + std::chrono::seconds(10);
        const std::regex listening("Listening on tcp:127\\.0\\.0\\.1:(\\d+)");
        while (pid_ > 0 && Steady::now() < deadline) {
            std::ifstream file(out_);
            const std::string text((std::istreambuf_iterator<char>(file)),
                                   std::istreambuf_iterator<char>());
            std::smatch found;
            if (std::regex_search(text, found, listening)) {
                return std::stoi(found[1]);
            }
            std::this_thread::sleep_for(milliseconds(20));
        }
        return 0;
    }

private:
    std::filesystem::path out_;
    pid_t pid_ = -1;
};

bool IsHeartbeat(const std::string& line) {
    return line.rfind("#BUSY ", 0) == 0 || line == "#ACK";
}

bool IsStatus(const std::string& line) {
    return line.rfind("#OK BUSY ", 0) == 0 || line == "#OK READY";
}

struct JigWriteTime {
    double elapsed = 0; // from "#AUTO" to its final reply
    double reply = 0;   // of it, beyond the job's own time (the reply's MS=)
    bool passed = false;
};

JigWriteTime JigWrite(JigClient& jig) {
    const auto start = Steady::now();
    jig.Say("#AUTO");
    std::string line = jig.Line();
    while (IsHeartbeat(line)) {
        line = jig.Line();
    }
    JigWriteTime time;
    time.elapsed = Milliseconds(Steady::now() - start);
    time.passed = line.rfind("#OK PASS JOB=WRITE", 0) == 0;
    const std::size_t ms = line.find(" MS=");
    if (ms != std::string::npos) {
        time.reply = time.elapsed - std::atof(line.c_str() + ms + 4);
    }
    if (!time.passed) {
        std::fprintf(stderr, "the jig's write ended with \"%s\"\n", line.c_str());
    }
    return time;
}

// Round trips of "#STATUS" sent every StatusPeriod while one write runs; false when the write
// did not pass.
bool StatusDuringWrite(JigClient& jig, std::vector<double>& roundTrips) {
    jig.Say("#AUTO");
    if (jig.Line() != "#ACK") {
        return false;
    }
    bool ended = false;
    bool passed = false;
    auto next = Steady::now() + StatusPeriod;
    while (!ended) {
        std::this_thread::sleep_until(next);
        next += StatusPeriod;
        const auto sent = Steady::now();
        jig.Say("#STATUS");
        for (;;) {
            const std::string line = jig.Line();
            if (line.empty()) {
                return false;
            }
            if (IsStatus(line)) {
                // A write that ended while the question was on its way is answered READY.
                if (line.rfind("#OK BUSY ", 0) == 0) {
                    roundTrips.push_back(Milliseconds(Steady::now() - sent));
                }
                break;
            }
            if (!IsHeartbeat(line)) {
                ended = true;
                passed = line.rfind("#OK PASS JOB=WRITE", 0) == 0;
            }
        }
    }
    return passed;
}

int Measure(int repeats, int statusWrites) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("vrax-jig-benchmark-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    {
        const ImageBuffer image = TestImage();
        std::ofstream(folder / "image.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
    }
    int exitCode = 0;
    {
        ServeProcess serve(folder);
        const int port = serve.Port();
        JigClient jig(port);
        if (port == 0 || !jig.Connected()) {
            std::fprintf(stderr, "serve did not listen on the loopback\n");
            exitCode = 1;
        } else {
            BareStation bare;
            std::vector<double> bareTimes;
            std::vector<double> jigTimes;
            std::vector<double> replyTimes;
            bool allPassed = true;
            for (int i = 0; i < repeats; ++i) {
                bareTimes.push_back(bare.Write());
                const JigWriteTime jigTime = JigWrite(jig);
                jigTimes.push_back(jigTime.elapsed);
                replyTimes.push_back(jigTime.reply);
                allPassed = allPassed && bareTimes.back() > 0 && jigTime.passed;
            }
            const double bareMedian = Quantile(bareTimes, 0.5) / 1000;
            const double jigMedian = Quantile(jigTimes, 0.5) / 1000;
            const double ratio = jigMedian / bareMedian;
            std::string figure =
                FormatFigure("bare %.3f s", bareMedian) + FormatFigure(", jig %.3f s", jigMedian) +
                FormatFigure(", ratio %.4f", ratio) + FormatFigure(" (median of %.0f;", repeats) +
                FormatFigure(" the jig's beyond the job's own MS=: median %.0f ms",
                             Quantile(replyTimes, 0.5)) +
                FormatFigure(", max %.0f ms)", Quantile(replyTimes, 1.0));
            if (!allPassed) {
                figure += " (a job did not pass)";
            }
            PrintBenchmarkRow("Jig's write vs the bare job (TCP, real clock)",
                              "KVQM31X write, 2K Byte + Product ID, #AUTO to its final #OK", figure,
                              "ratio <= 1.01", allPassed && ratio <= 1.01);

            std::vector<double> roundTrips;
            bool statusPassed = true;
            for (int i = 0; i < statusWrites; ++i) {
                statusPassed = StatusDuringWrite(jig, roundTrips) && statusPassed;
            }
            if (roundTrips.empty()) {
                roundTrips.push_back(0);
                statusPassed = false;
            }
            const double p99 = Quantile(roundTrips, 0.99);
            figure = FormatFigure("p50 %.2f ms", Quantile(roundTrips, 0.5)) +
                     FormatFigure(", p99 %.2f ms", p99) +
                     FormatFigure(", max %.2f ms", Quantile(roundTrips, 1.0)) +
                     FormatFigure(" (%.0f answers", static_cast<double>(roundTrips.size())) +
                     FormatFigure(" during %.0f writes)", statusWrites);
            if (!statusPassed) {
                figure += " (a job did not pass)";
            }
            PrintBenchmarkRow("#STATUS during a jig's write (TCP, real clock)",
                              "KVQM31X write, 2K Byte + Product ID, asked every 20 ms", figure,
                              "p99 <= 5 ms", statusPassed && p99 <= 5.0);
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return exitCode;
}

} // namespace
} // namespace vrax

int main(int argc, char** argv) {
    int repeats = 9;
    int statusWrites = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
            repeats = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--status-writes") == 0 && i + 1 < argc) {
            statusWrites = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: %s [--repeat N] [--status-writes N]\n", argv[0]);
            return 2;
        }
    }
    return vrax::Measure(repeats, statusWrites);
}
