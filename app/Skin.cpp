#include "Skin.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLineEdit>
#include <QPalette>
#include <QStyleFactory>

namespace vrax::Skin {

namespace {

// The faces the window's layout names, besides the system's default one.
const char* const DesignFaces[] = {"MS Sans Serif", "Tahoma", "Microsoft JhengHei"};

// Built into the Windows programs only: Linux keeps the stand-ins its font configuration picks.
struct CarriedFaces {
    QString proportional;
    QString fixed;
};

CarriedFaces RegisterCarriedFaces() {
    const auto add = [](const char* file) {
        const QStringList families =
            QFontDatabase::applicationFontFamilies(QFontDatabase::addApplicationFont(file));
        return families.isEmpty() ? QString() : families.first();
    };
    CarriedFaces faces;
    faces.proportional = add(":/fonts/DejaVuSans.ttf");
    add(":/fonts/DejaVuSans-Bold.ttf");
    faces.fixed = add(":/fonts/DejaVuSansMono.ttf");
    return faces;
}

} // namespace

QFont DesignFont(const QString& family, int pixelSize, bool bold) {
    QFont font(family);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    MatchLayoutWidth(font);
    return font;
}

void MatchLayoutWidth(QFont& font) {
    const QString design = font.family();
    // Only a program that carries a face has something better to offer.
    const QStringList standIns = QFont::substitutes(design);
    if (!standIns.isEmpty() && !DrawsLegibly(font)) {
        font.setFamilies(standIns);
    }
    if (QFontInfo(font).family().compare(design, Qt::CaseInsensitive) == 0) {
        font.setStretch(QFont::Unstretched);
        return;
    }
    // The stand-in face draws wider than the Windows face the layout was made for; narrowing
    // it keeps each text inside the box the layout gives it.
    font.setStretch(design == "Tahoma" ? 88 : 80);
}

bool DrawsLegibly(const QFont& font) {
    // Drawn as a field draws it: a face whose line metrics and glyphs disagree (the math face
    // Qt's own fallback ends at under Wine) leaves the field empty while labels still draw.
    const int size = QFontInfo(font).pixelSize();
    QLineEdit field(QStringLiteral("0A"));
    field.setFont(font);
    field.setFrame(false);
    QPalette colours = field.palette();
    colours.setColor(QPalette::Base, Qt::white);
    colours.setColor(QPalette::Text, Qt::black);
    field.setPalette(colours);
    field.resize(4 * size, size + 8);
    const QImage image = field.grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(line[x]) < 128) {
                return true;
            }
        }
    }
    return false;
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
    const CarriedFaces carried = RegisterCarriedFaces();
    if (carried.proportional.isEmpty()) {
        return;
    }
    // Qt tries a family's substitutes before its own fallbacks, which under Wine without fonts
    // end at the first face in the alphabet, a math face.
    for (const char* face : DesignFaces) {
        QFont::insertSubstitution(face, carried.proportional);
    }
    QFont::insertSubstitution(QFontDatabase::systemFont(QFontDatabase::FixedFont).family(),
                              carried.fixed);
    QFont standard = application.font();
    QFont::insertSubstitution(standard.family(), carried.proportional);
    if (!DrawsLegibly(standard)) {
        standard.setFamilies({carried.proportional});
        application.setFont(standard);
    }
}

} // namespace vrax::Skin
