#include "SkinTitleBar.h"

#include "Skin.h"

#include <QContextMenuEvent>
#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace vrax {

TitleButton::TitleButton(Glyph glyph, QWidget* parent) : QAbstractButton(parent), glyph_(glyph) {
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(21, 18);
    setToolTip(glyph == Glyph::Minimise ? "Minimize" : "Close");
}

void TitleButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void TitleButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void TitleButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF face = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient gradient(face.topLeft(), face.bottomLeft());
    const bool close = glyph_ == Glyph::Close;
    QColor top = close ? QColor(236, 120, 96) : QColor(120, 160, 250);
    QColor bottom = close ? QColor(196, 52, 28) : QColor(20, 70, 215);
    if (isDown()) {
        std::swap(top, bottom);
    } else if (hovered_) {
        top = top.lighter(115);
        bottom = bottom.lighter(115);
    }
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    painter.setPen(QPen(QColor(255, 255, 255, 200), 1));
    painter.setBrush(gradient);
    painter.drawRoundedRect(face, 3, 3);

    painter.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::SquareCap));
    const QRectF glyph = face.adjusted(6, 5, -6, -5);
    if (close) {
        painter.drawLine(glyph.topLeft(), glyph.bottomRight());
        painter.drawLine(glyph.bottomLeft(), glyph.topRight());
    } else {
        painter.drawLine(QPointF(glyph.left(), glyph.bottom()),
                         QPointF(glyph.right() - 2, glyph.bottom()));
    }
}

SkinTitleBar::SkinTitleBar(QWidget* window) : QWidget(window) {
    setObjectName("TitleBar");
    setFocusPolicy(Qt::NoFocus);
    minimise_ = new TitleButton(TitleButton::Glyph::Minimise, this);
    minimise_->setObjectName("TitleMinimise");
    close_ = new TitleButton(TitleButton::Glyph::Close, this);
    close_->setObjectName("TitleClose");
    connect(minimise_, &QAbstractButton::clicked, window, &QWidget::showMinimized);
    connect(close_, &QAbstractButton::clicked, window, &QWidget::close);
}

void SkinTitleBar::SetCaption(const QString& caption) {
    caption_ = caption;
    update();
}

void SkinTitleBar::SetIcon(const QPixmap& icon) {
    icon_ = icon;
    update();
}

QRect SkinTitleBar::IconRect() const {
    return {5, (height() - 16) / 2, 16, 16};
}

void SkinTitleBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int top = (height() - close_->height()) / 2;
    close_->move(width() - close_->width() - 4, top);
    minimise_->move(close_->x() - minimise_->width() - 2, top);
}

void SkinTitleBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, Skin::TitleLight);
    gradient.setColorAt(0.55, Skin::TitleDark);
    gradient.setColorAt(1, Skin::TitleDark.darker(115));
    painter.fillRect(rect(), gradient);

    if (!icon_.isNull()) {
        painter.drawPixmap(IconRect(), icon_);
    }
    QFont font = Skin::DesignFont("Tahoma", 13, true);
    painter.setFont(font);
    const QRect textRect(IconRect().right() + 7, 0, minimise_->x() - IconRect().right() - 12,
                         height());
    painter.setPen(QColor(0, 20, 90));
    painter.drawText(textRect.translated(1, 1), Qt::AlignVCenter | Qt::AlignLeft, caption_);
    painter.setPen(Qt::white);
    painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, caption_);
}

void SkinTitleBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        if (IconRect().contains(event->position().toPoint())) {
            ShowSystemMenu(mapToGlobal(QPoint(0, height())));
            return;
        }
        QWidget* window = this->window();
        // A window manager moves the window itself and keeps it within the desktop's rules.
        if (window->windowHandle() && window->windowHandle()->startSystemMove()) {
            return;
        }
        dragging_ = true;
        dragOffset_ = event->globalPosition().toPoint() - window->frameGeometry().topLeft();
    }
    event->accept();
}

void SkinTitleBar::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_ && (event->buttons() & Qt::LeftButton)) {
        window()->move(event->globalPosition().toPoint() - dragOffset_);
    }
    event->accept();
}

void SkinTitleBar::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging_ = false;
    }
    event->accept();
}

void SkinTitleBar::contextMenuEvent(QContextMenuEvent* event) {
    ShowSystemMenu(event->globalPos());
}

void SkinTitleBar::ShowSystemMenu(const QPoint& globalPosition) {
    QMenu menu(this);
    QWidget* window = this->window();
    menu.addAction("Minimize", window, &QWidget::showMinimized);
    menu.addSeparator();
    QAction* close = menu.addAction("Close", window, &QWidget::close);
    close->setShortcut(QKeySequence("Alt+F4"));
    menu.exec(globalPosition);
}

} // namespace vrax
