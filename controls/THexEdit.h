#pragma once

#include "TVRAXEdit.h"

namespace vrax {

// Hexadecimal entry: only hexadecimal digits can be typed, and the text reads as a 32-bit
// value. Pasted and program-set text is taken as it comes; GetValue then throws
// ConversionError when it is not a number.
class THexEdit : public TVRAXEdit {
    Q_OBJECT

public:
    explicit THexEdit(QWidget* parent = nullptr);

    // Takes effect at the next typed character.
    bool IsFilter() const { return isFilter_; }
    void SetIsFilter(bool isFilter) { isFilter_ = isFilter; }

    virtual int GetValue();
    // Values of 0 or less empty the text.
    virtual void SetValue(int value);

protected:
    bool event(QEvent* event) override;

    // Sees every message of the control; a typed character outside the allowed set is dropped
    // before the edit sees it. Returns what handling the message returned.
    virtual bool FilterWndProc(QEvent* message);
    // Passes the message on unless it types a character outside allowed; backspace always
    // passes.
    bool FilterTyped(QEvent* message, const char* allowed);

private:
    bool isFilter_ = true;
};

} // namespace vrax
