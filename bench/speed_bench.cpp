// Speed of the conversions users feel, side by side in one run on 8-megapixel buffers: krm against
// Qt's QColorTransform (matrix-shaper, in place on RGB32 / BGRA8), each krm path from the generic
// per-pixel workers to the widest vector code, one against two threads of the worker pool, and the
// cost of opening the largest CMYK profile and of creating an sRGB to CMYK transform.
//
//   build/bench/speed_bench --benchmark_repetitions=3
// Single-thread cases count the CPU time of the converting thread, so other work on the machine
// stretches them less; the thread cases count wall-clock time and need both cores.
#include "common/workers/WorkerPool.h"

#include <krm.h>

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QColorSpace>
#include <QColorTransform>
#include <QFile>
#include <QImage>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kWidth = 4096, kHeight = 2048;  // 8.4 megapixels
constexpr size_t kPixels = size_t(kWidth) * kHeight;

const char* kAdobeRGB = "/usr/share/color/icc/colord/AdobeRGB1998.icc";
const char* kCMYK = "/usr/share/color/icc/ghostscript/default_cmyk.icc";
constexpr krmUInt32Number kCMYK8 = krmFMT_COLORSPACE(krmPT_CMYK) | krmFMT_CHANNELS(4) | krmFMT_BYTES(1);
constexpr krmUInt32Number kCMYK16 = krmFMT_COLORSPACE(krmPT_CMYK) | krmFMT_CHANNELS(4) | krmFMT_BYTES(2);

const char* const kLevels[] = {"generic", "portable", "sse2", "avx2", "avx512"};

// The same pseudo-random pixels for every case: B, G, R, A bytes.
const std::vector<krmUInt8Number>& Pixels()
{
    static const std::vector<krmUInt8Number> p = [] {
        std::vector<krmUInt8Number> v(kPixels * 4);
        krmUInt32Number x = 12345;
        for (auto& b : v) {
            x = x * 1664525u + 1013904223u;
            b = krmUInt8Number(x >> 24);
        }
        return v;
    }();
    return p;
}

void Rate(benchmark::State& state)
{
    state.counters["Mpix/s"] = benchmark::Counter(double(state.iterations()) * kPixels / 1e6, benchmark::Counter::kIsRate);
}

// Parallel-worker registrations with a pool of their own, for the thread cases.
template <unsigned Threads>
void Schedule(void* t, const void* in, void* out, krmUInt32Number ppl, krmUInt32Number lines, const void* stride)
{
    static prismet::WorkerPool pool(Threads);
    pool.convert(static_cast<krmTransform>(t), in, out, ppl, lines, *static_cast<const krmStride*>(stride));
}

template <unsigned Threads>
krmContext ThreadedContext()
{
    static krmPluginParalellization record = {{krmPluginMagicNumber, 2200, krmPluginParalellizationSig, nullptr},
                                              Threads, 0, Schedule<Threads>};
    static krmContext ctx = [] {
        krmContext c = krmCreateContext(nullptr, nullptr);
        krmRegisterPluginInContext(c, &record);
        return c;
    }();
    return ctx;
}

// krm: src -> dst through sRGB -> profile, with KRM_SIMD set to the level while the transform is made.
void Krm(benchmark::State& state, krmContext ctx, const char* level, const char* path, krmUInt32Number inFmt,
         krmUInt32Number outFmt, krmUInt32Number inBytes, krmUInt32Number outBytes, bool inPlace)
{
    setenv("KRM_SIMD", level, 1);
    krmProfile s = krmCreate_sRGBProfile(ctx);
    krmProfile d = krmOpenProfileFromFileInContext(ctx, path, "r");
    krmTransform t = d ? krmCreateTransformWithContext(ctx, s, inFmt, d, outFmt, 0, inPlace ? krmFlagCopyAlpha : 0) : nullptr;
    unsetenv("KRM_SIMD");
    if (!t) {
        state.SkipWithError("transform failed");
    } else {
        std::vector<krmUInt8Number> src(kPixels * inBytes), dst(kPixels * outBytes);
        const auto& p = Pixels();
        for (size_t i = 0; i < src.size(); i++) src[i] = p[i % p.size()];
        for (auto _ : state) {
            if (inPlace) {
                state.PauseTiming();
                std::memcpy(dst.data(), src.data(), dst.size());
                state.ResumeTiming();
            }
            krmDoTransformLineStride(t, inPlace ? dst.data() : src.data(), dst.data(), kWidth, kHeight, kWidth * inBytes,
                                     kWidth * outBytes, 0, 0);
            benchmark::DoNotOptimize(dst.data());
        }
        Rate(state);
        krmDeleteTransform(t);
    }
    if (d) krmCloseProfile(d);
    krmCloseProfile(s);
}

