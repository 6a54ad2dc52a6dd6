#include "window/widgets/CurveGraphScene.h"

#include "window/widgets/ChannelVocabulary.h"

#include "common/analysis/CurveFunctions.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QGraphicsSceneHoverEvent>
#include <QGraphicsSceneMouseEvent>
#include <QGraphicsTextItem>
#include <QPainter>
#include <QPalette>
#include <QTextDocument>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kLeft = 40.0;
constexpr int kDivisions = 10;

// Parametric formulas as shown in legends and stage summaries. The placeholders are filled in
// order with the first `stored` parameters and, when `threshold` is set, with -b/a, the input
// below which the curve is constant.
struct Formula {
    int type;
    const char* text;
    int stored;
    bool threshold;
};

const Formula kFormulas[] = {
    {1, "Y = X<sup>%1</sup>", 1, false},
    {2, "Y = (%2X + %3)<sup>%1</sup> (X \u2265 %4) | Y = 0 (X &lt; %4)", 3, true},
    {3, "Y = (%2X + %3)<sup>%1</sup> + %4 (X \u2265 %5) | Y = %4 (X &lt; %5)", 4, true},
    {4, "Y = (%2X + %3)<sup>%1</sup> (X \u2265 %5) | Y = %4X (X &lt; %5)", 5, false},
    {5, "Y = (%2X + %3)<sup>%1</sup> + %6 (X \u2265 %5) | Y = %4X + %7 (X &lt; %5)", 7, false},
    {6, "Y = (%2X + %3)<sup>%1</sup> + %4", 4, false},
    {7, "Y = %2\u00b7log(%3X<sup>%1</sup> + %4) + %5", 5, false},
    {8, "Y = %1\u00b7%2\u00b7(%3X<sup>%4</sup> + %5)", 5, false},
};

QString formula_text(const Formula& formula, const double params[])
{
    QString text = QString::fromUtf8(formula.text);
    const auto fill = [&text](double value) { text = text.arg(QString::number(value, 'g', 4)); };
    for (int i = 0; i < formula.stored; ++i)
        fill(params[i]);
    if (formula.threshold)
        fill(-params[2] / params[1]);
    return text;
}

double clamped_value(const krmToneCurve* curve, double x)
{
    const double y = krmEvalToneCurveFloat(curve, krmFloat32Number(x));
    // A curve giving no number at all is drawn on the floor rather than breaking the path.
    return std::isnan(y) ? 0.0 : std::clamp(y, 0.0, 1.0);
}

QColor halfway_text_color()
{
    // Halfway between text and background: the grid colour itself is too faint to read small
    // print on either palette.
    const QPalette palette = QApplication::palette();
    const QColor text = palette.color(QPalette::Text);
    const QColor base = palette.color(QPalette::Base);
    return QColor((text.red() + base.red()) / 2, (text.green() + base.green()) / 2, (text.blue() + base.blue()) / 2);
}

QString tick_text(double fraction, double scale)
{
    return scale == 1.0 ? QString::number(fraction, 'f', 1) : QString::number(std::lround(fraction * scale));
}

// A legend line that hides or shows its curve when clicked.
class LegendTextItem : public QGraphicsTextItem
{
public:
    LegendTextItem(CurveGraphScene* scene, int curve) : scene_(scene), curve_(curve)
    {
        setAcceptedMouseButtons(Qt::LeftButton);
        setCursor(Qt::PointingHandCursor);
        setToolTip(QObject::tr("Click to hide or show this curve"));
    }

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override
    {
        event->accept();
        scene_->setCurveVisible(curve_, !scene_->isCurveVisible(curve_));
    }

private:
    CurveGraphScene* scene_;
    int curve_;
};

// The plot area, taking hover moves for the read-out.
class PlotHoverItem : public QGraphicsRectItem
{
public:
    PlotHoverItem(CurveGraphScene* scene, const QRectF& rect) : QGraphicsRectItem(rect), scene_(scene)
    {
        setPen(Qt::NoPen);
        setBrush(Qt::NoBrush);
        setAcceptHoverEvents(true);
        setAcceptedMouseButtons(Qt::NoButton);
        setZValue(10);
    }

protected:
    void hoverMoveEvent(QGraphicsSceneHoverEvent* event) override { scene_->showReadout(event->scenePos()); }
    void hoverLeaveEvent(QGraphicsSceneHoverEvent*) override { scene_->showReadout(QPointF(-1, -1)); }

private:
    CurveGraphScene* scene_;
};

}  // namespace

