#include "SaveJob.h"

#include "programming/BinImage.h"
#include "programming/StationError.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace vrax {

namespace {

constexpr std::uint8_t TextSavePass = 16;
constexpr std::uint8_t TextSaveFail = 17;

void ShowSaveResult(StationContext& context, JobOutcome& outcome, bool passed) {
    Decide(context, outcome, passed ? JobVerdict::Pass : JobVerdict::Fail);
    std::string text;
    context.lang.GetUIText(passed ? TextSavePass : TextSaveFail, text);
    context.view.ShowResult(text, passed ? ResultColour::Green : ResultColour::Red);
}

bool ReadWholeMouse(StationContext& context, MemoryLink& link, JobOutcome& outcome) {
    context.view.ShowBusyWindow();
    context.view.PumpMessages();
    const bool read = link.ReadMemory(0, ImageSize, context.state.ReadBackBuffer.data(), ImageSize);
    ShowSaveResult(context, outcome, read);
    return read;
}

// Returns whether the mouse's memory is now in ReadBackBuffer.
bool ReadMouse(StationContext& context, const ImageSnapshot& image, JobOutcome& outcome) {
    MouseLink* link = context.links.For(context.settings.IcType());
    if (link == nullptr) {
        ShowSaveResult(context, outcome, false);
        return false;
    }
    bool read = false;
    switch (link->Identify(image.typeName)) {
    case MouseMatch::NoAnswer:
    case MouseMatch::Unmarked:
        // Nothing would tell the operator why no file appeared.
        ShowSaveResult(context, outcome, false);
        return false;
    case MouseMatch::Mismatch:
        DecideMismatch(context, outcome);
        context.view.ShowMouseMismatch();
        return false;
    case MouseMatch::NotReady:
        DecideMismatch(context, outcome);
        context.view.ShowMouseMismatch();
        break;
    case MouseMatch::Match:
        read = ReadWholeMouse(context, *link, outcome);
        break;
    }
    link->EndSession();
    return read;
}

void WriteImageFile(StationContext& context, const std::string& path, JobOutcome& outcome) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    // Opening a named pipe would wait for a reader and freeze the window.
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        throw FileError(
            "Cannot create file \"" + ExpandFileName(path) + "\". " +
            (std::filesystem::is_directory(status) ? std::strerror(EISDIR) : "Not a regular file"));
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        throw FileError("Cannot create file \"" + ExpandFileName(path) + "\". " +
                        std::strerror(errno));
    }
    const ImageBuffer& bytes = context.state.ReadBackBuffer;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const int writeError = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        // A short file must not pass for a saved mouse.
        ShowSaveResult(context, outcome, false);
        throw FileError("Cannot write file \"" + ExpandFileName(path) + "\". " +
                        std::strerror(written ? errno : writeError));
    }
}

void FinishSave(StationContext& context) {
    StationView& view = context.view;
    view.HideBusyWindow();
    view.PumpMessages();
    view.EnableJobControls();
    OfferActionButtons(context);
    view.PumpMessages();
    ResumePolling(context);
}

} // namespace

std::string SaveFileName(const std::string& chosenPath) {
    static const std::string extension = ".bin";
    if (chosenPath.size() >= extension.size()) {
        bool endsInBin = true;
        const std::size_t tail = chosenPath.size() - extension.size();
        for (std::size_t i = 0; i < extension.size(); ++i) {
            const auto c = static_cast<unsigned char>(chosenPath[tail + i]);
            endsInBin = endsInBin && std::tolower(c) == extension[i];
        }
        if (endsInBin) {
            return chosenPath;
        }
    }
    return chosenPath + extension;
}

JobOutcome RunSave(StationContext& context, const std::string& chosenPath) {
    const std::string path = SaveFileName(chosenPath);
    OperationScope operation(context);
    context.view.DisableJobControls();
    // Polling must not open the mouse again or start a job inside the read's message pumping.
    context.view.SetDevTimerRunning(false);
    JobOutcome outcome(Job::Save);
    try {
        if (ReadMouse(context, operation.image, outcome)) {
            WriteImageFile(context, path, outcome);
        }
    } catch (...) {
        FinishSave(context);
        throw;
    }
    FinishSave(context);
    return Finished(context, outcome);
}

} // namespace vrax
