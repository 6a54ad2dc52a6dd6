// The 3D view: meshes and point clouds in L*a*b*, its camera, picking, fit animation and menu.
#include "analysis/HullWidget.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFont>
#include <QFontMetricsF>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions_1_0>
#include <QOpenGLVersionFunctionsFactory>
#include <QOpenGLWidget>
#include <QPainterPath>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_map>

#ifndef GL_MULTISAMPLE
#define GL_MULTISAMPLE 0x809D
#endif

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kMinZoom = 30.0f, kMaxZoom = 1300.0f;
constexpr int kFitTicks = 30;

QSurfaceFormat view_format()
{
    QSurfaceFormat format;
    format.setVersion(2, 1);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setDepthBufferSize(24);
    format.setSamples(4);
    return format;
}

// ---- stroke glyphs ----------------------------------------------------------------------

struct Glyph {
    std::vector<QPointF> segments;  // pairs of line ends, baseline at y 0, y up
    float advance = 0.0f;
};

struct GlyphCache {
    Glyph glyphs[128];
};

GlyphCache build_glyphs()
{
    GlyphCache cache;
    QFont font(QStringLiteral("Sans Serif"));
    font.setPixelSize(48);
    const QFontMetricsF metrics(font);
    const qreal scale = 6.0 / std::max<qreal>(metrics.ascent(), 1.0);
    for (int code = 32; code < 127; code++) {
        const QChar ch(code);
        QPainterPath path;
        path.addText(0, 0, font, QString(ch));
        Glyph& glyph = cache.glyphs[code];
        glyph.advance = float(metrics.horizontalAdvance(ch) * scale);
        for (const QPolygonF& polygon : path.toSubpathPolygons()) {
            for (int i = 0; i + 1 < polygon.size(); i++) {
                glyph.segments.emplace_back(polygon[i].x() * scale, -polygon[i].y() * scale);
                glyph.segments.emplace_back(polygon[i + 1].x() * scale, -polygon[i + 1].y() * scale);
            }
        }
    }
    return cache;
}

const GlyphCache& glyphs()
{
    static const GlyphCache cache = build_glyphs();  // thread-safe, built on first use
    return cache;
}

struct Rgb {
    float r, g, b;
};

struct AxisStyle {
    const char* label;
    Rgb color;
};

// −x, +x, +y, −z, +z.
void axis_styles(color_space_t space, AxisStyle out[5])
{
    if (space == 1) {
        out[0] = {"-b*", {0.2f, 0.2f, 1.0f}};
        out[1] = {"+b*", {1.0f, 1.0f, 0.0f}};
        out[2] = {"L*", {0.9f, 0.9f, 0.9f}};
        out[3] = {"-a*", {0.0f, 1.0f, 0.0f}};
        out[4] = {"+a*", {1.0f, 0.0f, 0.0f}};
        return;
    }
    for (int i = 0; i < 5; i++) out[i] = {"", {1.0f, 1.0f, 1.0f}};
}

// Per-triangle normals of a surface, three copies each; `threshold` is the length below which a
// normal is left unnormalised.
void rebuild_normals(HullRenderData& data, float threshold)
{
    data.normals.clear();
    data.normals.reserve(data.indices.size() * 3);
    const std::vector<float>& P = data.positions;
    for (std::size_t t = 0; t + 2 < data.indices.size(); t += 3) {
        const float* a = &P[std::size_t(data.indices[t]) * 3];
        const float* b = &P[std::size_t(data.indices[t + 1]) * 3];
        const float* c = &P[std::size_t(data.indices[t + 2]) * 3];
        const float ux = b[0] - a[0], uy = b[1] - a[1], uz = b[2] - a[2];
        const float vx = c[0] - a[0], vy = c[1] - a[1], vz = c[2] - a[2];
        float n[3] = {uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx};
        const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        if (length > threshold)
            for (float& v : n) v /= length;
        for (int copy = 0; copy < 3; copy++) data.normals.insert(data.normals.end(), n, n + 3);
    }
}

bool is_surface(MeshMode mode)
{
    return mode == MeshSolid || mode == MeshWireframe || mode == MeshTranslucent;
}

bool has_vector(const HullRenderData& data, std::size_t point)
{
    const std::size_t i = point * 3;
    return i + 2 < data.normals.size()
        && (data.normals[i] != 0.0f || data.normals[i + 1] != 0.0f || data.normals[i + 2] != 0.0f);
}

}  // namespace

// The OpenGL surface of a HullWidget: it only forwards to its owner, and lets mouse input fall
// through to it.
class HullCanvas : public QOpenGLWidget
{
public:
    explicit HullCanvas(HullWidget* owner) : QOpenGLWidget(owner), owner_(owner)
    {
        setFormat(view_format());
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    ~HullCanvas() override
    {
        if (sphereList && gl && context()) {
            makeCurrent();
            gl->glDeleteLists(sphereList, 1);
            doneCurrent();
        }
    }

    QOpenGLFunctions_1_0* gl = nullptr;
    GLuint sphereList = 0;

protected:
    void initializeGL() override { owner_->initialize_gl(); }
    void resizeGL(int w, int h) override { owner_->resize_gl(w, h); }
    void paintGL() override { owner_->paint_gl(); }

private:
    HullWidget* owner_;
};

// ---- construction -------------------------------------------------------------------------

HullWidget::HullWidget(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(120, 90);
    build_ui();
    auto* fit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_K), this);
    fit->setContext(Qt::WidgetWithChildrenShortcut);
    connect(fit, &QShortcut::activated, this, &HullWidget::auto_fit);
    auto_fit();
}

HullWidget::~HullWidget() = default;

