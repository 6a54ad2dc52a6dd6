// LUT tag types: the stages decoded from every LUT tag of the corpus, encode/decode round trips,
// the hand-made edge cases and the writers' refusals.

#include "support/error_log.h"
#include "krm_internal.h"
#include "support/lut_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

using lut_support::Bytes;
using lut_support::decode;
using lut_support::encode;
using lut_support::stageTypes;

namespace {

using error_log::captureHandler;
using error_log::g_log;
using error_log::Logged;

class LutTypesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_log.clear();
        ctx = krmCreateContext(nullptr, nullptr);
        ASSERT_NE(ctx, nullptr);
        krmSetLogErrorHandlerInContext(ctx, captureHandler);
    }
    void TearDown() override { krmDeleteContext(ctx); }

    bool logged(const std::string& text) const
    {
        for (const Logged& l : g_log)
            if (l.text == text) return true;
        return false;
    }
    krmContext ctx = nullptr;
};

uint32_t be32(const std::vector<uint8_t>& b, size_t at)
{
    return (uint32_t(b[at]) << 24) | (uint32_t(b[at + 1]) << 16) | (uint32_t(b[at + 2]) << 8) | b[at + 3];
}

// The stage sequence a stored LUT tag must decode into, worked out from its raw bytes.
std::vector<std::string> expectedStages(const std::vector<uint8_t>& raw)
{
    std::vector<std::string> out;
    const uint32_t type = be32(raw, 0);
    if (type == krmSig("mft1") || type == krmSig("mft2")) {
        const unsigned in = raw[8], grid = raw[10];
        bool identity = true;
        for (int i = 0; i < 9; i++) {
            double v = (int32_t)be32(raw, 12 + 4 * i) / 65536.0;
            if (fabs(v - ((i % 4) == 0 ? 1.0 : 0.0)) > 1.0 / 65535.0) identity = false;
        }
        if (in == 3 && !identity) out.push_back("matf");
        bool tables = type == krmSig("mft1") || ((raw[48] << 8) | raw[49]) != 0;
        if (tables) out.push_back("cvst");
        if (grid != 0) out.push_back("clut");
        bool outTables = type == krmSig("mft1") || ((raw[50] << 8) | raw[51]) != 0;
        if (outTables) out.push_back("cvst");
    } else if (type == krmSig("mAB ") || type == krmSig("mBA ")) {
        const uint32_t B = be32(raw, 12), Mat = be32(raw, 16), M = be32(raw, 20), C = be32(raw, 24), A = be32(raw, 28);
        if (type == krmSig("mAB ")) {
            if (A) out.push_back("cvst");
            if (C) out.push_back("clut");
            if (M) out.push_back("cvst");
            if (Mat) out.push_back("matf");
            if (B) out.push_back("cvst");
        } else {
            if (B) out.push_back("cvst");
            if (Mat) out.push_back("matf");
            if (M) out.push_back("cvst");
            if (C) out.push_back("clut");
            if (A) out.push_back("cvst");
        }
    } else if (type == krmSig("mpet")) {
        const uint32_t n = be32(raw, 12);
        for (uint32_t i = 0; i < n; i++) {
            uint32_t off = be32(raw, 16 + 8 * i);
            std::string t = lut_support::sigString(be32(raw, off));
            if (t != "bACS" && t != "eACS") out.push_back(t);
        }
    }
    return out;
}

// Evaluates both pipelines on a grid (9 per axis, 3 per axis beyond 4 inputs): 16-bit results
// must be equal and float results within 1e-6.
void expectSameEvaluation(const krmPipeline* a, const krmPipeline* b, const std::string& what)
{
    ASSERT_EQ(krmPipelineInputChannels(a), krmPipelineInputChannels(b)) << what;
    ASSERT_EQ(krmPipelineOutputChannels(a), krmPipelineOutputChannels(b)) << what;
    const krmUInt32Number nIn = krmPipelineInputChannels(a), nOut = krmPipelineOutputChannels(a);
    const krmUInt32Number per = nIn > 4 ? 3 : 9;
    krmUInt32Number total = 1;
    for (krmUInt32Number i = 0; i < nIn; i++) total *= per;

    int mismatches16 = 0, mismatchesF = 0;
    for (krmUInt32Number node = 0; node < total; node++) {
        krmUInt16Number in16[16], o1[16], o2[16];
        krmFloat32Number inf[16], f1[16], f2[16];
        krmUInt32Number rest = node;
        for (krmInt32Number t = (krmInt32Number)nIn - 1; t >= 0; t--) {
            in16[t] = krmQuantizeVal(rest % per, per);
            inf[t] = in16[t] / 65535.0f;
            rest /= per;
        }
        krmPipelineEval16(in16, o1, a);
        krmPipelineEval16(in16, o2, b);
        krmPipelineEvalFloat(inf, f1, a);
        krmPipelineEvalFloat(inf, f2, b);
        for (krmUInt32Number c = 0; c < nOut; c++) {
            if (o1[c] != o2[c]) mismatches16++;
            if (!(fabs(f1[c] - f2[c]) <= 1e-6)) mismatchesF++;
        }
    }
    EXPECT_EQ(mismatches16, 0) << what;
    EXPECT_EQ(mismatchesF, 0) << what;
}

