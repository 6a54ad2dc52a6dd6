#pragma once

// HullWidget: the 3D view of L*a*b* meshes and point clouds shared by the gamut, roundtrip, CLUT
// and named-colour views.
//
// Usage: build HullRenderData (Hull::get_render_data() for a surface; positions, colours, ids and
// optional vector ends for a point cloud), then
//     view->clear_meshes();
//     view->add_mesh(data, MeshSolid, QColor(Qt::white), -1);   // -1: automatic subdivision
//     view->add_mesh(cloud, MeshPoints);                        // vectors: cloud.normals
//     view->auto_fit();
// Coordinates are GL axes x = b*, y = L*, z = a* throughout. Clicking a point emits point_clicked
// with its id and L*a*b* (the source data, whatever the display space); point_screen_pos maps an
// id to widget pixels for popups. All setters repaint.
//
// Rendering uses the fixed-function pipeline through Qt's OpenGL 1.0 function table on an inner
// OpenGL canvas. Where the platform cannot give an OpenGL context at all, the widget shows a plain
// message instead; every operation still works on the data, and nothing is drawn.

#include "common/analysis/Hull.h"

#include <QColor>
#include <QMatrix4x4>
#include <QPoint>
#include <QVector3D>
#include <QWidget>

#include <vector>

class QLabel;
class QMenu;
class QOpenGLFunctions_1_0;
class QTimer;
class HullCanvas;

enum MeshMode { MeshSolid = 0, MeshWireframe = 1, MeshTranslucent = 2, MeshPoints = 3, MeshCubes = 4 };

// Display space of the view. 0 and 1 both show L*a*b* unchanged; 1 labels the axes.
using color_space_t = int;

class HullWidget : public QWidget
{
    Q_OBJECT

public:
    explicit HullWidget(QWidget* parent = nullptr);
    ~HullWidget() override;

    // True when an OpenGL context can be made on this platform (checked once per process).
    static bool openGLAvailable();

    // ---- meshes -------------------------------------------------------------------------
    // Appends a mesh. `color`: the wireframe colour, the translucent tint (its alpha, or 0.35
    // when opaque) and ignored otherwise. `subdivision` applies to surfaces (modes 0..2):
    // 0 none, n > 0 that many levels, -1 as many (at most 3) as needed for 1000 triangles.
    void add_mesh(const HullRenderData& data, MeshMode mode, const QColor& color = QColor(Qt::white),
                  int subdivision = 0);
    // Removes every mesh and the selection; emits gamut_changed.
    void clear_meshes();
    // A line over the middle of the view saying why nothing is drawn; empty hides it.
    void set_notice(const QString& text);
    QString notice() const;
    int meshCount() const { return int(meshes_.size()); }
    MeshMode meshMode(int mesh) const { return meshes_[std::size_t(mesh)].mode; }
    std::size_t meshVertexCount(int mesh) const { return meshes_[std::size_t(mesh)].source.vertexCount(); }
    // The data as given (vector ends included, as changed by Shift-clicks).
    const HullRenderData& meshSource(int mesh) const { return meshes_[std::size_t(mesh)].source; }
    // The data drawn: subdivided, in the display space, with recomputed surface normals.
    const HullRenderData& meshDisplay(int mesh) const { return meshes_[std::size_t(mesh)].display; }

    // ---- view options -------------------------------------------------------------------
    void set_zoom(float distance);  // camera distance, 30..1300; emits zoom_changed
    void set_dot_size(float size);  // 1..8
    void set_grid_res(int divisions);  // 1..16
    void set_show_grid(bool on);   // the L* = 0 base grid
    void set_side_grids(bool on);  // the two back walls, drawn only with the base grid
    void set_show_scale(bool on);
    void set_unit_scale(bool on);
    // What the unit scale prints at the two ends of each axis (0 and 1 by default), for views
    // that place coordinates of another range in the unit box: across (x), vertical, depth (z).
    struct ScaleRange {
        float low = 0.0f, high = 1.0f;
    };
    void set_unit_scale_ranges(ScaleRange across, ScaleRange vertical, ScaleRange depth);  // 0..1 labels instead of L*a*b* values
    void set_spheres(bool on);     // lit spheres, else flat round dots
    void set_proportional_points(bool on);  // point size follows the zoom
    void set_color_space(color_space_t space);  // rebuilds the display copies and fits
    void set_background(const QColor& color);

    float zoom() const { return zoom_; }
    float pitch() const { return pitch_; }
    float yaw() const { return yaw_; }
    float dotSize() const { return dotSize_; }
    int gridRes() const { return gridRes_; }
    bool showGrid() const { return showGrid_; }
    bool sideGridsShown() const { return sideGrids_ && showGrid_; }
    bool showScale() const { return showScale_; }
    color_space_t colorSpace() const { return colorSpace_; }

    // ---- camera -------------------------------------------------------------------------
    void reset_camera();
    // Sets the orbit angles, normalised to 0..360 and snapped like a drag.
    void set_rotation(float pitch, float yaw);
    // The distance auto_fit() animates to for the current meshes and widget size.
    float fit_distance() const;
    bool fitAnimating() const;

