#include "cli/CommandLineOptions.h"

#include "cli/FieldText.h"
#include "cli/MouseTypeNames.h"
#include "cli/UsageError.h"
#include "programming/DataFormat.h"
#include "records/UtcTimeText.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <map>

namespace vrax {

namespace {

struct OptionName {
    const char* name;
    bool takesValue;
};

constexpr std::array<OptionName, 36> OptionNames{{
    {"--ic", true},           {"--vid", true},
    {"--pid", true},          {"--format", true},
    {"--blocks", true},       {"--ranges", true},
    {"--total", true},        {"--retry", true},
    {"--sleep", true},        {"--factory", true},
    {"--sim", true},          {"--sim-memory", true},
    {"--sim-dump", true},     {"--real-time", false},
    {"--trace", true},        {"--log", true},
    {"--help", false},        {"--records", true},
    {"--since", true},        {"--serial", true},
    {"--csv", false},         {"--summary", false},
    {"--duplicates", false},  {"--serial-start", true},
    {"--gang", true},         {"--max-mice", true},
    {"--sim-mice", true},     {"--sim-faulty-every", true},
    {"--product", true},      {"--report", true},
    {"--remote", true},       {"--images", true},
    {"--remote-allow", true}, {"--remote-idle", true},
    {"--json", false},        {"--acknowledge-restore", false},
}};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t end = text.find(separator); end != std::string::npos;
         end = text.find(separator, start)) {
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

class ArgumentReader {
public:
    explicit ArgumentReader(const std::vector<std::string>& arguments) {
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            const std::string& argument = arguments[i];
            if (argument.size() < 2 || argument[0] != '-') {
                positional.push_back(argument);
                continue;
            }
            const std::size_t equals = argument.find('=');
            const std::string name = argument.substr(0, equals);
            const auto known = std::find_if(OptionNames.begin(), OptionNames.end(),
                                            [&](const OptionName& o) { return name == o.name; });
            if (known == OptionNames.end()) {
                throw UsageError("unknown option '" + name + "'");
            }
            if (known->takesValue && (name == "--remote" || name == "--remote-allow")) {
                (name == "--remote" ? remotes : allowed)
                    .push_back(equals != std::string::npos ? argument.substr(equals + 1)
                               : i + 1 < arguments.size()  ? arguments[i + 1]
                                                           : std::string{});
            }
            if (!known->takesValue) {
                if (equals != std::string::npos) {
                    throw UsageError("option " + name + " takes no value");
                }
                values[name] = "";
            } else if (equals != std::string::npos) {
                values[name] = argument.substr(equals + 1);
            } else if (i + 1 < arguments.size()) {
                values[name] = arguments[++i];
            } else {
                throw UsageError("option " + name + " needs a value");
            }
        }
    }

    bool Has(const std::string& name) const { return values.count(name) > 0; }
    std::string Value(const std::string& name) const {
        const auto found = values.find(name);
        return found == values.end() ? std::string{} : found->second;
    }

    std::map<std::string, std::string> values;
    std::vector<std::string> positional;
    std::vector<std::string> remotes; // every --remote, in order
    std::vector<std::string> allowed; // every --remote-allow
};

void ReadCommand(const std::vector<std::string>& positional, CommandLineOptions& options) {
    if (positional.empty()) {
        throw UsageError(
            "no command given (list, write, verify, read, factory-read, records, line or serve)");
    }
    static const std::map<std::string, std::pair<Command, const char*>> commands = {
        {"list", {Command::List, nullptr}},
        {"write", {Command::Write, "IMAGE.bin"}},
        {"verify", {Command::Verify, "IMAGE.bin"}},
        {"read", {Command::Read, "OUT.bin"}},
        {"factory-read", {Command::FactoryRead, nullptr}},
        {"records", {Command::Records, nullptr}},
        {"line", {Command::Line, "IMAGE.bin"}},
        {"serve", {Command::Serve, nullptr}},
    };
    const auto found = commands.find(positional[0]);
    if (found == commands.end()) {
        throw UsageError("unknown command '" + positional[0] + "'");
    }
    options.command = found->second.first;
    if (options.command == Command::Records && positional.size() > 1) {
        if (positional[1] == "approvals") {
            options.report = RecordsReport::Approvals;
            if (positional.size() > 2) {
                throw UsageError("unexpected argument '" + positional[2] + "' after approvals");
            }
            return;
        }
        if (positional[1] == "approve") {
            options.command = Command::Approve;
            if (positional.size() < 3 || positional[2].empty()) {
                throw UsageError("records approve needs IMAGE.bin");
            }
            if (positional.size() > 3) {
                throw UsageError("unexpected argument '" + positional[3] + "' after " +
                                 positional[2]);
            }
            options.path = positional[2];
            return;
        }
    }
    const char* argument = found->second.second;
    if (options.command == Command::Serve) {
        // The image is optional: a jig may #LOAD one.
        if (positional.size() > 2) {
            throw UsageError("unexpected argument '" + positional[2] + "' after " + positional[1]);
        }
        options.path = positional.size() > 1 ? positional[1] : std::string{};
        return;
    }
    const std::size_t wanted = argument == nullptr ? 1 : 2;
    if (positional.size() > wanted) {
        throw UsageError("unexpected argument '" + positional[wanted] + "' after " +
                         positional[wanted - 1]);
    }
    if (argument != nullptr) {
        if (positional.size() < 2 || positional[1].empty()) {
            throw UsageError(positional[0] + " needs " + argument);
        }
        options.path = positional[1];
    }
}

SimulatedMouseOptions ReadSimulation(const ArgumentReader& reader) {
    SimulatedMouseOptions simulation;
    const std::string text = reader.Value("--sim");
    const std::size_t colon = text.find(':');
    const std::string familyText = text.substr(0, colon);
    if (!ParseMouseFamily(familyText, simulation.family)) {
        throw UsageError("--sim: unknown mouse family '" + familyText +
                         "' (kvqm31x, kvqm42xx or kvqm537)");
    }
    if (simulation.family == MouseFamily::Kvqm31x) {
        simulation.icType = IcTypeKvqm31x;
    } else {
        simulation.icType = Lower(familyText) == "kvqm537" ? IcTypeKvqm537 : IcTypeKvqm42xx;
    }
    if (colon != std::string::npos) {
        std::string error;
        if (!ParseMouseFaults(std::string_view(text).substr(colon + 1), simulation.family,
                              simulation.faults, error)) {
            throw UsageError("--sim: " + error);
        }
    }
    simulation.memoryPath = reader.Value("--sim-memory");
    simulation.dumpPath = reader.Value("--sim-dump");
    simulation.realTime = reader.Has("--real-time");
    return simulation;
}

int ReadIcType(const std::string& text) {
    const MouseType* type = FindMouseTypeByName(text);
    if (type == nullptr) {
        throw UsageError("--ic: unknown IC type '" + text + "' (" + IcTypeNameList() + ")");
    }
    return type->icType;
}

DataFormat ReadFormat(const std::string& text, int icType) {
    const std::string name = Lower(text);
    if (name == "2k") {
        return DataFormat::Byte2K;
    }
    if (name == "256") {
        return DataFormat::Byte256;
    }
    if (name == "custom") {
        if (!FindMouseType(icType)->jobs.customRanges) {
            throw UsageError("--format custom: only the " +
                             TypeNamesWith(&JobTraits::customRanges) +
                             " family offers the Custom format");
        }
        return DataFormat::Custom;
    }
    throw UsageError("--format: unknown data format '" + text + "' (2k, 256 or custom)");
}

int ListPosition(const std::string& field, const std::string& text, char first, char last) {
    if (text.size() != 1 || std::toupper(static_cast<unsigned char>(text[0])) < first ||
        std::toupper(static_cast<unsigned char>(text[0])) > last) {
        throw UsageError("--factory: " + field + " '" + text + "' is not one of " +
                         std::string(1, first) + ".." + std::string(1, last));
    }
    return std::toupper(static_cast<unsigned char>(text[0])) - first;
}

void ReadFactory(const std::string& text, PlainSettings& settings) {
    const std::vector<std::string> fields = Split(text, ',');
    if (fields.size() != 6) {
        throw UsageError("--factory: '" + text +
                         "' is not TYPE,DATE,SN,FACTORY,LINE,STATION (six fields)");
    }
    settings.factoryType = HexadecimalFieldValue("--factory TYPE", fields[0], 4);
    settings.factoryDate = HexadecimalFieldValue("--factory DATE", fields[1], 8);
    settings.factoryNumber = HexadecimalFieldValue("--factory SN", fields[2], 6);
    settings.factoryIndex = ListPosition("FACTORY", fields[3], '1', '8');
    settings.lineIndex = ListPosition("LINE", fields[4], 'A', 'Z');
    settings.stationIndex = ListPosition("STATION", fields[5], '1', '8');
    settings.writeProductId = true;
}

// A range list that does not convert is refused before any mouse is looked for, with the
// message the window shows when its job meets it.
void CheckRanges(const std::string& text) {
    try {
        ForEachCustomRange(text, [](int, int) { return true; });
    } catch (const StationError& error) {
        throw UsageError(std::string("--ranges: ") + error.what());
    }
}

long PositiveCount(const std::string& option, const std::string& text) {
    const int value = DecimalFieldValue(option, text, 9);
    if (value < 1) {
        throw UsageError(option + ": " + text + " is not a count of 1 or more");
    }
    return value;
}

void Only(const ArgumentReader& reader, Command command, Command wanted,
          std::initializer_list<const char*> names, const char* what) {
    if (command == wanted) {
        return;
    }
    for (const char* name : names) {
        if (reader.Has(name)) {
            throw UsageError(std::string(name) + " belongs to the " + what + " command");
        }
    }
}

void ReadApprovals(const ArgumentReader& reader, CommandLineOptions& options) {
    const bool approvals =
        options.command == Command::Records && options.report == RecordsReport::Approvals;
    if (options.command == Command::Write || options.command == Command::Line ||
        options.command == Command::Serve) {
        // The product type whose approved images the write may use, for a write that stamps
        // no factory record too.
        if (reader.Has("--product")) {
            const int type = HexadecimalFieldValue("--product", reader.Value("--product"), 4);
            if (reader.Has("--factory") && type != options.settings.factoryType) {
                throw UsageError("--product " + reader.Value("--product") +
                                 " differs from the --factory TYPE");
            }
            options.settings.factoryType = type;
        }
        return;
    }
    if (options.command != Command::Approve && !approvals) {
        if (reader.Has("--product")) {
            throw UsageError("--product belongs to write, line, records approve and records "
                             "approvals");
        }
        return;
    }
    if (reader.Has("--product")) {
        options.productType = HexadecimalFieldValue("--product", reader.Value("--product"), 4);
    } else if (!approvals) {
        throw UsageError("records approve needs --product HEX (the product type, as the "
                         "factory fields' Type)");
    }
    for (const char* name : {"--since", "--serial", "--summary", "--duplicates"}) {
        if (reader.Has(name)) {
            throw UsageError(std::string(name) + " is not for " +
                             (approvals ? "records approvals" : "records approve"));
        }
    }
    if (approvals && reader.Has("--csv")) {
        options.report = RecordsReport::ApprovalsCsv;
    } else if (!approvals && reader.Has("--csv")) {
        throw UsageError("--csv is not for records approve");
    }
}

void ReadServe(const ArgumentReader& reader, CommandLineOptions& options) {
    if (options.command != Command::Serve) {
        for (const char* name : {"--remote", "--images", "--remote-allow", "--remote-idle"}) {
            if (reader.Has(name)) {
                throw UsageError(std::string(name) + " belongs to the serve command");
            }
        }
        return;
    }
    options.remotes = reader.remotes;
    if (options.remotes.empty()) {
        throw UsageError("serve needs --remote tcp:ADDRESS:PORT or --remote serial:DEVICE,BAUD");
    }
    options.remoteAllowed = reader.allowed;
    if (reader.Has("--remote-idle")) {
        const std::string text = reader.Value("--remote-idle");
        int seconds = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
        if (text.empty() || error != std::errc{} || end != text.data() + text.size() ||
            seconds < 1) {
            throw UsageError("--remote-idle needs a number of seconds, 1 or more");
        }
        options.remoteIdleSeconds = seconds;
    }
    for (const char* name : {"--max-mice", "--sim-mice", "--trace", "--sim-memory", "--sim-dump"}) {
        if (reader.Has(name)) {
            throw UsageError(std::string(name) + " is not for serve");
        }
    }
    if (reader.Has("--images")) {
        options.imageFolder = reader.Value("--images");
        if (options.imageFolder.empty()) {
            throw UsageError("--images needs a folder");
        }
    }
}

void ReadRecordsAndLine(const ArgumentReader& reader, CommandLineOptions& options) {
    ReadServe(reader, options);
    // serve takes the line's gang and serial numbers too.
    if (options.command != Command::Serve) {
        Only(reader, options.command, Command::Line,
             {"--serial-start", "--gang", "--max-mice", "--sim-mice", "--sim-faulty-every"},
             "line");
    }
    ReadApprovals(reader, options);
    if (options.command == Command::Approve ||
        (options.command == Command::Records && (options.report == RecordsReport::Approvals ||
                                                 options.report == RecordsReport::ApprovalsCsv))) {
        if (options.command == Command::Records && options.recordsChoice == "none") {
            throw UsageError("records: --records none keeps no records to show");
        }
        return;
    }
    Only(reader, options.command, Command::Records,
         {"--since", "--csv", "--summary", "--duplicates", "--report", "--acknowledge-restore"},
         "records");
    if (options.command != Command::Records && options.command != Command::Line &&
        options.command != Command::Serve && reader.Has("--serial")) {
        throw UsageError("--serial belongs to the records, line and serve commands");
    }
    if (options.command == Command::Records) {
        if (options.recordsChoice == "none") {
            throw UsageError("records: --records none keeps no records to show");
        }
        int reports = 0;
        if (reader.Has("--csv")) {
            options.report = RecordsReport::Csv;
            ++reports;
        }
        if (reader.Has("--summary")) {
            options.report = RecordsReport::Summary;
            ++reports;
        }
        if (reader.Has("--duplicates")) {
            options.report = RecordsReport::Duplicates;
            ++reports;
        }
        if (reader.Has("--report")) {
            options.report = RecordsReport::LinePage;
            options.reportPath = reader.Value("--report");
            if (options.reportPath.empty()) {
                throw UsageError("--report needs a file name");
            }
            ++reports;
        }
        if (reader.Has("--acknowledge-restore")) {
            options.report = RecordsReport::AcknowledgeRestore;
            ++reports;
        }
        if (reports > 1) {
            throw UsageError("records: choose one of --csv, --summary, --duplicates, --report and "
                             "--acknowledge-restore");
        }
        if (reader.Has("--since")) {
            const std::optional<std::string> since = UtcTimeOfText(reader.Value("--since"));
            if (!since) {
                throw UsageError("--since: '" + reader.Value("--since") +
                                 "' is not a date or time (2026-01-31, 2026-01-31T08:00, "
                                 "\"2026-01-31 08:00:30\", 2026-01-31T08:00+01:00)");
            }
            options.since = *since;
        }
        if (reader.Has("--serial")) {
            options.serialFilter = HexadecimalFieldValue("--serial", reader.Value("--serial"), 6);
        }
        return;
    }
    if (options.command != Command::Line && options.command != Command::Serve) {
        return;
    }
    if (reader.Has("--serial")) {
        if (Lower(reader.Value("--serial")) != "next") {
            throw UsageError("--serial: the line takes 'next' (serial numbers from the records)");
        }
        if (!options.settings.writeProductId ||
            !FindMouseType(options.settings.icType)->jobs.checkedWrite) {
            throw UsageError("--serial next needs --factory (Write Product ID, " +
                             TypeNamesWith(&JobTraits::checkedWrite) + ")");
        }
        if (options.recordsChoice == "none") {
            throw UsageError("--serial next takes serial numbers from the records: not with "
                             "--records none");
        }
        options.serialFromRecords = true;
    }
    if (reader.Has("--serial-start")) {
        if (!options.serialFromRecords) {
            throw UsageError("--serial-start needs --serial next");
        }
        options.serialStart =
            HexadecimalFieldValue("--serial-start", reader.Value("--serial-start"), 6);
    }
    if (reader.Has("--gang")) {
        options.gang = static_cast<int>(PositiveCount("--gang", reader.Value("--gang")));
        if (options.gang > 64) {
            throw UsageError("--gang: at most 64 mice at once");
        }
    }
    if (reader.Has("--max-mice")) {
        options.maxMice = PositiveCount("--max-mice", reader.Value("--max-mice"));
    }
    if (reader.Has("--sim-mice")) {
        if (!options.simulation) {
            throw UsageError("--sim-mice needs --sim");
        }
        options.simulatedMice =
            static_cast<int>(PositiveCount("--sim-mice", reader.Value("--sim-mice")));
    } else if (options.simulation) {
        options.simulatedMice = options.command == Command::Serve ? options.gang : 1;
    }
    if (reader.Has("--sim-faulty-every")) {
        options.simulatedFaultyEvery = static_cast<int>(
            PositiveCount("--sim-faulty-every", reader.Value("--sim-faulty-every")));
    }
    for (const char* name : {"--trace", "--sim-memory", "--sim-dump"}) {
        if (options.command == Command::Line && reader.Has(name)) {
            throw UsageError(std::string(name) + " is not for the line (one mouse at a time: "
                                                 "use write)");
        }
    }
}

} // namespace

