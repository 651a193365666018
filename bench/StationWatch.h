#pragma once

namespace vrax {

// What the station shows after a job, as an operator reads it off the window.
enum class Verdict {
    None,          // nothing shown
    WritePass,     // "Write Pass"
    WriteFail,     // "Write Fail"
    MouseMismatch, // "BIN file not match Mouse"
};

const char* VerdictText(Verdict verdict);

// One look at the station window, taken between its handlers.
struct StationSnapshot {
    bool imageLoaded = false;
    // A tick or a job is running, or DevTimer is stopped for one; the station is not watching
    // the bus at this moment.
    bool busy = false;
    // The interface count the station last accepted, and the count present on the bus now.
    int acceptedCount = 0;
    int presentCount = 0;
    bool autoWrite = false;
    int icType = -1;
    Verdict verdict = Verdict::None;
    int passCount = 0;
};

class StationWatch {
public:
    virtual ~StationWatch() = default;
    virtual StationSnapshot Look() = 0;
};

} // namespace vrax
