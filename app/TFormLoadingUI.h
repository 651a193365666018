#pragma once

#include <QWidget>

namespace vrax {

class AnimatedPicture;

// The busy window: a frameless, topmost animation floating over the main window while a job
// talks to a mouse. Only its non-black pixels are visible.
class TFormLoadingUI : public QWidget {
    Q_OBJECT

public:
    static constexpr int ClientWidth = 206;
    static constexpr int ClientHeight = 196;

    // Places itself relative to mainWindow, which must already have its position and size.
    explicit TFormLoadingUI(QWidget* mainWindow);

    // Where the window is put at creation, 40 pixels below the centre of the main window.
    static QPoint CreationPosition(const QRect& mainFrame, QSize ownSize);
    // Where the jobs show it: centred over the main window.
    static QPoint CentredPosition(const QRect& mainFrame, QSize ownSize);

    // Moves the window to the centre of the main window's current place and shows it in front;
    // an already visible one is raised again only when asked to.
    void ShowCentredOver(const QWidget& mainWindow, bool raiseAgain = true);

    AnimatedPicture* WaitGif;

private:
    void FormCreate(const QWidget& mainWindow);
};

} // namespace vrax
