// glTF binary and PLY writers of the 3D view's meshes, and the choice of writer by file name.
#include "common/analysis/MeshExport.h"

#include "common/analysis/GamutAnalysis.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

namespace {

bool has_colours(const HullRenderData& d) { return !d.colors.empty() && d.colors.size() == d.positions.size(); }

// Segment ends of a cloud's vectors: pairs of positions, all-zero ends meaning no vector.
std::vector<float> vector_segments(const ExportMesh& mesh)
{
    std::vector<float> lines;
    const HullRenderData& d = *mesh.data;
    if (!mesh.points || d.normals.size() != d.positions.size())
        return lines;
    for (std::size_t i = 0; i + 2 < d.normals.size(); i += 3) {
        const float* end = &d.normals[i];
        if (end[0] == 0 && end[1] == 0 && end[2] == 0)
            continue;
        lines.insert(lines.end(), &d.positions[i], &d.positions[i] + 3);
        lines.insert(lines.end(), end, end + 3);
    }
    return lines;
}

void check_meshes(const std::vector<ExportMesh>& meshes)
{
    if (meshes.empty())
        throw HullException("Cannot export empty hull data");
    for (const ExportMesh& m : meshes)
        if (!m.data || m.data->positions.empty() || (!m.points && m.data->indices.empty()))
            throw HullException("Cannot export empty hull data");
}

std::string json_string(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\', out += c;
        else if (static_cast<unsigned char>(c) < 0x20)
            out += ' ';
        else
            out += c;
    }
    return out + "\"";
}

std::string number(double v)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", v);
    return text;
}

void put32(std::string& bytes, std::uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        bytes += char((v >> (8 * k)) & 0xFF);  // glTF is little-endian
}

// The binary buffer and the JSON describing it, one accessor at a time.
struct GlbBuilder {
    std::string bin;
    std::vector<std::string> views, accessors;

    int add(const void* data, std::size_t bytes, int target)
    {
        while (bin.size() % 4)
            bin += '\0';
        views.push_back("{\"buffer\":0,\"byteOffset\":" + std::to_string(bin.size()) + ",\"byteLength\":" +
                        std::to_string(bytes) + ",\"target\":" + std::to_string(target) + "}");
        bin.append(static_cast<const char*>(data), bytes);
        return int(views.size()) - 1;
    }

    // VEC3 floats; POSITION needs its bounds.
    int vec3(const std::vector<float>& values, bool bounds)
    {
        const int view = add(values.data(), values.size() * sizeof(float), 34962);
        std::string a = "{\"bufferView\":" + std::to_string(view) + ",\"componentType\":5126,\"count\":" +
                        std::to_string(values.size() / 3) + ",\"type\":\"VEC3\"";
        if (bounds) {
            float lo[3], hi[3];
            for (int k = 0; k < 3; ++k)
                lo[k] = std::numeric_limits<float>::max(), hi[k] = std::numeric_limits<float>::lowest();
            for (std::size_t i = 0; i + 2 < values.size(); i += 3)
                for (int k = 0; k < 3; ++k)
                    lo[k] = std::min(lo[k], values[i + std::size_t(k)]), hi[k] = std::max(hi[k], values[i + std::size_t(k)]);
            a += ",\"min\":[" + number(lo[0]) + "," + number(lo[1]) + "," + number(lo[2]) + "],\"max\":[" +
                 number(hi[0]) + "," + number(hi[1]) + "," + number(hi[2]) + "]";
        }
        accessors.push_back(a + "}");
        return int(accessors.size()) - 1;
    }

    int indices(const std::vector<std::uint32_t>& values)
    {
        const int view = add(values.data(), values.size() * sizeof(std::uint32_t), 34963);
        accessors.push_back("{\"bufferView\":" + std::to_string(view) + ",\"componentType\":5125,\"count\":" +
                            std::to_string(values.size()) + ",\"type\":\"SCALAR\"}");
        return int(accessors.size()) - 1;
    }
};

