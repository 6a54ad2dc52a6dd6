// The convex hull: small solids with known answers, the degenerate clouds and usage errors, the
// render data's axis order, and the hull's defining properties over random and real gamut clouds.
#include "common/analysis/Hull.h"
#include "krm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<HullPoint> CubeCorners(int lo, int hi)
{
    std::vector<HullPoint> pts;
    for (int x : {lo, hi})
        for (int y : {lo, hi})
            for (int z : {lo, hi}) pts.push_back({x, y, z});
    return pts;
}

void Feed(Hull& hull, const std::vector<HullPoint>& pts)
{
    for (const HullPoint& p : pts) hull.add_point(p);
}

// Everything a convex hull must satisfy, checked with exact integer arithmetic of its own.
void ExpectValidHull(const std::vector<HullPoint>& pts, const std::string& what)
{
    SCOPED_TRACE(what);
    Hull hull;
    Feed(hull, pts);
    ASSERT_NO_THROW(hull.compute());
    const auto& V = hull.vertices();
    const auto& T = hull.triangles();
    ASSERT_GE(V.size(), 4u);
    ASSERT_EQ(T.size() % 3, 0u);

    // Every hull vertex is an input point, each at most once.
    std::set<std::tuple<int, int, int>> input, seen;
    for (const HullPoint& p : pts) input.insert({p.x, p.y, p.z});
    for (const HullPoint& v : V) {
        EXPECT_TRUE(input.count({v.x, v.y, v.z}));
        EXPECT_TRUE(seen.insert({v.x, v.y, v.z}).second);
    }

    // Closed, consistently oriented surface: every directed edge appears once and its reverse
    // once; then V − E + F = 2.
    std::map<std::pair<unsigned, unsigned>, int> directed;
    for (std::size_t t = 0; t < T.size(); t += 3)
        for (int k = 0; k < 3; k++) directed[{T[t + k], T[t + (k + 1) % 3]}]++;
    for (const auto& [edge, count] : directed) {
        EXPECT_EQ(count, 1);
        EXPECT_EQ(directed.count({edge.second, edge.first}), 1u);
    }
    const long faces = long(T.size() / 3), edges = long(directed.size() / 2);
    EXPECT_EQ(long(V.size()) - edges + faces, 2);

    // Every input point lies on the inner side of every face's outward normal ...
    for (std::size_t t = 0; t < T.size(); t += 3) {
        const HullPoint &A = V[T[t]], &B = V[T[t + 1]], &C = V[T[t + 2]];
        const long long ux = B.x - A.x, uy = B.y - A.y, uz = B.z - A.z;
        const long long vx = C.x - A.x, vy = C.y - A.y, vz = C.z - A.z;
        const long long nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
        ASSERT_FALSE(nx == 0 && ny == 0 && nz == 0) << "degenerate face " << t / 3;
        for (const HullPoint& p : pts)
            ASSERT_LE(nx * (p.x - A.x) + ny * (p.y - A.y) + nz * (p.z - A.z), 0) << "face " << t / 3;
    }
    // ... so tests inside or on the surface, hull vertices on the surface.
    for (const HullPoint& p : pts) EXPECT_NE(hull.test_point(p), HullOutside);
    for (const HullPoint& v : V) EXPECT_EQ(hull.test_point(v), HullOnSurface);
}

std::vector<HullPoint> LabCloud(krmProfile device, krmUInt32Number format, int channels, int steps, double scale)
{
    krmProfile lab = krmCreateLab4Profile(nullptr);
    krmTransform t = krmCreateTransform(device, format, lab, krmFmtLabDouble, 0, 0);
    krmCloseProfile(lab);
    std::vector<HullPoint> pts;
    if (!t) return pts;
    std::vector<int> idx(channels, 0);
    for (;;) {
        float in[8];
        for (int c = 0; c < channels; c++) in[c] = float(idx[c] * scale / (steps - 1));
        double out[3];
        krmDoTransform(t, in, out, 1);
        pts.push_back({int(std::lround(out[0])), int(std::lround(out[1])), int(std::lround(out[2]))});
        int c = 0;
        while (c < channels && ++idx[c] == steps) idx[c++] = 0;
        if (c == channels) break;
    }
    krmDeleteTransform(t);
    return pts;
}


