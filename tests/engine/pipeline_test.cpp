// Pipelines and stages: construction limits, chain checks, stage arithmetic, grid traversal,
// reverse evaluation, copies and allocation-free evaluation.

#include "support/error_log.h"
#include "krm_internal.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using error_log::captureHandler;
using error_log::g_log;
using error_log::Logged;

class PipelineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_log.clear();
        ctx = krmCreateContext(nullptr, nullptr);
        ASSERT_NE(ctx, nullptr);
        krmSetLogErrorHandlerInContext(ctx, captureHandler);
    }
    void TearDown() override { krmDeleteContext(ctx); }
    krmContext ctx = nullptr;
};

// A 3 -> 3 CLUT whose nodes hold f(node coordinates).
krmStage* sampledCLut(krmContext ctx, krmUInt32Number points, krmSAMPLER16 fn)
{
    krmStage* s = krmStageAllocCLut16bit(ctx, points, 3, 3, nullptr);
    if (s) {
        EXPECT_TRUE(krmStageSampleCLut16bit(s, fn, nullptr, 0));
    }
    return s;
}

krmInt32Number swapSampler(const krmUInt16Number In[], krmUInt16Number Out[], void*)
{
    Out[0] = In[2];
    Out[1] = In[0];
    Out[2] = (krmUInt16Number)(65535 - In[1]);
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Limits
// ---------------------------------------------------------------------------------------------

TEST_F(PipelineTest, ChannelLimitsOfPipelinesAndCLUTs)
{
    krmPipeline* p = krmPipelineAlloc(ctx, 15, 15);
    ASSERT_NE(p, nullptr);
    krmPipelineFree(p);
    EXPECT_EQ(krmPipelineAlloc(ctx, 16, 3), nullptr);
    EXPECT_EQ(krmPipelineAlloc(ctx, 3, 16), nullptr);

    EXPECT_EQ(krmStageAllocCLut16bit(ctx, 2, 16, 3, nullptr), nullptr);
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0].code, (krmUInt32Number)krmErrRange);
    EXPECT_EQ(g_log[0].text, "Too many input channels (16 channels, max=15)");
}

TEST_F(PipelineTest, CubeSizeRefusesDegenerateAndHugeGrids)
{
    const krmUInt32Number g33[3] = {33, 33, 33};
    EXPECT_EQ(krmCubeSize(g33, 3), 35937u);
    krmStage* s = krmStageAllocCLut16bit(ctx, 33, 3, 4, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(((krmStageCLutData*)krmStageData(s))->nEntries, 143748u);
    krmStageFree(s);

    const krmUInt32Number g17[8] = {17, 17, 17, 17, 17, 17, 17, 17};  // 6975757441 nodes
    EXPECT_EQ(krmCubeSize(g17, 8), 0u);
    EXPECT_EQ(krmStageAllocCLut16bit(ctx, 17, 8, 1, nullptr), nullptr);

    const krmUInt32Number withOne[3] = {5, 1, 5};
    EXPECT_EQ(krmCubeSize(withOne, 3), 0u);
    EXPECT_EQ(krmCubeSize(nullptr, 0), 1u);

    // The largest grid allowed and the first one above it.
    const krmUInt32Number atLimit[2] = {286331153u / 7u, 7};
    EXPECT_NE(krmCubeSize(atLimit, 2), 0u);
    const krmUInt32Number aboveLimit[2] = {286331153u / 7u + 1u, 7};
    EXPECT_EQ(krmCubeSize(aboveLimit, 2), 0u);
}

TEST_F(PipelineTest, QuantizedGridCoordinates)
{
    EXPECT_EQ(krmQuantizeVal(1, 3), 32768);
    EXPECT_EQ(krmQuantizeVal(0, 17), 0);
    EXPECT_EQ(krmQuantizeVal(16, 17), 65535);
}

// ---------------------------------------------------------------------------------------------
// Chains
// ---------------------------------------------------------------------------------------------

TEST_F(PipelineTest, InsertionChecksThatChannelsJoin)
{
    krmPipeline* p = krmPipelineAlloc(ctx, 4, 3);
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocCLut16bit(ctx, 3, 4, 3, nullptr)));
    EXPECT_TRUE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocToneCurves(ctx, 3, nullptr)));
    EXPECT_EQ(krmPipelineStageCount(p), 2u);

    // A 4-channel curve set cannot follow a 3-output stage; the pipeline keeps it anyway.
    EXPECT_FALSE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocToneCurves(ctx, 4, nullptr)));
    EXPECT_EQ(krmPipelineStageCount(p), 3u);
    EXPECT_EQ(krmPipelineOutputChannels(p), 4u);
    krmPipelineFree(p);
}

