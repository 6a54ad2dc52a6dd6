// The incremental 3D convex hull over integer L*a*b* points, its point test and its render data.
#include "common/analysis/Hull.h"

#include "krm.h"

#include <algorithm>
#include <cmath>

// Working records. Edges and faces are kept in creation order and never move; removing one only
// marks it dead, so the order of the survivors is the order in which they were made.
struct HullVertex {
    HullPoint point;
    std::uint32_t index = 0;  // in the input list
    int duplicate = -1;       // the edge to the point being added, while its cone is built
    bool onHull = false;
    bool processed = false;
};

struct HullEdge {
    int adjface[2] = {-1, -1};
    int endpts[2] = {-1, -1};
    int newface = -1;
    bool remove = false;
    bool alive = true;
    std::uint32_t mark = 0;  // gathered in the current addition
};

struct HullFace {
    int edge[3] = {-1, -1, -1};
    int vertex[3] = {-1, -1, -1};  // counter-clockwise seen from outside
    bool visible = false;
    bool alive = true;
    int row = -1;  // in the plane table
};

namespace {

// Signed volume of the tetrahedron (A, B, C, p), as a·(b×c) with a = A − p, b = B − p, c = C − p.
double volume(const HullPoint& A, const HullPoint& B, const HullPoint& C, const HullPoint& p)
{
    const double ax = double(A.x) - p.x, ay = double(A.y) - p.y, az = double(A.z) - p.z;
    const double bx = double(B.x) - p.x, by = double(B.y) - p.y, bz = double(B.z) - p.z;
    const double cx = double(C.x) - p.x, cy = double(C.y) - p.y, cz = double(C.z) - p.z;
    return ax * (by * cz - bz * cy) + ay * (bz * cx - bx * cz) + az * (bx * cy - by * cx);
}

int sign_of(double vol)
{
    return vol > 0.5 ? 1 : (vol < -0.5 ? -1 : 0);
}

bool collinear(const HullPoint& P, const HullPoint& Q, const HullPoint& R)
{
    // 128-bit so that no 32-bit input can overflow the exact test.
    const __int128 ux = __int128(Q.x) - P.x, uy = __int128(Q.y) - P.y, uz = __int128(Q.z) - P.z;
    const __int128 vx = __int128(R.x) - P.x, vy = __int128(R.y) - P.y, vz = __int128(R.z) - P.z;
    return uy * vz - uz * vy == 0 && uz * vx - ux * vz == 0 && ux * vy - uy * vx == 0;
}

}  // namespace

struct HullWork {
    std::vector<HullVertex> vertices;
    std::vector<HullEdge> edges;
    std::vector<HullFace> faces;

    // The plane of every live face, as N = (B − A) × (C − A) and d = N·A, so that the volume
    // against p is d − N·p: the visibility scan over all faces, which dominates the run time, is
    // then a flat loop. The values are integers, exact in doubles for coordinates up to ±8192.
    // Dead rows keep a plane no point can see and are squeezed out now and then.
    std::vector<double> nx, ny, nz, d;
    std::vector<int> owner;
    std::size_t deadRows = 0;

    // Scratch lists of one addition.
    std::vector<int> visible, candidates, coneEdges, newFaces, touched;
    std::uint32_t stamp = 0;

    int make_edge(int a, int b)
    {
        HullEdge e;
        e.endpts[0] = a;
        e.endpts[1] = b;
        edges.push_back(e);
        return int(edges.size()) - 1;
    }

    void add_row(int f)
    {
        const HullFace& face = faces[f];
        const HullPoint& A = vertices[face.vertex[0]].point;
        const HullPoint& B = vertices[face.vertex[1]].point;
        const HullPoint& C = vertices[face.vertex[2]].point;
        const double ux = double(B.x) - A.x, uy = double(B.y) - A.y, uz = double(B.z) - A.z;
        const double vx = double(C.x) - A.x, vy = double(C.y) - A.y, vz = double(C.z) - A.z;
        const double x = uy * vz - uz * vy, y = uz * vx - ux * vz, z = ux * vy - uy * vx;
        faces[f].row = int(owner.size());
        nx.push_back(x);
        ny.push_back(y);
        nz.push_back(z);
        d.push_back(x * A.x + y * A.y + z * A.z);
        owner.push_back(f);
    }

