// Device sampling, gamut and roundtrip computations, hull volumes and the mesh file formats.
#include "common/analysis/GamutAnalysis.h"
#include "common/analysis/EngineHandles.h"

#include "common/signatures/SignatureRange.h"

#include <algorithm>
#include <array>
#include <map>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <numeric>
#include <random>
#include <type_traits>

namespace {

constexpr std::size_t kMaxGridNodes = 250000;

bool in_range(krmUInt32Number value, const char (&low)[5], const char (&high)[5])
{
    return signature_in_range(value, low, high);
}

bool is_a2b(krmTagSignature tag) { return in_range(tag, "A2B0", "A2B2"); }
bool is_b2a(krmTagSignature tag) { return in_range(tag, "B2A0", "B2A2"); }

std::size_t power(std::size_t base, int exponent)
{
    std::size_t result = 1;
    for (int i = 0; i < exponent; ++i)
        result *= base;
    return result;
}

// Gamut points stay inside the L*a*b* range the views draw; tables that overshoot it are clipped.
double limit_lab(double value, int channel)
{
    return channel == 0 ? std::clamp(value, 0.0, 100.0) : std::clamp(value, -128.0, 127.0);
}

bool finite_lab(const double* lab)
{
    return std::isfinite(lab[0]) && std::isfinite(lab[1]) && std::isfinite(lab[2]);
}

krmCIELab as_lab(const double v[3])
{
    krmCIELab lab;
    lab.L = v[0];
    lab.a = v[1];
    lab.b = v[2];
    return lab;
}

// Converts in slices so that the engine's 32-bit pixel count never overflows.
void transform_all(krmTransform transform, const void* in, std::size_t inStride, double* out, std::size_t count)
{
    const auto* bytes = static_cast<const unsigned char*>(in);
    constexpr std::size_t kSlice = 65536;
    for (std::size_t done = 0; done < count; done += kSlice) {
        const std::size_t n = std::min(kSlice, count - done);
        krmDoTransform(transform, bytes + done * inStride, out + done * 3, krmUInt32Number(n));
    }
}

}  // namespace

int device_grid_points(int channels)
{
    int n = channels <= 3 ? 12 : (channels <= 6 ? 5 : 4);
    while (n > 2 && power(std::size_t(n), channels) > kMaxGridNodes)
        --n;
    return n;
}

std::vector<std::uint16_t> device_grid(int channels, int points)
{
    std::vector<std::uint16_t> words;
    if (channels < 1 || channels > 15 || points < 2)
        return words;
    const std::size_t nodes = power(std::size_t(points), channels);
    words.resize(nodes * std::size_t(channels));
    std::vector<std::uint16_t> levels(static_cast<std::size_t>(points));
    for (int k = 0; k < points; ++k)
        levels[std::size_t(k)] = krmQuantizeVal(k, krmUInt32Number(points));
    for (std::size_t node = 0; node < nodes; ++node) {
        std::size_t rest = node;
        for (int c = channels - 1; c >= 0; --c) {
            words[node * std::size_t(channels) + std::size_t(c)] = levels[rest % std::size_t(points)];
            rest /= std::size_t(points);
        }
    }
    return words;
}

bool is_gamut_tag(krmTagSignature tag)
{
    return is_a2b(tag) || is_b2a(tag) || in_range(tag, "D2B0", "D2B3") || in_range(tag, "B2D0", "B2D3")
           || tag == kMatrixShaperTag;
}

krmUInt32Number intent_of_tag(krmTagSignature tag)
{
    if (tag == kMatrixShaperTag)
        return 1;
    return is_gamut_tag(tag) ? krmUInt32Number((tag & 0xFF) - '0') : 0;
}

bool is_pcs_to_device_tag(krmTagSignature tag)
{
    return is_b2a(tag) || in_range(tag, "B2D0", "B2D3");
}

// ---------------------------------------------------------------------------------------------
// Gamut

GamutTransform::~GamutTransform()
{
    if (transform_)
        krmDeleteTransform(transform_);
    if (context_)
        krmDeleteContext(context_);
}

