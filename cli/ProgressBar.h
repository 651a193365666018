#pragma once

#include <ostream>
#include <string>

namespace vrax {

// A one-line bar redrawn in place; off when its stream is not a terminal. It shows how far the
// transfer under way has come, as its link reports it chunk by chunk.
class ProgressBar {
public:
    ProgressBar(std::ostream& stream, bool enabled) : stream_(stream), enabled_(enabled) {}

    // An empty label keeps the bar off.
    void Start(const std::string& label);
    // `done` of `total` chunks of the current transfer have moved.
    void Update(int done, int total);
    // Clears the line; a bar that was never started leaves the stream untouched.
    void Finish();

private:
    void Draw(int percent);

    std::ostream& stream_;
    bool enabled_;
    bool running_ = false;
    std::string label_;
    int shownPercent_ = -1;
};

} // namespace vrax
