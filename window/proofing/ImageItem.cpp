#include "window/proofing/ImageItem.h"

#include "imaging/RasterImage.h"

#include <QGraphicsSceneDragDropEvent>
#include <QMimeData>
#include <QPainter>

ImageItem::ImageItem(const RasterImage* image, QGraphicsItem* parent)
    : QGraphicsPixmapItem(parent)
    , image_(image)
{
    setAcceptDrops(true);
}

QRectF ImageItem::boundingRect() const
{
    return QRectF(0, 0, image_->width, image_->height);
}

QPainterPath ImageItem::shape() const
{
    QPainterPath path;
    path.addRect(boundingRect());
    return path;
}

void ImageItem::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*)
{
    if (unconverted_.isNull())
        unconverted_ = image_->toQImage();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->drawImage(QPointF(0, 0), unconverted_);
}

void ImageItem::dragEnterEvent(QGraphicsSceneDragDropEvent* event)
{
    event->setAccepted(event->mimeData()->hasUrls());
}

void ImageItem::dragMoveEvent(QGraphicsSceneDragDropEvent* event)
{
    event->setAccepted(event->mimeData()->hasUrls());
}
