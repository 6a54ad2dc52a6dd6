// Convex hulls of gamut-sized clouds: a 33³ sRGB sampling and the 4⁷ = 16384 samples of a
// seven-ink printer (a simple subtractive model). Target: under 100 ms each on one core.
#include "common/analysis/Hull.h"
#include "krm.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

HullPoint Rounded(const krmCIELab& lab)
{
    return {int(std::lround(lab.L)), int(std::lround(lab.a)), int(std::lround(lab.b))};
}

std::vector<HullPoint> RgbCloud(int steps)
{
    krmProfile srgb = krmCreate_sRGBProfile();
    krmProfile lab = krmCreateLab4Profile(nullptr);
    krmTransform t = krmCreateTransform(srgb, krmFmtRGBDouble, lab, krmFmtLabDouble, 0, 0);
    std::vector<HullPoint> pts;
    for (int r = 0; r < steps; r++)
        for (int g = 0; g < steps; g++)
            for (int b = 0; b < steps; b++) {
                const double rgb[3] = {double(r) / (steps - 1), double(g) / (steps - 1), double(b) / (steps - 1)};
                krmCIELab out;
                krmDoTransform(t, rgb, &out, 1);
                pts.push_back(Rounded(out));
            }
    krmDeleteTransform(t);
    krmCloseProfile(lab);
    krmCloseProfile(srgb);
    return pts;
}

// Each ink absorbs part of the light in X, Y and Z; coverages multiply.
std::vector<HullPoint> SevenInkCloud()
{
    const double absorb[7][3] = {
        {0.75, 0.45, 0.10},  // cyan
        {0.30, 0.70, 0.35},  // magenta
        {0.05, 0.10, 0.90},  // yellow
        {0.92, 0.93, 0.94},  // black
        {0.10, 0.45, 0.85},  // orange
        {0.55, 0.25, 0.70},  // green
        {0.55, 0.60, 0.05},  // violet
    };
    const krmCIEXYZ* white = krmD50_XYZ();
    std::vector<HullPoint> pts;
    for (int code = 0; code < 16384; code++) {
        double f[3] = {1, 1, 1};
        for (int ink = 0, rest = code; ink < 7; ink++, rest /= 4) {
            const double c = (rest % 4) / 3.0;
            for (int k = 0; k < 3; k++) f[k] *= 1 - c * absorb[ink][k];
        }
        const krmCIEXYZ xyz = {white->X * f[0], white->Y * f[1], white->Z * f[2]};
        krmCIELab lab;
        krmXYZ2Lab(white, &lab, &xyz);
        pts.push_back(Rounded(lab));
    }
    return pts;
}

void Run(benchmark::State& state, const std::vector<HullPoint>& cloud)
{
    for (auto _ : state) {
        Hull hull;
        for (const HullPoint& p : cloud) hull.add_point(p);
        hull.compute();
        benchmark::DoNotOptimize(hull.triangles().data());
        state.counters["vertices"] = double(hull.vertices().size());
        state.counters["triangles"] = double(hull.triangles().size() / 3);
    }
    state.counters["points"] = double(cloud.size());
}

void BM_HullRgb33(benchmark::State& state)
{
    static const std::vector<HullPoint> cloud = RgbCloud(33);
    Run(state, cloud);
}

void BM_HullSevenInk4(benchmark::State& state)
{
    static const std::vector<HullPoint> cloud = SevenInkCloud();
    Run(state, cloud);
}

}  // namespace

BENCHMARK(BM_HullRgb33)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HullSevenInk4)->Unit(benchmark::kMillisecond);
