#pragma once

// The computations behind the gamut hull and roundtrip views and the command line's gamut and
// roundtrip figures: device sampling, the profile chains, the hull, CIEDE2000 roundtrips, hull
// volumes and the mesh exports' file formats. No Qt, so the window and prismet-cli share one code
// path (target `prismet_gamut`).

#include "common/analysis/Hull.h"

#include <krm.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

// The analyses' failure: a message formatted printf-style (at most 4095 characters).
class Exception : public std::exception
{
public:
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    explicit Exception(const char* format, ...)
    {
        va_list args;
        va_start(args, format);
        std::vsnprintf(message_, sizeof message_, format, args);
        va_end(args);
    }
    const char* what() const noexcept override { return message_; }

private:
    char message_[4096] = {};
};

// Grid points per channel for sampling a device space of `channels` channels: 12 up to three
// channels, 5 for four to six, 4 beyond; lowered while the grid would exceed 250000 nodes (and
// the grid is larger than 2 per channel), so that wide ink sets stay within memory.
int device_grid_points(int channels);

// The device grid in 16-bit words, `channels` per node, the last channel varying fastest; node k
// of n has the value round(k·65535/(n − 1)). Empty for channels outside 1..15 or n < 2.
std::vector<std::uint16_t> device_grid(int channels, int points);

// The rendering intent a LUT tag stands for (A2B1, B2A1, B2D1, D2B1 and the matrix-shaper row
// give 1, and so on); 0 for other tags.
krmUInt32Number intent_of_tag(krmTagSignature tag);
bool is_pcs_to_device_tag(krmTagSignature tag);  // B2An, B2Dn
// A2B0..A2B2, B2A0..B2A2, D2B0..D2B3, B2D0..B2D3 and the matrix-shaper row.
bool is_gamut_tag(krmTagSignature tag);

// The matrix-shaper row of the tags table.
constexpr krmTagSignature kMatrixShaperTag = 0x7FFFFFF0;

// The transform from the profile's device values (16-bit words) to L*a*b* doubles through one
// tag: device-to-PCS tags directly, PCS-to-device tags through [profile, Lab, profile, profile,
// Lab] so that what the B2A/B2D table can reach is shown. Its context is silent and its own.
class GamutTransform
{
public:
    ~GamutTransform();
    GamutTransform(const GamutTransform&) = delete;
    GamutTransform& operator=(const GamutTransform&) = delete;

    // Null when the transform cannot be made.
    static std::unique_ptr<GamutTransform> build(krmProfile profile, krmTagSignature tag);

    int channels() const { return channels_; }
    krmUInt32Number intent() const { return intent_; }
    bool fiveProfileChain() const { return chain_; }
    bool labV4() const { return labV4_; }
    // `count` nodes of channels() words each to L*, a*, b* triples.
    void convert(const std::uint16_t* words, double* lab, std::size_t count) const;

private:
    GamutTransform() = default;
    krmContext context_ = nullptr;
    krmTransform transform_ = nullptr;
    int channels_ = 0;
    krmUInt32Number intent_ = 0;
    bool chain_ = false;
    bool labV4_ = true;
};

// One gamut: the hull of the tag's device grid in L*a*b*.
struct GamutHull {
    std::size_t samples = 0;  // device nodes converted
    int gridPoints = 0;       // per channel
    // The 3D view's drawing grid: each L*a*b* value limited to L* 0..100, a* and b* −128..127 and
    // truncated toward zero (NaNs are dropped). Computed.
    std::unique_ptr<Hull> hull;
    // The measured gamut, of the real L*a*b* values, neither limited nor truncated: a hull on an
    // integer grid of step 1/scale L*a*b* units (at most 1/64, so that volumes and extents stay
    // within a few thousandths of a unit of the exact hull's).
    std::unique_ptr<Hull> measured;
    double scale = 1;
    double volume = 0;                      // cubic L*a*b* units
    double min[3] = {0, 0, 0};              // L*, a*, b* extents of the sampled points
    double max[3] = {0, 0, 0};
    std::vector<float> labs;                // L*, a*, b* of every finite sample, limited but not rounded
};

// The drawing hull's render data with each vertex moved back to the L*a*b* value it was made from
// (the first sample truncating to it): the hull is found on whole units, the surface is exported
// and drawn at the measured values.
HullRenderData exact_render_data(const GamutHull& gamut);
// The measured hull's render data in L*a*b* units: the surface the printed figures describe.
HullRenderData measured_render_data(const GamutHull& gamut);
// Every sample as a point of a cloud (positions b*, L*, a*; sRGB colours), for drawing and export.
HullRenderData sample_cloud(const GamutHull& gamut);