std::unique_ptr<GamutTransform> GamutTransform::build(krmProfile profile, krmTagSignature tag)
{
    if (!profile)
        return nullptr;
    const krmInt32Number channels = krmChannelsOfColorSpace(krmGetProfileColorSpace(profile));
    if (channels < 1 || channels > 15)
        return nullptr;
    std::unique_ptr<GamutTransform> result(new GamutTransform);
    result->channels_ = channels;
    result->intent_ = intent_of_tag(tag);
    result->labV4_ = krmGetProfileVersion(profile) >= 4.0;
    result->context_ = krmCreateContext(nullptr, nullptr);
    if (!result->context_)
        return nullptr;
    // Profiles that cannot be linked are common among those inspected; say nothing about them.
    krmSetLogErrorHandlerInContext(result->context_, nullptr);
    ProfilePtr lab(result->labV4_ ? krmCreateLab4Profile(result->context_, nullptr)
                                  : krmCreateLab2Profile(result->context_, nullptr));
    if (!lab)
        return nullptr;
    const krmUInt32Number input = krmFMT_CHANNELS(krmUInt32Number(channels)) | krmFMT_BYTES(2);
    if (is_pcs_to_device_tag(tag)) {
        krmProfile chain[5] = {profile, lab.get(), profile, profile, lab.get()};
        result->transform_ = krmCreateMultiprofileTransform(result->context_, chain, 5, input, krmFmtLabDouble,
                                                            result->intent_, 0);
        result->chain_ = true;
    } else {
        result->transform_ = krmCreateTransformWithContext(result->context_, profile, input, lab.get(),
                                                           krmFmtLabDouble, result->intent_, 0);
    }
    if (!result->transform_)
        return nullptr;
    return result;
}

void GamutTransform::convert(const std::uint16_t* words, double* lab, std::size_t count) const
{
    transform_all(transform_, words, std::size_t(channels_) * 2, lab, count);
}

std::unique_ptr<GamutHull> compute_gamut_hull(krmProfile profile, krmTagSignature tag, int gridPoints)
{
    const std::unique_ptr<GamutTransform> transform = GamutTransform::build(profile, tag);
    return transform ? compute_gamut_hull(*transform, gridPoints) : nullptr;
}

namespace {

// Integer coordinates stay within ±8000 so that the hull's exact-in-doubles arithmetic holds;
// below that, a grid of 1/64 unit is far finer than any figure printed.
constexpr double kMeasureRange = 8000;
constexpr double kMeasureScale = 64;

void measure_gamut(GamutHull& gamut, const std::vector<double>& lab)
{
    double largest = 1;
    bool any = false;
    for (int k = 0; k < 3; ++k) {
        gamut.min[k] = std::numeric_limits<double>::max();
        gamut.max[k] = std::numeric_limits<double>::lowest();
    }
    for (std::size_t i = 0; i + 2 < lab.size(); i += 3) {
        const double* v = &lab[i];
        if (!finite_lab(v))
            continue;
        any = true;
        for (int k = 0; k < 3; ++k) {
            gamut.min[k] = std::min(gamut.min[k], v[k]);
            gamut.max[k] = std::max(gamut.max[k], v[k]);
            largest = std::max(largest, std::fabs(v[k]));
        }
    }
    if (!any)
        throw InsufficientPointsException();
    gamut.scale = std::min(kMeasureScale, kMeasureRange / largest);
    gamut.measured = std::make_unique<Hull>();
    for (std::size_t i = 0; i + 2 < lab.size(); i += 3) {
        const double* v = &lab[i];
        if (finite_lab(v))
            gamut.measured->add_point(HullPoint{std::int32_t(std::lround(v[0] * gamut.scale)),
                                                std::int32_t(std::lround(v[1] * gamut.scale)),
                                                std::int32_t(std::lround(v[2] * gamut.scale))});
    }
    gamut.measured->compute();
    gamut.volume = hull_volume(*gamut.measured) / (gamut.scale * gamut.scale * gamut.scale);
}

}  // namespace

std::unique_ptr<GamutHull> compute_gamut_hull(const GamutTransform& transform, int gridPoints)
{
    auto result = std::make_unique<GamutHull>();
    result->gridPoints = gridPoints > 0 ? gridPoints : device_grid_points(transform.channels());
    const std::vector<std::uint16_t> words = device_grid(transform.channels(), result->gridPoints);
    result->samples = words.size() / std::size_t(transform.channels());
    std::vector<double> lab(result->samples * 3);
    transform.convert(words.data(), lab.data(), result->samples);

    result->hull = std::make_unique<Hull>();
    for (std::size_t i = 0; i < result->samples; ++i) {
        const double* v = &lab[i * 3];
        if (!finite_lab(v))
            continue;
        result->hull->add_lab(int(std::trunc(limit_lab(v[0], 0))), int(std::trunc(limit_lab(v[1], 1))),
                              int(std::trunc(limit_lab(v[2], 2))));
        for (int k = 0; k < 3; ++k)
            result->labs.push_back(float(limit_lab(v[k], k)));
    }
    result->hull->compute();
    measure_gamut(*result, lab);
    return result;
}

