#include "DropDownComboBox.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QKeyEvent>
#include <QLineEdit>

namespace vrax {

DropDownComboBox::DropDownComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    // The completion below replaces Qt's own.
    setCompleter(nullptr);
    connect(this, &QComboBox::activated, this, &DropDownComboBox::Change);
    connect(lineEdit(), &QLineEdit::textEdited, this, &DropDownComboBox::OnTextEdited);
    lineEdit()->installEventFilter(this);
}

void DropDownComboBox::SetListOpensAsTyped() {
    // A completer's popup leaves the keyboard with the text field, where the combo box's own
    // list would take it over.
    auto* list = new QCompleter(model(), this);
    list->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    list->setCaseSensitivity(Qt::CaseInsensitive);
    list->setMaxVisibleItems(maxVisibleItems());
    connect(list, qOverload<const QModelIndex&>(&QCompleter::activated), this,
            [this](const QModelIndex& index) {
                setCurrentIndex(index.row());
                emit Change();
            });
    lineEdit()->setCompleter(list);
}

bool DropDownComboBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lineEdit() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        deleting_ = key == Qt::Key_Backspace || key == Qt::Key_Delete;
    }
    return QComboBox::eventFilter(watched, event);
}

void DropDownComboBox::OnTextEdited(const QString& text) {
    const bool complete = !deleting_ && !text.isEmpty();
    int match = -1;
    for (int i = 0; i < count(); ++i) {
        const QString item = itemText(i);
        const bool fits = complete ? item.startsWith(text, Qt::CaseInsensitive)
                                   : item.compare(text, Qt::CaseInsensitive) == 0;
        if (fits) {
            match = i;
            break;
        }
    }
    const QSignalBlocker blocker(lineEdit());
    if (match >= 0) {
        setCurrentIndex(match);
        const QString item = itemText(match);
        lineEdit()->setText(text + item.mid(text.size()));
        lineEdit()->setSelection(static_cast<int>(text.size()),
                                 static_cast<int>(item.size() - text.size()));
    } else {
        setCurrentIndex(-1);
        lineEdit()->setText(text);
    }
    emit Change();
}

} // namespace vrax
