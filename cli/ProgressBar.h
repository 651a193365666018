#pragma once

#include <ostream>
#include <string>

namespace vrax {

// A one-line bar redrawn in place; off when its stream is not a terminal. The steps are the
// chunks an operation is expected to move, so retries may run past the end: the bar then
// waits at 99% until the operation finishes.
class ProgressBar {
public:
    ProgressBar(std::ostream& stream, bool enabled) : stream_(stream), enabled_(enabled) {}

    void Start(const std::string& label, long expectedSteps);
    void Step();
    // Clears the line; a bar that was never started leaves the stream untouched.
    void Finish();

private:
    void Draw(int percent);

    std::ostream& stream_;
    bool enabled_;
    bool running_ = false;
    std::string label_;
    long expected_ = 0;
    long done_ = 0;
    int shownPercent_ = -1;
};

} // namespace vrax