TEST_F(PipelineTest, InsertAtUnknownPlaceFails)
{
    krmPipeline* p = krmPipelineAlloc(ctx, 3, 3);
    krmStage* s = krmStageAllocIdentity(ctx, 3);
    EXPECT_FALSE(krmPipelineInsertStage(p, (krmStageLoc)2, s));
    EXPECT_EQ(krmPipelineStageCount(p), 0u);
    krmStageFree(s);
    EXPECT_FALSE(krmPipelineInsertStage(p, krmAT_END, nullptr));
    krmPipelineFree(p);
}

TEST_F(PipelineTest, UnlinkHandsOutOrFreesAndRecountsChannels)
{
    krmPipeline* p = krmPipelineAlloc(ctx, 1, 3);
    const krmFloat64Number col[3] = {1, 2, 3};
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocMatrix(ctx, 3, 1, col, nullptr)));
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocCLut16bit(ctx, 2, 3, 4, nullptr)));
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocIdentity(ctx, 4)));
    EXPECT_EQ(krmPipelineInputChannels(p), 1u);
    EXPECT_EQ(krmPipelineOutputChannels(p), 4u);

    krmStage* first = nullptr;
    krmPipelineUnlinkStage(p, krmAT_BEGIN, &first);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(krmStageType(first), (krmStageSignature)krmSigMatrixElemType);
    EXPECT_EQ(krmStageNext(first), nullptr);
    EXPECT_EQ(krmPipelineInputChannels(p), 3u);
    krmStageFree(first);

    krmPipelineUnlinkStage(p, krmAT_END, nullptr);
    EXPECT_EQ(krmPipelineStageCount(p), 1u);
    EXPECT_EQ(krmPipelineLastStage(p), krmPipelineFirstStage(p));
    EXPECT_EQ(krmPipelineOutputChannels(p), 4u);

    krmPipelineUnlinkStage(p, krmAT_END, nullptr);
    krmStage* none = (krmStage*)0x1;
    krmPipelineUnlinkStage(p, krmAT_END, &none);
    EXPECT_EQ(none, nullptr);
    krmPipelineFree(p);
}

TEST_F(PipelineTest, ConcatenationCopiesStagesAndTakesCountsOfEmptyPipelines)
{
    krmPipeline* a = krmPipelineAlloc(ctx, 0, 0);
    krmPipeline* b = krmPipelineAlloc(ctx, 3, 3);
    ASSERT_TRUE(krmPipelineCat(a, b));
    EXPECT_EQ(krmPipelineInputChannels(a), 3u);
    EXPECT_EQ(krmPipelineOutputChannels(a), 3u);

    ASSERT_TRUE(krmPipelineInsertStage(b, krmAT_END, sampledCLut(ctx, 5, swapSampler)));
    ASSERT_TRUE(krmPipelineCat(a, b));
    ASSERT_TRUE(krmPipelineCat(a, b));
    EXPECT_EQ(krmPipelineStageCount(a), 2u);
    EXPECT_NE(krmPipelineFirstStage(a), krmPipelineFirstStage(b));
    krmPipelineFree(b);  // a owns copies

    krmUInt16Number in[3] = {1000, 30000, 65535}, out[3];
    krmPipelineEval16(in, out, a);
    // (a, b, c) -> (c, a, ~b) twice gives (~b, c, ~a).
    EXPECT_NEAR(out[0], 65535 - 30000, 1);
    EXPECT_NEAR(out[1], 65535, 1);
    EXPECT_NEAR(out[2], 65535 - 1000, 1);

    krmPipeline* four = krmPipelineAlloc(ctx, 4, 4);
    ASSERT_TRUE(krmPipelineInsertStage(four, krmAT_END, krmStageAllocIdentity(ctx, 4)));
    EXPECT_FALSE(krmPipelineCat(a, four));
    krmPipelineFree(four);
    krmPipelineFree(a);
}

