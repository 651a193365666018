#pragma once

#include <QLabel>

namespace vrax {

// A picture of a fixed size that reports double-clicks.
class PictureBox : public QLabel {
    Q_OBJECT

public:
    explicit PictureBox(QWidget* parent = nullptr);

signals:
    void DoubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

} // namespace vrax
