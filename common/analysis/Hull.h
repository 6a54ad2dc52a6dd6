#pragma once

// The convex hull of a cloud of integer L*a*b* points, built incrementally in exact integer
// geometry, and the render data the 3D view and the exports draw from it. No Qt: only the
// colour engine and the standard library, so engine-side tests and benchmarks use it too.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// Integer L*a*b*: x = L*, y = a*, z = b*.
struct HullPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t z = 0;
    bool operator==(const HullPoint&) const = default;
};

enum HullLocation { HullOutside = 0, HullInside = 1, HullOnSurface = 2 };

// What the 3D view draws. Positions are in the view's axis order x = b*, y = L*, z = a*.
struct HullRenderData {
    std::vector<float> positions;  // three per vertex
    // Surfaces: face normals, three copies (of three floats) per triangle. Point clouds: one
    // vector end per position, all-zero meaning no vector.
    std::vector<float> normals;
    std::vector<float> colors;           // three per vertex, 0..1; may be empty
    std::vector<std::uint32_t> indices;  // three per triangle, into the vertex array
    std::vector<std::int32_t> ids;       // one positive id per position; may be empty
    std::vector<std::string> names;      // one UTF-8 name per position (named colours); may be empty

    std::size_t vertexCount() const { return positions.size() / 3; }
    std::size_t triangleCount() const { return indices.size() / 3; }
};

class HullException : public std::exception
{
public:
    explicit HullException(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

class InsufficientPointsException : public HullException
{
public:
    InsufficientPointsException() : HullException("Insufficient non-degenerate points to form a hull") {}
};

class CollinearPointsException : public HullException
{
public:
    CollinearPointsException() : HullException("All points are collinear") {}
};

class CoplanarPointsException : public HullException
{
public:
    CoplanarPointsException() : HullException("All points are coplanar") {}
};

// Collect points, compute, then test points and take render data; clear() starts again.
class IHull
{
public:
    virtual ~IHull() = default;
    // (round(b0·100/255), b1 − 128, b2 − 128): an 8-bit L*a*b* encoding.
    virtual void add_lab8(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2) = 0;
    virtual void add_point(const HullPoint& point) = 0;
    virtual void add_lab(int L, int a, int b) = 0;
    // Throws InsufficientPointsException, CollinearPointsException or CoplanarPointsException.
    virtual void compute() = 0;
    virtual HullLocation test_point(const HullPoint& point) const = 0;
    virtual HullLocation test_lab(int L, int a, int b) const = 0;
    // Hull vertices with their sRGB colours, outward face normals and triangles.
    virtual HullRenderData get_render_data() const = 0;
    virtual void clear() = 0;
};

struct HullVertex;
struct HullEdge;
struct HullFace;
struct HullWork;

class Hull : public IHull
{
public:
    Hull();
    ~Hull() override;
    Hull(const Hull&) = delete;
    Hull& operator=(const Hull&) = delete;

    void add_lab8(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2) override;
    void add_point(const HullPoint& point) override;
    void add_lab(int L, int a, int b) override;
    void compute() override;
    HullLocation test_point(const HullPoint& point) const override;
    HullLocation test_lab(int L, int a, int b) const override;
    HullRenderData get_render_data() const override;
    void clear() override;

    bool isComputed() const { return computed_; }
    std::size_t pointCount() const { return input_.size(); }
    // The points left on the hull, in input order.
    const std::vector<HullPoint>& vertices() const { return hullVertices_; }
    // Three indices into vertices() per face, counter-clockwise seen from outside.
    const std::vector<std::uint32_t>& triangles() const { return triangles_; }

private:
    bool computed_ = false;
    std::vector<HullPoint> hullVertices_;
    std::vector<std::uint32_t> triangles_;
    std::vector<HullPoint> input_;
    std::unique_ptr<HullWork> work_;  // working vertices, edges and faces
    void* transform_ = nullptr;       // krmTransform: built-in Lab v4 to built-in sRGB, floats
};
