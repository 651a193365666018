#include "app/StationProgram.h"
#include "device/Clock.h"
#include "device/SystemHidPlatform.h"

int main(int argc, char** argv) {
    const std::unique_ptr<vrax::HidPlatform> platform = vrax::MakeSystemHidPlatform();
    vrax::RealClock clock(vrax::RealClock::FineTimer::HeldByCaller);
    return vrax::RunStationProgram(argc, argv, *platform, clock);
}
