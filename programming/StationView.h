#pragma once

#include "device/LinkProgress.h"
#include "programming/StationSettings.h"
#include "programming/StationState.h"

#include <optional>
#include <string>

namespace vrax {

enum class ResultColour {
    Lime,  // RGB 0,255,0: the KVQM31X write pass
    Green, // RGB 0,128,0: every other success
    Red,   // RGB 255,0,0: failure
};

// What the operations do to the window. The main window implements it over its controls;
// the command line and the tests record it. The links report their chunks to it too.
// Called on the job's thread only, which for the window is the window's own thread.
class StationView : public LinkProgress {
public:
    // Centres the busy window over the main window and shows it; an already visible busy
    // window only moves and stays in front. Callers pump messages afterwards themselves.
    virtual void ShowBusyWindow() = 0;
    virtual void HideBusyWindow() = 0;
    // Processes pending window messages; handlers may be re-entered from here.
    virtual void PumpMessages() = 0;

    // Before each chunk the busy window is shown and messages pumped, and messages are pumped
    // again wherever a link pauses inside a chunk.
    void ChunkStarting(int /*done*/, int /*total*/) override {
        ShowBusyWindow();
        PumpMessages();
    }
    void Idle() override { PumpMessages(); }

    // lbl_CtrlResult.
    virtual void HideResult() = 0;
    // Sets the caption, the colour, the point size when given, then makes the label visible.
    virtual void ShowResult(const std::string& text, ResultColour colour,
                            std::optional<int> pointSize = std::nullopt) = 0;
    // lbl_BINDevError ("BIN file not match Mouse") made visible.
    virtual void ShowMouseMismatch() = 0;
    // lbl_BINICTypeError ("BIN file not match IC Type") made visible.
    virtual void ShowSizeMismatch() = 0;
    // lbl_Result, lbl_BINDevError and lbl_BINICTypeError hidden.
    virtual void HideResultLabels() = 0;

    virtual void SetDevTimerRunning(bool running) = 0;
    // btn_Write, btnReadFactory, btn_Verify and btn_Save.
    virtual void SetActionButtonsEnabled(bool enabled) = 0;
    virtual void ShowPassCount(int passCount) = 0;
    virtual bool AutoRunChecked() = 0;
    virtual void DisableJobControls() = 0;
    virtual void EnableJobControls() = 0;

    // The factory fields as a read left them: values by the fields' SetValue, list
    // positions selected (a position beyond a list leaves it without a selection).
    virtual void ShowFactoryRecord(int type, int date, int serialNumber, int factoryIndex,
                                   int lineIndex, int stationIndex) = 0;
};

} // namespace vrax