const krmTagSignature kLutTags[] = {
    krmSig("A2B0"), krmSig("A2B1"), krmSig("A2B2"), krmSig("B2A0"), krmSig("B2A1"), krmSig("B2A2"),
    krmSig("D2B0"), krmSig("D2B1"), krmSig("D2B2"), krmSig("D2B3"), krmSig("B2D0"), krmSig("B2D1"),
    krmSig("B2D2"), krmSig("B2D3"), krmSig("gamt"), krmSig("pre0"), krmSig("pre1"), krmSig("pre2"),
};

// Corpus tags that are damaged and must be refused, each with its cause.
struct Malformed {
    const char* file;
    const char* tag;
    const char* cause;
};
const Malformed kMalformed[] = {
    {"Crayons.icc", "B2A0", "'mBA ' whose M curves at offset 32 run into its matrix at 48"},
    {"x11-colors.icc", "B2A0", "'mBA ' whose M curves at offset 32 run into its matrix at 48"},
};

bool isMalformed(const std::string& path, krmTagSignature sig)
{
    for (const Malformed& m : kMalformed) {
        if (path.size() >= strlen(m.file) && path.compare(path.size() - strlen(m.file), std::string::npos, m.file) == 0 &&
            lut_support::sigString(sig) == m.tag)
            return true;
    }
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Corpus
// ---------------------------------------------------------------------------------------------

TEST_F(LutTypesTest, CorpusTagsDecodeIntoTheirStagesAndSurviveEncoding)
{
    int tagsSeen = 0;
    for (const std::string& path : lut_support::corpusProfiles()) {
        krmProfile h = krmOpenProfileFromFileInContext(ctx, path.c_str(), "r");
        ASSERT_NE(h, nullptr) << path;
        for (krmTagSignature sig : kLutTags) {
            if (!krmIsTag(h, sig)) continue;
            const std::string what = path + " " + lut_support::sigString(sig);
            std::vector<uint8_t> raw = lut_support::rawTag(path, h, sig);
            ASSERT_GE(raw.size(), 32u) << what;

            const krmPipeline* lut = (const krmPipeline*)krmReadTag(h, sig);
            if (isMalformed(path, sig)) {
                EXPECT_EQ(lut, nullptr) << what;
                continue;
            }
            ASSERT_NE(lut, nullptr) << what;
            tagsSeen++;
            EXPECT_EQ(stageTypes(lut), expectedStages(raw)) << what;
            EXPECT_FALSE(lut->SaveAs8Bits) << what;

            krmTagTypeSignature type = krmGetTagStoredType(h, sig);
            EXPECT_EQ(type, be32(raw, 0)) << what;

            std::vector<uint8_t> bytes = encode(ctx, type, (void*)lut);
            ASSERT_FALSE(bytes.empty()) << what;
            krmPipeline* again = decode(ctx, bytes);
            ASSERT_NE(again, nullptr) << what;
            EXPECT_EQ(stageTypes(again), stageTypes(lut)) << what;
            expectSameEvaluation(lut, again, what);
            krmPipelineFree(again);
        }
        krmCloseProfile(h);
    }
    EXPECT_GE(tagsSeen, 10);
}

// Every prefix of a stored tag is refused cleanly (no read past the data, nothing leaked).
TEST_F(LutTypesTest, TruncatedCorpusTagsAreRefused)
{
    int checked = 0;
    for (const std::string& path : lut_support::corpusProfiles()) {
        krmProfile h = krmOpenProfileFromFileInContext(ctx, path.c_str(), "r");
        ASSERT_NE(h, nullptr);
        for (krmTagSignature sig : kLutTags) {
            std::vector<uint8_t> raw = lut_support::rawTag(path, h, sig);
            if (raw.empty()) continue;
            // Trailing padding may be cut without harm; cut inside the data proper.
            for (size_t cut : {size_t(9), size_t(20), size_t(40), raw.size() / 3, raw.size() / 2,
                               raw.size() * 9 / 10}) {
                if (cut < 8 || cut + 4 >= raw.size()) continue;
                std::vector<uint8_t> part(raw.begin(), raw.begin() + cut);
                krmPipeline* p = decode(ctx, part);
                EXPECT_EQ(p, nullptr) << path << " " << lut_support::sigString(sig) << " cut at " << cut;
                krmPipelineFree(p);
                checked++;
            }
        }
        krmCloseProfile(h);
    }
    EXPECT_GT(checked, 0);
}

// ---------------------------------------------------------------------------------------------
// lut8 and lut16
// ---------------------------------------------------------------------------------------------

namespace {

// An RGB -> Lab style pipeline: [matrix] curves, 33-point CLUT, curves.
krmPipeline* rgbToLabLike(krmContext ctx, bool withMatrix)
{
    krmPipeline* p = krmPipelineAlloc(ctx, 3, 3);
    if (withMatrix) {
        // Multiples of 1/256 survive s15Fixed16 exactly.
        const krmFloat64Number m[9] = {0.90625, 0.09375, 0, 0, 1, 0, 0.046875, 0, 0.953125};
        krmPipelineInsertStage(p, krmAT_END, krmStageAllocMatrix(ctx, 3, 3, m, nullptr));
    }
    krmToneCurve* g = krmBuildGamma(ctx, 2.2);
    krmToneCurve* t = krmBuildTabulatedToneCurve16(ctx, 256, nullptr);
    for (int i = 0; i < 256; i++) t->Table16[i] = krmEvalToneCurve16(g, (krmUInt16Number)(i * 257));
    krmToneCurve* c[3] = {t, t, t};
    krmPipelineInsertStage(p, krmAT_END, krmStageAllocToneCurves(ctx, 3, c));
    krmStage* clut = krmStageAllocCLut16bit(ctx, 33, 3, 3, nullptr);
    krmStageCLutData* d = (krmStageCLutData*)krmStageData(clut);
    for (krmUInt32Number i = 0; i < d->nEntries; i++) d->Tab.T16[i] = (krmUInt16Number)((i * 2654435761u) >> 16);
    krmPipelineInsertStage(p, krmAT_END, clut);
    krmPipelineInsertStage(p, krmAT_END, krmStageAllocToneCurves(ctx, 3, c));
    krmFreeToneCurve(g);
    krmFreeToneCurve(t);
    return p;
}

// An 'mft1' or 'mft2' header with the given counts and an identity (or scaled) matrix.
Bytes lutHeader(const char (&type)[5], unsigned in, unsigned out, unsigned grid, bool identity)
{
    Bytes b;
    b.sig(type).u32(0).u8(in).u8(out).u8(grid).u8(0);
    for (int i = 0; i < 9; i++) b.s15((i % 4) == 0 ? (identity ? 1.0 : 0.5) : 0.0);
    return b;
}

}  // namespace

TEST_F(LutTypesTest, Lut16WithAndWithoutMatrix)
{
    for (bool withMatrix : {true, false}) {
        krmPipeline* p = rgbToLabLike(ctx, withMatrix);
        std::vector<uint8_t> bytes = encode(ctx, krmSig("mft2"), p);
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(bytes[10], 33);
        krmPipeline* q = decode(ctx, bytes);
        ASSERT_NE(q, nullptr);
        EXPECT_EQ(krmPipelineStageCount(q), withMatrix ? 4u : 3u);
        expectSameEvaluation(p, q, withMatrix ? "with matrix" : "without matrix");
        krmPipelineFree(p);
        krmPipelineFree(q);
    }
}

TEST_F(LutTypesTest, Lut8GridPointsRules)
{
    // Grid points 1 is no grid.
    Bytes one = lutHeader("mft1", 3, 3, 1, true);
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 256; j++) one.u8(j);
    one.zeros(3).zeros(3 * 256);
    EXPECT_EQ(decode(ctx, one.b), nullptr);

    // Grid points 0: no CLUT, two curve sets (after a matrix when one is given).
    for (bool identity : {true, false}) {
        Bytes zero = lutHeader("mft1", 3, 3, 0, identity);
        for (int i = 0; i < 6; i++)
            for (int j = 0; j < 256; j++) zero.u8(j);
        krmPipeline* p = decode(ctx, zero.b);
        ASSERT_NE(p, nullptr);
        std::vector<std::string> want = {"cvst", "cvst"};
        if (!identity) want.insert(want.begin(), "matf");
        EXPECT_EQ(stageTypes(p), want);
        krmPipelineFree(p);
    }
}

