#pragma once

#include <QGraphicsPixmapItem>

// The picture in the image view; it takes drag-enter and drag-move events so that files dropped
// on the picture reach the view.
class ImageItem : public QGraphicsPixmapItem
{
public:
    explicit ImageItem(const QPixmap& pixmap, QGraphicsItem* parent = nullptr);

protected:
    void dragEnterEvent(QGraphicsSceneDragDropEvent* event) override;
    void dragMoveEvent(QGraphicsSceneDragDropEvent* event) override;
};
