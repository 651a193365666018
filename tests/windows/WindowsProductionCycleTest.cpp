#include "app/DropDownComboBox.h"
#include "app/ScriptedDialogs.h"
#include "app/StationControls.h"
#include "app/TForm1.h"
#include "device/Clock.h"
#include "device/windows/WindowsHidPlatform.h"
#include "tests/windows/ReplacementFixture.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <memory>

namespace vrax::wine {
namespace {

constexpr unsigned Vendor = 0x3C5E;

// The window on the Windows binding and the real clock, against the virtual mice of the
// replacement libraries: the production line of the Linux cycle test, through the Windows code.
// Ticks are driven by the test, through the timer's own guard.
class WindowsProductionCycle : public ReplacementFixture {
protected:
    void SetUp() override {
        ReplacementFixture::SetUp();
        form = std::make_unique<TForm1>(platform, clock, dialogs);
        form->SetExitAction([](int) {});
        form->SelectLanguage(1033);
        for (std::size_t i = 0; i < image.size(); ++i) {
            image[i] = static_cast<std::uint8_t>((i * 13 + 5) & 0xFF);
        }
        imagePath = folder.PathOf("image.bin");
        std::ofstream(imagePath, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), image.size());
    }
    void TearDown() override {
        form.reset();
        ReplacementFixture::TearDown();
    }

    void LoadImage() {
        dialogs.openAnswers.push_back(QString::fromStdString(imagePath));
        FindControl<QPushButton>(*form, "btn_Load")->click();
        ASSERT_TRUE(FindControl<QTimer>(*form, "DevTimer")->isActive());
    }
    void Tick() {
        if (FindControl<QTimer>(*form, "DevTimer")->isActive()) {
            form->RunGuarded([&] { form->DevTimerTimer(FindControl<QTimer>(*form, "DevTimer")); });
        }
    }
    std::array<std::uint8_t, 2048> Memory(int device) {
        std::array<std::uint8_t, 2048> memory{};
        EXPECT_EQ(replacements.memory(device, memory.data(), 0), 1);
        return memory;
    }
    // The unplug clears the libraries' books, so they are checked first.
    void UnplugAndSeeNoMouse() {
        EXPECT_EQ(replacements.setupApiRuleViolations(), 0);
        EXPECT_EQ(replacements.hidRuleViolations(), 0);
        EXPECT_EQ(replacements.openSets(), 0);
        EXPECT_EQ(replacements.livePreparsedData(), 0);
        replacements.UnplugAll();
        Tick();
        EXPECT_EQ(FindControl<QLabel>(*form, "lbl_DevStatus")->text(), "No Find Mouse");
    }

    WindowsHidPlatform platform{ReplacementLibraryFiles()};
    RealClock clock{RealClock::FineTimer::HeldByCaller};
    ScriptedDialogs dialogs;
    std::unique_ptr<TForm1> form;
    std::string imagePath;
    std::array<std::uint8_t, 2048> image{};
};

TEST_F(WindowsProductionCycle, AutoWriteProgramsTwentyKvqm31xThenTenKvqm42xxMice) {
    FindControl<QCheckBox>(*form, "cb_WriteID")->setChecked(true);
    FindControl<QRadioButton>(*form, "rb_CmdByte2K")->setChecked(true);
    FindControl<QCheckBox>(*form, "cb_AutoRun")->click();
    LoadImage();
    for (int n = 1; n <= 20; ++n) {
        SCOPED_TRACE(n);
        const PluggedDevice mouse = replacements.Plug(folder, "kvqm31x", Vendor, 0x0A31, 0x0104);
        Tick();
        ASSERT_EQ(FindControl<QLabel>(*form, "lbl_CtrlResult")->text(), "Write Pass");
        EXPECT_EQ(FindControl<QLabel>(*form, "lbl_DevStatus")->text(), "Mouse Ready");
        const auto memory = Memory(mouse.id);
        for (std::size_t i = 0; i < memory.size(); ++i) {
            if (i < 160 || i >= 172) {
                ASSERT_EQ(memory[i], image[i]) << i;
            }
        }
        EXPECT_EQ((memory[166] << 16) | (memory[167] << 8) | memory[168], n);
        UnplugAndSeeNoMouse();
    }
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_PassCnt")->text(), "20");

    FindControl<DropDownComboBox>(*form, "cb_ICType")->setCurrentIndex(1);
    form->RunGuarded(
        [&] { form->cb_ICTypeChange(FindControl<DropDownComboBox>(*form, "cb_ICType")); });
    LoadImage();
    for (int n = 1; n <= 10; ++n) {
        SCOPED_TRACE(n);
        const PluggedDevice mouse = replacements.Plug(
            folder, n % 2 ? "kvqm42xx" : "kvqm42xx-two-interfaces", Vendor, 0x0A42, 0x0100);
        Tick();
        ASSERT_EQ(FindControl<QLabel>(*form, "lbl_CtrlResult")->text(), "Write Pass");
        EXPECT_EQ(Memory(mouse.id), image);
        UnplugAndSeeNoMouse();
    }
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_PassCnt")->text(), "10");
    EXPECT_EQ(FineTimerResolution::Held(), 0) << "the fine timer is given back after each tick";
}

} // namespace
} // namespace vrax::wine