bool HullWidget::openGLAvailable()
{
    static const bool available = [] {
        if (!QGuiApplication::instance())
            return false;
        QOpenGLContext context;
        context.setFormat(view_format());
        if (!context.create())
            return false;
        QOffscreenSurface surface;
        surface.setFormat(context.format());
        surface.create();
        const bool current = surface.isValid() && context.makeCurrent(&surface);
        if (current)
            context.doneCurrent();
        return current;
    }();
    return available;
}

void HullWidget::build_ui()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (openGLAvailable()) {
        canvas_ = new HullCanvas(this);
        canvas_->setObjectName("hullCanvas");
        layout->addWidget(canvas_);
        return;
    }
    message_ = new QLabel(tr("The 3D view needs OpenGL, which is not available on this display."), this);
    message_->setObjectName("hullNoOpenGL");
    message_->setAlignment(Qt::AlignCenter);
    message_->setWordWrap(true);
    layout->addWidget(message_);
}

void HullWidget::repaint_view()
{
    if (canvas_)
        canvas_->update();
}

// ---- meshes -------------------------------------------------------------------------------

int HullWidget::auto_subdivision_levels(std::size_t triangles)
{
    if (triangles == 0)
        return 0;
    int levels = 0;
    while (levels < 3 && triangles < 1000) {
        triangles *= 4;
        ++levels;
    }
    return levels;
}

HullRenderData HullWidget::subdivide(const HullRenderData& data)
{
    HullRenderData out;
    out.positions = data.positions;
    const bool colored = data.colors.size() >= data.positions.size() && !data.colors.empty();
    if (colored)
        out.colors = data.colors;
    std::unordered_map<std::uint64_t, std::uint32_t> midpoints;
    auto midpoint = [&](std::uint32_t a, std::uint32_t b) {
        const std::uint64_t key = (std::uint64_t(std::min(a, b)) << 32) | std::max(a, b);
        const auto found = midpoints.find(key);
        if (found != midpoints.end())
            return found->second;
        const std::uint32_t index = std::uint32_t(out.positions.size() / 3);
        for (int k = 0; k < 3; k++)
            out.positions.push_back((out.positions[a * 3 + k] + out.positions[b * 3 + k]) * 0.5f);
        if (colored)
            for (int k = 0; k < 3; k++) out.colors.push_back((out.colors[a * 3 + k] + out.colors[b * 3 + k]) * 0.5f);
        midpoints.emplace(key, index);
        return index;
    };
    out.indices.reserve(data.indices.size() * 4);
    for (std::size_t t = 0; t + 2 < data.indices.size(); t += 3) {
        const std::uint32_t A = data.indices[t], B = data.indices[t + 1], C = data.indices[t + 2];
        const std::uint32_t ab = midpoint(A, B), bc = midpoint(B, C), ca = midpoint(C, A);
        for (const std::uint32_t v : {A, ab, ca, ab, B, bc, ca, bc, C, ab, bc, ca}) out.indices.push_back(v);
    }
    rebuild_normals(out, 0.0001f);
    return out;
}

void HullWidget::build_display(Mesh& mesh) const
{
    mesh.display = mesh.source;
    if (is_surface(mesh.mode)) {
        const int levels = mesh.levels < 0 ? auto_subdivision_levels(mesh.source.triangleCount()) : mesh.levels;
        for (int i = 0; i < levels; i++) mesh.display = subdivide(mesh.display);
    }
    // Display spaces 0 and 1 show L*a*b* as it is; no view uses another.
    if (is_surface(mesh.mode))
        rebuild_normals(mesh.display, 1e-9f);
}

void HullWidget::add_mesh(const HullRenderData& data, MeshMode mode, const QColor& color, int subdivision)
{
    Mesh mesh;
    mesh.source = data;
    mesh.mode = mode;
    mesh.color = color;
    mesh.levels = subdivision;
    build_display(mesh);
    meshes_.push_back(std::move(mesh));
    repaint_view();
}

void HullWidget::clear_meshes()
{
    meshes_.clear();
    selMesh_ = selPoint_ = -1;
    emit gamut_changed();
    repaint_view();
}

// ---- options ------------------------------------------------------------------------------

void HullWidget::set_zoom(float distance)
{
    zoom_ = std::clamp(distance, kMinZoom, kMaxZoom);
    emit zoom_changed(int(zoom_));
    repaint_view();
}

void HullWidget::set_dot_size(float size)
{
    dotSize_ = std::clamp(size, 1.0f, 8.0f);
    repaint_view();
}

void HullWidget::set_grid_res(int divisions)
{
    gridRes_ = std::clamp(divisions, 1, 16);
    repaint_view();
}

void HullWidget::set_show_grid(bool on)
{
    showGrid_ = on;
    repaint_view();
}

void HullWidget::set_side_grids(bool on)
{
    sideGrids_ = on;
    repaint_view();
}

void HullWidget::set_show_scale(bool on)
{
    showScale_ = on;
    repaint_view();
}

void HullWidget::set_unit_scale(bool on)
{
    unitScale_ = on;
    repaint_view();
}

void HullWidget::set_spheres(bool on)
{
    spheres_ = on;
    repaint_view();
}

void HullWidget::set_proportional_points(bool on)
{
    proportional_ = on;
    repaint_view();
}

void HullWidget::set_color_space(color_space_t space)
{
    if (space == colorSpace_)
        return;
    colorSpace_ = space;
    for (Mesh& mesh : meshes_) build_display(mesh);
    auto_fit();
    repaint_view();
}

void HullWidget::set_background(const QColor& color)
{
    background_ = color;
    repaint_view();
}

// ---- camera -------------------------------------------------------------------------------

float HullWidget::snap_angle(float degrees)
{
    float v = std::fmod(degrees, 360.0f);
    if (v < 0.0f)
        v += 360.0f;
    for (const float quarter : {0.0f, 90.0f, 180.0f, 270.0f, 360.0f}) {
        if (std::fabs(v - quarter) <= 1.5f)
            return quarter == 360.0f ? 0.0f : quarter;
    }
    return v;
}

