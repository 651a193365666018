#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace vrax {

class DeviceArrivalSource;
class DeviceArrivalWatch;
class TForm1;

// Runs the polling tick at once when a device comes or goes, on top of DevTimer's second;
// the tick's stability rule still decides what the window does.
class InstantPlugIn final : public QObject {
    Q_OBJECT

public:
    explicit InstantPlugIn(TForm1& form);
    ~InstantPlugIn() override;

    // From any thread: the tick runs on the window's thread as soon as its loop gets there.
    void DeviceChanged();
    // Listens to the system's HID notifications; false where it has none.
    bool ListenToSystem();

private:
    void RunTick();

    TForm1& form_;
    std::unique_ptr<DeviceArrivalSource> source_;
    QSocketNotifier* notifier_ = nullptr;
    std::unique_ptr<DeviceArrivalWatch> watch_;
};

} // namespace vrax
