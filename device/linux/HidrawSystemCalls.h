#pragma once

#include <string>

namespace vrax {

// The kernel calls of the hidraw backend in one place, so tests can stand in for the driver
// and see every call. Results follow the kernel's convention: a negative errno on failure.
class HidrawSystemCalls {
public:
    virtual ~HidrawSystemCalls() = default;

    // A file descriptor, or -errno.
    virtual int Open(const std::string& path, int flags) = 0;
    virtual int Close(int descriptor) = 0;
    // 0 when the calling user may use path as mode (R_OK, W_OK) asks, or -errno.
    virtual int Access(const std::string& path, int mode) = 0;
    // The ioctl's result, or -errno.
    virtual int Ioctl(int descriptor, unsigned long request, void* argument) = 0;
};

class RealHidrawSystemCalls final : public HidrawSystemCalls {
public:
    int Open(const std::string& path, int flags) override;
    int Close(int descriptor) override;
    int Access(const std::string& path, int mode) override;
    int Ioctl(int descriptor, unsigned long request, void* argument) override;
};

} // namespace vrax