// Qt splits a large image over its global thread pool; one line at a time it converts on the calling
// thread, so CPU time compares one thread with one thread even on a busy machine.
void BM_Qt_MatrixShaper_RGB32_InPlace(benchmark::State& state)
{
    QFile f(kAdobeRGB);
    if (!f.open(QIODevice::ReadOnly)) return state.SkipWithError("profile missing");
    const QColorTransform t = QColorSpace(QColorSpace::SRgb).transformationToColorSpace(QColorSpace::fromIccProfile(f.readAll()));
    std::vector<uchar> work(kPixels * 4);
    const qsizetype bpl = kWidth * 4;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(work.data(), Pixels().data(), work.size());
        state.ResumeTiming();
        for (int y = 0; y < kHeight; y++) {
            QImage line(work.data() + y * bpl, kWidth, 1, bpl, QImage::Format_RGB32);
            line.applyColorTransform(t);
        }
        benchmark::DoNotOptimize(work.data());
    }
    Rate(state);
}

void BM_Krm_MatrixShaper_BGRA8_InPlace(benchmark::State& state)
{
    Krm(state, nullptr, kLevels[state.range(0)], kAdobeRGB, krmFmtBGRA8, krmFmtBGRA8, 4, 4, true);
}
void BM_Krm_MatrixShaper_RGB8(benchmark::State& state)
{
    Krm(state, nullptr, kLevels[state.range(0)], kAdobeRGB, krmFmtRGB8, krmFmtRGB8, 3, 3, false);
}
void BM_Krm_CLUT_RGB8_to_CMYK8(benchmark::State& state)
{
    Krm(state, nullptr, kLevels[state.range(0)], kCMYK, krmFmtRGB8, kCMYK8, 3, 4, false);
}
void BM_Krm_CLUT_RGB16_to_CMYK16(benchmark::State& state)
{
    Krm(state, nullptr, kLevels[state.range(0)], kCMYK, krmFmtRGB16, kCMYK16, 6, 8, false);
}

krmContext ThreadContext(int threads) { return threads == 1 ? ThreadedContext<1>() : ThreadedContext<2>(); }

void BM_Krm_Threads_MatrixShaper_BGRA8(benchmark::State& state)
{
    Krm(state, ThreadContext(int(state.range(0))), "avx512", kAdobeRGB, krmFmtBGRA8, krmFmtBGRA8, 4, 4, false);
}
void BM_Krm_Threads_CLUT_RGB8_to_CMYK8(benchmark::State& state)
{
    Krm(state, ThreadContext(int(state.range(0))), "avx512", kCMYK, krmFmtRGB8, kCMYK8, 3, 4, false);
}

// Open the largest CMYK profile of the corpus from memory and decode every tag.
void BM_OpenAndDecodeAllTags_CMYK(benchmark::State& state)
{
    QFile f(kCMYK);
    if (!f.open(QIODevice::ReadOnly)) return state.SkipWithError("profile missing");
    QByteArray bytes = f.readAll();
    for (auto _ : state) {
        krmProfile h = krmOpenProfileFromMem(bytes.data(), krmUInt32Number(bytes.size()));
        const krmInt32Number n = krmGetTagCount(h);
        for (krmInt32Number i = 0; i < n; i++) benchmark::DoNotOptimize(krmReadTag(h, krmGetTagSignature(h, krmUInt32Number(i))));
        krmCloseProfile(h);
    }
}

void BM_CreateTransform_sRGB_to_CMYK(benchmark::State& state)
{
    krmProfile s = krmCreate_sRGBProfile();
    krmProfile d = krmOpenProfileFromFile(kCMYK, "r");
    if (!d) return state.SkipWithError("profile missing");
    for (auto _ : state) {
        krmTransform t = krmCreateTransform(s, krmFmtRGB8, d, kCMYK8, 0, 0);
        benchmark::DoNotOptimize(t);
        krmDeleteTransform(t);
    }
    krmCloseProfile(d);
    krmCloseProfile(s);
}

void Levels(benchmark::internal::Benchmark* b)
{
    for (int i = 0; i < 5; i++) b->Arg(i);
}

}  // namespace

BENCHMARK(BM_Qt_MatrixShaper_RGB32_InPlace)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Krm_MatrixShaper_BGRA8_InPlace)->Apply(Levels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Krm_MatrixShaper_RGB8)->Apply(Levels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Krm_CLUT_RGB8_to_CMYK8)->Apply(Levels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Krm_CLUT_RGB16_to_CMYK16)->Apply(Levels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Krm_Threads_MatrixShaper_BGRA8)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Krm_Threads_CLUT_RGB8_to_CMYK8)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenAndDecodeAllTags_CMYK)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CreateTransform_sRGB_to_CMYK)->Unit(benchmark::kMillisecond);
