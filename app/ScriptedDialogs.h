#pragma once

#include "Dialogs.h"

#include <deque>
#include <functional>
#include <vector>

namespace vrax {

// Answers the dialogs from queues and records every dialog asked for, in order. An empty
// queue answers as the operator's Cancel would.
class ScriptedDialogs final : public Dialogs {
public:
    enum class Kind { OpenFile, SaveFile, Password, Message, Error };

    struct Shown {
        Kind kind;
        // The caption or title; the filter's description for the file dialogs.
        QString title;
        // The message, the prompt, or the filter's pattern.
        QString text;
        // The password field's starting text.
        QString initialText;
    };

    std::optional<QString> OpenFile(QWidget* owner, const FileFilter& filter) override;
    std::optional<QString> SaveFile(QWidget* owner, const FileFilter& filter) override;
    std::optional<QString> Password(QWidget* owner, const PasswordPrompt& prompt,
                                    const QString& initialText) override;
    void Message(QWidget* owner, const QString& title, const QString& text) override;
    void Error(QWidget* owner, const QString& title, const QString& text) override;

    int Count(Kind kind) const;

    std::deque<std::optional<QString>> openAnswers;
    std::deque<std::optional<QString>> saveAnswers;
    std::deque<std::optional<QString>> passwordAnswers;
    std::vector<Shown> shown;
    // Runs while a dialog is up, as the event loop of a modal dialog would run other handlers.
    std::function<void(Kind)> whileShown;

private:
    std::optional<QString> Answer(std::deque<std::optional<QString>>& answers, Shown shownDialog);
};

} // namespace vrax
