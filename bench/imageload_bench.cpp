// Opening a large image in the proofing view: a 24-megapixel photo (6000 × 4000) as 8-bit PNG,
// JPEG and 16-bit TIFF decoded from memory, and the first frame after it, fitted into a
// 1920 × 1080 viewport through a CMYK proof with the gamut alarm (target: the whole under 1 s).
#include "common/workers/WorkerPool.h"
#include "imaging/ImageDecoder.h"
#include "imaging/TiffCodec.h"
#include "imaging/ViewportRender.h"

#include <krm.h>

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <cstring>

namespace {

const char* kCMYK = "/usr/share/color/icc/ghostscript/default_cmyk.icc";
constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
const QSize kViewport(1920, 1080);

// Smooth shading with a little grain, so that the files compress about as photos do.
quint16 sample(int x, int y, int c)
{
    const unsigned grain = (unsigned(x) * 2654435761u ^ unsigned(y) * 40503u ^ unsigned(c) * 97u) >> 28;
    return quint16((x * 65535 / kWidth * (c + 1) / 3 + y * 65535 / kHeight * (3 - c) / 3) / 2 + grain * 64);
}

QByteArray encoded(const char* format)
{
    if (std::strcmp(format, "tiff16") == 0) {
        RasterImage image;
        image.width = kWidth;
        image.height = kHeight;
        image.space = krmSig("RGB ");
        image.colorChannels = 3;
        image.bytesPerSample = 2;
        image.allocate(kDefaultMaxImageBytes);
        for (int y = 0; y < kHeight; ++y) {
            auto* line = reinterpret_cast<quint16*>(image.scanLine(y));
            for (int x = 0; x < kWidth; ++x)
                for (int c = 0; c < 3; ++c)
                    line[3 * x + c] = sample(x, y, c);
        }
        QByteArray out;
        QString error;
        writeTiff(image, QByteArray(), out, error);
        return out;
    }
    QImage image(kWidth, kHeight, QImage::Format_RGB888);
    for (int y = 0; y < kHeight; ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c)
                line[3 * x + c] = uchar(sample(x, y, c) >> 8);
    }
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(90);
    writer.write(image);
    return out;
}

// The proofing view's chain: image (sRGB) -> CMYK proof -> screen, with the gamut alarm.
krmTransform proofTransform(const RasterImage& image)
{
    krmProfile in = krmCreate_sRGBProfile();
    krmProfile proof = krmOpenProfileFromFile(kCMYK, "r");
    krmProfile screen = krmCreate_sRGBProfile();
    krmTransform t = nullptr;
    if (proof) {
        krmProfile chain[] = {in, proof, proof, screen};
        krmUInt32Number intents[] = {1, 1, 1, 1};
        krmBool bpc[] = {false, false, true, true};
        double adaptation[] = {1, 1, 1, 1};
        t = krmCreateExtendedTransform(nullptr, 4, chain, bpc, intents, adaptation, proof, 1, image.engineFormat(true),
                                       krmFmtBGRA8,
                                       krmFlagCopyAlpha | krmFlagNoWhiteOnWhiteFixup | krmFlagSoftProofing |
                                           krmFlagGamutCheck);
        krmCloseProfile(proof);
    }
    krmCloseProfile(in);
    krmCloseProfile(screen);
    return t;
}

// Decoding alone, and decoding with the first fitted frame.
void Open(benchmark::State& state, const char* format, bool frame)
{
    static const bool pool = (prismet::registerParallelWorkers(nullptr), true);
    (void)pool;
    const QByteArray bytes = encoded(format);
    ViewportRenderer renderer;
    QImage out;
    for (auto _ : state) {
        DecodeResult decoded = decodeImage(bytes);
        if (decoded.image.isNull()) {
            state.SkipWithError(qPrintable(decoded.error));
            return;
        }
        if (frame) {
            const krmTransform t = proofTransform(decoded.image);
            if (!t) {
                state.SkipWithError("transform failed");
                return;
            }
            const double k = std::max(double(kWidth) / kViewport.width(), double(kHeight) / kViewport.height());
            renderer.render(decoded.image, t, QTransform::fromScale(k, k), kViewport, out);
            krmDeleteTransform(t);
        }
        benchmark::DoNotOptimize(decoded.image.pixels.constData());
    }
    state.counters["MB"] = bytes.size() / 1e6;
}

}  // namespace

BENCHMARK_CAPTURE(Open, png8_decode, "png", false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Open, png8_first_frame, "png", true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Open, jpeg_decode, "jpeg", false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Open, jpeg_first_frame, "jpeg", true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Open, tiff16_decode, "tiff16", false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Open, tiff16_first_frame, "tiff16", true)->Unit(benchmark::kMillisecond)->UseRealTime();
