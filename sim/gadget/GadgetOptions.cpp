#include "sim/gadget/GadgetOptions.h"

#include <charconv>
#include <stdexcept>
#include <string_view>

namespace vrax {

const char* const GadgetUsage = R"(Usage: vrax-usb-mouse [options]

Plays one mouse on a USB device controller through configfs and FunctionFS, answering with the
same virtual mouse as the simulated bus, until SIGTERM or SIGINT (a clean unplug) or SIGUSR1
(the cable is pulled in the middle of the next feature report transfer). Run as root.

  --family F         kvqm31x, kvqm42xx or kvqm537 (default kvqm31x)
  --variant V        standard, two-interfaces (KVQM42xx: data report on interface 1) or
                     long-report (the mouse collection also has a 32-byte feature report)
  --ids VID:PID:BCD  USB vendor, product and release number in hex (default: the family's)
  --faults LIST      faults as --sim takes them, for example busy=3,corrupt=0x10
  --memory FILE      the initial 2048 bytes (default all FF)
  --dump FILE        the 2048 bytes written here when the mouse goes away
  --unplug-at N      pull the cable during feature report transfer N (from 0)
  --name NAME        the gadget's name in configfs, also its USB serial number string; mice
                     that run at once need names of their own (default vrax-mouse)
  --udc NAME         the device controller (default the first that holds no gadget)
  --configfs DIR     where configfs is mounted (default /sys/kernel/config)
)";

namespace {

std::uint16_t ParseHex16(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (text.empty() || text.size() > 4 || error != std::errc() ||
        end != text.data() + text.size()) {
        throw std::invalid_argument("'" + std::string(text) + "' is not a 4-digit hex number");
    }
    return static_cast<std::uint16_t>(value);
}

HidAttributes ParseIds(std::string_view text) {
    const std::size_t first = text.find(':');
    const std::size_t second = text.find(':', first == std::string_view::npos ? 0 : first + 1);
    if (first == std::string_view::npos || second == std::string_view::npos) {
        throw std::invalid_argument("--ids takes VID:PID:BCD");
    }
    return {ParseHex16(text.substr(0, first)),
            ParseHex16(text.substr(first + 1, second - first - 1)),
            ParseHex16(text.substr(second + 1))};
}

} // namespace

GadgetOptions ParseGadgetOptions(int argc, char** argv) {
    GadgetOptions options;
    std::string faults;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (i + 1 >= argc) {
            throw std::invalid_argument("unknown option or missing value: " + std::string(option));
        }
        const std::string value = argv[++i];
        if (option == "--family") {
            if (!ParseMouseFamily(value, options.family)) {
                throw std::invalid_argument("unknown family '" + value + "'");
            }
            options.familyName = value;
        } else if (option == "--variant") {
            if (value == "standard") {
                options.variant = GadgetVariant::Standard;
            } else if (value == "two-interfaces") {
                options.variant = GadgetVariant::TwoInterfaces;
            } else if (value == "long-report") {
                options.variant = GadgetVariant::LongReport;
            } else {
                throw std::invalid_argument("unknown variant '" + value + "'");
            }
        } else if (option == "--ids") {
            options.ids = ParseIds(value);
        } else if (option == "--faults") {
            faults = value;
        } else if (option == "--memory") {
            options.memoryFile = value;
        } else if (option == "--dump") {
            options.dumpFile = value;
        } else if (option == "--unplug-at") {
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(),
                                                      options.unplugAtTransfer);
            if (error != std::errc() || end != value.data() + value.size() ||
                options.unplugAtTransfer < 0) {
                throw std::invalid_argument("--unplug-at takes a transfer number");
            }
        } else if (option == "--name") {
            options.name = value;
        } else if (option == "--udc") {
            options.udc = value;
        } else if (option == "--configfs") {
            options.configfs = value;
        } else {
            throw std::invalid_argument("unknown option " + std::string(option));
        }
    }
    if (options.variant == GadgetVariant::TwoInterfaces &&
        options.family != MouseFamily::Kvqm42xx) {
        throw std::invalid_argument("the two-interface variant is a KVQM42xx/KVQM537 mouse");
    }
    std::string error;
    if (!ParseMouseFaults(faults, options.family, options.faults, error)) {
        throw std::invalid_argument(error);
    }
    return options;
}

} // namespace vrax
