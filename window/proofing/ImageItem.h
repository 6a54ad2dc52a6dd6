#pragma once

#include <QGraphicsPixmapItem>
#include <QImage>

struct RasterImage;

// The picture in the image view; it takes drag-enter and drag-move events so that files dropped
// on the picture reach the view. The view paints the picture itself through its colour
// transform; the item draws it only when there is none, and makes that unconverted copy on its
// first such paint, so that a large image costs no second copy while it is converted.
class ImageItem : public QGraphicsPixmapItem
{
public:
    explicit ImageItem(const RasterImage* image, QGraphicsItem* parent = nullptr);

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

protected:
    void dragEnterEvent(QGraphicsSceneDragDropEvent* event) override;
    void dragMoveEvent(QGraphicsSceneDragDropEvent* event) override;

private:
    const RasterImage* image_;
    QImage unconverted_;
};
