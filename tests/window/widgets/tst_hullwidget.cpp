// HullWidget: camera rules (wheel, snapping, fit), the 5-pixel click and picking, subdivision,
// the context menu, point lookups, and what the OpenGL frames actually show.

#include "common/analysis/Hull.h"
#include "window/widgets/HullWidget.h"
#include "window/widgets/ColorScheme.h"
#include "krm.h"
#include "tests/window/app/AppTestSupport.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <cmath>

namespace {

HullRenderData cubeHull(int lo = -40, int hi = 40)
{
    Hull hull;
    for (int L : {10, 90})
        for (int a : {lo, hi})
            for (int b : {lo, hi}) hull.add_lab(L, a, b);
    hull.compute();
    return hull.get_render_data();
}

// Points given as (L*, a*, b*), ids from 1.
HullRenderData cloud(const std::vector<std::array<float, 3>>& labs)
{
    HullRenderData d;
    int id = 1;
    for (const auto& lab : labs) {
        d.positions.insert(d.positions.end(), {lab[2], lab[0], lab[1]});
        d.colors.insert(d.colors.end(), {1.0f, 0.5f, 0.2f});
        d.ids.push_back(id++);
    }
    return d;
}

// The sRGB gamut in L*a*b*, sampled on a 7³ grid.
HullRenderData srgbGamut()
{
    krmProfile srgb = krmCreate_sRGBProfile();
    krmProfile lab = krmCreateLab4Profile(nullptr);
    krmTransform t = krmCreateTransform(srgb, krmFmtRGBDouble, lab, krmFmtLabDouble, 0, 0);
    Hull hull;
    for (int i = 0; i < 7 * 7 * 7; i++) {
        const double rgb[3] = {(i % 7) / 6.0, (i / 7 % 7) / 6.0, (i / 49) / 6.0};
        double out[3];
        krmDoTransform(t, rgb, out, 1);
        hull.add_lab(int(std::lround(out[0])), int(std::lround(out[1])), int(std::lround(out[2])));
    }
    krmDeleteTransform(t);
    krmCloseProfile(lab);
    krmCloseProfile(srgb);
    hull.compute();
    return hull.get_render_data();
}

void settle(HullWidget& view)
{
    QTRY_VERIFY(!view.fitAnimating());
}

void send_mouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButtons buttons,
                Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QMouseEvent event(type, QPointF(pos), w->mapToGlobal(QPointF(pos)),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, modifiers);
    QApplication::sendEvent(w, &event);
}

void click(QWidget* w, QPoint press, QPoint release, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    send_mouse(w, QEvent::MouseButtonPress, press, Qt::LeftButton, modifiers);
    send_mouse(w, QEvent::MouseButtonRelease, release, Qt::NoButton, modifiers);
}

}  // namespace

class TestHullWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { apptest::isolateSettings(); }

    void wheelZoomAndLimits()
    {
        HullWidget view;
        view.resize(400, 300);
        settle(view);
        QSignalSpy zoomed(&view, &HullWidget::zoom_changed);
        struct {
            float from, to;
        } const cases[] = {{200, 185}, {35, 30}, {1295, 1280}};
        for (const auto& c : cases) {
            view.set_zoom(c.from);
            QWheelEvent wheel(QPointF(10, 10), view.mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, 120),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(&view, &wheel);
            QCOMPARE(view.zoom(), c.to);
        }
        view.set_zoom(5000);
        QCOMPARE(view.zoom(), 1300.0f);
        QCOMPARE(zoomed.last().at(0).toInt(), 1300);
    }

    void angleSnapping_data()
    {
        QTest::addColumn<float>("angle");
        QTest::addColumn<float>("snapped");
        QTest::newRow("91 to 90") << 91.0f << 90.0f;
        QTest::newRow("-10 wraps") << -10.0f << 350.0f;
        QTest::newRow("359 to 0") << 359.0f << 0.0f;
        QTest::newRow("721.2 to 0") << 721.2f << 0.0f;
        QTest::newRow("268.6 to 270") << 268.6f << 270.0f;
        QTest::newRow("45 stays") << 45.0f << 45.0f;
        QTest::newRow("178 stays") << 178.0f << 178.0f;
    }

    void angleSnapping()
    {
        QFETCH(float, angle);
        QFETCH(float, snapped);
        QCOMPARE(HullWidget::snap_angle(angle), snapped);
    }

    void dragRotatesAndPans()
    {
        HullWidget view;
        view.resize(400, 300);
        view.set_rotation(13, 21);
        // 140 pixels right: yaw 21 + 70 = 91, snapped to 90; 46 pixels up: pitch 13 − 23 = −10 → 350.
        send_mouse(&view, QEvent::MouseButtonPress, QPoint(100, 100), Qt::LeftButton);
        send_mouse(&view, QEvent::MouseMove, QPoint(240, 54), Qt::LeftButton);
        send_mouse(&view, QEvent::MouseButtonRelease, QPoint(240, 54), Qt::NoButton);
        QCOMPARE(view.yaw(), 90.0f);
        QCOMPARE(view.pitch(), 350.0f);
        // With Shift the drag pans and leaves the angles alone.
        const QMatrix4x4 before = view.modelViewMatrix();
        send_mouse(&view, QEvent::MouseButtonPress, QPoint(100, 100), Qt::LeftButton, Qt::ShiftModifier);
        send_mouse(&view, QEvent::MouseMove, QPoint(110, 80), Qt::LeftButton, Qt::ShiftModifier);
        QCOMPARE(view.yaw(), 90.0f);
        const QMatrix4x4 after = view.modelViewMatrix();
        QCOMPARE(after(0, 3) - before(0, 3), 3.0f);  // 0.3 per pixel
        QCOMPARE(after(1, 3) - before(1, 3), 6.0f);  // y flipped
    }

    void fitDistance()
    {
        HullWidget view;
        view.resize(400, 300);
        const float tan225 = std::tan(22.5f * 3.14159265f / 180.0f);
        // Without meshes the axis labels set the frame: ±136 plus half a label, 50 below the pivot.
        const float labels = std::sqrt(150.0f * 150 + 50 * 50);
        QVERIFY(std::fabs(view.fit_distance() - labels / tan225) < 0.01f);
        view.auto_fit();
        settle(view);
        QVERIFY(std::fabs(view.zoom() - labels / tan225) < 0.01f);
        // A small cloud still frames the labels.
        view.add_mesh(cloud({{40, -10, -10}, {60, 10, 10}}), MeshPoints);
        QVERIFY(std::fabs(view.fit_distance() - labels / tan225) < 0.01f);

        // A cloud from L* 0..100 spanning ±150 in b* and ±120 in a*, in a portrait widget.
        view.clear_meshes();
        view.resize(200, 400);
        view.add_mesh(cloud({{0, -120, -150}, {100, 120, 150}}), MeshPoints);
        const float R = 1.1f * std::sqrt(50.0f * 50 + 150 * 150 + 120 * 120);
        QVERIFY(std::fabs(view.fit_distance() - R / (0.5f * tan225)) < 0.01f);
        // A vector end counts: one reaching L* 250 moves the top.
        HullRenderData withVector = cloud({{50, 0, 0}});
        withVector.normals = {0, 250, 0};
        view.clear_meshes();
        view.add_mesh(withVector, MeshCubes);
        QVERIFY(std::fabs(view.fit_distance() - 1.1f * 200 / (0.5f * tan225)) < 0.01f);
        view.reset_camera();
        QCOMPARE(view.pitch(), 13.0f);
        QCOMPARE(view.yaw(), 21.0f);
        settle(view);
        QCOMPARE(view.zoom(), std::clamp(view.fit_distance(), 30.0f, 1300.0f));
    }

    // Labels are drawn along label_basis: seen from any side they must run left to right and
    // stand upright on screen, never mirrored (text drawn in a fixed scene plane read "*⅃" from
    // behind).
    void labelsReadFromEverySide_data()
    {
        QTest::addColumn<float>("pitch");
        QTest::addColumn<float>("yaw");
        for (const float pitch : {0.0f, 13.0f, 80.0f, 170.0f, 250.0f})
            for (const float yaw : {0.0f, 21.0f, 100.0f, 180.0f, 290.0f})
                QTest::addRow("pitch %g yaw %g", double(pitch), double(yaw)) << pitch << yaw;
    }
    void labelsReadFromEverySide()
    {
        QFETCH(float, pitch);
        QFETCH(float, yaw);
        HullWidget view;
        view.resize(400, 300);
        view.set_rotation(pitch, yaw);
        const QMatrix4x4 modelView = view.modelViewMatrix();
        QVector3D right, up;
        HullWidget::label_basis(modelView, &right, &up);
        const QVector3D screenRight = modelView.mapVector(right), screenUp = modelView.mapVector(up);
        QVERIFY(std::fabs(screenRight.x() - 1.0f) < 1e-4f && std::fabs(screenRight.y()) < 1e-4f);
        QVERIFY(std::fabs(screenUp.y() - 1.0f) < 1e-4f && std::fabs(screenUp.x()) < 1e-4f);
        // The glyphs' front faces the camera (+z in eye space): the text is not mirrored.
        QVERIFY(QVector3D::crossProduct(screenRight, screenUp).z() > 0.999f);
    }

    void clickPicksWithinFourPixels()
    {
        HullWidget view;
        view.resize(400, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.add_mesh(cloud({{50, 0, 0}, {70, 30, -20}}), MeshPoints);
        view.set_zoom(200);
        QPoint first, second;
        QVERIFY(view.point_screen_pos(1, &first));
        QVERIFY(view.point_screen_pos(2, &second));
        QVERIFY(!view.point_screen_pos(3, nullptr));
        QCOMPARE(first, QPoint(200, 150));  // L* 50 is the pivot, at the centre
        QSignalSpy clicked(&view, &HullWidget::point_clicked);

        click(&view, first, first + QPoint(3, -2));  // 5 pixels: a drag, not a click
        QCOMPARE(clicked.count(), 0);
        click(&view, first, first + QPoint(2, -2));
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(clicked.last().at(0).toInt(), 1);
        QCOMPARE(view.selectedMesh(), 0);
        QCOMPARE(view.selectedPoint(), 0);

        // Shift-click on another point: the first gets a vector to it, nothing stays selected.
        click(&view, second, second, Qt::ShiftModifier);
        QCOMPARE(clicked.count(), 2);
        const QList<QVariant> linked = clicked.last();
        QCOMPARE(linked.at(0).toInt(), 1);
        QCOMPARE(linked.at(4).toFloat(), 70.0f);
        QCOMPARE(linked.at(5).toFloat(), 30.0f);
        QCOMPARE(linked.at(6).toFloat(), -20.0f);
        QCOMPARE(view.selectedMesh(), -1);
        QCOMPARE(view.meshSource(0).normals.size(), 6u);

        click(&view, QPoint(5, 5), QPoint(5, 5));  // empty space
        QCOMPARE(clicked.last().at(0).toInt(), 0);

        // The same point through the id helpers.
        view.emit_point_info(2);
        QCOMPARE(clicked.last().at(1).toFloat(), 70.0f);
        QCOMPARE(clicked.last().at(3).toFloat(), -20.0f);
        view.emit_point_info(99);
        QCOMPARE(clicked.last().at(0).toInt(), 0);
        view.select_point_id(2);
        QCOMPARE(view.selectedPoint(), 1);
        view.select_point_id(99);
        QCOMPARE(view.selectedPoint(), 1);
        // Ctrl+K fits.
        QTRY_VERIFY(!view.fitAnimating());
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        view.setFocus();
        QTest::keyClick(&view, Qt::Key_K, Qt::ControlModifier);
        QVERIFY(view.fitAnimating());
        QSignalSpy changed(&view, &HullWidget::gamut_changed);
        view.clear_meshes();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(view.selectedMesh(), -1);
    }

    void subdivision()
    {
        const HullRenderData cube = cubeHull();
        QCOMPARE(cube.triangleCount(), 12u);
        const HullRenderData once = HullWidget::subdivide(cube);
        QCOMPARE(once.triangleCount(), 48u);
        QCOMPARE(once.vertexCount(), 8u + 18u);  // one shared midpoint per edge
        QCOMPARE(once.colors.size(), once.positions.size());
        QCOMPARE(once.normals.size(), once.indices.size() * 3);

        HullWidget view;
        view.add_mesh(cube, MeshSolid, Qt::white, -1);
        QCOMPARE(view.meshDisplay(0).triangleCount(), 768u);
        QCOMPARE(view.meshSource(0).triangleCount(), 12u);  // exports use the source
        view.add_mesh(cube, MeshWireframe, Qt::white, 1);
        QCOMPARE(view.meshDisplay(1).triangleCount(), 48u);
        view.add_mesh(cube, MeshPoints, Qt::white, -1);  // clouds are never subdivided
        QCOMPARE(view.meshDisplay(2).vertexCount(), 8u);

        QCOMPARE(HullWidget::auto_subdivision_levels(0), 0);
        QCOMPARE(HullWidget::auto_subdivision_levels(12), 3);
        QCOMPARE(HullWidget::auto_subdivision_levels(250), 1);
        QCOMPARE(HullWidget::auto_subdivision_levels(999), 1);
        QCOMPARE(HullWidget::auto_subdivision_levels(1000), 0);
    }

    void contextMenuAndTranslucency()
    {
        QCOMPARE(HullWidget::translucent_alpha(QColor(255, 0, 0)), 0.35f);
        QCOMPARE(HullWidget::translucent_alpha(QColor(255, 0, 0, 102)), 0.4f);

        HullWidget view;
        auto cgatsEnabled = [&] {
            std::unique_ptr<QMenu> menu(view.createContextMenu(nullptr));
            QStringList texts;
            for (QAction* a : menu->actions()) texts << a->text();
            const QStringList expected = {"Auto fit",           "Reset camera",          "",
                                          "Save screenshot...", "Export VRML...",        "Export glTF binary...",
                                          "Export PLY...",      "Export Lab CGATS..."};
            if (texts != expected)
                qWarning() << texts;
            return texts == expected && menu->actions().last()->isEnabled();
        };
        // Greyed only when there is nothing to write, and then it says so.
        QVERIFY(!cgatsEnabled());
        {
            std::unique_ptr<QMenu> menu(view.createContextMenu(nullptr));
            QVERIFY(!menu->actions().last()->toolTip().contains("CGATS"));
        }
        view.add_mesh(cloud({{50, 0, 0}}), MeshPoints);
        QVERIFY(cgatsEnabled());
        view.add_mesh(cloud({{60, 0, 0}}), MeshCubes);
        QVERIFY(cgatsEnabled());
        view.clear_meshes();
        view.add_mesh(cubeHull(), MeshSolid);  // a gamut hull: its vertices
        QVERIFY(cgatsEnabled());
    }

    void canvasOrMessage()
    {
        // Without OpenGL (the offscreen platform) the view is a plain message, and still works.
        HullWidget view;
        QCOMPARE(view.findChild<QLabel*>("hullNoOpenGL") != nullptr, !HullWidget::openGLAvailable());
        view.add_mesh(cubeHull(), MeshSolid);
        QVERIFY(!view.grabFrame().isNull());
    }

    void screenshotSavesTheFrame()
    {
        QTemporaryDir dir;
        HullWidget view;
        view.resize(320, 240);
        view.add_mesh(cubeHull(), MeshSolid);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        apptest::ModalWatcher watcher;
        QString answer;
        watcher.setAnswer([&](QDialog* dialog) {
            if (auto* files = qobject_cast<QFileDialog*>(dialog)) {
                QCOMPARE(files->windowTitle(), QString("Save screenshot"));
                files->selectFile(answer);
                QMetaObject::invokeMethod(files, "accept", Qt::QueuedConnection);
            } else {
                dialog->reject();
            }
        });
        answer = dir.filePath("shot.png");
        QMetaObject::invokeMethod(&view, "on_save_screenshot");
        QImage saved(answer);
        QCOMPARE(saved.size(), view.grabFrame().size());

        // A folder that does not exist: the failure is reported, not swallowed.
        answer = dir.filePath("missing/shot.png");
        QMetaObject::invokeMethod(&view, "on_save_screenshot");
        QCOMPARE(watcher.seen.last(), QString("QMessageBox"));
    }

    void hidingTakesPopupsAlong()
    {
        HullWidget view;
        view.resize(200, 200);
        view.show();
        auto* tool = new QWidget(&view, Qt::Tool);
        tool->show();
        QVERIFY(tool->isVisible());
        view.hide();
        QVERIFY(!tool->isVisible());
    }

    // The frames themselves: lit solid hull, wireframe, point cloud, with grids and scale, in
    // both palettes. Set PRISMET_SCREENSHOT_DIR to keep the pictures.
    void renderedFrames()
    {
        if (!HullWidget::openGLAvailable())
            QSKIP("no OpenGL on this display");
        const QByteArray dir = qgetenv("PRISMET_SCREENSHOT_DIR");
        for (const bool dark : {true, false}) {
            QApplication::setPalette(dark ? dark_fusion_palette() : QPalette(QColor(240, 240, 240)));
            for (const MeshMode mode : {MeshSolid, MeshWireframe, MeshTranslucent, MeshPoints, MeshCubes}) {
                QWidget window;
                auto* layout = new QVBoxLayout(&window);
                layout->addWidget(new QLabel("Gamut", &window));
                auto* view = new HullWidget(&window);
                layout->addWidget(view);
                window.resize(800, 640);
                view->set_show_grid(true);
                view->set_side_grids(true);
                view->set_show_scale(true);
                view->set_grid_res(8);
                HullRenderData data = srgbGamut();
                if (mode == MeshPoints || mode == MeshCubes) {
                    data.indices.clear();
                    data.normals.assign(data.positions.size(), 0.0f);
                    data.normals[0] = 30, data.normals[1] = 60, data.normals[2] = 30;  // one vector
                    for (std::size_t i = 0; i < data.vertexCount(); i++) data.ids.push_back(int(i) + 1);
                }
                view->add_mesh(data, mode, QColor(230, 230, 230), mode == MeshSolid ? -1 : 0);
                if (mode == MeshPoints || mode == MeshCubes)
                    view->select_point_id(5);
                view->set_spheres(dark);  // flat dots in the light round
                // Fit while hidden: every animation step would be a software-rendered frame.
                window.resize(800, 640);
                window.layout()->activate();
                view->auto_fit();
                QTRY_VERIFY(!view->fitAnimating());
                window.show();
                QVERIFY(QTest::qWaitForWindowExposed(&window));
                const QImage frame = view->grabFrame();
                QVERIFY(!frame.isNull());
                // The centre shows the mesh, not the background, and shading varies across it.
                const QColor centre = frame.pixelColor(frame.width() / 2, frame.height() / 2);
                const QColor background(51, 51, 51);
                int differing = 0, distinct = 0;
                QSet<QRgb> seen;
                for (int y = frame.height() / 4; y < frame.height() * 3 / 4; y += 4)
                    for (int x = frame.width() / 4; x < frame.width() * 3 / 4; x += 4) {
                        const QRgb p = frame.pixel(x, y);
                        differing += p != background.rgb();
                        if (!seen.contains(p)) {
                            seen.insert(p);
                            ++distinct;
                        }
                    }
                QVERIFY2(differing > 100, qPrintable(QString::number(differing)));
                QVERIFY2(distinct > 20, qPrintable(QString::number(distinct)));
                if (mode == MeshSolid)
                    QVERIFY(centre != background);
                if (!dir.isEmpty()) {
                    const char* names[] = {"solid", "wireframe", "translucent", "points", "cubes"};
                    window.grab().save(QString("%1/hull_%2_%3.png").arg(dir, names[mode], dark ? "dark" : "light"));
                    if (mode == MeshSolid) {  // seen from behind: the labels must still read
                        view->set_rotation(13.0f, 200.0f);
                        view->grabFrame().save(QString("%1/hull_behind_%2.png").arg(dir, dark ? "dark" : "light"));
                    }
                }
            }
        }
    }
};

QTEST_MAIN(TestHullWidget)
#include "tst_hullwidget.moc"
