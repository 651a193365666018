#include "app/DropDownComboBox.h"
#include "app/PictureBox.h"
#include "app/ScriptedDialogs.h"
#include "app/StationControls.h"
#include "app/TForm1.h"
#include "app/TFormLoadingUI.h"
#include "controls/THexEdit.h"
#include "controls/TIntEdit.h"
#include "sim/PlainHidDevice.h"
#include "sim/SimulatedHidBus.h"
#include "sim/VirtualMouse31x.h"
#include "sim/VirtualMouse42xx.h"

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
#include <memory>

namespace vrax {
namespace {

namespace fs = std::filesystem;
using Kind = ScriptedDialogs::Kind;

// The window on the simulated bus with a virtual clock; ticks are driven by the test, as the
// timer would drive them, through the same guard.
class ProductionCycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<TForm1>(bus, clock, dialogs);
        form->SetExitAction([](int) {});
        form->SelectLanguage(1033);
        folder = fs::temp_directory_path() /
                 (std::string("vrax-cycle-") +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        for (int i = 0; i < 2048; ++i) {
            image[i] = static_cast<std::uint8_t>((i * 13 + 5) & 0xFF);
        }
        imagePath = (folder / "image.bin").string();
        std::ofstream(imagePath, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), image.size());
    }
    void TearDown() override {
        form.reset();
        fs::remove_all(folder);
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
        ASSERT_TRUE(FindControl<QTimer>(*form, "DevTimer")->isActive());
    }
    // A tick comes only while the timer runs.
    void Tick() {
        if (FindControl<QTimer>(*form, "DevTimer")->isActive()) {
            form->RunGuarded([&] { form->DevTimerTimer(FindControl<QTimer>(*form, "DevTimer")); });
        }
    }
    QString Result() const { return FindControl<QLabel>(*form, "lbl_CtrlResult")->text(); }
    bool Visible(const QWidget* widget) const { return !widget->isHidden(); }

    VirtualClock clock;
    SimulatedHidBus bus{clock};
    ScriptedDialogs dialogs;
    std::unique_ptr<TForm1> form;
    fs::path folder;
    std::string imagePath;
    ImageBuffer image{};
};

TEST_F(ProductionCycleTest, AutoWriteProgramsTwentyKvqm31xMiceWithAdvancingSerialNumbers) {
    FindControl<QCheckBox>(*form, "cb_WriteID")->setChecked(true);
    FindControl<QRadioButton>(*form, "rb_CmdByte2K")->setChecked(true);
    FindControl<QCheckBox>(*form, "cb_AutoRun")->click();
    LoadImage();
    for (int n = 1; n <= 20; ++n) {
        SCOPED_TRACE(n);
        auto mouse = std::make_shared<VirtualMouse31x>();
        const auto id = bus.Plug(mouse);
        Tick();
        EXPECT_EQ(Result(), "Write Pass");
        EXPECT_TRUE(Visible(FindControl<QLabel>(*form, "lbl_CtrlResult")));
        EXPECT_EQ(FindControl<QLabel>(*form, "lbl_DevStatus")->text(), "Mouse Ready");
        EXPECT_FALSE(FindControl<QPushButton>(*form, "btn_Write")->isEnabled())
            << "Auto Write keeps the buttons off";
        EXPECT_TRUE(FindControl<QTimer>(*form, "DevTimer")->isActive());
        for (int i = 0; i < 2048; ++i) {
            if (i < 160 || i >= 172) {
                ASSERT_EQ(mouse->Memory()[i], image[i]) << i;
            }
        }
        const auto& memory = mouse->Memory();
        EXPECT_EQ((memory[166] << 16) | (memory[167] << 8) | memory[168], n);
        EXPECT_EQ(memory[160], 0x00);
        EXPECT_EQ(memory[161], 0x05);
        bus.Unplug(id);
        Tick();
        EXPECT_EQ(FindControl<QLabel>(*form, "lbl_DevStatus")->text(), "No Find Mouse");
        EXPECT_FALSE(form->GetStation().links.For(IcTypeKvqm31x)->IsOpen());
    }
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_PassCnt")->text(), "20");
    EXPECT_EQ(bus.OpenHandleCount(), 0);
    EXPECT_TRUE(dialogs.shown.size() == 1 && dialogs.shown[0].kind == Kind::OpenFile);
}

