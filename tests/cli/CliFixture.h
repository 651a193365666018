#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vrax::testing {

struct ProgramResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

struct TraceLine {
    double milliseconds = 0;
    bool set = false;
    std::array<std::uint8_t, 8> bytes{};
    bool ok = false;
};

// A file's whole content; empty when it cannot be read.
std::string Slurp(const std::filesystem::path& path);

// Sets a variable of this process's environment, which the programs it starts inherit.
void SetVariable(const std::string& name, const std::string& value);

// Asks condition again and again until it holds or timeout has passed; whether it held.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// Runs the built command-line program in a fresh folder with an image whose every byte
// differs from its neighbours and from the virtual mouse's initial 0xFF.
class CliFixture : public ::testing::Test {
protected:
    CliFixture();
    ~CliFixture() override;

    // Arguments as the program gets them; paths are best given through Path().
    ProgramResult Run(const std::vector<std::string>& arguments);
    // Starts the program without waiting for it; its output goes to TAGout.txt and TAGerr.txt.
    pid_t StartInBackground(const std::vector<std::string>& arguments, const std::string& tag);
    ProgramResult WaitFor(pid_t child, const std::string& tag);

    std::string Path(const std::string& name) const { return (folder_ / name).string(); }
    void WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
    std::vector<std::uint8_t> ReadFile(const std::string& name) const;
    bool Exists(const std::string& name) const { return std::filesystem::exists(folder_ / name); }
    std::vector<std::string> ReadLines(const std::string& name) const;
    // Fails the test for a line that is not "<ms> <set|get> <8 bytes hex> <ok|fail>".
    std::vector<TraceLine> ReadTrace(const std::string& name) const;

    std::vector<std::uint8_t> image;
    std::string imagePath;

private:
    std::filesystem::path folder_;
};

// The command byte of each set KVQM31X frame other than the data chunk frames.
std::vector<int> Commands31x(const std::vector<TraceLine>& trace);
int CountFrames(const std::vector<TraceLine>& trace, bool set, std::uint8_t byte0,
                std::uint8_t byte1);

} // namespace vrax::testing
