#include "app/AnimatedPicture.h"
#include "app/DropDownComboBox.h"
#include "app/ScriptedDialogs.h"
#include "app/Skin.h"
#include "app/StationControls.h"
#include "app/TForm1.h"
#include "app/TFormLoadingUI.h"
#include "device/Clock.h"
#include "device/NullHidPlatform.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QPainter>
#include <QPushButton>

#include <cstdio>

// Renders the station's windows to PNG files for the README and for review.
int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: vrax-screenshots <output folder>\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(folder.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    application.setApplicationDisplayName(vrax::TForm1::ApplicationTitle);
    vrax::Skin::InstallApplicationLook(application);

    vrax::NullHidPlatform platform;
    vrax::VirtualClock clock;
    vrax::ScriptedDialogs dialogs;
    vrax::TForm1 form(platform, clock, dialogs);
    form.SelectLanguage(1033);
    form.show();

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
    const auto settle = [] {
        for (int i = 0; i < 5; ++i) {
            QApplication::processEvents();
        }
    };

    settle();
    save(form.grab(), "main-kvqm31x.png");

    vrax::FindControl<vrax::DropDownComboBox>(form, "cb_ICType")
        ->setCurrentIndex(vrax::IcTypeKvqm42xx);
    form.cb_ICTypeChange(vrax::FindControl<vrax::DropDownComboBox>(form, "cb_ICType"));
    form.ShowDeviceReady();
    vrax::FindControl<QLineEdit>(form, "edt_BinFile")
        ->setText("/home/station/images/KVQM42xx_customer_A.bin");
    form.ShowResult("Write Pass", vrax::ResultColour::Green);
    form.ShowPassCount(17);
    form.EnableJobControls();
    vrax::FindControl<QPushButton>(form, "btn_Load")->setEnabled(false);
    settle();
    save(form.grab(), "main-kvqm42xx.png");

    // The busy window as the operator sees it: its keyed animation over the main window.
    form.ShowBusyWindow();
    vrax::TFormLoadingUI& busy = *vrax::FindControl<vrax::TFormLoadingUI>(form, "FormLoadingUI");
    busy.WaitGif->Animation()->jumpToFrame(3);
    settle();
    QPixmap composed = form.grab();
    {
        QPainter painter(&composed);
        painter.drawPixmap(busy.frameGeometry().topLeft() - form.frameGeometry().topLeft(),
                           busy.grab());
    }
    save(composed, "busy-over-main.png");
    save(busy.grab(), "busy-window.png");

    form.HideBusyWindow();
    vrax::TForm1 chinese(platform, clock, dialogs);
    chinese.SelectLanguage(2052);
    chinese.show();
    settle();
    save(chinese.grab(), "main-chinese-locale.png");

    // A station whose line database connection is not encrypted and verified.
    vrax::TForm1 unprotected(platform, clock, dialogs);
    unprotected.ShowStatusNotice(
        "Line database \"postgresql://station@line-server/vrax_line\": the connection is not "
        "encrypted with a verified server: anyone on the network between here and the server "
        "can read or change the records. Give the address sslmode=verify-full and the server's "
        "CA (sslrootcert).");
    unprotected.show();
    settle();
    save(unprotected.grab(), "main-unprotected-line-database.png");

    // A station a jig drives, the jig named in the header.
    vrax::TForm1 driven(platform, clock, dialogs);
    driven.SelectLanguage(1033);
    driven.ShowDeviceReady();
    driven.ShowJigConnection("Jig 10.1.2.31:50112 on tcp:0.0.0.0:4000");
    driven.ShowResult("Write Pass", vrax::ResultColour::Green);
    driven.ShowPassCount(42);
    driven.show();
    settle();
    save(driven.grab(), "main-jig.png");
    return ok ? 0 : 1;
}
