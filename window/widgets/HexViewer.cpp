#include "window/widgets/HexViewer.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

HexViewer::HexViewer(QWidget* parent)
    : QAbstractScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);

    QFont font(QStringLiteral("Courier New"), 10);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    setFont(font);
    updateMetrics();

    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    viewport()->setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    updateLayout();
}

void HexViewer::updateMetrics()
{
    const QFontMetrics metrics(font());
    charWidth_ = metrics.horizontalAdvance(QLatin1Char('X'));
    lineHeight_ = metrics.height();
}

void HexViewer::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateMetrics();
        updateLayout();
        viewport()->update();
    }
}

void HexViewer::setData(const QByteArray& bytes, quint32 firstOffset)
{
    data_ = bytes;
    firstOffset_ = firstOffset;
    selectionStart_ = -1;
    selectionEnd_ = -1;
    dragging_ = false;
    updateScrollRange();
    viewport()->update();
}

QString HexViewer::offsetText(int line) const
{
    return QStringLiteral("%1").arg(firstOffset_ + quint32(line * bytesPerLine_), 8, 16, QLatin1Char('0')).toUpper();
}

void HexViewer::updateLayout()
{
    // Offsets are compared with the directory and with other dumps: a fixed 16 bytes a line keeps
    // them round whatever the width. Eight hex digits and two blanks, the pairs, then the text.
    const int c = charWidth_;
    offsetAreaWidth_ = 9 * c;
    hexAreaWidth_ = offsetAreaWidth_ + c * (3 * bytesPerLine_ + 1);
    textAreaWidth_ = c * (bytesPerLine_ + 2);
    updateScrollRange();
}

int HexViewer::lineCount() const
{
    return (int(data_.size()) + bytesPerLine_ - 1) / bytesPerLine_;
}

int HexViewer::visibleLines() const
{
    return lineHeight_ > 0 ? viewport()->height() / lineHeight_ : 0;
}

void HexViewer::updateScrollRange()
{
    const int page = visibleLines();
    verticalScrollBar()->setPageStep(std::max(1, page));
    verticalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setRange(0, std::max(0, lineCount() - page));
    const int width = hexAreaWidth_ + textAreaWidth_;
    horizontalScrollBar()->setPageStep(std::max(1, viewport()->width()));
    horizontalScrollBar()->setSingleStep(std::max(1, charWidth_));
    horizontalScrollBar()->setRange(0, std::max(0, width - viewport()->width()));
}

void HexViewer::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateLayout();
    viewport()->update();
}

void HexViewer::paintEvent(QPaintEvent*)
{
    if (data_.isEmpty())
        return;

    QPainter painter(viewport());
    painter.setFont(font());
    const QPalette& pal = palette();
    const int first = verticalScrollBar()->value();
    const int last = std::min(lineCount(), first + visibleLines() + 1);
    const int low = std::min(selectionStart_, selectionEnd_);
    const int high = std::max(selectionStart_, selectionEnd_);
    const int c = charWidth_;
    painter.translate(-horizontalScrollBar()->value(), 0);

    for (int line = first; line < last; ++line) {
        const int y = (line - first + 1) * lineHeight_;
        painter.setPen(pal.color(QPalette::PlaceholderText));
        painter.drawText(0, y, offsetText(line));
        for (int i = 0; i < bytesPerLine_; ++i) {
            const int index = line * bytesPerLine_ + i;
            if (index >= data_.size())
                break;
            const auto byte = static_cast<unsigned char>(data_[index]);
            const int hexX = offsetAreaWidth_ + c * (3 * i + 1);
            const int charX = hexAreaWidth_ + c * (i + 1);
            const bool selected = low >= 0 && index >= low && index <= high;
            if (selected) {
                const QBrush highlight = pal.brush(QPalette::Highlight);
                painter.fillRect(QRect(hexX, y - lineHeight_ + 2, 3 * c, lineHeight_), highlight);
                painter.fillRect(QRect(charX, y - lineHeight_ + 2, c, lineHeight_), highlight);
                painter.setPen(pal.color(QPalette::HighlightedText));
            } else {
                painter.setPen(pal.color(QPalette::WindowText));
            }
            painter.drawText(hexX, y, QStringLiteral("%1 ").arg(byte, 2, 16, QLatin1Char('0')).toUpper());
            const QChar shown = (byte >= 0x20 && byte <= 0x7E) ? QChar(byte) : QLatin1Char('.');
            painter.drawText(charX, y, QString(shown));
        }
    }
}

int HexViewer::byteAt(const QPoint& point) const
{
    if (data_.isEmpty() || charWidth_ <= 0 || lineHeight_ <= 0)
        return -1;
    const int c = charWidth_;
    const int x = point.x() + horizontalScrollBar()->value();
    int column;
    if (x >= offsetAreaWidth_ + c && x < hexAreaWidth_)
        column = (x - c - offsetAreaWidth_) / (3 * c);
    else if (x >= hexAreaWidth_ + c)
        column = (x - c - hexAreaWidth_) / c;
    else
        return -1;
    if (column < 0 || column >= bytesPerLine_)
        return -1;
    // A drag above the viewport stops at the first shown line instead of a negative index.
    const int line = verticalScrollBar()->value() + std::max(0, point.y()) / lineHeight_;
    return std::min(column + bytesPerLine_ * line, int(data_.size()) - 1);
}

void HexViewer::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        const int index = byteAt(event->position().toPoint());
        if (index >= 0) {
            selectionStart_ = index;
            selectionEnd_ = index;
            dragging_ = true;
            viewport()->update();
            event->accept();
            return;
        }
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void HexViewer::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging_) {
        const int index = byteAt(event->position().toPoint());
        if (index >= 0 && index != selectionEnd_) {
            selectionEnd_ = index;
            viewport()->update();
        }
    }
    QAbstractScrollArea::mouseMoveEvent(event);
}

void HexViewer::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && dragging_) {
        dragging_ = false;
        event->accept();
        return;
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

QString HexViewer::selectedText() const
{
    if (selectionStart_ < 0 || selectionEnd_ < 0)
        return QString();
    const int low = std::min(selectionStart_, selectionEnd_);
    const int high = std::min<int>(std::max(selectionStart_, selectionEnd_), int(data_.size()) - 1);
    QStringList pairs;
    for (int i = low; i <= high; ++i)
        pairs << QStringLiteral("%1").arg(static_cast<unsigned char>(data_[i]), 2, 16, QLatin1Char('0')).toUpper();
    return pairs.join(QLatin1Char(' '));
}

void HexViewer::copy()
{
    if (selectionStart_ < 0 || selectionEnd_ < 0)
        return;
    QApplication::clipboard()->setText(selectedText());
}

void HexViewer::select_all()
{
    if (data_.isEmpty())
        return;
    selectionStart_ = 0;
    selectionEnd_ = int(data_.size()) - 1;
    viewport()->update();
}

void HexViewer::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* copyAction = menu.addAction(QIcon::fromTheme(QStringLiteral("edit-copy")), tr("&Copy"));
    copyAction->setShortcut(QKeySequence::Copy);
    connect(copyAction, &QAction::triggered, this, &HexViewer::copy);
    menu.exec(event->globalPos());
}

void HexViewer::keyPressEvent(QKeyEvent* event)
{
    if (event == QKeySequence::Copy) {
        copy();
        event->accept();
        return;
    }
    if (event == QKeySequence::SelectAll) {
        select_all();
        event->accept();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}
