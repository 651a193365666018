#include "app/StationProgram.h"
#include "device/Clock.h"
#include "device/NullHidPlatform.h"

int main(int argc, char** argv) {
    vrax::NullHidPlatform platform;
    vrax::RealClock clock;
    return vrax::RunStationProgram(argc, argv, platform, clock);
}
