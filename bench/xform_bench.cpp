// Pixels per second of the common transforms: 8-bit RGB to RGB between matrix-shapers, RGB to
// CMYK through a resampled CLUT, and 16-bit RGB.
#include "krm.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr int kPixels = 256 * 256;

const char* kAdobeRGB = "/usr/share/color/icc/colord/AdobeRGB1998.icc";
const char* kCMYK = "/usr/share/color/icc/ghostscript/default_cmyk.icc";

template <typename T>
std::vector<T> Ramp(int channels)
{
    std::vector<T> v(size_t(kPixels) * channels);
    const unsigned scale = sizeof(T) == 1 ? 1 : 257;
    for (size_t i = 0; i < v.size(); i++) v[i] = T(((i * 2654435761u) >> 13) % 256 * scale);
    return v;
}

template <typename TIn, typename TOut>
void Run(benchmark::State& state, const char* outPath, krmUInt32Number inFormat, krmUInt32Number outFormat,
         int outChannels, krmUInt32Number flags)
{
    krmProfile in = krmCreate_sRGBProfile();
    krmProfile out = krmOpenProfileFromFile(outPath, "r");
    if (!out) {
        state.SkipWithError("profile missing");
        krmCloseProfile(in);
        return;
    }
    krmTransform t = krmCreateTransform(in, inFormat, out, outFormat, 0, flags);
    if (!t) {
        state.SkipWithError("transform failed");
    } else {
        const auto src = Ramp<TIn>(3);
        std::vector<TOut> dst(size_t(kPixels) * outChannels);
        for (auto _ : state) {
            krmDoTransform(t, src.data(), dst.data(), kPixels);
            benchmark::DoNotOptimize(dst.data());
        }
        state.SetItemsProcessed(state.iterations() * kPixels);
        state.counters["pixels/s"] = benchmark::Counter(double(state.iterations()) * kPixels, benchmark::Counter::kIsRate);
        krmDeleteTransform(t);
    }
    krmCloseProfile(in);
    krmCloseProfile(out);
}

const krmUInt32Number kCMYK8 = krmFMT_COLORSPACE(krmPT_CMYK) | krmFMT_CHANNELS(4) | krmFMT_BYTES(1);

void BM_RGB8_MatrixShaper(benchmark::State& s) { Run<krmUInt8Number, krmUInt8Number>(s, kAdobeRGB, krmFmtRGB8, krmFmtRGB8, 3, 0); }
void BM_RGB8_MatrixShaper_Unoptimised(benchmark::State& s)
{
    Run<krmUInt8Number, krmUInt8Number>(s, kAdobeRGB, krmFmtRGB8, krmFmtRGB8, 3, krmFlagNoOptimize);
}
void BM_RGB8_to_CMYK8(benchmark::State& s) { Run<krmUInt8Number, krmUInt8Number>(s, kCMYK, krmFmtRGB8, kCMYK8, 4, 0); }
void BM_RGB16_MatrixShaper(benchmark::State& s)
{
    Run<krmUInt16Number, krmUInt16Number>(s, kAdobeRGB, krmFmtRGB16, krmFmtRGB16, 3, 0);
}
void BM_RGB16_to_CMYK16(benchmark::State& s)
{
    Run<krmUInt16Number, krmUInt16Number>(s, kCMYK, krmFmtRGB16,
                                          krmFMT_COLORSPACE(krmPT_CMYK) | krmFMT_CHANNELS(4) | krmFMT_BYTES(2), 4, 0);
}
void BM_RGBFloat_MatrixShaper(benchmark::State& s)
{
    Run<krmUInt8Number, krmUInt8Number>(s, kAdobeRGB, krmFmtRGB8, krmFmtRGBFloat, 4 * 3, 0);
}

// RGB to RGB through a Lab CLUT: the prelinearised 8-bit CLUT.
void BM_RGB8_PrelinearisedCLUT(benchmark::State& state)
{
    krmProfile s = krmCreate_sRGBProfile();
    krmProfile lab = krmOpenProfileFromFile("/usr/share/color/icc/ghostscript/lab.icc", "r");
    krmProfile adobe = krmOpenProfileFromFile(kAdobeRGB, "r");
    krmProfile chain[3] = {s, lab, adobe};
    krmTransform t =
        lab && adobe ? krmCreateMultiprofileTransform(nullptr, chain, 3, krmFmtRGB8, krmFmtRGB8, 1, 0) : nullptr;
    if (!t) {
        state.SkipWithError("transform failed");
    } else {
        const auto src = Ramp<krmUInt8Number>(3);
        std::vector<krmUInt8Number> dst(src.size());
        for (auto _ : state) {
            krmDoTransform(t, src.data(), dst.data(), kPixels);
            benchmark::DoNotOptimize(dst.data());
        }
        state.SetItemsProcessed(state.iterations() * kPixels);
        state.counters["pixels/s"] = benchmark::Counter(double(state.iterations()) * kPixels, benchmark::Counter::kIsRate);
        krmDeleteTransform(t);
    }
    for (krmProfile h : chain)
        if (h) krmCloseProfile(h);
}

}  // namespace

BENCHMARK(BM_RGB8_PrelinearisedCLUT)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RGB8_MatrixShaper)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RGB8_MatrixShaper_Unoptimised)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RGB8_to_CMYK8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RGB16_MatrixShaper)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RGB16_to_CMYK16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RGBFloat_MatrixShaper)->Unit(benchmark::kMillisecond);