    void kill_row(int f)
    {
        const int r = faces[f].row;
        nx[r] = ny[r] = nz[r] = 0.0;
        d[r] = 1e300;
        owner[r] = -1;
        faces[f].row = -1;
        ++deadRows;
    }

    void squeeze_rows()
    {
        std::size_t out = 0;
        for (std::size_t r = 0; r < owner.size(); r++) {
            if (owner[r] < 0)
                continue;
            nx[out] = nx[r];
            ny[out] = ny[r];
            nz[out] = nz[r];
            d[out] = d[r];
            owner[out] = owner[r];
            faces[owner[out]].row = int(out);
            ++out;
        }
        nx.resize(out);
        ny.resize(out);
        nz.resize(out);
        d.resize(out);
        owner.resize(out);
        deadRows = 0;
    }

    // True when some live face has p strictly on its outer side (volume < −0.5).
    bool any_visible(const HullPoint& p) const
    {
        const double px = p.x, py = p.y, pz = p.z;
        const std::size_t n = owner.size();
        const double* NX = nx.data();
        const double* NY = ny.data();
        const double* NZ = nz.data();
        const double* D = d.data();
        int hit = 0;
        for (std::size_t r = 0; r < n; r++)
            hit |= (D[r] - (NX[r] * px + NY[r] * py + NZ[r] * pz)) < -0.5;
        return hit != 0;
    }

    void collect_visible(const HullPoint& p)
    {
        const double px = p.x, py = p.y, pz = p.z;
        visible.clear();
        for (std::size_t r = 0; r < owner.size(); r++) {
            if (d[r] - (nx[r] * px + ny[r] * py + nz[r] * pz) < -0.5)
                visible.push_back(owner[r]);
        }
    }

    void make_cone_face(int e, int p)
    {
        int sides[2];
        for (int i = 0; i < 2; i++) {
            const int q = edges[e].endpts[i];
            int dup = vertices[q].duplicate;
            if (dup < 0) {
                dup = make_edge(q, p);
                vertices[q].duplicate = dup;
                touched.push_back(q);
            }
            sides[i] = dup;
        }
        const int f = int(faces.size());
        faces.emplace_back();
        for (const int side : sides) {
            HullEdge& s = edges[side];
            s.adjface[s.adjface[0] < 0 ? 0 : 1] = f;
        }
        HullFace& face = faces[f];
        face.edge[0] = e;
        face.edge[1] = sides[0];
        face.edge[2] = sides[1];

        // Same turning sense as the visible face the new one replaces along this edge.
        const HullEdge& old = edges[e];
        const HullFace& fv = faces[old.adjface[0]].visible ? faces[old.adjface[0]] : faces[old.adjface[1]];
        int i = 0;
        while (fv.vertex[i] != old.endpts[0])
            ++i;
        if (fv.vertex[(i + 1) % 3] == old.endpts[1]) {
            face.vertex[0] = old.endpts[0];
            face.vertex[1] = old.endpts[1];
        } else {
            face.vertex[0] = old.endpts[1];
            face.vertex[1] = old.endpts[0];
            std::swap(face.edge[1], face.edge[2]);
        }
        face.vertex[2] = p;
        edges[e].newface = f;
        coneEdges.push_back(e);
        newFaces.push_back(f);
    }

    // Adds vertex v to the hull and cleans up; false when v lies inside (nothing changes then).
    bool add_vertex(int v)
    {
        const HullPoint p = vertices[v].point;
        if (!any_visible(p))
            return false;
        collect_visible(p);
        for (const int f : visible)
            faces[f].visible = true;

        // Only edges of visible faces can be deleted or carry a cone face; they are taken in
        // list order, which is creation order.
        ++stamp;
        candidates.clear();
        for (const int f : visible) {
            for (const int e : faces[f].edge) {
                if (edges[e].mark != stamp) {
                    edges[e].mark = stamp;
                    candidates.push_back(e);
                }
            }
        }
        std::sort(candidates.begin(), candidates.end());
        coneEdges.clear();
        newFaces.clear();
        touched.clear();
        for (const int e : candidates) {
            if (edges[e].remove)
                continue;
            const bool v0 = faces[edges[e].adjface[0]].visible;
            const bool v1 = faces[edges[e].adjface[1]].visible;
            if (v0 && v1)
                edges[e].remove = true;
            else if (v0 || v1)
                make_cone_face(e, v);
        }
        clean_up();
        return true;
    }