TEST_F(LutTypesTest, CurveTablesStopAt32767Entries)
{
    // Readers: an 'mft2' table and a 'curv' embedded in 'mAB ' or 'mBA ' of 32767 entries read,
    // of 32768 do not.
    for (unsigned n : {32767u, 32768u}) {
        Bytes lut16 = lutHeader("mft2", 1, 1, 2, true);
        lut16.u16(n).u16(2).zeros(n * 2 + 2 * 2 + 2 * 2);
        krmPipeline* p = decode(ctx, lut16.b);
        EXPECT_EQ(p != nullptr, n == 32767u) << "mft2 with " << n;
        krmPipelineFree(p);
        for (const char* type : {"mAB ", "mBA "}) {
            Bytes b;
            b.sig(*(const char(*)[5])type).u32(0).u8(1).u8(1).u16(0);
            b.u32(32).u32(0).u32(0).u32(0).u32(0);
            b.sig("curv").u32(0).u32(n).zeros(n * 2).pad4();
            p = decode(ctx, b.b);
            EXPECT_EQ(p != nullptr, n == 32767u) << type << " with " << n;
            krmPipelineFree(p);
        }
    }

    // Writers: what the readers refuse is refused when writing, with the limit named, so that a
    // profile we save always opens again.
    for (unsigned n : {32767u, 32768u}) {
        std::vector<krmUInt16Number> ramp(n);
        for (unsigned i = 0; i < n; i++) ramp[i] = krmUInt16Number(i * 65535.0 / (n - 1) + 0.5);
        krmToneCurve* c = krmBuildTabulatedToneCurve16(ctx, n, ramp.data());
        ASSERT_NE(c, nullptr);
        krmPipeline* p = krmPipelineAlloc(ctx, 1, 1);
        krmPipelineInsertStage(p, krmAT_END, krmStageAllocToneCurves(ctx, 1, &c));
        for (const char* type : {"mAB ", "mBA ", "mft2", "curv"}) {
            g_log.clear();
            const krmTagTypeSignature sig = krmSig(*(const char(*)[5])type);
            std::vector<uint8_t> bytes = encode(ctx, sig, sig == krmSig("curv") ? (void*)c : (void*)p);
            if (n == 32767u) {
                ASSERT_FALSE(bytes.empty()) << type;
                if (sig == krmSig("curv")) continue;  // the top-level reader's limit is tested with it
                krmPipeline* q = decode(ctx, bytes);
                ASSERT_NE(q, nullptr) << type;
                const krmStageCurvesData* d = (const krmStageCurvesData*)krmStageData(krmPipelineFirstStage(q));
                EXPECT_EQ(d->TheCurves[0]->nEntries, n) << type;
                expectSameEvaluation(p, q, type);
                krmPipelineFree(q);
            } else {
                EXPECT_TRUE(bytes.empty()) << type;
                ASSERT_FALSE(g_log.empty()) << type;
                EXPECT_EQ(g_log.back().code, (krmUInt32Number)krmErrUnknownExtension) << type;
                EXPECT_EQ(g_log.back().text, "Curve of 32768 entries cannot be saved: curve tables hold at most 32767 entries")
                    << type;
            }
        }
        krmPipelineFree(p);
        krmFreeToneCurve(c);
    }
}

