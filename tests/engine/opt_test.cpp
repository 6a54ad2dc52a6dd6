// Pipeline optimisation: pre-optimisation, grid points, joined curves, the integer matrix-shaper,
// resampling with its white fix-up, and agreement of optimised and unoptimised transforms over
// the real-profile corpus.
#include "krm_internal.h"
#include "support/lut_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

struct Lut {
    krmPipeline* p;
    explicit Lut(krmPipeline* x) : p(x) {}
    ~Lut() { krmPipelineFree(p); }
};

krmPipeline* Pipeline(std::initializer_list<krmStage*> stages)
{
    krmPipeline* p = krmPipelineAlloc(nullptr, 3, 3);
    for (krmStage* s : stages) EXPECT_TRUE(krmPipelineInsertStage(p, krmAT_END, s));
    return p;
}

krmStage* Gamma(double g)
{
    krmToneCurve* c = krmBuildGamma(nullptr, g);
    krmToneCurve* const curves[3] = {c, c, c};
    krmStage* s = krmStageAllocToneCurves(nullptr, 3, curves);
    krmFreeToneCurve(c);
    return s;
}

bool Optimize(krmPipeline** p, krmUInt32Number in, krmUInt32Number out, krmUInt32Number* flags,
              krmUInt32Number intent = 0)
{
    return krmOptimizePipeline(nullptr, p, intent, &in, &out, flags);
}

// Every node of a grid with n points per channel, as bytes or words.
template <typename T>
std::vector<T> Grid(krmUInt32Number channels, krmUInt32Number n)
{
    const krmUInt32Number maxv = sizeof(T) == 1 ? 255 : 65535;
    krmUInt32Number total = 1;
    for (krmUInt32Number c = 0; c < channels; c++) total *= n;
    std::vector<T> v;
    v.reserve(total * channels);
    for (krmUInt32Number k = 0; k < total; k++) {
        krmUInt32Number rest = k;
        for (krmUInt32Number c = 0; c < channels; c++) {
            v.push_back(T((rest % n) * maxv / (n - 1)));
            rest /= n;
        }
    }
    return v;
}

// The device white of a space in the format's scale, or an empty vector.
template <typename T>
bool IsWhite(krmColorSpaceSignature space, const T* px, krmUInt32Number channels)
{
    const krmUInt16Number* white;
    krmUInt32Number n;
    if (!krmEndPointsBySpace(space, &white, nullptr, &n) || n != channels) return false;
    for (krmUInt32Number c = 0; c < n; c++) {
        const krmUInt32Number w = sizeof(T) == 1 ? (white[c] >> 8) : white[c];
        if (std::abs(int(px[c]) - int(w)) > (sizeof(T) == 1 ? 1 : 257)) return false;
    }
    return true;
}

krmUInt32Number FormatOf(krmColorSpaceSignature space, krmUInt32Number bytes)
{
    return krmFMT_COLORSPACE(krmColorSpaceCode(space)) | krmFMT_CHANNELS(krmChannelsOf(space)) | krmFMT_BYTES(bytes);
}

struct Diffs {
    std::vector<int> all;
    int maxAwayFromWhite = 0;
    std::string worst;
    std::vector<std::pair<std::string, int>> pairMax;  // per transform, white excluded
};

// 8-bit pairs that the prescribed replacement evaluators cannot keep within 2 steps, with the
// bound each keeps (the first entry that matches wins). The causes are pinned down by the two tests
// after the corpus comparison.
int KnownEightBitBound(const std::string& label)
{
    static const std::pair<const char*, int> kKnown[] = {
        // 1.14 coefficients round small terms away (0.7 of a unit); one unit at black is 3 steps through gamma 2.2
        {"BruceRGB.icc|out", 3},
        {"SMPTE-C-RGB.icc|out", 3},   // the same: blue of sRGB red is 0.37 units, rounds to 0, truth is 2 steps
        // TRC table flat at 65535 from 0.874 on: its reverse jumps to 1.0 within the last 1/4095 of linear light
        {"esrgb.icc|out", 8},
        {"default_cmyk.icc|out", 4},  // 33-point RGB grid: an ideal grid of that size is 3.6 steps off the profile
        {"ps_cmyk.icc intent 0|in", 4},  // 17-point CMYK grid (perceptual table, smooth near black)
        {"ps_cmyk.icc intent 2|in", 4},  // the same
        {"ps_cmyk.icc|in", 12},       // 17-point CMYK grid: red collapses from 83 to 0 between adjacent K nodes
        {"lab.icc|in", 19},           // 33-point Lab grid: nodes clipped at the sRGB gamut edge (truth -24 .. 377)
        {"ps_gray.icc|in", 10},       // 33-point grey grid: 8 steps of grey per cell against the steep sRGB shadows
    };
    for (const auto& k : kKnown) {
        const std::string key = k.first;
        const std::string name = key.substr(0, key.find('|')), dir = key.substr(key.find('|') + 1);
        if (label.rfind(name, 0) == 0 && label.size() >= dir.size() &&
            label.compare(label.size() - dir.size(), dir.size(), dir) == 0)
            return k.second;
    }
    return 2;
}

