#include "records/ProductionRecord.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>

namespace vrax {

std::string ProductionRecord::StationText() const {
    return std::to_string(factory) + "-" + std::string(1, line) + "-" + std::to_string(station);
}

std::string ProductionRecord::SerialText() const {
    if (!serialNumber) {
        return {};
    }
    char text[16];
    std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(*serialNumber) & 0xFFFFFFu);
    return text;
}

std::string UtcTimeWithMilliseconds() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const long long milliseconds =
        duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03lldZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, milliseconds);
    return text;
}

} // namespace vrax

namespace vrax {

std::string NewRecordId() {
    // Seeded once per thread from the system's entropy: ids of stations on many PCs never meet.
    thread_local std::mt19937_64 generator{[] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }()};
    char text[40];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(generator()),
                  static_cast<unsigned long long>(generator()));
    return text;
}

} // namespace vrax
