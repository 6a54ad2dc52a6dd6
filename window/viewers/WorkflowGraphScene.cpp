#include "window/viewers/WorkflowGraphScene.h"

#include "window/widgets/ChannelVocabulary.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetricsF>
#include <QGraphicsEllipseItem>
#include <QGraphicsPixmapItem>
#include <QGraphicsSceneMouseEvent>
#include <QGraphicsTextItem>
#include <QImage>
#include <QPainterPathStroker>
#include <QPalette>
#include <QPen>
#include <QPixmap>
#include <QtMath>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kNodeHeight = 140.0;
constexpr double kRowPitch = 180.0;
constexpr double kGap = 60.0;
constexpr double kHeader = 35.0;
constexpr double kCorner = 8.0;
const QColor kLineGrey(150, 150, 150);

// Decorations show, but neither take the mouse nor get selected.
template <typename Item>
Item* passive(Item* item, double z)
{
    item->setZValue(z);
    item->setFlag(QGraphicsItem::ItemIsSelectable, false);
    item->setAcceptedMouseButtons(Qt::NoButton);
    return item;
}

QPointF left_mid(const QRectF& r) { return {r.left(), r.center().y()}; }
QPointF right_mid(const QRectF& r) { return {r.right(), r.center().y()}; }

}  // namespace

// ---------------------------------------------------------------------------------------------

WorkflowGraphScene::NodeBoxItem::NodeBoxItem(int nodeId, const QRectF& rect, const QColor& fill)
    : id_(nodeId), base_(fill)
{
    QPainterPath path;
    path.addRoundedRect(rect, kCorner, kCorner);
    setPath(path);
    setBrush(base_);
    setPen(QPen(QColor(80, 80, 85), 2.0));
    setZValue(1);
    setCursor(Qt::PointingHandCursor);
    setAcceptHoverEvents(true);
}

void WorkflowGraphScene::NodeBoxItem::setHovered(bool hovered)
{
    hovered_ = hovered;
    setBrush(hovered ? base_.lighter(120) : base_);
}

void WorkflowGraphScene::NodeBoxItem::hoverEnterEvent(QGraphicsSceneHoverEvent* event)
{
    setHovered(true);
    QGraphicsPathItem::hoverEnterEvent(event);
}

void WorkflowGraphScene::NodeBoxItem::hoverLeaveEvent(QGraphicsSceneHoverEvent* event)
{
    setHovered(false);
    QGraphicsPathItem::hoverLeaveEvent(event);
}

// ---------------------------------------------------------------------------------------------

WorkflowGraphScene::WorkflowGraphScene(int layoutMode, const QString& title, const QString& subtitle, QObject* parent)
    : QGraphicsScene(parent), mode_(layoutMode), title_(title), subtitle_(subtitle)
{
}

void WorkflowGraphScene::setNodes(const QList<WorkflowNode>& nodes)
{
    nodes_ = nodes;
    rebuild();
}

void WorkflowGraphScene::setEdgeTexts(const QStringList& texts)
{
    const bool first = edge_texts_.isEmpty() && !texts.isEmpty();
    edge_texts_ = texts;
    if (first)
        rebuild();
}

QList<QGraphicsItem*> WorkflowGraphScene::connectionItems(int index) const
{
    QList<QGraphicsItem*> found;
    for (QGraphicsItem* item : items(Qt::AscendingOrder)) {
        if (item->data(0).isValid() && item->data(0).toInt() == index)
            found << item;
    }
    return found;
}

QRectF WorkflowGraphScene::node_rect(int i) const
{
    if (mode_ == 0)
        return {0.0, kRowPitch * i, node_width_, kNodeHeight};
    const int n = int(nodes_.size());
    const int row = i / 4;
    const int k = std::min(4, n - 4 * row);
    const int j = i - 4 * row;
    const double pitch = node_width_ + kGap;
    const double start = (4 - k) * pitch;
    const double x = row % 2 == 0 ? start + j * pitch : start + (k - 1 - j) * pitch;
    return {x, kRowPitch * row, node_width_, kNodeHeight};
}

void WorkflowGraphScene::rebuild()
{
    hovered_ = nullptr;
    boxes_.clear();
    clear();
    emit hoverInfoDismissed();
    if (nodes_.isEmpty())
        return;

    node_width_ = 180.0;
    if (mode_ == 0) {
        const QFontMetricsF metrics(scene_font(10, QFont::Bold));
        node_width_ = 150.0;
        for (const WorkflowNode& node : nodes_)
            node_width_ = std::max(node_width_, metrics.horizontalAdvance(node.label) + 60.0);
    }

    const int n = int(nodes_.size());
    for (int i = 0; i + 1 < n; ++i)
        add_connection(i + 1, node_rect(i), node_rect(i + 1));
    for (int i = 0; i < n; ++i)
        add_box(nodes_[i], node_rect(i));

    if (!edge_texts_.isEmpty()) {
        add_dot(left_mid(node_rect(0)), 10.0, 0);
        const QRectF last = node_rect(n - 1);
        QPointF output;
        if (mode_ == 0)
            output = QPointF(last.center().x(), last.bottom());
        else
            output = ((n - 1) / 4) % 2 == 1 ? left_mid(last) : right_mid(last);
        add_dot(output, 10.0, n);
    }

    add_titles();

    const QRectF bounds = itemsBoundingRect();
    const QRectF frame = bounds.adjusted(-0.075 * bounds.width(), -0.075 * bounds.height(), 0.075 * bounds.width(),
                                         0.075 * bounds.height());
    QGraphicsRectItem* frameItem = addRect(frame, Qt::NoPen, Qt::NoBrush);
    passive(frameItem, -10);
    setSceneRect(frame);
}