HullRenderData exact_render_data(const GamutHull& gamut)
{
    HullRenderData data = gamut.hull->get_render_data();
    // Whole-unit point → the first sample truncating to it.
    std::map<std::array<int, 3>, std::array<float, 3>> exact;
    for (std::size_t i = 0; i + 2 < gamut.labs.size(); i += 3) {
        const float* v = &gamut.labs[i];
        exact.emplace(std::array<int, 3>{int(std::trunc(v[0])), int(std::trunc(v[1])), int(std::trunc(v[2]))},
                      std::array<float, 3>{v[0], v[1], v[2]});
    }
    for (std::size_t i = 0; i + 2 < data.positions.size(); i += 3) {
        float* p = &data.positions[i];  // b*, L*, a*
        const auto found = exact.find({int(p[1]), int(p[2]), int(p[0])});
        if (found == exact.end())
            continue;
        p[0] = found->second[2];
        p[1] = found->second[0];
        p[2] = found->second[1];
    }
    return data;
}

namespace {

// sRGB colours (0..1) of L*a*b* triples; mid grey where the built-in profiles cannot be linked.
std::vector<float> screen_colours(const std::vector<float>& labs)
{
    const std::size_t n = labs.size() / 3;
    std::vector<float> colours(n * 3, 0.5f);
    krmProfile lab = krmCreateLab4Profile(nullptr);
    krmProfile srgb = krmCreate_sRGBProfile();
    krmTransform toScreen = lab && srgb ? krmCreateTransform(lab, krmFmtLabFloat, srgb, krmFmtRGBFloat, 0, 0) : nullptr;
    if (toScreen && n > 0)
        krmDoTransform(toScreen, labs.data(), colours.data(), krmUInt32Number(n));
    if (toScreen)
        krmDeleteTransform(toScreen);
    if (lab)
        krmCloseProfile(lab);
    if (srgb)
        krmCloseProfile(srgb);
    for (float& c : colours)
        c = std::clamp(c, 0.0f, 1.0f);
    return colours;
}

}  // namespace

HullRenderData measured_render_data(const GamutHull& gamut)
{
    HullRenderData data = gamut.measured->get_render_data();
    const std::size_t n = data.positions.size() / 3;
    std::vector<float> labs(n * 3);
    for (std::size_t i = 0; i < n; ++i) {
        float* p = &data.positions[i * 3];  // b*, L*, a* on the 1/scale grid
        for (int k = 0; k < 3; ++k)
            p[k] = float(p[k] / gamut.scale);
        labs[i * 3] = p[1];
        labs[i * 3 + 1] = p[2];
        labs[i * 3 + 2] = p[0];
    }
    data.colors = screen_colours(labs);
    return data;
}

HullRenderData sample_cloud(const GamutHull& gamut)
{
    HullRenderData data;
    const std::size_t n = gamut.labs.size() / 3;
    data.positions.resize(n * 3);
    for (std::size_t i = 0; i < n; ++i) {
        data.positions[i * 3] = gamut.labs[i * 3 + 2];
        data.positions[i * 3 + 1] = gamut.labs[i * 3];
        data.positions[i * 3 + 2] = gamut.labs[i * 3 + 1];
    }
    data.normals.assign(n * 3, 0.0f);
    data.colors = screen_colours(gamut.labs);
    data.ids.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        data.ids[i] = int(i + 1);
    return data;
}

double hull_volume(const Hull& hull)
{
    // Divergence theorem: the sum of the signed tetrahedra from the origin to each outward face.
    const std::vector<HullPoint>& v = hull.vertices();
    const std::vector<std::uint32_t>& t = hull.triangles();
    double six = 0;
    for (std::size_t i = 0; i + 2 < t.size(); i += 3) {
        const HullPoint &A = v[t[i]], &B = v[t[i + 1]], &C = v[t[i + 2]];
        six += double(A.x) * (double(B.y) * C.z - double(B.z) * C.y) + double(A.y) * (double(B.z) * C.x - double(B.x) * C.z)
               + double(A.z) * (double(B.x) * C.y - double(B.y) * C.x);
    }
    return std::fabs(six) / 6.0;
}

