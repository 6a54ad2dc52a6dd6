// Opens a profile and converts a small buffer between it and the built-in sRGB and Lab profiles,
// in both directions, for each ICC intent.
#include <cstring>

#include "fuzz_common.h"

namespace {

constexpr int kPixels = 8;

krmUInt32Number Format16(krmColorSpaceSignature cs)
{
    return krmFMT_COLORSPACE(krmColorSpaceCode(cs)) | krmFMT_CHANNELS(krmChannelsOf(cs)) | krmFMT_BYTES(2);
}

krmUInt32Number FormatFloat(krmColorSpaceSignature cs)
{
    return krmFMT_FLOAT(1) | krmFMT_COLORSPACE(krmColorSpaceCode(cs)) | krmFMT_CHANNELS(krmChannelsOf(cs)) |
           krmFMT_BYTES(4);
}

// Runs a transform over pixels that sweep the whole range of every channel.
void Convert(krmContext ctx, krmProfile in, krmUInt32Number inFmt, krmProfile out, krmUInt32Number outFmt,
             krmUInt32Number intent, krmUInt32Number flags)
{
    krmTransform xf = krmCreateTransformWithContext(ctx, in, inFmt, out, outFmt, intent, flags);
    if (!xf)
        return;
    // Big enough for kPixels of 15 doubles.
    alignas(8) unsigned char src[kPixels * 16 * 8];
    alignas(8) unsigned char dst[kPixels * 16 * 8];
    if (krmT_FLOAT(inFmt)) {
        float* f = reinterpret_cast<float*>(src);
        for (size_t i = 0; i < sizeof(src) / sizeof(float); i++)
            f[i] = float((i * 37) % 101) * (krmT_COLORSPACE(inFmt) == krmPT_Lab ? 1.0f : 0.01f);
    } else {
        krmUInt16Number* w = reinterpret_cast<krmUInt16Number*>(src);
        for (size_t i = 0; i < sizeof(src) / sizeof(krmUInt16Number); i++)
            w[i] = krmUInt16Number((i * 0x3A7Fu) & 0xFFFFu);
        w[0] = w[1] = w[2] = w[3] = 0;
        w[4] = w[5] = w[6] = w[7] = 0xFFFF;
    }
    std::memset(dst, 0, sizeof(dst));
    krmDoTransform(xf, src, dst, kPixels);
    krmDeleteTransform(xf);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    krmContext ctx = fuzz::PermissiveContext();
    static krmProfile srgb = krmCreate_sRGBProfile(ctx);
    static krmProfile lab = krmCreateLab4Profile(ctx, nullptr);

    krmProfile p = krmOpenProfileFromMemInContext(ctx, data, krmUInt32Number(size));
    if (!p)
        return 0;
    const krmColorSpaceSignature cs = krmGetProfileColorSpace(p);
    const krmColorSpaceSignature pcs = krmGetProfilePCS(p);
    const bool link = krmGetProfileClass(p) == krmSig("link");
    // The last byte picks the flags so that both the optimised and the plain pipelines are reached.
    // Small grids keep resampling cheap enough for thousands of runs a minute.
    const krmUInt32Number flags = krmFlagGridPoints(9) | ((data[size - 1] & 1) ? krmFlagNoOptimize : 0);
    for (krmUInt32Number intent = 0; intent < 4; intent++) {
        if (link) {
            Convert(ctx, p, Format16(cs), nullptr, Format16(pcs), intent, flags);
            continue;
        }
        Convert(ctx, p, Format16(cs), srgb, krmFmtRGB16, intent, flags);
        Convert(ctx, srgb, krmFmtRGB16, p, Format16(cs), intent, flags);
        Convert(ctx, p, FormatFloat(cs), lab, krmFmtLabFloat, intent, flags | krmFlagNoCache);
        Convert(ctx, lab, krmFmtLabDouble, p, Format16(cs), intent, flags);
    }
    krmCloseProfile(p);
    return 0;
}
