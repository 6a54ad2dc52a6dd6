#pragma once

#include <QGraphicsView>

class HoverInfoPopup;
class QMenu;

// Zooming shared by every zoomable view: the view is scaled by `factor` around a viewport point,
// unless that takes its scale outside 0.1 to 10.
void zoom_view(QGraphicsView* view, double factor, const QPoint& viewport_point);
// The zoom factor of one button step (1.1) and of a wheel turn (1.0004 per unit of angle).
double zoom_step();
double wheel_zoom_factor(int angle_delta);

// The zoomable view every diagram viewer draws on. A new scene is fitted to the window at the
// first resize that can show it; after that the user's zoom (wheel, context menu) is kept, within
// a scale of 0.1 to 10. Scenes that publish hover information get it shown in a floating popup.
class GraphicsViewer : public QGraphicsView
{
    Q_OBJECT

public:
    explicit GraphicsViewer(QWidget* parent = nullptr);

    // Replaces the scene; the next resize fits it again. Hides QGraphicsView::setScene.
    void setScene(QGraphicsScene* scene);

    bool isFitted() const { return fitted_; }
    HoverInfoPopup* hoverPopup() const { return popup_; }
    QMenu* contextMenu() const { return menu_; }
    // The horizontal scale of the current transform: the width of the mapped unit square.
    double currentScale() const;

public slots:
    void auto_fit();
    void zoom_in();
    void zoom_out();

protected:
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void build_menu();
    void zoom_by(double factor, const QPoint& viewport_point);

    QMenu* menu_ = nullptr;
    HoverInfoPopup* popup_ = nullptr;
    bool fitted_ = false;
};
