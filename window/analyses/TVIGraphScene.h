#pragma once

#include <QColor>
#include <QGraphicsScene>
#include <QList>
#include <QString>

#include <vector>

class QGraphicsPathItem;

// One ink's estimated dot gain: the tone value increase in percentage points at nominal 0, 1,
// ... 100 %.
struct DotGainCurve {
    QString name;
    QColor color;
    std::vector<double> values;
};

// The dot gain curves over the nominal ink amount, with a legend above the plot and a vertical
// range that always shows 0.
class TVIGraphScene : public QGraphicsScene
{
    Q_OBJECT

public:
    TVIGraphScene(const QList<DotGainCurve>& curves, const QString& subtitle, QObject* parent = nullptr);

    QRectF plotRect() const { return plot_; }
    double rangeLow() const { return lo_; }
    double rangeHigh() const { return hi_; }
    const QList<QGraphicsPathItem*>& curveItems() const { return paths_; }

private:
    QRectF plot_;
    double lo_ = 0.0;
    double hi_ = 0.0;
    QList<QGraphicsPathItem*> paths_;
};
