#include "cli/ProductionLog.h"

#include "device/ErrorText.h"
#include "programming/BinImage.h"
#include "programming/StationError.h"
#include "records/reports/RecordsReport.h"

#include <cerrno>
#include <chrono>
#include <ctime>
#include <filesystem>

namespace vrax {

namespace {

[[noreturn]] void ThrowCannot(const char* what, const std::string& path) {
    throw FileError(std::string("Cannot ") + what + " file \"" + ExpandFileName(path) + "\". " +
                    ErrorText(errno ? errno : EIO));
}

} // namespace

ProductionLog::ProductionLog(const std::string& path) : path_(path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    const bool isNew = error || size == 0;
    errno = 0;
    file_.open(path, std::ios::out | std::ios::app | std::ios::binary);
    if (!file_) {
        ThrowCannot("open", path);
    }
    if (isNew) {
        file_ << Header << '\n' << std::flush;
        if (!file_) {
            ThrowCannot("write", path);
        }
    }
}

void ProductionLog::Append(const std::string& operation, const std::string& icType,
                           const std::string& serialNumber, const std::string& verdict) {
    errno = 0;
    file_ << UtcTimestamp() << ',' << CsvField(operation) << ',' << CsvField(icType) << ','
          << CsvField(serialNumber) << ',' << CsvField(verdict) << '\n'
          << std::flush;
    if (!file_) {
        ThrowCannot("write", path_);
    }
}

std::string ProductionLog::UtcTimestamp() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    char text[32] = "";
    if (const std::tm* utc = std::gmtime(&now)) {
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
    }
    return text;
}

} // namespace vrax