    void clean_up()
    {
        for (const int e : coneEdges) {
            HullEdge& edge = edges[e];
            if (faces[edge.adjface[0]].visible)
                edge.adjface[0] = edge.newface;
            else if (faces[edge.adjface[1]].visible)
                edge.adjface[1] = edge.newface;
            edge.newface = -1;
        }
        for (const int e : candidates) {
            if (edges[e].remove)
                edges[e].alive = false;
        }
        for (const int f : visible) {
            faces[f].alive = false;
            kill_row(f);
        }
        for (const int q : touched)
            vertices[q].duplicate = -1;
        for (const int f : newFaces)
            add_row(f);
        if (deadRows > 64 && deadRows * 2 > owner.size())
            squeeze_rows();
    }
};

Hull::Hull()
{
    krmProfile lab = krmCreateLab4Profile(nullptr);
    krmProfile srgb = krmCreate_sRGBProfile();
    if (lab && srgb)
        transform_ = krmCreateTransform(lab, krmFmtLabFloat, srgb, krmFmtRGBFloat, 0, 0);
    if (lab)
        krmCloseProfile(lab);
    if (srgb)
        krmCloseProfile(srgb);
}

Hull::~Hull()
{
    if (transform_)
        krmDeleteTransform(static_cast<krmTransform>(transform_));
}

void Hull::add_lab8(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2)
{
    add_lab(int(std::lround(b0 * 100.0 / 255.0)), int(b1) - 128, int(b2) - 128);
}

void Hull::add_point(const HullPoint& point)
{
    if (computed_)
        throw HullException("Cannot add points after hull has been computed");
    input_.push_back(point);
}

void Hull::add_lab(int L, int a, int b)
{
    add_point(HullPoint{L, a, b});
}

void Hull::compute()
{
    if (input_.size() < 4)
        throw InsufficientPointsException();
    computed_ = false;
    hullVertices_.clear();
    triangles_.clear();
    work_ = std::make_unique<HullWork>();
    HullWork& w = *work_;
    w.vertices.resize(input_.size());
    for (std::size_t i = 0; i < input_.size(); i++) {
        w.vertices[i].point = input_[i];
        w.vertices[i].index = std::uint32_t(i);
    }

    // The first non-collinear triple in lexicographic order is (0, j, k) with j the first point
    // apart from point 0 and k the first point after j off their line; there is none only when
    // every point lies on one line.
    const std::size_t n = input_.size();
    std::size_t j = 1;
    while (j < n && input_[j] == input_[0])
        ++j;
    std::size_t k = j + 1;
    while (k < n && collinear(input_[0], input_[j], input_[k]))
        ++k;
    if (j >= n || k >= n)
        throw CollinearPointsException();

    const int vi = 0, vj = int(j), vk = int(k);
    for (const int v : {vi, vj, vk})
        w.vertices[v].processed = true;
    const int e0 = w.make_edge(vi, vj), e1 = w.make_edge(vj, vk), e2 = w.make_edge(vk, vi);
    HullFace f0, f1;
    f0.vertex[0] = vi, f0.vertex[1] = vj, f0.vertex[2] = vk;
    f0.edge[0] = e0, f0.edge[1] = e1, f0.edge[2] = e2;
    f1.vertex[0] = vk, f1.vertex[1] = vj, f1.vertex[2] = vi;
    f1.edge[0] = e2, f1.edge[1] = e1, f1.edge[2] = e0;
    for (const int e : {e0, e1, e2}) {
        w.edges[e].adjface[0] = 0;
        w.edges[e].adjface[1] = 1;
    }

    int fourth = -1;
    for (std::size_t v = 0; v < n && fourth < 0; v++) {
        if (!w.vertices[v].processed
            && sign_of(volume(input_[vi], input_[vj], input_[vk], input_[v])) != 0)
            fourth = int(v);
    }
    if (fourth < 0)
        throw CoplanarPointsException();
    w.vertices[fourth].processed = true;
    w.faces.push_back(f0);
    w.faces.push_back(f1);
    w.add_row(0);
    w.add_row(1);
    w.add_vertex(fourth);

    for (std::size_t v = 0; v < n; v++) {
        if (w.vertices[v].processed)
            continue;
        w.vertices[v].processed = true;
        w.add_vertex(int(v));
    }

    // Finish: the endpoints of the remaining edges are the hull's vertices.
    for (const HullEdge& e : w.edges) {
        if (e.alive) {
            w.vertices[e.endpts[0]].onHull = true;
            w.vertices[e.endpts[1]].onHull = true;
        }
    }
    std::vector<std::uint32_t> hullIndex(n, 0);
    for (std::size_t v = 0; v < n; v++) {
        if (!w.vertices[v].onHull)
            continue;
        hullIndex[v] = std::uint32_t(hullVertices_.size());
        hullVertices_.push_back(w.vertices[v].point);
    }
    for (const HullFace& f : w.faces) {
        if (!f.alive)
            continue;
        for (const int v : f.vertex)
            triangles_.push_back(hullIndex[v]);
    }
    computed_ = true;
}