std::string join(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : ",") + item;
    return text;
}

std::string extension_of(const std::string& path)
{
    const std::size_t dot = path.find_last_of('.');
    const std::size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::string();
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

}  // namespace

void write_glb(std::ostream& out, const std::vector<ExportMesh>& meshes)
{
    check_meshes(meshes);
    GlbBuilder b;
    std::vector<std::string> meshJson, nodes;
    for (const ExportMesh& m : meshes) {
        const HullRenderData& d = *m.data;
        const int position = b.vec3(d.positions, true);
        std::string attributes = "{\"POSITION\":" + std::to_string(position);
        if (has_colours(d)) {
            // glTF colours are linear factors within 0..1.
            std::vector<float> colours(d.colors);
            for (float& c : colours)
                c = std::isfinite(c) ? std::clamp(c, 0.0f, 1.0f) : 0.0f;
            attributes += ",\"COLOR_0\":" + std::to_string(b.vec3(colours, false));
        }
        attributes += "}";
        std::vector<std::string> primitives;
        if (m.points) {
            primitives.push_back("{\"attributes\":" + attributes + ",\"mode\":0,\"material\":0}");
            const std::vector<float> lines = vector_segments(m);
            if (!lines.empty())
                primitives.push_back("{\"attributes\":{\"POSITION\":" + std::to_string(b.vec3(lines, true)) +
                                     "},\"mode\":1,\"material\":0}");
        } else {
            primitives.push_back("{\"attributes\":" + attributes + ",\"indices\":" + std::to_string(b.indices(d.indices)) +
                                 ",\"mode\":4,\"material\":0}");
        }
        meshJson.push_back("{\"name\":" + json_string(m.name) + ",\"primitives\":[" + join(primitives) + "]}");
        nodes.push_back("{\"name\":" + json_string(m.name) + ",\"mesh\":" + std::to_string(meshJson.size() - 1) + "}");
    }
    while (b.bin.size() % 4)
        b.bin += '\0';
    std::string nodeList;
    for (std::size_t i = 0; i < nodes.size(); ++i)
        nodeList += (i ? "," : "") + std::to_string(i);
    std::string json = "{\"asset\":{\"version\":\"2.0\",\"generator\":\"Prismet\"},\"scene\":0,\"scenes\":[{\"nodes\":[" +
                       nodeList + "]}],\"nodes\":[" + join(nodes) + "],\"meshes\":[" + join(meshJson) +
                       "],\"materials\":[{\"pbrMetallicRoughness\":{\"baseColorFactor\":[1,1,1,1],"
                       "\"metallicFactor\":0,\"roughnessFactor\":1},\"doubleSided\":true}],\"accessors\":[" +
                       join(b.accessors) + "],\"bufferViews\":[" + join(b.views) + "],\"buffers\":[{\"byteLength\":" +
                       std::to_string(b.bin.size()) + "}]}";
    while (json.size() % 4)
        json += ' ';

    std::string file;
    put32(file, 0x46546C67u);  // "glTF"
    put32(file, 2);
    put32(file, std::uint32_t(12 + 8 + json.size() + 8 + b.bin.size()));
    put32(file, std::uint32_t(json.size()));
    put32(file, 0x4E4F534Au);  // "JSON"
    file += json;
    put32(file, std::uint32_t(b.bin.size()));
    put32(file, 0x004E4942u);  // "BIN"
    file += b.bin;
    out.write(file.data(), std::streamsize(file.size()));
}

