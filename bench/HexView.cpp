#include "HexView.h"

#include "BenchLook.h"

#include <QFontDatabase>
#include <QPainter>
#include <QScrollBar>

namespace vrax {

namespace {

constexpr int HeaderRows = 1;
constexpr int Margin = 6;
// Columns in characters: address, gap, 16 bytes of three, gap, 16 characters.
constexpr int AddressColumns = 5;
constexpr int ByteColumn = AddressColumns + 2;
constexpr int TextColumn = ByteColumn + HexView::BytesPerRow * 3 + 1;
constexpr int TotalColumns = TextColumn + HexView::BytesPerRow;

bool InFactoryRecord(int address) {
    return address >= FactoryRecordAddress && address < FactoryRecordAddress + FactoryRecordSize;
}

} // namespace

HexView::HexView(QWidget* parent) : QAbstractScrollArea(parent) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(12);
    setFont(font);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    verticalScrollBar()->setSingleStep(1);
    UpdateScrollRange();
}

void HexView::SetBytes(const std::optional<ImageBuffer>& bytes,
                       const std::optional<ImageBuffer>& reference) {
    if (bytes == bytes_ && reference == reference_) {
        return;
    }
    bytes_ = bytes;
    reference_ = reference;
    differences_ = 0;
    if (bytes_ && reference_) {
        for (int i = 0; i < ImageSize; ++i) {
            differences_ += Differs(i) ? 1 : 0;
        }
    }
    viewport()->update();
}

bool HexView::Differs(int address) const {
    return bytes_ && reference_ && address >= 0 && address < ImageSize &&
           (*bytes_)[static_cast<std::size_t>(address)] !=
               (*reference_)[static_cast<std::size_t>(address)];
}

int HexView::FirstDifference() const {
    for (int i = 0; i < ImageSize; ++i) {
        if (Differs(i)) {
            return i;
        }
    }
    return -1;
}

void HexView::ScrollToAddress(int address) {
    verticalScrollBar()->setValue(address / BytesPerRow);
}

int HexView::RowHeight() const {
    return fontMetrics().height() + 2;
}

int HexView::CharWidth() const {
    return fontMetrics().horizontalAdvance(QLatin1Char('0'));
}

QSize HexView::sizeHint() const {
    return {Margin * 2 + TotalColumns * CharWidth() + verticalScrollBar()->sizeHint().width() + 4,
            RowHeight() * 12};
}

void HexView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollRange();
}

void HexView::UpdateScrollRange() {
    const int visibleRows = std::max(1, viewport()->height() / RowHeight() - HeaderRows);
    verticalScrollBar()->setPageStep(visibleRows);
    verticalScrollBar()->setRange(0, std::max(0, Rows - visibleRows));
}

void HexView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), BenchLook::HexBackground);
    const int rowHeight = RowHeight();
    const int charWidth = CharWidth();
    const int ascent = fontMetrics().ascent() + 1;
    const auto x = [&](int column) { return Margin + column * charWidth; };

    painter.fillRect(QRect(0, 0, viewport()->width(), rowHeight), BenchLook::HexHeader);
    painter.setPen(BenchLook::HexAddress);
    for (int column = 0; column < BytesPerRow; ++column) {
        painter.drawText(x(ByteColumn + column * 3), ascent,
                         QStringLiteral("+%1").arg(column, 0, 16).toUpper());
    }
    painter.drawText(x(0), ascent, QStringLiteral("addr"));

    if (!bytes_) {
        painter.setPen(BenchLook::TextDim);
        painter.drawText(x(ByteColumn), ascent + rowHeight * 2,
                         QStringLiteral("Select a mouse to see its memory."));
        return;
    }
    const int firstRow = verticalScrollBar()->value();
    const int visibleRows = viewport()->height() / rowHeight;
    for (int line = 0; line < visibleRows; ++line) {
        const int row = firstRow + line;
        if (row >= Rows) {
            break;
        }
        const int top = (line + HeaderRows) * rowHeight;
        painter.setPen(BenchLook::HexAddress);
        painter.drawText(
            x(0), top + ascent,
            QStringLiteral("%1").arg(row * BytesPerRow, 3, 16, QLatin1Char('0')).toUpper());
        for (int column = 0; column < BytesPerRow; ++column) {
            const int address = row * BytesPerRow + column;
            const std::uint8_t value = (*bytes_)[static_cast<std::size_t>(address)];
            const QRect cell(x(ByteColumn + column * 3) - charWidth / 2, top, charWidth * 3,
                             rowHeight);
            if (Differs(address)) {
                painter.fillRect(cell.adjusted(1, 1, -1, -1), BenchLook::Difference);
            }
            if (InFactoryRecord(address)) {
                painter.setPen(BenchLook::FactoryFrame);
                painter.drawLine(cell.bottomLeft(), cell.bottomRight());
            }
            painter.setPen(Differs(address)
                               ? BenchLook::DifferenceText
                               : (value == 0xFF ? BenchLook::TextDim : BenchLook::HexText));
            painter.drawText(x(ByteColumn + column * 3), top + ascent,
                             QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper());
            const QChar printable = value >= 0x20 && value < 0x7F ? QChar(value) : QChar('.');
            painter.setPen(Differs(address) ? BenchLook::Difference : BenchLook::TextDim);
            painter.drawText(x(TextColumn + column), top + ascent, QString(printable));
        }
    }
}

} // namespace vrax
