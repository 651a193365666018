#pragma once

#include <QImage>
#include <QRegion>
#include <QWidget>

#include <map>

class QMovie;

namespace vrax {

// Plays an animation stretched to the control; pixels of the transparent colour are not
// drawn, so what lies behind the window shows through them.
class AnimatedPicture : public QWidget {
    Q_OBJECT

public:
    explicit AnimatedPicture(QWidget* parent = nullptr);

    void SetAnimation(const QString& fileName);
    QMovie* Animation() const { return movie_; }
    void SetTransparentColour(QRgb colour);

    // The frame with every pixel of exactly the key colour made fully transparent.
    static QImage ApplyColourKey(const QImage& frame, QRgb key);

    // The frame as drawn: keyed and stretched to the control.
    const QImage& ShownFrame() const { return shown_; }

signals:
    // The part of the control that the new frame covers, for shaping the window.
    void FrameShown(const QRegion& covered);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void TakeFrame();

    QMovie* movie_ = nullptr;
    QRgb transparentColour_ = qRgb(0, 0, 0);
    QImage shown_;
    // Each frame keyed, stretched and outlined once: the animation loops all shift long, and
    // a job's busy window must cost next to nothing per frame.
    struct KeyedFrame {
        QImage image;
        QRegion covered;
    };
    std::map<int, KeyedFrame> keyedFrames_;
};

} // namespace vrax