// Converts the grid with and without optimisation and records the differences per channel.
template <typename TIn, typename TOut>
void Compare(krmProfile in, krmProfile out, krmUInt32Number intent, Diffs& d, const std::string& label)
{
    const krmColorSpaceSignature inSpace = krmGetProfileColorSpace(in);
    const krmColorSpaceSignature outSpace = out ? krmGetProfileColorSpace(out) : krmGetProfilePCS(in);
    const krmUInt32Number inCh = krmChannelsOf(inSpace), outCh = krmChannelsOf(outSpace);
    const krmUInt32Number fin = FormatOf(inSpace, sizeof(TIn)), fout = FormatOf(outSpace, sizeof(TOut));

    krmTransform opt = krmCreateTransform(in, fin, out, fout, intent, 0);
    krmTransform ref = krmCreateTransform(in, fin, out, fout, intent, krmFlagNoOptimize);
    ASSERT_EQ(opt == nullptr, ref == nullptr) << label;
    if (!opt) return;

    const auto grid = Grid<TIn>(inCh, inCh == 1 ? 256 : (inCh == 3 ? 17 : 9));
    const krmUInt32Number n = krmUInt32Number(grid.size() / inCh);
    std::vector<TOut> a(n * outCh), b(n * outCh);
    krmDoTransform(opt, grid.data(), a.data(), n);
    krmDoTransform(ref, grid.data(), b.data(), n);
    krmDeleteTransform(opt);
    krmDeleteTransform(ref);

    int pairMax = 0;
    for (krmUInt32Number i = 0; i < n; i++) {
        const bool white = IsWhite(inSpace, &grid[i * inCh], inCh);
        for (krmUInt32Number c = 0; c < outCh && !white; c++)
            pairMax = std::max(pairMax, std::abs(int(a[i * outCh + c]) - int(b[i * outCh + c])));
        for (krmUInt32Number c = 0; c < outCh; c++) {
            const int diff = std::abs(int(a[i * outCh + c]) - int(b[i * outCh + c]));
            d.all.push_back(diff);
            if (!white && diff > d.maxAwayFromWhite) {
                d.maxAwayFromWhite = diff;
                d.worst = label + " node " + std::to_string(i);
            }
        }
    }
    d.pairMax.emplace_back(label, pairMax);
    if (getenv("XFORM_OPT_VERBOSE")) std::cout << label << " " << sizeof(TIn) * 8 << "-bit max " << pairMax << "\n";
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Grid points
// ---------------------------------------------------------------------------------------------

TEST(ReasonableGridpoints, ByChannelsAndFlags)
{
    EXPECT_EQ(krmReasonableGridpoints(krmSig("RGB "), 0), 33u);
    EXPECT_EQ(krmReasonableGridpoints(krmSig("CMYK"), 0), 17u);
    EXPECT_EQ(krmReasonableGridpoints(krmSig("RGB "), krmFlagHighResPrecalc), 49u);
    EXPECT_EQ(krmReasonableGridpoints(krmSig("CMYK"), krmFlagHighResPrecalc), 23u);
    EXPECT_EQ(krmReasonableGridpoints(krmSig("6CLR"), 0), 7u);
    EXPECT_EQ(krmReasonableGridpoints(krmSig("6CLR"), krmFlagLowResPrecalc), 6u);
    EXPECT_EQ(krmReasonableGridpoints(krmSig("GRAY"), krmFlagLowResPrecalc), 33u);
    EXPECT_EQ(krmReasonableGridpoints(krmSig("RGB "), krmFlagLowResPrecalc), 17u);
    EXPECT_EQ(krmReasonableGridpoints(krmSig("RGB "), krmFlagGridPoints(9)), 9u);
    EXPECT_EQ(krmReasonableGridpoints(krmSig("CMYK"), krmFlagGridPoints(9) | krmFlagHighResPrecalc), 9u);
}

// ---------------------------------------------------------------------------------------------
// Pre-optimisation
// ---------------------------------------------------------------------------------------------

TEST(PreOptimisation, OppositeStagesCancel)
{
    Lut lut(Pipeline({krmStageAllocXYZ2Lab(nullptr), krmStageAllocLab2XYZ(nullptr)}));
    krmUInt32Number flags = 0;
    EXPECT_TRUE(Optimize(&lut.p, krmFmtXYZ16, krmFmtXYZ16, &flags));
    EXPECT_EQ(krmPipelineStageCount(lut.p), 0u);
    const krmUInt16Number in[3] = {1234, 32768, 65535};
    krmUInt16Number out[3];
    krmPipelineEval16(in, out, lut.p);
    EXPECT_EQ(std::vector<int>(out, out + 3), std::vector<int>(in, in + 3));

    Lut v2(Pipeline({krmStageAllocLabV4ToV2(nullptr), krmStageAllocLabV2ToV4(nullptr), krmStageAllocIdentity(nullptr, 3),
                     krmStageAllocLab2FloatPCS(nullptr), krmStageAllocFloatPCS2Lab(nullptr)}));
    EXPECT_TRUE(Optimize(&v2.p, krmFmtLab16, krmFmtLab16, &flags));
    EXPECT_EQ(krmPipelineStageCount(v2.p), 0u);
}

TEST(PreOptimisation, MatricesJoinOrStay)
{
    const double a[9] = {2, 0, 0, 0, 4, 0, 0, 0, 0.5};
    const double inv[9] = {0.5, 0, 0, 0, 0.25, 0, 0, 0, 2};
    const double offset[3] = {0.1, 0, 0};
    krmUInt32Number flags = krmFlagNoOptimize;

    Lut gone(Pipeline({krmStageAllocMatrix(nullptr, 3, 3, a, nullptr), krmStageAllocMatrix(nullptr, 3, 3, inv, nullptr)}));
    Optimize(&gone.p, krmFmtRGB16, krmFmtRGB16, &flags);
    EXPECT_EQ(krmPipelineStageCount(gone.p), 0u);

    Lut kept(Pipeline({krmStageAllocMatrix(nullptr, 3, 3, a, nullptr), krmStageAllocMatrix(nullptr, 3, 3, inv, offset)}));
    Optimize(&kept.p, krmFmtRGB16, krmFmtRGB16, &flags);
    EXPECT_EQ(krmPipelineStageCount(kept.p), 2u);

    // A product that is not the identity becomes one matrix.
    Lut joined(Pipeline({krmStageAllocMatrix(nullptr, 3, 3, a, nullptr), krmStageAllocMatrix(nullptr, 3, 3, a, nullptr)}));
    Optimize(&joined.p, krmFmtRGB16, krmFmtRGB16, &flags);
    ASSERT_EQ(krmPipelineStageCount(joined.p), 1u);
    const float in[3] = {0.1f, 0.1f, 0.8f};
    float out[3];
    krmPipelineEvalFloat(in, out, joined.p);
    EXPECT_NEAR(out[0], 0.4, 1e-6);
    EXPECT_NEAR(out[1], 1.6, 1e-6);
    EXPECT_NEAR(out[2], 0.2, 1e-6);
}

TEST(PreOptimisation, NoOptimizeKeepsTheRest)
{
    Lut lut(Pipeline({Gamma(2.2), krmStageAllocIdentity(nullptr, 3), Gamma(1.5)}));
    krmUInt32Number flags = krmFlagNoOptimize;
    EXPECT_FALSE(Optimize(&lut.p, krmFmtRGB8, krmFmtRGB8, &flags));
    EXPECT_EQ(krmPipelineStageCount(lut.p), 2u);
    EXPECT_EQ(krmStageType(krmPipelineFirstStage(lut.p)), krmSigCurveSetElemType);
}

// Through real transforms: an unoptimised transform still drops identities, inverse pairs and
// matrices that join, and converts as the linked pipeline does.
TEST(PreOptimisation, UnoptimisedTransformsLoseWhatCancels)
{
    krmProfile srgb = krmCreate_sRGBProfile();
    krmProfile lab4 = krmCreateLab4Profile(nullptr, nullptr);
    krmProfile lab2 = krmCreateLab2Profile(nullptr, nullptr);
    struct Case {
        const char* why;
        krmProfile in, out;
        krmUInt32Number fmtIn, fmtOut;
        std::vector<krmStageSignature> stages;
    };
    const Case cases[] = {
        // RGB -> XYZ matrix and its inverse: the product is the identity and goes.
        {"sRGB to sRGB", srgb, srgb, krmFmtRGB16, krmFmtRGB16, {krmSigCurveSetElemType, krmSigCurveSetElemType}},
        {"sRGB to sRGB in floats", srgb, srgb, krmFmtRGBFloat, krmFmtRGBFloat,
         {krmSigCurveSetElemType, krmSigCurveSetElemType}},
        // Lab version 2 in and out of a version 4 identity: the encoding conversions cancel.
        {"Lab v2 to Lab v4", lab2, lab4, krmFmtLabDouble, krmFmtLabDouble, {}},
    };
    for (const Case& c : cases) {
        const krmUInt32Number intents[2] = {1, 1};
        krmProfile chain[2] = {c.in, c.out};
        krmBool bpc[2] = {false, false};
        krmFloat64Number states[2] = {1, 1};
        Lut linked(krmLinkProfiles(nullptr, 2, const_cast<krmUInt32Number*>(intents), chain, bpc, states, 0));
        ASSERT_NE(linked.p, nullptr) << c.why;

        krmTransform t = krmCreateTransform(c.in, c.fmtIn, c.out, c.fmtOut, 1, krmFlagNoOptimize | krmFlagNoCache);
        ASSERT_NE(t, nullptr) << c.why;
        const krmPipeline* lut = reinterpret_cast<_krmTransform_struct*>(t)->Lut;
        std::vector<krmStageSignature> got;
        for (const krmStage* s = krmPipelineFirstStage(lut); s; s = krmStageNext(s)) got.push_back(krmStageType(s));
        EXPECT_EQ(got, c.stages) << c.why;
        EXPECT_LT(krmPipelineStageCount(lut), krmPipelineStageCount(linked.p)) << c.why;

        for (float v : {0.0f, 0.2f, 0.5f, 0.9f}) {
            const krmFloat32Number in[3] = {v, 0.5f, 1 - v};
            krmFloat32Number want[3], have[3];
            krmPipelineEvalFloat(in, want, linked.p);
            krmPipelineEvalFloat(in, have, lut);
            for (int k = 0; k < 3; k++) EXPECT_NEAR(have[k], want[k], 1e-5) << c.why << " at " << v;
        }
        krmDeleteTransform(t);
    }
    for (krmProfile h : {srgb, lab4, lab2}) krmCloseProfile(h);
}

TEST(PreOptimisation, NamedColourPipelinesAreLeftAlone)
{
    krmNamedColorList* list = krmAllocNamedColorList(nullptr, 2, 3, "", "");
    const krmUInt16Number pcs[3] = {1, 2, 3};
    krmAppendNamedColor(list, "one", pcs, nullptr);
    krmPipeline* p = krmPipelineAlloc(nullptr, 1, 3);
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocNamedColor(list, 1)));
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocIdentity(nullptr, 3)));
    krmFreeNamedColorList(list);
    krmUInt32Number flags = 0;
    EXPECT_FALSE(Optimize(&p, krmFMT_CHANNELS(1) | 2, krmFmtLab16, &flags));
    EXPECT_EQ(krmPipelineStageCount(p), 2u);
    krmPipelineFree(p);
}