TEST_F(ProductionCycleTest, AutoWriteProgramsTenKvqm42xxMice) {
    SelectIcType(1);
    EXPECT_EQ(FindControl<THexEdit>(*form, "edt_PID")->text(), "0A42");
    EXPECT_TRUE(FindControl<QRadioButton>(*form, "rb_CmdByte2K")->isChecked());
    FindControl<QCheckBox>(*form, "cb_AutoRun")->click();
    LoadImage();
    for (int n = 1; n <= 10; ++n) {
        auto mouse =
            std::make_shared<VirtualMouse42xx>(n % 2 ? VirtualMouse42xx::Layout::OneInterface
                                                     : VirtualMouse42xx::Layout::TwoInterfaces);
        const auto id = bus.Plug(mouse);
        Tick();
        EXPECT_EQ(Result(), "Write Pass") << n;
        EXPECT_EQ(
            FindControl<QLabel>(*form, "lbl_CtrlResult")->palette().color(QPalette::WindowText),
            QColor(0, 128, 0));
        EXPECT_EQ(mouse->Memory(), image) << n;
        bus.Unplug(id);
        Tick();
    }
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_PassCnt")->text(), "10");
    EXPECT_EQ(bus.OpenHandleCount(), 0);
}

TEST_F(ProductionCycleTest, AFailedMouseKeepsItsSerialNumberAndAnyUnplugShowsNoMouse) {
    FindControl<QCheckBox>(*form, "cb_WriteID")->setChecked(true);
    FindControl<QCheckBox>(*form, "cb_AutoRun")->click();
    const auto keyboard = bus.Plug(std::make_shared<PlainHidDevice>());
    LoadImage();
    Tick();
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_DevStatus")->text(), "No Find Mouse")
        << "a keyboard opens no mouse";

    auto good = std::make_shared<VirtualMouse31x>();
    auto id = bus.Plug(good);
    Tick();
    EXPECT_EQ(Result(), "Write Pass");
    bus.Unplug(id);
    Tick();

    auto refusing = std::make_shared<VirtualMouse31x>();
    refusing->Faults().refusedWriteChunk = 10;
    id = bus.Plug(refusing);
    Tick();
    EXPECT_EQ(Result(), "Write Fail");
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_CtrlResult")->palette().color(QPalette::WindowText),
              QColor(255, 0, 0));
    EXPECT_EQ(FindControl<THexEdit>(*form, "edt_FactoryNum")->text(), "2");
    bus.Unplug(id);
    Tick();

    auto next = std::make_shared<VirtualMouse31x>();
    id = bus.Plug(next);
    Tick();
    EXPECT_EQ(Result(), "Write Pass");
    EXPECT_EQ(next->Memory()[168], 2) << "the failed mouse's number is used again";
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_PassCnt")->text(), "2");

    // Unplugging the keyboard forgets the mouse although it is still there.
    bus.Unplug(keyboard);
    Tick();
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_DevStatus")->text(), "No Find Mouse");
    EXPECT_FALSE(Visible(FindControl<QLabel>(*form, "lbl_CtrlResult")));
    EXPECT_FALSE(form->GetStation().links.For(IcTypeKvqm31x)->IsOpen());
    EXPECT_TRUE(Visible(FindControl<PictureBox>(*form, "Img_NoFind")));
    EXPECT_FALSE(Visible(FindControl<PictureBox>(*form, "Img_Find")));
}

