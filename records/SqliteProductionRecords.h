#pragma once

#include "records/ProductionRecords.h"

#include <mutex>
#include <string>

struct sqlite3;

namespace vrax {

// The records in one SQLite file in WAL mode, which several processes and threads may share.
class SqliteProductionRecords final : public ProductionRecords {
public:
    static constexpr int SchemaVersion = 2;

    // Creates the file (and its folder) when missing and upgrades an older schema. Throws
    // RecordsError.
    explicit SqliteProductionRecords(const std::string& path);
    ~SqliteProductionRecords() override;
    SqliteProductionRecords(const SqliteProductionRecords&) = delete;
    SqliteProductionRecords& operator=(const SqliteProductionRecords&) = delete;

    void Append(const ProductionRecord& record) override;
    std::vector<ProductionRecord> Find(const RecordFilter& filter) override;
    int ReserveSerialNumber(int productType, int firstSerial) override;
    void SettleSerialNumber(int productType, int serialNumber, bool stamped) override;

    int StoredSchemaVersion();

private:
    void Execute(const char* sql);
    [[noreturn]] void Fail(const std::string& what);
    void Upgrade();

    std::string path_;
    sqlite3* db_ = nullptr;
    std::mutex mutex_;
};

} // namespace vrax
