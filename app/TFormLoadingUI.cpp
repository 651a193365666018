#include "TFormLoadingUI.h"

#include "AnimatedPicture.h"

#include <QMovie>
#include <QRegion>

namespace vrax {

TFormLoadingUI::TFormLoadingUI(QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                              Qt::WindowDoesNotAcceptFocus) {
    setObjectName("FormLoadingUI");
    setWindowTitle("FormLoadingUI");
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowOpacity(1.0);
    setFixedSize(ClientWidth, ClientHeight);

    WaitGif = new AnimatedPicture(this);
    WaitGif->setObjectName("WaitGif");
    WaitGif->setGeometry(0, 0, 200, 192);
    WaitGif->SetTransparentColour(qRgb(0, 0, 0));
    // Without a compositor the translucency shows black; the shape keeps the key honest there.
    connect(WaitGif, &AnimatedPicture::FrameShown, this,
            [this](const QRegion& covered) { setMask(covered.translated(WaitGif->pos())); });
    WaitGif->SetAnimation(":/artwork/wait.gif");

    FormCreate(*mainWindow);
}

QPoint TFormLoadingUI::CreationPosition(const QRect& mainFrame, QSize ownSize) {
    return {(mainFrame.width() - ownSize.width()) / 2 + mainFrame.left(),
            (mainFrame.height() - ownSize.height()) / 2 + mainFrame.top() + 40};
}

QPoint TFormLoadingUI::CentredPosition(const QRect& mainFrame, QSize ownSize) {
    return {mainFrame.left() + (mainFrame.width() - ownSize.width()) / 2,
            mainFrame.top() + (mainFrame.height() - ownSize.height()) / 2};
}

void TFormLoadingUI::FormCreate(const QWidget& mainWindow) {
    move(CreationPosition(mainWindow.frameGeometry(), frameGeometry().size()));
    WaitGif->Animation()->start();
}

void TFormLoadingUI::ShowCentredOver(const QWidget& mainWindow, bool raiseAgain) {
    move(CentredPosition(mainWindow.frameGeometry(), frameGeometry().size()));
    const bool wasVisible = isVisible();
    show();
    if (raiseAgain || !wasVisible) {
        raise();
    }
}

} // namespace vrax
