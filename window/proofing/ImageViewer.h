#pragma once

#include "imaging/ViewportRender.h"

#include <krm.h>

#include <QGraphicsView>
#include <QImage>
#include <QPoint>

class QMenu;
struct RasterImage;

// The proofing view's picture: zoomable and draggable, converted for the screen at every repaint
// (the visible viewport, in one engine call, from the image's own samples), reporting the image
// pixel under the pointer and the files dropped on it.
class ImageViewer : public QGraphicsView
{
    Q_OBJECT

public:
    explicit ImageViewer(QWidget* parent = nullptr);
    ~ImageViewer() override;

    // The image is owned by the caller and must outlive its use here; null empties the view.
    void setImage(const RasterImage* image);
    // Takes ownership and frees the previous transform; null paints the image unconverted.
    void setColorTransform(krmTransform transform);
    krmTransform colorTransform() const { return transform_; }
    void setContextMenu(QMenu* menu) { menu_ = menu; }
    double currentScale() const;
    // True from autoFit until the user zooms: the picture then follows the view's size.
    bool fitting() const { return fitting_; }

signals:
    void fileDropped(const QString& filename);
    void pixelHovered(const QPoint& image_pos, QRgb pixel, const QPoint& global_pos);
    void pixelHoverLeft();

public slots:
    void autoFit();
    void actualSize();
    void zoomIn();
    void zoomOut();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void forget_hover();

    QGraphicsScene* scene_ = nullptr;
    krmTransform transform_ = nullptr;
    const RasterImage* image_ = nullptr;
    QPoint hovered_{-1, -1};
    QMenu* menu_ = nullptr;
    ViewportRenderer renderer_;
    QImage converted_;
    bool fitting_ = false;
};
