#include "cli/ProgressBar.h"

#include <algorithm>

namespace vrax {

namespace {
constexpr int BarWidth = 30;
}

void ProgressBar::Start(const std::string& label, long expectedSteps) {
    if (!enabled_ || expectedSteps <= 0) {
        return;
    }
    running_ = true;
    label_ = label;
    expected_ = expectedSteps;
    done_ = 0;
    shownPercent_ = -1;
    Draw(0);
}

void ProgressBar::Step() {
    if (!running_) {
        return;
    }
    ++done_;
    const int percent = static_cast<int>(std::min<long>(99, done_ * 100 / expected_));
    if (percent != shownPercent_) {
        Draw(percent);
    }
}

void ProgressBar::Finish() {
    if (!running_) {
        return;
    }
    running_ = false;
    stream_ << '\r' << std::string(label_.size() + BarWidth + 8, ' ') << '\r' << std::flush;
}

void ProgressBar::Draw(int percent) {
    shownPercent_ = percent;
    const int filled = percent * BarWidth / 100;
    stream_ << '\r' << label_ << " [" << std::string(filled, '#')
            << std::string(BarWidth - filled, '-') << "] " << percent << '%' << std::flush;
}

} // namespace vrax
