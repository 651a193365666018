#include "remote/RemoteEngine.h"

#include <algorithm>
#include <cstdio>

namespace vrax {

namespace {

std::string Hex(int value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
    return text;
}

const char* JobWord(JigJob job) {
    switch (job) {
    case JigJob::Write:
        return "WRITE";
    case JigJob::Verify:
        return "VERIFY";
    case JigJob::FactoryRead:
        return "FACTORY";
    }
    return "";
}

std::string ChannelList(const std::vector<int>& channels) {
    std::string list;
    for (const int channel : channels) {
        list += (list.empty() ? "" : ",") + std::to_string(channel);
    }
    return list;
}

bool AnswersDuringJob(RemoteCommand command) {
    return command == RemoteCommand::Status || command == RemoteCommand::Result ||
           command == RemoteCommand::Cancel;
}

} // namespace

RemoteEngine::RemoteEngine(JigStation& station, std::function<void(const std::string&)> send)
    : station_(station), send_(std::move(send)) {
    for (int channel = 1; channel <= station_.Channels(); ++channel) {
        selected_.push_back(channel);
    }
}

void RemoteEngine::Receive(std::string_view bytes, Milliseconds now) {
    for (const LineReader::Line& line : reader_.Feed(bytes)) {
        if (!line.refusal.empty()) {
            Send("#NACK:" + line.refusal);
            continue;
        }
        if (line.text.find_first_not_of(" \t") == std::string::npos) {
            continue;
        }
        const ParsedRequest parsed = ParseRemoteRequest(line.text);
        if (!parsed.request) {
            Send("#NACK:" + parsed.refusal);
            continue;
        }
        // A job that ended since the last tick answers before the next command does.
        Tick(now);
        if (running_ && !AnswersDuringJob(parsed.request->command)) {
            SendError(RemoteError::Busy, "A JOB IS RUNNING");
            continue;
        }
        Handle(*parsed.request, now);
    }
}

void RemoteEngine::Tick(Milliseconds now) {
    if (!running_) {
        return;
    }
    const JigProgress progress = station_.Progress();
    if (progress.finished) {
        Finish();
        return;
    }
    if (owed_ && now - lastSent_ >= BusyInterval) {
        Send("#BUSY " + std::to_string(progress.done) + "/" + std::to_string(progress.total));
        lastSent_ = now;
    }
}

void RemoteEngine::Connected() {
    reader_.Reset();
}

void RemoteEngine::Disconnected() {
    reader_.Reset();
    owed_ = false;
}

void RemoteEngine::Handle(const RemoteRequest& request, Milliseconds now) {
    switch (request.command) {
    case RemoteCommand::Auto:
    case RemoteCommand::Verify:
    case RemoteCommand::Factory:
        Start(request, now);
        return;
    case RemoteCommand::Status:
        if (running_) {
            SendBusy();
        } else {
            SendOk(station_.Status(selected_));
        }
        return;
    case RemoteCommand::Result:
        // The last job's verdict is not the running one's: a jig takes every reply as current.
        if (running_) {
            SendBusy();
        } else if (lastResults_.empty()) {
            SendError(RemoteError::NoResult, "NO JOB HAS ENDED YET");
        } else {
            SendResults(lastResults_, false);
        }
        return;
    case RemoteCommand::Cancel:
        if (!running_) {
            SendError(RemoteError::NotRunning);
            return;
        }
        station_.Cancel();
        SendOk("CANCELLING");
        return;
    case RemoteCommand::Image: {
        const JigImage image = station_.Image();
        if (image.name.empty()) {
            SendError(RemoteError::NoImage);
        } else {
            SendOk("NAME=" + image.name + " SHA256=" + image.sha256);
        }
        return;
    }
    case RemoteCommand::Load: {
        if (const auto refused = station_.Load(request.name)) {
            SendError(refused->first, refused->second);
            return;
        }
        const JigImage image = station_.Image();
        SendOk("NAME=" + image.name + " SHA256=" + image.sha256);
        return;
    }
    case RemoteCommand::Ic:
        if (!station_.SelectIcType(request.name)) {
            Send("#NACK:UNKNOWN IC TYPE " + request.name);
        } else {
            SendOk("IC=" + station_.IcType());
        }
        return;
    case RemoteCommand::Select:
        if (request.channels.back() > station_.Channels()) {
            Send("#NACK:NO CHANNEL " + std::to_string(request.channels.back()) +
                 ", THE STATION HAS " + std::to_string(station_.Channels()));
            return;
        }
        selected_ = request.channels;
        SendOk("SELECTED " + ChannelList(selected_));
        return;
    case RemoteCommand::Version:
        SendOk(station_.Version());
        return;
    case RemoteCommand::Help: {
        std::string names;
        for (const std::string& name : RemoteCommandNames()) {
            names += (names.empty() ? "" : " ") + name;
        }
        SendOk(names);
        return;
    }
    }
}

void RemoteEngine::Start(const RemoteRequest& request, Milliseconds now) {
    JigJobRequest job;
    job.job = request.command == RemoteCommand::Auto     ? JigJob::Write
              : request.command == RemoteCommand::Verify ? JigJob::Verify
                                                         : JigJob::FactoryRead;
    if (request.serialNumber && selected_.size() != 1) {
        Send("#NACK:SN= NEEDS ONE CHANNEL SELECTED");
        return;
    }
    job.serialNumber = request.serialNumber;
    job.waitSeconds = request.waitSeconds.value_or(0);
    job.channels = selected_;
    if (const std::optional<RemoteError> refused = station_.StartJob(job)) {
        SendError(*refused);
        return;
    }
    running_ = true;
    owed_ = true;
    Send("#ACK");
    lastSent_ = now;
}

void RemoteEngine::Finish() {
    lastResults_ = station_.TakeResults();
    running_ = false;
    if (owed_) {
        SendResults(lastResults_, true);
    }
    owed_ = false;
}

std::string RemoteEngine::ResultText(const JigChannelResult& result) const {
    std::string text = result.error ? RemoteErrorText(*result.error) : "PASS";
    text += std::string(" JOB=") + JobWord(result.job);
    if (result.serialNumber) {
        text += " SN=" + Hex(*result.serialNumber, 6);
    }
    if (result.productType) {
        text += " TYPE=" + Hex(*result.productType, 4);
    }
    text += " MS=" + std::to_string(result.durationMs);
    for (const auto& [key, value] : result.fields) {
        text += " " + key + "=" + value;
    }
    if (result.error && !result.reason.empty()) {
        text += " REASON=" + result.reason;
    }
    return text;
}

void RemoteEngine::SendResults(const std::vector<JigChannelResult>& results, bool jobEnd) {
    const auto failed = std::find_if(results.begin(), results.end(),
                                     [](const JigChannelResult& r) { return r.error.has_value(); });
    if (station_.Channels() == 1 && results.size() == 1) {
        const JigChannelResult& result = results.front();
        if (!result.error) {
            SendOk(ResultText(result));
        } else if (jobEnd) {
            Send("#" + RemoteErrorNumber(*result.error) + ":" + ResultText(result));
        } else {
            SendOk(RemoteErrorNumber(*result.error) + " " + ResultText(result));
        }
        return;
    }
    for (const JigChannelResult& result : results) {
        Send("#RESULT:" + std::to_string(result.channel) + ":" +
             (result.error ? RemoteErrorNumber(*result.error) + " " : std::string()) +
             ResultText(result));
    }
    const long failures = std::count_if(results.begin(), results.end(),
                                        [](const auto& r) { return r.error.has_value(); });
    const std::string count = std::to_string(results.size());
    if (!jobEnd || failed == results.end()) {
        SendOk(std::to_string(static_cast<long>(results.size()) - failures) + "/" + count +
               " PASS");
    } else {
        Send("#" + RemoteErrorNumber(*failed->error) + ":" + std::to_string(failures) + " OF " +
             count + " FAILED");
    }
}

void RemoteEngine::Send(const std::string& line) {
    std::string clean = line.substr(0, LineReader::MaxLine - 2);
    for (char& c : clean) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
            c = '?';
        }
    }
    send_(clean + "\r\n");
}

void RemoteEngine::SendBusy() {
    const JigProgress progress = station_.Progress();
    SendOk("BUSY " + std::to_string(progress.done) + "/" + std::to_string(progress.total));
}

void RemoteEngine::SendOk(const std::string& details) {
    Send(details.empty() ? "#OK" : "#OK " + details);
}

void RemoteEngine::SendError(RemoteError error, const std::string& text) {
    Send("#" + RemoteErrorNumber(error) + ":" + RemoteErrorText(error) +
         (text.empty() ? "" : " " + text));
}

} // namespace vrax
