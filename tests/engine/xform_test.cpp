// Transforms: creation checks and their messages, workers and caches, alpha copying, gamut check,
// white points, profile sequences, threads and the RGB gamma estimate.
#include "krm_internal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// Messages of a private context.
struct Messages {
    krmContext ctx;
    static std::vector<std::pair<krmUInt32Number, std::string>>& log()
    {
        static std::vector<std::pair<krmUInt32Number, std::string>> l;
        return l;
    }
    static void Handler(krmContext, krmUInt32Number code, const char* text) { log().emplace_back(code, text); }
    Messages()
    {
        ctx = krmCreateContext(nullptr, nullptr);
        krmSetLogErrorHandlerInContext(ctx, Handler);
        log().clear();
    }
    ~Messages() { krmDeleteContext(ctx); }
    bool has(krmUInt32Number code, const std::string& text) const
    {
        for (auto& m : log())
            if (m.first == code && m.second == text) return true;
        return false;
    }
};

struct Profile {
    krmProfile h;
    explicit Profile(krmProfile p) : h(p) {}
    ~Profile()
    {
        if (h) krmCloseProfile(h);
    }
    operator krmProfile() const { return h; }
};

struct Xform {
    krmTransform t;
    explicit Xform(krmTransform x) : t(x) {}
    ~Xform()
    {
        if (t) krmDeleteTransform(t);
    }
    operator krmTransform() const { return t; }
};

const char* kCMYKProfile = "/usr/share/color/icc/ghostscript/default_cmyk.icc";

}  // namespace

// ---------------------------------------------------------------------------------------------
// Creation failures
// ---------------------------------------------------------------------------------------------

TEST(TransformCreation, ProfileCountOutOfRange)
{
    Messages m;
    Profile s(krmCreate_sRGBProfile(m.ctx));
    std::vector<krmProfile> many(256, s.h);
    EXPECT_EQ(krmCreateMultiprofileTransform(m.ctx, many.data(), 0, krmFmtRGB8, krmFmtRGB8, 0, 0), nullptr);
    EXPECT_TRUE(m.has(krmErrRange, "Wrong number of profiles. 1..255 expected, 0 found."));
    EXPECT_EQ(krmCreateMultiprofileTransform(m.ctx, many.data(), 256, krmFmtRGB8, krmFmtRGB8, 0, 0), nullptr);
    EXPECT_TRUE(m.has(krmErrRange, "Wrong number of profiles. 1..255 expected, 256 found."));
    krmBool bpc[1] = {0};
    krmUInt32Number intents[1] = {0};
    krmFloat64Number states[1] = {1};
    EXPECT_EQ(krmCreateExtendedTransform(m.ctx, 0, many.data(), bpc, intents, states, nullptr, 0, krmFmtRGB8,
                                         krmFmtRGB8, 0),
              nullptr);
}

TEST(TransformCreation, NullProfile)
{
    Messages m;
    Profile s(krmCreate_sRGBProfile(m.ctx));
    krmProfile chain[2] = {s.h, nullptr};
    EXPECT_EQ(krmCreateMultiprofileTransform(m.ctx, chain, 2, krmFmtRGB8, krmFmtRGB8, 0, 0), nullptr);
    EXPECT_TRUE(m.has(krmErrNull, "NULL input profiles on transform"));
}

TEST(TransformCreation, ColorSpaceOfFormats)
{
    Messages m;
    Profile cmyk(krmOpenProfileFromFileInContext(m.ctx, kCMYKProfile, "r"));
    Profile lab(krmCreateLab4Profile(m.ctx, nullptr));
    ASSERT_NE(cmyk.h, nullptr);

    EXPECT_EQ(krmCreateTransformWithContext(m.ctx, cmyk, krmFmtRGB8, lab, krmFmtLabDouble, 0, 0), nullptr);
    EXPECT_TRUE(m.has(krmErrColorSpaceCheck, "Wrong input color space on transform"));
    EXPECT_EQ(krmCreateTransformWithContext(m.ctx, lab, krmFmtLabDouble, cmyk, krmFmtRGB8, 0, 0), nullptr);
    EXPECT_TRUE(m.has(krmErrColorSpaceCheck, "Wrong output color space on transform"));

    // A device word without colour space passes when the channel count is right.
    const krmUInt32Number device4 = 4 * 8 + 2;
    Xform ok(krmCreateTransformWithContext(m.ctx, cmyk, device4, lab, krmFmtLabDouble, 0, 0));
    EXPECT_NE(ok.t, nullptr);
    EXPECT_EQ(krmCreateTransformWithContext(m.ctx, cmyk, 3 * 8 + 2, lab, krmFmtLabDouble, 0, 0), nullptr);

    // Lab version 2 words suit a Lab space; a zero format suits anything.
    const krmUInt32Number labV2 = krmFMT_COLORSPACE(krmPT_LabV2) | krmFMT_CHANNELS(3) | krmFMT_BYTES(2);
    Xform v2(krmCreateTransformWithContext(m.ctx, lab, labV2, cmyk, device4, 0, 0));
    EXPECT_NE(v2.t, nullptr);
    Xform zero(krmCreateTransformWithContext(m.ctx, lab, 0, cmyk, 0, 0, 0));
    EXPECT_NE(zero.t, nullptr);
}

