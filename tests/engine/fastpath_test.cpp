// Whole-line workers against the per-pixel ones: every path the processor offers is forced in turn
// through KRM_SIMD and must give the bytes of the generic workers, for every integer layout.
#include "krm_internal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

const char* kAdobeRGB = "/usr/share/color/icc/colord/AdobeRGB1998.icc";
const char* kCMYK = "/usr/share/color/icc/ghostscript/default_cmyk.icc";
const char* kLabFile = "/usr/share/color/icc/ghostscript/lab.icc";
const char* kGray = "/usr/share/color/icc/ghostscript/default_gray.icc";
const char* kPressCMYK = "/usr/share/color/icc/ghostscript/ps_cmyk.icc";

// Paths to compare with the generic workers.
const char* const kLevels[] = {"portable", "sse2", "avx2", "avx512"};

struct SimdLevel {
    explicit SimdLevel(const char* level) { setenv("KRM_SIMD", level, 1); }
    ~SimdLevel() { unsetenv("KRM_SIMD"); }
};

enum Profile { sRGB, Adobe, CMYK, Press, Lab4, Lab2, LabFile, XYZ, Gray };

krmProfile OpenProfile(Profile p)
{
    switch (p) {
    case sRGB: return krmCreate_sRGBProfile();
    case Adobe: return krmOpenProfileFromFile(kAdobeRGB, "r");
    case CMYK: return krmOpenProfileFromFile(kCMYK, "r");
    case Press: return krmOpenProfileFromFile(kPressCMYK, "r");
    case Lab4: return krmCreateLab4Profile(nullptr);
    case Lab2: return krmCreateLab2Profile(nullptr);
    case LabFile: return krmOpenProfileFromFile(kLabFile, "r");
    case XYZ: return krmCreateXYZProfile();
    case Gray: return krmOpenProfileFromFile(kGray, "r");
    }
    return nullptr;
}

struct Chain {
    std::vector<krmProfile> profiles;
    ~Chain()
    {
        for (krmProfile h : profiles)
            if (h) krmCloseProfile(h);
    }
};

constexpr krmUInt32Number Fmt(krmUInt32Number space, krmUInt32Number channels, krmUInt32Number bytes,
                              krmUInt32Number more = 0)
{
    return krmFMT_COLORSPACE(space) | krmFMT_CHANNELS(channels) | krmFMT_BYTES(bytes) | more;
}
constexpr krmUInt32Number A1 = krmFMT_EXTRA(1), SW = krmFMT_DOSWAP(1), SF = krmFMT_SWAPFIRST(1),
                          FL = krmFMT_FLAVOR(1), EN = krmFMT_ENDIAN16(1);

constexpr krmUInt32Number RGB8 = Fmt(krmPT_RGB, 3, 1), RGB16 = Fmt(krmPT_RGB, 3, 2);
constexpr krmUInt32Number CMYK8 = Fmt(krmPT_CMYK, 4, 1), CMYK16 = Fmt(krmPT_CMYK, 4, 2);
constexpr krmUInt32Number RGBA8 = RGB8 | A1, ARGB8 = RGB8 | A1 | SF, BGRA8 = RGB8 | A1 | SW | SF;

// How a case is converted: through the profiles, or proofed through the middle one with the gamut
// alarm, as the proofing view does; in separate buffers or in place.
enum Mode { kPlain, kProofGamut, kInPlace };

struct Case {
    const char* label;
    std::vector<Profile> chain;
    krmUInt32Number in, out, flags;
    Mode mode;
    const char* kind;  // the worker every vector level must pick; "" where none may
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.label; }

krmTransform Make(const Case& c, Chain& chain)
{
    for (Profile p : c.chain) chain.profiles.push_back(OpenProfile(p));
    for (krmProfile h : chain.profiles)
        if (!h) return nullptr;
    if (c.mode != kProofGamut)
        return krmCreateMultiprofileTransform(nullptr, chain.profiles.data(), krmUInt32Number(chain.profiles.size()),
                                              c.in, c.out, 1, c.flags);
    krmProfile p[] = {chain.profiles[0], chain.profiles[1], chain.profiles[1], chain.profiles[2]};
    krmUInt32Number intents[] = {1, 1, 1, 1};
    krmBool bpc[] = {false, false, true, true};
    krmFloat64Number states[] = {1, 1, 1, 1};
    return krmCreateExtendedTransform(nullptr, 4, p, bpc, intents, states, chain.profiles[1], 1, c.in, c.out,
                                      c.flags | krmFlagSoftProofing | krmFlagGamutCheck);
}

krmUInt32Number PixelBytes(krmUInt32Number fmt) { return (krmT_CHANNELS(fmt) + krmT_EXTRA(fmt)) * krmT_BYTES(fmt); }

