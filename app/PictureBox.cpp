#include "PictureBox.h"

#include <QMouseEvent>

namespace vrax {

PictureBox::PictureBox(QWidget* parent) : QLabel(parent) {
    setScaledContents(true);
}

void PictureBox::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        emit DoubleClicked();
    }
    event->accept();
}

} // namespace vrax