// Samples the tag's device space with `gridPoints` per channel (0: device_grid_points) and
// computes both hulls; null when the transform cannot be made. Throws HullException when the
// points do not span a solid.
std::unique_ptr<GamutHull> compute_gamut_hull(krmProfile profile, krmTagSignature tag, int gridPoints = 0);
// The same through a transform already made.
std::unique_ptr<GamutHull> compute_gamut_hull(const GamutTransform& transform, int gridPoints = 0);

// Volume in cubic L*a*b* units enclosed by a computed hull.
double hull_volume(const Hull& hull);

// Point-in-hull test with real coordinates (L*, a*, b*), from the hull's outward faces.
class HullSolid
{
public:
    // `scale`: the hull's integer units per L*a*b* unit (GamutHull::scale for the measured hull);
    // `slack`: how far outside a face (in L*a*b* units) still counts as on it.
    explicit HullSolid(const Hull& hull, double scale = 1, double slack = 1e-9);
    bool contains(double L, double a, double b) const;
    double min[3] = {0, 0, 0};  // bounding box, L*, a*, b*
    double max[3] = {0, 0, 0};

private:
    std::vector<double> planes_;  // nx, ny, nz, d per face: inside when n·p ≤ d
    double slack_ = 1e-9;
};

// The share (0..1) of `inner`'s volume that lies inside `outer`, estimated from `points`
// pseudo-random points (fixed seed) uniform in `inner`'s bounding box; `insideInner` receives how
// many of them fell inside `inner` (the estimate's sample size).
double hull_share_inside(const HullSolid& inner, const HullSolid& outer, int points, int* insideInner = nullptr);

// ---- roundtrip --------------------------------------------------------------------------------

struct RoundtripResult {
    double source[3] = {0, 0, 0};     // L*, a*, b*
    double roundtrip[3] = {0, 0, 0};  // L*, a*, b*
    float display[3] = {0, 0, 0};     // sRGB of the source, 0..1
    double de00 = 0;
};

struct RoundtripAnalysis {
    bool deviceRoundtrip = true;  // A2B tag: device → PCS → device → PCS; B2A: PCS → device → PCS
    krmUInt32Number intent = 0;
    int gridPoints = 0;  // device grid points per channel
    std::vector<RoundtripResult> results;
    HullRenderData hull;
    // Why there is no gamut hull and no PCS roundtrip (a gray profile's colours lie on a line);
    // empty when there is a hull.
    std::string hullSkipped;
};

// A PCS roundtrip asked of a profile whose colours enclose no volume: there is no gamut to sample.
class NoGamutVolume : public Exception
{
public:
    explicit NoGamutVolume(const std::string& reason) : Exception("%s", reason.c_str()) {}
};

// The roundtrip of an A2Bn or B2An tag with its partner. The matrix-shaper row, for profiles
// without LUTs, takes the device roundtrip through the matrix-shaper model with `shaperIntent`.
// Throws Exception (NoGamutVolume for a B2A tag of a profile whose colours span no solid, as a
// gray profile's) or HullException with the reason.
RoundtripAnalysis compute_roundtrip(krmProfile profile, krmTagSignature tag, krmUInt32Number shaperIntent = 0);

struct RoundtripStatistics {
    std::size_t count = 0;
    double mean = 0;
    double p95 = 0;  // nearest-rank 95th percentile
    double max = 0;
    std::vector<std::size_t> worst;  // indices, largest ΔE00 first
};
RoundtripStatistics roundtrip_statistics(const std::vector<RoundtripResult>& results, std::size_t worstCount);
// How many samples have a ΔE00 at or above `threshold` (those the roundtrip view draws).
std::size_t roundtrip_count_at_least(const std::vector<RoundtripResult>& results, double threshold);

double delta_e76(const double a[3], const double b[3]);

// ---- mesh exports -----------------------------------------------------------------------------

// L*a*b* CGATS text of a point cloud (positions in the view's order b*, L*, a*).
void write_lab_cgats(std::ostream& out, const HullRenderData& points);

// A VRML 2.0 file of a surface; throws HullException ("Cannot export empty hull data", "Cannot
// open file for writing: PATH").
void write_vrml(const std::string& path, const HullRenderData& mesh);
void write_vrml(std::ostream& out, const HullRenderData& mesh);