void WorkflowGraphScene::add_connection(int index, const QRectF& from, const QRectF& to)
{
    const QPointF a = from.center();
    const QPointF b = to.center();
    QPointF s;
    QPointF e;
    bool rowChange = false;
    if (mode_ == 1) {
        if (std::fabs(a.y() - b.y()) < 70.0) {
            s = a.x() < b.x() ? right_mid(from) : left_mid(from);
            e = a.x() < b.x() ? left_mid(to) : right_mid(to);
        } else {
            s = right_mid(from);
            e = right_mid(to);
            rowChange = true;
        }
    } else if (b.y() > a.y()) {
        s = QPointF(from.center().x(), from.bottom());
        e = QPointF(to.center().x(), to.top());
    } else {
        s = QPointF(from.center().x(), from.top());
        e = QPointF(to.center().x(), to.bottom());
    }

    QPointF c1;
    QPointF c2;
    if (rowChange) {
        const double h = 0.33 * (e.y() - s.y());
        c1 = QPointF(s.x() + kGap, s.y() + h);
        c2 = QPointF(e.x() + kGap, e.y() - h);
    } else {
        const double d = (e.x() - s.x()) / 2;
        const double h = 0.25 * (e.y() - s.y());
        c1 = QPointF(s.x() + d, s.y() + h);
        c2 = QPointF(e.x() - d, e.y() - h);
    }

    QPainterPath curve(s);
    curve.cubicTo(c1, c2, e);
    QPen pen(kLineGrey, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    QGraphicsPathItem* line = addPath(curve, pen, Qt::NoBrush);
    line->setZValue(0);
    line->setAcceptHoverEvents(true);
    line->setData(0, index);

    // A wide, all but invisible stroke makes the thin line easy to hover.
    QPainterPathStroker stroker;
    stroker.setWidth(14);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    QGraphicsPathItem* hit = addPath(stroker.createStroke(curve), Qt::NoPen, QColor(0, 0, 0, 1));
    hit->setZValue(0.5);
    hit->setAcceptHoverEvents(true);
    hit->setAcceptedMouseButtons(Qt::NoButton);
    hit->setData(0, index);

    add_dot(s, 5.0, index);
    add_dot(e, 5.0, index);

    const QPointF direction = e - c2;
    const double length = std::hypot(direction.x(), direction.y());
    if (length >= 0.001) {
        const QPointF unit = direction / length;
        const QPointF normal(-unit.y(), unit.x());
        const QPointF base = e - unit * 12.0;
        const QPolygonF triangle({e, base + normal * 4.0, base - normal * 4.0});
        QGraphicsPolygonItem* arrow = addPolygon(triangle, Qt::NoPen, kLineGrey);
        arrow->setZValue(1);
        arrow->setAcceptHoverEvents(true);
        arrow->setData(0, index);
    }
}

void WorkflowGraphScene::add_dot(const QPointF& centre, double radius, int index)
{
    const QRectF disc(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    QGraphicsEllipseItem* shadow =
        addEllipse(disc.translated(2, 2), Qt::NoPen, QColor(0, 0, 0, is_dark_palette() ? 100 : 20));
    shadow->setZValue(1);
    shadow->setData(0, index);
    QGraphicsEllipseItem* dot = addEllipse(disc, QPen(QColor(120, 120, 120), 1.5), QColor(200, 200, 200));
    dot->setZValue(4);
    dot->setAcceptHoverEvents(true);
    dot->setData(0, index);
}

void WorkflowGraphScene::add_box(const WorkflowNode& node, const QRectF& rect)
{
    QPainterPath shadowPath;
    shadowPath.addRoundedRect(rect.translated(6, 6), kCorner, kCorner);
    QGraphicsPathItem* shadow = addPath(shadowPath, Qt::NoPen, QColor(0, 0, 0, is_dark_palette() ? 120 : 40));
    passive(shadow, 0);

    auto* box = new NodeBoxItem(node.id, rect, QColor(60, 60, 65));
    addItem(box);
    boxes_.append(box);

    // The header band: rounded at the top, square where it meets the body.
    QPainterPath band;
    band.setFillRule(Qt::WindingFill);
    band.addRoundedRect(QRectF(rect.left(), rect.top(), rect.width(), kHeader), kCorner, kCorner);
    band.addRect(QRectF(rect.left(), rect.top() + kHeader / 2, rect.width(), kHeader / 2));
    passive(addPath(band.simplified(), Qt::NoPen, node.color), 2);

    auto* label = passive(new QGraphicsSimpleTextItem(node.label), 3);
    label->setFont(scene_font(10, QFont::Bold));
    label->setBrush(Qt::white);
    const QRectF labelRect = label->boundingRect();
    label->setPos(rect.center().x() - labelRect.width() / 2, rect.top() + (kHeader - labelRect.height()) / 2);
    addItem(label);

    add_content(node, QRectF(rect.left() + 10, rect.top() + 45, rect.width() - 20, rect.height() - 55));
}

void WorkflowGraphScene::add_content(const WorkflowNode& node, const QRectF& body)
{
    if (node.content.canConvert<QImage>() && node.content.typeId() == QMetaType::QImage) {
        const QImage image = node.content.value<QImage>();
        if (image.isNull())
            return;
        const QPixmap scaled = QPixmap::fromImage(
            image.scaled(body.size().toSize(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
        auto* item = passive(new QGraphicsPixmapItem(scaled), 3);
        item->setTransformationMode(Qt::SmoothTransformation);
        item->setPos(body.center().x() - scaled.width() / 2.0, body.center().y() - scaled.height() / 2.0);
        addItem(item);
        return;
    }
    const QString text = node.content.toString();
    if (text.isEmpty())
        return;
    auto* item = passive(new QGraphicsTextItem(), 3);
    item->setDefaultTextColor(QColor(180, 180, 180));
    item->setTextWidth(body.width());
    if (text.contains(QLatin1Char('<')) && (text.contains(QStringLiteral("</")) || text.contains(QStringLiteral("/>")))) {
        item->setHtml(text);
    } else {
        item->setFont(scene_font(8, QFont::Normal));
        item->setPlainText(text);
    }
    item->setPos(body.topLeft());
    addItem(item);
}

void WorkflowGraphScene::add_titles()
{
    const QColor textColor = QApplication::palette().color(QPalette::Text);
    const auto centred_above = [this, &textColor](const QString& text, const QFont& font, double gap) {
        const QRectF bounds = itemsBoundingRect();
        auto* item = passive(new QGraphicsSimpleTextItem(text), 3);
        item->setFont(font);
        item->setBrush(textColor);
        const QRectF own = item->boundingRect();
        item->setPos(bounds.center().x() - own.width() / 2, bounds.top() - gap - own.height());
        addItem(item);
    };
    if (!subtitle_.isEmpty())
        centred_above(subtitle_, scene_font(13, QFont::Normal), 8.0);
    if (!title_.isEmpty())
        centred_above(title_, scene_font(22, QFont::Bold), subtitle_.isEmpty() ? 30.0 : 6.0);
}

WorkflowGraphScene::NodeBoxItem* WorkflowGraphScene::box_at(const QPointF& scenePos) const
{
    for (QGraphicsItem* item : items(scenePos)) {
        if (auto* box = dynamic_cast<NodeBoxItem*>(item))
            return box;
    }
    return nullptr;
}

int WorkflowGraphScene::connection_at(const QPointF& scenePos) const
{
    for (QGraphicsItem* item : items(scenePos)) {
        if (!item->data(0).isValid())
            continue;
        const int index = item->data(0).toInt();
        if (index >= 0 && index < edge_texts_.size() && !edge_texts_[index].isEmpty())
            return index;
    }
    return -1;
}

QPair<QString, QString> WorkflowGraphScene::hoverInfoAt(const QPointF& scenePos) const
{
    // The input and output dots sit half over their boxes: the whole dot gives its values.
    for (const QGraphicsItem* item : items(scenePos)) {
        if (item->type() != QGraphicsEllipseItem::Type || item->zValue() < 4 || !item->data(0).isValid())
            continue;
        const int index = item->data(0).toInt();
        if (index >= 0 && index < edge_texts_.size() && !edge_texts_[index].isEmpty())
            return {QString(), edge_texts_[index]};
    }
    if (const NodeBoxItem* box = box_at(scenePos)) {
        for (const WorkflowNode& node : nodes_) {
            if (node.id == box->nodeId())
                return {node.summary.isEmpty() ? QString() : node.label, node.summary};
        }
        return {};
    }
    const int index = connection_at(scenePos);
    return index >= 0 ? QPair<QString, QString>{QString(), edge_texts_[index]} : QPair<QString, QString>{};
}

void WorkflowGraphScene::mouseMoveEvent(QGraphicsSceneMouseEvent* event)
{
    QGraphicsScene::mouseMoveEvent(event);
    NodeBoxItem* box = box_at(event->scenePos());
    if (box != hovered_) {
        if (hovered_)
            hovered_->setHovered(false);
        if (box)
            box->setHovered(true);
        hovered_ = box;
    }
    const QPair<QString, QString> info = hoverInfoAt(event->scenePos());
    if (info.second.isEmpty())
        emit hoverInfoDismissed();
    else
        emit hoverInfoRequested(info.first, info.second, event->screenPos());
}

void WorkflowGraphScene::mousePressEvent(QGraphicsSceneMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        if (const NodeBoxItem* box = box_at(event->scenePos())) {
            emit nodeClicked(box->nodeId());
            event->accept();
            return;
        }
    }
    QGraphicsScene::mousePressEvent(event);
}
