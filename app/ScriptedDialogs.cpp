#include "ScriptedDialogs.h"

#include <algorithm>

namespace vrax {

std::optional<QString> ScriptedDialogs::Answer(std::deque<std::optional<QString>>& answers,
                                               Shown shownDialog) {
    const Kind kind = shownDialog.kind;
    shown.push_back(std::move(shownDialog));
    if (whileShown) {
        whileShown(kind);
    }
    if (answers.empty()) {
        return std::nullopt;
    }
    const bool confirmed = answers.front().has_value();
    const QString text = answers.front().value_or(QString());
    answers.pop_front();
    if (!confirmed) {
        return std::nullopt;
    }
    return text;
}

std::optional<QString> ScriptedDialogs::OpenFile(QWidget*, const FileFilter& filter) {
    return Answer(openAnswers, {Kind::OpenFile, filter.description, filter.pattern, {}});
}

std::optional<QString> ScriptedDialogs::SaveFile(QWidget*, const FileFilter& filter) {
    return Answer(saveAnswers, {Kind::SaveFile, filter.description, filter.pattern, {}});
}

std::optional<QString> ScriptedDialogs::Password(QWidget*, const PasswordPrompt& prompt,
                                                 const QString& initialText) {
    return Answer(passwordAnswers, {Kind::Password, prompt.caption, prompt.prompt, initialText});
}

void ScriptedDialogs::Message(QWidget*, const QString& title, const QString& text) {
    std::deque<std::optional<QString>> none;
    Answer(none, {Kind::Message, title, text, {}});
}

void ScriptedDialogs::Error(QWidget*, const QString& title, const QString& text) {
    std::deque<std::optional<QString>> none;
    Answer(none, {Kind::Error, title, text, {}});
}

int ScriptedDialogs::Count(Kind kind) const {
    return static_cast<int>(std::count_if(shown.begin(), shown.end(),
                                          [kind](const Shown& s) { return s.kind == kind; }));
}

} // namespace vrax