TEST(TransformCreation, UnsupportedRasterAndAlpha)
{
    Messages m;
    Profile s(krmCreate_sRGBProfile(m.ctx));
    const krmUInt32Number rgbInt32 = krmFMT_COLORSPACE(krmPT_RGB) | krmFMT_CHANNELS(3) | krmFMT_BYTES(4);
    EXPECT_EQ(krmCreateTransformWithContext(m.ctx, s, rgbInt32, s, krmFmtRGB8, 0, 0), nullptr);
    EXPECT_TRUE(m.has(krmErrUnknownExtension, "Unsupported raster format"));

    EXPECT_EQ(krmCreateTransformWithContext(m.ctx, s, krmFmtBGRA8, s, krmFmtRGB8, 0, krmFlagCopyAlpha), nullptr);
    EXPECT_TRUE(m.has(krmErrNotSuitable, "Mismatched alpha channels"));
    // Without the copy flag the alpha is simply skipped.
    Xform skip(krmCreateTransformWithContext(m.ctx, s, krmFmtBGRA8, s, krmFmtRGB8, 0, 0));
    EXPECT_NE(skip.t, nullptr);
}

TEST(TransformCreation, GamutPosition)
{
    Messages m;
    Profile s(krmCreate_sRGBProfile(m.ctx));
    Profile cmyk(krmOpenProfileFromFileInContext(m.ctx, kCMYKProfile, "r"));
    krmProfile chain[2] = {s.h, s.h};
    krmBool bpc[2] = {0, 0};
    krmUInt32Number intents[2] = {1, 1};
    krmFloat64Number states[2] = {1, 1};
    EXPECT_EQ(krmCreateExtendedTransform(m.ctx, 2, chain, bpc, intents, states, cmyk, 2, krmFmtRGB8, krmFmtRGB8,
                                         krmFlagGamutCheck),
              nullptr);
    EXPECT_TRUE(m.has(krmErrRange, "Wrong gamut PCS position '2'"));
    EXPECT_EQ(_krmCreateGamutCheckPipeline(m.ctx, chain, bpc, intents, states, 0, cmyk), nullptr);
    EXPECT_TRUE(m.has(krmErrRange, "Wrong position of PCS. 1..255 expected, 0 found."));

    // Without a gamut profile the flag is dropped, whatever the position.
    Xform noGamut(krmCreateExtendedTransform(m.ctx, 2, chain, bpc, intents, states, nullptr, 7, krmFmtRGB8, krmFmtRGB8,
                                             krmFlagGamutCheck));
    ASSERT_NE(noGamut.t, nullptr);
    EXPECT_EQ(noGamut.t->GamutCheck, nullptr);
    EXPECT_FALSE(noGamut.t->dwOriginalFlags & krmFlagGamutCheck);
}

// ---------------------------------------------------------------------------------------------
// Conversions
// ---------------------------------------------------------------------------------------------