// ---------------------------------------------------------------------------------------------
// Built-in optimisations
// ---------------------------------------------------------------------------------------------

TEST(JoinedCurves, InverseGammasBecomeIdentity)
{
    Lut lut(Pipeline({Gamma(2.2), Gamma(1 / 2.2)}));
    krmUInt32Number flags = 0;
    EXPECT_TRUE(Optimize(&lut.p, krmFmtRGB16, krmFmtRGB16, &flags));
    EXPECT_TRUE(flags & krmFlagNoCache);
    ASSERT_EQ(krmPipelineStageCount(lut.p), 1u);
    const krmUInt16Number in[3] = {0, 30000, 65535};
    krmUInt16Number out[3];
    krmPipelineEval16(in, out, lut.p);
    EXPECT_EQ(std::vector<int>(out, out + 3), std::vector<int>(in, in + 3));
}

TEST(JoinedCurves, TablesMatchTheCurves)
{
    for (krmUInt32Number fmt : {krmFmtRGB8, krmFmtRGB16}) {
        Lut ref(Pipeline({Gamma(2.2), Gamma(1.3)}));
        Lut lut(krmPipelineDup(ref.p));
        krmUInt32Number flags = 0;
        EXPECT_TRUE(Optimize(&lut.p, fmt, fmt, &flags));
        ASSERT_EQ(krmPipelineStageCount(lut.p), 1u);
        for (krmUInt32Number v = 0; v < 256; v++) {
            const krmUInt16Number w = krmUInt16Number(v * 257);
            const krmUInt16Number in[3] = {w, w, w};
            krmUInt16Number a[3], b[3];
            krmPipelineEval16(in, a, lut.p);
            krmPipelineEval16(in, b, ref.p);
            ASSERT_NEAR(a[0], b[0], 40) << v;  // 4096-point table against the formulas, in 16 bits
            ASSERT_EQ(a[0], a[2]);
        }
    }
}

