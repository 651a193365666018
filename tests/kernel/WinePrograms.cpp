#include "tests/kernel/WinePrograms.h"

#include <algorithm>
#include <cstdlib>
#include <set>
#include <thread>

namespace vrax::testing {

namespace fs = std::filesystem;

namespace {

// Processes come and go while /proc is read: whatever vanishes is skipped.
std::vector<fs::path> Entries(const fs::path& folder) {
    std::vector<fs::path> entries;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        entries.push_back(entry->path());
    }
    return entries;
}

} // namespace

std::string WineProgramFolder() {
    const char* folder = std::getenv("VRAX_WINE_PROGRAMS");
    return folder == nullptr ? std::string() : std::string(folder);
}

std::string WineProgram(const std::string& name) {
    return WindowsPath((fs::path(WineProgramFolder()) / name).string());
}

std::string WindowsPath(const std::string& path) {
    std::string windows = "Z:" + path;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

namespace {

std::vector<std::string> UnderWine(std::vector<std::string> command) {
    const char* wine = std::getenv("VRAX_WINE_LOADER");
    command.insert(command.begin(), wine != nullptr ? wine : "wine64");
    return command;
}

} // namespace

ProgramResult RunWineProgram(const fs::path& folder, std::vector<std::string> command,
                             std::chrono::seconds limit) {
    ProgramResult result = RunProgram(folder, UnderWine(std::move(command)), limit);
    for (std::string* text : {&result.out, &result.err}) {
        text->erase(std::remove(text->begin(), text->end(), '\r'), text->end());
    }
    return result;
}

std::unique_ptr<BackgroundProgram> StartWineProgram(const fs::path& folder, const std::string& name,
                                                    std::vector<std::string> command) {
    return std::make_unique<BackgroundProgram>(folder, name, UnderWine(std::move(command)));
}

bool RestartWine() {
    RunProgram(fs::temp_directory_path(), {"wineserver", "-k"}, std::chrono::seconds(60));
    RunProgram(fs::temp_directory_path(), {"wineserver", "-w"}, std::chrono::seconds(60));
    RunProgram(fs::temp_directory_path(), {"wineserver", "-p"}, std::chrono::seconds(60));
    return RunWineProgram(fs::temp_directory_path(), {"wineboot"}, std::chrono::seconds(300))
               .exitCode == 0;
}

bool WaitForWineInterfaces(HidAttributes ids, int interfaces, std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const std::vector<std::string> nodes = HidrawNodes(ids.vendorId, ids.productId);
        std::set<std::string> held;
        for (const fs::path& process : Entries("/proc")) {
            for (const fs::path& descriptor : Entries(process / "fd")) {
                std::error_code error;
                const fs::path target = fs::read_symlink(descriptor, error);
                if (!error && std::find(nodes.begin(), nodes.end(), target) != nodes.end()) {
                    held.insert(target.string());
                }
            }
        }
        if (static_cast<int>(nodes.size()) == interfaces &&
            static_cast<int>(held.size()) == interfaces) {
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

} // namespace vrax::testing
