#include "app/InstantPlugIn.h"
#include "app/StationProgram.h"
#include "app/TForm1.h"
#include "device/Clock.h"
#include "device/NullHidPlatform.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstring>

// The station program on the instance key given as the first argument. It reports on its
// output when its window exists and when a later start restored it; with "close" as the
// second argument it asks its window to close as the operator would.
int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: vrax-station-probe <instance key> stay|close\n");
        return 2;
    }
    const QString key = QString::fromLocal8Bit(argv[1]);
    const bool close = std::strcmp(argv[2], "close") == 0;

    vrax::NullHidPlatform platform;
    vrax::VirtualClock clock;
    vrax::StationProgramOptions options;
    // A test keeps no records in the user's data folder.
    options.defaultRecords = "none";
    options.instanceKey = key;
    options.onWindowCreated = [close](vrax::TForm1& form) {
        std::printf("window %s|%s|%s\n", qPrintable(form.windowTitle()),
                    qPrintable(QApplication::applicationDisplayName()),
                    form.findChild<vrax::InstantPlugIn*>() != nullptr ? "instant plug-in"
                                                                      : "polling alone");
        std::fflush(stdout);
        if (close) {
            QTimer::singleShot(0, &form, [&form] { form.close(); });
        }
    };
    options.onRestored = [](vrax::TForm1&) {
        std::printf("restored\n");
        std::fflush(stdout);
    };
    const int exitCode = vrax::RunStationProgram(argc, argv, platform, clock, options);
    // Never printed when closing the window ends the process at once.
    std::printf("loop ended\n");
    return exitCode;
}