void HullWidget::set_rotation(float pitch, float yaw)
{
    pitch_ = snap_angle(pitch);
    yaw_ = snap_angle(yaw);
    repaint_view();
}

void HullWidget::reset_camera()
{
    pitch_ = 13.0f;
    yaw_ = 21.0f;
    panX_ = panY_ = 0.0f;
    set_zoom(200.0f);
    auto_fit();
}

QMatrix4x4 HullWidget::projectionMatrix() const
{
    QMatrix4x4 m;
    m.perspective(fov_, float(width()) / float(std::max(height(), 1)), 0.1f, 1500.0f);
    return m;
}

QMatrix4x4 HullWidget::modelViewMatrix() const
{
    QMatrix4x4 m;
    m.translate(panX_, panY_, -zoom_);
    m.rotate(pitch_, 1.0f, 0.0f, 0.0f);
    m.rotate(yaw_, 0.0f, 1.0f, 0.0f);
    m.translate(0.0f, -50.0f, 0.0f);  // L* = 50 is the pivot
    return m;
}

float HullWidget::fit_distance() const
{
    float lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    bool any = false;
    auto include = [&](const float* p) {
        for (int k = 0; k < 3; k++) {
            lo[k] = any ? std::min(lo[k], p[k]) : p[k];
            hi[k] = any ? std::max(hi[k], p[k]) : p[k];
        }
        any = true;
    };
    for (const Mesh& mesh : meshes_) {
        const HullRenderData& d = mesh.display;
        for (std::size_t i = 0; i + 2 < d.positions.size(); i += 3) include(&d.positions[i]);
        if (mesh.mode == MeshPoints || mesh.mode == MeshCubes) {
            for (std::size_t p = 0; p < d.vertexCount(); p++)
                if (has_vector(d, p))
                    include(&d.normals[p * 3]);
        }
    }
    float radius = 138.0f;
    if (any) {
        const float hx = (hi[0] - lo[0]) / 2, hz = (hi[2] - lo[2]) / 2;
        const float hy = std::fabs((hi[1] + lo[1]) / 2 - 50.0f) + (hi[1] - lo[1]) / 2;
        radius = std::max(10.0f, 1.1f * std::sqrt(hy * hy + hx * hx + hz * hz));
    }
    const float aspect = float(width()) / float(std::max(height(), 1));
    const float target = radius / (std::min(aspect, 1.0f) * std::tan(22.5f * kPi / 180.0f));
    return std::clamp(target, 50.0f, 1500.0f);
}

void HullWidget::auto_fit()
{
    if (!fitTimer_) {
        fitTimer_ = new QTimer(this);
        fitTimer_->setTimerType(Qt::PreciseTimer);
        fitTimer_->setInterval(16);
        connect(fitTimer_, &QTimer::timeout, this, &HullWidget::on_fit_anim_tick);
    }
    fitStart_ = zoom_;
    fitTarget_ = fit_distance();
    fitTick_ = 0;
    fitTimer_->start();
}

bool HullWidget::fitAnimating() const
{
    return fitTimer_ && fitTimer_->isActive();
}

void HullWidget::on_fit_anim_tick()
{
    ++fitTick_;
    if (fitTick_ >= kFitTicks) {
        fitTimer_->stop();
        set_zoom(fitTarget_);
        return;
    }
    const float t = float(fitTick_) / kFitTicks;
    set_zoom(fitStart_ + (fitTarget_ - fitStart_) * t * t * (3.0f - 2.0f * t));
}

// ---- points -------------------------------------------------------------------------------

void HullWidget::select_point_id(int id)
{
    if (id <= 0) {
        selMesh_ = selPoint_ = -1;
        repaint_view();
        return;
    }
    for (std::size_t m = 0; m < meshes_.size(); m++) {
        const auto& ids = meshes_[m].source.ids;
        const auto found = std::find(ids.begin(), ids.end(), id);
        if (found != ids.end()) {
            selMesh_ = int(m);
            selPoint_ = int(found - ids.begin());
            repaint_view();
            return;
        }
    }
}

void HullWidget::emit_for(int mesh, int point)
{
    const HullRenderData& d = meshes_[std::size_t(mesh)].source;
    const std::size_t i = std::size_t(point) * 3;
    const int id = std::size_t(point) < d.ids.size() ? d.ids[std::size_t(point)] : point;
    float vec[3] = {0, 0, 0};
    if (has_vector(d, std::size_t(point)))
        std::copy_n(&d.normals[i], 3, vec);
    // Positions are (b*, L*, a*); the signal carries L*, a*, b*.
    emit point_clicked(id, d.positions[i + 1], d.positions[i + 2], d.positions[i], vec[1], vec[2], vec[0]);
}

void HullWidget::emit_point_info(int id)
{
    if (id > 0) {
        for (std::size_t m = 0; m < meshes_.size(); m++) {
            const auto& ids = meshes_[m].source.ids;
            const auto found = std::find(ids.begin(), ids.end(), id);
            if (found != ids.end() && std::size_t(found - ids.begin()) < meshes_[m].source.vertexCount()) {
                emit_for(int(m), int(found - ids.begin()));
                return;
            }
        }
    }
    emit point_clicked(0, 0, 0, 0, 0, 0, 0);
}

