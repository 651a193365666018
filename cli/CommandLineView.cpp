#include "cli/CommandLineView.h"

namespace vrax {

namespace {
constexpr std::uint8_t TextMouseMismatch = 19;
constexpr std::uint8_t TextSizeMismatch = 20;
} // namespace

void CommandLineView::ShowResult(const std::string& text, ResultColour, std::optional<int>) {
    resultText_ = text;
    resultVisible_ = true;
}

void CommandLineView::HideResultLabels() {
    mouseMismatchVisible_ = false;
    sizeMismatchVisible_ = false;
}

void CommandLineView::DisableJobControls() {
    HideResultLabels();
    resultVisible_ = false;
}

void CommandLineView::ShowFactoryRecord(int type, int date, int serialNumber, int factoryIndex,
                                        int lineIndex, int stationIndex) {
    factoryFields_ = FactoryFields{type, date, serialNumber, factoryIndex, lineIndex, stationIndex};
}

std::vector<std::string> CommandLineView::VisibleTexts(const Lang& lang) const {
    std::vector<std::string> texts;
    if (sizeMismatchVisible_) {
        texts.push_back(lang.Text(TextSizeMismatch));
    }
    if (mouseMismatchVisible_) {
        texts.push_back(lang.Text(TextMouseMismatch));
    }
    if (resultVisible_) {
        texts.push_back(resultText_);
    }
    return texts;
}

} // namespace vrax