HullSolid::HullSolid(const Hull& hull, double scale, double slack)
    : slack_(slack)
{
    const std::vector<HullPoint>& v = hull.vertices();
    const std::vector<std::uint32_t>& t = hull.triangles();
    for (int k = 0; k < 3; ++k) {
        min[k] = std::numeric_limits<double>::max();
        max[k] = std::numeric_limits<double>::lowest();
    }
    for (const HullPoint& p : v) {
        const double c[3] = {p.x / scale, p.y / scale, p.z / scale};
        for (int k = 0; k < 3; ++k) {
            min[k] = std::min(min[k], c[k]);
            max[k] = std::max(max[k], c[k]);
        }
    }
    // Centroid of the vertices: inside a solid hull, so it orients every plane outward whatever
    // the winding of the faces.
    double centre[3] = {0, 0, 0};
    for (const HullPoint& p : v) {
        centre[0] += p.x;
        centre[1] += p.y;
        centre[2] += p.z;
    }
    for (double& c : centre)
        c /= double(std::max<std::size_t>(v.size(), 1)) * scale;
    for (std::size_t i = 0; i + 2 < t.size(); i += 3) {
        const HullPoint &A = v[t[i]], &B = v[t[i + 1]], &C = v[t[i + 2]];
        const double u[3] = {double(B.x) - A.x, double(B.y) - A.y, double(B.z) - A.z};
        const double w[3] = {double(C.x) - A.x, double(C.y) - A.y, double(C.z) - A.z};
        double n[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
        const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        if (length == 0)
            continue;
        for (double& c : n)
            c /= length;
        double d = (n[0] * A.x + n[1] * A.y + n[2] * A.z) / scale;
        if (n[0] * centre[0] + n[1] * centre[1] + n[2] * centre[2] > d) {
            for (double& c : n)
                c = -c;
            d = -d;
        }
        planes_.insert(planes_.end(), {n[0], n[1], n[2], d});
    }
}

bool HullSolid::contains(double L, double a, double b) const
{
    for (std::size_t i = 0; i < planes_.size(); i += 4)
        if (planes_[i] * L + planes_[i + 1] * a + planes_[i + 2] * b > planes_[i + 3] + slack_)
            return false;
    return !planes_.empty();
}

double hull_share_inside(const HullSolid& in, const HullSolid& out, int points, int* insideInner)
{
    std::mt19937_64 random(20261209);  // fixed: the same figures on every run
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int hits = 0, both = 0;
    for (int i = 0; i < points; ++i) {
        double p[3];
        for (int k = 0; k < 3; ++k)
            p[k] = in.min[k] + unit(random) * (in.max[k] - in.min[k]);
        if (!in.contains(p[0], p[1], p[2]))
            continue;
        ++hits;
        both += out.contains(p[0], p[1], p[2]) ? 1 : 0;
    }
    if (insideInner)
        *insideInner = hits;
    return hits ? double(both) / hits : 0.0;
}

// ---------------------------------------------------------------------------------------------
// Roundtrip

double delta_e76(const double a[3], const double b[3])
{
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

RoundtripAnalysis compute_roundtrip(krmProfile profile, krmTagSignature tag, krmUInt32Number shaperIntent)
{
    RoundtripAnalysis analysis;
    const bool shaper = tag == kMatrixShaperTag && profile && krmIsMatrixShaper(profile);
    if (!shaper) {
        if (!profile || !(is_a2b(tag) || is_b2a(tag)))
            throw Exception("The matching LUT tag is not available");
        const krmTagSignature partner = (tag & 0x00FF00FFu) | ((is_a2b(tag) ? 0x42324130u : 0x41324230u) & 0xFF00FF00u);
        if (!krmIsTag(profile, partner))
            throw Exception("The matching LUT tag is not available");
        analysis.intent = krmUInt32Number((tag & 0xFF) - '0');
        analysis.deviceRoundtrip = is_a2b(tag);
    } else {
        analysis.intent = shaperIntent;
        analysis.deviceRoundtrip = true;
    }

    const krmInt32Number channels = krmChannelsOfColorSpace(krmGetProfileColorSpace(profile));
    if (channels < 1 || channels > 16)
        throw Exception("Unsupported profile color space");
    const krmUInt32Number deviceFormat = krmFormatterForColorspaceOfProfile(profile, 2, 0);
    if (!deviceFormat)
        throw Exception("Could not create a device formatter");

    // A silent context of its own: failures are reported once, by the exception's message.
    const ContextPtr context(krmCreateContext(nullptr, nullptr));
    if (context)
        krmSetLogErrorHandlerInContext(context.get(), nullptr);
    // The PCS end in the profile's own encoding, as for the gamut: a v4 Lab profile against a v2
    // table would apply the perceptual black-point scaling one way only.
    ProfilePtr lab(krmGetProfileVersion(profile) >= 4.0 ? krmCreateLab4Profile(context.get(), nullptr)
                                                        : krmCreateLab2Profile(context.get(), nullptr));
    if (!lab)
        throw Exception("Could not create the Lab profile");
    ProfilePtr srgb(krmCreate_sRGBProfile(context.get()));
    if (!srgb)
        throw Exception("Could not create the sRGB profile");
    TransformPtr aToB(krmCreateTransformWithContext(context.get(), profile, deviceFormat, lab.get(), krmFmtLabDouble,
                                                    analysis.intent, krmFlagNoOptimize));
    if (!aToB)
        throw Exception("Could not create the selected AToB transform");
    TransformPtr bToA(krmCreateTransformWithContext(context.get(), lab.get(), krmFmtLabDouble, profile, deviceFormat,
                                                    analysis.intent, krmFlagNoOptimize));
    if (!bToA)
        throw Exception("Could not create the selected BToA transform");
    TransformPtr display(krmCreateTransformWithContext(context.get(), lab.get(), krmFmtLabDouble, srgb.get(),
                                                       krmFmtRGBFloat, 0, 0));
    if (!display)
        throw Exception("Could not create the display color transform");
    const krmTransform toLab = aToB.get();
    const krmTransform toDevice = bToA.get();

    // Device grid.
    const int c = int(krmT_CHANNELS(deviceFormat));
    analysis.gridPoints = device_grid_points(c);
    const std::vector<std::uint16_t> words = device_grid(c, analysis.gridPoints);
    if (words.empty() || words.size() % std::size_t(c) != 0)
        throw Exception("Device sampling returned no usable points");
    const std::size_t deviceSamples = words.size() / std::size_t(c);
    if (deviceSamples > 4294967295u)
        throw Exception("Too many device samples");
    std::vector<double> lab1(deviceSamples * 3);
    transform_all(toLab, words.data(), std::size_t(c) * 2, lab1.data(), deviceSamples);

    // Gamut hull of what the A2B side reaches.
    Hull hull;
    for (std::size_t i = 0; i < deviceSamples; ++i) {
        const double* v = &lab1[i * 3];
        if (!finite_lab(v))
            continue;
        hull.add_lab(int(std::lround(limit_lab(v[0], 0))), int(std::lround(limit_lab(v[1], 1))),
                     int(std::lround(limit_lab(v[2], 2))));
    }
    try {
        hull.compute();
        analysis.hull = hull.get_render_data();
    } catch (const HullException& e) {
        // The device roundtrip needs no hull; only the gamut drawn around it and the PCS grid do.
        analysis.hullSkipped = c == 1 ? std::string("a gray profile's colours lie on one line, the neutral axis, and "
                                                    "enclose no volume: there is no gamut hull to sample")
                                      : std::string("the profile's colours enclose no volume (") + e.what()
                                            + "): there is no gamut hull to sample";
        if (!analysis.deviceRoundtrip)
            throw NoGamutVolume(analysis.hullSkipped);
    }

    std::vector<double> source;
    if (analysis.deviceRoundtrip) {
        source = std::move(lab1);
    } else {
        if (hull.vertices().empty())
            throw Exception("The convex hull is empty");
        int lo[3] = {std::numeric_limits<int>::max(), std::numeric_limits<int>::max(), std::numeric_limits<int>::max()};
        int hi[3] = {std::numeric_limits<int>::min(), std::numeric_limits<int>::min(), std::numeric_limits<int>::min()};
        for (const HullPoint& p : hull.vertices()) {
            const int v[3] = {p.x, p.y, p.z};
            for (int k = 0; k < 3; ++k) {
                lo[k] = std::min(lo[k], v[k]);
                hi[k] = std::max(hi[k], v[k]);
            }
        }
        lo[0] = std::clamp(lo[0], 0, 100), hi[0] = std::clamp(hi[0], 0, 100);
        for (int k = 1; k < 3; ++k)
            lo[k] = std::clamp(lo[k], -128, 127), hi[k] = std::clamp(hi[k], -128, 127);
        for (int L = lo[0]; L <= hi[0]; L += 4)
            for (int a = lo[1]; a <= hi[1]; a += 4)
                for (int b = lo[2]; b <= hi[2]; b += 4)
                    if (hull.test_lab(L, a, b) != HullOutside)
                        source.insert(source.end(), {double(L), double(a), double(b)});
        if (source.empty())
            throw Exception("No Lab samples were found inside the gamut");
        if (source.size() / 3 > 4294967295u)
            throw Exception("Too many Lab samples");
    }

    const std::size_t count = source.size() / 3;
    const std::size_t deviceBytes = std::size_t(c) * 2;
    std::vector<std::uint16_t> device(count * std::size_t(c));
    {
        // Lab doubles to device words, in slices like transform_all.
        constexpr std::size_t kSlice = 65536;
        for (std::size_t done = 0; done < count; done += kSlice)
            krmDoTransform(toDevice, source.data() + done * 3, device.data() + done * std::size_t(c),
                           krmUInt32Number(std::min(kSlice, count - done)));
    }
    std::vector<double> back(count * 3);
    transform_all(toLab, device.data(), deviceBytes, back.data(), count);
    if (back.size() != source.size())
        throw Exception("Roundtrip results have inconsistent sample counts");

    std::vector<float> rgb(count * 3);
    {
        constexpr std::size_t kSlice = 65536;
        for (std::size_t done = 0; done < count; done += kSlice)
            krmDoTransform(display.get(), source.data() + done * 3, rgb.data() + done * 3,
                           krmUInt32Number(std::min(kSlice, count - done)));
    }

    analysis.results.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        RoundtripResult& r = analysis.results[i];
        for (int k = 0; k < 3; ++k) {
            r.source[k] = source[i * 3 + std::size_t(k)];
            r.roundtrip[k] = back[i * 3 + std::size_t(k)];
            const float v = rgb[i * 3 + std::size_t(k)];
            r.display[k] = std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f;
        }
        const krmCIELab s = as_lab(r.source), t = as_lab(r.roundtrip);
        r.de00 = krmCIEDE2000(&s, &t, 1, 1, 1);
    }
    return analysis;
}

RoundtripStatistics roundtrip_statistics(const std::vector<RoundtripResult>& results, std::size_t worstCount)
{
    RoundtripStatistics stats;
    stats.count = results.size();
    if (results.empty())
        return stats;
    std::vector<std::size_t> order(results.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    // Largest first; equal errors keep sample order so the list is the same on every run.
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return results[a].de00 > results[b].de00; });
    double sum = 0;
    for (const RoundtripResult& r : results)
        sum += r.de00;
    stats.mean = sum / double(results.size());
    stats.max = results[order.front()].de00;
    // Nearest rank: the smallest value with at least 95 % of the samples at or below it.
    const std::size_t rank = std::size_t(std::ceil(0.95 * double(results.size())));
    stats.p95 = results[order[results.size() - rank]].de00;
    order.resize(std::min(worstCount, order.size()));
    stats.worst = std::move(order);
    return stats;
}