constexpr krmUInt32Number kLine = 997, kLines = 20;  // lines of odd length: every path meets short tails

// The input: black, white and the grid corners first, then random samples.
std::vector<krmUInt8Number> Input(krmUInt32Number fmt)
{
    const krmUInt32Number size = PixelBytes(fmt);
    std::vector<krmUInt8Number> v(size_t(kLine) * kLines * size);
    std::mt19937 rng(fmt);
    for (auto& b : v) b = krmUInt8Number(rng());
    for (krmUInt32Number corner = 0; corner < 16; corner++)
        for (krmUInt32Number s = 0; s < size; s++)
            v[corner * size + s] = (corner >> (s / krmT_BYTES(fmt) % 4)) & 1 ? 0xFF : 0x00;
    return v;
}

// Converts under the given KRM_SIMD through padded lines; the worker's name goes to *name.
std::vector<krmUInt8Number> Convert(const char* level, const Case& c, const std::vector<krmUInt8Number>& in,
                                    std::string* name)
{
    SimdLevel force(level);
    Chain chain;
    krmTransform t = Make(c, chain);
    EXPECT_NE(t, nullptr);
    if (!t) return {};
    // Alarm codes set after the transform is made still count.
    const krmUInt16Number alarm[16] = {0x1234, 0xFEDC, 0x00FF, 0xFF00, 0x4321};
    krmUInt16Number saved[16];
    krmGetAlarmCodes(nullptr, saved);
    if (c.mode == kProofGamut) krmSetAlarmCodes(nullptr, alarm);
    const char* n = _krmFastWorkerName(t);
    *name = n ? n : "";
    const krmUInt32Number inSize = PixelBytes(c.in), outSize = PixelBytes(c.out);
    const krmUInt32Number stride = kLine * std::max(inSize, outSize) + 5;
    std::vector<krmUInt8Number> out(size_t(stride) * kLines, 0xA5), src(out);
    for (krmUInt32Number l = 0; l < kLines; l++)
        std::memcpy(src.data() + l * stride, in.data() + l * kLine * inSize, kLine * inSize);
    if (c.mode == kInPlace) {
        out = src;
        krmDoTransformLineStride(t, out.data(), out.data(), kLine, kLines, stride, stride, 0, 0);
    } else {
        // Two calls: a rectangle, then one line alone.
        krmDoTransformLineStride(t, src.data(), out.data(), kLine, kLines - 1, stride, stride, 0, 0);
        krmDoTransform(t, src.data() + (kLines - 1) * stride, out.data() + (kLines - 1) * stride, kLine);
    }
    krmDeleteTransform(t);
    krmSetAlarmCodes(nullptr, saved);
    return out;
}