QString curve_description(const krmToneCurve* curve)
{
    if (!curve)
        return {};
    if (krmIsToneCurveMultisegment(curve))
        return QObject::tr("Multisegmented");

    const int type = krmGetToneCurveParametricType(curve);
    if (type == 0) {
        const double gamma = krmEstimateGamma(curve, 0.2);
        QString suffix;
        if (std::fabs(gamma - 1.0) < 0.001)
            suffix = QObject::tr(", Identity");
        else if (gamma > 0)
            suffix = QObject::tr(", \u03b3=%2").arg(gamma, 0, 'f', 2);
        return QObject::tr("Sampled, %1 points").arg(krmGetToneCurveEstimatedTableEntries(curve)) + suffix;
    }

    // Named as prismet-cli tag names it: the engine's type, the ICC function type, the formula.
    QString text = QStringLiteral("[%1]").arg(type);
    if (icc_function_type(type) >= 0)
        text += QObject::tr(" ICC function type %1:").arg(icc_function_type(type));
    const krmCurveSegment* segment = krmGetToneCurveSegment(curve, 0);
    for (const Formula& formula : kFormulas) {
        if (formula.type == type && segment)
            text += QLatin1Char(' ') + formula_text(formula, segment->Params);
    }
    return text;
}

// ---------------------------------------------------------------------------------------------