TEST(MatrixShaper, EightBitRGBUsesIntegerEvaluator)
{
    krmProfile s = krmCreate_sRGBProfile();
    krmProfile adobe = krmOpenProfileFromFile("/usr/share/color/icc/colord/AdobeRGB1998.icc", "r");
    ASSERT_NE(adobe, nullptr);
    krmTransform t = krmCreateTransform(s, krmFmtRGB8, adobe, krmFmtRGB8, 0, 0);
    krmTransform ref = krmCreateTransform(s, krmFmtRGB8, adobe, krmFmtRGB8, 0, krmFlagNoOptimize);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(t->dwOriginalFlags & krmFlagNoCache);
    EXPECT_TRUE(krmT_OPTIMIZED(t->OutputFormat));
    EXPECT_TRUE(krmPipelineCheckAndRetrieveStages(t->Lut, 3, int(krmSigCurveSetElemType), int(krmSigMatrixElemType),
                                                  int(krmSigCurveSetElemType), nullptr, nullptr, nullptr));
    EXPECT_NE(t->Lut->Data, static_cast<void*>(t->Lut));  // its own evaluator data

    const auto grid = Grid<krmUInt8Number>(3, 52);
    const krmUInt32Number n = krmUInt32Number(grid.size() / 3);
    std::vector<krmUInt8Number> a(grid.size()), b(grid.size());
    krmDoTransform(t, grid.data(), a.data(), n);
    krmDoTransform(ref, grid.data(), b.data(), n);
    // 1.14 fixed point against the float pipeline: deep shadows may move by 2.
    for (size_t i = 0; i < a.size(); i++) ASSERT_NEAR(a[i], b[i], 2) << i;

    // Premultiplied formats keep the stages' own evaluation.
    const krmUInt32Number premul = krmFmtRGB8 | krmFMT_EXTRA(1) | krmFMT_PREMUL(1);
    krmTransform p = krmCreateTransform(s, premul, adobe, premul, 0, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(krmPipelineStageCount(p->Lut), 3u);
    EXPECT_EQ(p->Lut->Data, static_cast<void*>(p->Lut));

    krmDeleteTransform(p);
    krmDeleteTransform(t);
    krmDeleteTransform(ref);
    krmCloseProfile(s);
    krmCloseProfile(adobe);
}

TEST(Resampling, WhiteIsPatchedOntoItsNode)
{
    // Curves that bring white to 65534 instead of 65535.
    std::vector<krmUInt16Number> table(4096);
    for (int i = 0; i < 4096; i++) table[i] = krmUInt16Number(std::lround(i * 65534.0 / 4095));
    krmToneCurve* c = krmBuildTabulatedToneCurve16(nullptr, 4096, table.data());
    krmToneCurve* const curves[3] = {c, c, c};

    for (bool fix : {true, false}) {
        Lut lut(Pipeline({krmStageAllocToneCurves(nullptr, 3, curves)}));
        const krmUInt16Number white[3] = {65535, 65535, 65535};
        krmUInt16Number out[3];
        krmPipelineEval16(white, out, lut.p);
        ASSERT_EQ(out[0], 65534);

        krmUInt32Number flags = krmFlagForceCLUT | (fix ? 0 : krmFlagNoWhiteOnWhiteFixup);
        EXPECT_TRUE(Optimize(&lut.p, krmFmtRGB16, krmFmtRGB16, &flags));
        ASSERT_EQ(krmPipelineStageCount(lut.p), 1u);
        EXPECT_EQ(krmStageType(krmPipelineFirstStage(lut.p)), krmSigCLutElemType);
        krmPipelineEval16(white, out, lut.p);
        EXPECT_EQ(out[0], fix ? 65535 : 65534);
        EXPECT_EQ(out[2], fix ? 65535 : 65534);
    }

    // Absolute colorimetric leaves white alone.
    Lut abs(Pipeline({krmStageAllocToneCurves(nullptr, 3, curves)}));
    krmUInt32Number flags = krmFlagForceCLUT;
    EXPECT_TRUE(Optimize(&abs.p, krmFmtRGB16, krmFmtRGB16, &flags, 3));
    EXPECT_TRUE(flags & krmFlagNoWhiteOnWhiteFixup);
    krmFreeToneCurve(c);
}

TEST(Resampling, PatchLUTRefusesWhatItCannotPatch)
{
    struct Log {
        static std::vector<std::string>& msgs()
        {
            static std::vector<std::string> m;
            return m;
        }
        static void H(krmContext, krmUInt32Number code, const char* t)
        {
            msgs().push_back(std::to_string(code) + " " + t);
        }
    };
    // A 2-input CLUT cannot hold a patched white: the fix-up declines with its message.
    krmContext ctx = krmCreateContext(nullptr, nullptr);
    krmSetLogErrorHandlerInContext(ctx, Log::H);
    krmPipeline* p = krmPipelineAlloc(ctx, 2, 2);
    krmStage* clut = krmStageAllocCLut16bit(ctx, 3, 2, 2, nullptr);
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, clut));
    krmUInt32Number flags = krmFlagForceCLUT;
    const krmUInt32Number two = krmFMT_CHANNELS(2) | 2;
    // No known white for a 2-channel space: resampled, but nothing patched.
    krmUInt32Number in = two, out = two;
    EXPECT_FALSE(krmOptimizePipeline(ctx, &p, 0, &in, &out, &flags));  // no colour space, no resampling
    EXPECT_TRUE(Log::msgs().empty());
    krmPipelineFree(p);
    krmDeleteContext(ctx);
}