TEST_F(ProductionCycleTest, EveryMouseGetsTheImageItsJobStartedWithAndNoEarlierRecord) {
    ImageBuffer second{};
    for (int i = 0; i < 2048; ++i) {
        second[i] = static_cast<std::uint8_t>((i * 29 + 11) & 0xFF);
    }
    const std::string secondPath = (folder / "second.bin").string();
    std::ofstream(secondPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(second.data()), second.size());
    FindControl<QCheckBox>(*form, "cb_WriteID")->setChecked(true);
    FindControl<QRadioButton>(*form, "rb_CmdByte2K")->setChecked(true);
    FindControl<QCheckBox>(*form, "cb_AutoRun")->click();
    LoadImage();

    // The operator loads the second image while the first mouse is being written: the click
    // arrives through the job's message pumping.
    int transfers = 0;
    bus.SetTraceListener([&](const HidTraceEntry&) {
        if (++transfers == 400) {
            dialogs.openAnswers.push_back(QString::fromStdString(secondPath));
            QMetaObject::invokeMethod(FindControl<QPushButton>(*form, "btn_Load"), "click",
                                      Qt::QueuedConnection);
        }
    });
    auto first = std::make_shared<VirtualMouse31x>();
    auto id = bus.Plug(first);
    Tick();
    bus.SetTraceListener(nullptr);
    ASSERT_GT(transfers, 400);
    EXPECT_EQ(Result(), "Write Pass");
    EXPECT_EQ(dialogs.Count(Kind::OpenFile), 2);
    ImageBuffer expected = image;
    std::copy(form->State().FactoryRecord.begin(), form->State().FactoryRecord.end(),
              expected.begin() + 160);
    EXPECT_EQ(first->Memory(), expected) << "the first image and its record, nothing of the second";
    EXPECT_EQ(form->State().LoadedImage, second) << "the file's bytes, no record in them";
    EXPECT_TRUE(FindControl<QTimer>(*form, "DevTimer")->isActive());
    bus.Unplug(id);
    Tick();

    FindControl<QCheckBox>(*form, "cb_WriteID")->setChecked(false);
    auto next = std::make_shared<VirtualMouse31x>();
    id = bus.Plug(next);
    Tick();
    EXPECT_EQ(Result(), "Write Pass");
    EXPECT_EQ(next->Memory(), second) << "the second image with its own bytes 160..171";
    EXPECT_EQ(FindControl<THexEdit>(*form, "edt_FactoryNum")->text(), "2");
}

TEST_F(ProductionCycleTest, ASerialNumberPastTheRecordsRangeIsRefusedBeforeAnyWrite) {
    FindControl<QCheckBox>(*form, "cb_WriteID")->setChecked(true);
    FindControl<QRadioButton>(*form, "rb_CmdByte2K")->setChecked(true);
    FindControl<THexEdit>(*form, "edt_FactoryNum")->setText("FFFFFF");
    FindControl<QCheckBox>(*form, "cb_AutoRun")->click();
    LoadImage();
    auto last = std::make_shared<VirtualMouse31x>();
    auto id = bus.Plug(last);
    Tick();
    EXPECT_EQ(Result(), "Write Pass");
    EXPECT_EQ(last->Memory()[166], 0xFF);
    bus.Unplug(id);
    Tick();

    auto refused = std::make_shared<VirtualMouse31x>();
    const ImageBuffer blank = refused->Memory();
    id = bus.Plug(refused);
    Tick();
    EXPECT_EQ(FindControl<THexEdit>(*form, "edt_FactoryNum")->text(), "1000000");
    ASSERT_EQ(dialogs.Count(Kind::Error), 1);
    EXPECT_NE(dialogs.shown.back().text.indexOf("\"SN\""), -1)
        << dialogs.shown.back().text.toStdString();
    EXPECT_EQ(refused->Memory(), blank) << "nothing written, no wrapped serial number 000000";
    EXPECT_FALSE(Visible(FindControl<QLabel>(*form, "lbl_CtrlResult")));
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_PassCnt")->text(), "1");
    EXPECT_TRUE(FindControl<QTimer>(*form, "DevTimer")->isActive());
    EXPECT_FALSE(form->PollBusy);
    EXPECT_FALSE(FindControl<TFormLoadingUI>(*form, "FormLoadingUI")->isVisible());

    // A number the record can hold again lets the next mouse through.
    FindControl<THexEdit>(*form, "edt_FactoryNum")->setText("000100");
    bus.Unplug(id);
    Tick();
    id = bus.Plug(std::make_shared<VirtualMouse31x>());
    Tick();
    EXPECT_EQ(Result(), "Write Pass");
}

