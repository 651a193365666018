#include "MouseIdentity.h"

namespace vrax {

namespace {
constexpr std::uint8_t StatusMarker = 0xAA;
constexpr std::uint8_t ReadyBit = 0x04;

bool IsKnownChip(std::uint8_t code) {
    return code == 0x35 || code == 0x75 || code == 0xFD;
}
} // namespace

MouseMatch MatchImageToMouse(Kvqm31xLink& link, const std::string& loadedTypeName) {
    if (!link.SendCommand(Kvqm31xLink::CmdBegin, 0, 0, 0, 0)) {
        return MouseMatch::NoAnswer;
    }
    if (!link.SendCommand(Kvqm31xLink::CmdStatus, 0, 0, 0, 0)) {
        return MouseMatch::NoAnswer;
    }
    const Kvqm31xLink::Frame& reply = link.LastReply();
    const bool ready = (reply[2] & ReadyBit) != 0;
    const bool recognised = IsKnownChip(reply[3]);
    if (!recognised || loadedTypeName != "KVQM31X") {
        return MouseMatch::Mismatch;
    }
    if (reply[1] != StatusMarker) {
        return MouseMatch::Unmarked;
    }
    if (!ready) {
        return MouseMatch::NotReady;
    }
    return MouseMatch::Match;
}

const char* MouseMatchName(MouseMatch match) {
    switch (match) {
    case MouseMatch::NoAnswer:
        return "no answer";
    case MouseMatch::Mismatch:
        return "mismatch";
    case MouseMatch::Unmarked:
        return "unmarked";
    case MouseMatch::NotReady:
        return "not ready";
    case MouseMatch::Match:
        return "match";
    }
    return "?";
}

void SendClosingCommands(Kvqm31xLink& link) {
    link.SendCommand(Kvqm31xLink::CmdFinish, 0, 0, 0, 0);
    link.SendCommand(Kvqm31xLink::CmdEnd, 0, 0, 0, 0);
}

} // namespace vrax
