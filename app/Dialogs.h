#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace vrax {

struct FileFilter {
    QString description;
    QString pattern;
};

struct PasswordPrompt {
    QString caption;
    QString prompt;
};

// The modal dialogs the window asks the operator through; tests answer them from a script.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // The chosen path, or nothing when the operator cancelled.
    virtual std::optional<QString> OpenFile(QWidget* owner, const FileFilter& filter) = 0;
    // Asks before an existing file is replaced; nothing when the operator cancelled.
    virtual std::optional<QString> SaveFile(QWidget* owner, const FileFilter& filter) = 0;
    // Masked entry that starts with initialText; the text confirmed with OK, or nothing on
    // Cancel.
    virtual std::optional<QString> Password(QWidget* owner, const PasswordPrompt& prompt,
                                            const QString& initialText) = 0;
    // One OK button.
    virtual void Message(QWidget* owner, const QString& title, const QString& text) = 0;
    virtual void Error(QWidget* owner, const QString& title, const QString& text) = 0;
};

} // namespace vrax
