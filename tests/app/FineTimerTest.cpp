#include "app/ScriptedDialogs.h"
#include "app/StationControls.h"
#include "app/TForm1.h"
#include "sim/SimulatedHidBus.h"
#include "sim/VirtualMouse31x.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

namespace vrax {
namespace {

// Notes, at every wait, how many fine system timers the process holds.
class WatchingClock final : public Clock {
public:
    void SleepMilliseconds(std::uint32_t milliseconds) override {
        heldAtWaits.push_back(FineTimerResolution::Held());
        inner.SleepMilliseconds(milliseconds);
    }
    void BusyWaitMicroseconds(std::uint32_t microseconds) override {
        heldAtWaits.push_back(FineTimerResolution::Held());
        inner.BusyWaitMicroseconds(microseconds);
    }
    std::chrono::microseconds Now() const override { return inner.Now(); }

    VirtualClock inner;
    std::vector<int> heldAtWaits;
};

TEST(FineTimerTest, HeldForEveryWaitOfAnAutoWriteTickAndGivenBackAfterIt) {
    WatchingClock clock;
    SimulatedHidBus bus(clock);
    ScriptedDialogs dialogs;
    TForm1 form(bus, clock, dialogs);
    form.SetExitAction([](int) {});
    const auto image = std::filesystem::temp_directory_path() / "vrax-fine-timer.bin";
    std::ofstream(image, std::ios::binary) << std::string(2048, '\x5A');
    dialogs.openAnswers.push_back(QString::fromStdString(image.string()));
    FindControl<QCheckBox>(form, "cb_AutoRun")->click();
    FindControl<QPushButton>(form, "btn_Load")->click();
    std::filesystem::remove(image);
    ASSERT_TRUE(FindControl<QTimer>(form, "DevTimer")->isActive());
    EXPECT_EQ(FineTimerResolution::Held(), 0);

    bus.Plug(std::make_shared<VirtualMouse31x>());
    form.RunGuarded([&] { form.DevTimerTimer(FindControl<QTimer>(form, "DevTimer")); });
    EXPECT_EQ(FindControl<QLabel>(form, "lbl_CtrlResult")->text(), "Write Pass");
    ASSERT_GT(clock.heldAtWaits.size(), 100u);
    EXPECT_TRUE(std::all_of(clock.heldAtWaits.begin(), clock.heldAtWaits.end(),
                            [](int held) { return held > 0; }));
    EXPECT_EQ(FineTimerResolution::Held(), 0);
}

} // namespace
} // namespace vrax