TEST_F(PipelineTest, DuplicateIsDeepAndKeepsFlags)
{
    krmPipeline* p = krmPipelineAlloc(ctx, 3, 3);
    krmToneCurve* g = krmBuildGamma(ctx, 2.2);
    krmToneCurve* curves[3] = {g, g, g};
    const krmFloat64Number m[9] = {0.5, 0.1, 0.1, 0.1, 0.5, 0.1, 0.1, 0.1, 0.5};
    const krmFloat64Number off[3] = {0.01, 0.02, 0.03};
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocToneCurves(ctx, 3, curves)));
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocMatrix(ctx, 3, 3, m, off)));
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, sampledCLut(ctx, 9, swapSampler)));
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocXYZ2Lab(ctx)));
    krmFreeToneCurve(g);
    krmPipelineSetSaveAs8bitsFlag(p, true);

    krmPipeline* d = krmPipelineDup(p);
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->SaveAs8Bits);

    krmStage *c1, *m1, *k1, *x1;
    ASSERT_TRUE(krmPipelineCheckAndRetrieveStages(d, 4, krmSigCurveSetElemType, krmSigMatrixElemType,
                                                  krmSigCLutElemType, krmSigXYZ2LabElemType, &c1, &m1, &k1, &x1));
    EXPECT_NE(krmStageData(c1), krmStageData(krmPipelineFirstStage(p)));
    EXPECT_FALSE(krmPipelineCheckAndRetrieveStages(d, 3, krmSigCurveSetElemType, krmSigMatrixElemType,
                                                   krmSigCLutElemType, nullptr, nullptr, nullptr));
    EXPECT_FALSE(krmPipelineCheckAndRetrieveStages(d, 4, krmSigCurveSetElemType, krmSigCLutElemType,
                                                   krmSigCLutElemType, krmSigXYZ2LabElemType, nullptr, nullptr,
                                                   nullptr, nullptr));

    const krmFloat32Number in[3] = {0.2f, 0.5f, 0.9f};
    krmFloat32Number o1[3], o2[3];
    krmPipelineEvalFloat(in, o1, p);
    krmPipelineFree(p);  // the copy must not depend on the original
    krmPipelineEvalFloat(in, o2, d);
    for (int i = 0; i < 3; i++) EXPECT_EQ(o1[i], o2[i]);
    krmPipelineFree(d);
}

// ---------------------------------------------------------------------------------------------
// Stage arithmetic
// ---------------------------------------------------------------------------------------------

TEST_F(PipelineTest, LabToXYZStageGivesD50AtWhite)
{
    krmStage* s = krmStageAllocLab2XYZ(ctx);
    EXPECT_EQ(krmStageType(s), (krmStageSignature)krmSig("x2l "));
    const krmFloat32Number in[3] = {1.0f, 128.0f / 255.0f, 128.0f / 255.0f};
    krmFloat32Number out[3];
    krmStageEvalFloat(s, in, out);
    EXPECT_NEAR(out[0], 0.9642 / 1.999969482421875, 1e-6);
    EXPECT_NEAR(out[1], 1.0 / 1.999969482421875, 1e-6);
    EXPECT_NEAR(out[2], 0.8249 / 1.999969482421875, 1e-6);
    EXPECT_NEAR(out[0], 0.4821, 1e-4);
    krmStageFree(s);
}

// Stages hand 16-bit words on as w / 65535 in single precision, made by a multiplication: the
// float must be the quotient's for every word, and must give the word back.
TEST(PipelineWords, WordToFloatIsTheQuotientAndRoundsBack)
{
    int differ = 0;
    for (krmUInt32Number w = 0; w <= 0xFFFF; w++) {
        const krmFloat32Number f = _krmWordToFloat(krmUInt16Number(w));
        differ += f != krmFloat32Number(w / 65535.0) || krmQuickSaturateWord(f * 65535.0) != w;
    }
    EXPECT_EQ(differ, 0);
}

