#include "window/widgets/CurveGraphScene.h"

#include "window/widgets/ChannelVocabulary.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QGraphicsTextItem>
#include <QPainter>
#include <QPalette>
#include <QTextDocument>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kLeft = 40.0;
constexpr double kGridStep = 32.0;

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

}  // namespace

QString curve_description(const krmToneCurve* curve)
{
    if (!curve)
        return {};
    if (krmIsToneCurveMultisegment(curve))
        return QObject::tr("Multisegmented");

    const int type = krmGetToneCurveParametricType(curve);
    if (type == 0 || type == 1) {
        const double gamma = krmEstimateGamma(curve, 0.2);
        QString suffix;
        if (std::fabs(gamma - 1.0) < 0.001)
            suffix = QObject::tr(", Identity");
        else if (gamma > 0)
            suffix = QObject::tr(", \u03b3=%2").arg(gamma, 0, 'f', 2);
        return QObject::tr("Sampled, %1 points").arg(krmGetToneCurveEstimatedTableEntries(curve)) + suffix;
    }

    QString text = QStringLiteral("[%1]").arg(type);
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
    add_paths();
    add_legend();
}

QRectF CurveGraphScene::plotRect() const
{
    return QRectF(kLeft, top_, width_ - 41.0, height_ - top_ - 1.0);
}

void CurveGraphScene::add_paths()
{
    const QRectF plot = plotRect();
    for (const CurveEntry& entry : entries_) {
        if (!entry.curve)
            continue;
        auto* item = new CurvePathItem(entry.curve, entry.color, entry.penStyle, plot.width(), plot.height(), samples_);
        item->setPos(plot.topLeft());
        addItem(item);
        paths_.append(item);
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
    for (const CurveEntry& entry : entries_) {
        if (entry.name.isEmpty())
            continue;
        QString label = entry.name.toHtmlEscaped();
        if (entry.describe)
            label += QStringLiteral(": ") + curve_description(entry.curve);
        auto* text = new QGraphicsTextItem();
        text->document()->setDocumentMargin(0);
        text->setHtml(QStringLiteral("<span style='color: %1; font-size: 12pt; font-weight: bold;'>%2</span>")
                          .arg(palette.color(QPalette::Text).name(), label));
        text->setPos(126.0, y);
        text->setZValue(100);
        text->setAcceptedMouseButtons(Qt::NoButton);
        addItem(text);

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
    legend_ = addRect(QRectF(72.0, top - 6.0, right - 72.0 + 8.0, y - top + 10.0), QPen(palette.color(QPalette::Mid)),
                      QBrush(card));
    legend_->setZValue(99);
    legend_->setAcceptedMouseButtons(Qt::NoButton);
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
    const QColor color = grid_color();
    painter->setPen(QPen(color, 1.0));
    const double plotWidth = width_ - 41.0;
    const double plotHeight = height_ - 1.0 - top_;
    for (double x = 0; x < plotWidth; x += kGridStep)
        painter->drawLine(QLineF(kLeft + x, top_, kLeft + x, height_ - 1.0));
    for (double y = 0; y < plotHeight; y += kGridStep)
        painter->drawLine(QLineF(kLeft, top_ + y, width_ - 1.0, top_ + y));
    painter->drawLine(QLineF(width_ - 1.0, top_, width_ - 1.0, height_ - 1.0));
    painter->drawLine(QLineF(kLeft, height_ - 1.0, width_ - 1.0, height_ - 1.0));

    // The labels sit halfway between text and background: the grid colour itself is too faint
    // to read small print on either palette.
    const QPalette palette = QApplication::palette();
    const QColor text = palette.color(QPalette::Text);
    const QColor base = palette.color(QPalette::Base);
    painter->setPen(QColor((text.red() + base.red()) / 2, (text.green() + base.green()) / 2,
                           (text.blue() + base.blue()) / 2));
    const QFont font = scene_font(7, QFont::Normal);
    painter->setFont(font);
    const double h = QFontMetricsF(font).height();
    for (double x = kGridStep; x < plotWidth; x += kGridStep) {
        painter->save();
        painter->translate(kLeft + x, top_);
        painter->rotate(-45);
        painter->drawText(QPointF(2, -1), QString::number(std::lround(x / plotWidth * 65535.0)));
        painter->restore();
    }
    for (double y = 0; y <= plotHeight; y += kGridStep) {
        const QRectF box(0, top_ + y - h / 2, 37, h);
        painter->drawText(box, Qt::AlignRight | Qt::AlignVCenter,
                          QString::number(std::lround((1.0 - y / plotHeight) * 65535.0)));
    }
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
