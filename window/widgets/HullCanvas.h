#pragma once

// The OpenGL canvas inside HullWidget and the helpers its two source files share; not for use
// outside the widget.

#include "window/widgets/HullWidget.h"

#include <QOpenGLFunctions_1_0>
#include <QOpenGLWidget>
#include <QSurfaceFormat>

namespace hullview {

constexpr float kPi = 3.14159265358979f;

// OpenGL 2.1 compatibility, 24-bit depth, 4 samples.
inline QSurfaceFormat view_format()
{
    QSurfaceFormat format;
    format.setVersion(2, 1);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setDepthBufferSize(24);
    format.setSamples(4);
    return format;
}

inline bool is_surface(MeshMode mode)
{
    return mode == MeshSolid || mode == MeshWireframe || mode == MeshTranslucent;
}

// True when the point has a vector end (a point cloud's normals array), all-zero meaning none.
inline bool has_vector(const HullRenderData& data, std::size_t point)
{
    const std::size_t i = point * 3;
    return i + 2 < data.normals.size()
        && (data.normals[i] != 0.0f || data.normals[i + 1] != 0.0f || data.normals[i + 2] != 0.0f);
}

}  // namespace hullview

// The OpenGL surface of a HullWidget: it only forwards to its owner, and lets mouse input fall
// through to it.
class HullCanvas : public QOpenGLWidget
{
public:
    explicit HullCanvas(HullWidget* owner) : QOpenGLWidget(owner), owner_(owner)
    {
        setFormat(hullview::view_format());
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