const Case kCases[] = {
    // Matrix-shaper, 8 bits.
    {"RGB8", {sRGB, Adobe}, RGB8, RGB8, 0, kPlain, "matrix-shaper"},
    {"BGR8 to RGB8", {sRGB, Adobe}, RGB8 | SW, RGB8, 0, kPlain, "matrix-shaper"},
    {"GBR8 rotated to RGB8", {sRGB, Adobe}, RGB8 | SF, RGB8 | SF, 0, kPlain, "matrix-shaper"},
    {"BGRA8 copied alpha", {sRGB, Adobe}, BGRA8, BGRA8, krmFlagCopyAlpha, kPlain, "matrix-shaper"},
    {"RGBA8 to BGRA8 copied alpha", {sRGB, Adobe}, RGBA8, BGRA8, krmFlagCopyAlpha, kPlain, "matrix-shaper"},
    {"ARGB8 to RGBA8 copied alpha", {sRGB, Adobe}, ARGB8, RGBA8, krmFlagCopyAlpha, kPlain, "matrix-shaper"},
    {"ABGR8 to RGB8", {sRGB, Adobe}, RGB8 | A1 | SW, RGB8, 0, kPlain, "matrix-shaper"},
    {"RGB8 to RGBA8 untouched alpha", {sRGB, Adobe}, RGB8, RGBA8, 0, kPlain, "matrix-shaper"},
    {"RGB8 min-is-white", {sRGB, Adobe}, RGB8 | FL, RGB8, 0, kPlain, ""},
    {"RGB8 to RGB16", {sRGB, Adobe}, RGB8, RGB16, 0, kPlain, ""},
    {"BGRA8 in place", {sRGB, Adobe}, BGRA8, BGRA8, krmFlagCopyAlpha, kInPlace, "matrix-shaper"},
    {"ARGB8 to RGBA8 in place", {sRGB, Adobe}, ARGB8, RGBA8, krmFlagCopyAlpha, kInPlace, "matrix-shaper"},
    // Resampled and prelinearised CLUTs with three inputs.
    {"RGB16", {sRGB, Adobe}, RGB16, RGB16, 0, kPlain, "clut"},
    {"RGB16 byte-swapped", {sRGB, Adobe}, RGB16 | EN, RGB16, 0, kPlain, ""},
    {"RGB8 to CMYK8", {sRGB, CMYK}, RGB8, CMYK8, 0, kPlain, "clut"},
    {"RGB8 to CMYK16", {sRGB, CMYK}, RGB8, CMYK16, 0, kPlain, "clut"},
    {"RGB16 to CMYK16", {sRGB, CMYK}, RGB16, CMYK16, 0, kPlain, "clut"},
    {"RGB16 to CMYK8", {sRGB, CMYK}, RGB16, CMYK8, 0, kPlain, "clut"},
    {"BGRA16 to KCMY16", {sRGB, CMYK}, RGB16 | A1 | SW | SF, CMYK16 | SF, 0, kPlain, "clut"},
    {"RGBA8 to KYMC8 with alpha", {sRGB, CMYK}, RGBA8, CMYK8 | A1 | SW, krmFlagCopyAlpha, kPlain, "clut"},
    {"RGBA8 to CMYK16 with alpha", {sRGB, CMYK}, RGBA8, CMYK16 | A1, krmFlagCopyAlpha, kPlain, "clut"},
    {"ARGB16 to RGBA8", {sRGB, Adobe}, RGB16 | A1 | SF, RGBA8, krmFlagCopyAlpha, kPlain, "clut"},
    {"RGB8 to CMYK8 min-is-white", {sRGB, CMYK}, RGB8, CMYK8 | FL, 0, kPlain, ""},
    {"RGB16 to CMYK16 byte-swapped", {sRGB, CMYK}, RGB16, CMYK16 | EN, 0, kPlain, ""},
    {"RGB8 to CMYK8 in place", {sRGB, CMYK}, RGB8, CMYK8, 0, kInPlace, "clut"},
    {"RGB8 through Lab", {sRGB, LabFile, Adobe}, BGRA8, BGRA8, krmFlagCopyAlpha, kPlain, "clut"},
    {"RGB8 to Lab v4 16", {sRGB, Lab4}, RGB8, Fmt(krmPT_Lab, 3, 2), 0, kPlain, "clut"},
    {"RGB8 to Lab v2 16", {sRGB, Lab2}, RGB8, Fmt(krmPT_LabV2, 3, 2), 0, kPlain, ""},
    {"RGB16 to Lab v2 16", {sRGB, Lab2}, RGB16, Fmt(krmPT_LabV2, 3, 2), 0, kPlain, ""},
    {"RGB8 to Lab v2 8", {sRGB, Lab2}, RGB8, Fmt(krmPT_LabV2, 3, 1), 0, kPlain, ""},
    {"RGB16 to Lab v2 16 with alpha", {sRGB, Lab2}, RGB16 | A1, Fmt(krmPT_LabV2, 3, 2, A1), 0, kPlain, "clut"},
    {"Lab v4 8 to RGB8", {Lab4, sRGB}, Fmt(krmPT_Lab, 3, 1), RGB8, 0, kPlain, "clut"},
    {"RGB16 to XYZ16", {sRGB, XYZ}, RGB16, Fmt(krmPT_XYZ, 3, 2), 0, kPlain, "clut"},
    {"XYZ16 to RGB8", {XYZ, sRGB}, Fmt(krmPT_XYZ, 3, 2), RGB8, krmFlagForceCLUT, kPlain, "clut"},
    {"RGB8 to gray8", {sRGB, Gray}, RGB8, Fmt(krmPT_GRAY, 1, 1), 0, kPlain, ""},
    {"gray8 to RGB8", {Gray, sRGB}, Fmt(krmPT_GRAY, 1, 1), RGB8, 0, kPlain, ""},
    // Four inputs.
    {"CMYK8 to RGB8", {CMYK, sRGB}, CMYK8, RGB8, 0, kPlain, "clut"},
    {"CMYK16 with alpha to BGRA8", {CMYK, sRGB}, CMYK16 | A1, BGRA8, krmFlagCopyAlpha, kPlain, "clut"},
    {"KCMY16 to CMYK16", {CMYK, CMYK}, CMYK16 | SF, CMYK16, 0, kPlain, "clut"},
    {"CMYK8 with alpha to CMYK8", {CMYK, CMYK}, CMYK8 | A1, CMYK8 | A1, krmFlagCopyAlpha, kPlain, "clut"},
    {"CMYK8 min-is-white to RGB8", {CMYK, sRGB}, CMYK8 | FL, RGB8, 0, kPlain, ""},
    {"CMYK16 byte-swapped to RGB16", {CMYK, sRGB}, CMYK16 | EN, RGB16, 0, kPlain, ""},
    // Proofing with the gamut alarm.
    {"proof RGBA8 to BGRA8", {sRGB, CMYK, sRGB}, RGBA8, BGRA8, krmFlagCopyAlpha, kProofGamut, "clut"},
    {"proof RGB8 to RGB16", {sRGB, CMYK, sRGB}, RGB8, RGB16, 0, kProofGamut, "clut"},
    {"proof RGB16", {sRGB, CMYK, sRGB}, RGB16, RGB16, 0, kProofGamut, "clut"},
    {"proof BGR16 to CMYK8", {sRGB, CMYK, CMYK}, RGB16 | SW, CMYK8, 0, kProofGamut, "clut"},
    {"proof through a matrix-shaper", {sRGB, Adobe, sRGB}, BGRA8, BGRA8, krmFlagCopyAlpha, kProofGamut, "clut"},
    {"proof CMYK16 with alpha to BGRA8", {CMYK, Press, sRGB}, CMYK16 | A1, BGRA8, krmFlagCopyAlpha, kProofGamut, "clut"},
    {"proof CMYK8 to CMYK16", {CMYK, Press, CMYK}, CMYK8, CMYK16, 0, kProofGamut, "clut"},
};

