#include "BenchFixture.h"
#include "app/StationControls.h"
#include "app/StationRemote.h"

#include "bench/MouseRack.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <atomic>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace vrax {
namespace {

using Phase = VirtualProductionLine::Phase;

class ProductionLineTest : public BenchFixture {
protected:
    int StationPassCount() const {
        return FindControl<QLabel>(*station, "lbl_PassCnt")->text().toInt();
    }

    // Every mouse got the verdict its faults dictate, and the tally agrees with the station.
    void ExpectLineAsPlanned(int mice, int faulty) {
        const VirtualProductionLine& line = bench->Line();
        EXPECT_EQ(line.CurrentPhase(), Phase::Finished) << line.Status();
        ASSERT_EQ(static_cast<int>(line.Mice().size()), mice);
        int faultyMice = 0;
        for (const VirtualProductionLine::LineMouse& mouse : line.Mice()) {
            SCOPED_TRACE(std::to_string(mouse.index) + " " + mouse.faults);
            EXPECT_TRUE(mouse.done);
            if (mouse.faults.empty()) {
                EXPECT_EQ(mouse.got, Verdict::WritePass);
            } else {
                ++faultyMice;
                EXPECT_NE(mouse.expected, Verdict::WritePass);
                EXPECT_EQ(mouse.got, mouse.expected);
            }
        }
        EXPECT_EQ(faultyMice, faulty);
        const VirtualProductionLine::Tally tally = line.Count();
        EXPECT_EQ(tally.done, mice);
        EXPECT_EQ(tally.asExpected, mice);
        EXPECT_EQ(tally.pass, mice - faulty);
        EXPECT_EQ(tally.pass + tally.fail + tally.mismatch + tally.none, mice);
        EXPECT_EQ(StationPassCount() - line.PassCountAtStart(), tally.pass);
        bench->Refresh();
        EXPECT_TRUE(bench->passCountLabel->text().contains("as the tally says"))
            << bench->passCountLabel->text().toStdString();
        EXPECT_TRUE(bench->passTally->text().contains(QString::number(tally.pass)));
        EXPECT_EQ(bench->lineLog->count(), mice);
        // The station forgot every mouse it opened, and the bench keeps only the last one.
        EXPECT_EQ(bus.OpenHandleCount(), 0);
        EXPECT_TRUE(bus.PluggedDevices().empty());
        EXPECT_EQ(bench->Rack().Mice().size(), 1u);
    }
};

TEST_F(ProductionLineTest, ThirtyMixedKvqm31xMiceGetTheVerdictsTheirFaultsDictate) {
    LoadSample();
    FindControl<QCheckBox>(*station, "cb_AutoRun")->click();
    ASSERT_TRUE(bench->Line().Start(LineOf(30, 30, 2024)).empty());
    RunLine();
    ExpectLineAsPlanned(30, 9);
    EXPECT_EQ(StationPassCount(), 21) << "the line started from a fresh station";

    std::set<Verdict> kinds;
    for (const VirtualProductionLine::LineMouse& mouse : bench->Line().Mice()) {
        kinds.insert(mouse.got);
    }
    EXPECT_TRUE(kinds.count(Verdict::WriteFail) && kinds.count(Verdict::MouseMismatch))
        << "the faulty mice fail both ways";

    // A mouse written after the line does not count against the line's tally.
    bench->addKvqm31xButton->click();
    bench->plugButton->click();
    Tick();
    EXPECT_EQ(StationPassCount(), 22);
    bench->Refresh();
    EXPECT_TRUE(bench->passCountLabel->text().contains("+21 by the line, as the tally says"));
}

TEST_F(ProductionLineTest, Kvqm42xxAndKvqm537LinesOnOneAndTwoInterfaces) {
    SelectIcType(IcTypeKvqm42xx);
    LoadSample();
    FindControl<QCheckBox>(*station, "cb_AutoRun")->click();
    ASSERT_TRUE(bench->Line().Start(LineOf(12, 50, 7)).empty());
    RunLine();
    ExpectLineAsPlanned(12, 6);

    SelectIcType(IcTypeKvqm537);
    EXPECT_EQ(StationPassCount(), 0) << "an IC type change clears the pass count";
    LoadSample();
    bench->twoInterfacesBox->setChecked(true);
    VirtualProductionLine::Settings settings = LineOf(12, 50, 8);
    EXPECT_EQ(settings.icType, IcTypeKvqm537);
    EXPECT_EQ(settings.layout, VirtualMouse42xx::Layout::TwoInterfaces);
    ASSERT_TRUE(bench->Line().Start(settings).empty());
    RunLine();
    ExpectLineAsPlanned(12, 6);
    EXPECT_EQ(bench->Rack().Mice().front().device->InterfaceCount(), 2);
}

TEST_F(ProductionLineTest, WithoutAutoWriteTheLineWaitsForTheOperatorsWrite) {
    LoadSample();
    ASSERT_TRUE(bench->Line().Start(LineOf(2, 0, 1)).empty());
    for (int n = 1; n <= 2; ++n) {
        for (int step = 0; step < 50 && bench->Line().CurrentPhase() != Phase::WaitingForVerdict;
             ++step) {
            Tick();
            bench->Line().Step();
        }
        ASSERT_EQ(bench->Line().CurrentPhase(), Phase::WaitingForVerdict);
        EXPECT_EQ(FindControl<QLabel>(*station, "lbl_DevStatus")->text(), "Mouse Ready");
        for (int step = 0; step < 5; ++step) {
            bench->Line().Step();
        }
        EXPECT_EQ(bench->Line().CurrentPhase(), Phase::WaitingForVerdict);
        FindControl<QPushButton>(*station, "btn_Write")->click();
        bench->Line().Step();
        EXPECT_EQ(bench->Line().CurrentPhase(), Phase::ShowingVerdict);
        EXPECT_EQ(bench->Line().Mice()[static_cast<std::size_t>(n - 1)].got, Verdict::WritePass);
    }
    RunLine();
    EXPECT_EQ(bench->Line().CurrentPhase(), Phase::Finished);
    EXPECT_EQ(StationPassCount(), 2);
}

TEST_F(ProductionLineTest, AFaultGivenToThePluggedLineMouseShowsAsNoVerdict) {
    LoadSample();
    FindControl<QCheckBox>(*station, "cb_AutoRun")->click();
    ASSERT_TRUE(bench->Line().Start(LineOf(3, 0, 1)).empty());
    bench->Line().Step();
    ASSERT_EQ(bench->Line().CurrentPhase(), Phase::WaitingForArrival);
    // An unmarked status reply stops the job before any write, and the station shows nothing.
    MouseRack::Mouse* mouse = bench->Rack().Find(bench->Line().CurrentRackNumber());
    ASSERT_NE(mouse, nullptr);
    ASSERT_TRUE(mouse->Plugged());
    mouse->device->Faults().unmarked = true;
    RunLine();
    const VirtualProductionLine::Tally tally = bench->Line().Count();
    EXPECT_EQ(tally.none, 1);
    EXPECT_EQ(tally.pass, 2);
    EXPECT_EQ(tally.asExpected, 2);
    EXPECT_EQ(StationPassCount(), 2);
    bench->Refresh();
    EXPECT_TRUE(bench->lineLog->item(0)->text().contains("no verdict"));
    EXPECT_TRUE(bench->lineLog->item(0)->text().contains("expected Write Pass"));
}

TEST_F(ProductionLineTest, TheLineExplainsWhyItCannotStartOrGoOn) {
    EXPECT_NE(bench->Line().Start(LineOf(3, 0, 1)).find("Load a BIN image"), std::string::npos);
    bench->lineStartButton->click();
    EXPECT_FALSE(bench->Line().Running());
    EXPECT_TRUE(bench->lineStatusLabel->text().contains("Load a BIN image"));

    LoadSample();
    FindControl<QCheckBox>(*station, "cb_AutoRun")->click();
    VirtualProductionLine::Settings settings = LineOf(3, 0, 1);
    settings.patienceSteps = 20;
    ASSERT_TRUE(bench->Line().Start(settings).empty());
    bench->Line().Step();
    ASSERT_EQ(bench->Line().CurrentPhase(), Phase::WaitingForArrival);
    // A station that never ticks never notices the mouse.
    for (int step = 0; step <= settings.patienceSteps; ++step) {
        bench->Line().Step();
    }
    EXPECT_EQ(bench->Line().CurrentPhase(), Phase::Stopped);
    EXPECT_NE(bench->Line().Status().find("did not notice Mouse 1 of 3"), std::string::npos);

    // Changing the IC type mid-line unloads the image: the line stops and says why.
    ASSERT_TRUE(bench->Line().Start(settings).empty());
    Tick();
    SelectIcType(IcTypeKvqm42xx);
    bench->Line().Step();
    EXPECT_EQ(bench->Line().CurrentPhase(), Phase::Stopped);
    EXPECT_NE(bench->Line().Status().find("no BIN image"), std::string::npos);

    // The Start button stops a running line and leaves its mouse where it is.
    SelectIcType(IcTypeKvqm31x);
    LoadSample();
    bench->lineStartButton->click();
    ASSERT_TRUE(bench->Line().Running());
    EXPECT_TRUE(bench->lineTimer->isActive());
    bench->Line().Step();
    bench->lineStartButton->click();
    EXPECT_EQ(bench->Line().CurrentPhase(), Phase::Stopped);
    EXPECT_FALSE(bench->lineTimer->isActive());
    EXPECT_TRUE(bench->Rack().Find(bench->Line().CurrentRackNumber())->Plugged());
}

// The README's jig runs beside `./dev run`, on Linux; under Wine the host's jig drives the
// Windows programs instead.
#ifndef _WIN32
// As written but for its port: ten mice of the bench's line through the
// station window, the line started once the jig has loaded the sample.
TEST_F(ProductionLineTest, TheReadmesJigProgramsTheLinesTenMiceThroughTheWindow) {
    std::ifstream readme(VRAX_README);
    const std::string text{std::istreambuf_iterator<char>(readme), {}};
    const std::size_t begin = text.find("```python\n");
    ASSERT_NE(begin, std::string::npos);
    const std::size_t end = text.find("\n```", begin + 10);
    std::string script = text.substr(begin + 10, end - begin - 10);

    std::atomic<bool> cancelled{false};
    auto* remote = new StationRemote(*station, cancelled);
    remote->Open("tcp:127.0.0.1:0");
    const std::string name = remote->Names().front();
    const std::size_t port = script.find("4000");
    ASSERT_NE(port, std::string::npos);
    script.replace(port, 4, name.substr(name.rfind(':') + 1));

    const QString working = QDir::currentPath();
    QDir::setCurrent(VRAX_BENCH_SAMPLE_DIR);
    QProcess jig;
    jig.start("python3", {"-c", QString::fromStdString(script)});
    ASSERT_TRUE(jig.waitForStarted());
    QElapsedTimer waited;
    waited.start();
    while (jig.state() != QProcess::NotRunning && waited.elapsed() < 120000) {
        if (station->State().ImageLoaded && bench->Line().CurrentPhase() == Phase::Idle) {
            ASSERT_TRUE(bench->Line().Start(LineOf(10, 0, 1)).empty());
        }
        // At the bench's pace, the station's DevTimer running on its own: a jig polling every
        // 0.2 s sees the gap between two mice because the window looks for them once a second.
        bench->Line().Step();
        QTest::qWait(BenchWindow::LineStepMs);
    }
    QDir::setCurrent(working);
    const QString said = jig.readAllStandardOutput() + jig.readAllStandardError();
    ASSERT_EQ(jig.exitCode(), 0) << said.toStdString();
    EXPECT_TRUE(said.startsWith("#OK NAME=sample-2k.bin SHA256=")) << said.toStdString();
    EXPECT_EQ(said.count(QRegularExpression("\\n\\d+ #OK PASS JOB=WRITE ")), 10)
        << said.toStdString();
    RunLine();
    ExpectLineAsPlanned(10, 0);
}
#endif

} // namespace
} // namespace vrax