bool HullWidget::point_screen_pos(int id, QPoint* position) const
{
    for (const Mesh& mesh : meshes_) {
        if (mesh.mode != MeshPoints && mesh.mode != MeshCubes)
            continue;
        const auto found = std::find(mesh.source.ids.begin(), mesh.source.ids.end(), id);
        if (found == mesh.source.ids.end())
            continue;
        const std::size_t i = std::size_t(found - mesh.source.ids.begin()) * 3;
        if (i + 2 >= mesh.display.positions.size())
            return false;
        const QVector4D clip = projectionMatrix() * modelViewMatrix()
            * QVector4D(mesh.display.positions[i], mesh.display.positions[i + 1], mesh.display.positions[i + 2], 1.0f);
        if (std::fabs(clip.w()) < 1e-5f)
            return false;
        const float x = (clip.x() / clip.w() + 1.0f) * 0.5f * float(width());
        const float y = (1.0f - (clip.y() / clip.w() + 1.0f) * 0.5f) * float(height());
        if (position)
            *position = QPoint(int(std::lround(x)), int(std::lround(y)));
        return true;
    }
    return false;
}

float HullWidget::point_radius() const
{
    return dotSize_ * 0.25f * (proportional_ ? zoom_ / 200.0f : 1.0f);
}

float HullWidget::translucent_alpha(const QColor& color)
{
    return color.alpha() == 255 ? 0.35f : float(color.alphaF());
}

// ---- mouse --------------------------------------------------------------------------------

void HullWidget::mousePressEvent(QMouseEvent* event)
{
    pressPos_ = lastPos_ = event->position().toPoint();
    dragging_ = event->button() == Qt::LeftButton;
    setFocus(Qt::MouseFocusReason);
}

void HullWidget::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPoint position = event->position().toPoint();
    const QPoint delta = position - lastPos_;
    lastPos_ = position;
    if (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)) {
        panX_ += 0.3f * float(delta.x());
        panY_ -= 0.3f * float(delta.y());
        repaint_view();
        return;
    }
    set_rotation(pitch_ + 0.5f * float(delta.y()), yaw_ + 0.5f * float(delta.x()));
}

void HullWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !dragging_)
        return;
    dragging_ = false;
    const QPoint position = event->position().toPoint();
    if ((position - pressPos_).manhattanLength() <= 4)
        click_at(position, event->modifiers());
}

void HullWidget::wheelEvent(QWheelEvent* event)
{
    set_zoom(zoom_ - (float(event->angleDelta().y()) / 120.0f) * 15.0f);
    event->accept();
}

void HullWidget::click_at(const QPoint& position, Qt::KeyboardModifiers modifiers)
{
    const int rememberedMesh = selMesh_, rememberedPoint = selPoint_;
    selMesh_ = selPoint_ = -1;
    repaint_view();

    // The ray under the pointer, from the near plane to the far plane.
    const qreal ratio = devicePixelRatioF();
    const float vw = float(width() * ratio), vh = float(height() * ratio);
    const float px = float(position.x() * ratio), py = vh - float(position.y() * ratio);
    bool invertible = false;
    const QMatrix4x4 inverse = (projectionMatrix() * modelViewMatrix()).inverted(&invertible);
    if (!invertible || vw <= 0.0f || vh <= 0.0f)
        return;
    QVector3D ends[2];
    for (int k = 0; k < 2; k++) {
        const QVector4D p = inverse * QVector4D(2.0f * px / vw - 1.0f, 2.0f * py / vh - 1.0f, 2.0f * k - 1.0f, 1.0f);
        if (std::fabs(p.w()) < 1e-5f)
            return;
        ends[k] = p.toVector3D() / p.w();
    }
    const QVector3D direction = ends[1] - ends[0];
    if (direction.length() < 1e-6f)
        return;
    const QVector3D unit = direction.normalized();

    int hitMesh = -1, hitPoint = -1;
    float best = dotSize_ * 0.5f;
    for (std::size_t m = 0; m < meshes_.size(); m++) {
        if (meshes_[m].mode != MeshPoints && meshes_[m].mode != MeshCubes)
            continue;
        const std::vector<float>& P = meshes_[m].display.positions;
        for (std::size_t i = 0; i + 2 < P.size(); i += 3) {
            const QVector3D offset = QVector3D(P[i], P[i + 1], P[i + 2]) - ends[0];
            const float along = std::max(0.0f, QVector3D::dotProduct(offset, unit));
            const float distance = (offset - along * unit).length();
            if (distance < best) {
                best = distance;
                hitMesh = int(m);
                hitPoint = int(i / 3);
            }
        }
    }
    if (hitMesh < 0) {
        emit point_clicked(0, 0, 0, 0, 0, 0, 0);
        return;
    }

    const bool linking = modifiers & (Qt::ShiftModifier | Qt::ControlModifier);
    if (linking && rememberedMesh >= 0 && (rememberedMesh != hitMesh || rememberedPoint != hitPoint)) {
        // The remembered point gets a vector to the clicked one.
        Mesh& from = meshes_[std::size_t(rememberedMesh)];
        from.source.normals.resize(from.source.positions.size(), 0.0f);
        const std::vector<float>& target = meshes_[std::size_t(hitMesh)].source.positions;
        std::copy_n(&target[std::size_t(hitPoint) * 3], 3, &from.source.normals[std::size_t(rememberedPoint) * 3]);
        build_display(from);
        emit_for(rememberedMesh, rememberedPoint);
        repaint_view();
        return;
    }

    selMesh_ = hitMesh;
    selPoint_ = hitPoint;
    const HullRenderData& hit = meshes_[std::size_t(hitMesh)].source;
    if (std::size_t(hitPoint) < hit.ids.size()) {
        select_point_id(hit.ids[std::size_t(hitPoint)]);
        emit_point_info(hit.ids[std::size_t(hitPoint)]);
    } else {
        // Without ids the point is reported by its index.
        emit_for(hitMesh, hitPoint);
    }
    repaint_view();
}

// ---- menu, hiding, exports ----------------------------------------------------------------