TEST_F(LutTypesTest, Lut8WritesIdentityTablesForMissingInputCurves)
{
    krmPipeline* p = krmPipelineAlloc(ctx, 2, 1);
    krmPipelineInsertStage(p, krmAT_END, krmStageAllocCLut16bit(ctx, 2, 2, 1, nullptr));
    krmToneCurve* t = krmBuildTabulatedToneCurve16(ctx, 256, nullptr);
    for (int i = 0; i < 256; i++) t->Table16[i] = (krmUInt16Number)(65535 - i * 257);
    krmPipelineInsertStage(p, krmAT_END, krmStageAllocToneCurves(ctx, 1, &t));
    krmFreeToneCurve(t);

    std::vector<uint8_t> bytes = encode(ctx, krmSig("mft1"), p);
    ASSERT_EQ(bytes.size(), 48u + 2 * 256 + 4 + 256);
    for (int ch = 0; ch < 2; ch++)
        for (int j = 0; j < 256; j++) ASSERT_EQ(bytes[48 + ch * 256 + j], j);
    EXPECT_EQ(bytes[48 + 512 + 4], 255);  // output table, reversed
    krmPipelineFree(p);

    // 4096-entry curves cannot be stored in 256 bytes.
    krmPipeline* q = krmPipelineAlloc(ctx, 1, 1);
    krmToneCurve* g = krmBuildGamma(ctx, 2.2);
    krmPipelineInsertStage(q, krmAT_END, krmStageAllocToneCurves(ctx, 1, &g));
    krmFreeToneCurve(g);
    EXPECT_TRUE(encode(ctx, krmSig("mft1"), q).empty());
    EXPECT_TRUE(logged("LUT8 needs 256 entries on prelinearization"));
    krmPipelineFree(q);
}

// ---------------------------------------------------------------------------------------------
// Writers: what each type refuses
// ---------------------------------------------------------------------------------------------

