#pragma once

#include "remote/RemoteError.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vrax {

enum class JigJob { Write, Verify, FactoryRead };

struct JigJobRequest {
    JigJob job = JigJob::Write;
    std::optional<int> serialNumber; // stamped instead of the station's next, this unit only
    int waitSeconds = 0;             // for a mouse to be plugged
    std::vector<int> channels;       // 1-based, ascending
};

// One channel's end of a job. Everything is a value: the engine writes the words.
struct JigChannelResult {
    int channel = 1;
    JigJob job = JigJob::Write;
    std::optional<RemoteError> error; // none: passed
    std::string verdict;              // as the records keep it ("Write Pass"); may be empty
    std::string reason;
    std::optional<int> serialNumber;
    std::optional<int> productType;
    long long durationMs = 0;
    std::vector<std::pair<std::string, std::string>> fields; // a factory read's, KEY and value
};

struct JigProgress {
    int done = 0;
    int total = 0;
    bool finished = false;
};

struct JigImage {
    std::string name; // empty: none loaded
    std::string sha256;
};

// What a protocol engine drives: the station's jobs, run by whoever hosts the engine (the
// command line, the window) through its operation runner. The engine calls it from its own
// thread only; a job runs elsewhere, and Progress and Cancel are safe while it does.
class JigStation {
public:
    virtual ~JigStation() = default;

    virtual int Channels() const = 0;
    // Starts the job in the background; the refusal when it cannot start (a job runs).
    virtual std::optional<RemoteError> StartJob(const JigJobRequest& request) = 0;
    virtual JigProgress Progress() = 0;
    // The finished job's results, one per channel asked for; each only once.
    virtual std::vector<JigChannelResult> TakeResults() = 0;
    // The running job stops at its next transfer; its mice fail.
    virtual void Cancel() = 0;
    // "READY", "NO MOUSE", "NO IMAGE"... for the channels; asked only between jobs.
    virtual std::string Status(const std::vector<int>& channels) = 0;
    virtual JigImage Image() = 0;
    // A file of the station's image folder. The failure and its text when refused.
    virtual std::optional<std::pair<RemoteError, std::string>> Load(const std::string& name) = 0;
    // False for a name that is no IC type.
    virtual bool SelectIcType(const std::string& name) = 0;
    virtual std::string IcType() = 0;
    virtual std::string Version() = 0;
};

} // namespace vrax
