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

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>

namespace vrax::testing {
namespace {

// The station's window, unchanged, on the machine's hidraw backend and real clock, in Auto
// Write with the serial number stamped and the image loaded.
class StationOnKernelTest : public KernelBenchFixture {
protected:
    void SetUp() override {
        KernelBenchFixture::SetUp();
        if (IsSkipped()) {
            return;
        }
        form = std::make_unique<TForm1>(platform, clock, dialogs);
        form->SetExitAction([](int) {});
        form->SelectLanguage(1033);
        FindControl<QCheckBox>(*form, "cb_WriteID")->setChecked(true);
        FindControl<QRadioButton>(*form, "rb_CmdByte2K")->setChecked(true);
        FindControl<QCheckBox>(*form, "cb_AutoRun")->click();
        dialogs.openAnswers.push_back(QString::fromStdString(imagePath));
        FindControl<QPushButton>(*form, "btn_Load")->click();
        ASSERT_TRUE(form->State().ImageLoaded);
    }

    QString Shown(const char* label) { return FindControl<QLabel>(*form, label)->text(); }

    // DevTimer's ticks, as the window's timer would give them, until the label shows the text.
    bool TickUntil(const char* label, const QString& text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
        auto* timer = FindControl<QTimer>(*form, "DevTimer");
        while (Shown(label) != text && std::chrono::steady_clock::now() < deadline) {
            if (timer->isActive()) {
                form->RunGuarded([&] { form->DevTimerTimer(timer); });
            }
        }
        return Shown(label) == text;
    }
    bool TickUntil(const QString& status) { return TickUntil("lbl_DevStatus", status); }

    HidrawPlatform platform;
    RealClock clock;
    ScriptedDialogs dialogs;
    std::unique_ptr<TForm1> form;
};

int OpenHidrawDescriptors() {
    int count = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        const auto target = std::filesystem::read_symlink(entry.path(), error);
        count += !error && target.string().rfind("/dev/hidraw", 0) == 0 ? 1 : 0;
    }
    return count;
}

// Three mice plugged one after another are each written by Auto Write with the serial number
// advancing; a fourth pulled out in the middle of its image fails without a hang, and the
// next one is written with the serial number the failed one did not keep. Every handle of a
// gone mouse is closed.
TEST_F(StationOnKernelTest, AutoWriteProgramsMicePluggedOneAfterAnotherAndSurvivesAnUnplug) {
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
        ASSERT_TRUE(TickUntil("Mouse Ready"));
        if (plugged.pulled) {
            EXPECT_EQ(Shown("lbl_CtrlResult"), "Write Fail");
            EXPECT_TRUE(mouse->WaitForExit(std::chrono::seconds(20))) << mouse->Output();
            EXPECT_TRUE(mouse->NodesGone(std::chrono::seconds(20)));
        } else {
            EXPECT_EQ(Shown("lbl_CtrlResult"), "Write Pass");
            ASSERT_TRUE(mouse->Unplug()) << mouse->Output();
        }
        ASSERT_TRUE(TickUntil("No Find Mouse"));
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
    EXPECT_EQ(Shown("lbl_PassCnt"), "4");
}

// Mice plugged beside the ready one, as on a jig's neighbouring ports: each arrival opens
// again and writes again with the next serial number, the window answering throughout, and
// the removal of any of them shows "No Find Mouse" though the others are still there.
TEST_F(StationOnKernelTest, EachMousePluggedBesideTheReadyOneStartsAnotherWrite) {
    std::vector<std::unique_ptr<UsbMouseProcess>> mice;
    for (int serialNumber = 1; serialNumber <= 3; ++serialNumber) {
        SCOPED_TRACE(serialNumber);
        mice.push_back(PlugMouse("kvqm31x"));
        ASSERT_TRUE(TickUntil("lbl_PassCnt", QString::number(serialNumber)));
        EXPECT_EQ(Shown("lbl_CtrlResult"), "Write Pass");
        EXPECT_EQ(Shown("lbl_DevStatus"), "Mouse Ready");
    }
    ASSERT_TRUE(mice[1]->Unplug()) << mice[1]->Output();
    ASSERT_TRUE(TickUntil("No Find Mouse"));
    int last = 0;
    for (auto& mouse : mice) {
        if (mouse != mice[1]) {
            ASSERT_TRUE(mouse->Unplug()) << mouse->Output();
        }
        const auto memory = mouse->Dump();
        if (std::all_of(memory.begin(), memory.end(), [](auto b) { return b == 0xFF; })) {
            continue; // never opened: the walk found another first
        }
        ExpectImageWithRecord(memory, image, true);
        last = std::max(last, (memory[166] << 16) | (memory[167] << 8) | memory[168]);
    }
    EXPECT_EQ(last, 3) << "the third write went to one of the three";
    EXPECT_EQ(OpenHidrawDescriptors(), 0);
}

} // namespace
} // namespace vrax::testing