// The hull built literally step by step as the algorithm reads, with whole-list scans, for
// comparing the fast builder's vertex and triangle lists against.
struct Reference {
    struct V { HullPoint p; int dup = -1; bool on = false, done = false; };
    struct E { int adj[2] = {-1, -1}, end[2]; int nf = -1; bool del = false; };
    struct F { int e[3], v[3]; bool vis = false; };
    std::vector<V> vs;
    std::vector<E> es;
    std::vector<F> fs;

    static double Vol(const HullPoint& A, const HullPoint& B, const HullPoint& C, const HullPoint& p)
    {
        const double ax = A.x - p.x, ay = A.y - p.y, az = A.z - p.z, bx = B.x - p.x, by = B.y - p.y,
                     bz = B.z - p.z, cx = C.x - p.x, cy = C.y - p.y, cz = C.z - p.z;
        return ax * (by * cz - bz * cy) + ay * (bz * cx - bx * cz) + az * (bx * cy - by * cx);
    }
    void Add(int p)
    {
        bool any = false;
        for (F& f : fs) any |= f.vis = Vol(vs[f.v[0]].p, vs[f.v[1]].p, vs[f.v[2]].p, vs[p].p) < -0.5;
        if (!any) return;
        std::vector<E> newEdges;
        std::vector<F> newFaces;
        const std::size_t count = es.size();
        for (std::size_t i = 0; i < count; i++) {
            if (es[i].del) continue;
            const bool a = fs[es[i].adj[0]].vis, b = fs[es[i].adj[1]].vis;
            if (a && b) es[i].del = true;
            if (a == b) continue;
            const int f = int(fs.size() + newFaces.size());
            int side[2];
            for (int k = 0; k < 2; k++) {
                V& q = vs[es[i].end[k]];
                if (q.dup < 0) {
                    q.dup = int(es.size() + newEdges.size());
                    E ne;
                    ne.end[0] = es[i].end[k], ne.end[1] = p;
                    newEdges.push_back(ne);
                }
                side[k] = q.dup;
                E& s = side[k] < int(es.size()) ? es[side[k]] : newEdges[side[k] - es.size()];
                s.adj[s.adj[0] < 0 ? 0 : 1] = f;
            }
            F nf;
            nf.e[0] = int(i), nf.e[1] = side[0], nf.e[2] = side[1];
            const F& fv = a ? fs[es[i].adj[0]] : fs[es[i].adj[1]];
            int k = 0;
            while (fv.v[k] != es[i].end[0]) k++;
            const bool same = fv.v[(k + 1) % 3] == es[i].end[1];
            nf.v[0] = same ? es[i].end[0] : es[i].end[1];
            nf.v[1] = same ? es[i].end[1] : es[i].end[0];
            nf.v[2] = p;
            es[i].nf = f;
            newFaces.push_back(nf);
        }
        es.insert(es.end(), newEdges.begin(), newEdges.end());
        fs.insert(fs.end(), newFaces.begin(), newFaces.end());
        // Clean-up, with face indices renumbered after removing the visible faces.
        for (E& e : es) {
            if (e.nf < 0) continue;
            e.adj[fs[e.adj[0]].vis ? 0 : 1] = e.nf;
            e.nf = -1;
        }
        std::erase_if(es, [](const E& e) { return e.del; });
        std::vector<int> renumber(fs.size(), -1);
        std::vector<F> kept;
        for (std::size_t i = 0; i < fs.size(); i++)
            if (!fs[i].vis) renumber[i] = int(kept.size()), kept.push_back(fs[i]);
        fs = kept;
        for (E& e : es) e.adj[0] = renumber[e.adj[0]], e.adj[1] = renumber[e.adj[1]];
        for (V& v : vs) v.dup = -1, v.on = false;
        for (const E& e : es) vs[e.end[0]].on = vs[e.end[1]].on = true;
    }
    // Needs a non-degenerate cloud whose first three points are not collinear.
    void Build(const std::vector<HullPoint>& pts, std::vector<HullPoint>& hv, std::vector<std::uint32_t>& tri)
    {
        for (const HullPoint& p : pts) vs.push_back({p});
        for (int i = 0; i < 3; i++) {
            vs[i].done = true;
            E e;
            e.end[0] = i, e.end[1] = (i + 1) % 3, e.adj[0] = 0, e.adj[1] = 1;
            es.push_back(e);
        }
        fs.push_back({{0, 1, 2}, {0, 1, 2}});
        fs.push_back({{2, 1, 0}, {2, 1, 0}});
        for (std::size_t i = 0; i < vs.size(); i++) {
            if (!vs[i].done && Vol(vs[0].p, vs[1].p, vs[2].p, vs[i].p) != 0) {
                vs[i].done = true;
                Add(int(i));
                break;
            }
        }
        for (std::size_t i = 0; i < vs.size(); i++)
            if (!vs[i].done) vs[i].done = true, Add(int(i));
        std::vector<std::uint32_t> index(vs.size());
        for (std::size_t i = 0; i < vs.size(); i++)
            if (vs[i].on) index[i] = std::uint32_t(hv.size()), hv.push_back(vs[i].p);
        for (const F& f : fs)
            for (int v : f.v) tri.push_back(index[v]);
    }
};

}  // namespace

