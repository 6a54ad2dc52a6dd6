#include "window/widgets/GraphicsViewer.h"

#include "window/widgets/HoverInfoPopup.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QGraphicsScene>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

const double kMinScale = 0.1;
const double kMaxScale = 10.0;
const double kZoomStep = 1.1;
// Per unit of wheel angle; one notch of 120 zooms by about 4.9 %.
const double kWheelBase = 1.0004;
// Fitting leaves a small margin around the scene.
const double kFitMargin = 0.95;

enum class ZoomGlyph { In, Out, Fit };

// A plain magnifier drawn in the palette's text colour, for platforms whose icon theme has none.
QIcon drawn_icon(ZoomGlyph glyph, const QColor& color)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(color, 2.5);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    if (glyph == ZoomGlyph::Fit) {
        const int a = 6, b = 26, l = 7;
        painter.drawPolyline(QPolygon({QPoint(a, a + l), QPoint(a, a), QPoint(a + l, a)}));
        painter.drawPolyline(QPolygon({QPoint(b - l, a), QPoint(b, a), QPoint(b, a + l)}));
        painter.drawPolyline(QPolygon({QPoint(a, b - l), QPoint(a, b), QPoint(a + l, b)}));
        painter.drawPolyline(QPolygon({QPoint(b - l, b), QPoint(b, b), QPoint(b, b - l)}));
        painter.drawRect(QRect(11, 11, 10, 10));
        return QIcon(pixmap);
    }
    painter.drawEllipse(QPointF(13, 13), 9, 9);
    painter.drawLine(QPointF(20, 20), QPointF(28, 28));
    painter.drawLine(QPointF(9, 13), QPointF(17, 13));
    if (glyph == ZoomGlyph::In)
        painter.drawLine(QPointF(13, 9), QPointF(13, 17));
    return QIcon(pixmap);
}

QIcon zoom_icon(const char* theme_name, ZoomGlyph glyph, const QColor& color)
{
    return QIcon::fromTheme(QString::fromLatin1(theme_name), drawn_icon(glyph, color));
}

}  // namespace

GraphicsViewer::GraphicsViewer(QWidget* parent)
    : QGraphicsView(parent)
{
    setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
    setDragMode(QGraphicsView::ScrollHandDrag);
    setFrameShape(QFrame::NoFrame);
    setMouseTracking(true);
    build_menu();
    popup_ = new HoverInfoPopup(viewport());
}

void GraphicsViewer::build_menu()
{
    const QColor glyph_color = palette().color(QPalette::Text);
    menu_ = new QMenu(this);
    QAction* in = menu_->addAction(zoom_icon("zoom-in", ZoomGlyph::In, glyph_color), tr("Zoom in"));
    QAction* out = menu_->addAction(zoom_icon("zoom-out", ZoomGlyph::Out, glyph_color), tr("Zoom out"));
    menu_->addSeparator();
    QAction* fit = menu_->addAction(zoom_icon("zoom-fit-best", ZoomGlyph::Fit, glyph_color), tr("Fit to window"));
    connect(in, &QAction::triggered, this, &GraphicsViewer::zoom_in);
    connect(out, &QAction::triggered, this, &GraphicsViewer::zoom_out);
    connect(fit, &QAction::triggered, this, &GraphicsViewer::auto_fit);
}

void GraphicsViewer::setScene(QGraphicsScene* scene)
{
    if (QGraphicsScene* previous = QGraphicsView::scene()) {
        disconnect(previous, nullptr, this, nullptr);
        disconnect(previous, nullptr, popup_, nullptr);
    }
    fitted_ = false;
    popup_->hide();
    QGraphicsView::setScene(scene);
    // A scene that reports what lies under the pointer (the pipeline graph's WorkflowGraphScene)
    // is recognised by its signals, so this view does not depend on the pipeline viewer.
    if (scene && scene->metaObject()->indexOfSignal("hoverInfoRequested(QString,QString,QPoint)") >= 0) {
        connect(scene, SIGNAL(hoverInfoRequested(QString, QString, QPoint)), popup_,
                SLOT(show_info(QString, QString, QPoint)));
        if (scene->metaObject()->indexOfSignal("hoverInfoDismissed()") >= 0)
            connect(scene, SIGNAL(hoverInfoDismissed()), popup_, SLOT(hide()));
    }
}

double GraphicsViewer::currentScale() const
{
    return transform().mapRect(QRectF(0, 0, 1, 1)).width();
}

void zoom_view(QGraphicsView* view, double factor, const QPoint& viewport_point)
{
    const QTransform would_be = QTransform(view->transform()).scale(factor, factor);
    const double width = would_be.mapRect(QRectF(0, 0, 1, 1)).width();
    // Outside the range (a large picture fitted to a small view) a step back towards it is allowed.
    if ((width < kMinScale && factor < 1.0) || (width > kMaxScale && factor > 1.0))
        return;

    view->setTransformationAnchor(QGraphicsView::NoAnchor);
    const QPointF before = view->mapToScene(viewport_point);
    view->scale(factor, factor);
    const QPointF after = view->mapToScene(viewport_point);
    const QPointF shift = after - before;
    view->translate(shift.x(), shift.y());
    view->setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
}

double zoom_step()
{
    return kZoomStep;
}

double wheel_zoom_factor(int angle_delta)
{
    return std::pow(kWheelBase, angle_delta);
}

void GraphicsViewer::zoom_by(double factor, const QPoint& viewport_point)
{
    zoom_view(this, factor, viewport_point);
}

void GraphicsViewer::zoom_in()
{
    zoom_by(kZoomStep, viewport()->rect().center());
}

void GraphicsViewer::zoom_out()
{
    zoom_by(1.0 / kZoomStep, viewport()->rect().center());
}

void GraphicsViewer::auto_fit()
{
    const QGraphicsScene* current = scene();
    if (!current)
        return;
    const QRectF rect = current->sceneRect();
    const QSize view_size = viewport()->size();
    if (rect.isEmpty() || view_size.isEmpty())
        return;

    setSceneRect(rect);
    resetTransform();
    const double k = kFitMargin * std::min(view_size.height() / rect.height(), view_size.width() / rect.width());
    scale(k, k);
    centerOn(rect.center());
    fitted_ = true;
}

void GraphicsViewer::wheelEvent(QWheelEvent* event)
{
    event->accept();
    const int delta = event->angleDelta().y();
    if (event->phase() == Qt::ScrollMomentum || delta == 0)
        return;
    zoom_by(std::pow(kWheelBase, delta), event->position().toPoint());
}

void GraphicsViewer::leaveEvent(QEvent* event)
{
    popup_->hide();
    QGraphicsView::leaveEvent(event);
}

void GraphicsViewer::resizeEvent(QResizeEvent* event)
{
    QGraphicsView::resizeEvent(event);
    // A page still hidden in a tab set is resized to whatever its parent has then; fitting to
    // that size would leave the scene tiny once the page is shown.
    if (!fitted_ && isVisible())
        auto_fit();
}

void GraphicsViewer::showEvent(QShowEvent* event)
{
    QGraphicsView::showEvent(event);
    if (!fitted_)
        auto_fit();
}

void GraphicsViewer::contextMenuEvent(QContextMenuEvent* event)
{
    popup_->hide();
    menu_->popup(event->globalPos());
    event->accept();
}

void GraphicsViewer::hideEvent(QHideEvent* event)
{
    popup_->hide();
    QGraphicsView::hideEvent(event);
}