// ---------------------------------------------------------------------------------------------
// Optimised against unoptimised, over the corpus
// ---------------------------------------------------------------------------------------------

TEST(OptimisedTransforms, AgreeWithLinkedPipelinesOverTheCorpus)
{
    krmProfile srgb = krmCreate_sRGBProfile();
    Diffs bytes, words;
    int pairs = 0;
    for (const std::string& path : lut_support::corpusProfiles()) {
        krmProfile p = krmOpenProfileFromFile(path.c_str(), "r");
        ASSERT_NE(p, nullptr) << path;
        if (krmGetProfileClass(p) == krmSig("nmcl")) {
            krmCloseProfile(p);
            continue;
        }
        const std::string name = std::filesystem::path(path).filename().string();
        for (krmUInt32Number intent = 0; intent < 4; intent++) {
            const std::string label = name + " intent " + std::to_string(intent);
            Compare<krmUInt8Number, krmUInt8Number>(p, srgb, intent, bytes, label + " in");
            Compare<krmUInt8Number, krmUInt8Number>(srgb, p, intent, bytes, label + " out");
            Compare<krmUInt16Number, krmUInt16Number>(p, srgb, intent, words, label + " in");
            Compare<krmUInt16Number, krmUInt16Number>(srgb, p, intent, words, label + " out");
            pairs += 2;
        }
        krmCloseProfile(p);
    }
    krmCloseProfile(srgb);

    EXPECT_GT(pairs, 100);
    int within2 = 0;
    for (const auto& [label, m] : bytes.pairMax) {
        EXPECT_LE(m, KnownEightBitBound(label)) << label;
        within2 += m <= 2;
    }
    std::cout << "8-bit: " << within2 << " of " << bytes.pairMax.size() << " transforms within 2 steps away from white\n";

    std::sort(words.all.begin(), words.all.end());
    ASSERT_FALSE(words.all.empty());
    const int p99 = words.all[words.all.size() * 99 / 100];
    const int maxWord = words.all.back();
    std::cout << "16-bit optimised vs unoptimised over " << pairs << " transforms: 99th percentile " << p99
              << ", maximum " << maxWord << " (away from white " << words.maxAwayFromWhite << ", " << words.worst
              << ")\n";
    EXPECT_LE(p99, 4);
    RecordProperty("p99_16bit", p99);
    RecordProperty("max_16bit", maxWord);
}

