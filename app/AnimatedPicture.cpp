#include "AnimatedPicture.h"

#include <QBitmap>
#include <QMovie>
#include <QPainter>

namespace vrax {

AnimatedPicture::AnimatedPicture(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void AnimatedPicture::SetAnimation(const QString& fileName) {
    keyedFrames_.clear();
    delete movie_;
    movie_ = new QMovie(fileName, QByteArray(), this);
    movie_->setCacheMode(QMovie::CacheAll);
    connect(movie_, &QMovie::frameChanged, this, &AnimatedPicture::TakeFrame);
    movie_->jumpToFrame(0);
    TakeFrame();
}

void AnimatedPicture::SetTransparentColour(QRgb colour) {
    transparentColour_ = colour;
    keyedFrames_.clear();
}

QImage AnimatedPicture::ApplyColourKey(const QImage& frame, QRgb key) {
    QImage keyed = frame.convertToFormat(QImage::Format_ARGB32);
    const QRgb opaqueKey = key | 0xFF000000u;
    for (int y = 0; y < keyed.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(keyed.scanLine(y));
        for (int x = 0; x < keyed.width(); ++x) {
            if (line[x] == opaqueKey) {
                line[x] = 0;
            }
        }
    }
    return keyed;
}

void AnimatedPicture::TakeFrame() {
    // Keying and masking a frame nobody sees would cost the idle window CPU all shift long.
    if (!movie_ || (!isVisible() && !shown_.isNull())) {
        return;
    }
    auto cached = keyedFrames_.find(movie_->currentFrameNumber());
    if (cached == keyedFrames_.end()) {
        const QImage frame = movie_->currentImage();
        if (frame.isNull()) {
            return;
        }
        QImage keyed = ApplyColourKey(frame, transparentColour_);
        if (keyed.size() != size() && !size().isEmpty()) {
            keyed = keyed.scaled(size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
        }
        const QRegion covered(QBitmap::fromImage(keyed.createAlphaMask()));
        cached =
            keyedFrames_.emplace(movie_->currentFrameNumber(), KeyedFrame{keyed, covered}).first;
    }
    shown_ = cached->second.image;
    update();
    emit FrameShown(cached->second.covered);
}

void AnimatedPicture::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    TakeFrame();
}

void AnimatedPicture::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    keyedFrames_.clear();
    TakeFrame();
}

void AnimatedPicture::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (!shown_.isNull()) {
        painter.drawImage(rect(), shown_);
    }
}

} // namespace vrax
