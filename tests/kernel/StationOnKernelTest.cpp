#include "app/ScriptedDialogs.h"
#include "app/StationControls.h"
#include "app/TForm1.h"
#include "device/Clock.h"
#include "device/linux/HidrawPlatform.h"
#include "tests/kernel/KernelBenchFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <chrono>
#include <filesystem>

namespace vrax::testing {
namespace {

using StationOnKernelTest = KernelBenchFixture;

int OpenHidrawDescriptors() {
    int count = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        const auto target = std::filesystem::read_symlink(entry.path(), error);
        count += !error && target.string().rfind("/dev/hidraw", 0) == 0 ? 1 : 0;
    }
    return count;
}

// The station's window, unchanged, on the machine's hidraw backend and real clock: three
// mice plugged one after another are each written by Auto Write with the serial number
// advancing; a fourth pulled out in the middle of its image fails without a hang, and the
// next one is written with the serial number the failed one did not keep. Every handle of a
// gone mouse is closed.
TEST_F(StationOnKernelTest, AutoWriteProgramsMicePluggedOneAfterAnotherAndSurvivesAnUnplug) {
    HidrawPlatform platform;
    RealClock clock;
    ScriptedDialogs dialogs;
    TForm1 form(platform, clock, dialogs);
    form.SetExitAction([](int) {});
    form.SelectLanguage(1033);
    const auto tickUntil = [&](const QString& status) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
        while (FindControl<QLabel>(form, "lbl_DevStatus")->text() != status &&
               std::chrono::steady_clock::now() < deadline) {
            if (FindControl<QTimer>(form, "DevTimer")->isActive()) {
                form.RunGuarded([&] { form.DevTimerTimer(FindControl<QTimer>(form, "DevTimer")); });
            }
        }
        return FindControl<QLabel>(form, "lbl_DevStatus")->text() == status;
    };
    FindControl<QCheckBox>(form, "cb_WriteID")->setChecked(true);
    FindControl<QRadioButton>(form, "rb_CmdByte2K")->setChecked(true);
    FindControl<QCheckBox>(form, "cb_AutoRun")->click();
    dialogs.openAnswers.push_back(QString::fromStdString(imagePath));
    FindControl<QPushButton>(form, "btn_Load")->click();
    ASSERT_TRUE(form.State().ImageLoaded);

    struct Plugged {
        bool pulled;
        int serialNumber;
    };
    const Plugged mice[] = {{false, 1}, {false, 2}, {false, 3}, {true, 4}, {false, 4}};
    for (const Plugged& plugged : mice) {
        SCOPED_TRACE(plugged.serialNumber);
        std::vector<std::string> arguments;
        if (plugged.pulled) {
            arguments = {"--unplug-at", "300"};
        }
        auto mouse = PlugMouse("kvqm31x", arguments);
        ASSERT_TRUE(tickUntil("Mouse Ready"));
        if (plugged.pulled) {
            EXPECT_EQ(FindControl<QLabel>(form, "lbl_CtrlResult")->text(), "Write Fail");
            EXPECT_TRUE(mouse->WaitForExit(std::chrono::seconds(20))) << mouse->Output();
            EXPECT_TRUE(mouse->NodesGone(std::chrono::seconds(20)));
        } else {
            EXPECT_EQ(FindControl<QLabel>(form, "lbl_CtrlResult")->text(), "Write Pass");
            ASSERT_TRUE(mouse->Unplug()) << mouse->Output();
        }
        ASSERT_TRUE(tickUntil("No Find Mouse"));
        EXPECT_EQ(OpenHidrawDescriptors(), 0) << "every handle of a gone mouse is closed";
        if (plugged.pulled) {
            continue;
        }
        const auto memory = mouse->Dump();
        for (int i = 0; i < 2048; ++i) {
            if (i < 160 || i >= 172) {
                ASSERT_EQ(memory[i], image[i]) << i;
            }
        }
        EXPECT_EQ((memory[166] << 16) | (memory[167] << 8) | memory[168], plugged.serialNumber);
    }
    EXPECT_EQ(FindControl<QLabel>(form, "lbl_PassCnt")->text(), "4");
}

} // namespace
} // namespace vrax::testing
