#pragma once

#include <QComboBox>

namespace vrax {

// A drop-down list with an editable text field. Typing completes the text with the first
// item it starts; text that starts no item leaves the list without a selection. Change is
// raised when the operator picks an item or edits the text, never for program changes.
class DropDownComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit DropDownComboBox(QWidget* parent = nullptr);
    // The list drops down with the first typed character and follows the typing.
    void SetListOpensAsTyped();

signals:
    void Change();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnTextEdited(const QString& text);

    bool deleting_ = false;
};

} // namespace vrax
