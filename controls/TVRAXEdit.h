#pragma once

#include <QLineEdit>

class QInputMethodEvent;
class QKeyEvent;

namespace vrax {

enum class EditAlignment { Left = 0, Right = 1, Centre = 2 };

// A single-line edit with a settable text alignment and a limit on what the operator types.
class TVRAXEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit TVRAXEdit(QWidget* parent = nullptr);

    EditAlignment Alignment() const { return alignment_; }
    void SetAlignment(EditAlignment alignment);

    // Most characters the operator may type; 0 means no limit. Text set by the program and
    // pastes are not held to it.
    int TypingLimit() const { return typingLimit_; }
    void SetTypingLimit(int limit) { typingLimit_ = limit; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    bool ExceedsTypingLimit(int insertedLength) const;
    void ApplyAlignment();

    EditAlignment alignment_ = EditAlignment::Left;
    int typingLimit_ = 0;
};

} // namespace vrax
