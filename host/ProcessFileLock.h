#pragma once

#include <string>

namespace vrax {

// An exclusive lock on a file that the operating system drops when its holder's process ends,
// however it ends: a turn that a killed process held, or a clock that was moved, never keeps it.
// Each object is its own holder, also within one process.
class ProcessFileLock {
public:
    // The file is made when missing; a file that cannot be opened is never locked.
    explicit ProcessFileLock(const std::string& path);
    ~ProcessFileLock();
    ProcessFileLock(const ProcessFileLock&) = delete;
    ProcessFileLock& operator=(const ProcessFileLock&) = delete;

    // Takes the lock if nobody holds it; never waits. True also when this object holds it.
    bool TryLock();
    void Unlock();

private:
#ifdef _WIN32
    void* file_;
#else
    int file_;
#endif
    bool held_ = false;
};

} // namespace vrax