// Every resampled CLUT the corpus produces gives, to within one step, what an ideal grid of the
// same size gives: nodes sampled from the linked pipeline and interpolated in single precision.
// Whatever the corpus comparison still allows beyond 2 steps for these transforms is then owed to
// the grid size alone, not to sampling, interpolation, clipping or the formatters.
TEST(OptimisedTransforms, ResampledGridsEqualTheirIdealGrid)
{
    krmProfile srgb = krmCreate_sRGBProfile();
    int checked = 0;
    for (const std::string& path : lut_support::corpusProfiles()) {
        krmProfile p = krmOpenProfileFromFile(path.c_str(), "r");
        ASSERT_NE(p, nullptr) << path;
        if (krmGetProfileClass(p) == krmSig("nmcl")) {
            krmCloseProfile(p);
            continue;
        }
        for (krmUInt32Number intent : {0u, 1u})
            for (bool toProfile : {false, true}) {
                krmProfile in = toProfile ? srgb : p, out = toProfile ? p : srgb;
                const std::string label = std::filesystem::path(path).filename().string() + " intent " +
                                          std::to_string(intent) + (toProfile ? " out" : " in");
                const krmColorSpaceSignature inSpace = krmGetProfileColorSpace(in);
                const krmColorSpaceSignature outSpace = krmGetProfileColorSpace(out);
                const krmUInt32Number nIn = krmChannelsOf(inSpace), nOut = krmChannelsOf(outSpace);
                const krmUInt32Number fin = FormatOf(inSpace, 1), fout = FormatOf(outSpace, 1);
                krmTransform opt = krmCreateTransform(in, fin, out, fout, intent, 0);
                krmTransform ref = krmCreateTransform(in, fin, out, fout, intent, krmFlagNoOptimize);
                ASSERT_EQ(opt == nullptr, ref == nullptr) << label;
                krmStage* clut = nullptr;
                if (!opt || !krmPipelineCheckAndRetrieveStages(opt->Lut, 1, int(krmSigCLutElemType), &clut)) {
                    if (opt) krmDeleteTransform(opt);
                    if (ref) krmDeleteTransform(ref);
                    continue;
                }
                const krmUInt32Number g = static_cast<krmStageCLutData*>(krmStageData(clut))->Params->nSamples[0];
                EXPECT_EQ(g, krmReasonableGridpoints(inSpace, 0)) << label;

                krmUInt32Number nodes = 1;
                for (krmUInt32Number c = 0; c < nIn; c++) nodes *= g;
                std::vector<krmFloat32Number> table(nodes * nOut);
                for (krmUInt32Number k = 0; k < nodes; k++) {
                    krmFloat32Number x[krmMAXCHANNELS], y[krmMAX_STAGE_CHANNELS];
                    krmUInt32Number rest = k;
                    for (krmUInt32Number c = nIn; c-- > 0; rest /= g)
                        x[c] = krmFloat32Number((rest % g) / double(g - 1));
                    krmPipelineEvalFloat(x, y, ref->Lut);
                    for (krmUInt32Number o = 0; o < nOut; o++) table[k * nOut + o] = std::clamp(y[o], 0.0f, 1.0f);
                }
                krmStage* ideal = krmStageAllocCLutFloat(nullptr, g, nIn, nOut, table.data());
                ASSERT_NE(ideal, nullptr);

                const auto grid = Grid<krmUInt8Number>(nIn, nIn == 1 ? 256 : (nIn == 3 ? 17 : 9));
                const krmUInt32Number n = krmUInt32Number(grid.size() / nIn);
                std::vector<krmUInt8Number> a(n * nOut);
                krmDoTransform(opt, grid.data(), a.data(), n);
                int worst = 0;
                for (krmUInt32Number i = 0; i < n; i++) {
                    if (IsWhite(inSpace, &grid[i * nIn], nIn)) continue;  // the white fix-up may move its node
                    krmFloat32Number x[krmMAXCHANNELS], y[krmMAX_STAGE_CHANNELS];
                    for (krmUInt32Number c = 0; c < nIn; c++) x[c] = grid[i * nIn + c] / 255.0f;
                    krmStageEvalFloat(ideal, x, y);
                    for (krmUInt32Number o = 0; o < nOut; o++)
                        worst = std::max(worst, std::abs(int(a[i * nOut + o]) - int(std::lround(y[o] * 255.0))));
                }
                EXPECT_LE(worst, 1) << label;
                checked++;
                krmStageFree(ideal);
                krmDeleteTransform(opt);
                krmDeleteTransform(ref);
            }
        krmCloseProfile(p);
    }
    krmCloseProfile(srgb);
    EXPECT_GE(checked, 20);  // Lab, grey, CMYK and RGB-to-CMYK/grey grids of the corpus
}