TEST_F(ProductionCycleTest, AfterAnErrorBoxTheWindowIsBackInTheStateItWasIn) {
    const auto actionButtons = [&] {
        return std::vector<bool>{FindControl<QPushButton>(*form, "btn_Write")->isEnabled(),
                                 FindControl<QPushButton>(*form, "btn_Verify")->isEnabled(),
                                 FindControl<QPushButton>(*form, "btn_Save")->isEnabled(),
                                 FindControl<QPushButton>(*form, "btnReadFactory")->isEnabled()};
    };
    const std::vector<bool> none(4, false), all(4, true);
    // No image: a load that fails leaves Load BIN the only job button, and no polling.
    dialogs.openAnswers.push_back(QString::fromStdString((folder / "missing.bin").string()));
    FindControl<QPushButton>(*form, "btn_Load")->click();
    EXPECT_EQ(dialogs.Count(Kind::Error), 1);
    EXPECT_EQ(actionButtons(), none);
    EXPECT_TRUE(FindControl<QPushButton>(*form, "btn_Load")->isEnabled());
    EXPECT_TRUE(FindControl<TIntEdit>(*form, "edt_AllCnt")->isEnabled());
    EXPECT_FALSE(FindControl<QTimer>(*form, "DevTimer")->isActive());

    // An image and no mouse: a tick that fails changes no button.
    LoadImage();
    bus.Plug(std::make_shared<VirtualMouse31x>());
    FindControl<TIntEdit>(*form, "edt_sleepTime")->setText("1G");
    Tick();
    EXPECT_EQ(dialogs.Count(Kind::Error), 2);
    EXPECT_EQ(actionButtons(), none);
    EXPECT_TRUE(FindControl<QTimer>(*form, "DevTimer")->isActive());

    // A mouse in manual mode: a Save that fails gives back every job control.
    FindControl<TIntEdit>(*form, "edt_sleepTime")->setText("0");
    Tick();
    ASSERT_EQ(actionButtons(), all);
    dialogs.saveAnswers.push_back(QString::fromStdString((folder / "missing" / "x.bin").string()));
    FindControl<QPushButton>(*form, "btn_Save")->click();
    EXPECT_EQ(dialogs.Count(Kind::Error), 3);
    EXPECT_EQ(actionButtons(), all);
    EXPECT_TRUE(FindControl<TIntEdit>(*form, "edt_AllCnt")->isEnabled());
    EXPECT_TRUE(FindControl<QCheckBox>(*form, "cb_AutoRun")->isEnabled());
    EXPECT_TRUE(FindControl<QTimer>(*form, "DevTimer")->isActive());
}

