// Interpolation: routine choice, exact 16-bit arithmetic, single-precision clamping, and the
// 16-bit routines checked against the single-precision ones.
#include "krm_internal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
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

krmUInt16Number Eval16(const krmInterpParams* p, std::vector<krmUInt16Number> in, size_t channel = 0)
{
    std::vector<krmUInt16Number> out(p->nOutputs);
    p->Interpolation.Lerp16(in.data(), out.data(), p);
    return out[channel];
}

// A CLUT whose every node holds its own coordinates: output t is the 16-bit coordinate of input t.
std::vector<krmUInt16Number> IdentityClut(const std::vector<krmUInt32Number>& grid)
{
    const size_t n = grid.size();
    size_t nodes = 1;
    for (auto g : grid) nodes *= g;
    std::vector<krmUInt16Number> table(nodes * n);
    for (size_t node = 0; node < nodes; node++) {
        // The last input varies fastest.
        size_t rest = node;
        for (size_t t = n; t-- > 0;) {
            table[node * n + t] = krmQuantizeVal(double(rest % grid[t]), grid[t]);
            rest /= grid[t];
        }
    }
    return table;
}

// ---------------------------------------------------------------------------------------------
// Parameters and routine choice
// ---------------------------------------------------------------------------------------------

TEST(InterpParams, StridesAndDomains)
{
    const krmUInt32Number grid[] = {2, 3, 4};
    krmInterpParams* p = krmComputeInterpParamsEx(nullptr, grid, 3, 5, nullptr, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->nInputs, 3u);
    EXPECT_EQ(p->nOutputs, 5u);
    EXPECT_EQ(p->Domain[0], 1u);
    EXPECT_EQ(p->Domain[2], 3u);
    EXPECT_EQ(p->opta[0], 5u);       // last input
    EXPECT_EQ(p->opta[1], 5u * 4);   // middle input
    EXPECT_EQ(p->opta[2], 5u * 12);  // first input
    krmFreeInterpParams(p);
    krmFreeInterpParams(nullptr);
}

TEST(InterpParams, RefusalsCarryTheirMessages)
{
    {
        ErrorLog log;
        EXPECT_EQ(krmComputeInterpParams(nullptr, 2, 16, 3, nullptr, 0), nullptr);
        ASSERT_EQ(ErrorLog::entries().size(), 1u);
        EXPECT_EQ(ErrorLog::entries()[0].first, krmUInt32Number(krmErrRange));
        EXPECT_EQ(ErrorLog::entries()[0].second, "Too many input channels (16 channels, max=15)");
    }
    {
        ErrorLog log;
        EXPECT_EQ(krmComputeInterpParams(nullptr, 2, 4, 128, nullptr, 0), nullptr);
        ASSERT_EQ(ErrorLog::entries().size(), 1u);
        EXPECT_EQ(ErrorLog::entries()[0].first, krmUInt32Number(krmErrUnknownExtension));
        EXPECT_EQ(ErrorLog::entries()[0].second, "Unsupported interpolation (4->128 channels)");
    }
    {
        ErrorLog log;
        EXPECT_EQ(krmComputeInterpParams(nullptr, 2, 0, 3, nullptr, 0), nullptr);
        EXPECT_EQ(ErrorLog::entries().at(0).second, "Unsupported interpolation (0->3 channels)");
    }
    // 3 inputs have no temporary vectors: many outputs are fine; so are 127 with 4 inputs.
    krmInterpParams* p = krmComputeInterpParams(nullptr, 2, 3, 200, nullptr, 0);
    EXPECT_NE(p, nullptr);
    krmFreeInterpParams(p);
    p = krmComputeInterpParams(nullptr, 2, 4, 127, nullptr, krmInterpFlagFloat);
    EXPECT_NE(p, nullptr);
    krmFreeInterpParams(p);
}

TEST(InterpParams, EveryInputCountHasARoutineInBothPrecisions)
{
    for (krmUInt32Number n = 1; n <= 15; n++)
        for (krmUInt32Number flags : {0u, krmInterpFlagFloat, krmInterpFlagTrilinear}) {
            krmInterpParams* p = krmComputeInterpParams(nullptr, 2, n, 3, nullptr, flags);
            ASSERT_NE(p, nullptr) << n << " inputs, flags " << flags;
            EXPECT_NE(p->Interpolation.Lerp16, nullptr);
            krmFreeInterpParams(p);
        }
}

// ---------------------------------------------------------------------------------------------
// 16-bit arithmetic, exact values
// ---------------------------------------------------------------------------------------------

