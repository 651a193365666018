#pragma once

#include <QString>

#include <functional>

namespace vrax {

class Clock;
class Dialogs;
class HidPlatform;
class TForm1;

struct StationProgramOptions {
    // Running copies are found by this key; the main window's caption unless a test runs
    // copies of its own.
    QString instanceKey;
    // Called once the main window exists, and after each restore asked for by a later start.
    std::function<void(TForm1&)> onWindowCreated;
    std::function<void(TForm1&)> onRestored;
    // Where the window keeps its production records when no --records argument says:
    // empty for the user's data folder, "none" for nowhere, or a file.
    QString defaultRecords;
    // The system's device notifications run the tick at once; a program on a simulated bus
    // tells the window's InstantPlugIn itself.
    bool listenToSystemDevices = true;
    // The operator's answers to the window's questions; Qt's own dialogs when null.
    Dialogs* dialogs = nullptr;
};

// The program entry: a start while a copy runs brings that copy to the front and returns 0
// at once; otherwise the main window and the busy window are made and the loop runs. Its
// arguments: --records FILE (or none) picks where the verdicts are recorded; each --remote
// tcp:ADDRESS:PORT or serial:DEVICE,BAUD opens a way for a jig to drive the window's jobs.
int RunStationProgram(int& argc, char** argv, HidPlatform& platform, Clock& clock,
                      const StationProgramOptions& options = {});

} // namespace vrax
