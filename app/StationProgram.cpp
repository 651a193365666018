#include "StationProgram.h"
#include "app/StationControls.h"

#include "InstantPlugIn.h"
#include "QtDialogs.h"
#include "SingleInstance.h"
#include "Skin.h"
#include "TForm1.h"

#include "device/RememberingHidPlatform.h"
#include "records/RecordsLocation.h"

#include <QApplication>
#include <QLineEdit>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

namespace vrax {

namespace {

// Takes --records FILE or --records=FILE out of the arguments; nullopt when absent.
std::optional<std::string> TakeRecordsArgument(int& argc, char** argv) {
    std::optional<std::string> choice;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--records" && i + 1 < argc) {
            choice = argv[++i];
        } else if (argument.rfind("--records=", 0) == 0) {
            choice = argument.substr(10);
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    return choice;
}

} // namespace

int RunStationProgram(int& argc, char** argv, HidPlatform& platform, Clock& clock,
                      const StationProgramOptions& options) {
    const std::optional<std::string> recordsArgument = TakeRecordsArgument(argc, argv);
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

    QtDialogs qtDialogs;
    Dialogs& dialogs = options.dialogs != nullptr ? *options.dialogs : qtDialogs;
    std::unique_ptr<ProductionRecords> records;
    // The line database connects before the window exists.
    QString unprotected;
    try {
        records = OpenProductionRecords(
            recordsArgument.value_or(options.defaultRecords.toStdString()), RecordsAccess::Station,
            [&unprotected](LineDatabaseNotice kind, const std::string& text) {
                std::fprintf(stderr, "%s\n", text.c_str());
                if (kind == LineDatabaseNotice::Unprotected) {
                    unprotected = QString::fromStdString(text);
                }
            });
    } catch (const RecordsError& error) {
        dialogs.Error(nullptr, TForm1::ApplicationTitle, QString::fromStdString(error.what()));
        return 2;
    }
    RememberingHidPlatform devices(platform);
    TForm1 form(devices, clock, dialogs);
    form.Recording().Attach(*records, &devices, [&form] {
        return FindControl<QLineEdit>(form, "edt_BinFile")->text().toStdString();
    });
    if (!unprotected.isEmpty()) {
        form.ShowStatusNotice(unprotected);
    }
    // A child of the window: it goes with it.
    auto* instant = new InstantPlugIn(form);
    if (options.listenToSystemDevices) {
        instant->ListenToSystem();
    }
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
