#pragma once

// The 3D view's meshes as files today's viewers open: glTF 2.0 binary (.glb) and PLY, beside the
// VRML and L*a*b* CGATS writers of GamutAnalysis.h, and the choice among all four by file name.
// Coordinates are the view's (x = b*, y = L*, z = a*), so y is up as glTF expects. No Qt.

#include "common/analysis/Hull.h"

#include <ostream>
#include <string>
#include <vector>

struct ExportMesh {
    std::string name;             // "gamut", "compare", "cloud", …
    const HullRenderData* data = nullptr;
    bool points = false;          // a cloud: no faces; its non-zero vector ends become line segments
};

// glTF 2.0 binary: one mesh (and node) per entry, POSITION with its bounds, COLOR_0 when the
// data has one colour per vertex, triangles as UNSIGNED_INT indices, clouds as POINTS and their
// vectors as a LINES primitive of the same mesh; one double-sided unlit-looking material. Throws
// HullException for no meshes or empty ones.
void write_glb(std::ostream& out, const std::vector<ExportMesh>& meshes);

// ASCII PLY 1.0: every mesh's vertices (x y z, red green blue 0..255; white when the data has no
// colours), one after another, then the triangles (vertex_indices) and the vector segments
// (edge vertex1 vertex2) with the indices offset accordingly. Throws like write_glb.
void write_ply(std::ostream& out, const std::vector<ExportMesh>& meshes);

// Writes by the path's extension: .glb, .ply, .wrl (the first surface), .txt or .cgats (the
// first mesh's vertices as L*a*b*). Throws HullException ("Unknown export format: …", "Cannot
// open file for writing: …").
void write_mesh_file(const std::string& path, const std::vector<ExportMesh>& meshes);

// The extensions write_mesh_file accepts, for messages and file dialogs, and whether a path has one.
const char* mesh_file_extensions();
bool is_mesh_file_name(const std::string& path);
