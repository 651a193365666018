#include "MouseFaults.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>

namespace vrax {

namespace {

constexpr std::array<MouseFaultName, 13> FaultNames{{
    {"silent", "", true, true, "answers nothing"},
    {"not-ready", "", true, false, "status reply without the ready bit"},
    {"unmarked", "", true, false, "status reply marker not 0xAA"},
    {"chip", "XX", true, false, "status reply with chip code XX (hex)"},
    {"busy", "K", true, false, "status 0 for the first K polls of every command"},
    {"refuse-command", "C", true, true, "command C refused"},
    {"refuse-setup", "", true, true, "read and write setup refused"},
    {"refuse-read-chunk", "N", true, true, "data chunk N of every read refused"},
    {"refuse-write-chunk", "N", true, true, "data chunk N of every write refused"},
    {"corrupt", "ADDR", true, true, "byte at ADDR reads back inverted"},
    {"refuse-probe", "", false, true, "probe command 0x0D not delivered"},
    {"no-data", "", false, true, "no interface takes or answers report 0x41"},
    {"drop-data", "N", false, true, "data report N of every read and write not delivered"},
}};

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return text;
}

bool ParseNumber(std::string_view text, bool alwaysHex, int maximum, int& value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (alwaysHex) {
        base = 16;
    }
    int parsed = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed, base);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || parsed < 0 ||
        parsed > maximum) {
        return false;
    }
    value = parsed;
    return true;
}

bool Apply(std::string_view name, std::string_view value, MouseFaults& faults) {
    int number = 0;
    const auto setFlag = [&](bool& flag) {
        flag = true;
        return true;
    };
    const auto setNumber = [&](int& field, bool alwaysHex, int maximum) {
        if (!ParseNumber(value, alwaysHex, maximum, number)) {
            return false;
        }
        field = number;
        return true;
    };
    if (name == "silent") {
        return setFlag(faults.silent);
    }
    if (name == "not-ready") {
        return setFlag(faults.notReady);
    }
    if (name == "unmarked") {
        return setFlag(faults.unmarked);
    }
    if (name == "chip") {
        return setNumber(faults.chipCode, true, 0xFF);
    }
    if (name == "busy") {
        return setNumber(faults.busyPolls, false, 1000000);
    }
    if (name == "refuse-command") {
        return setNumber(faults.refusedCommand, false, 0xFF);
    }
    if (name == "refuse-setup") {
        return setFlag(faults.refuseSetup);
    }
    if (name == "refuse-read-chunk") {
        return setNumber(faults.refusedReadChunk, false, 0xFFFF);
    }
    if (name == "refuse-write-chunk") {
        return setNumber(faults.refusedWriteChunk, false, 0xFFFF);
    }
    if (name == "corrupt") {
        return setNumber(faults.corruptAddress, false, 2047);
    }
    if (name == "refuse-probe") {
        return setFlag(faults.refuseProbe);
    }
    if (name == "no-data") {
        return setFlag(faults.noData);
    }
    if (name == "drop-data") {
        return setNumber(faults.droppedDataReport, false, 0xFFFF);
    }
    return false;
}

std::string Hex(int value, const char* format) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

std::span<const MouseFaultName> MouseFaultNames() {
    return FaultNames;
}

bool ParseMouseFaults(std::string_view text, MouseFamily family, MouseFaults& faults,
                      std::string& error) {
    MouseFaults parsed = faults;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view item = Trim(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        if (item.empty()) {
            continue;
        }
        const std::size_t equals = item.find('=');
        const std::string_view name = Trim(item.substr(0, equals));
        const std::string_view value =
            equals == std::string_view::npos ? std::string_view{} : Trim(item.substr(equals + 1));
        const auto known = std::find_if(FaultNames.begin(), FaultNames.end(),
                                        [&](const MouseFaultName& f) { return name == f.name; });
        if (known == FaultNames.end()) {
            error = "unknown fault '" + std::string(name) + "'";
            return false;
        }
        const bool applies = family == MouseFamily::Kvqm31x ? known->kvqm31x : known->kvqm42xx;
        if (!applies) {
            error = "fault '" + std::string(name) + "' does not apply to " +
                    (family == MouseFamily::Kvqm31x ? "KVQM31X" : "KVQM42xx/KVQM537") + " mice";
            return false;
        }
        const bool takesValue = *known->argument != '\0';
        if (takesValue != (equals != std::string_view::npos)) {
            error = takesValue ? "fault '" + std::string(name) + "' needs a value, as in " +
                                     known->name + "=" + known->argument
                               : "fault '" + std::string(name) + "' takes no value";
            return false;
        }
        if (!Apply(name, value, parsed)) {
            error = "'" + std::string(value) + "' is not a valid value for fault '" +
                    std::string(name) + "'";
            return false;
        }
    }
    faults = parsed;
    return true;
}

std::string FormatMouseFaults(const MouseFaults& faults) {
    std::string text;
    const auto add = [&](const std::string& item) { text += text.empty() ? item : "," + item; };
    if (faults.silent) {
        add("silent");
    }
    if (faults.notReady) {
        add("not-ready");
    }
    if (faults.unmarked) {
        add("unmarked");
    }
    if (faults.chipCode >= 0) {
        add("chip=" + Hex(faults.chipCode, "%02X"));
    }
    if (faults.busyPolls > 0) {
        add("busy=" + std::to_string(faults.busyPolls));
    }
    if (faults.refusedCommand >= 0) {
        add("refuse-command=" + Hex(faults.refusedCommand, "0x%02X"));
    }
    if (faults.refuseSetup) {
        add("refuse-setup");
    }
    if (faults.refusedReadChunk >= 0) {
        add("refuse-read-chunk=" + std::to_string(faults.refusedReadChunk));
    }
    if (faults.refusedWriteChunk >= 0) {
        add("refuse-write-chunk=" + std::to_string(faults.refusedWriteChunk));
    }
    if (faults.corruptAddress >= 0) {
        add("corrupt=" + Hex(faults.corruptAddress, "0x%X"));
    }
    if (faults.refuseProbe) {
        add("refuse-probe");
    }
    if (faults.noData) {
        add("no-data");
    }
    if (faults.droppedDataReport >= 0) {
        add("drop-data=" + std::to_string(faults.droppedDataReport));
    }
    return text;
}

bool ParseMouseFamily(std::string_view text, MouseFamily& family) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "kvqm31x") {
        family = MouseFamily::Kvqm31x;
        return true;
    }
    if (lower == "kvqm42xx" || lower == "kvqm537") {
        family = MouseFamily::Kvqm42xx;
        return true;
    }
    return false;
}

} // namespace vrax
