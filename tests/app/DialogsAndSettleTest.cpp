#include "app/StationControls.h"
#include "tests/faults/StationWindowFixture.h"

#include "controls/TIntEdit.h"
#include "sim/VirtualMouse31x.h"
#include "sim/VirtualMouse42xx.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>

#include <vector>

namespace vrax::testing {
namespace {

using DialogsAndSettleTest = StationWindowFixture;

// Every control's name, enabled and shown state and text, in creation order.
std::vector<std::string> Snapshot(const TForm1& form) {
    std::vector<std::string> controls;
    for (const QWidget* widget : form.findChildren<QWidget*>()) {
        std::string line = widget->objectName().toStdString() +
                           (widget->isEnabled() ? " enabled" : " disabled") +
                           (widget->isHidden() ? " hidden" : " shown");
        if (const auto* label = qobject_cast<const QLabel*>(widget)) {
            line += " '" + label->text().toStdString() + "'";
        } else if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
            line += " '" + edit->text().toStdString() + "'";
        }
        controls.push_back(line);
    }
    controls.push_back(FindControl<QTimer>(form, "DevTimer")->isActive() ? "DevTimer on"
                                                                         : "DevTimer off");
    return controls;
}

TEST_F(DialogsAndSettleTest, ArrivalWaitsSleepTimePlusOneSleepsAndNothingElseWaits) {
    LoadImage();
    for (const auto& [sleepTime, expected] : std::vector<std::pair<const char*, std::uint64_t>>{
             {"0", 1}, {"", 1}, {"100", 101}, {"999", 1000}}) {
        SCOPED_TRACE(sleepTime);
        FindControl<TIntEdit>(*form, "edt_sleepTime")->setText(sleepTime);
        const SimulatedHidBus::DeviceId mouse = bus.Plug(std::make_shared<VirtualMouse31x>());
        std::uint64_t before = clock.SleepCount();
        Tick();
        EXPECT_EQ(clock.SleepCount() - before, expected);
        EXPECT_EQ(FindControl<QLabel>(*form, "lbl_DevStatus")->text(), "Mouse Ready");

        before = clock.SleepCount();
        Tick();
        bus.Unplug(mouse);
        Tick();
        EXPECT_EQ(clock.SleepCount() - before, 0u) << "a tick without arrival never waits";
        EXPECT_EQ(FindControl<QLabel>(*form, "lbl_DevStatus")->text(), "No Find Mouse");
    }
}

TEST_F(DialogsAndSettleTest,
       CancelledSaveChangesNothingAndCancelledOpenStopsPollingForgettingTheImage) {
    LoadImage();
    auto mouse = std::make_shared<VirtualMouse31x>();
    SimulatedHidBus::DeviceId mouseId = bus.Plug(mouse);
    Tick();
    FindControl<QPushButton>(*form, "btn_Write")->click();
    ASSERT_EQ(Verdict(), "Write Pass");

    bus.SetTraceEnabled(true);
    const std::vector<std::string> before = Snapshot(*form);
    FindControl<QPushButton>(*form, "btn_Save")->click();
    EXPECT_EQ(dialogs.Count(ScriptedDialogs::Kind::SaveFile), 1);
    EXPECT_EQ(Snapshot(*form), before);
    EXPECT_TRUE(bus.Trace().empty());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                            std::filesystem::directory_iterator()),
              1)
        << "only the image file";

    // Load is offered again once the mouse is gone.
    bus.Unplug(mouseId);
    Tick();
    ASSERT_TRUE(FindControl<QPushButton>(*form, "btn_Load")->isEnabled());
    FindControl<QLabel>(*form, "lbl_BINDevError")->show();
    const QString shownPath = FindControl<QLineEdit>(*form, "edt_BinFile")->text();
    FindControl<QPushButton>(*form, "btn_Load")->click();
    EXPECT_EQ(dialogs.Count(ScriptedDialogs::Kind::OpenFile), 2);
    EXPECT_FALSE(FindControl<QTimer>(*form, "DevTimer")->isActive());
    EXPECT_FALSE(form->State().ImageLoaded);
    EXPECT_TRUE(form->State().LoadedTypeName.empty());
    EXPECT_TRUE(FindControl<QLabel>(*form, "lbl_BINDevError")->isHidden());
    EXPECT_EQ(FindControl<QLineEdit>(*form, "edt_BinFile")->text(), shownPath);
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_CtrlResult")->text(), "Write Pass");
    EXPECT_TRUE(dialogs.Count(ScriptedDialogs::Kind::Error) == 0);

    // Without an accepted image nothing polls, so a mouse plugged now is neither opened nor
    // written; loading again brings it in.
    mouseId = bus.Plug(mouse = std::make_shared<VirtualMouse31x>());
    FindControl<QCheckBox>(*form, "cb_AutoRun")->setChecked(true);
    FindControl<QRadioButton>(*form, "rb_CmdByte2K")->setChecked(true);
    Tick();
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_DevStatus")->text(), "No Find Mouse");
    EXPECT_TRUE(bus.Trace().empty());
    LoadImage();
    Tick();
    EXPECT_EQ(FindControl<QLabel>(*form, "lbl_DevStatus")->text(), "Mouse Ready");
    EXPECT_EQ(Verdict(), "Write Pass");
    EXPECT_EQ(form->State().PassCount, 2);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), mouse->Memory().begin()));
}

// A load cancelled while Save reads leaves no image: Save's end must not offer Write, or a
// KVQM42xx mouse, which has no identity check, would be written with the unloaded image.
TEST_F(DialogsAndSettleTest, LoadCancelledDuringSaveLeavesNoJobButtonWithoutAnImage) {
    SelectIcType(IcTypeKvqm42xx);
    LoadImage();
    bus.Plug(std::make_shared<VirtualMouse42xx>());
    Tick();
    ASSERT_EQ(FindControl<QLabel>(*form, "lbl_DevStatus")->text(), "Mouse Ready");
    bool loadQueued = false;
    bus.SetTraceListener([&](const HidTraceEntry&) {
        if (!loadQueued) {
            loadQueued = true;
            QMetaObject::invokeMethod(
                form.get(), [&] { FindControl<QPushButton>(*form, "btn_Load")->click(); },
                Qt::QueuedConnection);
        }
    });
    dialogs.saveAnswers.push_back(QString::fromStdString(Path("dump")));
    FindControl<QPushButton>(*form, "btn_Save")->click();
    bus.SetTraceListener(nullptr);
    ASSERT_EQ(dialogs.Count(ScriptedDialogs::Kind::OpenFile), 2);
    EXPECT_FALSE(form->State().ImageLoaded);
    EXPECT_FALSE(FindControl<QTimer>(*form, "DevTimer")->isActive());
    EXPECT_FALSE(FindControl<QPushButton>(*form, "btn_Write")->isEnabled());

    bus.SetTraceEnabled(true);
    FindControl<QPushButton>(*form, "btn_Write")->click();
    EXPECT_TRUE(bus.Trace().empty()) << "written with the image the operator unloaded";
}

} // namespace
} // namespace vrax::testing
