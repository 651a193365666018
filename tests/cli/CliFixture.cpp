#include "CliFixture.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>

#include <map>
#include <mutex>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <thread>

namespace vrax::testing {

std::string Slurp(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

namespace {

#ifdef _WIN32
// One argument as the child's C runtime splits its command line back into arguments.
std::string Quoted(const std::string& argument) {
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

HANDLE InheritableOutput(const std::string& path) {
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The children started and not yet waited for, by process id.
std::mutex childrenLock;
std::map<pid_t, HANDLE> children;
#endif

} // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto giveUp = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= giveUp) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void SetVariable(const std::string& name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name.c_str(), value.c_str());
#else
    setenv(name.c_str(), value.c_str(), 1);
#endif
}

CliFixture::CliFixture() {
    static int counter = 0;
    folder_ = std::filesystem::temp_directory_path() /
              ("vrax-cli-" + std::to_string(getpid()) + "-" + std::to_string(++counter));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    // The program's default records go here, not into the user's data folder.
    SetVariable("XDG_DATA_HOME", (folder_ / "data").string());
    SetVariable("LOCALAPPDATA", (folder_ / "data").string());
    for (int i = 0; i < 2048; ++i) {
        image.push_back(static_cast<std::uint8_t>((i * 7 + 3) & 0xFF));
    }
    imagePath = Path("image.bin");
    WriteFile("image.bin", image);
}

CliFixture::~CliFixture() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

ProgramResult CliFixture::Run(const std::vector<std::string>& arguments) {
    return WaitFor(StartInBackground(arguments, "std"), "std");
}

pid_t CliFixture::StartInBackground(const std::vector<std::string>& arguments,
                                    const std::string& tag) {
    const std::string outPath = Path(tag + "out.txt");
    const std::string errPath = Path(tag + "err.txt");
#ifdef _WIN32
    std::string line = Quoted(VRAX_CLI_PROGRAM);
    for (const std::string& argument : arguments) {
        line += " " + Quoted(argument);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = InheritableOutput(outPath);
    startup.hStdError = InheritableOutput(errPath);
    PROCESS_INFORMATION process{};
    const bool started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    const DWORD error = started ? 0 : GetLastError();
    CloseHandle(startup.hStdOutput);
    CloseHandle(startup.hStdError);
    EXPECT_TRUE(started) << "cannot start " << line << ": error " << error;
    if (!started) {
        return -1;
    }
    CloseHandle(process.hThread);
    const std::lock_guard<std::mutex> lock(childrenLock);
    children[static_cast<pid_t>(process.dwProcessId)] = process.hProcess;
    return static_cast<pid_t>(process.dwProcessId);
#else
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::string program = VRAX_CLI_PROGRAM;
    std::vector<std::string> storage{program};
    storage.insert(storage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : storage) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned =
        posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0) << "cannot start " << program;
    return spawned == 0 ? child : -1;
#endif
}

ProgramResult CliFixture::WaitFor(pid_t child, const std::string& tag) {
    ProgramResult result;
    if (child <= 0) {
        return result;
    }
#ifdef _WIN32
    HANDLE process = nullptr;
    {
        const std::lock_guard<std::mutex> lock(childrenLock);
        process = children[child];
        children.erase(child);
    }
    DWORD code = 0;
    if (process != nullptr && WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(process, &code)) {
        result.exitCode = static_cast<int>(code);
    }
    if (process != nullptr) {
        CloseHandle(process);
    }
#else
    int status = 0;
    waitpid(child, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    result.out = Slurp(Path(tag + "out.txt"));
    result.err = Slurp(Path(tag + "err.txt"));
    return result;
}

void CliFixture::WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    std::ofstream file(folder_ / name, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> CliFixture::ReadFile(const std::string& name) const {
    const std::string bytes = Slurp(folder_ / name);
    return {bytes.begin(), bytes.end()};
}

std::vector<std::string> CliFixture::ReadLines(const std::string& name) const {
    std::istringstream stream(Slurp(folder_ / name));
    std::vector<std::string> lines;
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<TraceLine> CliFixture::ReadTrace(const std::string& name) const {
    static const std::regex format(R"(^(\d+\.\d{3}) (set|get) ((?:[0-9a-f]{2} ){8})(ok|fail)$)");
    std::vector<TraceLine> trace;
    for (const std::string& text : ReadLines(name)) {
        std::smatch match;
        if (!std::regex_match(text, match, format)) {
            ADD_FAILURE() << "trace line out of format: " << text;
            continue;
        }
        TraceLine line;
        line.milliseconds = std::stod(match[1]);
        line.set = match[2] == "set";
        std::istringstream bytes(match[3]);
        for (std::uint8_t& byte : line.bytes) {
            unsigned value = 0;
            bytes >> std::hex >> value;
            byte = static_cast<std::uint8_t>(value);
        }
        line.ok = match[4] == "ok";
        trace.push_back(line);
    }
    return trace;
}

std::vector<int> Commands31x(const std::vector<TraceLine>& trace) {
    std::vector<int> commands;
    for (const TraceLine& line : trace) {
        if (line.set && line.bytes[0] == 4 && line.bytes[1] != 5 && line.bytes[1] != 7) {
            commands.push_back(line.bytes[1]);
        }
    }
    return commands;
}

int CountFrames(const std::vector<TraceLine>& trace, bool set, std::uint8_t byte0,
                std::uint8_t byte1) {
    int count = 0;
    for (const TraceLine& line : trace) {
        count += line.set == set && line.bytes[0] == byte0 && line.bytes[1] == byte1 ? 1 : 0;
    }
    return count;
}

} // namespace vrax::testing
