#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>

// A classic hex dump, 16 bytes a line whatever the width: the file offset of each line, the
// hexadecimal pairs, and the same bytes as characters. A narrow view scrolls sideways. A mouse
// drag selects bytes for copying.
class HexViewer : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit HexViewer(QWidget* parent = nullptr);

    static constexpr int kBytesPerLine = 16;

    // `firstOffset` is where the bytes lie in the file: the offset column counts from there.
    void setData(const QByteArray& bytes, quint32 firstOffset = 0);
    quint32 firstOffset() const { return firstOffset_; }
    const QByteArray& data() const { return data_; }

    int bytesPerLine() const { return bytesPerLine_; }
    int charWidth() const { return charWidth_; }
    int lineHeight() const { return lineHeight_; }
    // The offset column ends where the hex pairs begin; the character column starts at hexAreaWidth().
    int offsetAreaWidth() const { return offsetAreaWidth_; }
    int hexAreaWidth() const { return hexAreaWidth_; }
    // The offset column's text for line `line`, as painted.
    QString offsetText(int line) const;
    int selectionStart() const { return selectionStart_; }
    int selectionEnd() const { return selectionEnd_; }
    // The selected bytes as "0A FF 10", in file order; empty without a selection.
    QString selectedText() const;

    // Byte index under a viewport point, -1 for none.
    int byteAt(const QPoint& point) const;

public slots:
    void copy();
    void select_all();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateMetrics();
    void updateLayout();
    void updateScrollRange();
    int lineCount() const;
    int visibleLines() const;

    QByteArray data_;
    quint32 firstOffset_ = 0;
    int bytesPerLine_ = kBytesPerLine;
    int offsetAreaWidth_ = 0;
    int charWidth_ = 0;
    int lineHeight_ = 0;
    int hexAreaWidth_ = 0;
    int textAreaWidth_ = 0;
    int selectionStart_ = -1;
    int selectionEnd_ = -1;
    bool dragging_ = false;
};