TEST(Hull, SmallSolids)
{
    Hull tetra;
    Feed(tetra, {{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {0, 0, 10}});
    tetra.compute();
    const HullRenderData td = tetra.get_render_data();
    EXPECT_EQ(td.triangleCount(), 4u);
    EXPECT_EQ(td.vertexCount(), 4u);
    EXPECT_EQ(td.normals.size(), 12u * 3);
    EXPECT_TRUE(td.ids.empty());

    std::vector<HullPoint> cube = CubeCorners(0, 20);
    cube.push_back({10, 10, 10});
    Hull hull;
    Feed(hull, cube);
    hull.compute();
    EXPECT_EQ(hull.vertices().size(), 8u);
    EXPECT_EQ(hull.triangles().size(), 12u * 3);
    EXPECT_EQ(hull.test_lab(10, 10, 10), HullInside);
    EXPECT_EQ(hull.test_lab(0, 20, 0), HullOnSurface);

    // Computing again rebuilds the same hull; duplicates and repeated points change nothing.
    const auto vertices = hull.vertices();
    const auto triangles = hull.triangles();
    hull.compute();
    EXPECT_EQ(hull.vertices(), vertices);
    EXPECT_EQ(hull.triangles(), triangles);
    std::vector<HullPoint> doubled;
    for (const HullPoint& p : cube) {
        doubled.push_back(p);
        doubled.push_back(p);
    }
    Hull again;
    Feed(again, doubled);
    again.compute();
    EXPECT_EQ(again.vertices(), vertices);
    EXPECT_EQ(again.triangles().size(), triangles.size());
}

// Point location against solids whose faces are known: for every face, points spread over it
// lie on the surface, one unit inwards inside, one unit outwards outside (and outside across that
// face only, so a test that skips any one face calls them inside).
TEST(Hull, PointsAcrossEveryFaceOfCubeAndTetrahedron)
{
    struct Face {
        HullPoint normal;  // outward, integer
        std::vector<HullPoint> onFace;
    };
    struct Solid {
        const char* name;
        std::vector<HullPoint> corners;
        std::vector<Face> faces;
    };
    const std::vector<Solid> solids = {
        {"cube 0..30", CubeCorners(0, 30),
         {{{-1, 0, 0}, {{0, 15, 15}, {0, 3, 27}, {0, 27, 3}, {0, 2, 2}}},
          {{1, 0, 0}, {{30, 15, 15}, {30, 3, 27}, {30, 27, 3}, {30, 28, 28}}},
          {{0, -1, 0}, {{15, 0, 15}, {3, 0, 27}, {27, 0, 3}, {2, 0, 2}}},
          {{0, 1, 0}, {{15, 30, 15}, {3, 30, 27}, {27, 30, 3}, {28, 30, 28}}},
          {{0, 0, -1}, {{15, 15, 0}, {3, 27, 0}, {27, 3, 0}, {2, 2, 0}}},
          {{0, 0, 1}, {{15, 15, 30}, {3, 27, 30}, {27, 3, 30}, {28, 28, 30}}}}},
        // The slanted face x + y + z = 30: a unit step along (1, 1, 1) moves the sum by 3.
        {"tetrahedron", {{0, 0, 0}, {30, 0, 0}, {0, 30, 0}, {0, 0, 30}},
         {{{-1, 0, 0}, {{0, 10, 10}, {0, 3, 24}, {0, 24, 3}, {0, 2, 2}}},
          {{0, -1, 0}, {{10, 0, 10}, {3, 0, 24}, {24, 0, 3}, {2, 0, 2}}},
          {{0, 0, -1}, {{10, 10, 0}, {3, 24, 0}, {24, 3, 0}, {2, 2, 0}}},
          {{1, 1, 1}, {{10, 10, 10}, {3, 3, 24}, {24, 3, 3}, {3, 24, 3}}}}},
    };
    for (const Solid& solid : solids) {
        SCOPED_TRACE(solid.name);
        Hull hull;
        Feed(hull, solid.corners);
        hull.compute();
        for (const Face& face : solid.faces) {
            for (const HullPoint& p : face.onFace) {
                SCOPED_TRACE(testing::Message() << "face (" << face.normal.x << "," << face.normal.y << "," << face.normal.z
                                                << ") at " << p.x << "," << p.y << "," << p.z);
                const HullPoint in{p.x - face.normal.x, p.y - face.normal.y, p.z - face.normal.z};
                const HullPoint out{p.x + face.normal.x, p.y + face.normal.y, p.z + face.normal.z};
                const HullPoint far{p.x + 100 * face.normal.x, p.y + 100 * face.normal.y, p.z + 100 * face.normal.z};
                EXPECT_EQ(hull.test_point(p), HullOnSurface);
                EXPECT_EQ(hull.test_point(in), HullInside);
                EXPECT_EQ(hull.test_point(out), HullOutside);
                EXPECT_EQ(hull.test_point(far), HullOutside);
            }
        }
    }
}

TEST(Hull, DegenerateCloudsAndUsageErrors)
{
    struct Case {
        const char* name;
        std::vector<HullPoint> points;
        std::string message;
    };
    std::vector<HullPoint> line, plane, same;
    for (int i = 0; i < 10; i++) {
        line.push_back({i, 2 * i, -3 * i});
        plane.push_back({i % 4, i / 4, 7});
        same.push_back({5, 5, 5});
    }
    const Case cases[] = {
        {"three points", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, "Insufficient non-degenerate points to form a hull"},
        {"collinear", line, "All points are collinear"},
        {"one point repeated", same, "All points are collinear"},
        {"coplanar", plane, "All points are coplanar"},
    };
    for (const Case& c : cases) {
        Hull hull;
        Feed(hull, c.points);
        try {
            hull.compute();
            ADD_FAILURE() << c.name << ": no exception";
        } catch (const HullException& e) {
            EXPECT_EQ(std::string(e.what()), c.message) << c.name;
        }
        EXPECT_FALSE(hull.isComputed()) << c.name;
    }
    EXPECT_THROW({ Hull h; Feed(h, line); h.compute(); }, CollinearPointsException);
    EXPECT_THROW({ Hull h; Feed(h, plane); h.compute(); }, CoplanarPointsException);

    Hull hull;
    auto message = [](auto&& call) {
        try {
            call();
        } catch (const HullException& e) {
            return std::string(e.what());
        }
        return std::string("no exception");
    };
    EXPECT_EQ(message([&] { hull.test_lab(0, 0, 0); }), "Hull must be computed before testing points");
    EXPECT_EQ(message([&] { hull.get_render_data(); }), "Hull must be computed before getting render data");
    Feed(hull, CubeCorners(0, 1));
    hull.compute();
    EXPECT_EQ(message([&] { hull.add_lab(1, 2, 3); }), "Cannot add points after hull has been computed");
    hull.clear();
    EXPECT_FALSE(hull.isComputed());
    EXPECT_EQ(hull.pointCount(), 0u);
    hull.add_lab(1, 2, 3);  // collecting again
    EXPECT_EQ(hull.pointCount(), 1u);
}

TEST(Hull, Lab8Encoding)
{
    Hull hull;
    hull.add_lab8(255, 128, 128);
    hull.add_lab8(0, 0, 255);
    hull.add_lab8(128, 1, 200);  // 128·100/255 = 50.2
    hull.add_lab8(51, 128, 128);  // exactly 20
    Feed(hull, {{0, 0, 0}});
    hull.compute();
    const std::vector<HullPoint> expected = {{100, 0, 0}, {0, -128, 127}, {50, -127, 72}, {20, 0, 0}, {0, 0, 0}};
    EXPECT_EQ(hull.vertices(), expected);
}

TEST(Hull, RenderDataAxisOrderNormalsAndColours)
{
    Hull hull;
    Feed(hull, {{0, 0, 0}, {100, 0, 0}, {50, 50, 0}, {50, 0, 50}});
    hull.compute();
    const HullRenderData d = hull.get_render_data();
    ASSERT_EQ(d.vertexCount(), 4u);
    EXPECT_EQ(d.positions[3], 0.0f);    // x = b*
    EXPECT_EQ(d.positions[4], 100.0f);  // y = L*
    EXPECT_EQ(d.positions[5], 0.0f);    // z = a*
    EXPECT_EQ(d.positions[6], 0.0f);
    EXPECT_EQ(d.positions[7], 50.0f);
    EXPECT_EQ(d.positions[8], 50.0f);

    // Unit normals pointing away from the centroid, in the positions' axis order.
    float centre[3] = {0, 0, 0};
    for (std::size_t i = 0; i < d.positions.size(); i++) centre[i % 3] += d.positions[i] / 4;
    for (std::size_t t = 0; t < d.triangleCount(); t++) {
        const float* n = &d.normals[t * 9];
        EXPECT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0f, 1e-5f);
        EXPECT_EQ(n[0], n[3]);
        EXPECT_EQ(n[2], n[8]);
        const float* p = &d.positions[d.indices[t * 3] * 3];
        EXPECT_GT(n[0] * (p[0] - centre[0]) + n[1] * (p[1] - centre[1]) + n[2] * (p[2] - centre[2]), 0.0f);
    }
    // sRGB colours: black at L* 0, white at L* 100, and within 0..1 for the out-of-gamut a* 50.
    EXPECT_NEAR(d.colors[0], 0.0f, 1e-3f);
    for (int c = 3; c < 6; c++) EXPECT_NEAR(d.colors[c], 1.0f, 2e-3f);
    for (float c : d.colors) {
        EXPECT_GE(c, 0.0f);
        EXPECT_LE(c, 1.0f);
    }
}