// The XYZ-to-Lab stage takes its cube roots a faster way than krmXYZ2Lab: its single-precision
// results must still be the very floats krmXYZ2Lab's double results round to, everywhere: on a
// dense grid of the encodable range, around the cube root's threshold, and beyond 16 x white.
TEST_F(PipelineTest, XYZToLabStageRoundsAsTheExactFormula)
{
    krmStage* s = krmStageAllocXYZ2Lab(ctx);
    std::vector<std::array<krmFloat32Number, 3>> inputs;
    for (int i = 0; i <= 96; i++)
        for (int j = 0; j <= 96; j++)
            for (int k = 0; k <= 96; k++) inputs.push_back({i / 96.0f, j / 96.0f, k / 96.0f});
    const krmFloat64Number threshold = 0.008856451679035631 * 0.9642 / krmMAX_ENCODEABLE_XYZ;
    for (int d = -200; d <= 200; d++) {
        const krmFloat32Number x = krmFloat32Number(threshold) + d * 1e-9f;
        inputs.push_back({x, x, x});
    }
    for (krmFloat32Number big : {7.0f, 7.9f, 8.5f, 100.0f}) inputs.push_back({big, 0.3f, big});
    // Where a* or b* is near -128 the encoded value is near 0 and its floats are finely spaced:
    // any slip of the fast root shows there.
    for (int j = 2; j <= 16; j++) {
        const krmFloat64Number fy = std::cbrt(j / 16.0 * krmMAX_ENCODEABLE_XYZ);
        const krmFloat64Number fx = fy - 128.0 / 500.0, fz = fy + 128.0 / 200.0;
        krmFloat32Number x = krmFloat32Number(fx * fx * fx * 0.9642 / krmMAX_ENCODEABLE_XYZ);
        krmFloat32Number z = krmFloat32Number(fz * fz * fz * 0.8249 / krmMAX_ENCODEABLE_XYZ);
        for (int d = 0; d < 3000; d++, x = std::nextafter(x, 0.0f), z = std::nextafter(z, 0.0f))
            inputs.push_back({x, j / 16.0f, z});
    }
    std::uint32_t seed = 12345;
    for (int n = 0; n < 200000; n++) {
        std::array<krmFloat32Number, 3> v;
        for (auto& c : v) c = krmFloat32Number((seed = seed * 1664525u + 1013904223u) >> 8) / 16777216.0f * 1.2f;
        inputs.push_back(v);
    }
    size_t differ = 0;
    for (const auto& in : inputs) {
        krmFloat32Number out[3];
        krmStageEvalFloat(s, in.data(), out);
        const krmCIEXYZ XYZ{in[0] * krmMAX_ENCODEABLE_XYZ, in[1] * krmMAX_ENCODEABLE_XYZ, in[2] * krmMAX_ENCODEABLE_XYZ};
        krmCIELab Lab;
        krmXYZ2Lab(nullptr, &Lab, &XYZ);
        differ += out[0] != krmFloat32Number(Lab.L / 100.0) || out[1] != krmFloat32Number((Lab.a + 128.0) / 255.0) ||
                  out[2] != krmFloat32Number((Lab.b + 128.0) / 255.0);
    }
    EXPECT_EQ(differ, 0u) << "of " << inputs.size();
    krmStageFree(s);
}

TEST_F(PipelineTest, PCSConversionStagesInvertEachOther)
{
    struct Pair {
        krmStage* (*there)(krmContext);
        krmStage* (*back)(krmContext);
        krmStageSignature a, b;
    };
    const Pair pairs[] = {
        {krmStageAllocLab2XYZ, krmStageAllocXYZ2Lab, krmSig("x2l "), krmSig("l2x ")},
        {krmStageAllocLabV2ToV4, krmStageAllocLabV4ToV2, krmSig("2 4 "), krmSig("4 2 ")},
        {krmStageAllocFloatPCS2Lab, krmStageAllocLab2FloatPCS, krmSig("l2d "), krmSig("d2l ")},
        {krmStageAllocFloatPCS2XYZ, krmStageAllocXYZ2FloatPCS, krmSig("x2d "), krmSig("d2x ")},
    };
    for (const Pair& pr : pairs) {
        krmPipeline* p = krmPipelineAlloc(ctx, 3, 3);
        krmStage* s1 = pr.there(ctx);
        krmStage* s2 = pr.back(ctx);
        EXPECT_EQ(krmStageImplements(s1), pr.a);
        EXPECT_EQ(krmStageImplements(s2), pr.b);
        ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, s1));
        ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, s2));
        for (int i = 0; i <= 8; i++)
            for (int j = 0; j <= 8; j++) {
                const krmFloat32Number in[3] = {0.05f + i * 0.1f, j / 8.0f, 1.0f - j / 8.0f};
                krmFloat32Number out[3];
                krmPipelineEvalFloat(in, out, p);
                for (int k = 0; k < 3; k++) EXPECT_NEAR(out[k], in[k], 2e-5) << std::hex << pr.a;
            }
        krmPipelineFree(p);
    }
}

