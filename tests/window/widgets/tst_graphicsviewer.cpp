// GraphicsViewer: scale limits, zoom about a point, wheel handling, fit to window and when it
// happens again, the context menu, and the hover popup fed by a scene.

#include "window/widgets/GraphicsViewer.h"
#include "window/widgets/HoverInfoPopup.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QMenu>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QTest>
#include <QWheelEvent>

#include <cmath>

namespace fake {

// Stands in for the pipeline graph's scene, which publishes what lies under the pointer.
class HoverScene : public QGraphicsScene
{
    Q_OBJECT

public:
    using QGraphicsScene::QGraphicsScene;

signals:
    void hoverInfoRequested(QString title, QString rich_text, QPoint global_position);
    void hoverInfoDismissed();
};

}  // namespace fake

namespace {

QGraphicsScene* makeScene(QObject* parent, const QRectF& rect)
{
    auto* scene = new QGraphicsScene(rect, parent);
    scene->addRect(rect.adjusted(10, 10, -10, -10));
    return scene;
}

bool sendWheel(QWidget* viewport, QPoint pos, QPoint angle, Qt::ScrollPhase phase = Qt::NoScrollPhase)
{
    QWheelEvent event(QPointF(pos), QPointF(viewport->mapToGlobal(pos)), QPoint(), angle, Qt::NoButton,
                      Qt::NoModifier, phase, false);
    event.setAccepted(false);
    QApplication::sendEvent(viewport, &event);
    return event.isAccepted();
}

double expectedFit(const GraphicsViewer& view, const QRectF& rect)
{
    const QSize size = view.viewport()->size();
    return 0.95 * std::min(size.height() / rect.height(), size.width() / rect.width());
}

}  // namespace

class TestGraphicsViewer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void fitsAtTheFirstUsableResize();
    void fitDoesNothingWithoutSomethingToFit();
    void zoomStopsAtTheScaleLimits();
    void zoomKeepsTheScenePointUnderTheCentre();
    void wheelZoomsAboutTheCursor();
    void wheelIgnoresHorizontalAndMomentum();
    void resizeKeepsTheUsersZoomUntilTheSceneChanges();
    void hiddenPageFitsWhenShown();
    void contextMenuActions();
    void popupHidesWithTheView();
    void hoverSceneFeedsThePopup();
};

