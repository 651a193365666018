#include "FaultEditor.h"

#include "sim/VirtualMouse.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QVBoxLayout>

#include <map>
#include <string>

namespace vrax {

namespace {

constexpr int Columns = 2;

} // namespace

FaultEditor::FaultEditor(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    summary_ = new QLabel(this);
    summary_->setObjectName("FaultSummary");
    summary_->setWordWrap(true);
    layout->addWidget(summary_);
    Rebuild();
}

void FaultEditor::SetMouse(std::shared_ptr<VirtualMouse> mouse) {
    const bool sameFamily = mouse && mouse_ && mouse->Family() == mouse_->Family();
    mouse_ = std::move(mouse);
    if (!sameFamily) {
        Rebuild();
    }
    Refresh();
}

void FaultEditor::Rebuild() {
    delete grid_;
    rows_.clear();
    grid_ = new QWidget(this);
    auto* grid = new QGridLayout(grid_);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(2);
    if (mouse_) {
        int index = 0;
        for (const MouseFaultName& fault : MouseFaultNames()) {
            const bool applies =
                mouse_->Family() == MouseFamily::Kvqm31x ? fault.kvqm31x : fault.kvqm42xx;
            if (!applies) {
                continue;
            }
            auto* box = new QCheckBox(QString::fromLatin1(fault.name), grid_);
            box->setObjectName(QStringLiteral("Fault_%1").arg(fault.name));
            box->setToolTip(QString::fromLatin1(fault.meaning));
            QLineEdit* value = nullptr;
            auto* cell = new QWidget(grid_);
            auto* cellLayout = new QHBoxLayout(cell);
            cellLayout->setContentsMargins(0, 0, 0, 0);
            cellLayout->setSpacing(4);
            cellLayout->addWidget(box);
            if (*fault.argument != '\0') {
                value = new QLineEdit(DefaultValue(fault), grid_);
                value->setObjectName(QStringLiteral("FaultValue_%1").arg(fault.name));
                value->setPlaceholderText(QString::fromLatin1(fault.argument));
                value->setToolTip(QString::fromLatin1(fault.meaning));
                value->setFixedWidth(48);
                cellLayout->addWidget(value);
                connect(value, &QLineEdit::textEdited, this, [this, box] {
                    if (box->isChecked()) {
                        Apply();
                    }
                });
            }
            cellLayout->addStretch();
            connect(box, &QCheckBox::toggled, this, [this] { Apply(); });
            grid->addWidget(cell, index / Columns, index % Columns);
            rows_.push_back({&fault, box, value});
            ++index;
        }
    }
    static_cast<QVBoxLayout*>(layout())->insertWidget(0, grid_);
}

QString FaultEditor::DefaultValue(const MouseFaultName& fault) const {
    const std::map<std::string, QString> defaults{
        {"chip", "36"},
        {"busy", "3"},
        {"refuse-command", "3"},
        {"refuse-read-chunk", "0"},
        {"refuse-write-chunk", "10"},
        {"corrupt", "0x10"},
        {"drop-data", "5"},
    };
    const auto found = defaults.find(fault.name);
    return found == defaults.end() ? QString() : found->second;
}

void FaultEditor::Refresh() {
    loading_ = true;
    std::map<std::string, std::string> present;
    if (mouse_) {
        std::string list = FormatMouseFaults(mouse_->Faults());
        std::size_t start = 0;
        while (start < list.size()) {
            std::size_t comma = list.find(',', start);
            if (comma == std::string::npos) {
                comma = list.size();
            }
            const std::string item = list.substr(start, comma - start);
            const std::size_t equals = item.find('=');
            present[item.substr(0, equals)] =
                equals == std::string::npos ? std::string() : item.substr(equals + 1);
            start = comma + 1;
        }
    }
    for (const Row& row : rows_) {
        const auto found = present.find(row.fault->name);
        row.box->setChecked(found != present.end());
        if (row.value != nullptr) {
            row.value->setText(found != present.end() ? QString::fromStdString(found->second)
                                                      : DefaultValue(*row.fault));
        }
    }
    loading_ = false;
    Apply();
}

void FaultEditor::Apply() {
    if (loading_) {
        return;
    }
    if (!mouse_) {
        summary_->setProperty("role", "dim");
        summary_->setText("No mouse selected.");
        summary_->style()->unpolish(summary_);
        summary_->style()->polish(summary_);
        return;
    }
    std::string list;
    for (const Row& row : rows_) {
        if (!row.box->isChecked()) {
            continue;
        }
        if (!list.empty()) {
            list += ',';
        }
        list += row.fault->name;
        if (row.value != nullptr) {
            list += '=' + row.value->text().trimmed().toStdString();
        }
    }
    MouseFaults faults;
    std::string error;
    if (ParseMouseFaults(list, mouse_->Family(), faults, error)) {
        shown_ = faults;
        if (faults != mouse_->Faults()) {
            mouse_->SetFaults(faults);
            emit FaultsChanged();
        }
        summary_->setProperty("role", "dim");
        summary_->setText(list.empty()
                              ? QStringLiteral("No faults: it answers like a healthy mouse.")
                              : QStringLiteral("Faults now: %1").arg(QString::fromStdString(list)));
    } else {
        summary_->setProperty("role", "error");
        summary_->setText(QStringLiteral("Not applied: %1").arg(QString::fromStdString(error)));
    }
    summary_->style()->unpolish(summary_);
    summary_->style()->polish(summary_);
}

void FaultEditor::Follow() {
    if (mouse_ && mouse_->Faults() != shown_) {
        Refresh();
    }
}

QCheckBox* FaultEditor::FaultBox(const QString& name) const {
    for (const Row& row : rows_) {
        if (name == QLatin1String(row.fault->name)) {
            return row.box;
        }
    }
    return nullptr;
}

QLineEdit* FaultEditor::ValueField(const QString& name) const {
    for (const Row& row : rows_) {
        if (name == QLatin1String(row.fault->name)) {
            return row.value;
        }
    }
    return nullptr;
}

} // namespace vrax
