#include "RecordsTable.h"

#include <QHeaderView>

namespace vrax {

RecordsTable::RecordsTable(QWidget* parent) : QTableWidget(0, 5, parent) {
    setObjectName("RecordsTable");
    setHorizontalHeaderLabels({"time (UTC)", "operation", "serial", "verdict", "ms"});
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(20);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    horizontalHeader()->setStretchLastSection(true);
    horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::NoSelection);
    setMinimumHeight(110);
    setToolTip("The station's production records: each is committed before its verdict shows");
}

void RecordsTable::Add(const ProductionRecord& record) {
    insertRow(0);
    const QString values[] = {
        QString::fromStdString(record.time.size() > 11 ? record.time.substr(11, 8) : record.time),
        QString::fromStdString(record.operation),
        QString::fromStdString(record.SerialText()),
        QString::fromStdString(record.verdict),
        QString::number(record.durationMs),
    };
    for (int column = 0; column < 5; ++column) {
        setItem(0, column, new QTableWidgetItem(values[column]));
    }
    if (rowCount() > MaxRows) {
        removeRow(rowCount() - 1);
    }
}

} // namespace vrax
