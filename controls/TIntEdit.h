#pragma once

#include "THexEdit.h"

namespace vrax {

// Decimal entry: only digits can be typed, and the text reads as a 32-bit value.
class TIntEdit : public THexEdit {
    Q_OBJECT

public:
    using THexEdit::THexEdit;

    int GetValue() override;
    void SetValue(int value) override;

protected:
    bool FilterWndProc(QEvent* message) override;
};

} // namespace vrax
