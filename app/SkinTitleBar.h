#pragma once

#include <QAbstractButton>
#include <QPoint>
#include <QWidget>

namespace vrax {

// A button of the title bar, drawn by the skin.
class TitleButton : public QAbstractButton {
    Q_OBJECT

public:
    enum class Glyph { Minimise, Close };

    TitleButton(Glyph glyph, QWidget* parent);
    Glyph GetGlyph() const { return glyph_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    Glyph glyph_;
    bool hovered_ = false;
};

// The window's own title bar: icon, caption, minimise and close. Dragging it moves the
// window; its icon and a right click open the system menu.
class SkinTitleBar : public QWidget {
    Q_OBJECT

public:
    explicit SkinTitleBar(QWidget* window);

    void SetCaption(const QString& caption);
    QString Caption() const { return caption_; }
    void SetIcon(const QPixmap& icon);

    TitleButton* MinimiseButton() const { return minimise_; }
    TitleButton* CloseButton() const { return close_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void ShowSystemMenu(const QPoint& globalPosition);
    QRect IconRect() const;

    QString caption_;
    QPixmap icon_;
    TitleButton* minimise_;
    TitleButton* close_;
    bool dragging_ = false;
    QPoint dragOffset_;
};

} // namespace vrax
