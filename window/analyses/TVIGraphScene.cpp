#include "window/analyses/TVIGraphScene.h"

#include "window/widgets/ChannelVocabulary.h"

#include <QApplication>
#include <QGraphicsLineItem>
#include <QGraphicsPathItem>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsTextItem>
#include <QPainterPath>
#include <QPalette>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kSceneWidth = 1024.0;
constexpr double kLegendLeft = 76.0;
constexpr double kLegendRight = 1004.0;

QGraphicsSimpleTextItem* add_text(QGraphicsScene* scene, const QString& text, const QFont& font, const QColor& color)
{
    auto* item = scene->addSimpleText(text, font);
    item->setBrush(color);
    return item;
}

}  // namespace

TVIGraphScene::TVIGraphScene(const QList<DotGainCurve>& curves, const QString& subtitle, QObject* parent)
    : QGraphicsScene(parent)
{
    const QPalette palette = QApplication::palette();
    const QColor text = palette.color(QPalette::Text);
    const QColor grid = grid_color();
    setBackgroundBrush(palette.color(QPalette::Base));

    // Legend rows, wrapping before a name that would run past the right edge.
    double x = kLegendLeft;
    double y = 62.0;
    double rowHeight = 0.0;
    for (const DotGainCurve& curve : curves) {
        auto* label = new QGraphicsTextItem();
        label->setFont(scene_font(10, QFont::Bold));
        label->setDefaultTextColor(curve.color);
        label->setPlainText(curve.name);
        if (label->boundingRect().width() > 882.0)
            label->setTextWidth(882.0);
        addItem(label);
        const double w = label->boundingRect().width();
        const double th = label->boundingRect().height();
        if (x > kLegendLeft && x + w + 42.0 > kLegendRight) {
            x = kLegendLeft;
            y += rowHeight + 4.0;
            rowHeight = 0.0;
        }
        label->setPos(x + 34.0, y);
        addLine(x, y + th / 2.0, x + 28.0, y + th / 2.0, QPen(curve.color, 2.0));
        x += w + 42.0;
        rowHeight = std::max(rowHeight, th);
    }

    const double top = std::max(86.0, y + rowHeight + 4.0);
    const double height = top + 426.0;
    setSceneRect(0, 0, kSceneWidth, height);
    plot_ = QRectF(64.0, top, 940.0, height - top - 42.0);

    lo_ = 0.0;
    hi_ = 0.0;
    for (const DotGainCurve& curve : curves) {
        for (double v : curve.values) {
            lo_ = std::min(lo_, v);
            hi_ = std::max(hi_, v);
        }
    }
    lo_ = std::floor(lo_ / 5.0) * 5.0;
    hi_ = std::ceil(hi_ / 5.0) * 5.0;
    if (hi_ - lo_ < 10.0) {
        lo_ = std::min(lo_, -5.0);
        hi_ = std::max(hi_, 5.0);
    }

    const QPen gridPen(grid, 1.0);
    const QFont small = scene_font(8, QFont::Normal);
    for (int i = 0; i <= 10; ++i) {
        const double gx = plot_.left() + plot_.width() * i / 10.0;
        const double gy = plot_.top() + plot_.height() * i / 10.0;
        addLine(gx, plot_.top(), gx, plot_.bottom(), gridPen);
        addLine(plot_.left(), gy, plot_.right(), gy, gridPen);
        auto* xLabel = add_text(this, QString::number(i * 10), small, grid);
        xLabel->setPos(gx - xLabel->boundingRect().width() / 2.0, plot_.bottom() + 4.0);
        auto* yLabel = add_text(this, QString::number(hi_ - (hi_ - lo_) * i / 10.0, 'f', 1), small, grid);
        yLabel->setPos(plot_.left() - 6.0 - yLabel->boundingRect().width(), gy - yLabel->boundingRect().height() / 2.0);
    }
    if (lo_ < 0.0 && hi_ > 0.0) {
        const double zero = plot_.bottom() - plot_.height() * (-lo_ / (hi_ - lo_));
        addLine(plot_.left(), zero, plot_.right(), zero, QPen(grid, 2.0));
    }

    for (const DotGainCurve& curve : curves) {
        const std::size_t count = curve.values.size();
        if (count < 2)
            continue;
        QPainterPath path;
        for (std::size_t j = 0; j < count; ++j) {
            const QPointF p(plot_.left() + plot_.width() * double(j) / double(count - 1),
                            plot_.bottom() - plot_.height() * (curve.values[j] - lo_) / (hi_ - lo_));
            if (j == 0)
                path.moveTo(p);
            else
                path.lineTo(p);
        }
        QGraphicsPathItem* item = addPath(path, QPen(curve.color, 2.0), Qt::NoBrush);
        paths_ << item;
    }

    auto* title = add_text(this, tr("Estimated dot gain"), scene_font(22, QFont::Bold), text);
    title->setPos((kSceneWidth - title->boundingRect().width()) / 2.0, 2.0);
    auto* sub = add_text(this, subtitle, scene_font(12, QFont::Normal), text);
    sub->setPos((kSceneWidth - sub->boundingRect().width()) / 2.0, 34.0);

    const QFont axisFont = scene_font(9, QFont::Normal);
    auto* xTitle = add_text(this, tr("Nominal ink (%)"), axisFont, grid);
    xTitle->setPos(plot_.right() - xTitle->boundingRect().width(), plot_.bottom() + 20.0);
    auto* yTitle = add_text(this, tr("Total tone value increase (percentage points)"), axisFont, grid);
    yTitle->setRotation(-90.0);
    yTitle->setPos(3.0, plot_.bottom());
}
