#include "BenchLook.h"

namespace vrax::BenchLook {

QString StyleSheet() {
    return QStringLiteral(R"(
QWidget#BenchWindow { background: rgb(30, 39, 48); }
QWidget { color: rgb(230, 237, 243); font-size: 12px; }
QLabel#BenchBanner {
    background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 rgb(242, 165, 65),
                                stop:1 rgb(214, 120, 40));
    color: rgb(30, 39, 48);
    font-size: 20px;
    font-weight: bold;
    padding: 6px 12px;
}
QLabel#BenchSubtitle { color: rgb(30, 39, 48); font-size: 11px; }
QLabel#StartHint {
    background: rgb(39, 50, 61);
    border-left: 4px solid rgb(60, 196, 180);
    padding: 4px 8px;
    color: rgb(230, 237, 243);
}
QGroupBox {
    background: rgb(39, 50, 61);
    border: 1px solid rgb(63, 78, 92);
    border-radius: 6px;
    margin-top: 14px;
    padding-top: 6px;
}
QGroupBox::title {
    subcontrol-origin: margin;
    left: 10px;
    padding: 0px 4px;
    color: rgb(242, 165, 65);
    font-weight: bold;
}
QPushButton {
    background: rgb(52, 66, 80);
    border: 1px solid rgb(80, 98, 115);
    border-radius: 4px;
    padding: 3px 10px;
    color: rgb(230, 237, 243);
}
QPushButton:hover { border-color: rgb(60, 196, 180); }
QPushButton:pressed { background: rgb(40, 52, 64); }
QPushButton:disabled { color: rgb(110, 125, 140); border-color: rgb(63, 78, 92); }
QPushButton#LineStartButton {
    background: rgb(242, 165, 65);
    color: rgb(30, 39, 48);
    font-weight: bold;
    border: none;
}
QPushButton#LineStartButton:disabled { background: rgb(90, 80, 60); color: rgb(150, 140, 120); }
QTableWidget, QListWidget {
    background: rgb(21, 28, 34);
    alternate-background-color: rgb(26, 34, 41);
    border: 1px solid rgb(63, 78, 92);
    gridline-color: rgb(39, 50, 61);
    selection-background-color: rgb(60, 196, 180);
    selection-color: rgb(21, 28, 34);
}
QHeaderView::section {
    background: rgb(32, 42, 51);
    color: rgb(130, 148, 165);
    border: none;
    padding: 2px 4px;
}
QLineEdit, QSpinBox, QComboBox {
    background: rgb(21, 28, 34);
    border: 1px solid rgb(80, 98, 115);
    border-radius: 3px;
    padding: 1px 4px;
    selection-background-color: rgb(60, 196, 180);
}
QLineEdit:disabled { color: rgb(110, 125, 140); }
QCheckBox:disabled { color: rgb(110, 125, 140); }
QAbstractScrollArea#HexView { border: 1px solid rgb(63, 78, 92); }
QScrollBar:vertical { background: rgb(30, 39, 48); width: 12px; margin: 0px; }
QScrollBar::handle:vertical {
    background: rgb(80, 98, 115);
    border-radius: 4px;
    min-height: 24px;
    margin: 2px;
}
QScrollBar::handle:vertical:hover { background: rgb(60, 196, 180); }
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0px; }
QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }
QLabel[role="dim"] { color: rgb(130, 148, 165); }
QLabel[role="error"] { color: rgb(240, 86, 91); }
)");
}

} // namespace vrax::BenchLook