    // ---- points -------------------------------------------------------------------------
    // Selects the first point with this id (ids ≤ 0 clear the selection; unknown ids change
    // nothing).
    void select_point_id(int id);
    // Emits point_clicked for this id (all zeros when unknown or ≤ 0).
    void emit_point_info(int id);
    // Widget position of a point of a point-cloud mesh; false for unknown ids or off-camera.
    bool point_screen_pos(int id, QPoint* position) const;
    int selectedMesh() const { return selMesh_; }
    int selectedPoint() const { return selPoint_; }

    // ---- helpers shared with tests ------------------------------------------------------
    static float snap_angle(float degrees);  // normalised to 0..360, snapped to quarter turns
    static float translucent_alpha(const QColor& color);
    static int auto_subdivision_levels(std::size_t triangles);
    // One level: every triangle into four, edge midpoints shared, normals per triangle.
    static HullRenderData subdivide(const HullRenderData& data);

    // The world directions along which label text runs (right) and stands (up) so that it reads
    // left to right, upright and unmirrored on screen from any camera angle: the screen's axes
    // taken back into the scene, unit length.
    static void label_basis(const QMatrix4x4& modelView, QVector3D* right, QVector3D* up);

    // The matrices of the current frame (projection for the current widget size).
    QMatrix4x4 projectionMatrix() const;
    QMatrix4x4 modelViewMatrix() const;

    // The context menu as shown on a right click (the caller owns it).
    QMenu* createContextMenu(QWidget* parent);
    // The rendered frame (the widget itself when there is no OpenGL).
    QImage grabFrame();

signals:
    void zoom_changed(int distance);
    void point_clicked(int point_id, float lab_l, float lab_a, float lab_b, float vec_l, float vec_a, float vec_b);
    void gamut_changed();

public slots:
    // Animates the camera distance so that everything drawn fits the view.
    void auto_fit();

protected slots:
    // The mesh exports of the context menu (HullWidgetExports.cpp, file formats in
    // GamutAnalysis.h and MeshExport.h).
    // Writes the single point mesh as L*a*b* CGATS text.
    virtual void on_export_lab_cgats();
    // Writes the first surface mesh as a VRML 2.0 file.
    virtual void on_export_vrml();
    // Write every mesh (surfaces, clouds with their vectors) as glTF 2.0 binary or PLY.
    virtual void on_export_glb();
    virtual void on_export_ply();
    void on_fit_anim_tick();
    void on_save_screenshot();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    friend class HullCanvas;

    struct Mesh {
        HullRenderData source;
        HullRenderData display;
        MeshMode mode = MeshSolid;
        QColor color;
        int levels = 0;  // subdivision of surfaces; -1 automatic
    };

    void build_ui();
    void repaint_view();
    void build_display(Mesh& mesh) const;
    void click_at(const QPoint& position, Qt::KeyboardModifiers modifiers);
    void emit_for(int mesh, int point);
    float point_radius() const;

    // Called by the canvas with its context current.
    void initialize_gl();
    void resize_gl(int w, int h);
    void paint_gl();
    void draw_grids(QOpenGLFunctions_1_0* gl) const;
    void draw_mesh(QOpenGLFunctions_1_0* gl, const Mesh& mesh, int viewportHeight) const;
    void draw_axes(QOpenGLFunctions_1_0* gl, float labelSize) const;
    void draw_scale(QOpenGLFunctions_1_0* gl, float labelSize) const;
    void draw_selection(QOpenGLFunctions_1_0* gl, const QMatrix4x4& modelView) const;
    void showEvent(QShowEvent* event) override;
    const Mesh* cgats_mesh() const;  // what "Export Lab CGATS..." writes; null for nothing

    HullCanvas* canvas_ = nullptr;
    QLabel* message_ = nullptr;
    QLabel* notice_ = nullptr;

    std::vector<Mesh> meshes_;
    float pitch_ = 13.0f, yaw_ = 21.0f;
    float panX_ = 0.0f, panY_ = 0.0f;
    float zoom_ = 200.0f;
    float fov_ = 45.0f;
    float dotSize_ = 6.0f;
    int gridRes_ = 4;
    bool showGrid_ = false;
    bool sideGrids_ = false;
    bool showScale_ = false;
    bool unitScale_ = false;
    ScaleRange unitRanges_[3];  // across, vertical, depth
    QVector3D labelRight_{1.0f, 0.0f, 0.0f}, labelUp_{0.0f, 1.0f, 0.0f};  // of the frame being drawn
    bool fittedShown_ = false;  // the first fit at the size the view is shown at has run
    bool spheres_ = true;
    bool proportional_ = true;
    color_space_t colorSpace_ = 1;
    QColor background_ = QColor(51, 51, 51);
    int selMesh_ = -1, selPoint_ = -1;

    QPoint pressPos_, lastPos_;
    bool dragging_ = false;

    QTimer* fitTimer_ = nullptr;
    int fitTick_ = 0;
    float fitStart_ = 0.0f, fitTarget_ = 0.0f;
};
