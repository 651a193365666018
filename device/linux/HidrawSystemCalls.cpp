#include "device/linux/HidrawSystemCalls.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vrax {

int RealHidrawSystemCalls::Open(const std::string& path, int flags) {
    const int descriptor = ::open(path.c_str(), flags);
    return descriptor >= 0 ? descriptor : -errno;
}

int RealHidrawSystemCalls::Close(int descriptor) {
    // Linux releases the descriptor even when close reports EINTR, so it is never retried.
    return ::close(descriptor) == 0 ? 0 : -errno;
}

int RealHidrawSystemCalls::Access(const std::string& path, int mode) {
    return ::access(path.c_str(), mode) == 0 ? 0 : -errno;
}

int RealHidrawSystemCalls::Ioctl(int descriptor, unsigned long request, void* argument) {
    const int result = ::ioctl(descriptor, request, argument);
    return result >= 0 ? result : -errno;
}

} // namespace vrax
