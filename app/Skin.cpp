#include "Skin.h"

#include <QApplication>
#include <QFontInfo>
#include <QStyleFactory>

namespace vrax::Skin {

QFont DesignFont(const QString& family, int pixelSize, bool bold) {
    QFont font(family);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    MatchLayoutWidth(font);
    return font;
}

void MatchLayoutWidth(QFont& font) {
    if (QFontInfo(font).family().compare(font.family(), Qt::CaseInsensitive) == 0) {
        font.setStretch(QFont::Unstretched);
        return;
    }
    // The stand-in face draws wider than the Windows face the layout was made for; narrowing
    // it keeps each text inside the box the layout gives it.
    font.setStretch(font.family() == "Tahoma" ? 88 : 80);
}

QString StyleSheet() {
    return QStringLiteral(R"(
QGroupBox {
    border: 1px solid rgb(104, 104, 104);
    border-radius: 3px;
    margin-top: 8px;
    background: transparent;
}
QGroupBox::title {
    subcontrol-origin: margin;
    subcontrol-position: top left;
    left: 8px;
    padding: 0px 3px;
    color: rgb(0, 44, 200);
}
QLineEdit {
    background: rgb(239, 235, 222);
    border: 1px solid rgb(122, 138, 166);
    border-radius: 2px;
    padding: 0px;
    selection-background-color: rgb(0, 44, 200);
}
QLineEdit:focus { border-color: rgb(0, 44, 200); }
QLineEdit:disabled { color: rgb(120, 120, 120); border-color: rgb(170, 170, 170); }
QLineEdit#edt_BinFile { background: rgb(192, 220, 192); color: rgb(20, 60, 20); }
QComboBox {
    background: rgb(239, 235, 222);
    border: 1px solid rgb(122, 138, 166);
    border-radius: 2px;
    padding: 0px 2px;
}
QComboBox:focus { border-color: rgb(0, 44, 200); }
QComboBox:disabled { color: rgb(120, 120, 120); border-color: rgb(170, 170, 170); }
QComboBox QLineEdit { border: none; padding: 0px; background: transparent; }
QComboBox::drop-down {
    subcontrol-origin: padding;
    subcontrol-position: top right;
    width: 16px;
    border-left: 1px solid rgb(122, 138, 166);
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 rgb(250, 250, 255),
                                stop:1 rgb(196, 210, 240));
}
QComboBox::down-arrow { image: url(:/artwork/arrow-down.png); width: 9px; height: 5px; }
QComboBox::down-arrow:disabled { image: url(:/artwork/arrow-down-disabled.png); }
QComboBox::drop-down:disabled { background: rgb(228, 225, 214); border-left-color: rgb(170, 170, 170); }
QComboBox QAbstractItemView {
    background: rgb(239, 235, 222);
    border: 1px solid rgb(0, 44, 200);
    selection-background-color: rgb(0, 44, 200);
    selection-color: white;
}
QCheckBox, QRadioButton { spacing: 3px; }
QPushButton {
    border: 1px solid rgb(0, 44, 200);
    border-radius: 4px;
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 rgb(255, 255, 255),
                                stop:0.5 rgb(232, 238, 252), stop:1 rgb(190, 206, 240));
    color: rgb(0, 30, 120);
}
QPushButton:hover {
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 rgb(255, 255, 255),
                                stop:0.5 rgb(240, 246, 255), stop:1 rgb(206, 222, 252));
}
QPushButton:pressed {
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 rgb(180, 198, 236),
                                stop:1 rgb(226, 234, 252));
}
QPushButton:focus { border: 2px solid rgb(0, 44, 200); }
QPushButton:disabled {
    border-color: rgb(165, 165, 165);
    background: rgb(228, 225, 214);
    color: rgb(150, 150, 150);
}
)");
}

void InstallApplicationLook(QApplication& application) {
    if (QStyle* style = QStyleFactory::create("Fusion")) {
        application.setStyle(style);
    }
}

} // namespace vrax::Skin
