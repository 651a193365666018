#include "app/ScriptedDialogs.h"
#include "app/StationControls.h"
#include "app/TForm1.h"
#include "controls/THexEdit.h"
#include "controls/TIntEdit.h"
#include "device/RememberingHidPlatform.h"
#include "records/Sha256.h"
#include "records/reports/RecordsReport.h"
#include "records/sqlite/SqliteProductionRecords.h"
#include "sim/SimulatedHidBus.h"
#include "sim/VirtualMouse31x.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace vrax {
namespace {

namespace fs = std::filesystem;

// A fresh folder for one case. Declared before the records so it is removed after the records
// file is closed: Windows refuses to delete an open file.
struct CaseFolder {
    explicit CaseFolder(const std::string& name) : path(fs::temp_directory_path() / name) {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~CaseFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    CaseFolder(const CaseFolder&) = delete;
    CaseFolder& operator=(const CaseFolder&) = delete;

    fs::path path;
};

TEST(WindowRecords, AShiftInAutoWriteLeavesOneRecordPerMouseAndRepeatsShowUp) {
    const CaseFolder caseFolder("vrax-window-records");
    const fs::path& folder = caseFolder.path;
    const std::string imagePath = (folder / "image.bin").string();
    std::ofstream(imagePath, std::ios::binary) << std::string(2048, '\x5A');

    VirtualClock clock;
    SimulatedHidBus bus{clock};
    RememberingHidPlatform devices(bus);
    ScriptedDialogs dialogs;
    SqliteProductionRecords records((folder / "records.sqlite").string());
    TForm1 form(devices, clock, dialogs);
    form.SetExitAction([](int) {});
    form.Recording().Attach(records, &devices, [&form] {
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
    const std::vector<std::string> summary =
        RecordsSummary(records.SummarizeWrites({}), records.FindReservations());
    EXPECT_NE(summary.end()[-2].find("900     100    90.0 %"), std::string::npos)
        << summary.end()[-2];
    EXPECT_EQ(summary.back(), "Serial numbers reserved and not settled: none");
    EXPECT_EQ(shift.front().verdict, "Write Pass");
    EXPECT_EQ(shift.front().SerialText(), "000001");
    EXPECT_EQ(shift.front().format, "2K Byte");
    EXPECT_EQ(shift.front().imageFile,
              FindControl<QLineEdit>(form, "edt_BinFile")->text().toStdString());
    EXPECT_EQ(shift.front().imageSha256.size(), 64u);
    EXPECT_NE(shift.front().devicePath.find("sim1"), std::string::npos);
    EXPECT_EQ(shift[9].verdict, "Write Fail");
    EXPECT_TRUE(DuplicateSerialNumbers(shift).empty());

    // The operator starts a second batch with the same first serial number by mistake: the
    // job stops before the mouse is touched and says when and where it was stamped.
    FindControl<THexEdit>(form, "edt_FactoryNum")->setText("000001");
    auto repeat = std::make_shared<VirtualMouse31x>();
    const auto repeatId = bus.Plug(repeat);
    tick();
    ASSERT_FALSE(dialogs.shown.empty());
    const QString refused = dialogs.shown.back().text;
    EXPECT_EQ(dialogs.shown.back().kind, ScriptedDialogs::Kind::Error);
    EXPECT_TRUE(refused.contains("SN 000001") && refused.contains("already stamped") &&
                refused.contains(QString::fromStdString(shift.front().time)))
        << refused.toStdString();
    EXPECT_EQ(repeat->Memory()[0], 0xFF) << "nothing was written";
    EXPECT_EQ(records.Find({}).size(), static_cast<std::size_t>(Shift));
    EXPECT_EQ(FindControl<THexEdit>(form, "edt_FactoryNum")->text(), "000001");
    bus.Unplug(repeatId);
    tick();

    // A mouse of another chip and one that does not answer leave records of why, with no
    // serial number: nothing was stamped.
    FindControl<THexEdit>(form, "edt_FactoryNum")->setText("100000");
    for (const bool silent : {false, true}) {
        auto odd = std::make_shared<VirtualMouse31x>();
        MouseFaults faults;
        faults.chipCode = silent ? -1 : 0x36;
        faults.silent = silent;
        odd->SetFaults(faults);
        const auto id = bus.Plug(odd);
        tick();
        bus.Unplug(id);
        tick();
    }
    std::vector<ProductionRecord> all = records.Find({});
    ASSERT_EQ(all.size(), static_cast<std::size_t>(Shift + 2));
    EXPECT_EQ(all[Shift].verdict, "BIN file not match Mouse");
    EXPECT_FALSE(all[Shift].serialNumber);
    EXPECT_EQ(all[Shift + 1].verdict, "");
    EXPECT_EQ(all[Shift + 1].error, "No verdict: the mouse did not answer");
    EXPECT_FALSE(all[Shift + 1].serialNumber);

    // A record that cannot be stored: an error box naming the mouse and its serial number,
    // and no pass counted.
    struct FullDisk final : ProductionRecords {
        explicit FullDisk(ProductionRecords& inner) : inner(inner) {}
        void ProveWritable() override {}
        int SettleAbandonedReservations() override { return 0; }
        void Append(const ProductionRecord&) override {
            throw RecordsError("Records \"x\": cannot append: database or disk is full");
        }
        std::vector<ProductionRecord> Find(const RecordFilter& f) override { return inner.Find(f); }
        std::vector<WriteTally> SummarizeWrites(const RecordFilter&) override { return {}; }
        std::vector<ProductionRecord> FindRepeatedPasses(const RecordFilter&) override {
            return {};
        }
        std::vector<Reservation> FindReservations() override { return inner.FindReservations(); }
        std::vector<StationTally> SummarizeStations(const RecordFilter&) override { return {}; }
        std::vector<FailureReason> CountFailureReasons(const RecordFilter&, int) override {
            return {};
        }
        std::vector<SerialNumberRun> FindStampedRuns(const RecordFilter&) override { return {}; }
        int ReserveSerialNumber(int type, int first) override {
            return inner.ReserveSerialNumber(type, first);
        }
        void ClaimSerialNumber(int type, int serial) override {
            inner.ClaimSerialNumber(type, serial);
        }
        void SettleRecordLost(int type, int serial) override {
            inner.SettleRecordLost(type, serial);
        }
        void SettleSerialNumber(int type, int serial, bool stamped) override {
            inner.SettleSerialNumber(type, serial, stamped);
        }
        void StopWaiting() override {}
        ImageApproval ApproveImage(const ImageApproval& approval) override {
            return inner.ApproveImage(approval);
        }
        std::vector<ImageApproval> FindApprovals(std::optional<int> type) override {
            return inner.FindApprovals(type);
        }
        ProductionRecords& inner;
    } full(records);
    form.Recording().Attach(full, &devices, [&form] {
        return FindControl<QLineEdit>(form, "edt_BinFile")->text().toStdString();
    });
    FindControl<THexEdit>(form, "edt_FactoryNum")->setText("200000");
    const QString passes = FindControl<QLabel>(form, "lbl_PassCnt")->text();
    plugAndWrite(1);
    EXPECT_EQ(dialogs.shown.back().kind, ScriptedDialogs::Kind::Error);
    EXPECT_TRUE(dialogs.shown.back().text.contains("has no record") &&
                dialogs.shown.back().text.contains("SN 200000"))
        << dialogs.shown.back().text.toStdString();
    EXPECT_EQ(FindControl<QLabel>(form, "lbl_PassCnt")->text(), passes);
    // The number the mouse holds stays taken.
    EXPECT_THROW(records.ClaimSerialNumber(5, 0x200000), RecordsError);
}

TEST(WindowRecords, AnImageNotApprovedForTheProductTypeIsRefusedBeforeTheMouse) {
    const CaseFolder caseFolder("vrax-window-approvals");
    const fs::path& folder = caseFolder.path;
    const std::string approvedPath = (folder / "approved.bin").string();
    const std::string otherPath = (folder / "other.bin").string();
    std::ofstream(approvedPath, std::ios::binary) << std::string(2048, '\x5A');
    std::ofstream(otherPath, std::ios::binary) << std::string(2048, '\x3C');

    VirtualClock clock;
    SimulatedHidBus bus{clock};
    RememberingHidPlatform devices(bus);
    ScriptedDialogs dialogs;
    SqliteProductionRecords records((folder / "records.sqlite").string());
    records.ApproveImage(
        {5,
         Sha256Hex(reinterpret_cast<const std::uint8_t*>(std::string(2048, '\x5A').data()), 2048),
         approvedPath, "qa@lab", ""});
    TForm1 form(devices, clock, dialogs);
    form.SetExitAction([](int) {});
    form.Recording().Attach(records, &devices, [&form] {
        return FindControl<QLineEdit>(form, "edt_BinFile")->text().toStdString();
    });
    FindControl<QRadioButton>(form, "rb_CmdByte2K")->setChecked(true);
    FindControl<TIntEdit>(form, "edt_sleepTime")->setText("0");
    const auto tick = [&form] {
        form.RunGuarded([&] { form.DevTimerTimer(FindControl<QTimer>(form, "DevTimer")); });
    };
    // The window takes a load only while no mouse is ready.
    auto mouse = std::make_shared<VirtualMouse31x>();
    const auto loadAndWrite = [&](const std::string& path) {
        dialogs.openAnswers.push_back(QString::fromStdString(path));
        FindControl<QPushButton>(form, "btn_Load")->click();
        const auto id = bus.Plug(mouse);
        tick();
        FindControl<QPushButton>(form, "btn_Write")->click();
        return id;
    };

    // The error box names the file and its hash; the mouse, the records and the window stay
    // as they were.
    const auto errors = [&dialogs] {
        return std::count_if(dialogs.shown.begin(), dialogs.shown.end(), [](const auto& shown) {
            return shown.kind == ScriptedDialogs::Kind::Error;
        });
    };
    const auto plugged = loadAndWrite(otherPath);
    ASSERT_EQ(errors(), 1);
    EXPECT_EQ(dialogs.shown.back().kind, ScriptedDialogs::Kind::Error);
    const std::string otherHash =
        Sha256Hex(reinterpret_cast<const std::uint8_t*>(std::string(2048, '\x3C').data()), 2048);
    EXPECT_EQ(dialogs.shown.back().text.toStdString(),
              "Image \"" + otherPath + "\" (SHA-256 " + otherHash +
                  ") is not approved for product type 0005; nothing was written. The records "
                  "approve 1 image for it (records approvals --product 0005).");
    EXPECT_EQ(mouse->Memory()[0], 0xFF);
    EXPECT_TRUE(records.Find({}).empty());
    EXPECT_TRUE(FindControl<QPushButton>(form, "btn_Write")->isEnabled());
    EXPECT_TRUE(FindControl<QTimer>(form, "DevTimer")->isActive());

    // Another product type has no approvals: the same image is written.
    FindControl<THexEdit>(form, "edt_FactoryType")->setText("0006");
    FindControl<QPushButton>(form, "btn_Write")->click();
    EXPECT_EQ(FindControl<QLabel>(form, "lbl_CtrlResult")->text(), "Write Pass");
    EXPECT_EQ(mouse->Memory()[0], 0x3C);

    FindControl<THexEdit>(form, "edt_FactoryType")->setText("0005");
    bus.Unplug(plugged);
    tick();
    loadAndWrite(approvedPath);
    EXPECT_EQ(errors(), 1) << dialogs.shown.back().text.toStdString();
    EXPECT_EQ(FindControl<QLabel>(form, "lbl_CtrlResult")->text(), "Write Pass");
    EXPECT_EQ(mouse->Memory()[0], 0x5A);
    EXPECT_EQ(records.Find({}).size(), 2u);
}

} // namespace
} // namespace vrax
