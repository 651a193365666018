#include "StationProgram.h"
#include "app/StationControls.h"

#include "InstantPlugIn.h"
#include "QtDialogs.h"
#include "SingleInstance.h"
#include "Skin.h"
#include "TForm1.h"

#include "StationRemote.h"
#include "device/RememberingHidPlatform.h"
#include "operations/CancellableClock.h"
#include "operations/CancellableHidPlatform.h"
#include "records/RecordsLocation.h"

#include <QApplication>
#include <QLineEdit>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vrax {

namespace {

struct ProgramArguments {
    std::optional<std::string> records;
    std::vector<std::string> remotes;
    std::vector<std::string> allowed;
    std::optional<std::string> idleSeconds;
};

// Takes --records FILE, any --remote PORT and --remote-allow CIDR, and --remote-idle SECONDS
// (or their --NAME=VALUE forms) out of the arguments.
ProgramArguments TakeProgramArguments(int& argc, char** argv) {
    ProgramArguments taken;
    const auto value = [&](const std::string& name, int& i) -> std::optional<std::string> {
        const std::string argument = argv[i];
        if (argument == name && i + 1 < argc) {
            return std::string(argv[++i]);
        }
        if (argument.rfind(name + "=", 0) == 0) {
            return argument.substr(name.size() + 1);
        }
        return std::nullopt;
    };
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::optional<std::string> records = value("--records", i)) {
            taken.records = std::move(records);
        } else if (std::optional<std::string> remote = value("--remote", i)) {
            taken.remotes.push_back(std::move(*remote));
        } else if (std::optional<std::string> range = value("--remote-allow", i)) {
            taken.allowed.push_back(std::move(*range));
        } else if (std::optional<std::string> idle = value("--remote-idle", i)) {
            taken.idleSeconds = std::move(idle);
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    return taken;
}

} // namespace

int RunStationProgram(int& argc, char** argv, HidPlatform& platform, Clock& clock,
                      const StationProgramOptions& options) {
    const ProgramArguments arguments = TakeProgramArguments(argc, argv);
    const std::optional<std::string>& recordsArgument = arguments.records;
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
    // The line database connects before the window exists; what the operator must know of it
    // stays under the controls.
    QString connectionNotices;
    try {
        records = OpenProductionRecords(
            recordsArgument.value_or(options.defaultRecords.toStdString()), RecordsAccess::Station,
            [&connectionNotices](LineDatabaseNotice kind, const std::string& text) {
                std::fprintf(stderr, "%s\n", text.c_str());
                if (kind == LineDatabaseNotice::Unprotected || kind == LineDatabaseNotice::Clock) {
                    connectionNotices +=
                        (connectionNotices.isEmpty() ? "" : "\n") + QString::fromStdString(text);
                }
            });
    } catch (const RecordsError& error) {
        dialogs.Error(nullptr, TForm1::ApplicationTitle, QString::fromStdString(error.what()));
        return 2;
    }
    // A jig's #CANCEL cuts the window's way to its mouse and its waits.
    const bool remote = !arguments.remotes.empty();
    std::atomic<bool> jigCancelled{false};
    CancellableHidPlatform cancellable(platform, jigCancelled);
    CancellableClock cancellableClock(clock, jigCancelled);
    RememberingHidPlatform devices(remote ? static_cast<HidPlatform&>(cancellable) : platform);
    TForm1 form(devices, remote ? static_cast<Clock&>(cancellableClock) : clock, dialogs);
    form.Recording().Attach(*records, &devices, [&form] {
        return FindControl<QLineEdit>(form, "edt_BinFile")->text().toStdString();
    });
    if (!connectionNotices.isEmpty()) {
        form.ShowStatusNotice(connectionNotices);
    }
    if (remote) {
        // A child of the window too.
        auto* jigs = new StationRemote(form, jigCancelled);
        try {
            for (const std::string& range : arguments.allowed) {
                if (const std::string warning = jigs->Allow(range); !warning.empty()) {
                    std::fprintf(stderr, "%s\n", warning.c_str());
                }
            }
            if (arguments.idleSeconds) {
                jigs->SetIdleSeconds(*arguments.idleSeconds);
            }
            for (const std::string& port : arguments.remotes) {
                jigs->Open(port);
            }
        } catch (const JigPortError& error) {
            dialogs.Error(nullptr, TForm1::ApplicationTitle, QString::fromStdString(error.what()));
            return 2;
        }
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