void TestGraphicsViewer::fitsAtTheFirstUsableResize()
{
    GraphicsViewer view;
    const QRectF rect(-50, 20, 400, 100);
    view.setScene(makeScene(&view, rect));
    view.resize(500, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QVERIFY(view.isFitted());
    QVERIFY(qAbs(view.currentScale() - expectedFit(view, rect)) < 1e-9);
    QCOMPARE(view.sceneRect(), rect);
    // The scene's centre sits in the middle of the viewport.
    const QPoint centre = view.mapFromScene(rect.center());
    QVERIFY((centre - view.viewport()->rect().center()).manhattanLength() <= 2);
}

void TestGraphicsViewer::fitDoesNothingWithoutSomethingToFit()
{
    GraphicsViewer view;
    view.resize(300, 200);
    view.auto_fit();  // no scene
    QVERIFY(!view.isFitted());

    auto* empty = new QGraphicsScene(&view);  // an empty scene has an empty rectangle
    view.setScene(empty);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.auto_fit();
    QVERIFY(!view.isFitted());
    QCOMPARE(view.currentScale(), 1.0);

    // Items arriving later make the next fit work.
    empty->addRect(0, 0, 50, 50);
    view.auto_fit();
    QVERIFY(view.isFitted());
}

void TestGraphicsViewer::zoomStopsAtTheScaleLimits()
{
    GraphicsViewer view;
    view.setScene(makeScene(&view, QRectF(0, 0, 200, 200)));
    view.resize(400, 400);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    double previous = view.currentScale();
    int steps = 0;
    for (; steps < 200; ++steps) {
        view.zoom_in();
        if (view.currentScale() == previous)
            break;
        QVERIFY(qAbs(view.currentScale() / previous - 1.1) < 1e-9);
        previous = view.currentScale();
    }
    QVERIFY(steps < 200);
    QVERIFY(view.currentScale() <= 10.0);
    QVERIFY(view.currentScale() * 1.1 > 10.0);

    for (steps = 0; steps < 200; ++steps) {
        view.zoom_out();
        if (view.currentScale() == previous)
            break;
        previous = view.currentScale();
    }
    QVERIFY(steps < 200);
    QVERIFY(view.currentScale() >= 0.1);
    QVERIFY(view.currentScale() / 1.1 < 0.1);
}

void TestGraphicsViewer::zoomKeepsTheScenePointUnderTheCentre()
{
    GraphicsViewer view;
    view.setScene(makeScene(&view, QRectF(0, 0, 1000, 1000)));
    view.resize(400, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    // Zoomed in far enough to scroll, and moved off the middle.
    for (int i = 0; i < 12; ++i)
        view.zoom_in();
    view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum() / 3);
    const QPoint centre = view.viewport()->rect().center();
    const QPointF before = view.mapToScene(centre);
    view.zoom_in();
    QVERIFY(QLineF(before, view.mapToScene(centre)).length() * view.currentScale() <= 1.5);
    view.zoom_out();
    QVERIFY(QLineF(before, view.mapToScene(centre)).length() * view.currentScale() <= 1.5);
    QCOMPARE(view.transformationAnchor(), QGraphicsView::AnchorUnderMouse);
}

void TestGraphicsViewer::wheelZoomsAboutTheCursor()
{
    GraphicsViewer view;
    view.setScene(makeScene(&view, QRectF(0, 0, 1000, 1000)));
    view.resize(400, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    for (int i = 0; i < 12; ++i)
        view.zoom_in();

    const QPoint cursor(90, 220);
    const QPointF before = view.mapToScene(cursor);
    const double scale = view.currentScale();
    QVERIFY(sendWheel(view.viewport(), cursor, QPoint(0, 120)));
    QVERIFY(qAbs(view.currentScale() / scale - std::pow(1.0004, 120)) < 1e-9);
    QVERIFY(QLineF(before, view.mapToScene(cursor)).length() * view.currentScale() <= 1.5);

    QVERIFY(sendWheel(view.viewport(), cursor, QPoint(0, -120)));
    QVERIFY(qAbs(view.currentScale() - scale) < 1e-9);
}

void TestGraphicsViewer::wheelIgnoresHorizontalAndMomentum()
{
    GraphicsViewer view;
    view.setScene(makeScene(&view, QRectF(0, 0, 300, 300)));
    view.resize(300, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QTransform fitted = view.transform();
    const int h = view.horizontalScrollBar()->value();

    QVERIFY(sendWheel(view.viewport(), QPoint(50, 50), QPoint(120, 0)));
    QVERIFY(sendWheel(view.viewport(), QPoint(50, 50), QPoint(0, 120), Qt::ScrollMomentum));
    QCOMPARE(view.transform(), fitted);
    QCOMPARE(view.horizontalScrollBar()->value(), h);

    // A wheel that would pass the upper limit in one go is ignored as a whole.
    QVERIFY(sendWheel(view.viewport(), QPoint(50, 50), QPoint(0, 120 * 60)));
    QCOMPARE(view.transform(), fitted);
}

void TestGraphicsViewer::hiddenPageFitsWhenShown()
{
    // A view on a page that is not the current tab is laid out at whatever size its parent has
    // meanwhile; it must fit the size it finally shows at.
    QTabWidget tabs;
    tabs.resize(800, 600);
    tabs.addTab(new QWidget(), QStringLiteral("first"));
    auto* page = new QWidget();
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* view = new GraphicsViewer(page);
    layout->addWidget(view);
    const QRectF rect(0, 0, 200, 100);
    view->setScene(makeScene(view, rect));
    tabs.addTab(page, QStringLiteral("second"));
    tabs.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tabs));
    tabs.setCurrentIndex(1);
    QTRY_VERIFY(view->isFitted());
    QVERIFY(view->viewport()->width() > 700);
    QVERIFY(qAbs(view->currentScale() - expectedFit(*view, rect)) < 1e-9);
}

void TestGraphicsViewer::resizeKeepsTheUsersZoomUntilTheSceneChanges()
{
    GraphicsViewer view;
    view.setScene(makeScene(&view, QRectF(0, 0, 200, 100)));
    view.resize(400, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QVERIFY(view.isFitted());
    view.zoom_in();
    view.zoom_in();
    const double zoomed = view.currentScale();

    view.resize(700, 500);
    QTRY_COMPARE(view.viewport()->width(), 700);
    QCOMPARE(view.currentScale(), zoomed);

    const QRectF next(0, 0, 50, 400);
    view.setScene(makeScene(&view, next));
    QVERIFY(!view.isFitted());
    view.resize(600, 450);
    QTRY_VERIFY(view.isFitted());
    QVERIFY(qAbs(view.currentScale() - expectedFit(view, next)) < 1e-9);
    QCOMPARE(view.sceneRect(), next);
}

void TestGraphicsViewer::contextMenuActions()
{
    GraphicsViewer view;
    view.setScene(makeScene(&view, QRectF(0, 0, 200, 200)));
    view.resize(300, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    const QList<QAction*> actions = view.contextMenu()->actions();
    QCOMPARE(actions.size(), 4);
    QCOMPARE(actions[0]->text(), QStringLiteral("Zoom in"));
    QCOMPARE(actions[1]->text(), QStringLiteral("Zoom out"));
    QVERIFY(actions[2]->isSeparator());
    QCOMPARE(actions[3]->text(), QStringLiteral("Fit to window"));
    // Each action shows its own glyph (from the theme or drawn), not one shared picture.
    const QImage in = actions[0]->icon().pixmap(16).toImage();
    const QImage out = actions[1]->icon().pixmap(16).toImage();
    const QImage fit = actions[3]->icon().pixmap(16).toImage();
    QVERIFY(in != out);
    QVERIFY(in != fit);
    QVERIFY(out != fit);

    const double fitted = view.currentScale();
    actions[0]->trigger();
    QVERIFY(qAbs(view.currentScale() / fitted - 1.1) < 1e-9);
    actions[1]->trigger();
    actions[1]->trigger();
    QVERIFY(qAbs(view.currentScale() / fitted - 1 / 1.1) < 1e-9);
    actions[3]->trigger();
    QVERIFY(qAbs(view.currentScale() - fitted) < 1e-9);

    // The menu opens where the event happened, with the popup out of the way.
    view.hoverPopup()->show_info("t", "x", view.mapToGlobal(QPoint(10, 10)));
    QVERIFY(view.hoverPopup()->isVisible());
    const QPoint global = view.mapToGlobal(QPoint(40, 60));
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(40, 60), global);
    QApplication::sendEvent(view.viewport(), &event);
    QVERIFY(!view.hoverPopup()->isVisible());
    QTRY_VERIFY(view.contextMenu()->isVisible());
    QCOMPARE(view.contextMenu()->pos(), global);
    view.contextMenu()->hide();
}

void TestGraphicsViewer::popupHidesWithTheView()
{
    GraphicsViewer view;
    view.setScene(makeScene(&view, QRectF(0, 0, 200, 200)));
    view.resize(300, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    HoverInfoPopup* popup = view.hoverPopup();

    popup->show_info("Title", "text", view.mapToGlobal(QPoint(20, 20)));
    QVERIFY(popup->isVisible());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&view, &leave);
    QVERIFY(!popup->isVisible());

    popup->show_info("Title", "text", view.mapToGlobal(QPoint(20, 20)));
    QVERIFY(popup->isVisible());
    view.hide();
    QVERIFY(!popup->isVisible());
}

void TestGraphicsViewer::hoverSceneFeedsThePopup()
{
    GraphicsViewer view;
    auto* scene = new fake::HoverScene(QRectF(0, 0, 100, 100), &view);
    view.setScene(scene);
    view.resize(300, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    HoverInfoPopup* popup = view.hoverPopup();

    emit scene->hoverInfoRequested("Stage 1", "<b>CLUT</b>", view.mapToGlobal(QPoint(30, 30)));
    QVERIFY(popup->isVisible());
    QCOMPARE(popup->shownTitle(), QStringLiteral("Stage 1"));
    QCOMPARE(popup->shownText(), QStringLiteral("<b>CLUT</b>"));
    QVERIFY(!popup->shownColor().isValid());
    emit scene->hoverInfoDismissed();
    QVERIFY(!popup->isVisible());

    // Once the scene is replaced it no longer reaches the popup.
    view.setScene(makeScene(&view, QRectF(0, 0, 50, 50)));
    emit scene->hoverInfoRequested("Stage 2", "old", view.mapToGlobal(QPoint(30, 30)));
    QVERIFY(!popup->isVisible());
}

QTEST_MAIN(TestGraphicsViewer)
#include "tst_graphicsviewer.moc"
