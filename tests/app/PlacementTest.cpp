#include "app/AnimatedPicture.h"
#include "app/ScriptedDialogs.h"
#include "app/SystemLocale.h"
#include "app/TForm1.h"
#include "app/TFormLoadingUI.h"

#include <QLocale>

#include <gtest/gtest.h>

namespace vrax {
namespace {

TEST(PlacementTest, StartPositionDividesTowardZero) {
    EXPECT_EQ(TForm1::StartPosition({1920, 1080}), QPoint(647, 200));
    EXPECT_EQ(TForm1::StartPosition({1025, 769}), QPoint(200, 44));
    EXPECT_EQ(TForm1::StartPosition({625, 680}), QPoint(0, 0));
    // (624 - 625) div 2 is 0, not -1; (600 - 625) div 2 is -12.
    EXPECT_EQ(TForm1::StartPosition({624, 679}), QPoint(0, 0));
    EXPECT_EQ(TForm1::StartPosition({600, 600}), QPoint(-12, -40));
    EXPECT_EQ(TForm1::StartPosition({622, 677}), QPoint(-1, -1));
}

TEST(PlacementTest, BusyWindowSitsFortyPixelsLowAtCreationAndCentredWhenShown) {
    const QSize busy(TFormLoadingUI::ClientWidth, TFormLoadingUI::ClientHeight);
    const QRect main(100, 50, 625, 680);
    EXPECT_EQ(TFormLoadingUI::CreationPosition(main, busy), QPoint(309, 332));
    EXPECT_EQ(TFormLoadingUI::CentredPosition(main, busy), QPoint(309, 292));
    const QRect offLeft(-300, -20, 625, 680);
    EXPECT_EQ(TFormLoadingUI::CentredPosition(offLeft, busy), QPoint(-91, 222));
    // A main window smaller than the busy window: (205 - 206) div 2 is 0.
    const QRect tiny(10, 10, 205, 195);
    EXPECT_EQ(TFormLoadingUI::CentredPosition(tiny, busy), QPoint(10, 10));
    EXPECT_EQ(TFormLoadingUI::CreationPosition(tiny, busy), QPoint(10, 50));
}

TEST(PlacementTest, OnlyChineseAsUsedInThePrcMapsTo2052) {
    EXPECT_EQ(LocaleId(QLocale(QLocale::Chinese, QLocale::China)), 2052);
    EXPECT_EQ(LocaleId(QLocale(QLocale::Chinese, QLocale::Taiwan)), 1028);
    EXPECT_EQ(LocaleId(QLocale(QLocale::Chinese, QLocale::HongKong)), 3076);
    EXPECT_EQ(LocaleId(QLocale(QLocale::English, QLocale::UnitedStates)), 1033);
    EXPECT_EQ(LocaleId(QLocale(QLocale::French, QLocale::France)), 0);
}

TEST(PlacementTest, ColourKeyClearsOnlyExactBlack) {
    QImage frame(3, 1, QImage::Format_RGB32);
    frame.setPixel(0, 0, qRgb(0, 0, 0));
    frame.setPixel(1, 0, qRgb(1, 0, 0));
    frame.setPixel(2, 0, qRgb(0, 44, 200));
    const QImage keyed = AnimatedPicture::ApplyColourKey(frame, qRgb(0, 0, 0));
    EXPECT_EQ(qAlpha(keyed.pixel(0, 0)), 0);
    EXPECT_EQ(keyed.pixel(1, 0), qRgb(1, 0, 0));
    EXPECT_EQ(keyed.pixel(2, 0), qRgb(0, 44, 200));
}

TEST(PlacementTest, ScriptedDialogsAnswerInOrderAndCancelWhenEmpty) {
    ScriptedDialogs dialogs;
    dialogs.openAnswers = {QString("/tmp/a.bin"), std::nullopt};
    dialogs.passwordAnswers = {QString("secret")};
    EXPECT_EQ(dialogs.OpenFile(nullptr, {"LoadFile(*.bin)", "*.bin"}), QString("/tmp/a.bin"));
    EXPECT_EQ(dialogs.OpenFile(nullptr, {"LoadFile(*.bin)", "*.bin"}), std::nullopt);
    EXPECT_EQ(dialogs.OpenFile(nullptr, {"LoadFile(*.bin)", "*.bin"}), std::nullopt);
    EXPECT_EQ(dialogs.SaveFile(nullptr, {"SaveFile(*.bin)", "*.bin"}), std::nullopt);
    EXPECT_EQ(dialogs.Password(nullptr, {"caption", "PASSWORD:"}, "before"), QString("secret"));
    dialogs.Error(nullptr, "title", "text");
    ASSERT_EQ(dialogs.shown.size(), 6u);
    EXPECT_EQ(dialogs.shown[0].title, "LoadFile(*.bin)");
    EXPECT_EQ(dialogs.shown[4].initialText, "before");
    EXPECT_EQ(dialogs.shown[5].kind, ScriptedDialogs::Kind::Error);
    EXPECT_EQ(dialogs.Count(ScriptedDialogs::Kind::OpenFile), 3);
}

} // namespace
} // namespace vrax
