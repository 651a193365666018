#pragma once

#include "RecordingView.h"
#include "device/Kvqm31xLink.h"
#include "device/Kvqm42xxLink.h"
#include "programming/StationContext.h"
#include "sim/SimulatedHidBus.h"
#include "sim/VirtualMouse31x.h"
#include "sim/VirtualMouse42xx.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace vrax::testing {

// A station on the simulated bus with a virtual clock, one mouse plugged and opened.
class StationFixture : public ::testing::Test {
protected:
    StationFixture() : bus(clock), station(bus, clock, settings, view) {
        for (int i = 0; i < ImageSize; ++i) {
            image[i] = static_cast<std::uint8_t>((i * 7 + 3) & 0xFF);
        }
    }

    std::shared_ptr<VirtualMouse31x> PlugKvqm31x() {
        auto mouse = std::make_shared<VirtualMouse31x>();
        bus.Plug(mouse);
        EXPECT_TRUE(station.OpenMouse(IcTypeKvqm31x, 0x3C5E, 0x0A31));
        Load("KVQM31X", IcTypeKvqm31x);
        bus.SetTraceEnabled(true);
        return mouse;
    }

    std::shared_ptr<VirtualMouse42xx> PlugKvqm42xx(int icType = IcTypeKvqm42xx) {
        auto mouse = std::make_shared<VirtualMouse42xx>();
        bus.Plug(mouse);
        EXPECT_TRUE(station.OpenMouse(icType, 0x3C5E, 0x0A42));
        Load(icType == IcTypeKvqm42xx ? "KVQM42xx" : "KVQM537", icType);
        settings.format = DataFormat::Byte2K;
        bus.SetTraceEnabled(true);
        return mouse;
    }

    void Load(const std::string& typeName, int icType) {
        settings.icType = icType;
        station.state.LoadedImage = image;
        station.state.LoadedTypeName = typeName;
        station.state.ImageLoaded = true;
    }

    StationContext Context() { return station.Context(); }

    // The command codes of the KVQM31X command frames set, chunk frames left out.
    std::vector<int> Commands31x() const {
        std::vector<int> commands;
        for (const HidTraceEntry& entry : bus.Trace()) {
            if (entry.direction == HidTraceEntry::Direction::Set && entry.bytes[0] == 4 &&
                entry.bytes[1] != Kvqm31xLink::CmdReadNext &&
                entry.bytes[1] != Kvqm31xLink::CmdWriteNext) {
                commands.push_back(entry.bytes[1]);
            }
        }
        return commands;
    }

    // Setup commands as (command, address, length), KVQM31X low byte first.
    struct Setup {
        int command;
        int address;
        int length;
        bool operator==(const Setup&) const = default;
    };
    std::vector<Setup> Setups31x() const {
        std::vector<Setup> setups;
        for (const HidTraceEntry& entry : bus.Trace()) {
            const auto& b = entry.bytes;
            if (entry.direction == HidTraceEntry::Direction::Set && b[0] == 4 &&
                (b[1] == Kvqm31xLink::CmdReadSetup || b[1] == Kvqm31xLink::CmdWriteSetup)) {
                setups.push_back({b[1], b[2] | (b[3] << 8), b[4] | (b[5] << 8)});
            }
        }
        return setups;
    }

    VirtualClock clock;
    SimulatedHidBus bus;
    PlainSettings settings;
    RecordingView view;
    Station station;
    ImageBuffer image{};
};

} // namespace vrax::testing
