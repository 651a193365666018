#include "BinImage.h"

#include "programming/StationError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

namespace vrax {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePointer = std::unique_ptr<std::FILE, FileCloser>;

[[noreturn]] void ThrowCannotOpen(const std::string& path, const std::string& reason) {
    throw FileError("Cannot open file \"" + ExpandFileName(path) + "\". " + reason);
}

} // namespace

std::string ExpandFileName(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

void BeginLoad(StationContext& context) {
    context.state.LoadedTypeName.clear();
    context.view.HideResultLabels();
    context.state.ImageLoaded = false;
    context.view.SetDevTimerRunning(false);
}

LoadOutcome LoadBinFile(StationContext& context, const std::string& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (std::filesystem::is_directory(status)) {
        ThrowCannotOpen(path, std::strerror(EISDIR));
    }
    // Opening a named pipe or a device would wait for a writer and freeze the window.
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        ThrowCannotOpen(path, "Not a regular file");
    }
    FilePointer file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        ThrowCannotOpen(path, std::strerror(errno));
    }
    // 64 bits, so a file of 4 GiB + 2048 bytes is not mistaken for an image.
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) {
        ThrowCannotOpen(path, error.message());
    }
    if (size != static_cast<std::uintmax_t>(ImageSize)) {
        context.view.ShowSizeMismatch();
        return LoadOutcome::WrongSize;
    }
    const std::string typeName = IcTypeName(context.settings.IcType());
    if (typeName.empty()) {
        return LoadOutcome::NoIcType;
    }
    // Read aside first so a file that shrinks under us leaves no half-loaded image behind.
    ImageBuffer bytes{};
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        throw FileError("Cannot read file \"" + ExpandFileName(path) + "\". " +
                        std::strerror(errno ? errno : EIO));
    }
    context.state.LoadedTypeName = typeName;
    context.state.LoadedImage = bytes;
    context.view.HideResultLabels();
    context.state.ImageLoaded = true;
    // An operation whose message pumping ran this load starts polling at its own end.
    if (context.state.OperationsRunning == 0) {
        ResumePolling(context);
    }
    return LoadOutcome::Loaded;
}

} // namespace vrax
