#include "app/StationControls.h"
#include "bench/BenchWindow.h"
#include "bench/HexView.h"

#include "app/ScriptedDialogs.h"
#include "app/Skin.h"
#include "app/TForm1.h"
#include "device/Clock.h"
#include "records/ProductionRecords.h"
#include "sim/SimulatedHidBus.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

// Renders the bench window, alone and beside the station, to PNG files for review.
int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: vrax-bench-screenshots <output folder>\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(folder.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    application.setApplicationDisplayName(vrax::TForm1::ApplicationTitle);
    vrax::Skin::InstallApplicationLook(application);

    vrax::VirtualClock clock;
    vrax::SimulatedHidBus bus(clock);
    vrax::ScriptedDialogs dialogs;
    vrax::TForm1 station(bus, clock, dialogs);
    station.SetExitAction([](int) {});
    station.SelectLanguage(1033);
    // The records go nowhere, yet the bench's table shows what would be kept.
    vrax::NullProductionRecords records;
    station.Recording().Attach(records, nullptr, [&station] {
        return vrax::FindControl<QLineEdit>(station, "edt_BinFile")->text().toStdString();
    });
    station.show();
    vrax::BenchWindow bench(bus, station);
    bench.SetSampleFolder(VRAX_BENCH_SAMPLE_DIR);
    bench.refreshTimer->stop();
    bench.show();

    bool ok = true;
    const auto save = [&](const QPixmap& picture, const QString& name) {
        const QString path = folder.filePath(name);
        if (!picture.save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            ok = false;
            return;
        }
        std::printf("%s\n", qPrintable(path));
    };
    const auto settle = [&] {
        bench.Refresh();
        for (int i = 0; i < 5; ++i) {
            QApplication::processEvents();
        }
    };
    const auto tick = [&] {
        if (vrax::FindControl<QTimer>(station, "DevTimer")->isActive()) {
            station.RunGuarded(
                [&] { station.DevTimerTimer(vrax::FindControl<QTimer>(station, "DevTimer")); });
        }
    };

    settle();
    save(bench.grab(), "bench-start.png");

    dialogs.openAnswers.push_back(QStringLiteral(VRAX_BENCH_SAMPLE_DIR "/sample-2k.bin"));
    vrax::FindControl<QPushButton>(station, "btn_Load")->click();
    vrax::FindControl<QCheckBox>(station, "cb_WriteID")->setChecked(true);
    vrax::FindControl<QCheckBox>(station, "cb_AutoRun")->click();

    vrax::VirtualProductionLine::Settings line = bench.LineSettingsFromFields();
    line.mice = 12;
    line.faultyPercent = 25;
    line.seed = 7;
    line.holdSteps = 0;
    bench.Line().Start(line);
    for (int step = 0; step < 10000 && bench.Line().Running(); ++step) {
        tick();
        bench.Line().Step();
    }

    bench.addKvqm42xxButton->click();
    bench.Rack().Find(bench.SelectedMouse())->device->Faults().droppedDataReport = 5;
    bench.twoInterfacesBox->setChecked(true);
    bench.addKvqm537Button->click();
    bench.addKvqm31xButton->click();
    const int shown = bench.SelectedMouse();
    bench.Rack().Find(shown)->device->Faults().busyPolls = 2;
    bench.SelectMouse(shown);
    bench.plugButton->click();
    tick();
    bench.Rack().PlugKeyboard();
    bench.hexView->ScrollToAddress(0x060);
    settle();
    save(bench.grab(), "bench.png");

    QPixmap both(station.width() + vrax::BenchWindow::Gap + bench.width(),
                 std::max(station.height(), bench.height()));
    both.fill(QColor(64, 64, 64));
    {
        QPainter painter(&both);
        painter.drawPixmap(0, 0, station.grab());
        painter.drawPixmap(station.width() + vrax::BenchWindow::Gap, 0, bench.grab());
    }
    save(both, "bench-beside-station.png");
    return ok ? 0 : 1;
}
