#pragma once

#include <QFrame>

struct RoundtripResult;
class QLabel;

// The numbers of one roundtrip sample, shown next to the clicked point of the 3D view: a frameless
// tool window that never takes the focus.
class RoundtripPointPopup : public QFrame
{
    Q_OBJECT

public:
    explicit RoundtripPointPopup(QWidget* view);

    // Fills the popup and places it beside `position` (view coordinates), inside the view.
    void show_point(const RoundtripResult& result, bool deviceRoundtrip, const QPoint& position);

    QLabel* titleLabel() const { return title_; }
    QLabel* sourceLabel() const { return source_; }
    QLabel* roundtripLabel() const { return roundtrip_; }
    QLabel* errorLabel() const { return error_; }
    QFrame* swatch() const { return swatch_; }

    // Top-left corner for a popup of `size` beside the global point `p`, kept inside `bounds`:
    // 14 pixels below right of the point, flipped to the other side at the right and bottom edges.
    static QPoint placement(const QPoint& p, const QSize& size, const QRect& bounds);

private:
    QWidget* view_;
    QFrame* swatch_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* source_ = nullptr;
    QLabel* roundtrip_ = nullptr;
    QLabel* error_ = nullptr;
};
