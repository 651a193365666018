#include "host/ProcessIdentity.h"

#include "host/HostName.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fstream>
#include <sstream>
#include <unistd.h>
#endif

namespace vrax {

namespace {

#ifdef _WIN32
std::string StartOf(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return {};
    }
    return std::to_string((static_cast<unsigned long long>(created.dwHighDateTime) << 32) |
                          created.dwLowDateTime);
}
#else
struct ProcessStatus {
    std::string start; // empty when not known
    bool zombie = false;
};

// Linux: the boot and the process's start in clock ticks since it; elsewhere nothing.
ProcessStatus StatusOf(long long process) {
    ProcessStatus status;
    std::ifstream bootFile("/proc/sys/kernel/random/boot_id");
    std::string boot;
    std::getline(bootFile, boot);
    std::ifstream statFile("/proc/" + std::to_string(process) + "/stat");
    std::string stat;
    std::getline(statFile, stat);
    // The command name in parentheses may hold spaces: the state is the first field after it,
    // the start time the 20th.
    const std::size_t close = stat.rfind(')');
    if (boot.empty() || close == std::string::npos) {
        return status;
    }
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    for (int i = 0; i < 20 && fields >> field; ++i) {
        if (i == 0) {
            status.zombie = field == "Z" || field == "X";
        }
    }
    if (fields) {
        status.start = boot + "/" + field;
    }
    return status;
}
#endif

} // namespace

ProcessIdentity ThisProcess() {
    ProcessIdentity identity;
    identity.host = HostName();
#ifdef _WIN32
    identity.process = static_cast<long long>(GetCurrentProcessId());
    identity.start = StartOf(GetCurrentProcess());
#else
    identity.process = static_cast<long long>(getpid());
    identity.start = StatusOf(identity.process).start;
#endif
    return identity;
}

bool ProcessHasEnded(const ProcessIdentity& process) {
    if (process.host != HostName() || process.process <= 0) {
        return false;
    }
#ifdef _WIN32
    HANDLE handle =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(process.process));
    if (handle == nullptr) {
        return GetLastError() == ERROR_INVALID_PARAMETER;
    }
    DWORD exitCode = 0;
    const bool running = GetExitCodeProcess(handle, &exitCode) && exitCode == STILL_ACTIVE;
    const std::string start = StartOf(handle);
    CloseHandle(handle);
    return !running || (!process.start.empty() && !start.empty() && start != process.start);
#else
    if (kill(static_cast<pid_t>(process.process), 0) != 0 && errno == ESRCH) {
        return true;
    }
    // Killed and not yet waited for, or the number given to a later process.
    const ProcessStatus status = StatusOf(process.process);
    return status.zombie ||
           (!process.start.empty() && !status.start.empty() && status.start != process.start);
#endif
}

} // namespace vrax
