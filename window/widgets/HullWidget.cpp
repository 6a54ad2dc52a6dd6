// The 3D view: meshes and point clouds in L*a*b*, its camera, picking, fit animation and menu.
#include "window/widgets/HullWidget.h"

#include "window/widgets/HullCanvas.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <unordered_map>

using hullview::has_vector;
using hullview::is_surface;
using hullview::kPi;
using hullview::view_format;

namespace {

constexpr float kMinZoom = 30.0f, kMaxZoom = 1300.0f;
constexpr int kFitTicks = 30;

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

}  // namespace

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
    // The notice shares the canvas's cell and lies above it.
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    notice_ = new QLabel(this);
    notice_->setObjectName("hullNotice");
    notice_->setAlignment(Qt::AlignCenter);
    notice_->setWordWrap(true);
    notice_->setAttribute(Qt::WA_TransparentForMouseEvents);
    notice_->setStyleSheet(QStringLiteral("QLabel { background: palette(window); border: 1px solid palette(mid); "
                                          "padding: 8px; }"));
    notice_->hide();
    if (openGLAvailable()) {
        canvas_ = new HullCanvas(this);
        canvas_->setObjectName("hullCanvas");
        layout->addWidget(canvas_, 0, 0);
    } else {
        message_ = new QLabel(tr("The 3D view needs OpenGL, which is not available on this display."), this);
        message_->setObjectName("hullNoOpenGL");
        message_->setAlignment(Qt::AlignCenter);
        message_->setWordWrap(true);
        layout->addWidget(message_, 0, 0);
    }
    layout->addWidget(notice_, 0, 0, Qt::AlignCenter);
}

void HullWidget::set_notice(const QString& text)
{
    notice_->setText(text);
    notice_->setVisible(!text.isEmpty());
    notice_->raise();
}

QString HullWidget::notice() const
{
    return notice_->text();
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

void HullWidget::set_unit_scale_ranges(ScaleRange across, ScaleRange vertical, ScaleRange depth)
{
    unitRanges_[0] = across;
    unitRanges_[1] = vertical;
    unitRanges_[2] = depth;
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

void HullWidget::label_basis(const QMatrix4x4& modelView, QVector3D* right, QVector3D* up)
{
    // The rows of the model-view's rotation are the screen's x and y axes in scene coordinates.
    *right = modelView.row(0).toVector3D().normalized();
    *up = modelView.row(1).toVector3D().normalized();
}

namespace {
// Distance from the pivot (L* 50 on the axis) to the far side of an a*/b* axis label.
const float kLabelRadius = std::sqrt(150.0f * 150.0f + 50.0f * 50.0f);
}  // namespace

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
    // The axis labels are drawn whatever the meshes: their ends (±136 plus a label's half width on
    // the floor, 50 below the pivot) stay in the frame.
    if (colorSpace_ != 0)
        radius = std::max(radius, kLabelRadius);
    const float aspect = float(width()) / float(std::max(height(), 1));
    const float target = radius / (std::min(aspect, 1.0f) * std::tan(22.5f * kPi / 180.0f));
    return std::clamp(target, 50.0f, 1500.0f);
}

void HullWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The fit made at construction used a size the view never had: frame again at the real one.
    if (!fittedShown_) {
        fittedShown_ = true;
        auto_fit();
    }
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
    QAction* glb = menu->addAction(tr("Export glTF binary..."), this, &HullWidget::on_export_glb);
    glb->setObjectName("actionExportGlb");
    glb->setEnabled(!meshes_.empty());
    QAction* ply = menu->addAction(tr("Export PLY..."), this, &HullWidget::on_export_ply);
    ply->setObjectName("actionExportPly");
    ply->setEnabled(!meshes_.empty());
    QAction* cgats = menu->addAction(tr("Export Lab CGATS..."), this, &HullWidget::on_export_lab_cgats);
    cgats->setObjectName("actionExportCgats");
    cgats->setEnabled(cgats_mesh() != nullptr);
    if (!cgats->isEnabled())
        cgats->setToolTip(tr("The view holds no points to export."));
    else if (is_surface(cgats_mesh()->mode))
        cgats->setToolTip(tr("Exports the hull's vertices, the colours on its boundary."));
    menu->setToolTipsVisible(true);
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