TEST(Interp16, OneInputExactValues)
{
    const krmUInt16Number ramp[] = {0, 65535};
    krmInterpParams* p = krmComputeInterpParams(nullptr, 2, 1, 1, ramp, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Eval16(p, {0}), 0);
    EXPECT_EQ(Eval16(p, {1}), 1);
    EXPECT_EQ(Eval16(p, {32768}), 32768);
    EXPECT_EQ(Eval16(p, {65535}), 65535);
    krmFreeInterpParams(p);

    const krmUInt16Number knee[] = {0, 0, 65535};
    p = krmComputeInterpParams(nullptr, 3, 1, 1, knee, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Eval16(p, {32768}), 1);      // cell 1, fraction 1
    EXPECT_EQ(Eval16(p, {49151}), 32767);  // cell 1, fraction 32767
    EXPECT_EQ(Eval16(p, {32767}), 0);
    krmFreeInterpParams(p);

    // A one-point table is a constant.
    const krmUInt16Number single[] = {1234};
    p = krmComputeInterpParams(nullptr, 1, 1, 1, single, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Eval16(p, {0}), 1234);
    EXPECT_EQ(Eval16(p, {40000}), 1234);
    krmFreeInterpParams(p);
}

TEST(Interp16, OneInputSeveralOutputs)
{
    // Output 0 rises, output 1 falls.
    const krmUInt16Number table[] = {0, 65535, 65535, 0};
    krmInterpParams* p = krmComputeInterpParams(nullptr, 2, 1, 2, table, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Eval16(p, {32768}, 0), 32768);
    EXPECT_EQ(Eval16(p, {32768}, 1), 32767);
    EXPECT_EQ(Eval16(p, {65535}, 0), 65535);
    EXPECT_EQ(Eval16(p, {65535}, 1), 0);
    krmFreeInterpParams(p);
}

TEST(Interp16, TetrahedralIdentityCube)
{
    const std::vector<krmUInt16Number> table = IdentityClut({2, 2, 2});
    krmInterpParams* p = krmComputeInterpParams(nullptr, 2, 3, 3, table.data(), 0);
    ASSERT_NE(p, nullptr);

    for (krmUInt16Number x : {0, 65535})
        for (krmUInt16Number y : {0, 65535})
            for (krmUInt16Number z : {0, 65535})
                for (size_t c = 0; c < 3; c++) EXPECT_EQ(Eval16(p, {x, y, z}, c), (c == 0 ? x : c == 1 ? y : z));

    EXPECT_EQ(Eval16(p, {1000, 2000, 3000}, 0), 1000);
    EXPECT_EQ(Eval16(p, {1000, 2000, 3000}, 1), 2000);
    EXPECT_EQ(Eval16(p, {1000, 2000, 3000}, 2), 3000);
    for (size_t c = 0; c < 3; c++) EXPECT_EQ(Eval16(p, {32768, 32768, 32768}, c), 32769);

    // Every ordering of the fractions picks its own tetrahedron; the identity holds in all six.
    const krmUInt16Number v[3] = {10000, 20000, 30000};
    const int perms[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    for (const auto& pm : perms) {
        std::vector<krmUInt16Number> in = {v[pm[0]], v[pm[1]], v[pm[2]]};
        for (size_t c = 0; c < 3; c++) EXPECT_EQ(Eval16(p, in, c), in[c]);
    }
    krmFreeInterpParams(p);
}

TEST(Interp16, TrilinearFlagAndReselection)
{
    // All corners 0 but the far one.
    std::vector<krmUInt16Number> table(8, 0);
    table[7] = 65535;
    krmInterpParams* p = krmComputeInterpParams(nullptr, 2, 3, 1, table.data(), krmInterpFlagTrilinear);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Eval16(p, {32768, 32768, 32768}), 8193);

    // The tetrahedral routine walks the main diagonal: the corner's value times the smallest fraction.
    p->dwFlags = 0;
    ASSERT_TRUE(krmSetInterpolationRoutine(nullptr, p));
    EXPECT_EQ(Eval16(p, {32768, 32768, 32768}), 32769);
    krmFreeInterpParams(p);
}

// Every node of an identity CLUT comes back unchanged, for the grid sizes profiles use.
TEST(Interp16, IdentityClutIsExactAtEveryNodeForOneToEightInputs)
{
    const std::vector<std::vector<krmUInt32Number>> grids = {
        {17}, {33, 9}, {17, 2, 9}, {9, 5, 4, 6}, {5, 4, 2, 5, 2}, {2, 4, 3, 2, 2, 5}, {3, 2, 2, 4, 2, 2, 2},
        {2, 3, 2, 2, 2, 2, 4, 2}, {33, 33, 33}, {5, 9, 17},
    };
    for (const auto& grid : grids) {
        const krmUInt32Number n = krmUInt32Number(grid.size());
        const std::vector<krmUInt16Number> table = IdentityClut(grid);
        krmInterpParams* p = krmComputeInterpParamsEx(nullptr, grid.data(), n, n, table.data(), 0);
        ASSERT_NE(p, nullptr);

        const size_t nodes = table.size() / n;
        std::vector<krmUInt16Number> in(n), out(n);
        size_t mismatches = 0;
        for (size_t node = 0; node < nodes; node++) {
            for (size_t t = 0; t < n; t++) in[t] = table[node * n + t];
            p->Interpolation.Lerp16(in.data(), out.data(), p);
            if (out != in) mismatches++;
        }
        EXPECT_EQ(mismatches, 0u) << n << " inputs";
        krmFreeInterpParams(p);
    }
}

