// The image readers of the proofing view and prismet-cli on arbitrary bytes: the embedded-profile
// scans (PNG 'iCCP', JPEG APP2 chunks, TIFF tag 34675), TIFF strips and tiles through libtiff,
// CMYK JPEG through libjpeg-turbo, PNG/JPEG/BMP through Qt; a decoded image is then drawn into a
// small viewport through the engine, and an embedded profile is opened.
#include <algorithm>
#include <cstdint>

#include <QByteArray>
#include <QTransform>

#include "fuzz_common.h"
#include "imaging/ImageDecoder.h"
#include "imaging/ViewportRender.h"

namespace {

// Inputs of at most 1 MiB may decode to this much: a 4096 × 4096 16-bit CMYK image with alpha.
constexpr qsizetype kMaxPixels = qsizetype(160) << 20;

void draw(const RasterImage& image)
{
    krmContext ctx = fuzz::StrictContext();
    krmProfile source = nullptr;
    if (image.space == krmSig("RGB ")) {
        source = krmCreate_sRGBProfile(ctx);
    } else if (image.space == krmSig("GRAY")) {
        krmToneCurve* gamma = krmBuildGamma(ctx, 2.2);
        source = krmCreateGrayProfile(ctx, krmD50_xyY(), gamma);
        krmFreeToneCurve(gamma);
    }
    if (!source)
        return;
    krmProfile screen = krmCreate_sRGBProfile(ctx);
    krmTransform t = krmCreateTransformWithContext(ctx, source, image.engineFormat(true), screen, krmFmtBGRA8, 1,
                                                   krmFlagCopyAlpha);
    if (t) {
        ViewportRenderer renderer;
        QImage out;
        // Zoomed out so that the viewport spans the whole picture and beyond.
        const double k = double(std::max(image.width, image.height)) / 48.0 + 0.01;
        renderer.render(image, t, QTransform(k, 0, 0, k, -3, -3), QSize(64, 40), out);
        krmDeleteTransform(t);
    }
    krmCloseProfile(screen);
    krmCloseProfile(source);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    for (ImageKind kind : {ImageKind::Png, ImageKind::Jpeg, ImageKind::Tiff}) {
        const QByteArray profile = embeddedProfile(bytes, kind);
        if (!profile.isEmpty()) {
            krmProfile p = krmOpenProfileFromMemInContext(fuzz::StrictContext(), profile.constData(), krmUInt32Number(profile.size()));
            if (p)
                krmCloseProfile(p);
        }
    }
    const DecodeResult decoded = decodeImage(bytes, kMaxPixels);
    if (!decoded.image.isNull()) {
        decoded.image.rgbAt(decoded.image.width - 1, decoded.image.height - 1);
        draw(decoded.image);
    }
    return 0;
}