// Each vertex is drawn in its own L*a*b* colour: a fault that feeds b* where a* belongs (or swaps
// the signs) turns red vertices yellow or green, which the hue of each axis end catches.
TEST(Hull, VertexColoursFollowTheirHue)
{
    Hull hull;
    Feed(hull, {{50, 60, 0}, {50, -60, 0}, {50, 0, 60}, {50, 0, -60}, {20, 0, 0}, {80, 0, 0}});
    hull.compute();
    const HullRenderData d = hull.get_render_data();
    ASSERT_EQ(d.vertexCount(), 6u);
    for (std::size_t v = 0; v < d.vertexCount(); v++) {
        const float b = d.positions[v * 3], L = d.positions[v * 3 + 1], a = d.positions[v * 3 + 2];
        const float red = d.colors[v * 3], green = d.colors[v * 3 + 1], blue = d.colors[v * 3 + 2];
        SCOPED_TRACE(testing::Message() << "L* " << L << " a* " << a << " b* " << b);
        if (a > 0) {  // reddish
            EXPECT_GT(red, green + 0.2f);
            EXPECT_GT(red, blue + 0.1f);
        } else if (a < 0) {  // greenish
            EXPECT_GT(green, red + 0.2f);
            EXPECT_GT(green, blue);
        } else if (b > 0) {  // yellowish: red and green above blue
            EXPECT_GT(red, blue + 0.2f);
            EXPECT_GT(green, blue + 0.2f);
        } else if (b < 0) {  // bluish
            EXPECT_GT(blue, red + 0.2f);
            EXPECT_GT(blue, green);
        } else {  // the neutral ends stay grey, the lighter one lighter
            EXPECT_NEAR(red, green, 0.02f);
            EXPECT_NEAR(green, blue, 0.02f);
        }
    }
}

