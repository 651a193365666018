#include "app/AnimatedPicture.h"
#include "app/ScriptedDialogs.h"
#include "app/StationControls.h"
#include "app/TForm1.h"
#include "app/TFormLoadingUI.h"
#include "device/Clock.h"
#include "device/NullHidPlatform.h"

#include <QMovie>

#include <gtest/gtest.h>

namespace vrax {
namespace {

TEST(BusyWindowTest, CreatedHiddenBelowTheCentreWithALoopingKeyedAnimation) {
    NullHidPlatform platform;
    VirtualClock clock;
    ScriptedDialogs dialogs;
    TForm1 form(platform, clock, dialogs);
    TFormLoadingUI* busy = FindControl<TFormLoadingUI>(form, "FormLoadingUI");
    ASSERT_NE(busy, nullptr);

    EXPECT_FALSE(busy->isVisible());
    EXPECT_TRUE(busy->isWindow());
    EXPECT_EQ(busy->objectName(), "FormLoadingUI");
    EXPECT_EQ(busy->windowTitle(), "FormLoadingUI");
    EXPECT_TRUE(busy->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(busy->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(busy->testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_EQ(busy->size(), QSize(206, 196));
    EXPECT_EQ(busy->pos(), TFormLoadingUI::CreationPosition(form.frameGeometry(), {206, 196}));

    AnimatedPicture* gif = busy->WaitGif;
    EXPECT_EQ(gif->objectName(), "WaitGif");
    EXPECT_EQ(gif->geometry(), QRect(0, 0, 200, 192));
    QMovie* movie = gif->Animation();
    EXPECT_TRUE(movie->isValid());
    EXPECT_EQ(movie->state(), QMovie::Running);
    EXPECT_EQ(movie->loopCount(), -1) << "loops for ever";
    EXPECT_GT(movie->frameCount(), 1);
    EXPECT_EQ(movie->currentImage().size(), QSize(200, 192));

    const QImage& shown = gif->ShownFrame();
    ASSERT_EQ(shown.size(), QSize(200, 192));
    EXPECT_EQ(qAlpha(shown.pixel(0, 0)), 0) << "black is see-through";
    int visible = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            visible += qAlpha(shown.pixel(x, y)) == 255 ? 1 : 0;
        }
    }
    EXPECT_GT(visible, 500);
    EXPECT_LT(visible, 200 * 192 / 2);
}

TEST(BusyWindowTest, ShownCentredOverTheMainWindowWhereverItWasMoved) {
    NullHidPlatform platform;
    VirtualClock clock;
    ScriptedDialogs dialogs;
    TForm1 form(platform, clock, dialogs);
    form.move(100, 50);
    form.show();
    form.ShowBusyWindow();
    TFormLoadingUI* busy = FindControl<TFormLoadingUI>(form, "FormLoadingUI");
    EXPECT_TRUE(busy->isVisible());
    EXPECT_EQ(busy->pos(), QPoint(309, 292));

    form.PumpMessages();
    form.ShowBusyWindow();
    EXPECT_EQ(busy->pos(), QPoint(309, 292)) << "showing again only moves it";

    form.move(400, 10);
    form.ShowBusyWindow();
    EXPECT_EQ(busy->pos(), QPoint(609, 252));
    form.HideBusyWindow();
    EXPECT_FALSE(busy->isVisible());
}

} // namespace
} // namespace vrax