QMenu* HullWidget::createContextMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    QAction* fit = menu->addAction(tr("Auto fit"), this, &HullWidget::auto_fit);
    fit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    fit->setObjectName("actionAutoFit");
    menu->addAction(tr("Reset camera"), this, &HullWidget::reset_camera)->setObjectName("actionResetCamera");
    menu->addSeparator();
    menu->addAction(tr("Save screenshot..."), this, &HullWidget::on_save_screenshot)->setObjectName("actionScreenshot");
    menu->addAction(tr("Export VRML..."), this, &HullWidget::on_export_vrml)->setObjectName("actionExportVrml");
    QAction* cgats = menu->addAction(tr("Export Lab CGATS..."), this, &HullWidget::on_export_lab_cgats);
    cgats->setObjectName("actionExportCgats");
    cgats->setEnabled(meshes_.size() == 1
                      && (meshes_.front().mode == MeshPoints || meshes_.front().mode == MeshCubes));
    return menu;
}

void HullWidget::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = createContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void HullWidget::hideEvent(QHideEvent* event)
{
    // Popups, tool windows and tool tips belonging to the view go with it.
    for (QWidget* child : findChildren<QWidget*>()) {
        if (!child->isWindow())
            continue;
        const Qt::WindowType type = child->windowType();
        if (type == Qt::Popup || type == Qt::Tool || type == Qt::ToolTip)
            child->hide();
    }
    QWidget::hideEvent(event);
}

QImage HullWidget::grabFrame()
{
    if (canvas_)
        return canvas_->grabFramebuffer();
    return grab().toImage();
}

void HullWidget::on_save_screenshot()
{
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save screenshot"), QString(),
        QStringLiteral("PNG image (*.png);;JPEG image (*.jpg *.jpeg);;BMP image (*.bmp);;"
                       "TIFF image (*.tif *.tiff);;All files (*.*)"));
    if (path.isEmpty())
        return;
    if (!grabFrame().save(path))
        QMessageBox::critical(this, tr("Screenshot failed"), tr("Could not write file:\n%1").arg(path));
}

// ---- OpenGL -------------------------------------------------------------------------------

void HullWidget::initialize_gl()
{
    canvas_->gl = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_1_0>(canvas_->context());
    QOpenGLFunctions_1_0* gl = canvas_->gl;
    if (!gl)
        return;  // not a desktop compatibility context: paint_gl only clears
    gl->initializeOpenGLFunctions();
    gl->glClearColor(0.2f, 0.2f, 0.2f, 1.0f);
    gl->glEnable(GL_DEPTH_TEST);
    gl->glDepthFunc(GL_LESS);
    gl->glEnable(GL_CULL_FACE);
    gl->glFrontFace(GL_CCW);
    gl->glEnable(GL_LIGHTING);
    gl->glEnable(GL_LIGHT0);
    gl->glEnable(GL_LIGHT1);
    // Given while the model-view is identity, so the lights move with the camera.
    gl->glMatrixMode(GL_MODELVIEW);
    gl->glLoadIdentity();
    const GLfloat pos0[] = {0.5f, -1.0f, 0.5f, 0.0f}, pos1[] = {-0.5f, 1.0f, -0.5f, 0.0f};
    const GLfloat amb0[] = {0.3f, 0.3f, 0.3f, 1.0f}, dif0[] = {0.6f, 0.6f, 0.6f, 1.0f}, spe0[] = {0.8f, 0.8f, 0.8f, 1.0f};
    const GLfloat amb1[] = {0.0f, 0.0f, 0.0f, 1.0f}, dif1[] = {0.25f, 0.25f, 0.25f, 1.0f}, spe1[] = {0.0f, 0.0f, 0.0f, 1.0f};
    gl->glLightfv(GL_LIGHT0, GL_POSITION, pos0);
    gl->glLightfv(GL_LIGHT0, GL_AMBIENT, amb0);
    gl->glLightfv(GL_LIGHT0, GL_DIFFUSE, dif0);
    gl->glLightfv(GL_LIGHT0, GL_SPECULAR, spe0);
    gl->glLightfv(GL_LIGHT1, GL_POSITION, pos1);
    gl->glLightfv(GL_LIGHT1, GL_AMBIENT, amb1);
    gl->glLightfv(GL_LIGHT1, GL_DIFFUSE, dif1);
    gl->glLightfv(GL_LIGHT1, GL_SPECULAR, spe1);
    const GLfloat white[] = {1.0f, 1.0f, 1.0f, 1.0f}, specular[] = {0.4f, 0.4f, 0.4f, 1.0f};
    gl->glMaterialfv(GL_FRONT, GL_AMBIENT, white);
    gl->glMaterialfv(GL_FRONT, GL_DIFFUSE, white);
    gl->glMaterialfv(GL_FRONT, GL_SPECULAR, specular);
    gl->glMaterialf(GL_FRONT, GL_SHININESS, 48.0f);
    gl->glShadeModel(GL_SMOOTH);
    gl->glColorMaterial(GL_FRONT, GL_AMBIENT_AND_DIFFUSE);
    gl->glEnable(GL_COLOR_MATERIAL);
    gl->glEnable(GL_BLEND);
    gl->glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    gl->glEnable(GL_MULTISAMPLE);

    // The unit sphere of the lit points: 8 latitude bands of quad strips over 9 longitudes.
    canvas_->sphereList = gl->glGenLists(1);
    gl->glNewList(canvas_->sphereList, GL_COMPILE);
    for (int band = 0; band < 8; band++) {
        gl->glBegin(GL_QUAD_STRIP);
        for (int lon = 0; lon <= 8; lon++) {
            const float theta = float(lon) * 45.0f * kPi / 180.0f;
            for (const int edge : {band, band + 1}) {  // counter-clockwise from outside
                const float phi = (-90.0f + 22.5f * float(edge)) * kPi / 180.0f;
                const float x = std::cos(theta) * std::cos(phi), y = std::sin(phi), z = std::sin(theta) * std::cos(phi);
                gl->glNormal3f(x, y, z);
                gl->glVertex3f(x, y, z);
            }
        }
        gl->glEnd();
    }
    gl->glEndList();
}

