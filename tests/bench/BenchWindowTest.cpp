#include "BenchFixture.h"
#include "app/StationControls.h"

#include "bench/FaultEditor.h"
#include "bench/HexView.h"
#include "device/HidDiscovery.h"
#include "sim/VirtualMouse31x.h"
#include "sim/VirtualMouse42xx.h"

#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>

namespace vrax {
namespace {

class BenchWindowTest : public BenchFixture {
protected:
    QString Cell(int row, int column) const { return bench->mouseTable->item(row, column)->text(); }
};

TEST_F(BenchWindowTest, MiceOfEachIcTypeComeWithTheirDefaultIdsAndPlugAndUnplug) {
    EXPECT_EQ(bench->windowTitle(), "VRAX Bench");
    bench->addKvqm31xButton->click();
    bench->addKvqm42xxButton->click();
    bench->twoInterfacesBox->setChecked(true);
    bench->addKvqm537Button->click();
    const auto& mice = bench->Rack().Mice();
    ASSERT_EQ(mice.size(), 3u);
    const HidAttributes kvqm31x = mice[0].device->Attributes();
    EXPECT_EQ(kvqm31x.vendorId, 0x3C5E);
    EXPECT_EQ(kvqm31x.productId, 0x0A31);
    EXPECT_EQ(kvqm31x.versionNumber, 0x0104);
    EXPECT_EQ(mice[0].device->Family(), MouseFamily::Kvqm31x);
    for (int i : {1, 2}) {
        const HidAttributes ids = mice[static_cast<std::size_t>(i)].device->Attributes();
        EXPECT_EQ(ids.productId, 0x0A42);
        EXPECT_EQ(ids.versionNumber, 0x0100);
        EXPECT_EQ(mice[static_cast<std::size_t>(i)].device->Family(), MouseFamily::Kvqm42xx);
    }
    EXPECT_EQ(mice[1].device->InterfaceCount(), 1);
    EXPECT_EQ(mice[2].device->InterfaceCount(), 2);
    EXPECT_EQ(bench->SelectedMouse(), mice[2].number) << "a new mouse is selected";
    EXPECT_EQ(bench->mouseTable->rowCount(), 3);
    EXPECT_EQ(Cell(2, 0).toStdString(), "Mouse 3 · KVQM537");
    EXPECT_EQ(Cell(2, 1), "unplugged");
    EXPECT_TRUE(bench->identityLabel->text().contains("PID 0A42 · release 0100 · 2 HID"));

    EXPECT_FALSE(bench->unplugButton->isEnabled());
    bench->plugButton->click();
    EXPECT_TRUE(mice[2].Plugged());
    EXPECT_EQ(CountHidDevices(bus), 2);
    EXPECT_EQ(Cell(2, 1), "plugged");
    EXPECT_FALSE(bench->plugButton->isEnabled());
    bench->SelectMouse(mice[0].number);
    bench->plugButton->click();
    EXPECT_EQ(CountHidDevices(bus), 3);
    bench->keyboardButton->click();
    EXPECT_EQ(CountHidDevices(bus), 5) << "the keyboard brings two interfaces";
    EXPECT_EQ(bench->keyboardButton->text(), "Unplug the keyboard");
    EXPECT_TRUE(bench->busLabel->text().startsWith("Bus: 5 HID interfaces"));
    bench->keyboardButton->click();
    bench->unplugButton->click();
    EXPECT_EQ(CountHidDevices(bus), 2);
    EXPECT_FALSE(bench->Rack().Find(mice[0].number)->Plugged());

    const int plugged = bench->Rack().Mice()[2].number;
    bench->SelectMouse(plugged);
    bench->removeButton->click();
    EXPECT_EQ(bench->Rack().Find(plugged), nullptr);
    EXPECT_EQ(CountHidDevices(bus), 0) << "a removed mouse is unplugged first";
    EXPECT_EQ(bench->mouseTable->rowCount(), 2);
    EXPECT_EQ(bench->SelectedMouse(), 0);
}

TEST_F(BenchWindowTest, TheStationSeesTheKeyboardAsDevicesButNoMouse) {
    LoadSample();
    FindControl<QCheckBox>(*station, "cb_AutoRun")->click();
    bench->addKvqm31xButton->click();
    bench->plugButton->click();
    Tick();
    EXPECT_EQ(FindControl<QLabel>(*station, "lbl_CtrlResult")->text(), "Write Pass");
    bench->keyboardButton->click();
    Tick();
    EXPECT_EQ(FindControl<QLabel>(*station, "lbl_PassCnt")->text(), "2")
        << "a rise of the count writes the open mouse again";
    bench->keyboardButton->click();
    Tick();
    EXPECT_EQ(FindControl<QLabel>(*station, "lbl_DevStatus")->text(), "No Find Mouse");
    EXPECT_FALSE(station->GetStation().links.For(IcTypeKvqm31x)->IsOpen());
}

TEST_F(BenchWindowTest, FaultsChangeOnThePluggedMouseAtOnceAndOnlyThoseOfItsFamily) {
    bench->addKvqm31xButton->click();
    bench->plugButton->click();
    auto mouse = bench->Rack().Mice()[0].device;
    FaultEditor& editor = *bench->faultEditor;
    ASSERT_NE(editor.FaultBox("not-ready"), nullptr);
    EXPECT_EQ(editor.FaultBox("drop-data"), nullptr);

    editor.ValueField("refuse-write-chunk")->setText("4");
    editor.FaultBox("refuse-write-chunk")->setChecked(true);
    EXPECT_EQ(mouse->Faults().refusedWriteChunk, 4);
    editor.FaultBox("not-ready")->setChecked(true);
    EXPECT_TRUE(mouse->Faults().notReady);
    bench->Refresh();
    EXPECT_EQ(Cell(0, 2), "not-ready,refuse-write-chunk=4");

    editor.ValueField("refuse-write-chunk")->clear();
    QTest::keyClicks(editor.ValueField("refuse-write-chunk"), "x");
    EXPECT_EQ(mouse->Faults().refusedWriteChunk, 4) << "a bad value leaves the faults as they were";
    EXPECT_TRUE(editor.Summary()->text().startsWith("Not applied"));
    editor.FaultBox("refuse-write-chunk")->setChecked(false);
    editor.FaultBox("not-ready")->setChecked(false);
    EXPECT_FALSE(mouse->Faults().Any());

    // The station feels a fault given between two mice.
    LoadSample();
    FindControl<QCheckBox>(*station, "cb_AutoRun")->click();
    editor.FaultBox("not-ready")->setChecked(true);
    Tick();
    EXPECT_TRUE(!FindControl<QLabel>(*station, "lbl_BINDevError")->isHidden());

    bench->addKvqm42xxButton->click();
    EXPECT_EQ(editor.FaultBox("not-ready"), nullptr);
    ASSERT_NE(editor.FaultBox("drop-data"), nullptr);
    EXPECT_FALSE(editor.FaultBox("drop-data")->isChecked());
    bench->SelectMouse(bench->Rack().Mice()[0].number);
    EXPECT_TRUE(editor.FaultBox("not-ready")->isChecked()) << "the editor shows the mouse's faults";
    bench->Rack().Mice()[0].device->Faults().corruptAddress = 0x123;
    bench->Refresh();
    EXPECT_TRUE(editor.FaultBox("corrupt")->isChecked()) << "faults changed elsewhere show too";
    EXPECT_EQ(editor.ValueField("corrupt")->text(), "0x123");
}

TEST_F(BenchWindowTest, TheHexViewMarksWhatDiffersFromTheLoadedImageAndDecodesTheRecord) {
    bench->addKvqm31xButton->click();
    EXPECT_EQ(bench->hexView->DifferenceCount(), 0);
    EXPECT_TRUE(bench->differenceLabel->text().startsWith("No image loaded"));
    EXPECT_TRUE(bench->factoryRecordLabel->text().contains("blank (all FF)"));

    LoadSample();
    FindControl<QCheckBox>(*station, "cb_AutoRun")->click();
    FindControl<QCheckBox>(*station, "cb_WriteID")->setChecked(true);
    bench->plugButton->click();
    Tick();
    ASSERT_EQ(FindControl<QLabel>(*station, "lbl_CtrlResult")->text(), "Write Pass");
    bench->Refresh();
    const auto& memory = bench->Rack().Mice()[0].device->Memory();
    const ImageBuffer& loaded = station->State().LoadedImage;
    int differing = 0;
    for (int i = 0; i < ImageSize; ++i) {
        const bool differs =
            memory[static_cast<std::size_t>(i)] != loaded[static_cast<std::size_t>(i)];
        differing += differs ? 1 : 0;
        ASSERT_EQ(bench->hexView->Differs(i), differs) << i;
        // The custom ranges 0-256 and 1280-1536 were written; the rest is the fresh mouse's FF.
        // Bytes 160-171 hold this mouse's record, which the image file does not have.
        const bool record = i >= 160 && i < 172;
        const bool written = !record && (i < 256 || (i >= 1280 && i < 1536));
        if (written) {
            ASSERT_FALSE(differs) << i;
        }
    }
    EXPECT_GT(differing, 1000);
    EXPECT_EQ(bench->hexView->DifferenceCount(), differing);
    EXPECT_EQ(bench->hexView->FirstDifference(), 160) << "the record's first differing byte";
    EXPECT_TRUE(bench->differenceLabel->text().contains(QString::number(differing)));
    EXPECT_TRUE(bench->factoryRecordLabel->text().contains(
        "product 0005 · date 20200527 · SN 000001 · factory 1 · line A · station 1"))
        << bench->factoryRecordLabel->text().toStdString();
}

TEST_F(BenchWindowTest, TheBenchStandsBesideTheStationAndClosesWithIt) {
    using Placement = BenchWindow::Placement;
    const auto place = [](QRect station, QRect screen) {
        const Placement placement =
            BenchWindow::PlaceBeside(station, QSize(BenchWindow::Width, 680), screen);
        return std::pair(placement.station, placement.bench);
    };
    const QRect wide(0, 0, 1920, 1040);
    // Room on the right, then on the left: the station stays where it is.
    EXPECT_EQ(place({200, 180, 625, 680}, wide), std::pair(QPoint(200, 180), QPoint(833, 180)));
    EXPECT_EQ(place({1200, 180, 625, 680}, wide), std::pair(QPoint(1200, 180), QPoint(252, 180)));
    // Centred by its own start-up, the station leaves room on neither side: the pair is centred.
    EXPECT_EQ(place({647, 180, 625, 680}, wide), std::pair(QPoint(173, 180), QPoint(806, 180)));
    // A screen too narrow for both: edge to edge, overlapping, and inside the screen's height.
    const QRect small(0, 0, 1366, 728);
    EXPECT_EQ(place({370, 24, 625, 680}, small), std::pair(QPoint(0, 24), QPoint(426, 24)));
    EXPECT_EQ(place({370, 200, 625, 680}, small), std::pair(QPoint(0, 48), QPoint(426, 48)));
    const QRect offset(1920, 0, 1920, 1040);
    EXPECT_EQ(place({2567, 180, 625, 680}, offset),
              std::pair(QPoint(2093, 180), QPoint(2726, 180)));

    bench->close();
    EXPECT_EQ(exitCodes, std::vector<int>{0}) << "closing the bench closes the station";
}

} // namespace
} // namespace vrax
