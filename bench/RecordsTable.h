#pragma once

#include "records/ProductionRecord.h"

#include <QTableWidget>

namespace vrax {

// The production records the station committed since the bench opened, newest first.
class RecordsTable final : public QTableWidget {
public:
    static constexpr int MaxRows = 200;

    explicit RecordsTable(QWidget* parent = nullptr);

    void Add(const ProductionRecord& record);
};

} // namespace vrax
