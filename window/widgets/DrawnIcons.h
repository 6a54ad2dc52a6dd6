#pragma once

#include <QColor>
#include <QPixmap>

class QPainter;
class QRectF;

// Small symbols painted with lines rather than taken from a font: a stock desktop's fonts lack
// some of the pictographs they stand for (the link "🔗", the information "🔁").

// Two chain links, diagonal, stroked in `color`, filling `box`.
void draw_link_marker(QPainter* painter, const QRectF& box, const QColor& color);

// Square pixmaps of `size` logical pixels at the device pixel ratio, transparent around the sign:
// a warning triangle with an exclamation mark, and a circled "i".
QPixmap warning_icon(int size, const QColor& color, qreal devicePixelRatio = 1.0);
QPixmap information_icon(int size, const QColor& color, qreal devicePixelRatio = 1.0);
