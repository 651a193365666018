#pragma once

#include "sim/MouseFaults.h"

#include <QWidget>

#include <memory>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace vrax {

class VirtualMouse;

// The faults of one virtual mouse, one check box per fault its family knows, with a value
// field where the fault takes one. A change reaches the mouse at once, also while it is
// plugged and in the middle of a job.
class FaultEditor final : public QWidget {
    Q_OBJECT

public:
    explicit FaultEditor(QWidget* parent = nullptr);

    // Nothing to edit when mouse is null.
    void SetMouse(std::shared_ptr<VirtualMouse> mouse);
    // Reads the mouse's faults back into the boxes.
    void Refresh();
    // Refresh, when the mouse's faults were changed elsewhere since the boxes last showed them.
    void Follow();

    QCheckBox* FaultBox(const QString& name) const;
    QLineEdit* ValueField(const QString& name) const;
    QLabel* Summary() const { return summary_; }

signals:
    void FaultsChanged();

private:
    struct Row {
        const MouseFaultName* fault;
        QCheckBox* box;
        QLineEdit* value;
    };

    void Rebuild();
    void Apply();
    QString DefaultValue(const MouseFaultName& fault) const;

    std::shared_ptr<VirtualMouse> mouse_;
    std::vector<Row> rows_;
    QWidget* grid_ = nullptr;
    QLabel* summary_;
    bool loading_ = false;
    MouseFaults shown_;
};

} // namespace vrax