void write_ply(std::ostream& out, const std::vector<ExportMesh>& meshes)
{
    check_meshes(meshes);
    std::size_t vertices = 0, faces = 0, edges = 0;
    std::vector<std::vector<float>> segments;
    for (const ExportMesh& m : meshes) {
        segments.push_back(vector_segments(m));
        vertices += m.data->vertexCount() + segments.back().size() / 3;
        faces += m.points ? 0 : m.data->triangleCount();
        edges += segments.back().size() / 6;
    }
    out << "ply\nformat ascii 1.0\ncomment Prismet: x = b*, y = L*, z = a*\n";
    for (const ExportMesh& m : meshes)
        out << "comment mesh " << m.name << ": " << m.data->vertexCount() << " vertices\n";
    out << "element vertex " << vertices
        << "\nproperty float x\nproperty float y\nproperty float z\n"
           "property uchar red\nproperty uchar green\nproperty uchar blue\n";
    if (faces)
        out << "element face " << faces << "\nproperty list uchar uint vertex_indices\n";
    if (edges)
        out << "element edge " << edges << "\nproperty uint vertex1\nproperty uint vertex2\n";
    out << "end_header\n";
    char line[160];
    const auto byte = [](float v) { return int(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f); };
    for (std::size_t m = 0; m < meshes.size(); ++m) {
        const HullRenderData& d = *meshes[m].data;
        const bool colours = has_colours(d);
        for (std::size_t i = 0; i < d.vertexCount(); ++i) {
            const float* p = &d.positions[i * 3];
            const float* c = colours ? &d.colors[i * 3] : nullptr;
            std::snprintf(line, sizeof line, "%.7g %.7g %.7g %d %d %d\n", double(p[0]), double(p[1]), double(p[2]),
                          c ? byte(c[0]) : 255, c ? byte(c[1]) : 255, c ? byte(c[2]) : 255);
            out << line;
        }
        for (std::size_t i = 0; i + 2 < segments[m].size(); i += 3) {
            const float* p = &segments[m][i];
            std::snprintf(line, sizeof line, "%.7g %.7g %.7g 255 255 255\n", double(p[0]), double(p[1]), double(p[2]));
            out << line;
        }
    }
    std::size_t base = 0;
    for (const ExportMesh& m : meshes) {
        if (!m.points)
            for (std::size_t t = 0; t + 2 < m.data->indices.size(); t += 3)
                out << "3 " << base + m.data->indices[t] << ' ' << base + m.data->indices[t + 1] << ' '
                    << base + m.data->indices[t + 2] << '\n';
        base += m.data->vertexCount() + segments[std::size_t(&m - meshes.data())].size() / 3;
    }
    base = 0;
    for (std::size_t m = 0; m < meshes.size(); ++m) {
        const std::size_t first = base + meshes[m].data->vertexCount();
        for (std::size_t e = 0; e < segments[m].size() / 6; ++e)
            out << first + 2 * e << ' ' << first + 2 * e + 1 << '\n';
        base = first + segments[m].size() / 3;
    }
}

const char* mesh_file_extensions() { return ".glb, .ply, .wrl, .txt or .cgats"; }

bool is_mesh_file_name(const std::string& path)
{
    const std::string ext = extension_of(path);
    return ext == "glb" || ext == "ply" || ext == "wrl" || ext == "txt" || ext == "cgats";
}

void write_mesh_file(const std::string& path, const std::vector<ExportMesh>& meshes)
{
    const std::string ext = extension_of(path);
    if (!is_mesh_file_name(path))
        throw HullException("Unknown export format: '" + path + "' (use " + mesh_file_extensions() + ")");
    check_meshes(meshes);
    std::ostringstream text;
    if (ext == "glb") {
        write_glb(text, meshes);
    } else if (ext == "ply") {
        write_ply(text, meshes);
    } else if (ext == "wrl") {
        const auto surface = std::find_if(meshes.begin(), meshes.end(), [](const ExportMesh& m) { return !m.points; });
        if (surface == meshes.end())
            throw HullException("No mesh hull available for export.");
        write_vrml(text, *surface->data);
    } else {
        write_lab_cgats(text, *meshes.front().data);
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw HullException("Cannot open file for writing: " + path);
    const std::string bytes = text.str();
    out.write(bytes.data(), std::streamsize(bytes.size()));
    out.close();
    if (!out)
        throw HullException("Cannot write file: " + path);
}
