#include "app/ScriptedDialogs.h"
#include "app/StationControls.h"
#include "app/TForm1.h"
#include "controls/THexEdit.h"
#include "controls/TIntEdit.h"
#include "records/RecordsReport.h"
#include "records/RememberingHidPlatform.h"
#include "records/SqliteProductionRecords.h"
#include "sim/SimulatedHidBus.h"
#include "sim/VirtualMouse31x.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace vrax {
namespace {

namespace fs = std::filesystem;

TEST(WindowRecords, AShiftInAutoWriteLeavesOneRecordPerMouseAndRepeatsShowUp) {
    const fs::path folder = fs::temp_directory_path() / "vrax-window-records";
    fs::remove_all(folder);
    fs::create_directories(folder);
    // Removed after the records file is closed: Windows refuses to delete an open file.
    struct RemoveOnExit {
        fs::path path;
        ~RemoveOnExit() {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } const removeOnExit{folder};
    const std::string imagePath = (folder / "image.bin").string();
    std::ofstream(imagePath, std::ios::binary) << std::string(2048, '\x5A');

    VirtualClock clock;
    SimulatedHidBus bus{clock};
    RememberingHidPlatform devices(bus);
    ScriptedDialogs dialogs;
    SqliteProductionRecords records((folder / "records.sqlite").string());
    TForm1 form(devices, clock, dialogs);
    form.SetExitAction([](int) {});
    form.Recording().Attach(form.GetStation(), records, &devices, [&form] {
        return FindControl<QLineEdit>(form, "edt_BinFile")->text().toStdString();
    });
    const auto tick = [&form] {
        if (FindControl<QTimer>(form, "DevTimer")->isActive()) {
            form.RunGuarded([&] { form.DevTimerTimer(FindControl<QTimer>(form, "DevTimer")); });
        }
    };
    FindControl<QCheckBox>(form, "cb_WriteID")->setChecked(true);
    FindControl<QRadioButton>(form, "rb_CmdByte2K")->setChecked(true);
    FindControl<TIntEdit>(form, "edt_sleepTime")->setText("0");
    FindControl<QCheckBox>(form, "cb_AutoRun")->click();
    dialogs.openAnswers.push_back(QString::fromStdString(imagePath));
    FindControl<QPushButton>(form, "btn_Load")->click();
    ASSERT_TRUE(form.State().ImageLoaded);

    constexpr int Shift = 1000;
    const auto plugAndWrite = [&](int n) {
        auto mouse = std::make_shared<VirtualMouse31x>();
        if (n % 10 == 0) {
            MouseFaults faults;
            faults.refuseSetup = true;
            mouse->SetFaults(faults);
        }
        const auto id = bus.Plug(mouse);
        tick();
        bus.Unplug(id);
        tick();
    };
    for (int n = 1; n <= Shift; ++n) {
        plugAndWrite(n);
    }
    const std::vector<ProductionRecord> shift = records.Find({});
    ASSERT_EQ(shift.size(), static_cast<std::size_t>(Shift));
    EXPECT_EQ(FindControl<QLabel>(form, "lbl_PassCnt")->text(), "900");
    const std::vector<std::string> summary = RecordsSummary(shift);
    EXPECT_NE(summary.back().find("900     100    90.0 %"), std::string::npos) << summary.back();
    EXPECT_EQ(shift.front().verdict, "Write Pass");
    EXPECT_EQ(shift.front().SerialText(), "000001");
    EXPECT_EQ(shift.front().format, "2K Byte");
    EXPECT_EQ(shift.front().imageFile,
              FindControl<QLineEdit>(form, "edt_BinFile")->text().toStdString());
    EXPECT_EQ(shift.front().imageSha256.size(), 64u);
    EXPECT_NE(shift.front().devicePath.find("sim1"), std::string::npos);
    EXPECT_EQ(shift[9].verdict, "Write Fail");
    EXPECT_TRUE(DuplicateSerialNumbers(shift).empty());

    // The operator starts a second batch with the same first serial number by mistake.
    FindControl<THexEdit>(form, "edt_FactoryNum")->setText("000001");
    for (int n = 1; n <= 3; ++n) {
        plugAndWrite(n);
    }
    const std::vector<std::string> repeats = DuplicateSerialNumbers(records.Find({}));
    ASSERT_EQ(repeats.size(), 7u) << "a header and two mice for each of 000001..000003";
    EXPECT_NE(repeats[1].find("000001"), std::string::npos);
    EXPECT_NE(repeats[6].find("000003"), std::string::npos);
}

} // namespace
} // namespace vrax
