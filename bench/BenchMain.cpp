#include "bench/BenchWindow.h"

#include "app/InstantPlugIn.h"
#include "app/StationProgram.h"
#include "app/TForm1.h"
#include "device/Clock.h"
#include "sim/SimulatedHidBus.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

// The sample image beside the program (as unpacked on Windows), where the package installs it,
// else in the source tree it was built from.
QString SampleFolder() {
    const QString programFolder = QCoreApplication::applicationDirPath();
    for (const QString& folder :
         {programFolder + "/sample", programFolder + "/../share/vrax-bin-writer/sample"}) {
        if (QFileInfo::exists(folder + "/sample-2k.bin")) {
            return QDir::cleanPath(folder);
        }
    }
    return QStringLiteral(VRAX_BENCH_SAMPLE_DIR);
}

} // namespace

// The station window, unchanged, on a simulated HID bus with the real clock, beside the bench.
int main(int argc, char** argv) {
    vrax::RealClock clock(vrax::RealClock::FineTimer::HeldByCaller);
    vrax::SimulatedHidBus bus(clock);
    vrax::BenchWindow* bench = nullptr;

    vrax::StationProgramOptions options;
    // Its own key: the bench may run beside a station tool on real mice.
    options.instanceKey = vrax::BenchWindow::Title;
    options.listenToSystemDevices = false;
    options.onWindowCreated = [&](vrax::TForm1& station) {
        const QString sample = SampleFolder();
        // The station's open dialog starts in the working folder: the first load is the sample.
        if (QFileInfo::exists(sample)) {
            QDir::setCurrent(sample);
        }
        if (auto* instant = station.findChild<vrax::InstantPlugIn*>()) {
            bus.SetPlugListener([instant] { instant->DeviceChanged(); });
        }
        bench = new vrax::BenchWindow(bus, station);
        bench->SetSampleFolder(sample);
        bench->ShowBeside();
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [&bench, &bus] {
            bus.SetPlugListener({});
            delete bench;
            bench = nullptr;
        });
    };
    options.onRestored = [&](vrax::TForm1&) {
        if (bench != nullptr) {
            bench->show();
            bench->raise();
        }
    };
    return vrax::RunStationProgram(argc, argv, bus, clock, options);
}