TEST_F(PipelineTest, MatrixStageWithOffsetAndNonSquareShape)
{
    const krmFloat64Number m[6] = {1, 2, 3, 4, 5, 6};  // 2 rows, 3 columns
    const krmFloat64Number off[2] = {0.5, -0.5};
    krmStage* s = krmStageAllocMatrix(ctx, 2, 3, m, off);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(krmStageInputChannels(s), 3u);
    EXPECT_EQ(krmStageOutputChannels(s), 2u);
    const krmFloat32Number in[3] = {1, 0.5f, 0.25f};
    krmFloat32Number out[2];
    krmStageEvalFloat(s, in, out);
    EXPECT_FLOAT_EQ(out[0], 1 + 1 + 0.75f + 0.5f);
    EXPECT_FLOAT_EQ(out[1], 4 + 2.5f + 1.5f - 0.5f);
    krmStageFree(s);

    EXPECT_EQ(krmStageAllocMatrix(ctx, 0, 3, m, nullptr), nullptr);
}

TEST_F(PipelineTest, ClipNegativesAndIdentityStages)
{
    krmPipeline* p = krmPipelineAlloc(ctx, 4, 4);
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocIdentity(ctx, 4)));
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocClipNegatives(ctx, 4)));
    const krmFloat32Number in[4] = {-0.5f, 0.25f, -1e-9f, 1.5f};
    krmFloat32Number out[4];
    krmPipelineEvalFloat(in, out, p);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[1], 0.25f);
    EXPECT_EQ(out[2], 0.0f);
    EXPECT_EQ(out[3], 1.5f);
    krmPipelineFree(p);

    krmStage* idc = krmStageAllocIdentityCurves(ctx, 3);
    EXPECT_EQ(krmStageType(idc), (krmStageSignature)krmSigCurveSetElemType);
    EXPECT_EQ(krmStageImplements(idc), (krmStageSignature)krmSigIdentityElemType);
    krmStageFree(idc);
}

TEST_F(PipelineTest, IdentityCLutReturnsItsInput)
{
    krmPipeline* p = krmPipelineAlloc(ctx, 3, 3);
    krmStage* s = krmStageAllocIdentityCLut(ctx, 3);
    EXPECT_EQ(krmStageImplements(s), (krmStageSignature)krmSigIdentityElemType);
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, s));
    const krmUInt16Number tries[][3] = {{0, 0, 0}, {65535, 65535, 65535}, {1000, 2000, 3000}, {65535, 0, 32768}};
    for (const auto& t : tries) {
        krmUInt16Number out[3];
        krmPipelineEval16(t, out, p);
        for (int i = 0; i < 3; i++) EXPECT_NEAR(out[i], t[i], 1);
    }
    krmPipelineFree(p);
}

TEST_F(PipelineTest, SixteenBitAndFloatEvaluationAgree)
{
    krmPipeline* p = krmPipelineAlloc(ctx, 3, 3);
    krmToneCurve* g = krmBuildGamma(ctx, 1.8);
    krmToneCurve* curves[3] = {g, g, g};
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocToneCurves(ctx, 3, curves)));
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, sampledCLut(ctx, 17, swapSampler)));
    krmFreeToneCurve(g);

    for (int i = 0; i < 9; i++)
        for (int j = 0; j < 9; j++)
            for (int k = 0; k < 9; k++) {
                krmUInt16Number in16[3] = {krmQuantizeVal(i, 9), krmQuantizeVal(j, 9), krmQuantizeVal(k, 9)}, out16[3];
                krmFloat32Number inf[3], outf[3];
                for (int c = 0; c < 3; c++) inf[c] = in16[c] / 65535.0f;
                krmPipelineEval16(in16, out16, p);
                krmPipelineEvalFloat(inf, outf, p);
                for (int c = 0; c < 3; c++) EXPECT_EQ(out16[c], krmQuickSaturateWord(outf[c] * 65535.0));
            }
    krmPipelineFree(p);
}