TEST(TransformConvert, LabDoubleToScreenUsesFloatWorker)
{
    Profile lab(krmCreateLab4Profile(nullptr));
    Profile s(krmCreate_sRGBProfile());
    Xform t(krmCreateTransform(lab, krmFmtLabDouble, s, krmFmtRGB8, 1, krmFlagNoOptimize));
    ASSERT_NE(t.t, nullptr);
    EXPECT_TRUE(t.t->dwOriginalFlags & krmFlagNoCache);
    EXPECT_NE(t.t->FromInputFloat, nullptr);
    EXPECT_NE(t.t->ToOutputFloat, nullptr);

    double px[2][3] = {{100, 0, 0}, {0, 0, 0}};
    krmUInt8Number out[2][3];
    krmDoTransform(t, px, out, 2);
    EXPECT_EQ(std::vector<int>(out[0], out[0] + 3), (std::vector<int>{255, 255, 255}));
    EXPECT_EQ(std::vector<int>(out[1], out[1] + 3), (std::vector<int>{0, 0, 0}));
}

TEST(TransformConvert, sRGBThroughLabAndBack)
{
    Profile lab(krmCreateLab4Profile(nullptr));
    Profile s(krmCreate_sRGBProfile());
    Xform toLab(krmCreateTransform(s, krmFmtRGB8, lab, krmFmtLabDouble, 1, 0));
    Xform toRGB(krmCreateTransform(lab, krmFmtLabDouble, s, krmFmtRGB8, 1, 0));
    ASSERT_NE(toLab.t, nullptr);
    ASSERT_NE(toRGB.t, nullptr);

    // sRGB primaries in D50 Lab (IEC 61966-2-1 through Bradford): red is about (54.29, 80.80, 69.89).
    krmUInt8Number red[3] = {255, 0, 0};
    krmCIELab l;
    krmDoTransform(toLab, red, &l, 1);
    EXPECT_NEAR(l.L, 54.29, 0.05);
    EXPECT_NEAR(l.a, 80.80, 0.1);
    EXPECT_NEAR(l.b, 69.89, 0.1);

    std::vector<krmUInt8Number> in, back(3 * 9 * 9 * 9);
    for (int r = 0; r < 9; r++)
        for (int g = 0; g < 9; g++)
            for (int b = 0; b < 9; b++)
                for (int v : {r, g, b}) in.push_back(krmUInt8Number(std::min(255, v * 32)));
    std::vector<krmCIELab> labs(in.size() / 3);
    krmDoTransform(toLab, in.data(), labs.data(), krmUInt32Number(labs.size()));
    krmDoTransform(toRGB, labs.data(), back.data(), krmUInt32Number(labs.size()));
    for (size_t i = 0; i < in.size(); i++) ASSERT_NEAR(in[i], back[i], 1) << i;
}

TEST(TransformConvert, CacheGivesTheSameAsEvaluatingEveryPixel)
{
    Profile s(krmCreate_sRGBProfile());
    Profile cmyk(krmOpenProfileFromFile(kCMYKProfile, "r"));
    const krmUInt32Number cmyk8 = krmFMT_COLORSPACE(krmPT_CMYK) | krmFMT_CHANNELS(4) | krmFMT_BYTES(1);
    Xform cached(krmCreateTransform(s, krmFmtRGB16, cmyk, cmyk8, 0, 0));
    Xform uncached(krmCreateTransform(s, krmFmtRGB16, cmyk, cmyk8, 0, krmFlagNoCache));
    ASSERT_NE(cached.t, nullptr);
    ASSERT_NE(uncached.t, nullptr);

    // Runs of equal pixels, including the all-zero pixel the cache starts with.
    std::vector<krmUInt16Number> in;
    for (int i = 0; i < 300; i++) {
        const krmUInt16Number v = krmUInt16Number((i / 7) * 1777);
        in.insert(in.end(), {v, krmUInt16Number(65535 - v), krmUInt16Number(v / 2)});
    }
    std::vector<krmUInt8Number> a(400 * 4), b(400 * 4);
    krmDoTransform(cached, in.data(), a.data(), 300);
    krmDoTransform(uncached, in.data(), b.data(), 300);
    EXPECT_EQ(a, b);
}

