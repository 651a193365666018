#pragma once

#include "app/DropDownComboBox.h"
#include "app/ScriptedDialogs.h"
#include "app/StationControls.h"
#include "app/TForm1.h"
#include "app/TFormLoadingUI.h"
#include "programming/BinImage.h"
#include "sim/SimulatedHidBus.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace vrax::testing {

// The station window on the simulated bus with a virtual clock. Ticks are driven by the test
// through the same guard the timer uses, and only while the timer runs.
class StationWindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<TForm1>(bus, clock, dialogs);
        form->SetExitAction([](int) {});
        form->SelectLanguage(1033);
        folder = std::filesystem::temp_directory_path() /
                 ("vrax-faults-" + std::to_string(QCoreApplication::applicationPid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        for (int i = 0; i < ImageSize; ++i) {
            // No byte is 0xFF, so an unwritten or undelivered byte never matches the image.
            image[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((i * 37 + 9) % 251);
        }
        imagePath = (folder / "image.bin").string();
        std::ofstream(imagePath, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), ImageSize);
    }

    void TearDown() override {
        form.reset();
        std::filesystem::remove_all(folder);
    }

    void SelectIcType(int index) {
        FindControl<DropDownComboBox>(*form, "cb_ICType")->setCurrentIndex(index);
        form->RunGuarded(
            [&] { form->cb_ICTypeChange(FindControl<DropDownComboBox>(*form, "cb_ICType")); });
    }

    void LoadImage() {
        dialogs.openAnswers.push_back(QString::fromStdString(imagePath));
        FindControl<QPushButton>(*form, "btn_Load")->click();
        ASSERT_TRUE(form->State().ImageLoaded);
    }

    void Tick() {
        if (FindControl<QTimer>(*form, "DevTimer")->isActive()) {
            form->RunGuarded([&] { form->DevTimerTimer(FindControl<QTimer>(*form, "DevTimer")); });
        }
    }

    // The caption of lbl_CtrlResult while it is shown; "none" while it is hidden.
    std::string Verdict() const {
        return FindControl<QLabel>(*form, "lbl_CtrlResult")->isHidden()
                   ? "none"
                   : FindControl<QLabel>(*form, "lbl_CtrlResult")->text().toStdString();
    }

    std::string Path(const std::string& name) const { return (folder / name).string(); }

    VirtualClock clock;
    SimulatedHidBus bus{clock};
    ScriptedDialogs dialogs;
    std::unique_ptr<TForm1> form;
    std::filesystem::path folder;
    std::string imagePath;
    ImageBuffer image{};
};

} // namespace vrax::testing