std::size_t roundtrip_count_at_least(const std::vector<RoundtripResult>& results, double threshold)
{
    return std::size_t(std::count_if(results.begin(), results.end(),
                                     [threshold](const RoundtripResult& r) { return r.de00 >= threshold; }));
}

// ---------------------------------------------------------------------------------------------
// Exports

void write_lab_cgats(std::ostream& out, const HullRenderData& points)
{
    const std::size_t n = points.vertexCount();
    // Named colours keep their names in a SAMPLE_NAME column; CGATS strings are quoted and hold
    // no quote of their own.
    const bool named = points.names.size() == n && n > 0;
    out << "CGATS.17\n"
        << "NUMBER_OF_FIELDS " << (named ? 5 : 4) << "\n"
        << "BEGIN_DATA_FORMAT\n"
        << (named ? "SAMPLE_ID SAMPLE_NAME LAB_L LAB_A LAB_B\n" : "SAMPLE_ID LAB_L LAB_A LAB_B\n")
        << "END_DATA_FORMAT\n"
        << "NUMBER_OF_SETS " << n << "\n"
        << "BEGIN_DATA\n";
    char line[160];
    for (std::size_t i = 0; i < n; ++i) {
        const float* p = &points.positions[i * 3];
        if (named) {
            std::string name = points.names[i];
            std::replace(name.begin(), name.end(), '"', '\'');
            std::replace(name.begin(), name.end(), '\n', ' ');
            std::snprintf(line, sizeof line, "%zu \"", i + 1);
            out << line << name;
            std::snprintf(line, sizeof line, "\" %.6f %.6f %.6f\n", double(p[1]), double(p[2]), double(p[0]));
        } else {
            std::snprintf(line, sizeof line, "Patch_%zu %.6f %.6f %.6f\n", i + 1, double(p[1]), double(p[2]),
                          double(p[0]));
        }
        out << line;
    }
    out << "END_DATA\n";
}

