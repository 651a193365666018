#pragma once

#include <fstream>
#include <string>

namespace vrax {

// The production record: one CSV line per operation appended to a file that lives across
// runs and stations, with a header line when the file is new.
class ProductionLog {
public:
    static constexpr const char* Header = "time,operation,ic_type,serial_number,verdict";

    // Opens the file for appending now, so a file that cannot be written stops the run before
    // any mouse is touched. Throws FileError.
    explicit ProductionLog(const std::string& path);

    // time is the UTC time of the line. Throws FileError when the line cannot be written.
    void Append(const std::string& operation, const std::string& icType,
                const std::string& serialNumber, const std::string& verdict);

    static std::string UtcTimestamp();

private:
    std::string path_;
    std::ofstream file_;
};

} // namespace vrax