TEST_F(LutTypesTest, WritersRefuseShapesTheirTypeCannotHold)
{
    krmToneCurve* g = krmBuildGamma(ctx, 1.0);
    krmToneCurve* c3[3] = {g, g, g};
    const krmFloat64Number m[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    const krmUInt32Number grid[3] = {3, 3, 3};
    const krmUInt32Number uneven[3] = {3, 5, 3};

    krmPipeline* curvesMatrixClutCurves = krmPipelineAlloc(ctx, 3, 3);
    krmPipelineInsertStage(curvesMatrixClutCurves, krmAT_END, krmStageAllocToneCurves(ctx, 3, c3));
    krmPipelineInsertStage(curvesMatrixClutCurves, krmAT_END, krmStageAllocMatrix(ctx, 3, 3, m, nullptr));
    krmPipelineInsertStage(curvesMatrixClutCurves, krmAT_END, krmStageAllocCLut16bit(ctx, 3, 3, 3, nullptr));
    krmPipelineInsertStage(curvesMatrixClutCurves, krmAT_END, krmStageAllocToneCurves(ctx, 3, c3));

    krmPipeline* floatClut = krmPipelineAlloc(ctx, 3, 3);
    krmPipelineInsertStage(floatClut, krmAT_END, krmStageAllocToneCurves(ctx, 3, c3));
    krmPipelineInsertStage(floatClut, krmAT_END, krmStageAllocCLutFloatGranular(ctx, grid, 3, 3, nullptr));
    krmPipelineInsertStage(floatClut, krmAT_END, krmStageAllocToneCurves(ctx, 3, c3));

    krmPipeline* unevenClut = krmPipelineAlloc(ctx, 3, 3);
    krmPipelineInsertStage(unevenClut, krmAT_END, krmStageAllocCLut16bitGranular(ctx, uneven, 3, 3, nullptr));

    krmPipeline* twoClut = krmPipelineAlloc(ctx, 3, 3);
    krmPipelineInsertStage(twoClut, krmAT_END, krmStageAllocCLut16bit(ctx, 3, 3, 3, nullptr));
    krmPipelineInsertStage(twoClut, krmAT_END, krmStageAllocCLut16bit(ctx, 3, 3, 3, nullptr));

    krmPipeline* empty = krmPipelineAlloc(ctx, 3, 3);

    struct Case {
        const char* why;
        const char* type;
        krmPipeline* lut;
        krmUInt32Number code;
        const char* message;
    };
    const Case cases[] = {
        {"matrix between curves and CLUT", "mAB ", curvesMatrixClutCurves, krmErrNotSuitable,
         "LUT is not suitable to be saved as LutAToB"},
        {"single-precision CLUT", "mAB ", floatClut, krmErrNotSuitable,
         "Cannot save floating point data, CLUT are 8 or 16 bit only"},
        {"empty BtoA", "mBA ", empty, krmErrNotSuitable, "LUT is not suitable to be saved as LutBToA"},
        {"empty lut8", "mft1", empty, krmErrUnknownExtension, "empty LUT8 is not supported"},
        {"uneven grid in lut16", "mft2", unevenClut, krmErrUnknownExtension,
         "LUT with different samples per dimension not suitable to be saved as LUT16"},
        {"two CLUTs in lut16", "mft2", twoClut, krmErrUnknownExtension, "LUT is not suitable to be saved as LUT16"},
        {"two CLUTs in lut8", "mft1", twoClut, krmErrUnknownExtension, "LUT is not suitable to be saved as LUT8"},
        {"16-bit CLUT in mpet", "mpet", curvesMatrixClutCurves, 0, nullptr},
    };
    for (const Case& c : cases) {
        g_log.clear();
        krmTagTypeSignature type = krmSig(*(const char(*)[5])c.type);
        EXPECT_TRUE(encode(ctx, type, c.lut).empty()) << c.why;
        if (c.message) {
            ASSERT_FALSE(g_log.empty()) << c.why;
            EXPECT_EQ(g_log.back().text, c.message) << c.why;
            EXPECT_EQ(g_log.back().code, c.code) << c.why;
        }
    }

    krmFreeToneCurve(g);
    for (krmPipeline* p : {curvesMatrixClutCurves, floatClut, unevenClut, twoClut, empty}) krmPipelineFree(p);
}

TEST_F(LutTypesTest, EmptyPipelineAsAtoBAndLut16)
{
    krmPipeline* empty = krmPipelineAlloc(ctx, 3, 3);

    std::vector<uint8_t> ab = encode(ctx, krmSig("mAB "), empty);
    ASSERT_EQ(ab.size(), 32u);
    for (int i = 0; i < 5; i++) EXPECT_EQ(be32(ab, 12 + 4 * i), 0u);

    std::vector<uint8_t> l16 = encode(ctx, krmSig("mft2"), empty);
    ASSERT_EQ(l16.size(), 52u + 3 * 4 + 3 * 4);
    EXPECT_EQ(l16[10], 0);  // no grid
    EXPECT_EQ(be32(l16, 12), 0x10000u);
    EXPECT_EQ(be32(l16, 48), (2u << 16) | 2u);  // two entries in and out
    EXPECT_EQ(be32(l16, 52), 0x0000FFFFu);  // identity table 0, 65535
    krmPipelineFree(empty);
}

TEST_F(LutTypesTest, AtoBWithOnlyBCurvesRoundTrips)
{
    Bytes b;
    b.sig("mAB ").u32(0).u8(3).u8(3).u16(0);
    b.u32(32).u32(0).u32(0).u32(0).u32(0);
    for (int i = 0; i < 3; i++) b.sig("curv").u32(0).u32(1).u16(0x0233).pad4();

    krmPipeline* p = decode(ctx, b.b);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(stageTypes(p), std::vector<std::string>{"cvst"});
    const krmStageCurvesData* d = (const krmStageCurvesData*)krmStageData(krmPipelineFirstStage(p));
    EXPECT_NEAR(krmEvalToneCurveFloat(d->TheCurves[1], 0.5f), pow(0.5, 2.19921875), 1e-5);

    std::vector<uint8_t> again = encode(ctx, krmSig("mAB "), p);
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(be32(again, 12), 32u);  // B
    for (int i = 1; i < 5; i++) EXPECT_EQ(be32(again, 12 + 4 * i), 0u);
    krmPipeline* q = decode(ctx, again);
    ASSERT_NE(q, nullptr);
    expectSameEvaluation(p, q, "B curves");
    krmPipelineFree(p);
    krmPipelineFree(q);
}

TEST_F(LutTypesTest, AtoBAndBtoAFullShapesRoundTrip)
{
    // Values that s15Fixed16 and u8Fixed8 hold exactly, so that encoding loses nothing.
    krmToneCurve* g = krmBuildGamma(ctx, 2.5);
    krmFloat64Number srgbLike[5] = {2.375, 0.9375, 0.0625, 0.078125, 0.03125};
    krmToneCurve* para = krmBuildParametricToneCurve(ctx, 4, srgbLike);
    krmToneCurve* c3[3] = {g, para, g};
    krmToneCurve* c4[4] = {para, g, para, g};
    const krmFloat64Number m[9] = {0.4375, 0.34375, 0.1875, 0.21875, 0.71875, 0.0625, 0.015625, 0.125, 0.703125};
    const krmFloat64Number off[3] = {0.015625, -0.015625, 0.03125};
    const krmUInt32Number grid[4] = {5, 7, 3, 4};

    // CMYK -> PCS: A, CLUT, M, matrix, B.
    krmPipeline* a2b = krmPipelineAlloc(ctx, 4, 3);
    krmPipelineInsertStage(a2b, krmAT_END, krmStageAllocToneCurves(ctx, 4, c4));
    krmStage* clut = krmStageAllocCLut16bitGranular(ctx, grid, 4, 3, nullptr);
    krmStageCLutData* d = (krmStageCLutData*)krmStageData(clut);
    for (krmUInt32Number i = 0; i < d->nEntries; i++) d->Tab.T16[i] = (krmUInt16Number)((i * 40503u) & 0xFFFF);
    krmPipelineInsertStage(a2b, krmAT_END, clut);
    krmPipelineInsertStage(a2b, krmAT_END, krmStageAllocToneCurves(ctx, 3, c3));
    krmPipelineInsertStage(a2b, krmAT_END, krmStageAllocMatrix(ctx, 3, 3, m, off));
    krmPipelineInsertStage(a2b, krmAT_END, krmStageAllocToneCurves(ctx, 3, c3));

    std::vector<uint8_t> bytes = encode(ctx, krmSig("mAB "), a2b);
    krmPipeline* back = decode(ctx, bytes);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(stageTypes(back), (std::vector<std::string>{"cvst", "clut", "cvst", "matf", "cvst"}));
    expectSameEvaluation(a2b, back, "AtoB");
    krmPipelineFree(back);

    // 8-bit precision when asked: the grid stays, values are rounded to 8 bits.
    krmPipelineSetSaveAs8bitsFlag(a2b, true);
    std::vector<uint8_t> bytes8 = encode(ctx, krmSig("mAB "), a2b);
    EXPECT_LT(bytes8.size(), bytes.size());
    krmPipeline* back8 = decode(ctx, bytes8);
    ASSERT_NE(back8, nullptr);
    const krmStageCLutData* d8 = (const krmStageCLutData*)krmStageData(krmStageNext(krmPipelineFirstStage(back8)));
    for (krmUInt32Number i = 0; i < d8->nEntries; i++) ASSERT_NEAR(d8->Tab.T16[i], d->Tab.T16[i], 128);
    krmPipelineFree(back8);

    // PCS -> RGB: B, matrix, M, CLUT, A.
    krmPipeline* b2a = krmPipelineAlloc(ctx, 3, 3);
    krmPipelineInsertStage(b2a, krmAT_END, krmStageAllocToneCurves(ctx, 3, c3));
    krmPipelineInsertStage(b2a, krmAT_END, krmStageAllocMatrix(ctx, 3, 3, m, off));
    krmPipelineInsertStage(b2a, krmAT_END, krmStageAllocToneCurves(ctx, 3, c3));
    krmPipelineInsertStage(b2a, krmAT_END, krmStageAllocCLut16bit(ctx, 9, 3, 3, nullptr));
    krmPipelineInsertStage(b2a, krmAT_END, krmStageAllocToneCurves(ctx, 3, c3));
    krmPipeline* backB = decode(ctx, encode(ctx, krmSig("mBA "), b2a));
    ASSERT_NE(backB, nullptr);
    EXPECT_EQ(stageTypes(backB), (std::vector<std::string>{"cvst", "matf", "cvst", "clut", "cvst"}));
    expectSameEvaluation(b2a, backB, "BtoA");
    // The same stages do not make an AtoB.
    EXPECT_TRUE(encode(ctx, krmSig("mAB "), b2a).empty());

    krmPipelineFree(backB);
    krmPipelineFree(b2a);
    krmPipelineFree(a2b);
    krmFreeToneCurve(g);
    krmFreeToneCurve(para);
}

// Every ICC parametric function type (engine types 1 to 5, with 1, 3, 4, 5 and 7 parameters)
// inside 'mAB ' and 'mBA ': written, read back, the same type and parameters, the same values.
// A writer or reader that stores one parameter too few for a type fails here.
TEST_F(LutTypesTest, EveryParametricTypeRoundTripsInsideAtoBAndBtoA)
{
    struct Case {
        int type;
        std::vector<krmFloat64Number> params;  // exact in s15Fixed16
    };
    const std::vector<Case> cases = {
        {1, {2.25}},
        {2, {2.25, 1.125, -0.125}},
        {3, {2.25, 1.0, -0.0625, 0.03125}},
        {4, {2.375, 0.9375, 0.0625, 0.078125, 0.03125}},
        {5, {2.25, 0.9375, 0.0625, 0.0625, 0.0390625, 0.015625, 0.03125}},
    };
    for (const Case& c : cases) {
        // Each channel its own gamma, so a channel mix-up shows too.
        krmToneCurve* curves[3];
        for (int ch = 0; ch < 3; ch++) {
            std::vector<krmFloat64Number> p = c.params;
            p[0] += 0.25 * ch;
            curves[ch] = krmBuildParametricToneCurve(ctx, c.type, p.data());
            ASSERT_NE(curves[ch], nullptr) << c.type;
        }
        for (const char* tagType : {"mAB ", "mBA "}) {
            SCOPED_TRACE(testing::Message() << "type " << c.type << " in " << tagType);
            krmPipeline* lut = krmPipelineAlloc(ctx, 3, 3);
            krmPipelineInsertStage(lut, krmAT_END, krmStageAllocToneCurves(ctx, 3, curves));
            const std::vector<uint8_t> bytes = encode(ctx, krmSig(tagType[1] == 'A' ? "mAB " : "mBA "), lut);
            ASSERT_FALSE(bytes.empty());
            krmPipeline* back = decode(ctx, bytes);
            ASSERT_NE(back, nullptr);
            ASSERT_EQ(stageTypes(back), std::vector<std::string>{"cvst"});
            const auto* data = (const krmStageCurvesData*)krmStageData(krmPipelineFirstStage(back));
            for (int ch = 0; ch < 3; ch++) {
                const krmToneCurve* t = data->TheCurves[ch];
                EXPECT_EQ(krmGetToneCurveParametricType(t), c.type) << ch;
                const krmCurveSegment* seg = krmGetToneCurveSegment(t, 0);
                ASSERT_NE(seg, nullptr);
                for (size_t k = 0; k < c.params.size(); k++)
                    EXPECT_EQ(seg->Params[k], c.params[k] + (k == 0 ? 0.25 * ch : 0.0)) << ch << " parameter " << k;
                for (int i = 0; i <= 64; i++) {
                    const float x = float(i) / 64.0f;
                    EXPECT_NEAR(krmEvalToneCurveFloat(t, x), krmEvalToneCurveFloat(curves[ch], x), 1e-6) << ch << " at " << x;
                }
            }
            krmPipelineFree(back);
            krmPipelineFree(lut);
        }
        for (krmToneCurve* t : curves) krmFreeToneCurve(t);
    }
}

TEST_F(LutTypesTest, AtoBReaderMessages)
{
    // A curve element of an unknown type.
    Bytes b;
    b.sig("mAB ").u32(0).u8(1).u8(1).u16(0).u32(32).u32(0).u32(0).u32(0).u32(0);
    b.sig("xxxx").u32(0).u32(0);
    EXPECT_EQ(decode(ctx, b.b), nullptr);
    EXPECT_TRUE(logged("Unknown curve type 'xxxx'"));
    // Zeros where a curve should start: named as a number, not as an empty string.
    Bytes z;
    z.sig("mAB ").u32(0).u8(1).u8(1).u16(0).u32(32).u32(0).u32(0).u32(0).u32(0);
    z.u32(0).u32(0).u32(0);
    EXPECT_EQ(decode(ctx, z.b), nullptr);
    EXPECT_TRUE(logged("Unknown curve type 0x00000000"));

    // A parametric function type beyond 4.
    Bytes p;
    p.sig("mAB ").u32(0).u8(1).u8(1).u16(0).u32(32).u32(0).u32(0).u32(0).u32(0);
    p.sig("para").u32(0).u16(5).u16(0).zeros(28);
    EXPECT_EQ(decode(ctx, p.b), nullptr);
    EXPECT_TRUE(logged("Unknown parametric curve type '5'"));

    // A CLUT precision other than 1 or 2.
    Bytes c;
    c.sig("mAB ").u32(0).u8(1).u8(1).u16(0).u32(0).u32(0).u32(0).u32(32).u32(0);
    c.u8(2).zeros(15).u8(3).zeros(3).zeros(8);
    EXPECT_EQ(decode(ctx, c.b), nullptr);
    EXPECT_TRUE(logged("Unknown precision of '3'"));

    // A one-channel tag whose 3 x 3 matrix cannot join its one B curve.
    Bytes j;
    j.sig("mAB ").u32(0).u8(1).u8(1).u16(0).u32(80).u32(32).u32(0).u32(0).u32(0);
    for (int i = 0; i < 12; i++) j.s15(i < 9 ? ((i % 4) == 0 ? 1.0 : 0.0) : 0.0);
    j.sig("curv").u32(0).u32(0);
    EXPECT_EQ(decode(ctx, j.b), nullptr);
}

// ---------------------------------------------------------------------------------------------
// multiProcessElements
// ---------------------------------------------------------------------------------------------

namespace {

// An 'mpet' tag of one element per body given (each body starts with its type base).
Bytes mpetTag(unsigned in, unsigned out, const std::vector<Bytes>& elements, uint32_t declaredCount = UINT32_MAX)
{
    Bytes b;
    b.sig("mpet").u32(0).u16(in).u16(out).u32(declaredCount == UINT32_MAX ? (uint32_t)elements.size() : declaredCount);
    size_t offset = 16 + 8 * elements.size();
    for (const Bytes& e : elements) {
        b.u32((uint32_t)offset).u32((uint32_t)e.b.size());
        offset += e.b.size();
    }
    for (const Bytes& e : elements) b.b.insert(b.b.end(), e.b.begin(), e.b.end());
    return b;
}

// A one-curve 'cvst' element holding a segmented curve: y = x + 0.1 up to 0, three samples on
// (0, 1], y = 1 beyond.
Bytes segmentedCurveElement()
{
    Bytes curf;
    curf.sig("curf").u32(0).u16(3).u16(0).f32(0.0f).f32(1.0f);
    curf.sig("parf").u32(0).u16(0).u16(0).f32(1.0f).f32(1.0f).f32(0.0f).f32(0.1f);
    curf.sig("samf").u32(0).u32(3).f32(0.4f).f32(0.7f).f32(1.0f);
    curf.sig("parf").u32(0).u16(0).u16(0).f32(1.0f).f32(0.0f).f32(0.0f).f32(1.0f);

    Bytes e;
    e.sig("cvst").u32(0).u16(1).u16(1).u32(20).u32((uint32_t)curf.b.size());
    e.b.insert(e.b.end(), curf.b.begin(), curf.b.end());
    return e;
}

}  // namespace

TEST_F(LutTypesTest, SampledSegmentGetsItsStartingValue)
{
    krmPipeline* p = decode(ctx, mpetTag(1, 1, {segmentedCurveElement()}).b);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(stageTypes(p), std::vector<std::string>{"cvst"});
    const krmStageCurvesData* d = (const krmStageCurvesData*)krmStageData(krmPipelineFirstStage(p));
    const krmCurveSegment* seg = krmGetToneCurveSegment(d->TheCurves[0], 1);
    ASSERT_NE(seg, nullptr);
    EXPECT_EQ(seg->Type, 0);
    ASSERT_EQ(seg->nGridPoints, 4u);
    EXPECT_NEAR(seg->SampledPoints[0], 0.1f, 1e-6);
    EXPECT_NEAR(seg->SampledPoints[3], 1.0f, 1e-6);
    EXPECT_NEAR(krmEvalToneCurveFloat(d->TheCurves[0], 0.5f), 0.55f, 1e-5);
    // The 16-bit table agrees with the segments.
    EXPECT_NEAR(krmEvalToneCurve16(d->TheCurves[0], 32768), krmQuickSaturateWord(0.55 * 65535), 40);

    krmPipeline* q = decode(ctx, encode(ctx, krmSig("mpet"), p));
    ASSERT_NE(q, nullptr);
    expectSameEvaluation(p, q, "segmented");
    krmPipelineFree(q);
    krmPipelineFree(p);
}

TEST_F(LutTypesTest, MultiProcessElementsRoundTrip)
{
    Bytes mat;
    mat.sig("matf").u32(0).u16(1).u16(3);
    for (float v : {0.5f, 0.25f, 0.125f}) mat.f32(v);
    for (float v : {0.1f, 0.2f, 0.3f}) mat.f32(v);
    Bytes clut;
    clut.sig("clut").u32(0).u16(3).u16(2);
    clut.u8(2).u8(3).u8(2).zeros(13);
    for (int i = 0; i < 2 * 3 * 2 * 2; i++) clut.f32(i / 24.0f);
    Bytes acs;
    acs.sig("bACS").u32(0).u16(1).u16(1).u32(0);

    krmPipeline* p = decode(ctx, mpetTag(1, 2, {acs, segmentedCurveElement(), mat, clut}).b);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(stageTypes(p), (std::vector<std::string>{"cvst", "matf", "clut"}));

    krmFloat32Number in[1] = {0.5f}, out[2];
    krmPipelineEvalFloat(in, out, p);
    // curve 0.55 -> matrix (0.375, 0.3375, 0.36875) -> CLUT
    EXPECT_TRUE(out[0] >= 0 && out[0] <= 1);

    krmPipeline* q = decode(ctx, encode(ctx, krmSig("mpet"), p));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(stageTypes(q), stageTypes(p));
    expectSameEvaluation(p, q, "mpet");
    krmPipelineFree(q);
    krmPipelineFree(p);
}

TEST_F(LutTypesTest, MultiProcessElementsLimitsAndMessages)
{
    Bytes mat;
    mat.sig("matf").u32(0).u16(1).u16(1).f32(1.0f).f32(0.0f);

    std::vector<Bytes> fifty(50, mat), fiftyOne(51, mat);
    krmPipeline* ok = decode(ctx, mpetTag(1, 1, fifty).b);
    EXPECT_NE(ok, nullptr);
    EXPECT_EQ(krmPipelineStageCount(ok), 50u);
    krmPipelineFree(ok);
    EXPECT_EQ(decode(ctx, mpetTag(1, 1, fiftyOne).b), nullptr);

    Bytes unknown;
    unknown.sig("abcd").u32(0).u16(1).u16(1);
    EXPECT_EQ(decode(ctx, mpetTag(1, 1, {unknown}).b), nullptr);
    EXPECT_TRUE(logged("Unknown MPE type 'abcd' found."));

    // Declared channels must match the elements.
    EXPECT_EQ(decode(ctx, mpetTag(1, 2, {mat}).b), nullptr);

    // A position table longer than the data.
    EXPECT_EQ(decode(ctx, mpetTag(1, 1, {mat}, 40).b), nullptr);

    Bytes badSeg = segmentedCurveElement();
    size_t at = 0;
    for (size_t i = 0; i + 4 <= badSeg.b.size(); i++)
        if (memcmp(&badSeg.b[i], "samf", 4) == 0) at = i;
    memcpy(&badSeg.b[at], "samx", 4);
    EXPECT_EQ(decode(ctx, mpetTag(1, 1, {badSeg}).b), nullptr);
    EXPECT_TRUE(logged("Unknown curve element type 'samx' found."));

    // Writing a stage with no element type.
    krmPipeline* withXYZ = krmPipelineAlloc(ctx, 3, 3);
    krmPipelineInsertStage(withXYZ, krmAT_END, krmStageAllocXYZ2Lab(ctx));
    EXPECT_TRUE(encode(ctx, krmSig("mpet"), withXYZ).empty());
    EXPECT_TRUE(logged("Found unknown MPE type 'l2x '"));
    krmPipelineFree(withXYZ);
}