TEST_F(ProductionCycleTest, NoJobRunsInsideAnotherOrWithoutAnImage) {
    FindControl<QRadioButton>(*form, "rb_CmdByte2K")->setChecked(true);
    LoadImage();
    auto mouse = std::make_shared<VirtualMouse31x>();
    bus.Plug(mouse);
    Tick();
    ASSERT_TRUE(FindControl<QCheckBox>(*form, "cb_AutoRun")->isEnabled());
    // Auto Write ticked while a manual write pumps messages only switches the mode.
    int transfers = 0;
    int mostRunning = 0;
    bool pollingInsideJob = false;
    bus.SetTraceListener([&](const HidTraceEntry&) {
        mostRunning = std::max(mostRunning, form->State().OperationsRunning);
        pollingInsideJob = pollingInsideJob || FindControl<QTimer>(*form, "DevTimer")->isActive();
        if (++transfers == 50) {
            QMetaObject::invokeMethod(FindControl<QCheckBox>(*form, "cb_AutoRun"), "click",
                                      Qt::QueuedConnection);
        }
    });
    FindControl<QPushButton>(*form, "btn_Write")->click();
    bus.SetTraceListener(nullptr);
    EXPECT_EQ(mostRunning, 1);
    EXPECT_FALSE(pollingInsideJob);
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_PassCnt")->text(), "1") << "one mouse, one pass";
    EXPECT_TRUE(FindControl<QCheckBox>(*form, "cb_AutoRun")->isChecked());
    EXPECT_FALSE(FindControl<QPushButton>(*form, "btn_Write")->isEnabled());

    // Back to manual; Save leaves Load BIN clickable, and a load cancelled there leaves no image.
    FindControl<QCheckBox>(*form, "cb_AutoRun")->click();
    ASSERT_TRUE(FindControl<QPushButton>(*form, "btn_Write")->isEnabled());
    dialogs.saveAnswers.push_back(QString::fromStdString((folder / "s.bin").string()));
    FindControl<QPushButton>(*form, "btn_Save")->click();
    ASSERT_TRUE(FindControl<QPushButton>(*form, "btn_Load")->isEnabled());
    FindControl<QPushButton>(*form, "btn_Load")->click();
    EXPECT_FALSE(form->State().ImageLoaded);
    EXPECT_FALSE(FindControl<QPushButton>(*form, "btn_Write")->isEnabled());
    FindControl<QCheckBox>(*form, "cb_AutoRun")->click();
    FindControl<QCheckBox>(*form, "cb_AutoRun")->click();
    EXPECT_FALSE(FindControl<QPushButton>(*form, "btn_Write")->isEnabled())
        << "Auto Write unticked offers no job either";
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_PassCnt")->text(), "1");
}

TEST_F(ProductionCycleTest, ManualModeEnablesTheJobControlsAndTheButtonsRunEachOperation) {
    auto mouse = std::make_shared<VirtualMouse31x>();
    bus.Plug(mouse);
    Tick();
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_DevStatus")->text(), "No Find Mouse")
        << "no polling before an image";
    LoadImage();
    Tick();
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_DevStatus")->text(), "Mouse Ready");
    EXPECT_FALSE(FindControl<DropDownComboBox>(*form, "cb_ICType")->isEnabled());
    EXPECT_FALSE(FindControl<QPushButton>(*form, "btn_Load")->isEnabled());
    EXPECT_TRUE(FindControl<QPushButton>(*form, "btn_Write")->isEnabled());
    EXPECT_TRUE(FindControl<QCheckBox>(*form, "cb_AutoRun")->isEnabled());
    EXPECT_FALSE(Visible(FindControl<QLabel>(*form, "lbl_CtrlResult")));

    FindControl<QRadioButton>(*form, "rb_CmdByte2K")->setChecked(true);
    FindControl<QPushButton>(*form, "btn_Write")->click();
    EXPECT_EQ(Result(), "Write Pass");
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_CtrlResult")->font().pointSize(), 36);
    EXPECT_TRUE(FindControl<QPushButton>(*form, "btn_Write")->isEnabled());
    EXPECT_TRUE(FindControl<QTimer>(*form, "DevTimer")->isActive());
    EXPECT_EQ(mouse->Memory(), image);

    FindControl<QPushButton>(*form, "btn_Verify")->click();
    EXPECT_EQ(Result(), "Verify Pass");

    const QString dump = QString::fromStdString((folder / "dump").string());
    dialogs.saveAnswers.push_back(dump);
    FindControl<QPushButton>(*form, "btn_Save")->click();
    EXPECT_EQ(Result(), "Save Pass");
    EXPECT_TRUE(fs::exists(folder / "dump.bin"));
    EXPECT_TRUE(FindControl<QPushButton>(*form, "btn_Save")->isEnabled());
    EXPECT_TRUE(FindControl<QTimer>(*form, "DevTimer")->isActive());

    FindControl<THexEdit>(*form, "edt_FactoryNum")->setText("00A");
    FindControl<QCheckBox>(*form, "cb_WriteID")->setChecked(true);
    FindControl<QPushButton>(*form, "btn_Write")->click();
    FindControl<THexEdit>(*form, "edt_FactoryNum")->setText("");
    FindControl<DropDownComboBox>(*form, "cb_FactoryLine")->setCurrentIndex(3);
    FindControl<QPushButton>(*form, "btnReadFactory")->click();
    EXPECT_EQ(Result(), "Read Ok");
    EXPECT_EQ(FindControl<THexEdit>(*form, "edt_FactoryNum")->text(), "A");
    EXPECT_EQ(FindControl<THexEdit>(*form, "edt_FactoryType")->text(), "5");
    EXPECT_EQ(FindControl<THexEdit>(*form, "edt_FactoryDate")->text(), "20200527");
    EXPECT_EQ(FindControl<DropDownComboBox>(*form, "cb_FactoryLine")->currentIndex(), 0);

    // Ticking Auto Write with the mouse open starts a job at once.
    FindControl<QCheckBox>(*form, "cb_AutoRun")->click();
    EXPECT_EQ(Result(), "Write Pass");
    EXPECT_FALSE(FindControl<TIntEdit>(*form, "edt_AllCnt")->isEnabled());
    EXPECT_FALSE(FindControl<QPushButton>(*form, "btn_Write")->isEnabled());
    FindControl<QCheckBox>(*form, "cb_AutoRun")->click();
    EXPECT_TRUE(FindControl<TIntEdit>(*form, "edt_AllCnt")->isEnabled());
    EXPECT_TRUE(FindControl<THexEdit>(*form, "edt_PID")->isEnabled());
}