void HullWidget::resize_gl(int w, int h)
{
    if (QOpenGLFunctions_1_0* gl = canvas_->gl)
        gl->glViewport(0, 0, w, h);
}

namespace {

void draw_text(QOpenGLFunctions_1_0* gl, const char* text, float x, float y, float z, float size)
{
    const GlyphCache& cache = glyphs();
    float width = 0.0f;
    for (const char* c = text; *c; c++)
        if ((unsigned char)*c < 128)
            width += cache.glyphs[(unsigned char)*c].advance * size;
    float pen = x - width / 2;
    const float base = y - 3.0f * size;
    gl->glBegin(GL_LINES);
    for (const char* c = text; *c; c++) {
        const unsigned code = (unsigned char)*c;
        if (code >= 128)
            continue;
        for (const QPointF& p : cache.glyphs[code].segments)
            gl->glVertex3f(pen + float(p.x()) * size, base + float(p.y()) * size, z);
        pen += cache.glyphs[code].advance * size;
    }
    gl->glEnd();
}

void line(QOpenGLFunctions_1_0* gl, float x0, float y0, float z0, float x1, float y1, float z1)
{
    gl->glVertex3f(x0, y0, z0);
    gl->glVertex3f(x1, y1, z1);
}

void flat(QOpenGLFunctions_1_0* gl)
{
    gl->glDisable(GL_LIGHTING);
    gl->glDisable(GL_CULL_FACE);
}

void lit(QOpenGLFunctions_1_0* gl)
{
    gl->glEnable(GL_LIGHTING);
    gl->glEnable(GL_CULL_FACE);
}

}  // namespace

void HullWidget::paint_gl()
{
    QOpenGLFunctions_1_0* gl = canvas_->gl;
    if (!gl)
        return;
    const qreal ratio = canvas_->devicePixelRatioF();
    const int vw = int(canvas_->width() * ratio), vh = int(canvas_->height() * ratio);
    gl->glViewport(0, 0, vw, vh);
    gl->glClearColor(background_.redF(), background_.greenF(), background_.blueF(), 1.0f);
    gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    gl->glMatrixMode(GL_PROJECTION);
    gl->glLoadMatrixf(projectionMatrix().constData());
    gl->glMatrixMode(GL_MODELVIEW);
    const QMatrix4x4 modelView = modelViewMatrix();
    gl->glLoadMatrixf(modelView.constData());

    if (showGrid_)
        draw_grids(gl);
    for (const Mesh& mesh : meshes_)
        draw_mesh(gl, mesh, vh);
    // Labels keep a readable height on screen whatever the distance: world units per pixel at
    // the pivot's depth, over the glyphs' 6-unit ascent.
    const float unitsPerPixel = 2.0f * zoom_ * std::tan(fov_ * kPi / 360.0f) / float(std::max(vh, 1)) * float(ratio);
    draw_axes(gl, 13.0f * unitsPerPixel / 6.0f);
    if (showScale_)
        draw_scale(gl, 10.0f * unitsPerPixel / 6.0f);
    draw_selection(gl, modelView);
}

void HullWidget::draw_grids(QOpenGLFunctions_1_0* gl) const
{
    const int n = gridRes_;
    flat(gl);
    gl->glLineWidth(1.0f);
    gl->glColor3f(0.45f, 0.45f, 0.45f);
    gl->glBegin(GL_LINES);
    for (int i = -n; i <= n; i++) {
        const float e = 128.0f * float(i) / float(n);
        line(gl, -128, 0, e, 128, 0, e);
        line(gl, e, 0, -128, e, 0, 128);
    }
    if (sideGrids_) {
        for (int i = -n; i <= n; i++) {
            const float e = 128.0f * float(i) / float(n);
            line(gl, e, 0, -128, e, 100, -128);
            line(gl, -128, 0, e, -128, 100, e);
        }
        for (int i = 0; i <= n; i++) {
            const float h = 100.0f * float(i) / float(n);
            line(gl, -128, h, -128, 128, h, -128);
            line(gl, -128, h, -128, -128, h, 128);
        }
    }
    gl->glEnd();
}

