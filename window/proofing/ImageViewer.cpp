#include "window/proofing/ImageViewer.h"

#include "window/widgets/AppSettings.h"
#include "window/widgets/DebugLogPanel.h"
#include "imaging/RasterImage.h"
#include "window/proofing/ImageItem.h"
#include "window/widgets/GraphicsViewer.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGraphicsScene>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QWheelEvent>


ImageViewer::ImageViewer(QWidget* parent)
    : QGraphicsView(parent)
{
    startupLog(QStringLiteral("Creating image viewer"));
    setObjectName(QStringLiteral("imageViewer"));
    setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
    setDragMode(QGraphicsView::ScrollHandDrag);
    setMouseTracking(true);
    setFrameShape(QFrame::NoFrame);
    // The converted picture covers the whole viewport on every repaint.
    setViewportUpdateMode(QGraphicsView::FullViewportUpdate);
    startupLog(QStringLiteral("Image viewer ok"));
}

ImageViewer::~ImageViewer()
{
    if (transform_)
        krmDeleteTransform(transform_);
}

void ImageViewer::setImage(const RasterImage* image)
{
    forget_hover();
    image_ = image && !image->isNull() ? image : nullptr;
    QGraphicsScene* previous = scene_;
    if (!image_) {
        setScene(nullptr);
        scene_ = nullptr;
        delete previous;
        viewport()->update();
        return;
    }
    const QTransform kept = transform();
    scene_ = new QGraphicsScene(0, 0, image_->width, image_->height, this);
    scene_->setBackgroundBrush(Qt::black);
    setAcceptDrops(true);
    scene_->addItem(new ImageItem(image_));
    setScene(scene_);
    setTransform(kept);
    delete previous;
    viewport()->update();
}

void ImageViewer::setColorTransform(krmTransform transform)
{
    if (transform_)
        krmDeleteTransform(transform_);
    transform_ = transform;
    viewport()->update();
}

double ImageViewer::currentScale() const
{
    return transform().m11();
}

void ImageViewer::paintEvent(QPaintEvent* event)
{
    if (!transform_ || !image_) {
        QPainter(viewport()).fillRect(viewport()->rect(), Qt::black);
        QGraphicsView::paintEvent(event);
        return;
    }
    // Scene coordinates are image pixel coordinates: the inverse view transform maps a viewport
    // pixel to the image pixel it shows.
    const QTransform viewToImage = viewportTransform().inverted();
    renderer_.render(*image_, transform_, viewToImage, viewport()->size(), converted_);
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), Qt::black);
    painter.drawImage(0, 0, converted_);
}

void ImageViewer::mouseMoveEvent(QMouseEvent* event)
{
    QGraphicsView::mouseMoveEvent(event);
    if (scene_ && image_) {
        const QPointF at = mapToScene(event->position().toPoint());
        const int x = int(at.x());
        const int y = int(at.y());
        if (at.x() >= 0 && at.y() >= 0 && x < image_->width && y < image_->height) {
            if (QPoint(x, y) == hovered_)
                return;
            hovered_ = QPoint(x, y);
            // CMYK has no stored screen colour: the swatch shows the pixel as painted.
            const QPoint at = event->position().toPoint();
            const bool painted = image_->space == krmSig("CMYK") && transform_ && converted_.rect().contains(at);
            const QRgb pixel = painted ? converted_.pixel(at) : image_->rgbAt(x, y);
            emit pixelHovered(hovered_, pixel, event->globalPosition().toPoint());
            return;
        }
    }
    if (hovered_ != QPoint(-1, -1))
        forget_hover();
}

void ImageViewer::leaveEvent(QEvent* event)
{
    forget_hover();
    QGraphicsView::leaveEvent(event);
}

void ImageViewer::forget_hover()
{
    hovered_ = QPoint(-1, -1);
    emit pixelHoverLeft();
}

void ImageViewer::zoomIn()
{
    zoom_view(this, zoom_step(), viewport()->rect().center());
}

void ImageViewer::zoomOut()
{
    zoom_view(this, 1.0 / zoom_step(), viewport()->rect().center());
}

void ImageViewer::wheelEvent(QWheelEvent* event)
{
    event->accept();
    const int delta = event->angleDelta().y();
    if (delta != 0)
        zoom_view(this, wheel_zoom_factor(delta), event->position().toPoint());
}

void ImageViewer::autoFit()
{
    if (!scene_)
        return;
    const QRectF rect = scene_->itemsBoundingRect();
    if (rect.isEmpty())
        return;
    scene_->setSceneRect(rect);
    resetTransform();
    const QSize view = viewport()->size();
    const double k = std::min(view.height() / rect.height(), view.width() / rect.width());
    scale(k, k);
    centerOn(rect.center());
}

// Files dragged over the view are taken as a copy; anything else is refused.
void ImageViewer::dragEnterEvent(QDragEnterEvent* event)
{
    dragMoveEvent(event);
}

void ImageViewer::dragMoveEvent(QDragMoveEvent* event)
{
    if (event->mimeData()->hasUrls()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void ImageViewer::dropEvent(QDropEvent* event)
{
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isValid() && url.isLocalFile()) {
            event->acceptProposedAction();
            emit fileDropped(url.toLocalFile());
            return;
        }
    }
    event->ignore();
}

void ImageViewer::contextMenuEvent(QContextMenuEvent* event)
{
    if (menu_)
        menu_->exec(event->globalPos());
}