TEST_F(ProductionCycleTest, BadNumbersAndRangesShowTheirMessageAndPollingCarriesOn) {
    LoadImage();
    FindControl<TIntEdit>(*form, "edt_sleepTime")->setText("1G");
    auto mouse = std::make_shared<VirtualMouse31x>();
    bus.Plug(mouse);
    Tick();
    ASSERT_EQ(dialogs.Count(Kind::Error), 1);
    EXPECT_EQ(dialogs.shown.back().text, "'01G' is not a valid integer value");
    EXPECT_FALSE(form->PollBusy);
    EXPECT_TRUE(FindControl<QTimer>(*form, "DevTimer")->isActive());
    FindControl<TIntEdit>(*form, "edt_sleepTime")->setText("100");
    Tick();
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_DevStatus")->text(), "Mouse Ready")
        << "the arrival is seen again";

    FindControl<QLineEdit>(*form, "edt_WriteCustom")->setText("000-256;abc-def;");
    FindControl<QPushButton>(*form, "btn_Write")->click();
    EXPECT_EQ(dialogs.shown.back().text, "'abc' is not a valid integer value");
    EXPECT_FALSE(FindControl<TFormLoadingUI>(*form, "FormLoadingUI")->isVisible());
    EXPECT_TRUE(FindControl<QPushButton>(*form, "btn_Write")->isEnabled());
    EXPECT_TRUE(FindControl<QTimer>(*form, "DevTimer")->isActive());
    EXPECT_FALSE(mouse->TransactionOpen());

    FindControl<QLineEdit>(*form, "edt_WriteCustom")->setText("1000-0999;");
    FindControl<QPushButton>(*form, "btn_Write")->click();
    EXPECT_NE(dialogs.shown.back().text.indexOf("\"1000-0999;\""), -1);
    EXPECT_TRUE(FindControl<QPushButton>(*form, "btn_Write")->isEnabled());

    // The block count is kept between 1 and 8 as it is typed.
    FindControl<TIntEdit>(*form, "edt_Write256Count")->setText("0");
    EXPECT_EQ(FindControl<TIntEdit>(*form, "edt_Write256Count")->text(), "1");
    FindControl<TIntEdit>(*form, "edt_Write256Count")->setText("12");
    EXPECT_EQ(FindControl<TIntEdit>(*form, "edt_Write256Count")->text(), "8");
}