class PixelPaths : public testing::TestWithParam<Case> {};

// Every vector level against the per-pixel workers, byte for byte (padding and untouched alpha
// included); each level must really run the expected line worker.
TEST_P(PixelPaths, GiveTheBytesOfThePerPixelWorkers)
{
    const Case& c = GetParam();
    {
        Chain probe;
        for (Profile p : c.chain) {
            probe.profiles.push_back(OpenProfile(p));
            if (!probe.profiles.back()) GTEST_SKIP() << "profile missing";
        }
    }
    const auto in = Input(c.in);
    std::string name;
    const auto reference = Convert("generic", c, in, &name);
    EXPECT_EQ(name, "");
    for (const char* level : kLevels) {
        const auto out = Convert(level, c, in, &name);
        SCOPED_TRACE(std::string(level) + ": " + name);
        if (*c.kind)
            EXPECT_EQ(name.rfind(c.kind, 0), 0u);
        else
            EXPECT_EQ(name, "");
        ASSERT_EQ(out.size(), reference.size());
        size_t firstDiff = 0;
        while (firstDiff < out.size() && out[firstDiff] == reference[firstDiff]) firstDiff++;
        EXPECT_EQ(firstDiff, out.size()) << "first difference at byte " << firstDiff;
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, PixelPaths, testing::ValuesIn(kCases), [](const testing::TestParamInfo<Case>& info) {
    std::string s = info.param.label;
    for (char& ch : s)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return s;
});

// Every 8-bit RGB triple through the matrix-shaper: the regrouped 32-bit sums must never differ
// from the 64-bit ones.
TEST(FastPaths, MatrixShaperAllRGB8Inputs)
{
    const Case c = {"all", {sRGB, Adobe}, RGB8, RGB8, 0, kPlain, "matrix-shaper"};
    Chain chain;
    krmTransform reference;
    {
        SimdLevel force("generic");
        reference = Make(c, chain);
    }
    if (!reference) GTEST_SKIP() << "colord profiles missing";
    const size_t pixels = size_t(1) << 24;
    std::vector<krmUInt8Number> in(pixels * 3);
    for (size_t i = 0; i < pixels; i++) {
        in[3 * i] = krmUInt8Number(i >> 16);
        in[3 * i + 1] = krmUInt8Number(i >> 8);
        in[3 * i + 2] = krmUInt8Number(i);
    }
    std::vector<krmUInt8Number> expected(in.size()), out(in.size());
    krmDoTransform(reference, in.data(), expected.data(), krmUInt32Number(pixels));
    krmDeleteTransform(reference);
    for (const char* level : kLevels) {
        SimdLevel force(level);
        Chain other;
        krmTransform t = Make(c, other);
        ASSERT_NE(t, nullptr);
        krmDoTransform(t, in.data(), out.data(), krmUInt32Number(pixels));
        krmDeleteTransform(t);
        EXPECT_TRUE(out == expected) << level;
    }
}

// Unoptimised pipelines and float formats keep the per-pixel workers.
TEST(FastPaths, OtherTransformsKeepTheGenericWorkers)
{
    Chain chain;
    chain.profiles = {OpenProfile(sRGB), OpenProfile(Adobe)};
    if (!chain.profiles[1]) GTEST_SKIP() << "colord profiles missing";
    krmTransform t = krmCreateTransform(chain.profiles[0], RGB8, chain.profiles[1], RGB8, 0, krmFlagNoOptimize);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(_krmFastWorkerName(t), nullptr);
    krmDeleteTransform(t);
    t = krmCreateTransform(chain.profiles[0], RGB8, chain.profiles[1], krmFmtRGBFloat, 0, 0);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(_krmFastWorkerName(t), nullptr);
    krmDeleteTransform(t);
}

}  // namespace
