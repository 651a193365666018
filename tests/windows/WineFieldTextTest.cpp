#include "app/ScriptedDialogs.h"
#include "app/Skin.h"
#include "app/StationControls.h"
#include "app/TForm1.h"
#include "bench/BenchWindow.h"
#include "device/Clock.h"
#include "sim/SimulatedHidBus.h"

#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

namespace vrax::wine {
namespace {

struct Ink {
    int pixels = 0;
    bool cut = false;
};

// Pixels that stand apart from the box's own background (its commonest colour), and whether
// any lies on the box's top or bottom row, where a line drawn too high or too low is cut.
Ink InkInside(const QImage& picture, const QRect& box) {
    std::map<QRgb, int> colours;
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x) {
            ++colours[picture.pixel(x, y)];
        }
    }
    QRgb background = 0;
    int most = 0;
    for (const auto& [colour, count] : colours) {
        if (count > most) {
            background = colour;
            most = count;
        }
    }
    Ink ink;
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x) {
            const QRgb pixel = picture.pixel(x, y);
            const int distance = std::abs(qRed(pixel) - qRed(background)) +
                                 std::abs(qGreen(pixel) - qGreen(background)) +
                                 std::abs(qBlue(pixel) - qBlue(background));
            if (distance > 150) {
                ++ink.pixels;
                ink.cut = ink.cut || y == box.top() || y == box.bottom();
            }
        }
    }
    return ink;
}

// Every field of the window that holds text, as the operator sees it: its text must be drawn
// inside the field's frame (left of a list's arrow or a spin box's buttons), whole.
std::string FieldsWithoutText(QWidget& window) {
    const QImage picture = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    std::string missing;
    const auto check = [&](QWidget* field, const QString& text, int rightPart) {
        if (text.isEmpty() || !field->isVisibleTo(&window)) {
            return;
        }
        const QRect inner = field->rect().adjusted(2, 2, -2 - rightPart, -2);
        const QRect box(field->mapTo(&window, inner.topLeft()), inner.size());
        const Ink ink = InkInside(picture, box);
        // Even "1" leaves a stroke the height of a digit.
        if (ink.pixels < 6 || ink.cut) {
            missing += " " + field->objectName().toStdString() + " (\"" + text.toStdString() +
                       "\": " + std::to_string(ink.pixels) +
                       (ink.cut ? " pixels, cut)" : " pixels)");
        }
    };
    for (auto* list : window.findChildren<QComboBox*>()) {
        check(list, list->currentText(), 16);
    }
    for (auto* spin : window.findChildren<QSpinBox*>()) {
        check(spin, spin->text(), 16);
    }
    for (auto* edit : window.findChildren<QLineEdit*>()) {
        // A list's or spin box's own edit is checked with it.
        if (!qobject_cast<QComboBox*>(edit->parent()) &&
            !qobject_cast<QAbstractSpinBox*>(edit->parent())) {
            check(edit, edit->text(), 0);
        }
    }
    return missing;
}

// Wine's windows platform plugin with Qt's default font engine (GDI), in a prefix holding no
// fonts: the station's and the bench's fields show their text as the program draws them.
TEST(WineFieldText, EveryFieldOfTheStationAndTheBenchDrawsItsText) {
    ASSERT_EQ(QGuiApplication::platformName(), "windows");
    VirtualClock clock;
    SimulatedHidBus bus{clock};
    ScriptedDialogs dialogs;
    TForm1 station(bus, clock, dialogs);
    station.SetExitAction([](int) {});
    station.SelectLanguage(1033);
    dialogs.openAnswers.push_back(VRAX_BENCH_SAMPLE_DIR "/sample-2k.bin");
    FindControl<QPushButton>(station, "btn_Load")->click();
    ASSERT_FALSE(FindControl<QLineEdit>(station, "edt_BinFile")->text().isEmpty());
    BenchWindow bench(bus, station);
    bench.refreshTimer->stop();
    station.show();
    bench.show();
    QApplication::processEvents();

    EXPECT_EQ(FieldsWithoutText(station), "");
    EXPECT_EQ(FieldsWithoutText(bench), "");
    FindControl<QTimer>(station, "DevTimer")->stop();
}

// An installed face whose line does not fit a field (the math face Qt's own fallback ends at
// under Wine) gives way to the carried face, narrowed as any stand-in.
TEST(WineFieldText, AnInstalledFaceThatDrawsNoFittingLineGivesWayToTheCarriedFace) {
    const QString math = "DejaVu Math TeX Gyre";
    QFont font(math);
    font.setPixelSize(12);
    ASSERT_EQ(QFontInfo(font).family(), math);
    EXPECT_FALSE(Skin::DrawsLegibly(font));
    const QString carried = QFontInfo(Skin::DesignFont("MS Sans Serif", 12)).family();
    QFont::insertSubstitution(math, carried);
    Skin::MatchLayoutWidth(font);
    QFont::removeSubstitutions(math);
    EXPECT_EQ(QFontInfo(font).family(), carried);
    EXPECT_EQ(font.stretch(), 80);
    EXPECT_TRUE(Skin::DrawsLegibly(font));
}

} // namespace
} // namespace vrax::wine

// The windows platform plugin, whatever the suite's environment chose for the other tests;
// listing the tests needs no window at all.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    qputenv("QT_QPA_PLATFORM", "windows");
    QApplication application(argc, argv);
    vrax::Skin::InstallApplicationLook(application);
    return RUN_ALL_TESTS();
}
