#pragma once

namespace vrax {

// What the links and the jobs need from the window: the busy window and message pumping.
class LinkHost {
public:
    virtual ~LinkHost() = default;

    // Centres the busy window over the main window and shows it; an already visible busy
    // window only moves and stays in front. Callers pump messages afterwards themselves.
    virtual void ShowBusyWindow() = 0;
    virtual void HideBusyWindow() = 0;

    // Processes pending window messages; handlers may be re-entered from here.
    virtual void PumpMessages() = 0;
};

// For programs without a window; counts the calls so tests can assert them.
class CountingLinkHost : public LinkHost {
public:
    void ShowBusyWindow() override {
        ++showCount;
        busyVisible = true;
    }
    void HideBusyWindow() override {
        ++hideCount;
        busyVisible = false;
    }
    void PumpMessages() override { ++pumpCount; }

    int showCount = 0;
    int hideCount = 0;
    long pumpCount = 0;
    bool busyVisible = false;
};

} // namespace vrax