// On 3-, 15- and 63-point grids some nodes sit one fixed-point step past their cell (the middle
// node of 3 points is 32768: cell 1, fraction 1), and the tetrahedral rounding, biased by 0x8001,
// turns a step of 32767 times fraction 1 into one unit. The arithmetic is fixed; this pins it.
TEST(Interp16, TetrahedralRoundingAtAThreePointNode)
{
    const std::vector<krmUInt32Number> grid = {3, 3, 3};
    const std::vector<krmUInt16Number> table = IdentityClut(grid);
    krmInterpParams* p = krmComputeInterpParamsEx(nullptr, grid.data(), 3, 3, table.data(), 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Eval16(p, {32768, 0, 0}, 0), 32769);
    EXPECT_EQ(Eval16(p, {65535, 0, 0}, 0), 65535);
    // Linear routines round to nearest and stay exact on the same grid.
    p->dwFlags = krmInterpFlagTrilinear;
    ASSERT_TRUE(krmSetInterpolationRoutine(nullptr, p));
    EXPECT_EQ(Eval16(p, {32768, 0, 0}, 0), 32768);
    krmFreeInterpParams(p);
}

// ---------------------------------------------------------------------------------------------
// Single precision
// ---------------------------------------------------------------------------------------------

TEST(InterpFloat, InputsAreClamped)
{
    const krmFloat32Number ramp[] = {0.0f, 1.0f};
    krmInterpParams* p = krmComputeInterpParams(nullptr, 2, 1, 1, ramp, krmInterpFlagFloat);
    ASSERT_NE(p, nullptr);
    auto eval = [&](krmFloat32Number x) {
        krmFloat32Number out;
        p->Interpolation.LerpFloat(&x, &out, p);
        return out;
    };
    EXPECT_EQ(eval(std::nanf("")), 0.0f);
    EXPECT_EQ(eval(-0.5f), 0.0f);
    EXPECT_EQ(eval(1.5f), 1.0f);
    EXPECT_EQ(eval(1e-10f), 0.0f);
    EXPECT_FLOAT_EQ(eval(0.25f), 0.25f);
    krmFreeInterpParams(p);

    // Out-of-range inputs of a cube land on its faces.
    std::vector<krmFloat32Number> cube(8 * 3);
    for (int i = 0; i < 8; i++)
        for (int c = 0; c < 3; c++) cube[i * 3 + c] = float((i >> (2 - c)) & 1);
    for (krmUInt32Number flags : {krmInterpFlagFloat, krmInterpFlagFloat | krmInterpFlagTrilinear}) {
        p = krmComputeInterpParams(nullptr, 2, 3, 3, cube.data(), flags);
        ASSERT_NE(p, nullptr);
        const krmFloat32Number in[3] = {-3.0f, 7.0f, 0.5f};
        krmFloat32Number out[3];
        p->Interpolation.LerpFloat(in, out, p);
        EXPECT_EQ(out[0], 0.0f);
        EXPECT_EQ(out[1], 1.0f);
        EXPECT_FLOAT_EQ(out[2], 0.5f);
        krmFreeInterpParams(p);
    }
}

TEST(InterpFloat, OnePointGridsReadOnlyTheirNode)
{
    // Domain 0 on every input: no neighbour exists, whatever the input.
    const krmFloat32Number node[] = {0.25f, 0.5f};
    const krmUInt32Number grid[] = {1, 1, 1, 1};
    krmInterpParams* p = krmComputeInterpParamsEx(nullptr, grid, 4, 2, node, krmInterpFlagFloat);
    ASSERT_NE(p, nullptr);
    const krmFloat32Number in[4] = {0.3f, 1.0f, 0.0f, 0.7f};
    krmFloat32Number out[2];
    p->Interpolation.LerpFloat(in, out, p);
    EXPECT_EQ(out[0], 0.25f);
    EXPECT_EQ(out[1], 0.5f);
    krmFreeInterpParams(p);

    const krmUInt16Number node16[] = {100, 200};
    p = krmComputeInterpParamsEx(nullptr, grid, 3, 2, node16, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Eval16(p, {30000, 65535, 1}, 1), 200);
    krmFreeInterpParams(p);
}