// The integer matrix-shaper works in 1.14 fixed point between its curves. Each of its 8-bit outputs
// must lie where the linked pipeline's own output curves put linear light that is off by at most
// 2/16384: the input tables, the matrix coefficients and the final shift each round by half a unit
// at most, and over the corpus their sum stays below one unit. This accounts for the whole of the
// BruceRGB, SMPTE-C and esrgb exceptions above; a bias of two units fails it.
TEST(MatrixShaper, DeviatesOnlyByFixedPointLinearLight)
{
    constexpr double kUnits = 2.0 / 16384;
    krmProfile srgb = krmCreate_sRGBProfile();
    int checked = 0;
    for (const std::string& path : lut_support::corpusProfiles()) {
        krmProfile p = krmOpenProfileFromFile(path.c_str(), "r");
        ASSERT_NE(p, nullptr) << path;
        if (krmGetProfileColorSpace(p) != krmSig("RGB ") || krmGetProfileClass(p) == krmSig("nmcl")) {
            krmCloseProfile(p);
            continue;
        }
        for (bool toProfile : {false, true}) {
            krmProfile in = toProfile ? srgb : p, out = toProfile ? p : srgb;
            const std::string label = std::filesystem::path(path).filename().string() + (toProfile ? " out" : " in");
            krmTransform opt = krmCreateTransform(in, krmFmtRGB8, out, krmFmtRGB8, 0, 0);
            krmTransform ref = krmCreateTransform(in, krmFmtRGB8, out, krmFmtRGB8, 0, krmFlagNoOptimize);
            ASSERT_NE(opt, nullptr) << label;
            ASSERT_NE(ref, nullptr) << label;
            const bool integer = krmPipelineCheckAndRetrieveStages(opt->Lut, 3, int(krmSigCurveSetElemType),
                                                                   int(krmSigMatrixElemType),
                                                                   int(krmSigCurveSetElemType), nullptr, nullptr,
                                                                   nullptr) &&
                                 opt->Lut->Data != static_cast<void*>(opt->Lut);
            const krmStage* last = krmPipelineLastStage(ref->Lut);
            if (!integer || krmStageType(last) != krmSigCurveSetElemType) {
                krmDeleteTransform(opt);
                krmDeleteTransform(ref);
                continue;
            }
            const auto* curves = static_cast<const krmStageCurvesData*>(krmStageData(last));

            const auto grid = Grid<krmUInt8Number>(3, 35);
            const krmUInt32Number n = krmUInt32Number(grid.size() / 3);
            std::vector<krmUInt8Number> a(grid.size());
            krmDoTransform(opt, grid.data(), a.data(), n);
            int outside = 0;
            for (krmUInt32Number i = 0; i < n; i++) {
                // Linear light: every stage of the linked pipeline but its output curves.
                krmFloat32Number v[krmMAX_STAGE_CHANNELS], w[krmMAX_STAGE_CHANNELS];
                for (int c = 0; c < 3; c++) v[c] = grid[i * 3 + c] / 255.0f;
                for (const krmStage* s = krmPipelineFirstStage(ref->Lut); s != last; s = krmStageNext(s)) {
                    krmStageEvalFloat(s, v, w);
                    std::copy(w, w + krmStageOutputChannels(s), v);
                }
                for (int c = 0; c < 3; c++) {
                    auto at = [&](double x) {
                        return 255.0 * krmEvalToneCurveFloat(curves->TheCurves[c],
                                                             krmFloat32Number(std::clamp(x, 0.0, 1.0)));
                    };
                    const double lo = std::min(at(v[c] - kUnits), at(v[c] + kUnits));
                    const double hi = std::max(at(v[c] - kUnits), at(v[c] + kUnits));
                    const int got = a[i * 3 + c];
                    if (got < std::floor(lo) || got > std::ceil(hi)) {
                        if (outside++ < 3)
                            ADD_FAILURE() << label << " pixel " << i << " channel " << c << ": " << got
                                          << " outside [" << lo << ", " << hi << "]";
                    }
                }
            }
            EXPECT_EQ(outside, 0) << label;
            checked++;
            krmDeleteTransform(opt);
            krmDeleteTransform(ref);
        }
        krmCloseProfile(p);
    }
    krmCloseProfile(srgb);
    EXPECT_GE(checked, 40);
}

