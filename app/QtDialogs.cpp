#include "QtDialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace vrax {

namespace {

QString FilterText(const FileFilter& filter) {
    // "LoadFile(*.bin)" names its pattern already; Qt reads it from the parentheses.
    const QString named = "(" + filter.pattern + ")";
    return filter.description.endsWith(named) ? filter.description
                                              : filter.description + " " + named;
}

std::optional<QString> RunFileDialog(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().constFirst();
}

} // namespace

std::optional<QString> QtDialogs::OpenFile(QWidget* owner, const FileFilter& filter) {
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(FilterText(filter));
    return RunFileDialog(dialog);
}

std::optional<QString> QtDialogs::SaveFile(QWidget* owner, const FileFilter& filter) {
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(FilterText(filter));
    dialog.setSizeGripEnabled(true);
    // No places bar: the operator saves where the dialog opens or types a path.
    dialog.setSidebarUrls({});
    if (auto* places = dialog.findChild<QWidget*>("sidebar")) {
        places->hide();
    }
    return RunFileDialog(dialog);
}

std::optional<QString> QtDialogs::Password(QWidget* owner, const PasswordPrompt& prompt,
                                           const QString& initialText) {
    QInputDialog dialog(owner);
    dialog.setWindowTitle(prompt.caption);
    dialog.setLabelText(prompt.prompt);
    dialog.setTextEchoMode(QLineEdit::Password);
    dialog.setTextValue(initialText);
    dialog.setOkButtonText("OK");
    dialog.setCancelButtonText("Cancel");
    dialog.setStyleSheet("QLineEdit { lineedit-password-character: 42; }");
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.textValue();
}

void QtDialogs::Message(QWidget* owner, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, owner);
    box.exec();
}

void QtDialogs::Error(QWidget* owner, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, owner);
    box.exec();
}

} // namespace vrax