TEST(TransformConvert, CopyAlphaKeepsEveryAlphaByte)
{
    Profile s(krmCreate_sRGBProfile());
    Profile adobe(krmOpenProfileFromFile("/usr/share/color/icc/colord/AdobeRGB1998.icc", "r"));
    Xform t(krmCreateTransform(s, krmFmtBGRA8, adobe, krmFmtBGRA8, 0, krmFlagCopyAlpha));
    ASSERT_NE(t.t, nullptr);
    std::vector<krmUInt8Number> in(256 * 4), out(256 * 4, 0);
    for (int i = 0; i < 256; i++) {
        in[4 * i + 0] = krmUInt8Number(i);
        in[4 * i + 1] = krmUInt8Number(255 - i);
        in[4 * i + 2] = krmUInt8Number(i * 7);
        in[4 * i + 3] = krmUInt8Number(i ^ 0x5A);
    }
    krmDoTransform(t, in.data(), out.data(), 256);
    for (int i = 0; i < 256; i++) ASSERT_EQ(out[4 * i + 3], in[4 * i + 3]) << i;

    // In place, the same format: nothing to copy, colours still converted.
    std::vector<krmUInt8Number> inplace = in;
    krmDoTransform(t, inplace.data(), inplace.data(), 256);
    EXPECT_EQ(inplace, out);
}

TEST(TransformConvert, LineStrideAndPlanes)
{
    Profile s(krmCreate_sRGBProfile());
    Profile lab(krmCreateLab4Profile(nullptr));
    Xform chunky(krmCreateTransform(s, krmFmtRGB8, lab, krmFmtLab16, 1, 0));
    const krmUInt32Number planarIn = krmFmtRGB8 | krmFMT_PLANAR(1);
    Xform planar(krmCreateTransform(s, planarIn, lab, krmFmtLab16, 1, 0));
    ASSERT_NE(chunky.t, nullptr);
    ASSERT_NE(planar.t, nullptr);

    // Two lines of three pixels, lines padded to 16 bytes in and 24 out.
    krmUInt8Number in[2][16] = {{10, 20, 30, 40, 50, 60, 70, 80, 90}, {200, 100, 0, 1, 2, 3, 255, 255, 255}};
    krmUInt16Number out[2][12] = {};
    krmDoTransformLineStride(chunky, in, out, 3, 2, 16, 24, 0, 0);
    krmUInt16Number one[3];
    krmDoTransform(chunky, &in[1][6], one, 1);
    EXPECT_EQ(std::vector<int>(one, one + 3), std::vector<int>(&out[1][6], &out[1][9]));
    EXPECT_EQ(out[0][9], 0);  // padding untouched

    // The same pixels stored as planes.
    krmUInt8Number planes[9];
    for (int c = 0; c < 3; c++)
        for (int p = 0; p < 3; p++) planes[c * 3 + p] = in[0][p * 3 + c];
    krmUInt16Number fromPlanes[9];
    krmDoTransform(planar, planes, fromPlanes, 3);
    EXPECT_EQ(std::vector<int>(fromPlanes, fromPlanes + 9), std::vector<int>(&out[0][0], &out[0][9]));
}

TEST(TransformConvert, NullTransformOnlyReformats)
{
    Xform t(krmCreateTransform(nullptr, krmFmtRGB8, nullptr, krmFmtRGB16, 0, krmFlagNullTransform));
    ASSERT_NE(t.t, nullptr);
    EXPECT_EQ(t.t->Lut, nullptr);
    krmUInt8Number in[6] = {0, 1, 0x80, 0xFF, 7, 9};
    krmUInt16Number out[6];
    krmDoTransform(t, in, out, 2);
    for (int i = 0; i < 6; i++) EXPECT_EQ(out[i], in[i] * 257);

    Xform f(krmCreateTransform(nullptr, krmFmtRGBFloat, nullptr, krmFmtRGB8, 0, krmFlagNullTransform));
    ASSERT_NE(f.t, nullptr);
    float fin[3] = {1.0f, 0.5f, 0.0f};
    krmUInt8Number fout[3];
    krmDoTransform(f, fin, fout, 1);
    EXPECT_EQ(fout[0], 255);
    EXPECT_EQ(fout[1], 128);
    EXPECT_EQ(fout[2], 0);
}

