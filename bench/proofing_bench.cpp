// The proofing view's repaint: a 1920 × 1080 viewport of a 24-megapixel image sampled and
// converted in one engine call, straight to the screen, through a CMYK proof with the gamut alarm
// and from 16-bit CMYK, each on one core and with the worker pool; the cost of making the proof
// transform; Qt's own colour conversion of a 1920 × 1080 image beside it for scale (Qt has no CMYK
// or proofing path to compare).
#include "common/workers/WorkerPool.h"
#include "imaging/RasterImage.h"
#include "imaging/ViewportRender.h"

#include <krm.h>

#include <benchmark/benchmark.h>

#include <QColorSpace>
#include <QFile>
#include <QImage>

#include <cstring>

namespace {

const char* kAdobeRGB = "/usr/share/color/icc/colord/AdobeRGB1998.icc";
const char* kCMYK = "/usr/share/color/icc/ghostscript/default_cmyk.icc";
const char* kPressCMYK = "/usr/share/color/icc/ghostscript/ps_cmyk.icc";
const QSize kViewport(1920, 1080);

RasterImage photo(krmColorSpaceSignature space, int depth, int width, int height)
{
    RasterImage r;
    r.width = width;
    r.height = height;
    r.space = space;
    r.colorChannels = space == krmSig("CMYK") ? 4 : 3;
    r.bytesPerSample = depth / 8;
    r.allocate(kDefaultMaxImageBytes);
    auto* p = reinterpret_cast<uchar*>(r.pixels.data());
    for (qsizetype i = 0; i < r.pixels.size(); ++i)
        p[i] = uchar((i * 2654435761u) >> 23);
    return r;
}

void Render(benchmark::State& state, const RasterImage& image, krmTransform t)
{
    if (!t) {
        state.SkipWithError("transform failed");
        return;
    }
    ViewportRenderer renderer;
    QImage out;
    // 1:1, panned into the middle of the picture.
    const QTransform viewToImage = QTransform::fromTranslate(image.width / 4.0, image.height / 4.0);
    for (auto _ : state) {
        renderer.render(image, t, viewToImage, kViewport, out);
        benchmark::DoNotOptimize(out.constBits());
    }
    state.SetItemsProcessed(state.iterations() * kViewport.width() * kViewport.height());
    krmDeleteTransform(t);
}

// A context with the application's worker pool, as the window's global context has it.
krmContext workerContext()
{
    static krmContext context = [] {
        krmContext c = krmCreateContext(nullptr, nullptr);
        prismet::registerParallelWorkers(c);
        return c;
    }();
    return context;
}

// Straight from the image's profile to the screen's (sRGB).
void Direct(benchmark::State& state, const RasterImage& image, const char* profile, krmContext context = nullptr)
{
    krmProfile in = krmOpenProfileFromFile(profile, "r");
    krmProfile screen = krmCreate_sRGBProfile();
    krmTransform t = in ? krmCreateTransformWithContext(context, in, image.engineFormat(true), screen, krmFmtBGRA8, 1,
                                                        krmFlagCopyAlpha | krmFlagNoWhiteOnWhiteFixup)
                        : nullptr;
    Render(state, image, t);
    if (in)
        krmCloseProfile(in);
    krmCloseProfile(screen);
}

void BM_ViewportDirectRGB8(benchmark::State& state)
{
    static const RasterImage image = photo(krmSig("RGB "), 8, 6000, 4000);
    Direct(state, image, kAdobeRGB);
}

void BM_ViewportDirectRGB8Workers(benchmark::State& state)
{
    static const RasterImage image = photo(krmSig("RGB "), 8, 6000, 4000);
    Direct(state, image, kAdobeRGB, workerContext());
}

// The proofing view's chain: image (sRGB, or a CMYK profile) -> proof (CMYK) -> screen (sRGB),
// with the gamut alarm.
krmTransform proofTransform(krmContext context, krmUInt32Number inputFormat, const char* imageProfile = nullptr,
                            const char* proofProfile = kCMYK)
{
    krmProfile in = imageProfile ? krmOpenProfileFromFileInContext(context, imageProfile, "r")
                                 : krmCreate_sRGBProfile(context);
    krmProfile proof = krmOpenProfileFromFileInContext(context, proofProfile, "r");
    krmProfile screen = krmCreate_sRGBProfile(context);
    krmTransform t = nullptr;
    if (in && proof) {
        krmProfile chain[] = {in, proof, proof, screen};
        krmUInt32Number intents[] = {1, 1, 1, 1};
        krmBool bpc[] = {false, false, true, true};
        double adaptation[] = {1, 1, 1, 1};
        t = krmCreateExtendedTransform(context, 4, chain, bpc, intents, adaptation, proof, 1, inputFormat, krmFmtBGRA8,
                                       krmFlagCopyAlpha | krmFlagNoWhiteOnWhiteFixup | krmFlagSoftProofing |
                                           krmFlagGamutCheck);
    }
    if (proof)
        krmCloseProfile(proof);
    if (in)
        krmCloseProfile(in);
    krmCloseProfile(screen);
    return t;
}

void BM_ViewportProofGamutRGB8(benchmark::State& state)
{
    static const RasterImage image = photo(krmSig("RGB "), 8, 6000, 4000);
    Render(state, image, proofTransform(nullptr, image.engineFormat(true)));
}

void BM_ViewportProofGamutRGB8Workers(benchmark::State& state)
{
    static const RasterImage image = photo(krmSig("RGB "), 8, 6000, 4000);
    Render(state, image, proofTransform(workerContext(), image.engineFormat(true)));
}

// Making the proof transform: the linked chain resampled and the gamut check's grid sampled.
void BM_CreateProofTransformGamutCheck(benchmark::State& state)
{
    const krmUInt32Number format = krmFMT_COLORSPACE(krmPT_RGB) | krmFMT_CHANNELS(3) | krmFMT_EXTRA(1) | krmFMT_BYTES(1);
    for (auto _ : state) {
        krmTransform t = proofTransform(nullptr, format);
        if (!t)
            return state.SkipWithError("transform failed");
        krmDeleteTransform(t);
    }
}

// The same for a CMYK image proofed on another CMYK: the gamut check's grid has four inputs.
// With the worker pool, the grid's large conversion calls are shared out.
void BM_CreateProofTransformGamutCheckCMYK(benchmark::State& state)
{
    const krmUInt32Number format = krmFMT_COLORSPACE(krmPT_CMYK) | krmFMT_CHANNELS(4) | krmFMT_EXTRA(1) | krmFMT_BYTES(2);
    krmContext context = state.range(0) ? workerContext() : nullptr;
    for (auto _ : state) {
        krmTransform t = proofTransform(context, format, kCMYK, kPressCMYK);
        if (!t)
            return state.SkipWithError("transform failed");
        krmDeleteTransform(t);
    }
}

void BM_ViewportDirectCMYK16(benchmark::State& state)
{
    static const RasterImage image = photo(krmSig("CMYK"), 16, 3000, 2000);
    Direct(state, image, kCMYK);
}

void BM_ViewportDirectCMYK16Workers(benchmark::State& state)
{
    static const RasterImage image = photo(krmSig("CMYK"), 16, 3000, 2000);
    Direct(state, image, kCMYK, workerContext());
}

// A CMYK photo proofed on another press's CMYK, with the gamut alarm.
void BM_ViewportProofGamutCMYK16(benchmark::State& state)
{
    static const RasterImage image = photo(krmSig("CMYK"), 16, 3000, 2000);
    Render(state, image, proofTransform(nullptr, image.engineFormat(true), kCMYK, kPressCMYK));
}

void BM_ViewportProofGamutCMYK16Workers(benchmark::State& state)
{
    static const RasterImage image = photo(krmSig("CMYK"), 16, 3000, 2000);
    Render(state, image, proofTransform(workerContext(), image.engineFormat(true), kCMYK, kPressCMYK));
}

// Qt's conversion of a whole 1920 × 1080 image from Adobe RGB to sRGB, for comparison.
void BM_QtConvertRGB32(benchmark::State& state)
{
    QFile file(QString::fromLatin1(kAdobeRGB));
    if (!file.open(QIODevice::ReadOnly)) {
        state.SkipWithError("profile missing");
        return;
    }
    QImage image(kViewport, QImage::Format_RGB32);
    auto* p = image.bits();
    for (qsizetype i = 0; i < image.sizeInBytes(); ++i)
        p[i] = uchar((i * 2654435761u) >> 23);
    image.setColorSpace(QColorSpace::fromIccProfile(file.readAll()));
    const QColorSpace srgb(QColorSpace::SRgb);
    for (auto _ : state) {
        QImage converted = image.convertedToColorSpace(srgb);
        benchmark::DoNotOptimize(converted.constBits());
    }
    state.SetItemsProcessed(state.iterations() * kViewport.width() * kViewport.height());
}

} // namespace

BENCHMARK(BM_ViewportDirectRGB8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ViewportDirectRGB8Workers)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ViewportProofGamutRGB8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ViewportProofGamutRGB8Workers)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CreateProofTransformGamutCheck)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CreateProofTransformGamutCheckCMYK)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ViewportDirectCMYK16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ViewportDirectCMYK16Workers)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ViewportProofGamutCMYK16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ViewportProofGamutCMYK16Workers)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QtConvertRGB32)->Unit(benchmark::kMillisecond);