TEST_F(ProductionCycleTest, MouseMismatchAndUnmarkedRepliesFromTheWindowsOperations) {
    auto mouse = std::make_shared<VirtualMouse31x>();
    bus.Plug(mouse);
    LoadImage();
    Tick();
    mouse->Faults().notReady = true;
    FindControl<QPushButton>(*form, "btn_Write")->click();
    EXPECT_TRUE(Visible(FindControl<QLabel>(*form, "lbl_BINDevError")));
    EXPECT_FALSE(Visible(FindControl<QLabel>(*form, "lbl_CtrlResult")));
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_PassCnt")->text(), "0");

    mouse->Faults() = {};
    mouse->Faults().unmarked = true;
    FindControl<QPushButton>(*form, "btn_Verify")->click();
    EXPECT_FALSE(Visible(FindControl<QLabel>(*form, "lbl_CtrlResult")));
    FindControl<QPushButton>(*form, "btnReadFactory")->click();
    EXPECT_EQ(Result(), "Read Fail");

    mouse->Faults() = {};
    mouse->Faults().chipCode = 0x99;
    dialogs.saveAnswers.push_back(QString::fromStdString((folder / "x.bin").string()));
    FindControl<QPushButton>(*form, "btn_Save")->click();
    EXPECT_TRUE(Visible(FindControl<QLabel>(*form, "lbl_BINDevError")));
    EXPECT_FALSE(fs::exists(folder / "x.bin"));
    EXPECT_TRUE(FindControl<QPushButton>(*form, "btn_Write")->isEnabled());
}

TEST_F(ProductionCycleTest, LogoLockNeedsFiveDoubleClicksAndTheExactPassword) {
    const auto doubleClick = [&] { form->RunGuarded([&] { form->Img_VRAXLogDblClick(nullptr); }); };
    form->DisableJobControls();
    for (int i = 0; i < 4; ++i) {
        doubleClick();
    }
    EXPECT_TRUE(dialogs.shown.empty());
    dialogs.passwordAnswers = {std::nullopt, QString("marblexqt"), QString("MarblexQT "),
                               QString(""), QString("MarblexQT")};
    for (int round = 0; round < 5; ++round) {
        doubleClick();
        EXPECT_EQ(dialogs.Count(Kind::Password), round + 1);
        EXPECT_EQ(FindControl<THexEdit>(*form, "edt_VID")->isEnabled(), round == 4) << round;
        for (int i = 0; i < 4 && round < 4; ++i) {
            doubleClick();
        }
    }
    EXPECT_EQ(dialogs.shown.back().title, "VRAX BIN Writer Tool ");
    EXPECT_EQ(dialogs.shown.back().text, "PASSWORD:");
    EXPECT_TRUE(FindControl<QLabel>(*form, "lbl_VID")->isEnabled());
    EXPECT_TRUE(FindControl<QLabel>(*form, "lbl_PID")->isEnabled());
    EXPECT_TRUE(FindControl<THexEdit>(*form, "edt_PID")->isEnabled());

    doubleClick();
    EXPECT_EQ(dialogs.shown.back().kind, Kind::Message);
    EXPECT_EQ(dialogs.shown.back().text, "Locked");
    EXPECT_FALSE(FindControl<THexEdit>(*form, "edt_VID")->isEnabled());
    EXPECT_EQ(form->LogoClickCount, 25);

    dialogs.passwordAnswers = {QString("MarblexQT")};
    for (int i = 0; i < 5; ++i) {
        doubleClick();
    }
    EXPECT_EQ(dialogs.shown.back().initialText, "MarblexQT") << "pre-filled with the last OK";
    EXPECT_TRUE(FindControl<THexEdit>(*form, "edt_VID")->isEnabled());
}

} // namespace
} // namespace vrax
