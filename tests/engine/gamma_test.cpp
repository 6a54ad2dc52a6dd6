// Tone curves: constructors and their refusals, parametric types against their inverses, the
// 16-bit table, segmented evaluation, reversal, joining, the table tests and gamma estimation.
#include "krm_internal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

struct ErrorLog {
    static std::vector<std::pair<krmUInt32Number, std::string>>& entries()
    {
        static std::vector<std::pair<krmUInt32Number, std::string>> e;
        return e;
    }
    static void Handler(krmContext, krmUInt32Number code, const char* text) { entries().emplace_back(code, text); }
    ErrorLog()
    {
        entries().clear();
        krmSetLogErrorHandler(Handler);
    }
    ~ErrorLog() { krmSetLogErrorHandler(nullptr); }
};

// Owns a curve for the length of a test.
struct Curve {
    krmToneCurve* c;
    explicit Curve(krmToneCurve* curve) : c(curve) {}
    ~Curve() { krmFreeToneCurve(c); }
    Curve(const Curve&) = delete;
    operator krmToneCurve*() const { return c; }
    krmToneCurve* operator->() const { return c; }
};

const double sRGBParams[] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};

Curve Table16(std::vector<krmUInt16Number> v)
{
    return Curve(krmBuildTabulatedToneCurve16(nullptr, krmUInt32Number(v.size()), v.data()));
}

std::vector<krmUInt16Number> Entries(const krmToneCurve* t)
{
    const krmUInt16Number* p = krmGetToneCurveEstimatedTable(t);
    return std::vector<krmUInt16Number>(p, p + krmGetToneCurveEstimatedTableEntries(t));
}

// ---------------------------------------------------------------------------------------------
// Construction
// ---------------------------------------------------------------------------------------------

TEST(Construction, NearIdentityGammaHasATwoEntryTable)
{
    Curve a(krmBuildGamma(nullptr, 1.0005));
    Curve b(krmBuildGamma(nullptr, 1.002));
    ASSERT_TRUE(a.c && b.c);
    EXPECT_EQ(krmGetToneCurveEstimatedTableEntries(a), 2u);
    EXPECT_EQ(krmGetToneCurveEstimatedTableEntries(b), 4096u);
    EXPECT_EQ(Entries(a), (std::vector<krmUInt16Number>{0, 65535}));
    EXPECT_EQ(krmGetToneCurveParametricType(a), 1);
    EXPECT_FALSE(krmIsToneCurveMultisegment(a));
}

TEST(Construction, TableLimitAndMessages)
{
    {
        std::vector<krmUInt16Number> big(65530, 7);
        Curve ok(krmBuildTabulatedToneCurve16(nullptr, 65530, big.data()));
        EXPECT_NE(ok.c, nullptr);
    }
    {
        ErrorLog log;
        Curve no(krmBuildTabulatedToneCurve16(nullptr, 65531, nullptr));
        EXPECT_EQ(no.c, nullptr);
        ASSERT_EQ(ErrorLog::entries().size(), 1u);
        EXPECT_EQ(ErrorLog::entries()[0].first, krmUInt32Number(krmErrRange));
        EXPECT_EQ(ErrorLog::entries()[0].second, "Couldn't create tone curve of more than 65530 entries");
    }
    {
        ErrorLog log;
        Curve no(krmBuildTabulatedToneCurve16(nullptr, 0, nullptr));
        EXPECT_EQ(no.c, nullptr);
        ASSERT_EQ(ErrorLog::entries().size(), 1u);
        EXPECT_EQ(ErrorLog::entries()[0].first, krmUInt32Number(krmErrRange));
        EXPECT_EQ(ErrorLog::entries()[0].second, "Couldn't create tone curve with zero segments and no table");
    }
    {
        ErrorLog log;
        const double p[10] = {1};
        Curve no(krmBuildParametricToneCurve(nullptr, 9, p));
        EXPECT_EQ(no.c, nullptr);
        ASSERT_EQ(ErrorLog::entries().size(), 1u);
        EXPECT_EQ(ErrorLog::entries()[0].first, krmUInt32Number(krmErrUnknownExtension));
        EXPECT_EQ(ErrorLog::entries()[0].second, "Invalid parametric curve type 9");
    }
    // An empty float table is simply refused.
    EXPECT_EQ(krmBuildTabulatedToneCurveFloat(nullptr, 0, nullptr), nullptr);
}

