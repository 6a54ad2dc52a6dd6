#pragma once

#include <krm.h>

#include <QColor>
#include <QGraphicsPathItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QList>
#include <QString>

// One curve handed to the graph: an entry without curve draws no path, an entry without name no
// legend line.
struct CurveEntry {
    const krmToneCurve* curve = nullptr;  // borrowed
    QString name;
    QColor color;
    bool describe = false;  // the legend appends ": " and curve_description
    Qt::PenStyle penStyle = Qt::SolidLine;
};

// How the axes read: tick labels are the fraction of the axis times `scale` (1: 0.0 to 1.0,
// 100: 0 to 100), under the two titles.
struct CurveAxes {
    QString xTitle;
    QString yTitle;
    double scale = 1.0;
};

// Tone curves on a grid of tenths (0 at the lower left, 1 at the top and right), with titled
// axes, a title, a subtitle and a legend naming and describing each curve. Clicking a legend
// line hides or shows its curve; hovering the plot reads every shown curve at the pointer.
class CurveGraphScene : public QGraphicsScene
{
    Q_OBJECT

public:
    // The path of one curve through the plot's samples, values clamped to 0..1.
    class CurvePathItem : public QGraphicsPathItem
    {
    public:
        CurvePathItem(const krmToneCurve* curve, const QColor& color, Qt::PenStyle style, double plotWidth,
                      double plotHeight, int samples);

        const krmToneCurve* curve() const { return curve_; }
        QColor color() const { return color_; }
        int sampleCount() const { return samples_; }
        // The curve's value at sample i, as plotted.
        double sampleValue(int i) const;

    private:
        const krmToneCurve* curve_;
        QColor color_;
        double plotWidth_;
        double plotHeight_;
        int samples_;
    };

    CurveGraphScene(int width, int height, const QList<CurveEntry>& entries, int samples, const QString& title,
                    const QString& subtitle, QObject* parent = nullptr);

    // Axis titles and tick scale; "Input" and "Output" over 0..1 by default.
    void setAxes(const CurveAxes& axes);
    const CurveAxes& axes() const { return axes_; }
    // The tick labels of each axis, left to right and bottom to top.
    QStringList tickLabels() const;

    void setCurveVisible(int curve, bool visible);
    bool isCurveVisible(int curve) const;
    // The read-out for the plot position (scene coordinates): the input and the value of every
    // shown curve there; empty outside the plot.
    QString readoutAt(const QPointF& scenePos) const;
    QGraphicsSimpleTextItem* readoutItem() const { return readout_; }
    void showReadout(const QPointF& scenePos);

    double topMargin() const { return top_; }
    QRectF plotRect() const;
    const QList<CurvePathItem*>& pathItems() const { return paths_; }
    // The card behind the legend; null without named curves.
    QGraphicsRectItem* legendCard() const { return legendCard_; }

    // Tab-separated text: a header line "Input" and the legend names, then one line per plotted
    // sample with the input (0..1) and each curve's value as drawn.
    QString valuesText() const;

protected:
    void drawBackground(QPainter* painter, const QRectF& rect) override;

private:
    void add_paths();
    void add_legend();
    void draw_grid(QPainter* painter) const;
    void draw_titles(QPainter* painter) const;

    int width_;
    int height_;
    int samples_;
    QString title_;
    QString subtitle_;
    double top_ = 28.0;
    QList<CurveEntry> entries_;
    QList<CurvePathItem*> paths_;
    QList<int> pathEntries_;  // the entry of each path
    QList<QGraphicsTextItem*> legend_;
    QList<int> legendEntries_;
    CurveAxes axes_;
    QGraphicsSimpleTextItem* readout_ = nullptr;
    QGraphicsLineItem* cursor_ = nullptr;
    QGraphicsRectItem* legendCard_ = nullptr;
};

// The legend text of a curve: "Sampled, N points" with its estimated gamma, "Multisegmented", or
// the parametric type in brackets, its ICC function type where it has one, and its formula with
// the parameters filled in.
QString curve_description(const krmToneCurve* curve);
