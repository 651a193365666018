#include "StationProgram.h"

#include "QtDialogs.h"
#include "SingleInstance.h"
#include "Skin.h"
#include "TForm1.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace vrax {

int RunStationProgram(int& argc, char** argv, HidPlatform& platform, Clock& clock,
                      const StationProgramOptions& options) {
    QApplication application(argc, argv);
    SingleInstance instance(options.instanceKey.isEmpty() ? QString(TForm1::Caption)
                                                          : options.instanceKey);
    if (instance.AskRunningCopyToShow()) {
        return 0;
    }
    instance.Listen();

    application.setApplicationName("vrax-bin-writer");
    application.setApplicationDisplayName(TForm1::ApplicationTitle);
    Skin::InstallApplicationLook(application);

    QtDialogs dialogs;
    TForm1 form(platform, clock, dialogs);
    form.SetExitAction([&instance](int exitCode) {
        instance.Close();
        std::fflush(nullptr);
        std::_Exit(exitCode);
    });
    QObject::connect(&instance, &SingleInstance::ShowRequested, &form, [&form, &options] {
        form.RestoreAndRaise();
        if (options.onRestored) {
            options.onRestored(form);
        }
    });
    form.show();
    if (options.onWindowCreated) {
        options.onWindowCreated(form);
    }
    application.exec();
    return 0;
}

} // namespace vrax
