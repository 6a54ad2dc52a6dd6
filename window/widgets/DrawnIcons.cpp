#include "window/widgets/DrawnIcons.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <functional>

namespace {

QPixmap paint_icon(int size, qreal ratio, const std::function<void(QPainter&, qreal)>& draw)
{
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter, qreal(size));
    return pixmap;
}

}  // namespace

void draw_link_marker(QPainter* painter, const QRectF& box, const QColor& color)
{
    const qreal side = std::min(box.width(), box.height());
    if (side <= 0)
        return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->translate(box.center());
    painter->rotate(-45);
    QPen pen(color, std::max(1.2, side / 9.0));
    pen.setCapStyle(Qt::RoundCap);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    // Two overlapping rounded links along the diagonal.
    const qreal length = side * 0.56;
    const qreal height = side * 0.32;
    const qreal radius = height / 2;
    painter->drawRoundedRect(QRectF(-side * 0.45, -height / 2, length, height), radius, radius);
    painter->drawRoundedRect(QRectF(side * 0.45 - length, -height / 2, length, height), radius, radius);
    painter->restore();
}

QPixmap warning_icon(int size, const QColor& color, qreal devicePixelRatio)
{
    return paint_icon(size, devicePixelRatio, [&color](QPainter& painter, qreal s) {
        const qreal line = std::max(1.5, s / 12.0);
        QPen pen(color, line);
        pen.setJoinStyle(Qt::RoundJoin);
        pen.setCapStyle(Qt::RoundCap);
        painter.setPen(pen);
        QPainterPath triangle;
        triangle.moveTo(s / 2, line);
        triangle.lineTo(s - line, s - line * 1.5);
        triangle.lineTo(line, s - line * 1.5);
        triangle.closeSubpath();
        painter.drawPath(triangle);
        // The exclamation mark: a bar and a dot.
        painter.drawLine(QPointF(s / 2, s * 0.36), QPointF(s / 2, s * 0.62));
        painter.setBrush(color);
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QPointF(s / 2, s * 0.76), line * 0.8, line * 0.8);
    });
}

QPixmap information_icon(int size, const QColor& color, qreal devicePixelRatio)
{
    return paint_icon(size, devicePixelRatio, [&color](QPainter& painter, qreal s) {
        const qreal line = std::max(1.5, s / 12.0);
        QPen pen(color, line);
        pen.setCapStyle(Qt::RoundCap);
        painter.setPen(pen);
        painter.drawEllipse(QRectF(line, line, s - 2 * line, s - 2 * line));
        // The "i": a dot over a bar.
        painter.drawLine(QPointF(s / 2, s * 0.44), QPointF(s / 2, s * 0.72));
        painter.setBrush(color);
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QPointF(s / 2, s * 0.30), line * 0.8, line * 0.8);
    });
}
