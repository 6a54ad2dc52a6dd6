// prismet-cli gamut --image: an image's colours against the profile's hull, computed by the
// same code as the Gamut view's image point cloud (analysis/ImageGamut).
#include "common/analysis/ImageGamut.h"
#include "cli/Commands.h"
#include "imaging/ImageDecoder.h"

namespace {

struct ProfileCloser {
    void operator()(krmProfile p) const { krmCloseProfile(p); }
};

CliValue lab_array(const double* v)
{
    CliValue a = CliValue::array();
    for (int k = 0; k < 3; ++k)
        a.append(v[k]);
    return a;
}

} // namespace

bool imageGamut(EngineSession& session, krmProfile profile, const GamutHull& gamut, const QString& path,
                const LoadedProfile* assigned, CliValue& value,
                QByteArray& text, QString& error)
{
    QByteArray bytes;
    if (!readFileBytes(path, bytes, QStringLiteral("image"), error))
        return false;
    const DecodeResult decoded = decodeImage(bytes);
    if (decoded.image.isNull()) {
        error = QStringLiteral("cannot read image '%1': %2").arg(path, decoded.error);
        return false;
    }
    const RasterImage& image = decoded.image;
    std::unique_ptr<std::remove_pointer_t<krmProfile>, ProfileCloser> own;
    QString source = QStringLiteral("embedded");
    krmProfile pixelsProfile = nullptr;
    if (assigned) {
        pixelsProfile = assigned->profile;
        source = QStringLiteral("assigned (%1)").arg(assigned->name);
    } else if (!image.icc.isEmpty())
        own.reset(krmOpenProfileFromMemInContext(session.context(), image.icc.constData(),
                                                 krmUInt32Number(image.icc.size())));
    else if (image.space == krmSig("RGB ")) {
        own.reset(krmCreate_sRGBProfile(session.context()));
        source = QStringLiteral("sRGB (the image has none)");
    }
    if (!pixelsProfile)
        pixelsProfile = own.get();
    if (!pixelsProfile) {
        error = image.icc.isEmpty()
                    ? QStringLiteral("image '%1' has no profile, and only RGB images are taken as sRGB: "
                                     "give its profile with --image-profile")
                          .arg(path)
                    : QStringLiteral("image '%1': its embedded profile cannot be read").arg(path);
        return false;
    }
    if (krmGetProfileColorSpace(pixelsProfile) != image.space) {
        error = QStringLiteral("image '%1': its profile is for another colour space than its pixels").arg(path);
        return false;
    }
    const ImagePixels pixels = image.analysisPixels(pixelsProfile);
    ImageGamutResult r;
    try {
        r = analyse_image_gamut(pixels, profile, gamut);
    } catch (const std::exception& e) {
        error = QStringLiteral("image '%1': %2").arg(path, QString::fromUtf8(e.what()));
        return false;
    }
    value = CliValue::object();
    value.set(QStringLiteral("file"), path);
    value.set(QStringLiteral("image_profile"), source);
    value.set(QStringLiteral("pixels"), (unsigned long long)r.pixels);
    value.set(QStringLiteral("samples"), (unsigned long long)r.samples);
    value.set(QStringLiteral("outside"), (unsigned long long)r.outside);
    value.set(QStringLiteral("outside_percent"), 100.0 * r.outsideShare);
    CliValue trip = CliValue::object();
    trip.set(QStringLiteral("samples"), (unsigned long long)r.roundtrip.count);
    trip.set(QStringLiteral("mean"), r.roundtrip.mean);
    trip.set(QStringLiteral("p95"), r.roundtrip.p95);
    trip.set(QStringLiteral("max"), r.roundtrip.max);
    CliValue worst = CliValue::array();
    for (std::size_t i : r.roundtrip.worst) {
        CliValue w = CliValue::object();
        w.set(QStringLiteral("lab"), lab_array(r.trips[i].source));
        w.set(QStringLiteral("roundtrip"), lab_array(r.trips[i].roundtrip));
        w.set(QStringLiteral("de00"), r.trips[i].de00);
        worst.append(std::move(w));
    }
    trip.set(QStringLiteral("worst"), std::move(worst));
    value.set(QStringLiteral("roundtrip"), std::move(trip));
    text = QStringLiteral("\nImage:    %1 (%2 x %3, profile %4)\n"
                          "Samples:  %5 of %6 pixels\n"
                          "Outside:  %7 samples, %8 % of the image\n")
               .arg(path)
               .arg(image.width)
               .arg(image.height)
               .arg(source)
               .arg(r.samples)
               .arg(r.pixels)
               .arg(r.outside)
               .arg(100.0 * r.outsideShare, 0, 'f', 2)
               .toUtf8();
    if (r.outside)
        text += QStringLiteral("Roundtrip of the outside colours (relative colorimetric): \u0394E00 mean %1, "
                               "95th percentile %2, max %3\n")
                    .arg(r.roundtrip.mean, 0, 'f', 4)
                    .arg(r.roundtrip.p95, 0, 'f', 4)
                    .arg(r.roundtrip.max, 0, 'f', 4)
                    .toUtf8();
    return true;
}
