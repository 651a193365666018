#pragma once

#include "app/DropDownComboBox.h"
#include "app/ScriptedDialogs.h"
#include "app/StationControls.h"
#include "app/TForm1.h"
#include "bench/BenchWindow.h"
#include "device/Clock.h"
#include "sim/SimulatedHidBus.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

namespace vrax {

// The station window and the bench on one simulated bus with a virtual clock. Nothing runs
// by itself: the test ticks the station as its timer would, through the same guard, and steps
// the line as its timer would.
class BenchFixture : public ::testing::Test {
protected:
    static constexpr const char* SamplePath = VRAX_BENCH_SAMPLE_DIR "/sample-2k.bin";

    void SetUp() override {
        station = std::make_unique<TForm1>(bus, clock, dialogs);
        station->SetExitAction([this](int code) { exitCodes.push_back(code); });
        station->SelectLanguage(1033);
        bench = std::make_unique<BenchWindow>(bus, *station);
        bench->refreshTimer->stop();
        std::ifstream file(SamplePath, std::ios::binary);
        file.read(reinterpret_cast<char*>(sample.data()), sample.size());
        ASSERT_EQ(file.gcount(), 2048);
    }
    void TearDown() override {
        bench.reset();
        station.reset();
    }

    void LoadSample() {
        dialogs.openAnswers.push_back(QString(SamplePath));
        FindControl<QPushButton>(*station, "btn_Load")->click();
        ASSERT_TRUE(station->State().ImageLoaded);
    }
    void SelectIcType(int index) {
        FindControl<DropDownComboBox>(*station, "cb_ICType")->setCurrentIndex(index);
        station->RunGuarded([&] {
            station->cb_ICTypeChange(FindControl<DropDownComboBox>(*station, "cb_ICType"));
        });
    }
    // A tick comes only while the timer runs.
    void Tick() {
        if (FindControl<QTimer>(*station, "DevTimer")->isActive()) {
            station->RunGuarded(
                [&] { station->DevTimerTimer(FindControl<QTimer>(*station, "DevTimer")); });
        }
    }
    VirtualProductionLine::Settings LineOf(int mice, int faultyPercent, std::uint32_t seed) {
        VirtualProductionLine::Settings settings = bench->LineSettingsFromFields();
        settings.mice = mice;
        settings.faultyPercent = faultyPercent;
        settings.seed = seed;
        settings.holdSteps = 1;
        return settings;
    }
    // Ticks and steps until the line ends, as the two timers would interleave.
    void RunLine(int maximumSteps = 20000) {
        for (int step = 0; step < maximumSteps && bench->Line().Running(); ++step) {
            Tick();
            bench->Line().Step();
        }
        ASSERT_FALSE(bench->Line().Running()) << bench->Line().Status();
    }

    VirtualClock clock;
    SimulatedHidBus bus{clock};
    ScriptedDialogs dialogs;
    std::unique_ptr<TForm1> station;
    std::unique_ptr<BenchWindow> bench;
    std::vector<int> exitCodes;
    ImageBuffer sample{};
};

} // namespace vrax
