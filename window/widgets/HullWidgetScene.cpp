// The 3D view's scene in fixed-function OpenGL: lights, grids, meshes, point clouds, axes with
// stroke-glyph labels, the scale and the selection mark.
#include "window/widgets/HullWidget.h"

#include "window/widgets/HullCanvas.h"

#include <QFont>
#include <QFontMetricsF>
#include <QOpenGLVersionFunctionsFactory>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstdio>

#ifndef GL_MULTISAMPLE
#define GL_MULTISAMPLE 0x809D
#endif

using hullview::has_vector;
using hullview::is_surface;
using hullview::kPi;

namespace {

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

// Text in the screen's plane through the anchor, centred on it and set down by 3 × size: it reads
// the same from every side instead of mirrored from behind.
void draw_text(QOpenGLFunctions_1_0* gl, const char* text, const QVector3D& anchor, const QVector3D& right,
               const QVector3D& up, float size)
{
    const GlyphCache& cache = glyphs();
    float width = 0.0f;
    for (const char* c = text; *c; c++)
        if ((unsigned char)*c < 128)
            width += cache.glyphs[(unsigned char)*c].advance * size;
    float pen = -width / 2;
    const float base = -3.0f * size;
    gl->glBegin(GL_LINES);
    for (const char* c = text; *c; c++) {
        const unsigned code = (unsigned char)*c;
        if (code >= 128)
            continue;
        for (const QPointF& p : cache.glyphs[code].segments) {
            const QVector3D q = anchor + (pen + float(p.x()) * size) * right + (base + float(p.y()) * size) * up;
            gl->glVertex3f(q.x(), q.y(), q.z());
        }
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
    label_basis(modelView, &labelRight_, &labelUp_);

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
    // A vertex without a colour of its own is drawn white.
    auto colored = [&](std::size_t v) { return v + 2 < C.size(); };
    const float mr = float(mesh.color.redF()), mg = float(mesh.color.greenF()), mb = float(mesh.color.blueF());
    if (is_surface(mesh.mode)) {
        if (d.indices.empty() || C.empty())
            return;
        const std::size_t count = d.indices.size() - d.indices.size() % 3;
        auto corner = [&](std::size_t k, float alpha, bool tinted, bool normal) {
            const std::size_t v = std::size_t(d.indices[k]) * 3;
            if (normal)
                gl->glNormal3f(-d.normals[k * 3], -d.normals[k * 3 + 1], -d.normals[k * 3 + 2]);
            const bool own = colored(v);
            const float cr = own ? C[v] : 1.0f, cg = own ? C[v + 1] : 1.0f, cb = own ? C[v + 2] : 1.0f;
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
        if (colored(v))
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
        draw_text(gl, axes[a].label, QVector3D(labelAt[a][0], labelAt[a][1], labelAt[a][2]), labelRight_, labelUp_,
                  axisLabel);
    }
}

void HullWidget::draw_scale(QOpenGLFunctions_1_0* gl, float size) const
{
    AxisStyle axes[5];
    axis_styles(colorSpace_, axes);
    const int n = gridRes_;
    char text[32];
    gl->glLineWidth(1.0f);
    auto label = [&](const char* text, float x, float y, float z) {
        draw_text(gl, text, QVector3D(x, y, z), labelRight_, labelUp_, size);
    };
    if (unitScale_) {
        gl->glColor3f(0.85f, 0.85f, 0.85f);
        char across[32], vertical[32], depth[32];
        auto value = [](char* out, const ScaleRange& range, int i) {
            const float v = range.low + (range.high - range.low) * float(i) * 0.25f;
            std::snprintf(out, 32, std::fabs(range.high - range.low) >= 10.0f ? "%.0f" : "%.2f", double(v));
        };
        for (int i = 0; i <= 4; i++) {
            value(across, unitRanges_[0], i);
            value(vertical, unitRanges_[1], i);
            value(depth, unitRanges_[2], i);
            const float h = 25.0f * float(i), l = h - 50.0f;
            gl->glBegin(GL_LINES);
            line(gl, l, -2, 0, l, 2, 0);
            line(gl, -2, h, 0, 2, h, 0);
            line(gl, 0, -2, l, 0, 2, l);
            gl->glEnd();
            // The x and z axes cross at their middle, where the vertical one starts: one label at
            // the crossing, not three printed over each other.
            label(across, l, -8, 0);
            if (i > 0)
                label(vertical, 8, h, 0);
            if (i != 2)
                label(depth, 0, -8, l);
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
                label(text, l, -8, 0);
            const AxisStyle& zs = axes[i < 0 ? 3 : 4];
            gl->glColor3f(zs.color.r, zs.color.g, zs.color.b);
            gl->glBegin(GL_LINES);
            line(gl, 0, -2.5f, l, 0, 2.5f, l);
            gl->glEnd();
            if (!atEnd)
                label(text, 0, -8, l);
        }
        gl->glColor3f(axes[2].color.r, axes[2].color.g, axes[2].color.b);
        for (int i = 2; i <= n; i += 2) {
            const float l = 100.0f * float(i) / float(n);
            std::snprintf(text, sizeof text, "%.0f", double(l));
            gl->glBegin(GL_LINES);
            line(gl, -2.5f, l, 0, 2.5f, l, 0);
            gl->glEnd();
            label(text, 8, l, 0);
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
