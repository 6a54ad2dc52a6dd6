// The image-against-gamut analysis behind prismet-cli gamut --image and the Gamut view's image
// point cloud.
#include "common/analysis/ImageGamut.h"
#include "common/analysis/EngineHandles.h"

#include <cmath>
#include <cstring>
#include <memory>

std::vector<std::size_t> image_sample_indices(std::size_t pixels, std::size_t limit)
{
    const std::size_t n = std::min(pixels, limit);
    std::vector<std::size_t> indices(n);
    for (std::size_t i = 0; i < n; ++i)
        indices[i] = n == pixels ? i : std::size_t((unsigned __int128)i * pixels / n);
    return indices;
}

std::vector<double> image_lab_samples(const ImagePixels& image, std::size_t limit)
{
    if (!image.data || image.width <= 0 || image.height <= 0 || !image.profile)
        throw Exception("no image to analyse");
    const std::size_t pixels = std::size_t(image.width) * std::size_t(image.height);
    const std::vector<std::size_t> indices = image_sample_indices(pixels, limit);
    const ContextPtr context(krmCreateContext(nullptr, nullptr));
    if (!context)
        throw Exception("cannot create an engine context");
    krmSetLogErrorHandlerInContext(context.get(), nullptr);
    const ProfilePtr lab(krmCreateLab4Profile(context.get(), nullptr));
    const TransformPtr toLab(krmCreateTransformWithContext(context.get(), image.profile, image.format, lab.get(),
                                                           krmFmtLabDouble, 1, krmFlagNoOptimize));
    if (!toLab)
        throw Exception("the image's profile cannot convert its pixels to L*a*b*");

    // The chosen pixels side by side, then to L*a*b*.
    std::vector<std::uint8_t> packed(indices.size() * image.bytesPerPixel);
    for (std::size_t i = 0; i < indices.size(); ++i) {
        const std::size_t x = indices[i] % std::size_t(image.width), y = indices[i] / std::size_t(image.width);
        std::memcpy(&packed[i * image.bytesPerPixel], image.data + y * image.bytesPerLine + x * image.bytesPerPixel,
                    image.bytesPerPixel);
    }
    std::vector<double> result(indices.size() * 3);
    krmDoTransform(toLab.get(), packed.data(), result.data(), krmUInt32Number(indices.size()));
    return result;
}

ImageGamutResult judge_image_samples(std::vector<double> lab, std::size_t pixels, const GamutHull& gamut,
                                     krmProfile profile)
{
    ImageGamutResult result;
    result.pixels = pixels;
    result.samples = lab.size() / 3;
    result.lab = std::move(lab);
    const HullSolid solid(*gamut.measured, gamut.scale, 1.0 / gamut.scale);
    result.isOutside.resize(result.samples);
    std::vector<double> outsideLab;
    for (std::size_t i = 0; i < result.samples; ++i) {
        const double* v = &result.lab[i * 3];
        const bool outside = !solid.contains(v[0], v[1], v[2]);
        result.isOutside[i] = outside;
        if (outside) {
            ++result.outside;
            outsideLab.insert(outsideLab.end(), v, v + 3);
        }
    }
    result.outsideShare = result.samples ? double(result.outside) / double(result.samples) : 0.0;
    if (!result.outside || !profile)
        return result;

    const ContextPtr context(krmCreateContext(nullptr, nullptr));
    if (!context)
        throw Exception("cannot create an engine context");
    krmSetLogErrorHandlerInContext(context.get(), nullptr);
    const ProfilePtr lab4(krmCreateLab4Profile(context.get(), nullptr));
    // The roundtrip of the outside colours: L*a*b* -> device -> L*a*b*, relative colorimetric.
    const krmUInt32Number device = krmFormatterForColorspaceOfProfile(profile, 2, 0);
    if (!device)
        throw Exception("the profile's colour space has no device format");
    const TransformPtr toDevice(krmCreateTransformWithContext(context.get(), lab4.get(), krmFmtLabDouble, profile,
                                                              device, 1, krmFlagNoOptimize));
    const TransformPtr back(krmCreateTransformWithContext(context.get(), profile, device, lab4.get(), krmFmtLabDouble, 1,
                                                          krmFlagNoOptimize));
    if (!toDevice || !back)
        throw Exception("the profile has no relative colorimetric roundtrip");
    std::vector<std::uint16_t> words(result.outside * krmT_CHANNELS(device));
    std::vector<double> backLab(outsideLab.size());
    krmDoTransform(toDevice.get(), outsideLab.data(), words.data(), krmUInt32Number(result.outside));
    krmDoTransform(back.get(), words.data(), backLab.data(), krmUInt32Number(result.outside));
    std::vector<RoundtripResult>& trips = result.trips;
    trips.resize(result.outside);
    for (std::size_t i = 0; i < result.outside; ++i) {
        std::copy(&outsideLab[i * 3], &outsideLab[i * 3] + 3, trips[i].source);
        std::copy(&backLab[i * 3], &backLab[i * 3] + 3, trips[i].roundtrip);
        const krmCIELab a{trips[i].source[0], trips[i].source[1], trips[i].source[2]};
        const krmCIELab b{trips[i].roundtrip[0], trips[i].roundtrip[1], trips[i].roundtrip[2]};
        trips[i].de00 = krmCIEDE2000(&a, &b, 1, 1, 1);
    }
    result.roundtrip = roundtrip_statistics(trips, 5);
    return result;
}

ImageGamutResult analyse_image_gamut(const ImagePixels& image, krmProfile profile, const GamutHull& gamut,
                                     std::size_t limit)
{
    if (!profile)
        throw Exception("no profile to judge the image against");
    return judge_image_samples(image_lab_samples(image, limit), std::size_t(image.width) * std::size_t(image.height),
                               gamut, profile);
}
