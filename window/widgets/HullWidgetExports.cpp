// The 3D view's file exports of meshes (Lab CGATS text of a point cloud, VRML of a surface, glTF
// binary and PLY of everything shown).
#include "common/analysis/GamutAnalysis.h"
#include "common/analysis/MeshExport.h"
#include "window/widgets/HullWidget.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>

#include <algorithm>
#include <sstream>

const HullWidget::Mesh* HullWidget::cgats_mesh() const
{
    // A point cloud's own points first; otherwise the corners of a surface (a gamut hull's
    // vertices are the colours on its boundary).
    for (const Mesh& mesh : meshes_) {
        if ((mesh.mode == MeshPoints || mesh.mode == MeshCubes) && mesh.source.vertexCount() > 0)
            return &mesh;
    }
    for (const Mesh& mesh : meshes_) {
        if (mesh.source.vertexCount() > 0)
            return &mesh;
    }
    return nullptr;
}

void HullWidget::on_export_lab_cgats()
{
    const Mesh* mesh = cgats_mesh();
    if (!mesh)
        return;
    const QString path = QFileDialog::getSaveFileName(this, tr("Export Lab CGATS"), QString(),
                                                      tr("CGATS files (*.cgats *.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    std::ostringstream text;
    write_lab_cgats(text, mesh->source);
    const std::string bytes = text.str();
    QFile file(path);
    // A full disk is as much a failure as a file that cannot be opened.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Truncate)
        || file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()) || !file.flush()) {
        QMessageBox::critical(this, tr("Export failed"), tr("Could not write file:\n%1").arg(path));
    }
}

void HullWidget::on_export_vrml()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Export VRML"), QString(),
                                                      tr("VRML files (*.wrl);;All files (*)"));
    if (path.isEmpty())
        return;
    const Mesh* surface = nullptr;
    for (const Mesh& mesh : meshes_) {
        if (mesh.mode == MeshSolid || mesh.mode == MeshWireframe || mesh.mode == MeshTranslucent) {
            surface = &mesh;
            break;
        }
    }
    if (!surface) {
        QMessageBox::information(this, tr("Export VRML"), tr("No mesh hull available for export."));
        return;
    }
    try {
        write_vrml(path.toUtf8().toStdString(), surface->source);
    } catch (const std::exception& e) {
        QMessageBox::critical(this, tr("Export failed"), QString::fromUtf8(e.what()));
    }
}

namespace {

// Every mesh once: the gamut view draws one surface twice (solid and wireframe).
std::vector<ExportMesh> export_meshes(const std::vector<const HullRenderData*>& sources, const std::vector<bool>& points)
{
    std::vector<ExportMesh> meshes;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const bool repeated = std::any_of(meshes.begin(), meshes.end(), [&](const ExportMesh& m) {
            return m.data->positions == sources[i]->positions && m.data->indices == sources[i]->indices;
        });
        if (!repeated && !sources[i]->positions.empty())
            meshes.push_back({(points[i] ? "cloud_" : "surface_") + std::to_string(meshes.size() + 1), sources[i],
                              bool(points[i])});
    }
    return meshes;
}

}  // namespace

static void export_all(HullWidget* view, const QString& title, const QString& filter, const QString& suffix,
                       const std::vector<const HullRenderData*>& sources, const std::vector<bool>& points)
{
    QString path = QFileDialog::getSaveFileName(view, title, QString(), filter);
    if (path.isEmpty())
        return;
    if (!is_mesh_file_name(QFile::encodeName(path).toStdString()))
        path += suffix;
    try {
        write_mesh_file(QFile::encodeName(path).toStdString(), export_meshes(sources, points));
    } catch (const std::exception& e) {
        QMessageBox::critical(view, HullWidget::tr("Export failed"), QString::fromUtf8(e.what()));
    }
}

void HullWidget::on_export_glb()
{
    std::vector<const HullRenderData*> sources;
    std::vector<bool> points;
    for (const Mesh& mesh : meshes_) {
        sources.push_back(&mesh.source);
        points.push_back(mesh.mode == MeshPoints || mesh.mode == MeshCubes);
    }
    export_all(this, tr("Export glTF binary"), tr("glTF binary (*.glb);;All files (*)"), QStringLiteral(".glb"), sources, points);
}

void HullWidget::on_export_ply()
{
    std::vector<const HullRenderData*> sources;
    std::vector<bool> points;
    for (const Mesh& mesh : meshes_) {
        sources.push_back(&mesh.source);
        points.push_back(mesh.mode == MeshPoints || mesh.mode == MeshCubes);
    }
    export_all(this, tr("Export PLY"), tr("PLY files (*.ply);;All files (*)"), QStringLiteral(".ply"), sources, points);
}