TEST(Construction, BadSegmentsAreRefusedBeforeUse)
{
    krmCurveSegment seg = {};
    seg.x0 = krmMINUS_INF;
    seg.x1 = krmPLUS_INF;

    // Unknown parametric type inside a segmented curve: no evaluator could serve it.
    seg.Type = 42;
    {
        ErrorLog log;
        EXPECT_EQ(krmBuildSegmentedToneCurve(nullptr, 1, &seg), nullptr);
        EXPECT_EQ(ErrorLog::entries().at(0).second, "Invalid parametric curve type 42");
    }
    // A sampled segment without points.
    seg.Type = 0;
    seg.nGridPoints = 0;
    {
        ErrorLog log;
        EXPECT_EQ(krmBuildSegmentedToneCurve(nullptr, 1, &seg), nullptr);
        EXPECT_EQ(ErrorLog::entries().at(0).first, krmUInt32Number(krmErrRange));
    }
    EXPECT_EQ(krmBuildSegmentedToneCurve(nullptr, 0, nullptr), nullptr);
}

TEST(Construction, ParametersBeyondTheTypesCountAreZero)
{
    const double p[10] = {2.2, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    Curve g(krmBuildParametricToneCurve(nullptr, 1, p));
    ASSERT_NE(g.c, nullptr);
    const krmCurveSegment* s = krmGetToneCurveSegment(g, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->Params[0], 2.2);
    EXPECT_EQ(s->Params[1], 0);
    EXPECT_EQ(s->x0, krmMINUS_INF);
    EXPECT_EQ(s->x1, krmPLUS_INF);
    EXPECT_EQ(krmGetToneCurveSegment(g, 1), nullptr);
    EXPECT_EQ(krmGetToneCurveSegment(g, -1), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Parametric types
// ---------------------------------------------------------------------------------------------

TEST(Parametric, SRGBForwardAndAnalyticReverse)
{
    Curve srgb(krmBuildParametricToneCurve(nullptr, 4, sRGBParams));
    ASSERT_NE(srgb.c, nullptr);
    EXPECT_NEAR(krmEvalToneCurveFloat(srgb, 0.5f), 0.2140, 5e-5);
    // Linear toe below d.
    EXPECT_NEAR(krmEvalToneCurveFloat(srgb, 0.02f), 0.02 / 12.92, 1e-7);

    Curve rev(krmReverseToneCurve(srgb));
    ASSERT_NE(rev.c, nullptr);
    EXPECT_EQ(krmGetToneCurveParametricType(rev), -4);
    EXPECT_NEAR(krmEvalToneCurveFloat(rev, 0.2140f), 0.5, 1e-4);
}

TEST(Parametric, PowerBelowZeroAndDegenerateInverse)
{
    Curve g22(krmBuildGamma(nullptr, 2.2));
    Curve g10(krmBuildGamma(nullptr, 1.0));
    EXPECT_EQ(krmEvalToneCurveFloat(g22, -0.5f), 0.0f);
    EXPECT_EQ(krmEvalToneCurveFloat(g10, -0.5f), -0.5f);

    const double zero[1] = {0};
    Curve inv0(krmBuildParametricToneCurve(nullptr, -1, zero));
    ASSERT_NE(inv0.c, nullptr);
    for (float y : {0.0f, 0.3f, 1.0f, 5.0f}) EXPECT_EQ(krmEvalToneCurveFloat(inv0, y), 1e22f) << y;
    // Its table saturates rather than overflowing.
    EXPECT_EQ(krmEvalToneCurve16(inv0, 1000), 65535);
}

// Forward then inverse is the identity on [0, 1] for every type, with parameters that keep the
// forward curve one-to-one there.
TEST(Parametric, EveryTypeComposesWithItsInverse)
{
    struct Case {
        int type;
        std::vector<double> p;
    } cases[] = {
        {1, {2.2}},
        {1, {0.45}},
        {2, {2.2, 0.9, 0.1}},
        {3, {2.4, 0.9, 0.1, 0.05}},
        {4, {sRGBParams[0], sRGBParams[1], sRGBParams[2], sRGBParams[3], sRGBParams[4]}},
        {5, {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045, 0.01, 0.01}},
        {6, {2.2, 0.9, 0.1, 0.02}},
        {6, {1.0, 0.5, 0.25, 0.0}},
        {7, {1.0, 1.0, 9.0, 1.0, 0.0}},
        {7, {0.8, 2.0, 3.0, 1.0, 0.1}},
        {8, {1.0, 2.0, 1.0, 0.0, -1.0}},
        {8, {0.5, 3.0, 1.5, 0.2, 0.1}},
        {108, {1.5}},
        {108, {0.7}},
        {109, {4.0}},
        {109, {-2.0}},
    };

    for (const Case& c : cases) {
        Curve fwd(krmBuildParametricToneCurve(nullptr, c.type, c.p.data()));
        Curve inv(krmBuildParametricToneCurve(nullptr, -c.type, c.p.data()));
        ASSERT_TRUE(fwd.c && inv.c) << c.type;

        double worst = 0;
        for (int i = 0; i <= 1000; i++) {
            const float x = float(i / 1000.0);
            const float y = krmEvalToneCurveFloat(fwd, x);
            worst = std::max(worst, std::fabs(double(krmEvalToneCurveFloat(inv, y)) - x));
        }
        EXPECT_LT(worst, 1e-4) << "type " << c.type << " p0 " << c.p[0];

        // The analytic reverse is the negated type.
        Curve rev(krmReverseToneCurve(fwd));
        ASSERT_NE(rev.c, nullptr);
        EXPECT_EQ(krmGetToneCurveParametricType(rev), -c.type);
    }
}

TEST(Parametric, FormulasAgainstTheirDefinitions)
{
    const double t3[] = {2.0, 1.0, -0.2, 0.1};
    Curve c3(krmBuildParametricToneCurve(nullptr, 3, t3));
    EXPECT_NEAR(krmEvalToneCurveFloat(c3, 0.1f), 0.1, 1e-7);                      // below -b/a: c
    EXPECT_NEAR(krmEvalToneCurveFloat(c3, 0.6f), 0.4 * 0.4 + 0.1, 1e-6);

    const double t5[] = {2.0, 1.0, 0.0, 0.5, 0.3, 0.1, 0.05};
    Curve c5(krmBuildParametricToneCurve(nullptr, 5, t5));
    EXPECT_NEAR(krmEvalToneCurveFloat(c5, 0.2f), 0.5 * 0.2 + 0.05, 1e-7);       // c x + f
    EXPECT_NEAR(krmEvalToneCurveFloat(c5, 0.5f), 0.25 + 0.1, 1e-7);             // (a x + b)^g + e

    // Type 6 with g exactly 1 is a plain line, negative values included.
    const double t6[] = {1.0, 2.0, -1.0, 0.0};
    Curve c6(krmBuildParametricToneCurve(nullptr, 6, t6));
    EXPECT_NEAR(krmEvalToneCurveFloat(c6, 0.25f), -0.5, 1e-7);

    const double t8[] = {1.0, 10.0, 1.0, -1.0, 0.0};
    Curve c8(krmBuildParametricToneCurve(nullptr, 8, t8));
    EXPECT_NEAR(krmEvalToneCurveFloat(c8, 1.0f), 1.0, 1e-6);
    EXPECT_NEAR(krmEvalToneCurveFloat(c8, 0.0f), 0.1, 1e-7);

    // The sigmoid passes through its ends and its centre; a zero slope is the identity.
    const double t109[] = {6.0};
    Curve c109(krmBuildParametricToneCurve(nullptr, 109, t109));
    EXPECT_NEAR(krmEvalToneCurveFloat(c109, 0.0f), 0.0, 1e-6);
    EXPECT_NEAR(krmEvalToneCurveFloat(c109, 0.5f), 0.5, 1e-7);
    EXPECT_NEAR(krmEvalToneCurveFloat(c109, 1.0f), 1.0, 1e-6);
    const double flat[] = {0.0};
    Curve lin(krmBuildParametricToneCurve(nullptr, 109, flat));
    EXPECT_NEAR(krmEvalToneCurveFloat(lin, 0.3f), 0.3, 1e-7);
    EXPECT_TRUE(krmIsToneCurveLinear(lin));
}

// Where a formula changes branch, the breakpoint itself belongs to the upper branch; each case
// jumps there, so taking the other side shows.
TEST(Parametric, DiscontinuousTypesExactlyAtTheirBreakpoint)
{
    struct Case {
        int type;
        std::vector<double> params;
        float x;
        double at, below;  // the value at x and just below it
    };
    const Case cases[] = {
        // type 3 {g a b c}: breakpoint -b/a = 0.5, where a x + b = 0 gives 0; below it c.
        {3, {2, 1, -0.5, 0.1}, 0.5f, 0.0, 0.1},
        // type 4 {g a b c d}: (a x + b)^g from d = 0.5 on, c x below.
        {4, {2, 1, 0, 0.25, 0.5}, 0.5f, 0.25, 0.125},
        {5, {2, 1, 0, 0.5, 0.5, 0.1, 0.05}, 0.5f, 0.35, 0.30},
        // The inverses switch at the forward value of the breakpoint: (a d + b)^g = 0.25 and
        // c d + f = 0.375.
        {-4, {2, 1, 0, 0.25, 0.5}, 0.25f, 0.5, 1.0},
        {-5, {2, 1, 0, 0.5, 0.5, 0.1, 0.125}, 0.375f, std::sqrt(0.275), 0.5},
    };
    for (const Case& c : cases) {
        double params[10] = {};
        std::copy(c.params.begin(), c.params.end(), params);
        Curve curve(krmBuildParametricToneCurve(nullptr, c.type, params));
        ASSERT_NE(curve.c, nullptr) << c.type;
        EXPECT_NEAR(krmEvalToneCurveFloat(curve, c.x), c.at, 1e-6) << "type " << c.type << " at its breakpoint";
        EXPECT_NEAR(krmEvalToneCurveFloat(curve, std::nextafter(c.x, 0.0f)), c.below, 1e-5)
            << "type " << c.type << " below its breakpoint";
    }
}

// The 16-bit table holds the formula rounded at 4096 even steps.
TEST(Parametric, TableSamplesTheFormula)
{
    Curve g(krmBuildGamma(nullptr, 1.8));
    const std::vector<krmUInt16Number> t = Entries(g);
    ASSERT_EQ(t.size(), 4096u);
    for (size_t i = 0; i < t.size(); i++)
        ASSERT_EQ(t[i], krmQuickSaturateWord(std::pow(i / 4095.0, 1.8) * 65535.0)) << i;
    // Between the nodes the 16-bit evaluation follows the formula to within one step.
    int worst = 0;
    for (int v = 0; v <= 65535; v++) {
        const int exact = krmQuickSaturateWord(std::pow(v / 65535.0, 1.8) * 65535.0);
        worst = std::max(worst, std::abs(int(krmEvalToneCurve16(g, krmUInt16Number(v))) - exact));
    }
    EXPECT_LE(worst, 1);
}

// ---------------------------------------------------------------------------------------------
// Tables and segments
// ---------------------------------------------------------------------------------------------

TEST(Segments, TabulatedFloatCurveIsConstantOutsideItsSamples)
{
    const krmFloat32Number v[] = {0.1f, 0.4f, 0.9f};
    Curve c(krmBuildTabulatedToneCurveFloat(nullptr, 3, v));
    ASSERT_NE(c.c, nullptr);
    EXPECT_TRUE(krmIsToneCurveMultisegment(c));
    EXPECT_EQ(krmGetToneCurveParametricType(c), 0);

    EXPECT_FLOAT_EQ(krmEvalToneCurveFloat(c, -3.0f), 0.1f);
    EXPECT_FLOAT_EQ(krmEvalToneCurveFloat(c, 0.0f), 0.1f);
    EXPECT_FLOAT_EQ(krmEvalToneCurveFloat(c, 0.25f), 0.25f);
    EXPECT_FLOAT_EQ(krmEvalToneCurveFloat(c, 0.75f), 0.65f);
    EXPECT_FLOAT_EQ(krmEvalToneCurveFloat(c, 1.0f), 0.9f);
    EXPECT_FLOAT_EQ(krmEvalToneCurveFloat(c, 7.0f), 0.9f);

    const krmCurveSegment* s = krmGetToneCurveSegment(c, 1);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->Type, 0);
    EXPECT_EQ(s->nGridPoints, 3u);
    EXPECT_NE(s->SampledPoints, v);  // copied
}

TEST(Segments, LaterSegmentsWinAndGapsGiveMinusInfinity)
{
    krmCurveSegment seg[3] = {};
    const double one[10] = {1.0};
    seg[0].x0 = 0;
    seg[0].x1 = 0.4f;
    seg[0].Type = 1;
    std::memcpy(seg[0].Params, one, sizeof one);
    seg[1].x0 = 0.6f;
    seg[1].x1 = 1;
    seg[1].Type = 6;  // constant 0.75
    seg[1].Params[0] = 1;
    seg[1].Params[3] = 0.75;
    seg[2].x0 = 0.8f;
    seg[2].x1 = 1;
    seg[2].Type = 6;  // constant 0.25, over the end of the previous one
    seg[2].Params[0] = 1;
    seg[2].Params[3] = 0.25;

    Curve c(krmBuildSegmentedToneCurve(nullptr, 3, seg));
    ASSERT_NE(c.c, nullptr);
    EXPECT_FLOAT_EQ(krmEvalToneCurveFloat(c, 0.3f), 0.3f);
    EXPECT_FLOAT_EQ(krmEvalToneCurveFloat(c, 0.7f), 0.75f);
    EXPECT_FLOAT_EQ(krmEvalToneCurveFloat(c, 0.9f), 0.25f);
    EXPECT_EQ(krmEvalToneCurveFloat(c, 0.5f), -1e22f);
    EXPECT_EQ(krmEvalToneCurveFloat(c, 0.0f), -1e22f);  // x0 itself is outside (x0, x1]
    EXPECT_EQ(krmEvalToneCurve16(c, 32768), 0);         // the gap saturates to black
}

TEST(Segments, DuplicateIsDeep)
{
    const krmFloat32Number v[] = {0.0f, 0.2f, 1.0f};
    krmToneCurve* orig = krmBuildTabulatedToneCurveFloat(nullptr, 3, v);
    ASSERT_NE(orig, nullptr);
    Curve dup(krmDupToneCurve(orig));
    krmFreeToneCurve(orig);
    ASSERT_NE(dup.c, nullptr);
    EXPECT_FLOAT_EQ(krmEvalToneCurveFloat(dup, 0.25f), 0.1f);
    EXPECT_EQ(krmGetToneCurveEstimatedTableEntries(dup), 4096u);

    Curve t16 = Table16({0, 1000, 65535});
    Curve d16(krmDupToneCurve(t16));
    EXPECT_EQ(Entries(d16), (std::vector<krmUInt16Number>{0, 1000, 65535}));

    krmToneCurve* triple[3] = {krmBuildGamma(nullptr, 2.2), krmDupToneCurve(t16), nullptr};
    krmFreeToneCurveTriple(triple);
    EXPECT_EQ(triple[0], nullptr);
    EXPECT_EQ(triple[1], nullptr);
}

TEST(Segments, TableOnlyCurvesEvaluateThroughTheTable)
{
    Curve c = Table16({0, 65535});
    EXPECT_FLOAT_EQ(krmEvalToneCurveFloat(c, 0.5f), 32768 / 65535.0f);
    EXPECT_EQ(krmEvalToneCurveFloat(c, 2.0f), 1.0f);
    EXPECT_EQ(krmEvalToneCurveFloat(c, -2.0f), 0.0f);
    EXPECT_EQ(krmEvalToneCurve16(c, 12345), 12345);
}

// ---------------------------------------------------------------------------------------------
// Reversal and joining
// ---------------------------------------------------------------------------------------------

TEST(Reversal, SmallTables)
{
    Curve id = Table16({0, 65535});
    Curve r1(krmReverseToneCurveEx(3, id));
    ASSERT_NE(r1.c, nullptr);
    EXPECT_EQ(Entries(r1), (std::vector<krmUInt16Number>{0, 32768, 65535}));

    // Searched from the last interval: y = 0 falls on the rising part, not the flat start.
    Curve knee = Table16({0, 0, 65535});
    Curve r2(krmReverseToneCurveEx(3, knee));
    ASSERT_NE(r2.c, nullptr);
    EXPECT_EQ(Entries(r2), (std::vector<krmUInt16Number>{32768, 49151, 65535}));

    // Descending tables reverse to descending tables.
    Curve down = Table16({65535, 0});
    Curve r3(krmReverseToneCurveEx(3, down));
    ASSERT_NE(r3.c, nullptr);
    EXPECT_EQ(Entries(r3), (std::vector<krmUInt16Number>{65535, 32768, 0}));

    // A flat interval found first maps to its far end in the curve's direction.
    Curve flatTop = Table16({0, 65535, 65535});
    Curve r4(krmReverseToneCurveEx(3, flatTop));
    EXPECT_EQ(Entries(r4), (std::vector<krmUInt16Number>{0, 16384, 65535}));
    Curve flatDown = Table16({65535, 65535, 0});
    Curve r5(krmReverseToneCurveEx(3, flatDown));
    EXPECT_EQ(Entries(r5), (std::vector<krmUInt16Number>{65535, 49151, 0}));

    // Outside the table's range: nothing before the first line found, then that line extended.
    Curve narrow = Table16({10000, 50000});
    Curve r6(krmReverseToneCurveEx(3, narrow));
    EXPECT_EQ(Entries(r6), (std::vector<krmUInt16Number>{0, 37302, 65535}));

    EXPECT_EQ(krmReverseToneCurveEx(1, id), nullptr);
}

// A monotonic table and its reversal compose to the identity within 2 steps, both ways round.
// The shapes are smooth with slopes between 1/2 and 2: where a curve is much steeper (or kinked),
// one step of its input is many steps of its output and no 16-bit table inverts it that closely.
TEST(Reversal, ReversedMonotonicTablesComposeToTheIdentity)
{
    const double Pi = 3.14159265358979323846;
    std::vector<std::pair<const char*, std::function<double(double)>>> shapes = {
        {"wave", [&](double x) { return x + 0.2 * std::sin(2 * Pi * x) / (2 * Pi); }},
        {"s-curve", [](double x) { return 0.5 * x + 0.5 * x * x * (3 - 2 * x); }},
        {"cubic", [](double x) { return 0.6 * x + 0.4 * x * x * x; }},
        {"descending", [](double x) { return 1.0 - (0.7 * x + 0.3 * x * x); }},
        {"gamma 1.4", [](double x) { return 0.5 * x + 0.5 * std::pow(x, 1.4); }},
    };
    for (krmUInt32Number entries : {17u, 256u, 4096u}) {
        for (const auto& [name, f] : shapes) {
            std::vector<krmUInt16Number> t(entries);
            for (size_t i = 0; i < t.size(); i++) t[i] = krmQuickSaturateWord(f(double(i) / (entries - 1)) * 65535.0);
            Curve fwd = Table16(t);
            ASSERT_TRUE(krmIsToneCurveMonotonic(fwd)) << name;
            Curve rev(krmReverseToneCurve(fwd));
            ASSERT_NE(rev.c, nullptr);
            EXPECT_EQ(krmGetToneCurveEstimatedTableEntries(rev), 4096u);
            EXPECT_EQ(krmIsToneCurveDescending(rev), krmIsToneCurveDescending(fwd));

            int worstFR = 0, worstRF = 0;
            for (int v = 0; v <= 65535; v++) {
                const krmUInt16Number w = krmUInt16Number(v);
                worstFR = std::max(worstFR, std::abs(krmEvalToneCurve16(fwd, krmEvalToneCurve16(rev, w)) - v));
                worstRF = std::max(worstRF, std::abs(krmEvalToneCurve16(rev, krmEvalToneCurve16(fwd, w)) - v));
            }
            EXPECT_LE(worstFR, 2) << name << ", " << entries << " entries";
            EXPECT_LE(worstRF, 2) << name << ", " << entries << " entries";
        }
    }
}

TEST(Joining, JoinIsYInverseAfterX)
{
    Curve g22(krmBuildGamma(nullptr, 2.2));
    Curve g11(krmBuildGamma(nullptr, 1.1));

    Curve same(krmJoinToneCurve(nullptr, g22, g22, 256));
    ASSERT_NE(same.c, nullptr);
    for (float x = 0; x <= 1.0f; x += 0.05f) EXPECT_NEAR(krmEvalToneCurveFloat(same, x), x, 1e-4);

    Curve sq(krmJoinToneCurve(nullptr, g22, g11, 256));
    ASSERT_NE(sq.c, nullptr);
    for (float x = 0.1f; x <= 1.0f; x += 0.05f) EXPECT_NEAR(krmEvalToneCurveFloat(sq, x), x * x, 1e-3);

    // A table Y goes through the tabulated reversal.
    Curve tab = Table16({0, 65535});
    Curve j(krmJoinToneCurve(nullptr, g22, tab, 1024));
    ASSERT_NE(j.c, nullptr);
    EXPECT_NEAR(krmEvalToneCurveFloat(j, 0.5f), std::pow(0.5, 2.2), 2e-4);

    EXPECT_EQ(krmJoinToneCurve(nullptr, g22, g11, 1), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Table tests and gamma estimation
// ---------------------------------------------------------------------------------------------

TEST(Queries, LinearMonotonicDescending)
{
    Curve id = Table16({0, 65535});
    Curve g1(krmBuildGamma(nullptr, 1.0));
    Curve g11(krmBuildGamma(nullptr, 1.1));
    EXPECT_TRUE(krmIsToneCurveLinear(id));
    EXPECT_TRUE(krmIsToneCurveLinear(g1));
    EXPECT_FALSE(krmIsToneCurveLinear(g11));
    // 15 off is still linear, 16 is not.
    EXPECT_TRUE(krmIsToneCurveLinear(Table16({15, 32768, 65520})));
    EXPECT_FALSE(krmIsToneCurveLinear(Table16({16, 32768, 65535})));

    EXPECT_TRUE(krmIsToneCurveMonotonic(Table16({0, 1000, 998, 65535})));   // dip of 2 tolerated
    EXPECT_FALSE(krmIsToneCurveMonotonic(Table16({0, 1000, 997, 65535})));  // dip of 3
    EXPECT_TRUE(krmIsToneCurveMonotonic(Table16({65535, 1000, 1002, 0})));
    EXPECT_FALSE(krmIsToneCurveMonotonic(Table16({65535, 1000, 1003, 0})));
    EXPECT_TRUE(krmIsToneCurveMonotonic(Table16({5})));

    EXPECT_TRUE(krmIsToneCurveDescending(Table16({2, 1})));
    EXPECT_FALSE(krmIsToneCurveDescending(Table16({1, 1})));
    EXPECT_FALSE(krmIsToneCurveDescending(id));
}

TEST(Queries, EstimateGamma)
{
    Curve g22(krmBuildGamma(nullptr, 2.2));
    EXPECT_NEAR(krmEstimateGamma(g22, 0.2), 2.2, 0.001);
    EXPECT_NEAR(krmEstimateGamma(Table16({0, 65535}), 0.2), 1.0, 0.001);
    // Nothing strictly between 0 and 1 beyond x = 0.07.
    EXPECT_EQ(krmEstimateGamma(Table16({0, 0}), 0.2), -1.0);
    EXPECT_EQ(krmEstimateGamma(Table16({65535, 65535}), 0.2), -1.0);
    // sRGB is close to a power curve only loosely.
    Curve srgb(krmBuildParametricToneCurve(nullptr, 4, sRGBParams));
    EXPECT_EQ(krmEstimateGamma(srgb, 0.001), -1.0);
    const double e = krmEstimateGamma(srgb, 1.0);
    EXPECT_GT(e, 2.1);
    EXPECT_LT(e, 2.4);
}

// ---------------------------------------------------------------------------------------------
// 'parH' plug-ins
// ---------------------------------------------------------------------------------------------

// Type 500: y = p0 x + p1, and type 1 replaced by y = 0.5.
krmFloat64Number PluginEval(krmInt32Number Type, const krmFloat64Number P[10], krmFloat64Number R)
{
    switch (Type) {
    case 500:
        return P[0] * R + P[1];
    case -500:
        return (R - P[1]) / P[0];
    default:
        return 0.5;
    }
}

TEST(Plugin, RegisteredTypesAreFoundFirstAndOnlyInTheirContext)
{
    krmPluginParametricCurves plugin = {};
    plugin.base.Magic = krmPluginMagicNumber;
    plugin.base.ExpectedVersion = 2200;
    plugin.base.Type = krmPluginParametricCurveSig;
    plugin.nFunctions = 2;
    plugin.FunctionTypes[0] = 500;
    plugin.ParameterCount[0] = 2;
    plugin.FunctionTypes[1] = 1;
    plugin.ParameterCount[1] = 1;
    plugin.Evaluator = PluginEval;

    krmContext ctx = krmCreateContext(&plugin, nullptr);
    ASSERT_NE(ctx, nullptr);
    {
        const double p[] = {0.5, 0.25, 99};
        Curve c(krmBuildParametricToneCurve(ctx, 500, p));
        ASSERT_NE(c.c, nullptr);
        EXPECT_FLOAT_EQ(krmEvalToneCurveFloat(c, 0.5f), 0.5f);
        EXPECT_EQ(krmGetToneCurveSegment(c, 0)->Params[2], 0);  // two parameters only

        Curve r(krmReverseToneCurve(c));
        ASSERT_NE(r.c, nullptr);
        EXPECT_EQ(krmGetToneCurveParametricType(r), -500);
        EXPECT_FLOAT_EQ(krmEvalToneCurveFloat(r, 0.5f), 0.5f);

        Curve d(krmDupToneCurve(c));
        EXPECT_FLOAT_EQ(krmEvalToneCurveFloat(d, 1.0f), 0.75f);

        // The registration overrides the built-in type 1.
        Curve g(krmBuildGamma(ctx, 2.2));
        EXPECT_FLOAT_EQ(krmEvalToneCurveFloat(g, 0.9f), 0.5f);
    }
    {
        ErrorLog log;
        const double p[] = {0.5, 0.25};
        EXPECT_EQ(krmBuildParametricToneCurve(nullptr, 500, p), nullptr);
        EXPECT_EQ(ErrorLog::entries().at(0).second, "Invalid parametric curve type 500");
    }
    krmDeleteContext(ctx);
}

}  // namespace