TEST_F(PipelineTest, FloatCLutInterpolatesDirectly)
{
    const krmUInt32Number grid[2] = {2, 3};
    const krmFloat32Number table[6] = {0.0f, 0.25f, 0.5f, 1.0f, 1.25f, 1.5f};  // f(x, y) = x + y / 2
    krmStage* s = krmStageAllocCLutFloatGranular(ctx, grid, 2, 1, table);
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(((krmStageCLutData*)krmStageData(s))->HasFloatValues);
    const krmFloat32Number in[2] = {0.5f, 0.75f};
    krmFloat32Number out[1];
    krmStageEvalFloat(s, in, out);
    EXPECT_NEAR(out[0], 0.5f * 1.0f + 0.75f * 0.5f, 1e-6);
    // 16-bit sampling does not apply to a float table.
    EXPECT_FALSE(krmStageSampleCLut16bit(s, swapSampler, nullptr, 0));
    krmStageFree(s);
}

// ---------------------------------------------------------------------------------------------
// Named colours
// ---------------------------------------------------------------------------------------------

TEST_F(PipelineTest, NamedColourStageIndexesTheListAndReportsOutOfRange)
{
    krmNamedColorList* list = krmAllocNamedColorList(ctx, 10, 2, "pre", "suf");
    for (int i = 0; i < 10; i++) {
        const krmUInt16Number pcs[3] = {(krmUInt16Number)(i * 1000), 2, 3};
        krmUInt16Number dev[krmMAXCHANNELS] = {0};
        dev[0] = (krmUInt16Number)(i * 100);
        dev[1] = 65535;
        char name[8];
        snprintf(name, sizeof name, "c%d", i);
        ASSERT_TRUE(krmAppendNamedColor(list, name, pcs, dev));
    }

    krmStage* dev = krmStageAllocNamedColor(list, false);
    krmStage* pcs = krmStageAllocNamedColor(list, true);
    krmFreeNamedColorList(list);  // the stages own copies
    ASSERT_NE(dev, nullptr);
    ASSERT_NE(pcs, nullptr);
    EXPECT_EQ(krmStageOutputChannels(dev), 2u);
    EXPECT_EQ(krmStageOutputChannels(pcs), 3u);

    krmFloat32Number in[1] = {3.0f / 65535.0f}, out[3];
    krmStageEvalFloat(dev, in, out);
    EXPECT_FLOAT_EQ(out[0], 300 / 65535.0f);
    EXPECT_FLOAT_EQ(out[1], 1.0f);
    krmStageEvalFloat(pcs, in, out);
    EXPECT_FLOAT_EQ(out[0], 3000 / 65535.0f);

    in[0] = 1.0f;
    out[0] = out[1] = 7;
    krmStageEvalFloat(dev, in, out);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[1], 0.0f);
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0].code, (krmUInt32Number)krmErrRange);
    EXPECT_EQ(g_log[0].text, "Color 65535 out of range");

    krmStage* copy = krmStageDup(dev);
    EXPECT_NE(krmGetNamedColorListFromStage(copy), krmGetNamedColorListFromStage(dev));
    EXPECT_EQ(krmNamedColorCount(krmGetNamedColorListFromStage(copy)), 10u);
    krmStageFree(copy);
    krmStageFree(dev);
    krmStageFree(pcs);
}

// ---------------------------------------------------------------------------------------------
// Grids
// ---------------------------------------------------------------------------------------------

namespace {
struct Visits {
    std::vector<std::vector<krmUInt16Number>> nodes;
    size_t stopAfter = SIZE_MAX;
};

krmInt32Number recordSampler(const krmUInt16Number In[], krmUInt16Number Out[], void* Cargo)
{
    Visits* v = (Visits*)Cargo;
    EXPECT_EQ(Out, nullptr);
    v->nodes.push_back({In[0], In[1]});
    return v->nodes.size() < v->stopAfter;
}

krmInt32Number invertSampler(const krmUInt16Number In[], krmUInt16Number Out[], void*)
{
    for (int i = 0; i < 3; i++) Out[i] = (krmUInt16Number)(65535 - Out[i]);
    return true;
}
}  // namespace

