#include "host/ProcessFileLock.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace vrax {

#ifdef _WIN32

ProcessFileLock::ProcessFileLock(const std::string& path)
    : file_(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {}

ProcessFileLock::~ProcessFileLock() {
    Unlock();
    if (file_ != INVALID_HANDLE_VALUE) {
        CloseHandle(file_);
    }
}

bool ProcessFileLock::TryLock() {
    if (!held_ && file_ != INVALID_HANDLE_VALUE) {
        OVERLAPPED at{};
        held_ = LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                           &at) != 0;
    }
    return held_;
}

void ProcessFileLock::Unlock() {
    if (held_) {
        OVERLAPPED at{};
        UnlockFileEx(file_, 0, 1, 0, &at);
        held_ = false;
    }
}

#else

// flock, not fcntl: fcntl's locks belong to the process, and closing any descriptor of the file
// in it would drop them.
ProcessFileLock::ProcessFileLock(const std::string& path)
    : file_(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {}

ProcessFileLock::~ProcessFileLock() {
    Unlock();
    if (file_ >= 0) {
        close(file_);
    }
}

bool ProcessFileLock::TryLock() {
    if (!held_ && file_ >= 0) {
        held_ = flock(file_, LOCK_EX | LOCK_NB) == 0;
    }
    return held_;
}

void ProcessFileLock::Unlock() {
    if (held_) {
        flock(file_, LOCK_UN);
        held_ = false;
    }
}

#endif

} // namespace vrax
