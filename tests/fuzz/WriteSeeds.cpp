#include "tests/hidraw/Descriptors.h"

#include <cstdio>
#include <fstream>
#include <string>

// Writes the test descriptors into a fuzzing corpus directory.
int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s corpus-directory\n", argv[0]);
        return 2;
    }
    using namespace vrax::test;
    const std::pair<const char*, const Bytes*> seeds[] = {
        {"kvqm31x-mouse", &Kvqm31xMouseDescriptor},
        {"kvqm42xx-mouse", &Kvqm42xxMouseDescriptor},
        {"keyboard", &KeyboardDescriptor},
        {"no-report-ids", &NoReportIdDescriptor},
    };
    for (const auto& [name, bytes] : seeds) {
        std::ofstream file(std::string(argv[1]) + "/" + name, std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes->data()),
                   static_cast<std::streamsize>(bytes->size()));
        if (!file) {
            std::perror(name);
            return 1;
        }
    }
    return 0;
}
