#include "InstantPlugIn.h"
#include "app/StationControls.h"

#include "TForm1.h"
#include "device/DeviceArrivalSource.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>

namespace vrax {

InstantPlugIn::InstantPlugIn(TForm1& form) : QObject(&form), form_(form) {
    setObjectName("InstantPlugIn");
}

InstantPlugIn::~InstantPlugIn() = default;

void InstantPlugIn::DeviceChanged() {
    QMetaObject::invokeMethod(this, &InstantPlugIn::RunTick, Qt::QueuedConnection);
}

bool InstantPlugIn::ListenToSystem() {
    source_ = MakeSystemDeviceArrivalSource();
    if (!source_) {
        watch_ = WatchSystemDeviceArrivals([this] { DeviceChanged(); });
        return watch_ != nullptr;
    }
    notifier_ = new QSocketNotifier(source_->Descriptor(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        if (source_->TakeNotifications()) {
            RunTick();
        }
    });
    return true;
}

void InstantPlugIn::RunTick() {
    // Only while polling runs, as DevTimer's own ticks; a tick already under way drops this one.
    if (FindControl<QTimer>(form_, "DevTimer")->isActive()) {
        form_.RunGuarded([this] { form_.DevTimerTimer(FindControl<QTimer>(form_, "DevTimer")); });
    }
}

} // namespace vrax