void write_vrml(std::ostream& out, const HullRenderData& mesh)
{
    if (mesh.positions.empty() || mesh.indices.empty())
        throw HullException("Cannot export empty hull data");
    out << "#VRML V2.0 utf8\n"
           "\n"
           "# CIE Lab Color Space Gamut\n"
           "# L*: Lightness 0-100\n"
           "# a*: Green-Red axis -128 to +128\n"
           "# b*: Blue-Yellow axis -128 to +128\n"
           "\n"
           "DEF CamTest Group {\n"
           "  children [\n"
           "    DEF Cameras Group {\n"
           "      children [\n"
           "        DEF DefaultView Viewpoint {\n"
           "          position 50 0 340\n"
           "          orientation 0 0 1 0\n"
           "          description \"default view\"\n"
           "        }\n"
           "      ]\n"
           "    },\n"
           "  ]\n"
           "}\n"
           "\n"
           "Background {\n"
           "  skyColor [ 0.5 0.5 0.5 ]\n"
           "}\n"
           "\n"
           "Transform {\n"
           "  scale 1 1 1\n"
           "  children [\n"
           "    Shape {\n"
           "      appearance Appearance {\n"
           "        material Material {\n"
           "          diffuseColor 1 1 1\n"
           "          shininess 0.8\n"
           "        }\n"
           "      }\n"
           "      geometry IndexedFaceSet {\n"
           "        solid FALSE\n"
           "        colorPerVertex TRUE\n"
           "        coord Coordinate {\n"
           "          point [\n";
    const std::size_t n = mesh.vertexCount();
    for (std::size_t i = 0; i < n; ++i) {
        const float* p = &mesh.positions[i * 3];
        out << "            " << p[0] << ' ' << p[1] << ' ' << p[2] << (i + 1 < n ? "," : "") << '\n';
    }
    out << "          ]\n"
           "        }\n"
           "        color Color {\n"
           "          color [\n";
    const std::size_t colours = mesh.colors.size() / 3;
    for (std::size_t i = 0; i < colours; ++i) {
        const float* c = &mesh.colors[i * 3];
        out << "            " << c[0] << ' ' << c[1] << ' ' << c[2] << (i + 1 < colours ? "," : "") << '\n';
    }
    out << "          ]\n"
           "        }\n"
           "        coordIndex [\n";
    for (std::size_t t = 0; t + 2 < mesh.indices.size(); t += 3)
        out << "          " << mesh.indices[t] << ", " << mesh.indices[t + 1] << ", " << mesh.indices[t + 2] << ", -1\n";
    out << "        ]\n"
           "      }\n"
           "    }\n"
           "  ]\n"
           "}\n";
}

void write_vrml(const std::string& path, const HullRenderData& mesh)
{
    if (mesh.positions.empty() || mesh.indices.empty())
        throw HullException("Cannot export empty hull data");
    std::ofstream out(path);
    if (!out)
        throw HullException("Cannot open file for writing: " + path);
    write_vrml(out, mesh);
    out.close();
    if (!out)
        throw HullException("Cannot write file: " + path);
}