const char* CommandName(Command command) {
    switch (command) {
    case Command::Help:
        return "help";
    case Command::List:
        return "list";
    case Command::Write:
        return "write";
    case Command::Verify:
        return "verify";
    case Command::Read:
        return "read";
    case Command::FactoryRead:
        return "factory-read";
    case Command::Records:
        return "records";
    case Command::Line:
        return "line";
    case Command::Approve:
        return "records approve";
    case Command::Serve:
        return "serve";
    }
    return "?";
}

CommandLineOptions ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLineOptions options;
    for (const std::string& argument : arguments) {
        if (argument == "-h" || argument == "--help") {
            return options;
        }
    }
    const ArgumentReader reader(arguments);
    ReadCommand(reader.positional, options);

    if (reader.Has("--sim")) {
        options.simulation = ReadSimulation(reader);
    } else {
        for (const char* name : {"--sim-memory", "--sim-dump", "--real-time"}) {
            if (reader.Has(name)) {
                throw UsageError(std::string(name) + " needs --sim");
            }
        }
    }

    PlainSettings& settings = options.settings;
    if (reader.Has("--ic")) {
        settings.icType = ReadIcType(reader.Value("--ic"));
    } else if (options.simulation) {
        settings.icType = options.simulation->icType;
    }
    const MouseType& type = *FindMouseType(settings.icType);
    options.vendorId = reader.Has("--vid")
                           ? HexadecimalFieldValue("--vid", reader.Value("--vid"), 4)
                           : type.vendorId;
    options.productId = reader.Has("--pid")
                            ? HexadecimalFieldValue("--pid", reader.Value("--pid"), 4)
                            : type.productId;

    settings.format = reader.Has("--format")
                          ? ReadFormat(reader.Value("--format"), settings.icType)
                          : (type.jobs.customRanges ? DataFormat::Custom : DataFormat::Byte2K);
    if (reader.Has("--blocks")) {
        const int blocks = DecimalFieldValue("--blocks", reader.Value("--blocks"), 4);
        settings.blockCount = ClampedBlockCount(blocks).value_or(blocks);
    }
    if (reader.Has("--ranges")) {
        settings.customRanges = reader.Value("--ranges");
    }
    if (reader.Has("--total")) {
        settings.totalTimes = DecimalFieldValue("--total", reader.Value("--total"), 4);
    }
    if (reader.Has("--retry")) {
        settings.retryTimes = DecimalFieldValue("--retry", reader.Value("--retry"), 4);
    }
    if (reader.Has("--sleep")) {
        settings.sleepTime = DecimalFieldValue("--sleep", reader.Value("--sleep"), 3);
    }
    if (reader.Has("--factory")) {
        if (!type.jobs.checkedWrite &&
            (options.command == Command::Write || options.command == Command::Line ||
             options.command == Command::Serve)) {
            throw UsageError("--factory: the " + TypeNamesWith(&JobTraits::checkedWrite, false) +
                             " write job writes no factory record");
        }
        ReadFactory(reader.Value("--factory"), settings);
    }
    if ((options.command == Command::Write || options.command == Command::Line ||
         options.command == Command::Serve) &&
        settings.format == DataFormat::Custom) {
        CheckRanges(settings.customRanges);
    }
    for (const char* name : {"--trace", "--log", "--sim-memory", "--sim-dump"}) {
        if (reader.Has(name) && reader.Value(name).empty()) {
            throw UsageError(std::string(name) + " needs a file name");
        }
    }
    if (reader.Has("--json")) {
        // The jobs' commands: the others print reports or speak the jig protocol.
        if (options.command != Command::Write && options.command != Command::Verify &&
            options.command != Command::Read && options.command != Command::FactoryRead &&
            options.command != Command::Line) {
            throw UsageError("--json belongs to the write, verify, read, factory-read and line "
                             "commands");
        }
        options.json = true;
    }
    options.tracePath = reader.Value("--trace");
    options.logPath = reader.Value("--log");
    if (reader.Has("--records")) {
        options.recordsChoice = reader.Value("--records");
        if (options.recordsChoice.empty()) {
            throw UsageError("--records needs a file name or none");
        }
    }
    ReadRecordsAndLine(reader, options);
    return options;
}

} // namespace vrax
