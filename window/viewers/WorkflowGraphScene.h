#pragma once

#include <QColor>
#include <QGraphicsPathItem>
#include <QGraphicsScene>
#include <QList>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QVariant>

// One box of the graph: a stage of a pipeline.
struct WorkflowNode {
    int id = 0;          // stage index, from 0
    QString label;       // header text
    QString summary;     // HTML for the hover popup; empty dismisses it
    QColor color;        // header band
    QVariant content;    // a QImage drawn scaled, or a QString drawn as text
};

// Boxes joined by arrows, in one column (mode 0) or in rows of four that snake left to right and
// back (mode 1). Hovering a box asks for its summary, hovering a connection for its edge text;
// clicking a box reports its id.
class WorkflowGraphScene : public QGraphicsScene
{
    Q_OBJECT

public:
    class NodeBoxItem : public QGraphicsPathItem
    {
    public:
        NodeBoxItem(int nodeId, const QRectF& rect, const QColor& fill);

        int nodeId() const { return id_; }
        bool isHovered() const { return hovered_; }
        void setHovered(bool hovered);

    protected:
        void hoverEnterEvent(QGraphicsSceneHoverEvent* event) override;
        void hoverLeaveEvent(QGraphicsSceneHoverEvent* event) override;

    private:
        int id_;
        bool hovered_ = false;
        QColor base_;
    };

    WorkflowGraphScene(int layoutMode, const QString& title, const QString& subtitle, QObject* parent = nullptr);

    // Rebuilds the scene.
    void setNodes(const QList<WorkflowNode>& nodes);
    // One text per connection: 0 the input, i the connection after node i - 1, the last the output.
    // The first texts rebuild the scene so that the connector dots appear; later ones only
    // replace what the hover shows.
    void setEdgeTexts(const QStringList& texts);

    const QList<WorkflowNode>& nodes() const { return nodes_; }
    const QStringList& edgeTexts() const { return edge_texts_; }
    const QList<NodeBoxItem*>& boxes() const { return boxes_; }
    // The items drawn for connection `index` (curve, hit area, dots, arrowhead).
    QList<QGraphicsItem*> connectionItems(int index) const;
    // What hovering at `scenePos` would show: the box's label and summary, or an empty title and
    // the edge text; both empty when nothing there has information.
    QPair<QString, QString> hoverInfoAt(const QPointF& scenePos) const;

signals:
    void nodeClicked(int node_id);
    void hoverInfoRequested(QString title, QString rich_text, QPoint global_position);
    void hoverInfoDismissed();

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent* event) override;

private:
    void rebuild();
    QRectF node_rect(int i) const;
    void add_connection(int index, const QRectF& from, const QRectF& to);
    void add_dot(const QPointF& centre, double radius, int index);
    void add_box(const WorkflowNode& node, const QRectF& rect);
    void add_content(const WorkflowNode& node, const QRectF& body);
    void add_titles();
    NodeBoxItem* box_at(const QPointF& scenePos) const;
    int connection_at(const QPointF& scenePos) const;

    int mode_;
    QString title_;
    QString subtitle_;
    QList<WorkflowNode> nodes_;
    QStringList edge_texts_;
    double node_width_ = 180.0;
    QList<NodeBoxItem*> boxes_;
    NodeBoxItem* hovered_ = nullptr;
};
