#include "app/InstantPlugIn.h"
#include "app/ScriptedDialogs.h"
#include "app/StationControls.h"
#include "app/TForm1.h"
#include "sim/SimulatedHidBus.h"
#include "sim/VirtualMouse31x.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace vrax {
namespace {

TEST(InstantPlugIn, ANotificationRunsTheTickAtOnceOnlyWhilePollingRuns) {
    VirtualClock clock;
    SimulatedHidBus bus{clock};
    ScriptedDialogs dialogs;
    TForm1 form(bus, clock, dialogs);
    form.SetExitAction([](int) {});
    InstantPlugIn instant(form);
    bus.SetPlugListener([&instant] { instant.DeviceChanged(); });

    // No image loaded, so DevTimer is off: the notification changes nothing.
    const auto first = bus.Plug(std::make_shared<VirtualMouse31x>());
    QCoreApplication::processEvents();
    EXPECT_FALSE(form.GetStation().links.For(IcTypeKvqm31x)->IsOpen());
    bus.Unplug(first);
    QCoreApplication::processEvents();

    const std::string imagePath =
        (std::filesystem::temp_directory_path() / "vrax-instant-plug-in.bin").string();
    std::ofstream(imagePath, std::ios::binary) << std::string(2048, '\x11');
    dialogs.openAnswers.push_back(QString::fromStdString(imagePath));
    FindControl<QPushButton>(form, "btn_Load")->click();
    ASSERT_TRUE(FindControl<QTimer>(form, "DevTimer")->isActive());

    // The timer's own tick is a second away; the notification does not wait for it.
    bus.Plug(std::make_shared<VirtualMouse31x>());
    QCoreApplication::processEvents();
    EXPECT_TRUE(form.GetStation().links.For(IcTypeKvqm31x)->IsOpen());
    EXPECT_EQ(FindControl<QLabel>(form, "lbl_DevStatus")->text(), "Mouse Ready");
    bus.SetPlugListener({});
    std::filesystem::remove(imagePath);
}

} // namespace
} // namespace vrax
