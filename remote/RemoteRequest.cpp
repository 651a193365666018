#include "remote/RemoteRequest.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace vrax {

namespace {

struct Named {
    const char* name;
    RemoteCommand command;
};

constexpr Named Commands[] = {
    {"AUTO", RemoteCommand::Auto},       {"VERIFY", RemoteCommand::Verify},
    {"FACTORY", RemoteCommand::Factory}, {"STATUS", RemoteCommand::Status},
    {"RESULT", RemoteCommand::Result},   {"CANCEL", RemoteCommand::Cancel},
    {"IMAGE", RemoteCommand::Image},     {"LOAD", RemoteCommand::Load},
    {"IC", RemoteCommand::Ic},           {"SELECT", RemoteCommand::Select},
    {"VERSION", RemoteCommand::Version}, {"HELP", RemoteCommand::Help},
};

constexpr int LargestSerialNumber = 0xFFFFFF;
constexpr int LongestWaitSeconds = 3600;

std::string Upper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return upper;
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) {
            ++at;
        }
        std::size_t end = at;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t') {
            ++end;
        }
        if (end > at) {
            words.push_back(line.substr(at, end - at));
        }
        at = end;
    }
    return words;
}

// The whole text as a number in the base, or nothing.
std::optional<int> Number(std::string_view text, int base, int largest) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < 0 ||
        value > largest) {
        return std::nullopt;
    }
    return value;
}

ParsedRequest Refused(std::string text) {
    return {std::nullopt, std::move(text)};
}

ParsedRequest AutoArguments(RemoteRequest request, const std::vector<std::string_view>& words) {
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::size_t equals = words[i].find('=');
        const std::string key = Upper(words[i].substr(0, equals));
        const std::string_view value =
            equals == std::string_view::npos ? std::string_view{} : words[i].substr(equals + 1);
        if (key == "SN") {
            if (request.serialNumber) {
                return Refused("SN GIVEN TWICE");
            }
            request.serialNumber = Number(value, 16, LargestSerialNumber);
            if (!request.serialNumber || value.size() > 6) {
                return Refused("SN MUST BE 1 TO 6 HEX DIGITS");
            }
        } else if (key == "WAIT") {
            if (request.waitSeconds) {
                return Refused("WAIT GIVEN TWICE");
            }
            request.waitSeconds = Number(value, 10, LongestWaitSeconds);
            if (!request.waitSeconds) {
                return Refused("WAIT MUST BE 0 TO 3600 SECONDS");
            }
        } else {
            return Refused("UNKNOWN ARGUMENT " + Upper(words[i]));
        }
    }
    return {std::move(request), {}};
}

// A file of the station's image folder: a name, never a path.
bool BareFileName(std::string_view name) {
    return name != "." && name != ".." && name.find_first_of("/\\:") == std::string_view::npos;
}

ParsedRequest SelectArguments(RemoteRequest request, const std::vector<std::string_view>& words) {
    std::string list;
    for (std::size_t i = 1; i < words.size(); ++i) {
        list += words[i];
    }
    std::size_t at = 0;
    while (!list.empty() && at <= list.size()) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        const std::optional<int> channel =
            Number(std::string_view(list).substr(at, comma - at), 10, 999);
        if (!channel || *channel == 0) {
            return Refused("SELECT TAKES CHANNEL NUMBERS LIKE 1,3");
        }
        request.channels.push_back(*channel);
        at = comma + 1;
    }
    if (request.channels.empty()) {
        return Refused("SELECT TAKES CHANNEL NUMBERS LIKE 1,3");
    }
    std::sort(request.channels.begin(), request.channels.end());
    request.channels.erase(std::unique(request.channels.begin(), request.channels.end()),
                           request.channels.end());
    return {std::move(request), {}};
}

} // namespace

ParsedRequest ParseRemoteRequest(std::string_view line) {
    const std::vector<std::string_view> words = Words(line);
    if (words.empty()) {
        return Refused("EMPTY LINE");
    }
    if (words[0].front() != '#') {
        return Refused("COMMANDS START WITH #");
    }
    const std::string name = Upper(words[0].substr(1));
    const auto named = std::find_if(std::begin(Commands), std::end(Commands),
                                    [&name](const Named& n) { return name == n.name; });
    if (named == std::end(Commands)) {
        return Refused("UNKNOWN COMMAND #" + name);
    }
    RemoteRequest request;
    request.command = named->command;
    switch (request.command) {
    case RemoteCommand::Auto:
        return AutoArguments(std::move(request), words);
    case RemoteCommand::Select:
        return SelectArguments(std::move(request), words);
    case RemoteCommand::Load:
    case RemoteCommand::Ic:
        if (words.size() != 2) {
            return Refused("#" + name + " TAKES ONE NAME");
        }
        request.name = std::string(words[1]);
        if (request.command == RemoteCommand::Load && !BareFileName(request.name)) {
            return Refused("#LOAD TAKES A FILE NAME OF THE IMAGE FOLDER, NOT A PATH");
        }
        return {std::move(request), {}};
    default:
        if (words.size() != 1) {
            return Refused("#" + name + " TAKES NO ARGUMENT");
        }
        return {std::move(request), {}};
    }
}

const std::vector<std::string>& RemoteCommandNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (const Named& named : Commands) {
            all.push_back(std::string("#") + named.name);
        }
        return all;
    }();
    return names;
}

} // namespace vrax
