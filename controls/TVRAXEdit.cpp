#include "TVRAXEdit.h"

#include "TypedCharacter.h"

#include <QInputMethodEvent>
#include <QKeyEvent>

namespace vrax {

TVRAXEdit::TVRAXEdit(QWidget* parent) : QLineEdit(parent) {
    ApplyAlignment();
}

void TVRAXEdit::SetAlignment(EditAlignment alignment) {
    if (alignment == alignment_) {
        return;
    }
    alignment_ = alignment;
    ApplyAlignment();
}

void TVRAXEdit::ApplyAlignment() {
    switch (alignment_) {
    case EditAlignment::Left:
        setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        break;
    case EditAlignment::Right:
        setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        break;
    case EditAlignment::Centre:
        setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
        break;
    }
}

bool TVRAXEdit::ExceedsTypingLimit(int insertedLength) const {
    if (typingLimit_ <= 0) {
        return false;
    }
    const int kept = static_cast<int>(text().size() - selectedText().size());
    return kept + insertedLength > typingLimit_;
}

void TVRAXEdit::keyPressEvent(QKeyEvent* event) {
    const std::optional<char16_t> typed = TypedCharacter(*event);
    const bool inserts = typed && *typed >= 0x20 && *typed != 0x7F;
    if (inserts && ExceedsTypingLimit(1)) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TVRAXEdit::inputMethodEvent(QInputMethodEvent* event) {
    if (!event->commitString().isEmpty() &&
        ExceedsTypingLimit(static_cast<int>(event->commitString().size()))) {
        event->accept();
        return;
    }
    QLineEdit::inputMethodEvent(event);
}

} // namespace vrax