TEST(TransformConvert, GamutCheckGivesAlarmColour)
{
    Profile s(krmCreate_sRGBProfile());
    Profile cmyk(krmOpenProfileFromFile(kCMYKProfile, "r"));
    krmProfile chain[2] = {s.h, s.h};
    krmBool bpc[2] = {0, 0};
    krmUInt32Number intents[2] = {1, 1};
    krmFloat64Number states[2] = {1, 1};
    for (krmUInt32Number flags : {0u, krmFlagNoCache}) {
        Xform t(krmCreateExtendedTransform(nullptr, 2, chain, bpc, intents, states, cmyk, 1, krmFmtRGB8, krmFmtRGB8,
                                           krmFlagGamutCheck | flags));
        ASSERT_NE(t.t, nullptr);
        ASSERT_NE(t.t->GamutCheck, nullptr);
        // Saturated sRGB blue and green are far outside a press gamut; mid grey is inside.
        krmUInt8Number in[3][3] = {{0, 0, 255}, {0, 255, 0}, {160, 160, 160}};
        krmUInt8Number out[3][3];
        krmDoTransform(t, in, out, 3);
        EXPECT_EQ(std::vector<int>(out[0], out[0] + 3), (std::vector<int>{127, 127, 127}));
        EXPECT_EQ(std::vector<int>(out[1], out[1] + 3), (std::vector<int>{127, 127, 127}));
        EXPECT_NEAR(out[2][0], 160, 1);
    }

    // The alarm codes are the context's.
    Messages m;
    Profile s2(krmCreate_sRGBProfile(m.ctx));
    Profile cmyk2(krmOpenProfileFromFileInContext(m.ctx, kCMYKProfile, "r"));
    const krmUInt16Number red[16] = {0xFFFF, 0, 0};
    krmSetAlarmCodes(m.ctx, red);
    krmUInt16Number got[16];
    krmGetAlarmCodes(m.ctx, got);
    EXPECT_EQ(got[0], 0xFFFF);
    krmProfile chain2[2] = {s2.h, s2.h};
    Xform t(krmCreateExtendedTransform(m.ctx, 2, chain2, bpc, intents, states, cmyk2, 1, krmFmtRGB8, krmFmtRGB8,
                                       krmFlagGamutCheck));
    ASSERT_NE(t.t, nullptr);
    krmUInt8Number blue[3] = {0, 0, 255}, out[3];
    krmDoTransform(t, blue, out, 1);
    EXPECT_EQ(std::vector<int>(out, out + 3), (std::vector<int>{255, 0, 0}));
    krmGetAlarmCodes(nullptr, got);
    EXPECT_EQ(got[0], 0x7F00);  // the global context keeps its own
}

TEST(TransformConvert, SameTransformFromTwoThreads)
{
    Profile s(krmCreate_sRGBProfile());
    Profile cmyk(krmOpenProfileFromFile(kCMYKProfile, "r"));
    const krmUInt32Number cmyk16 = krmFMT_COLORSPACE(krmPT_CMYK) | krmFMT_CHANNELS(4) | krmFMT_BYTES(2);
    Xform t(krmCreateTransform(s, krmFmtRGB8, cmyk, cmyk16, 0, 0));
    ASSERT_NE(t.t, nullptr);

    const int n = 20000;
    std::vector<krmUInt8Number> in(3 * n);
    for (int i = 0; i < 3 * n; i++) in[i] = krmUInt8Number((i * 131) >> 3);
    std::vector<krmUInt16Number> single(4 * n), a(4 * n), b(4 * n);
    krmDoTransform(t, in.data(), single.data(), n);
    for (int round = 0; round < 5; round++) {
        std::thread ta([&] { krmDoTransform(t, in.data(), a.data(), n); });
        std::thread tb([&] { krmDoTransform(t, in.data(), b.data(), n); });
        ta.join();
        tb.join();
        ASSERT_EQ(a, single);
        ASSERT_EQ(b, single);
    }
}

// ---------------------------------------------------------------------------------------------
// Recorded state
// ---------------------------------------------------------------------------------------------

TEST(TransformState, WhitePointsAndSpaces)
{
    Profile lab(krmCreateLab4Profile(nullptr));
    const krmCIEXYZ percent = {96.42, 100, 82.49};
    ASSERT_TRUE(krmWriteTag(lab, krmSig("wtpt"), &percent));
    Profile s(krmCreate_sRGBProfile());
    Xform t(krmCreateTransform(lab, krmFmtLabDouble, s, krmFmtRGB8, 1, 0));
    ASSERT_NE(t.t, nullptr);
    EXPECT_NEAR(t.t->EntryWhitePoint.X, 0.9642, 1e-12);
    EXPECT_NEAR(t.t->EntryWhitePoint.Y, 1.0, 1e-12);
    EXPECT_NEAR(t.t->EntryWhitePoint.Z, 0.8249, 1e-12);
    EXPECT_NEAR(t.t->ExitWhitePoint.X, 0.9642, 1e-4);  // the built-in sRGB records D50
    EXPECT_EQ(t.t->EntryColorSpace, krmSig("Lab "));
    EXPECT_EQ(t.t->ExitColorSpace, krmSig("RGB "));
    EXPECT_EQ(t.t->RenderingIntent, 1u);
    EXPECT_EQ(krmGetTransformInputFormat(t), krmFmtLabDouble);
    EXPECT_EQ(krmGetTransformInputFormat(nullptr), 0u);
    EXPECT_EQ(krmGetTransformContext(t), nullptr);

    // A gray profile has no wtpt: D50.
    Profile g(krmCreateGrayProfile(nullptr, nullptr));
    EXPECT_FALSE(krmIsTag(g, krmSig("wtpt")));
}