HullLocation Hull::test_point(const HullPoint& point) const
{
    if (!computed_)
        throw HullException("Hull must be computed before testing points");
    bool onSurface = false;
    for (std::size_t t = 0; t + 2 < triangles_.size(); t += 3) {
        const double vol = volume(hullVertices_[triangles_[t]], hullVertices_[triangles_[t + 1]],
                                  hullVertices_[triangles_[t + 2]], point);
        if (vol < -0.5)
            return HullOutside;
        if (std::fabs(vol) <= 0.5)
            onSurface = true;
    }
    return onSurface ? HullOnSurface : HullInside;
}

HullLocation Hull::test_lab(int L, int a, int b) const
{
    return test_point(HullPoint{L, a, b});
}

HullRenderData Hull::get_render_data() const
{
    if (!computed_)
        throw HullException("Hull must be computed before getting render data");
    HullRenderData data;
    const std::size_t n = hullVertices_.size();
    std::vector<float> lab(n * 3);
    data.positions.resize(n * 3);
    for (std::size_t v = 0; v < n; v++) {
        const HullPoint& p = hullVertices_[v];
        lab[v * 3] = float(p.x);
        lab[v * 3 + 1] = float(p.y);
        lab[v * 3 + 2] = float(p.z);
        data.positions[v * 3] = float(p.z);
        data.positions[v * 3 + 1] = float(p.x);
        data.positions[v * 3 + 2] = float(p.y);
    }
    // Without the transform (it cannot fail with the built-in profiles) the hull is mid grey.
    data.colors.assign(n * 3, 0.5f);
    if (transform_ && n > 0)
        krmDoTransform(static_cast<krmTransform>(transform_), lab.data(), data.colors.data(), krmUInt32Number(n));
    for (float& c : data.colors)
        c = std::clamp(c, 0.0f, 1.0f);

    data.indices = triangles_;
    data.normals.reserve(triangles_.size() * 3);
    for (std::size_t t = 0; t + 2 < triangles_.size(); t += 3) {
        const HullPoint& A = hullVertices_[triangles_[t]];
        const HullPoint& B = hullVertices_[triangles_[t + 1]];
        const HullPoint& C = hullVertices_[triangles_[t + 2]];
        const float ux = float(B.x) - float(A.x), uy = float(B.y) - float(A.y), uz = float(B.z) - float(A.z);
        const float vx = float(C.x) - float(A.x), vy = float(C.y) - float(A.y), vz = float(C.z) - float(A.z);
        float nL = uy * vz - uz * vy, na = uz * vx - ux * vz, nb = ux * vy - uy * vx;
        const float length = std::sqrt(nL * nL + na * na + nb * nb);
        if (length > 0.0001f) {
            nL /= length;
            na /= length;
            nb /= length;
        }
        for (int copy = 0; copy < 3; copy++) {
            data.normals.push_back(nb);
            data.normals.push_back(nL);
            data.normals.push_back(na);
        }
    }
    return data;
}

void Hull::clear()
{
    computed_ = false;
    hullVertices_.clear();
    triangles_.clear();
    input_.clear();
    work_.reset();
}