// The 16-bit routines against the single-precision ones on the same random tables: both sample
// the same piecewise function, so they may differ only by rounding.
TEST(InterpFloat, AgreesWith16BitWithinTwoSteps)
{
    std::mt19937 rng(20261209);
    std::uniform_int_distribution<int> word(0, 65535);

    for (krmUInt32Number n = 1; n <= 15; n++) {
        for (krmUInt32Number flags : {0u, krmInterpFlagTrilinear}) {
            if (flags != 0 && n != 3) continue;
            const krmUInt32Number nOut = 3;
            std::vector<krmUInt32Number> grid(n);
            size_t nodes = 1;
            for (krmUInt32Number t = 0; t < n; t++) {
                // Finer grids where the table stays small.
                grid[t] = (n <= 3) ? 5 + t * 4 : (n <= 6 ? 3 + (t % 2) : 2);
                nodes *= grid[t];
            }
            std::vector<krmUInt16Number> t16(nodes * nOut);
            std::vector<krmFloat32Number> tf(nodes * nOut);
            for (size_t i = 0; i < t16.size(); i++) {
                t16[i] = krmUInt16Number(word(rng));
                tf[i] = float(t16[i] / 65535.0);
            }

            krmInterpParams* p16 = krmComputeInterpParamsEx(nullptr, grid.data(), n, nOut, t16.data(), flags);
            krmInterpParams* pf =
                krmComputeInterpParamsEx(nullptr, grid.data(), n, nOut, tf.data(), flags | krmInterpFlagFloat);
            ASSERT_NE(p16, nullptr);
            ASSERT_NE(pf, nullptr);

            int worst = 0;
            std::vector<krmUInt16Number> in16(n), out16(nOut);
            std::vector<krmFloat32Number> inf(n), outf(nOut);
            const int samples = n <= 8 ? 2000 : 200;
            for (int sample = 0; sample < samples; sample++) {
                for (krmUInt32Number t = 0; t < n; t++) {
                    // Include the ends, where the neighbour rules differ from the interior.
                    const int r = word(rng);
                    in16[t] = krmUInt16Number(sample % 10 == 0 ? 65535 : sample % 10 == 1 ? 0 : r);
                    inf[t] = float(in16[t] / 65535.0);
                }
                p16->Interpolation.Lerp16(in16.data(), out16.data(), p16);
                pf->Interpolation.LerpFloat(inf.data(), outf.data(), pf);
                for (krmUInt32Number o = 0; o < nOut; o++)
                    worst = std::max(worst, std::abs(int(out16[o]) - int(krmQuickSaturateWord(outf[o] * 65535.0))));
            }
            EXPECT_LE(worst, 2) << n << " inputs, flags " << flags;

            krmFreeInterpParams(p16);
            krmFreeInterpParams(pf);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Plug-in factory
// ---------------------------------------------------------------------------------------------

void Constant16(const krmUInt16Number[], krmUInt16Number Output[], const krmInterpParams* p)
{
    for (krmUInt32Number i = 0; i < p->nOutputs; i++) Output[i] = 4242;
}

// Offers its own routine for 16-bit 2 -> 1 tables only.
krmInterpFunction Factory(krmUInt32Number nIn, krmUInt32Number nOut, krmUInt32Number dwFlags)
{
    krmInterpFunction f;
    f.Lerp16 = (nIn == 2 && nOut == 1 && !(dwFlags & krmInterpFlagFloat)) ? Constant16 : nullptr;
    return f;
}

TEST(InterpPlugin, FactoryIsAskedFirstAndFallsBack)
{
    krmPluginInterpolation plugin = {};
    plugin.base.Magic = krmPluginMagicNumber;
    plugin.base.ExpectedVersion = 2200;
    plugin.base.Type = krmPluginInterpolationSig;
    plugin.InterpolatorsFactory = Factory;

    krmContext ctx = krmCreateContext(&plugin, nullptr);
    ASSERT_NE(ctx, nullptr);

    const krmUInt16Number table[] = {0, 65535, 65535, 0};
    krmInterpParams* p = krmComputeInterpParams(ctx, 2, 2, 1, table, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Eval16(p, {100, 200}), 4242);
    krmFreeInterpParams(p);

    // Not offered: the built-in routine.
    p = krmComputeInterpParams(ctx, 2, 1, 2, table, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Eval16(p, {65535}, 1), 0);
    krmFreeInterpParams(p);

    // Other contexts are unaffected.
    p = krmComputeInterpParams(nullptr, 2, 2, 1, table, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Eval16(p, {0, 65535}), 65535);
    krmFreeInterpParams(p);

    krmDeleteContext(ctx);
}

}  // namespace