TEST(Hull, PropertiesOverRandomAndGamutClouds)
{
    std::mt19937 rng(20261209);
    for (int round = 0; round < 6; round++) {
        // Tiny ranges force duplicates, collinear runs and coplanar faces.
        const int range = round < 3 ? 4 : 60;
        std::uniform_int_distribution<int> coord(-range, range);
        std::vector<HullPoint> pts;
        for (int i = 0; i < 400; i++) pts.push_back({coord(rng), coord(rng), coord(rng)});
        ExpectValidHull(pts, "random cube " + std::to_string(round));
    }
    std::normal_distribution<double> gauss(0, 30);
    std::vector<HullPoint> ball;
    for (int i = 0; i < 2000; i++) {
        const double x = gauss(rng), y = gauss(rng), z = gauss(rng), r = std::sqrt(x * x + y * y + z * z) + 1e-9;
        ball.push_back({int(std::lround(50 * x / r)), int(std::lround(50 * y / r)), int(std::lround(50 * z / r))});
    }
    ExpectValidHull(ball, "points on a sphere");
    ExpectValidHull(CubeCorners(-3, 3), "cube corners only");

    krmProfile srgb = krmCreate_sRGBProfile();
    const auto rgbCloud = LabCloud(srgb, krmFmtRGBFloat, 3, 17, 1.0);
    krmCloseProfile(srgb);
    ASSERT_EQ(rgbCloud.size(), 17u * 17 * 17);
    ExpectValidHull(rgbCloud, "sRGB gamut");

    krmProfile cmyk = krmOpenProfileFromFile("/usr/share/color/icc/ghostscript/default_cmyk.icc", "r");
    if (!cmyk) GTEST_SKIP() << "default_cmyk.icc not installed";
    const auto cmykCloud = LabCloud(cmyk, krmFmtCMYKFloat, 4, 9, 100.0);
    krmCloseProfile(cmyk);
    ASSERT_EQ(cmykCloud.size(), 9u * 9 * 9 * 9);
    ExpectValidHull(cmykCloud, "default_cmyk gamut");
}

TEST(Hull, SameListsAsTheStepByStepBuild)
{
    std::mt19937 rng(7);
    for (const int range : {3, 20, 200}) {
        std::uniform_int_distribution<int> coord(-range, range);
        std::vector<HullPoint> pts = {{-range, -range, -range}, {range, -range, -range}, {0, range, -range}};
        for (int i = 0; i < 1500; i++) pts.push_back({coord(rng), coord(rng), coord(rng)});
        Hull hull;
        Feed(hull, pts);
        hull.compute();
        Reference ref;
        std::vector<HullPoint> vertices;
        std::vector<std::uint32_t> triangles;
        ref.Build(pts, vertices, triangles);
        EXPECT_EQ(hull.vertices(), vertices) << range;
        EXPECT_EQ(hull.triangles(), triangles) << range;
    }
}