CurveGraphScene::CurvePathItem::CurvePathItem(const krmToneCurve* curve, const QColor& color, Qt::PenStyle style,
                                              double plotWidth, double plotHeight, int samples)
    : curve_(curve), color_(color), plotWidth_(plotWidth), plotHeight_(plotHeight), samples_(std::max(samples, 2))
{
    QPainterPath path;
    for (int i = 0; i < samples_; ++i) {
        const QPointF point(plotWidth_ * i / (samples_ - 1), (1.0 - sampleValue(i)) * plotHeight_);
        if (i == 0)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
    setPath(path);
    QPen pen(color_, 2.0, style);
    setPen(pen);
    setZValue(50);
    setFlag(QGraphicsItem::ItemIsSelectable, false);
    setAcceptedMouseButtons(Qt::NoButton);
}

double CurveGraphScene::CurvePathItem::sampleValue(int i) const
{
    return clamped_value(curve_, double(i) / (samples_ - 1));
}

// ---------------------------------------------------------------------------------------------

CurveGraphScene::CurveGraphScene(int width, int height, const QList<CurveEntry>& entries, int samples,
                                 const QString& title, const QString& subtitle, QObject* parent)
    : QGraphicsScene(parent), width_(width), height_(height), samples_(samples), title_(title), subtitle_(subtitle),
      entries_(entries)
{
    setSceneRect(0, 0, width_, height_);
    setBackgroundBrush(QApplication::palette().color(QPalette::Base));
    if (!title_.isEmpty())
        top_ += 2 * QFontMetricsF(scene_font(22, QFont::Bold)).lineSpacing()
                + QFontMetricsF(scene_font(16, QFont::Bold)).lineSpacing();
    axes_ = CurveAxes{tr("Input"), tr("Output"), 1.0};
    add_paths();
    add_legend();

    const QRectF plot = plotRect();
    addItem(new PlotHoverItem(this, plot));
    cursor_ = addLine(QLineF(), QPen(halfway_text_color(), 1.0, Qt::DashLine));
    cursor_->setZValue(60);
    cursor_->hide();
    readout_ = addSimpleText(QString(), scene_font(9, QFont::Bold));
    readout_->setBrush(QApplication::palette().color(QPalette::Text));
    readout_->setZValue(110);
    readout_->hide();
}

void CurveGraphScene::setAxes(const CurveAxes& axes)
{
    axes_ = axes;
    update();
}

QStringList CurveGraphScene::tickLabels() const
{
    QStringList labels;
    for (int i = 0; i <= kDivisions; ++i)
        labels << tick_text(double(i) / kDivisions, axes_.scale);
    return labels;
}

void CurveGraphScene::setCurveVisible(int curve, bool visible)
{
    if (curve < 0 || curve >= entries_.size())
        return;
    for (int i = 0; i < paths_.size(); ++i)
        if (pathEntries_[i] == curve)
            paths_[i]->setVisible(visible);
    for (int i = 0; i < legend_.size(); ++i)
        if (legendEntries_[i] == curve)
            legend_[i]->setOpacity(visible ? 1.0 : 0.35);
}

bool CurveGraphScene::isCurveVisible(int curve) const
{
    for (int i = 0; i < paths_.size(); ++i)
        if (pathEntries_[i] == curve)
            return paths_[i]->isVisible();
    return false;
}

QString CurveGraphScene::readoutAt(const QPointF& scenePos) const
{
    const QRectF plot = plotRect();
    if (!plot.contains(scenePos) || plot.width() <= 0)
        return {};
    const double x = std::clamp((scenePos.x() - plot.left()) / plot.width(), 0.0, 1.0);
    const int decimals = axes_.scale == 1.0 ? 3 : 1;
    QStringList parts{QStringLiteral("%1 %2").arg(axes_.xTitle, QString::number(x * axes_.scale, 'f', decimals))};
    for (int i = 0; i < paths_.size(); ++i) {
        if (!paths_[i]->isVisible())
            continue;
        const CurveEntry& entry = entries_[pathEntries_[i]];
        const QString name = entry.name.isEmpty() ? tr("Curve %1").arg(i + 1) : entry.name;
        parts << QStringLiteral("%1 %2").arg(name, QString::number(clamped_value(entry.curve, x) * axes_.scale, 'f',
                                                                   decimals));
    }
    return parts.join(QStringLiteral("   "));
}

void CurveGraphScene::showReadout(const QPointF& scenePos)
{
    const QString text = readoutAt(scenePos);
    if (text.isEmpty()) {
        readout_->hide();
        cursor_->hide();
        return;
    }
    const QRectF plot = plotRect();
    cursor_->setLine(QLineF(scenePos.x(), plot.top(), scenePos.x(), plot.bottom()));
    cursor_->show();
    readout_->setText(text);
    // Along the bottom of the plot, kept inside it.
    const QRectF box = readout_->boundingRect();
    const double x = std::clamp(scenePos.x() + 8.0, plot.left() + 4.0, plot.right() - box.width() - 4.0);
    readout_->setPos(x, plot.bottom() - box.height() - 4.0);
    readout_->show();
}

QRectF CurveGraphScene::plotRect() const
{
    return QRectF(kLeft, top_, width_ - 41.0, height_ - top_ - 1.0);
}

void CurveGraphScene::add_paths()
{
    const QRectF plot = plotRect();
    for (int e = 0; e < entries_.size(); ++e) {
        const CurveEntry& entry = entries_[e];
        if (!entry.curve)
            continue;
        auto* item = new CurvePathItem(entry.curve, entry.color, entry.penStyle, plot.width(), plot.height(), samples_);
        item->setPos(plot.topLeft());
        addItem(item);
        paths_.append(item);
        pathEntries_.append(e);
    }
}

void CurveGraphScene::add_legend()
{
    // The names are written in the text colour on a card of the base colour, so curves running
    // behind stay out of the way and a yellow ink stays readable on a light palette; the line
    // before each name carries the curve's colour.
    const QPalette palette = QApplication::palette();
    const double top = top_ + 16.0;
    double y = top;
    double right = 0.0;
    for (int e = 0; e < entries_.size(); ++e) {
        const CurveEntry& entry = entries_[e];
        if (entry.name.isEmpty())
            continue;
        QString label = entry.name.toHtmlEscaped();
        if (entry.describe)
            label += QStringLiteral(": ") + curve_description(entry.curve);
        // Curves that coincide (equal R, G and B) can be told apart by hiding some.
        QGraphicsTextItem* text = nullptr;
        if (entry.curve) {
            text = new LegendTextItem(this, e);
        } else {
            text = new QGraphicsTextItem();
            text->setAcceptedMouseButtons(Qt::NoButton);
        }
        text->document()->setDocumentMargin(0);
        text->setHtml(QStringLiteral("<span style='color: %1; font-size: 12pt; font-weight: bold;'>%2</span>")
                          .arg(palette.color(QPalette::Text).name(), label));
        text->setPos(126.0, y);
        text->setZValue(100);
        addItem(text);
        legend_.append(text);
        legendEntries_.append(e);

        const double h = text->boundingRect().height();
        right = std::max(right, 126.0 + text->boundingRect().width());
        QPen pen(entry.color, 4.0, entry.penStyle);
        QGraphicsLineItem* line = addLine(80.0, y + h / 2, 116.0, y + h / 2, pen);
        line->setZValue(100);
        line->setAcceptedMouseButtons(Qt::NoButton);
        y += h + 2.0;
    }
    if (y == top)
        return;
    QColor card = palette.color(QPalette::Base);
    card.setAlpha(235);
    legendCard_ = addRect(QRectF(72.0, top - 6.0, right - 72.0 + 8.0, y - top + 10.0),
                          QPen(palette.color(QPalette::Mid)), QBrush(card));
    legendCard_->setZValue(99);
    legendCard_->setAcceptedMouseButtons(Qt::NoButton);
}

QString CurveGraphScene::valuesText() const
{
    QStringList header{tr("Input")};
    int unnamed = 0;
    for (const CurveEntry& entry : entries_) {
        if (entry.curve)
            header << (entry.name.isEmpty() ? tr("Curve %1").arg(++unnamed) : entry.name);
    }
    QStringList lines{header.join(QLatin1Char('\t'))};
    for (int i = 0; i < samples_; ++i) {
        QStringList cells{QString::number(double(i) / (samples_ - 1), 'f', 6)};
        for (const CurvePathItem* item : paths_)
            cells << QString::number(item->sampleValue(i), 'f', 6);
        lines << cells.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void CurveGraphScene::drawBackground(QPainter* painter, const QRectF& rect)
{
    QGraphicsScene::drawBackground(painter, rect);
    painter->save();
    draw_grid(painter);
    draw_titles(painter);
    painter->restore();
}

void CurveGraphScene::draw_grid(QPainter* painter) const
{
    const QRectF plot = plotRect();
    painter->setPen(QPen(grid_color(), 1.0));
    for (int i = 0; i <= kDivisions; ++i) {
        const double x = plot.left() + plot.width() * i / kDivisions;
        const double y = plot.top() + plot.height() * i / kDivisions;
        painter->drawLine(QLineF(x, plot.top(), x, plot.bottom()));
        painter->drawLine(QLineF(plot.left(), y, plot.right(), y));
    }

    painter->setPen(halfway_text_color());
    const QFont font = scene_font(7, QFont::Normal);
    painter->setFont(font);
    const QFontMetricsF metrics(font);
    const double h = metrics.height();
    const QStringList labels = tickLabels();
    // Input ticks along the top edge (the bottom is the plot's own), output ticks on the left.
    for (int i = 0; i <= kDivisions; ++i) {
        const double x = plot.left() + plot.width() * i / kDivisions;
        const double w = metrics.horizontalAdvance(labels[i]);
        const double left = std::clamp(x - w / 2, plot.left(), plot.right() - w);
        painter->drawText(QPointF(left, plot.top() - 3.0 - metrics.descent()), labels[i]);
        const double y = plot.bottom() - plot.height() * i / kDivisions;
        const double top = std::clamp(y - h / 2, plot.top(), plot.bottom() - h);
        painter->drawText(QRectF(0, top, kLeft - 3.0, h), Qt::AlignRight | Qt::AlignVCenter, labels[i]);
    }

    // Axis titles: the input's above its ticks, the output's turned along the left edge.
    const QFont titleFont = scene_font(8, QFont::Bold);
    painter->setFont(titleFont);
    const QFontMetricsF titleMetrics(titleFont);
    painter->drawText(QPointF(plot.center().x() - titleMetrics.horizontalAdvance(axes_.xTitle) / 2,
                              plot.top() - 4.0 - h - titleMetrics.descent()),
                      axes_.xTitle);
    painter->save();
    painter->translate(titleMetrics.ascent(), plot.center().y() + titleMetrics.horizontalAdvance(axes_.yTitle) / 2);
    painter->rotate(-90);
    painter->drawText(QPointF(0, 0), axes_.yTitle);
    painter->restore();
}

void CurveGraphScene::draw_titles(QPainter* painter) const
{
    if (title_.isEmpty() && subtitle_.isEmpty())
        return;
    const QFont titleFont = scene_font(22, QFont::Bold);
    const QFont subtitleFont = scene_font(16, QFont::Normal);
    const QFontMetricsF titleMetrics(titleFont);
    const QFontMetricsF subtitleMetrics(subtitleFont);
    const double subtitleHeight = subtitle_.isEmpty() ? 0.0 : subtitleMetrics.height();
    const double offset = (top_ - subtitleHeight - titleMetrics.height() - 28.0) / 2;
    painter->setPen(QApplication::palette().color(QPalette::Text));
    if (!title_.isEmpty()) {
        painter->setFont(titleFont);
        const double x = (width_ - titleMetrics.horizontalAdvance(title_)) / 2;
        painter->drawText(QPointF(x, titleMetrics.ascent() + offset), title_);
    }
    if (!subtitle_.isEmpty()) {
        painter->setFont(subtitleFont);
        const double x = (width_ - subtitleMetrics.horizontalAdvance(subtitle_)) / 2;
        painter->drawText(QPointF(x, titleMetrics.lineSpacing() + offset + subtitleMetrics.ascent()), subtitle_);
    }
}