TEST_F(PipelineTest, SliceSpaceVisitsNodesWithLastInputFastest)
{
    const krmUInt32Number grid[2] = {2, 3};
    Visits v;
    ASSERT_TRUE(krmSliceSpace16(2, grid, recordSampler, &v));
    ASSERT_EQ(v.nodes.size(), 6u);
    const krmUInt16Number expect[6][2] = {{0, 0}, {0, 32768}, {0, 65535}, {65535, 0}, {65535, 32768}, {65535, 65535}};
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(v.nodes[i][0], expect[i][0]);
        EXPECT_EQ(v.nodes[i][1], expect[i][1]);
    }

    Visits stop;
    stop.stopAfter = 2;
    EXPECT_FALSE(krmSliceSpace16(2, grid, recordSampler, &stop));
    EXPECT_EQ(stop.nodes.size(), 2u);

    const krmUInt32Number bad[2] = {2, 1};
    EXPECT_FALSE(krmSliceSpace16(2, bad, recordSampler, &v));
    krmUInt32Number many[16];
    for (auto& m : many) m = 2;
    EXPECT_FALSE(krmSliceSpace16(16, many, recordSampler, &v));
}

TEST_F(PipelineTest, SamplingWritesBackUnlessInspecting)
{
    krmStage* s = sampledCLut(ctx, 3, swapSampler);
    krmStageCLutData* d = (krmStageCLutData*)krmStageData(s);
    std::vector<krmUInt16Number> before(d->Tab.T16, d->Tab.T16 + d->nEntries);

    ASSERT_TRUE(krmStageSampleCLut16bit(s, invertSampler, nullptr, krmSAMPLER_INSPECT));
    EXPECT_TRUE(std::equal(before.begin(), before.end(), d->Tab.T16));

    ASSERT_TRUE(krmStageSampleCLut16bit(s, invertSampler, nullptr, 0));
    for (krmUInt32Number i = 0; i < d->nEntries; i++) EXPECT_EQ(d->Tab.T16[i], 65535 - before[i]);

    krmStage* notClut = krmStageAllocIdentity(ctx, 3);
    EXPECT_FALSE(krmStageSampleCLut16bit(notClut, invertSampler, nullptr, 0));
    krmStageFree(notClut);
    krmStageFree(s);
}

// ---------------------------------------------------------------------------------------------
// Reverse evaluation
// ---------------------------------------------------------------------------------------------

TEST_F(PipelineTest, ReverseEvaluationOfIdentityReachesTarget)
{
    krmPipeline* p = krmPipelineAlloc(ctx, 3, 3);
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocIdentity(ctx, 3)));
    // Near 1 the finite-difference step has to go down: start there, end there, pass through.
    struct Case {
        krmFloat32Number target[3];
        std::optional<std::array<krmFloat32Number, 3>> hint;
    };
    const Case cases[] = {
        {{0.2f, 0.4f, 0.6f}, std::nullopt},
        {{0.5f, 0.5f, 0.5f}, std::array<krmFloat32Number, 3>{1, 1, 1}},
        {{0.9995f, 1.0f, 0.9999f}, std::nullopt},
        {{0.3f, 0.9995f, 0.7f}, std::array<krmFloat32Number, 3>{0.9992f, 0.1f, 1}},
    };
    for (const Case& c : cases) {
        krmFloat32Number result[3] = {-1, -1, -1};
        ASSERT_TRUE(krmPipelineEvalReverseFloat(c.target, result, c.hint ? c.hint->data() : nullptr, p));
        for (int i = 0; i < 3; i++) EXPECT_NEAR(result[i], c.target[i], 1e-5) << "channel " << i << " of " << c.target[0];
    }
    krmPipelineFree(p);
}

