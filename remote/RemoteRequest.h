#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vrax {

enum class RemoteCommand {
    Auto,
    Verify,
    Factory,
    Status,
    Result,
    Cancel,
    Image,
    Load,
    Ic,
    Select,
    Version,
    Help,
};

// One command line as the jig sent it, its arguments checked.
struct RemoteRequest {
    RemoteCommand command = RemoteCommand::Help;
    std::optional<int> serialNumber; // #AUTO SN=hex
    std::optional<int> waitSeconds;  // #AUTO WAIT=s
    std::string name;                // #LOAD and #IC
    std::vector<int> channels;       // #SELECT, ascending, each once
};

// The request, or the #NACK text for a line that is none.
struct ParsedRequest {
    std::optional<RemoteRequest> request;
    std::string refusal;
};

// Commands start with '#' and take any letter case; arguments are separated by blanks.
ParsedRequest ParseRemoteRequest(std::string_view line);

// The command names in the order #HELP lists them.
const std::vector<std::string>& RemoteCommandNames();

} // namespace vrax
