#pragma once

#include "programming/StationState.h"

#include <QAbstractScrollArea>

#include <optional>

namespace vrax {

// A mouse's 2048 bytes, sixteen to a row, with the bytes that differ from a reference (the
// station's loaded image) marked, and the factory record area framed.
class HexView final : public QAbstractScrollArea {
    Q_OBJECT

public:
    static constexpr int BytesPerRow = 16;
    static constexpr int Rows = ImageSize / BytesPerRow;

    explicit HexView(QWidget* parent = nullptr);

    // No bytes: the view is empty. No reference: nothing is marked.
    void SetBytes(const std::optional<ImageBuffer>& bytes,
                  const std::optional<ImageBuffer>& reference);
    int DifferenceCount() const { return differences_; }
    bool Differs(int address) const;
    // The first differing address, or -1.
    int FirstDifference() const;
    void ScrollToAddress(int address);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int RowHeight() const;
    int CharWidth() const;
    void UpdateScrollRange();

    std::optional<ImageBuffer> bytes_;
    std::optional<ImageBuffer> reference_;
    int differences_ = 0;
};

} // namespace vrax