void HullWidget::draw_mesh(QOpenGLFunctions_1_0* gl, const Mesh& mesh, int vh) const
{
    const float r = point_radius();
    const HullRenderData& d = mesh.display;
    if (d.positions.empty())
        return;
    const std::vector<float>& P = d.positions;
    const std::vector<float>& C = d.colors;
    const bool colored = C.size() >= P.size();
    const float mr = float(mesh.color.redF()), mg = float(mesh.color.greenF()), mb = float(mesh.color.blueF());
    if (is_surface(mesh.mode)) {
        if (d.indices.empty() || C.empty())
            return;
        const std::size_t count = d.indices.size() - d.indices.size() % 3;
        auto corner = [&](std::size_t k, float alpha, bool tinted, bool normal) {
            const std::size_t v = std::size_t(d.indices[k]) * 3;
            if (normal)
                gl->glNormal3f(-d.normals[k * 3], -d.normals[k * 3 + 1], -d.normals[k * 3 + 2]);
            const float cr = colored ? C[v] : 1.0f, cg = colored ? C[v + 1] : 1.0f, cb = colored ? C[v + 2] : 1.0f;
            if (tinted)
                gl->glColor4f(mr * cr, mg * cg, mb * cb, alpha);
            else if (alpha >= 0.0f)
                gl->glColor3f(cr, cg, cb);
            gl->glVertex3f(P[v], P[v + 1], P[v + 2]);
        };
        if (mesh.mode == MeshSolid) {
            if (d.normals.size() / 3 < d.indices.size())
                return;
            lit(gl);
            gl->glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
            gl->glBegin(GL_TRIANGLES);
            for (std::size_t k = 0; k < count; k++) corner(k, 1.0f, false, true);
            gl->glEnd();
        } else if (mesh.mode == MeshWireframe) {
            flat(gl);
            gl->glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
            gl->glLineWidth(1.0f);
            gl->glColor3f(mr, mg, mb);
            gl->glBegin(GL_TRIANGLES);
            for (std::size_t k = 0; k < count; k++) corner(k, -1.0f, false, false);
            gl->glEnd();
            gl->glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
        } else {
            if (d.normals.size() / 3 < d.indices.size())
                return;
            gl->glEnable(GL_LIGHTING);
            gl->glDisable(GL_CULL_FACE);
            gl->glDepthMask(GL_FALSE);
            const float alpha = translucent_alpha(mesh.color);
            gl->glBegin(GL_TRIANGLES);
            for (std::size_t k = 0; k < count; k++) corner(k, alpha, true, true);
            gl->glEnd();
            gl->glEnable(GL_CULL_FACE);
            gl->glDepthMask(GL_TRUE);
        }
        return;
    }

    // Point clouds.
    auto point_color = [&](std::size_t v) {
        if (colored)
            gl->glColor3f(C[v], C[v + 1], C[v + 2]);
        else
            gl->glColor3f(1.0f, 1.0f, 1.0f);
    };
    if (mesh.mode == MeshPoints && spheres_) {
        lit(gl);
        gl->glEnable(GL_NORMALIZE);  // the unit sphere is scaled
        for (std::size_t v = 0; v + 2 < P.size(); v += 3) {
            point_color(v);
            gl->glPushMatrix();
            gl->glTranslatef(P[v], P[v + 1], P[v + 2]);
            gl->glScalef(r, r, r);
            gl->glCallList(canvas_->sphereList);
            gl->glPopMatrix();
        }
        gl->glDisable(GL_NORMALIZE);
    } else if (mesh.mode == MeshPoints) {
        flat(gl);
        // Multisampling would override point smoothing and draw squares.
        gl->glDisable(GL_MULTISAMPLE);
        gl->glEnable(GL_POINT_SMOOTH);
        gl->glHint(GL_POINT_SMOOTH_HINT, GL_NICEST);
        gl->glEnable(GL_BLEND);
        const float size = 2.0f * float(vh) * 0.5f * r / (std::tan(fov_ * kPi / 360.0f) * zoom_);
        gl->glPointSize(std::max(1.0f, size));
        gl->glBegin(GL_POINTS);
        for (std::size_t v = 0; v + 2 < P.size(); v += 3) {
            point_color(v);
            gl->glVertex3f(P[v], P[v + 1], P[v + 2]);
        }
        gl->glEnd();
        gl->glDisable(GL_POINT_SMOOTH);
        gl->glEnable(GL_MULTISAMPLE);
    } else {
        lit(gl);
        static const float faces[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
        gl->glBegin(GL_QUADS);
        for (std::size_t v = 0; v + 2 < P.size(); v += 3) {
            point_color(v);
            for (const auto& f : faces) {
                gl->glNormal3f(f[0], f[1], f[2]);
                // Two axes spanning the face, ordered so the corners run counter-clockwise
                // seen from outside.
                const int axis = f[0] != 0 ? 0 : (f[1] != 0 ? 1 : 2);
                const float s = f[axis];
                float u[3] = {0, 0, 0}, w[3] = {0, 0, 0};
                u[(axis + 1) % 3] = 1;
                w[(axis + 2) % 3] = 1;
                const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
                for (int c = 0; c < 4; c++) {
                    const int k = s > 0 ? c : 3 - c;
                    float q[3];
                    for (int a = 0; a < 3; a++)
                        q[a] = P[v + a] + r * (f[a] + corners[k][0] * u[a] + corners[k][1] * w[a]);
                    gl->glVertex3f(q[0], q[1], q[2]);
                }
            }
        }
        gl->glEnd();
    }
    // Vectors to second points.
    flat(gl);
    gl->glLineWidth(2.0f);
    gl->glBegin(GL_LINES);
    for (std::size_t p = 0; p < d.vertexCount(); p++) {
        if (!has_vector(d, p))
            continue;
        point_color(p * 3);
        gl->glVertex3f(P[p * 3], P[p * 3 + 1], P[p * 3 + 2]);
        gl->glVertex3f(d.normals[p * 3], d.normals[p * 3 + 1], d.normals[p * 3 + 2]);
    }
    gl->glEnd();
}

void HullWidget::draw_axes(QOpenGLFunctions_1_0* gl, float axisLabel) const
{
    AxisStyle axes[5];
    axis_styles(colorSpace_, axes);
    flat(gl);
    gl->glLineWidth(3.0f);
    gl->glBegin(GL_LINES);
    const float ends[5][3] = {{-128, 0, 0}, {128, 0, 0}, {0, 120, 0}, {0, 0, -128}, {0, 0, 128}};
    for (int a = 0; a < 5; a++) {
        gl->glColor3f(axes[a].color.r, axes[a].color.g, axes[a].color.b);
        gl->glVertex3f(0, 0, 0);
        gl->glVertex3fv(ends[a]);
    }
    gl->glEnd();
    gl->glBegin(GL_TRIANGLES);
    for (int a = 0; a < 5; a++) {
        gl->glColor3f(axes[a].color.r, axes[a].color.g, axes[a].color.b);
        const int axis = a < 2 ? 0 : (a == 2 ? 1 : 2);
        const float sign = ends[a][axis] > 0 ? 1.0f : -1.0f;
        for (const int across : {(axis + 1) % 3, (axis + 2) % 3}) {
            float tip[3] = {ends[a][0], ends[a][1], ends[a][2]};
            float left[3] = {tip[0], tip[1], tip[2]}, right[3] = {tip[0], tip[1], tip[2]};
            left[axis] = right[axis] = tip[axis] - sign * 5.0f;
            left[across] -= 2.0f;
            right[across] += 2.0f;
            gl->glVertex3fv(tip);
            gl->glVertex3fv(left);
            gl->glVertex3fv(right);
        }
    }
    gl->glEnd();
    gl->glLineWidth(1.5f);
    const float labelAt[5][3] = {{-136, 0, 0}, {136, 0, 0}, {0, 128, 0}, {0, 0, -136}, {0, 0, 136}};
    for (int a = 0; a < 5; a++) {
        gl->glColor3f(axes[a].color.r, axes[a].color.g, axes[a].color.b);
        draw_text(gl, axes[a].label, labelAt[a][0], labelAt[a][1], labelAt[a][2], axisLabel);
    }
}

void HullWidget::draw_scale(QOpenGLFunctions_1_0* gl, float size) const
{
    AxisStyle axes[5];
    axis_styles(colorSpace_, axes);
    const int n = gridRes_;
    char text[32];
    gl->glLineWidth(1.0f);
    if (unitScale_) {
        gl->glColor3f(0.85f, 0.85f, 0.85f);
        for (int i = 0; i <= 4; i++) {
            std::snprintf(text, sizeof text, "%.2f", i * 0.25);
            const float h = 25.0f * float(i), l = h - 50.0f;
            gl->glBegin(GL_LINES);
            line(gl, l, -2, 0, l, 2, 0);
            line(gl, -2, h, 0, 2, h, 0);
            line(gl, 0, -2, l, 0, 2, l);
            gl->glEnd();
            draw_text(gl, text, l, -8, 0, size);
            draw_text(gl, text, 8, h, 0, size);
            draw_text(gl, text, 0, -8, l, size);
        }
    } else {
        for (int i = -n; i <= n; i++) {
            if (i == 0 || i % 2 != 0)
                continue;
            const float l = 128.0f * float(i) / float(n);
            std::snprintf(text, sizeof text, "%.0f", double(l));
            const AxisStyle& xs = axes[i < 0 ? 0 : 1];
            gl->glColor3f(xs.color.r, xs.color.g, xs.color.b);
            // The axis ends carry the axis labels; their values would print over them.
            const bool atEnd = i == -n || i == n;
            gl->glBegin(GL_LINES);
            line(gl, l, -2.5f, 0, l, 2.5f, 0);
            gl->glEnd();
            if (!atEnd)
                draw_text(gl, text, l, -8, 0, size);
            const AxisStyle& zs = axes[i < 0 ? 3 : 4];
            gl->glColor3f(zs.color.r, zs.color.g, zs.color.b);
            gl->glBegin(GL_LINES);
            line(gl, 0, -2.5f, l, 0, 2.5f, l);
            gl->glEnd();
            if (!atEnd)
                draw_text(gl, text, 0, -8, l, size);
        }
        gl->glColor3f(axes[2].color.r, axes[2].color.g, axes[2].color.b);
        for (int i = 2; i <= n; i += 2) {
            const float l = 100.0f * float(i) / float(n);
            std::snprintf(text, sizeof text, "%.0f", double(l));
            gl->glBegin(GL_LINES);
            line(gl, -2.5f, l, 0, 2.5f, l, 0);
            gl->glEnd();
            draw_text(gl, text, 8, l, 0, size);
        }
    }
}

void HullWidget::draw_selection(QOpenGLFunctions_1_0* gl, const QMatrix4x4& modelView) const
{
    const float r = point_radius();
    if (selMesh_ >= 0 && std::size_t(selMesh_) < meshes_.size()) {
        const Mesh& mesh = meshes_[std::size_t(selMesh_)];
        const std::size_t v = std::size_t(selPoint_) * 3;
        if (v + 2 < mesh.display.positions.size()) {
            const float* p = &mesh.display.positions[v];
            const float f = 1.8f * r;
            flat(gl);
            gl->glDisable(GL_DEPTH_TEST);
            gl->glColor3f(1.0f, 1.0f, 1.0f);
            gl->glLineWidth(2.0f);
            if (mesh.mode == MeshCubes) {
                gl->glBegin(GL_LINES);
                for (int a = 0; a < 3; a++) {
                    const int b = (a + 1) % 3, c = (a + 2) % 3;
                    for (const float sb : {-f, f})
                        for (const float sc : {-f, f}) {
                            float q0[3], q1[3];
                            q0[a] = p[a] - f, q1[a] = p[a] + f;
                            q0[b] = q1[b] = p[b] + sb;
                            q0[c] = q1[c] = p[c] + sc;
                            gl->glVertex3fv(q0);
                            gl->glVertex3fv(q1);
                        }
                }
                gl->glEnd();
            } else {
                // Facing the camera: the model-view's first two rows are the screen's axes.
                const QVector3D right = modelView.row(0).toVector3D(), up = modelView.row(1).toVector3D();
                gl->glBegin(GL_LINE_LOOP);
                for (int s = 0; s < 32; s++) {
                    const float angle = 2.0f * kPi * float(s) / 32.0f;
                    const QVector3D q = QVector3D(p[0], p[1], p[2])
                        + f * (std::cos(angle) * right + std::sin(angle) * up);
                    gl->glVertex3f(q.x(), q.y(), q.z());
                }
                gl->glEnd();
            }
            gl->glEnable(GL_DEPTH_TEST);
        }
    }
}