TEST_F(PipelineTest, ReverseEvaluationWithFixedFourthInput)
{
    // out_j = 0.6 * in_j + 0.3 * in_3 (a K that darkens every channel).
    const krmFloat64Number m[12] = {0.6, 0, 0, 0.3, 0, 0.6, 0, 0.3, 0, 0, 0.6, 0.3};
    krmPipeline* p = krmPipelineAlloc(ctx, 4, 3);
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocMatrix(ctx, 3, 4, m, nullptr)));
    krmFloat32Number target[4] = {0.3f, 0.45f, 0.6f, 0.5f};
    krmFloat32Number hint[3] = {0.5f, 0.5f, 0.5f};
    krmFloat32Number result[4];
    ASSERT_TRUE(krmPipelineEvalReverseFloat(target, result, hint, p));
    EXPECT_NEAR(result[0], 0.25f, 1e-4);
    EXPECT_NEAR(result[1], 0.5f, 1e-4);
    EXPECT_NEAR(result[2], 0.75f, 1e-4);
    EXPECT_EQ(result[3], 0.5f);

    // A singular Jacobian (every output from one input) fails.
    const krmFloat64Number flat[9] = {1, 0, 0, 1, 0, 0, 1, 0, 0};
    krmPipeline* s = krmPipelineAlloc(ctx, 3, 3);
    ASSERT_TRUE(krmPipelineInsertStage(s, krmAT_END, krmStageAllocMatrix(ctx, 3, 3, flat, nullptr)));
    EXPECT_FALSE(krmPipelineEvalReverseFloat(target, result, nullptr, s));
    krmPipelineFree(s);
    krmPipelineFree(p);
}

// ---------------------------------------------------------------------------------------------
// No allocation while evaluating
// ---------------------------------------------------------------------------------------------

namespace {
std::atomic<int> g_allocs{0};

void* countingMalloc(krmContext, krmUInt32Number size)
{
    g_allocs++;
    return malloc(size);
}
void countingFree(krmContext, void* p)
{
    free(p);
}
void* countingRealloc(krmContext, void* p, krmUInt32Number size)
{
    g_allocs++;
    return realloc(p, size);
}
}  // namespace

TEST(PipelineAllocation, EvaluationAllocatesNothing)
{
    krmPluginMemHandler mem;
    memset(&mem, 0, sizeof(mem));
    mem.base.Magic = krmPluginMagicNumber;
    mem.base.ExpectedVersion = 2200;
    mem.base.Type = krmPluginMemHandlerSig;
    mem.MallocPtr = countingMalloc;
    mem.FreePtr = countingFree;
    mem.ReallocPtr = countingRealloc;

    krmContext ctx = krmCreateContext(&mem, nullptr);
    ASSERT_NE(ctx, nullptr);

    krmPipeline* p = krmPipelineAlloc(ctx, 3, 3);
    krmToneCurve* g = krmBuildGamma(ctx, 2.2);
    krmToneCurve* curves[3] = {g, g, g};
    const krmFloat64Number m[9] = {0.4, 0.3, 0.2, 0.2, 0.6, 0.1, 0.0, 0.1, 0.7};
    const krmUInt32Number grid[3] = {5, 5, 5};
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocToneCurves(ctx, 3, curves)));
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocMatrix(ctx, 3, 3, m, nullptr)));
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocCLut16bit(ctx, 9, 3, 3, nullptr)));
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocCLutFloatGranular(ctx, grid, 3, 3, nullptr)));
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocXYZ2Lab(ctx)));
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocLab2XYZ(ctx)));
    ASSERT_TRUE(krmPipelineInsertStage(p, krmAT_END, krmStageAllocClipNegatives(ctx, 3)));
    krmFreeToneCurve(g);
    EXPECT_GT(g_allocs.load(), 0);  // the counter sees this context's allocations

    int before = g_allocs.load();
    krmUInt16Number in16[3] = {100, 40000, 65535}, out16[3];
    krmFloat32Number inf[3] = {0.1f, 0.5f, 0.9f}, outf[3], target[3] = {0.3f, 0.3f, 0.3f}, res[3];
    for (int i = 0; i < 100; i++) {
        krmPipelineEval16(in16, out16, p);
        krmPipelineEvalFloat(inf, outf, p);
    }
    krmPipelineEvalReverseFloat(target, res, nullptr, p);
    EXPECT_EQ(g_allocs.load(), before);

    krmPipelineFree(p);
    krmDeleteContext(ctx);
}
