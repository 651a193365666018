#include "cli/ProgressBar.h"

#include <algorithm>

namespace vrax {

namespace {
constexpr int BarWidth = 30;
}

void ProgressBar::Start(const std::string& label) {
    if (!enabled_ || label.empty()) {
        return;
    }
    running_ = true;
    label_ = label;
    shownPercent_ = -1;
    Draw(0);
}

void ProgressBar::Update(int done, int total) {
    if (!running_ || total <= 0) {
        return;
    }
    const int percent = std::clamp(done * 100 / total, 0, 100);
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