TEST(TransformState, KeepSequence)
{
    Profile s(krmCreate_sRGBProfile());
    Profile lab(krmCreateLab4Profile(nullptr));
    Xform without(krmCreateTransform(s, krmFmtRGB8, lab, krmFmtLabDouble, 0, 0));
    EXPECT_EQ(without.t->Sequence, nullptr);
    Xform t(krmCreateTransform(s, krmFmtRGB8, lab, krmFmtLabDouble, 0, krmFlagKeepSequence));
    ASSERT_NE(t.t->Sequence, nullptr);
    ASSERT_EQ(t.t->Sequence->n, 2u);
    char text[64];
    krmMLUGetASCII(t.t->Sequence->seq[0].Description, "en", "US", text, sizeof text);
    EXPECT_STREQ(text, "sRGB built-in");
    krmMLUGetASCII(t.t->Sequence->seq[1].Description, "en", "US", text, sizeof text);
    EXPECT_STREQ(text, "Lab identity built-in");
    EXPECT_EQ(t.t->Sequence->seq[0].Manufacturer, nullptr);  // no dmnd tag
    EXPECT_EQ(t.t->Sequence->seq[0].technology, 0u);
}

// ---------------------------------------------------------------------------------------------
// Gamma of an RGB profile
// ---------------------------------------------------------------------------------------------

