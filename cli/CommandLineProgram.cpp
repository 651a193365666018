#include "cli/CommandLineProgram.h"

#include "cli/CommandLineView.h"
#include "cli/HelpText.h"
#include "cli/HostSystem.h"
#include "cli/JobEvents.h"
#include "cli/ProductionLine.h"
#include "cli/ProductionLog.h"
#include "cli/RemoteServer.h"
#include "cli/TracingHidPlatform.h"
#include "device/ErrorText.h"
#include "device/HexText.h"
#include "device/NullHidPlatform.h"
#include "device/RememberingHidPlatform.h"
#include "device/SystemHidPlatform.h"
#include "host/HostName.h"
#include "host/UserName.h"
#include "operations/OperationRunner.h"
#include "programming/BinImage.h"
#include "programming/DataFormat.h"
#include "programming/FactoryRecord.h"
#include "programming/StationContext.h"
#include "programming/StationError.h"
#include "records/RecordsLocation.h"
#include "records/Sha256.h"
#include "records/Utf8Text.h"
#include "records/reports/ApprovalsReport.h"
#include "records/reports/LineReport.h"
#include "records/reports/RecordsReport.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>

namespace vrax {

namespace {

constexpr std::uint8_t TextNoFindMouse = 0;
constexpr std::uint8_t TextMouseReady = 1;
constexpr std::uint8_t TextFactoryFieldsFirst = 31; // "Product" .. "Station"

const char* ProgressLabel(Command command) {
    switch (command) {
    case Command::Write:
        return "Writing";
    case Command::Verify:
        return "Verifying";
    case Command::Read:
        return "Reading";
    default:
        return "";
    }
}

Job JobOfCommand(Command command) {
    switch (command) {
    case Command::Verify:
        return Job::Verify;
    case Command::Read:
        return Job::Save;
    case Command::FactoryRead:
        return Job::FactoryRead;
    default:
        return Job::Write;
    }
}

// The factory fields as the window's SetValue and lists would show them, in its order.
std::vector<std::string> FactoryFieldValues(const FactoryFields& fields) {
    const auto number = [](int value) { return value <= 0 ? std::string{} : HexText(value, 1); };
    const auto item = [](int position, char first, int count) {
        return position >= 0 && position < count
                   ? std::string(1, static_cast<char>(first + position))
                   : std::string{};
    };
    return {
        number(fields.productType),      number(fields.date),
        number(fields.serialNumber),     item(fields.factoryIndex, '1', 8),
        item(fields.lineIndex, 'A', 26), item(fields.stationIndex, '1', 8),
    };
}

std::vector<std::string> FactoryFieldLines(const FactoryFields& fields, const Lang& lang) {
    const std::vector<std::string> values = FactoryFieldValues(fields);
    std::vector<std::string> lines;
    for (int field = 0; field < 6; ++field) {
        const std::string label =
            lang.Text(static_cast<std::uint8_t>(TextFactoryFieldsFirst + field));
        lines.push_back(label + ": " + values[field]);
    }
    return lines;
}

// The window's fields beyond the serial number and type, which every end carries.
JobEvents::Fields FactoryFieldEvents(const FactoryFields& fields) {
    const std::vector<std::string> values = FactoryFieldValues(fields);
    return {
        {"date", values[1]}, {"factory", values[3]}, {"line", values[4]}, {"station", values[5]}};
}

// The store as the report names it: the default file's path, a line database's address without
// the password it may carry.
std::string StoreShownName(const std::string& choice) {
    if (choice.empty()) {
        return DefaultRecordsPath();
    }
    return IsLineDatabaseAddress(choice) ? ShownAddress(choice) : choice;
}

void WriteLineReport(const std::string& path, const std::string& html) {
    errno = 0;
    std::ofstream file(path, std::ios::out | std::ios::binary | std::ios::trunc);
    if (file) {
        file << html;
        file.close();
    }
    if (!file) {
        const int cause = errno ? errno : EIO;
        throw FileError("Cannot create file \"" + ExpandFileName(path) + "\". " + ErrorText(cause));
    }
}

extern "C" void StopTheLine(int) {
    ProductionLine::RequestStop();
}

} // namespace

CommandLineProgram::CommandLineProgram(const CommandLineOptions& options, std::ostream& out,
                                       std::ostream& err, bool progressBar)
    : options_(options), out_(out), err_(err), progress_(err, progressBar) {
    if (options_.json) {
        events_ = std::make_unique<JobEvents>(out_);
    }
    if (options_.simulation && !options_.simulation->realTime) {
        clock_ = std::make_unique<VirtualClock>();
    } else {
        clock_ = std::make_unique<RealClock>();
    }
}

int CommandLineProgram::Run() {
    std::unique_ptr<ProductionLog> log;
    Outcome outcome;
    try {
        if (!options_.logPath.empty() && options_.command != Command::List) {
            log = std::make_unique<ProductionLog>(options_.logPath);
            log_ = log.get();
        }
        if (options_.command != Command::List) {
            RecordsAccess access = RecordsAccess::Station;
            if (options_.command == Command::Records) {
                access = options_.report == RecordsReport::AcknowledgeRestore
                             ? RecordsAccess::Approval // the owner's role, no outbox
                             : RecordsAccess::Report;
            } else if (options_.command == Command::Approve) {
                access = RecordsAccess::Approval;
            }
            records_ = OpenProductionRecords(options_.recordsChoice, access);
        }
        outcome = Execute();
    } catch (const StationError& error) {
        progress_.Finish();
        outcome = BadInput(error.what());
    }
    if (simulated_ && !simulated_->Bus().PluggedDevices().empty() &&
        !options_.simulation->dumpPath.empty()) {
        try {
            simulated_->Dump(options_.simulation->dumpPath);
        } catch (const StationError& error) {
            outcome.error +=
                outcome.error.empty() ? error.what() : std::string("\n") + error.what();
            outcome.exitCode = ExitBadInput;
        }
    }
    if (trace_.is_open()) {
        trace_.close();
        if (!trace_) {
            outcome.error += "Cannot write file \"" + ExpandFileName(options_.tracePath) + "\".";
            outcome.exitCode = ExitBadInput;
        }
    }

    if (!outcome.reported) {
        // Standard output carries --json's objects alone.
        std::ostream& lines = events_ ? err_ : out_;
        for (const std::string& line : outcome.lines) {
            lines << line << '\n';
        }
        lines << std::flush;
    }
    if (!outcome.error.empty()) {
        err_ << outcome.error << '\n';
    }
    if (log && options_.command != Command::Records && options_.command != Command::Line &&
        options_.command != Command::Approve && options_.command != Command::Serve) {
        std::string verdict = outcome.verdict;
        if (verdict.empty()) {
            verdict = outcome.lines.empty() ? outcome.error : outcome.lines.back();
        }
        try {
            log->Append(CommandName(options_.command), IcTypeName(options_.settings.icType),
                        outcome.serialNumber, verdict);
        } catch (const StationError& error) {
            err_ << error.what() << '\n';
            return ExitBadInput;
        }
    }
    return outcome.exitCode;
}

CommandLineProgram::Outcome CommandLineProgram::Execute() {
    if (options_.command == Command::Records) {
        return ShowRecords();
    }
    if (options_.command == Command::Line) {
        return RunLine();
    }
    if (options_.command == Command::Approve) {
        return Approve();
    }
    if (options_.command == Command::Serve) {
        RemoteServer server(options_, *records_, out_, err_);
        Outcome outcome;
        outcome.exitCode = server.Run();
        return outcome;
    }
    HidPlatform* devices = nullptr;
    if (options_.simulation) {
        simulated_ = std::make_unique<SimulatedMouse>(*options_.simulation, *clock_);
        devices = &simulated_->Bus();
    } else {
        hardware_ = MakeSystemHidPlatform();
        devices = hardware_.get();
    }
    if (!options_.tracePath.empty()) {
        errno = 0;
        trace_.open(options_.tracePath, std::ios::out | std::ios::binary | std::ios::trunc);
        if (!trace_) {
            throw FileError("Cannot create file \"" + ExpandFileName(options_.tracePath) + "\". " +
                            ErrorText(errno ? errno : EIO));
        }
    }
    const std::chrono::microseconds origin = clock_->Now();
    if (simulated_) {
        simulated_->Plug();
    }

    TracingHidPlatform platform(*devices, *clock_, origin, trace_.is_open() ? &trace_ : nullptr);
    RememberingHidPlatform remembering(platform);
    CommandLineView view(progress_);
    Station station(remembering, *clock_, options_.settings, view);
    if (options_.command == Command::List) {
        return List(station, platform);
    }

    switch (options_.command) {
    case Command::Write:
    case Command::Verify:
        if (std::optional<Outcome> refused = LoadImage(station, view)) {
            return *refused;
        }
        imageFile_ = options_.recordsChoice == "none" ? ExpandFileName(options_.path)
                                                      : Utf8FileName(ExpandFileName(options_.path));
        break;
    case Command::Read:
    case Command::FactoryRead:
        // These take no image, yet on KVQM31X they run the identity check against the type
        // an image was loaded for; here that is the selected type, so the check still tests
        // the mouse's chip code, marker and ready bit.
        station.state.LoadedTypeName = IcTypeName(options_.settings.icType);
        break;
    default:
        break;
    }
    if (!OpenMouse(station, platform)) {
        Outcome missing;
        missing.exitCode = ExitNoMouse;
        missing.lines.push_back(station.lang.Text(TextNoFindMouse));
        if (events_) {
            events_->EndWithout(JobOfCommand(options_.command), "", missing.lines.back());
            missing.reported = true;
        }
        return missing;
    }
    return RunOperation(station, view, remembering);
}

CommandLineProgram::Outcome CommandLineProgram::List(Station& station, HidPlatform& platform) {
    Outcome outcome;
    for (const std::string& path : platform.EnumerateInterfaces()) {
        const HidHandle handle = platform.Open(path);
        if (handle == InvalidHandle) {
            outcome.lines.push_back(path + "  cannot be opened");
            continue;
        }
        HidAttributes attributes;
        const bool known = platform.GetAttributes(handle, attributes);
        // One length per top-level collection: a hidraw node carries them all.
        std::string reportLengths;
        for (const std::uint16_t length : platform.GetFeatureReportLengths(handle)) {
            reportLengths += (reportLengths.empty() ? "" : "/") + std::to_string(length);
        }
        platform.Close(handle);
        if (!known) {
            outcome.lines.push_back(path + "  attributes unreadable");
            continue;
        }
        outcome.lines.push_back(path + "  VID " + HexText(attributes.vendorId, 4) + "  PID " +
                                HexText(attributes.productId, 4) + "  release " +
                                HexText(attributes.versionNumber, 4) + "  feature report " +
                                (reportLengths.empty() ? "0" : reportLengths));
    }
    const bool found = OpenMouse(station, platform);
    // A family whose open succeeds on the IDs alone (the KVQM42xx's) may hold no handle: with
    // neither probe answered the window still shows "Mouse Ready", yet no report can reach
    // the mouse.
    if (found && !station.links.For(options_.settings.icType)->IsOpen()) {
        outcome.lines.push_back("No verdict: the mouse answered neither probe");
        outcome.exitCode = ExitFailed;
        return outcome;
    }
    outcome.lines.push_back(station.lang.Text(found ? TextMouseReady : TextNoFindMouse));
    outcome.exitCode = found ? ExitPass : ExitNoMouse;
    return outcome;
}

// As the window's polling opens a newly connected mouse of the selected family.
bool CommandLineProgram::OpenMouse(Station& station, HidPlatform& platform) {
    const bool found =
        station.OpenMouse(options_.settings.icType, options_.vendorId, options_.productId);
    const std::string notice = platform.TakeOperatorNotice();
    if (!notice.empty()) {
        err_ << notice << '\n';
    }
    return found;
}

std::optional<CommandLineProgram::Outcome> CommandLineProgram::LoadImage(Station& station,
                                                                         CommandLineView& view) {
    StationContext context = station.Context();
    BeginLoad(context);
    if (LoadBinFile(context, options_.path) == LoadOutcome::Loaded) {
        return std::nullopt;
    }
    Outcome refused;
    refused.exitCode = ExitBadInput;
    refused.lines = view.VisibleTexts(station.lang);
    return refused;
}

CommandLineProgram::Outcome
CommandLineProgram::RunOperation(Station& station, CommandLineView& view,
                                 const RememberingHidPlatform& devices) {
    OperationRunner runner(station);
    runner.Attach(*records_, &devices, [this] { return imageFile_; });
    runner.SetSoughtIds(options_.vendorId, options_.productId);
    JobOutcome job;
    std::string mouse;
    if (events_) {
        const MouseLink* link = station.links.For(options_.settings.icType);
        if (link != nullptr && link->DeviceHandle() != InvalidHandle) {
            mouse = devices.Find(link->DeviceHandle()).path;
        }
        events_->Start(JobOfCommand(options_.command), mouse);
        view.SetChunkListener(
            [this, mouse](int done, int total) { events_->Progress(mouse, done, total); });
    }
    progress_.Start(ProgressLabel(options_.command));
    try {
        switch (options_.command) {
        case Command::Write:
            job = runner.Write();
            break;
        case Command::Verify:
            job = runner.Verify();
            break;
        case Command::Read:
            job = runner.Save(options_.path);
            break;
        case Command::FactoryRead:
            job = runner.ReadFactory();
            break;
        default:
            break;
        }
    } catch (const StationError& error) {
        progress_.Finish();
        if (events_) {
            events_->EndWithout(JobOfCommand(options_.command), mouse, error.what());
        }
        throw;
    }
    progress_.Finish();
    Outcome outcome;
    outcome.exitCode = job.Passed() ? ExitPass : ExitFailed;
    if (job.serialNumber) {
        outcome.serialNumber = HexText(static_cast<unsigned>(*job.serialNumber), 6);
    }
    if (job.job == Job::FactoryRead && job.Passed() && view.ShownFactoryFields()) {
        outcome.lines = FactoryFieldLines(*view.ShownFactoryFields(), station.lang);
    }
    // A jig's operator learns from the platform why the mouse failed, beyond the verdict.
    if (!job.Passed() && !station.state.LastTransferError.empty()) {
        outcome.error = station.state.LastTransferError;
    }
    const std::vector<std::string> shown = view.VisibleTexts(station.lang);
    outcome.lines.insert(outcome.lines.end(), shown.begin(), shown.end());
    if (shown.empty()) {
        outcome.lines.push_back(job.reason);
    }
    if (events_) {
        if (job.reason.empty() && !outcome.error.empty()) {
            job.reason = outcome.error;
        }
        JobEvents::Fields more;
        if (job.job == Job::FactoryRead && job.Passed() && view.ShownFactoryFields()) {
            more = FactoryFieldEvents(*view.ShownFactoryFields());
        }
        events_->End(job, mouse, more);
        outcome.reported = true;
    }
    return outcome;
}

CommandLineProgram::Outcome CommandLineProgram::RunLine() {
    // Ctrl+C lets the jobs in flight finish before the summary.
    std::signal(SIGINT, StopTheLine);
    std::signal(SIGTERM, StopTheLine);
    ProductionLine line(options_, *records_, log_, events_.get(), out_, err_);
    Outcome outcome;
    outcome.exitCode = line.Run();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    return outcome;
}

CommandLineProgram::Outcome CommandLineProgram::ShowRecords() {
    RecordFilter filter;
    filter.since = options_.since;
    filter.serialNumber = options_.serialFilter;
    Outcome outcome;
    outcome.exitCode = ExitPass;
    switch (options_.report) {
    case RecordsReport::Table:
        outcome.lines = RecordsTable(records_->Find(filter));
        break;
    case RecordsReport::Csv:
        outcome.lines = RecordsCsv(records_->Find(filter));
        break;
    case RecordsReport::Summary:
        outcome.lines =
            RecordsSummary(records_->SummarizeWrites(filter), records_->FindReservations());
        if (const long waiting = records_->WaitingToSend(); waiting > 0) {
            outcome.lines.push_back(
                "Waiting in this PC's outbox for the line database: " + std::to_string(waiting) +
                (waiting == 1 ? " record" : " records") +
                " (sent by the next station that reaches the server)");
        }
        if (const std::vector<std::string> restored = records_->RestoreFindings();
            !restored.empty()) {
            outcome.lines.push_back("The line database went back in time (restored from a "
                                    "backup?) and hands out no serial number until its owner "
                                    "runs records --acknowledge-restore:");
            for (const std::string& finding : restored) {
                outcome.lines.push_back("  " + finding);
            }
        }
        if (const std::vector<std::string> aside = records_->SetAside(); !aside.empty()) {
            outcome.lines.push_back("Set aside in this PC's outbox, refused by the line database:");
            for (const std::string& entry : aside) {
                outcome.lines.push_back("  " + entry);
            }
        }
        break;
    case RecordsReport::Duplicates: {
        outcome.lines = DuplicateSerialNumbers(records_->FindRepeatedPasses(filter), filter.since);
        if (!outcome.lines.empty()) {
            outcome.exitCode = ExitFailed;
        }
        // A mouse written without its record may carry a number that a pass holds as well.
        const std::vector<Reservation> reservations = records_->FindReservations();
        for (const Reservation& reservation : reservations) {
            RecordFilter same;
            same.serialNumber = reservation.serialNumber;
            for (const ProductionRecord& record : reservation.outcomeUnknown
                                                      ? records_->Find(same)
                                                      : std::vector<ProductionRecord>{}) {
                if (record.operation == "write" && record.verdict == WritePassVerdict &&
                    record.productType.value_or(reservation.productType) ==
                        reservation.productType) {
                    outcome.exitCode = ExitFailed;
                    outcome.lines.push_back("SN " + record.SerialText() +
                                            " may be on two mice: a Write Pass on " + record.time +
                                            " at station " + record.StationText() + " (host " +
                                            record.host + ") and a write that ended unrecorded");
                }
            }
        }
        for (const ProductionRecord& record : records_->PassesInRestoreGaps()) {
            outcome.exitCode = ExitFailed;
            outcome.lines.push_back(
                "SN " + record.SerialText() + " may be on two mice: a Write Pass on " +
                record.time + " at station " + record.StationText() + " (host " + record.host +
                ") after the line database went back in time, and the "
                "pass its restore lost");
        }
        if (outcome.lines.empty()) {
            outcome.lines.push_back("No serial number was stamped twice.");
        }
        const std::vector<std::string> unknown = UnknownSerialNumbers(reservations);
        outcome.lines.insert(outcome.lines.end(), unknown.begin(), unknown.end());
        break;
    }
    case RecordsReport::Approvals:
        outcome.lines = ApprovalsTable(records_->FindApprovals(options_.productType));
        break;
    case RecordsReport::AcknowledgeRestore: {
        const std::vector<std::string> found = records_->AcknowledgeRestores();
        if (found.empty()) {
            outcome.lines.push_back("Nothing to acknowledge: no station found the line database "
                                    "gone back in time.");
            break;
        }
        outcome.lines.push_back("Acknowledged: numbers are handed out again, above every one "
                                "a station remembered:");
        for (const std::string& finding : found) {
            outcome.lines.push_back("  " + finding);
        }
        break;
    }
    case RecordsReport::ApprovalsCsv:
        outcome.lines = ApprovalsCsv(records_->FindApprovals(options_.productType));
        break;
    case RecordsReport::LinePage: {
        // Made whole before the file is opened: a store that fails mid-way leaves no page.
        const std::string html = LineReportHtml(
            GatherLineReport(*records_, filter, StoreShownName(options_.recordsChoice)));
        WriteLineReport(options_.reportPath, html);
        outcome.lines.push_back("Line report written to " + ExpandFileName(options_.reportPath));
        break;
    }
    }
    return outcome;
}

CommandLineProgram::Outcome CommandLineProgram::Approve() {
    // Loaded as a station loads it, so the hash is the one the stations compute.
    NullHidPlatform nothing;
    VirtualClock clock;
    PlainSettings settings = options_.settings;
    CommandLineView view(progress_);
    Station loader(nothing, clock, settings, view);
    if (std::optional<Outcome> refused = LoadImage(loader, view)) {
        return *refused;
    }
    ImageApproval approval;
    approval.productType = options_.productType.value_or(0);
    approval.imageSha256 = Sha256Hex(loader.state.LoadedImage.data(), ImageSize);
    approval.imageFile = Utf8FileName(ExpandFileName(options_.path));
    const std::string user = UserName();
    const std::string host = HostName();
    approval.approver = (user.empty() ? "?" : user) + "@" + (host.empty() ? "?" : host);
    Outcome outcome;
    outcome.exitCode = ExitPass;
    outcome.lines.push_back(ApprovalText(records_->ApproveImage(approval)));
    return outcome;
}

CommandLineProgram::Outcome CommandLineProgram::BadInput(const std::string& message) {
    Outcome outcome;
    outcome.exitCode = ExitBadInput;
    outcome.error = message;
    return outcome;
}

int RunCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                   bool progressBar) {
    CommandLineOptions options;
    try {
        options = ParseCommandLine(arguments);
    } catch (const StationError& error) {
        err << "vrax-bin-writer-cli: " << error.what() << "\nTry 'vrax-bin-writer-cli --help'.\n";
        return ExitBadInput;
    }
    if (options.command == Command::Help) {
        out << HelpText();
        return ExitPass;
    }
    CommandLineProgram program(options, out, err, progressBar);
    return program.Run();
}

} // namespace vrax
