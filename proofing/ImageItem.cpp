#include "proofing/ImageItem.h"

#include <QGraphicsSceneDragDropEvent>
#include <QMimeData>

ImageItem::ImageItem(const QPixmap& pixmap, QGraphicsItem* parent)
    : QGraphicsPixmapItem(pixmap, parent)
{
    setAcceptDrops(true);
}

void ImageItem::dragEnterEvent(QGraphicsSceneDragDropEvent* event)
{
    event->setAccepted(event->mimeData()->hasUrls());
}

void ImageItem::dragMoveEvent(QGraphicsSceneDragDropEvent* event)
{
    event->setAccepted(event->mimeData()->hasUrls());
}