TEST(RGBGamma, EstimatesTheGreyAxis)
{
    const krmCIExyY d65 = {0.3127, 0.3290, 1.0};
    const krmCIExyYTRIPLE prim = {{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
    for (double g : {1.0, 1.8, 2.2}) {
        krmToneCurve* c = krmBuildGamma(nullptr, g);
        krmToneCurve* const curves[3] = {c, c, c};
        Profile p(krmCreateRGBProfile(&d65, &prim, curves));
        krmFreeToneCurve(c);
        EXPECT_NEAR(krmDetectRGBProfileGamma(p, 0.1), g, 0.01) << g;
    }
    Profile s(krmCreate_sRGBProfile());
    EXPECT_NEAR(krmDetectRGBProfileGamma(s, 0.2), 2.2, 0.05);
    Profile lab(krmCreateLab4Profile(nullptr));
    EXPECT_EQ(krmDetectRGBProfileGamma(lab, 0.1), -1);
}

TEST(RGBGamma, LinearRGBWordsAreNotOptimised)
{
    const krmCIExyY d65 = {0.3127, 0.3290, 1.0};
    const krmCIExyYTRIPLE prim = {{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
    krmToneCurve* lin = krmBuildGamma(nullptr, 1.0);
    krmToneCurve* const curves[3] = {lin, lin, lin};
    Profile linear(krmCreateRGBProfile(&d65, &prim, curves));
    krmFreeToneCurve(lin);
    Profile s(krmCreate_sRGBProfile());

    Xform words(krmCreateTransform(linear, krmFmtRGB16, s, krmFmtRGB16, 0, 0));
    ASSERT_NE(words.t, nullptr);
    EXPECT_TRUE(words.t->dwOriginalFlags & krmFlagNoOptimize);
    Xform bytes(krmCreateTransform(linear, krmFmtRGB8, s, krmFmtRGB8, 0, 0));
    ASSERT_NE(bytes.t, nullptr);
    EXPECT_FALSE(bytes.t->dwOriginalFlags & krmFlagNoOptimize);
    Xform gamma(krmCreateTransform(s, krmFmtRGB16, s, krmFmtRGB16, 0, 0));
    EXPECT_FALSE(gamma.t->dwOriginalFlags & krmFlagNoOptimize);
}

// ---------------------------------------------------------------------------------------------
// Plug-ins
// ---------------------------------------------------------------------------------------------

namespace {
int gSchedulerCalls = 0;

// A transform factory that takes over RGB8 -> RGB8 and inverts every byte.
void InvertWorker(_krmTransform_struct*, const void* in, void* out, krmUInt32Number ppl, krmUInt32Number lines,
                  const krmStride*)
{
    const krmUInt8Number* s = static_cast<const krmUInt8Number*>(in);
    krmUInt8Number* d = static_cast<krmUInt8Number*>(out);
    for (krmUInt32Number i = 0; i < 3 * ppl * lines; i++) d[i] = krmUInt8Number(255 - s[i]);
}
krmBool InvertFactory(_krmTransform2Fn* xform, void**, _krmFreeUserDataFn*, krmPipeline**, krmUInt32Number* in,
                      krmUInt32Number* out, krmUInt32Number*)
{
    if (*in != krmFmtRGB8 || *out != krmFmtRGB8) return 0;
    *xform = InvertWorker;
    return 1;
}

// A scheduler that splits the lines in two halves and runs the engine's worker on each.
void TwoHalves(void* Transform, const void* in, void* out, krmUInt32Number ppl, krmUInt32Number lines,
               const void* StrideRec)
{
    gSchedulerCalls++;
    _krmTransform_struct* p = static_cast<_krmTransform_struct*>(Transform);
    const krmStride* st = static_cast<const krmStride*>(StrideRec);
    const krmUInt32Number first = lines / 2;
    p->Worker(p, in, out, ppl, first, st);
    p->Worker(p, static_cast<const krmUInt8Number*>(in) + first * st->BytesPerLineIn,
              static_cast<krmUInt8Number*>(out) + first * st->BytesPerLineOut, ppl, lines - first, st);
}
}  // namespace

TEST(TransformPlugins, FactoryAndScheduler)
{
    krmPluginTransform factory = {{krmPluginMagicNumber, 2200, krmPluginTransformSig, nullptr}, {nullptr}};
    factory.factories.xform = InvertFactory;
    krmPluginParalellization par = {{krmPluginMagicNumber, 2200, krmPluginParalellizationSig, nullptr}, 2, 0, TwoHalves};
    factory.base.Next = &par.base;
    krmContext ctx = krmCreateContext(&factory, nullptr);
    ASSERT_NE(ctx, nullptr);
    {
        Profile s(krmCreate_sRGBProfile(ctx));

        Xform taken(krmCreateTransformWithContext(ctx, s, krmFmtRGB8, s, krmFmtRGB8, 0, 0));
        ASSERT_NE(taken.t, nullptr);
        krmUInt8Number px[3] = {0, 100, 255}, out[3];
        krmDoTransform(taken, px, out, 1);
        EXPECT_EQ(std::vector<int>(out, out + 3), (std::vector<int>{255, 155, 0}));

        // Declined by the factory (and never asked with krmFlagNoOptimize): the scheduler drives the
        // engine's own worker over the whole rectangle.
        Xform plain(krmCreateTransformWithContext(ctx, s, krmFmtRGB16, s, krmFmtRGB16, 0, 0));
        ASSERT_NE(plain.t, nullptr);
        EXPECT_EQ(plain.t->xform != plain.t->Worker, true);
        krmUInt16Number in16[4][3] = {{0, 0, 0}, {1000, 2000, 3000}, {40000, 50000, 60000}, {65535, 65535, 65535}};
        krmUInt16Number out16[4][3] = {};
        gSchedulerCalls = 0;
        krmDoTransformLineStride(plain, in16, out16, 1, 4, 6, 6, 0, 0);
        EXPECT_EQ(gSchedulerCalls, 1);
        EXPECT_NEAR(out16[1][1], 2000, 2);
        EXPECT_NEAR(out16[2][2], 60000, 2);
        EXPECT_EQ(out16[3][0], 65535);

        Xform unoptimised(krmCreateTransformWithContext(ctx, s, krmFmtRGB8, s, krmFmtRGB8, 0, krmFlagNoOptimize));
        krmDoTransform(unoptimised, px, out, 1);
        EXPECT_EQ(std::vector<int>(out, out + 3), (std::vector<int>{0, 100, 255}));
    }
    krmDeleteContext(ctx);
}
