#pragma once

#include "Dialogs.h"

namespace vrax {

class QtDialogs final : public Dialogs {
public:
    std::optional<QString> OpenFile(QWidget* owner, const FileFilter& filter) override;
    std::optional<QString> SaveFile(QWidget* owner, const FileFilter& filter) override;
    std::optional<QString> Password(QWidget* owner, const PasswordPrompt& prompt,
                                    const QString& initialText) override;
    void Message(QWidget* owner, const QString& title, const QString& text) override;
    void Error(QWidget* owner, const QString& title, const QString& text) override;
};

} // namespace vrax