// The 8-bit prelinearised evaluator (precomputed cells) gives what the staged curves-and-CLUT
// evaluation of the same pipeline gives; the 16-bit transform builds that same pipeline.
TEST(Linearisation, EightBitEvaluatorEqualsStagedEvaluation)
{
    // Through a Lab CLUT: neither joined curves nor a matrix-shaper, and a monotonic grey axis.
    krmProfile s = krmCreate_sRGBProfile();
    krmProfile lab = krmOpenProfileFromFile("/usr/share/color/icc/ghostscript/lab.icc", "r");
    krmProfile adobe = krmOpenProfileFromFile("/usr/share/color/icc/colord/AdobeRGB1998.icc", "r");
    ASSERT_NE(lab, nullptr);
    ASSERT_NE(adobe, nullptr);
    krmProfile chain[3] = {s, lab, adobe};
    krmTransform t8 = krmCreateMultiprofileTransform(nullptr, chain, 3, krmFmtRGB8, krmFmtRGB8, 1, 0);
    krmTransform t16 = krmCreateMultiprofileTransform(nullptr, chain, 3, krmFmtRGB16, krmFmtRGB16, 1,
                                                      krmFlagCLUTPreLinearization);
    ASSERT_NE(t8, nullptr);
    ASSERT_NE(t16, nullptr);
    ASSERT_TRUE(krmPipelineCheckAndRetrieveStages(t8->Lut, 2, int(krmSigCurveSetElemType), int(krmSigCLutElemType),
                                                  nullptr, nullptr));
    ASSERT_TRUE(krmPipelineCheckAndRetrieveStages(t16->Lut, 2, int(krmSigCurveSetElemType),
                                                  int(krmSigCLutElemType), nullptr, nullptr));
    EXPECT_NE(t8->Lut->Eval16Fn, t16->Lut->Eval16Fn);

    krmPipeline* copy = krmPipelineDup(t8->Lut);
    ASSERT_NE(copy, nullptr);
    for (int r = 0; r < 256; r += 5)
        for (int g = 0; g < 256; g += 3)
            for (int b = 0; b < 256; b += 7) {
                const krmUInt16Number in[3] = {krmUInt16Number(r * 257), krmUInt16Number(g * 257),
                                               krmUInt16Number(b * 257)};
                krmUInt16Number a[3], c[3], d[3];
                krmPipelineEval16(in, a, t8->Lut);
                krmPipelineEval16(in, c, t16->Lut);
                krmPipelineEval16(in, d, copy);
                ASSERT_EQ(std::vector<int>(a, a + 3), std::vector<int>(c, c + 3)) << r << " " << g << " " << b;
                ASSERT_EQ(std::vector<int>(a, a + 3), std::vector<int>(d, d + 3));
            }
    krmPipelineFree(copy);
    krmDeleteTransform(t8);
    krmDeleteTransform(t16);
    krmCloseProfile(adobe);
    krmCloseProfile(lab);
    krmCloseProfile(s);
}

// The resampling computes the leading curves once per node coordinate: every node must still hold
// the very words the linked pipeline gives for it, evaluated whole in single precision.
TEST(Resampling, NodesHoldThePipelineWordsExactly)
{
    const struct {
        const char *in, *out;
        krmUInt32Number inFormat, outFormat;
    } kCases[] = {
        {nullptr, "/usr/share/color/icc/ghostscript/default_cmyk.icc", krmFmtRGB8, 0x60021},
        {"/usr/share/color/icc/ghostscript/default_cmyk.icc", nullptr, 0x60022, krmFmtRGB16},
        {"/usr/share/color/icc/colord/AdobeRGB1998.icc", "/usr/share/color/icc/ghostscript/default_cmyk.icc",
         krmFmtRGB16, 0x60022},
        // four inputs on 17 nodes, and one input
        {"/usr/share/color/icc/ghostscript/ps_cmyk.icc", "/usr/share/color/icc/ghostscript/default_cmyk.icc",
         0x60021, 0x60021},
        {"/usr/share/color/icc/ghostscript/default_gray.icc", "/usr/share/color/icc/ghostscript/default_cmyk.icc",
         0x30009, 0x60021},
    };
    for (const auto& c : kCases) {
        krmProfile in = c.in ? krmOpenProfileFromFile(c.in, "r") : krmCreate_sRGBProfile();
        krmProfile out = c.out ? krmOpenProfileFromFile(c.out, "r") : krmCreate_sRGBProfile();
        if (!in || !out) GTEST_SKIP() << "profiles missing";
        const krmUInt32Number flags = krmFlagNoWhiteOnWhiteFixup;
        krmTransform opt = krmCreateTransform(in, c.inFormat, out, c.outFormat, 1, flags);
        krmTransform ref = krmCreateTransform(in, c.inFormat, out, c.outFormat, 1, flags | krmFlagNoOptimize);
        ASSERT_NE(opt, nullptr);
        ASSERT_NE(ref, nullptr);
        const krmInterpParams* p = _krmOptimizedPlainCLUT(opt->Lut);
        ASSERT_NE(p, nullptr) << c.in << " " << c.out;
        const auto* table = static_cast<const krmUInt16Number*>(p->Table);
        krmUInt32Number nodes = 1;
        for (krmUInt32Number i = 0; i < p->nInputs; i++) nodes *= p->nSamples[i];
        krmUInt32Number differ = 0;
        for (krmUInt32Number k = 0; k < nodes; k++) {
            krmFloat32Number x[krmMAX_STAGE_CHANNELS], y[krmMAX_STAGE_CHANNELS];
            krmUInt32Number rest = k;
            for (krmUInt32Number i = p->nInputs; i-- > 0; rest /= p->nSamples[i])
                x[i] = krmFloat32Number(krmQuantizeVal(rest % p->nSamples[i], p->nSamples[i]) / 65535.0);
            krmPipelineEvalFloat(x, y, ref->Lut);
            for (krmUInt32Number o = 0; o < p->nOutputs; o++)
                differ += table[k * p->nOutputs + o] != krmQuickSaturateWord(y[o] * 65535.0);
        }
        EXPECT_EQ(differ, 0u) << c.in << " " << c.out;
        krmDeleteTransform(opt);
        krmDeleteTransform(ref);
        krmCloseProfile(in);
        krmCloseProfile(out);
    }
}
