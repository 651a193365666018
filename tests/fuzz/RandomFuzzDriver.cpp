#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

// Stands in for libFuzzer where it does not build: seeds from the corpus, mutated, and
// descriptors made of the items the parser cares about, for a given number of seconds.
int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s seconds corpus-directory\n", argv[0]);
        return 2;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[1]));
    std::vector<std::vector<std::uint8_t>> seeds;
    for (const auto& entry : std::filesystem::directory_iterator(argv[2])) {
        std::ifstream file(entry.path(), std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    const std::uint8_t prefixes[] = {0x75, 0x76, 0x77, 0x95, 0x96, 0x97, 0x85, 0x86,
                                     0xB1, 0x81, 0x91, 0xA1, 0xC0, 0xA4, 0xB4, 0xFE};
    std::mt19937_64 random(std::random_device{}());
    std::uint64_t runs = 0;
    std::vector<std::uint8_t> input;
    while (std::chrono::steady_clock::now() < deadline) {
        for (int batch = 0; batch < 1000; ++batch, ++runs) {
            input.clear();
            if (!seeds.empty() && random() % 2 == 0) {
                input = seeds[random() % seeds.size()];
                for (std::uint64_t flips = random() % 8; flips > 0 && !input.empty(); --flips) {
                    input[random() % input.size()] = static_cast<std::uint8_t>(random());
                }
                input.resize(random() % (input.size() + 8), 0xC0);
            } else {
                for (std::uint64_t items = random() % 64; items > 0; --items) {
                    input.push_back(prefixes[random() % std::size(prefixes)]);
                    for (std::uint64_t bytes = random() % 5; bytes > 0; --bytes) {
                        input.push_back(static_cast<std::uint8_t>(random()));
                    }
                }
            }
            // An exactly sized copy so the address sanitizer sees any read past the end.
            auto copy = std::make_unique<std::uint8_t[]>(input.size());
            std::copy(input.begin(), input.end(), copy.get());
            LLVMFuzzerTestOneInput(copy.get(), input.size());
        }
    }
    std::printf("%llu descriptors parsed without a finding\n",
                static_cast<unsigned long long>(runs));
    return 0;
}
