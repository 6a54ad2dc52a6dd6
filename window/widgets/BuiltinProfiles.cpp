#include "window/widgets/BuiltinProfiles.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdio>
#include <memory>

namespace {

enum class White { D6504, D50, ProPhoto };

// A pure power curve when `parametric` is false, else the ICC parametric function 3
// (engine type 4): Y = (aX + b)^g for X >= d, Y = cX below d.
struct Transfer {
    bool parametric;
    double params[5];  // g, a, b, c, d
};

struct RgbBuiltin {
    const char* name;
    double xy[6];  // red x, y; green x, y; blue x, y
    double Y[3];   // luminances handed with the primaries; only x and y enter the matrix
    White white;
    Transfer transfer;
    double version;  // 0 keeps the engine's own
    const char* description;
};

constexpr Transfer gamma(double g) { return {false, {g, 0, 0, 0, 0}}; }

// The ProPhoto and BT.2020 thresholds are the ones these colour spaces are commonly built with
// (0.001953 and 0.018), not the standards' 0.03125 and 0.081.
constexpr Transfer kProPhotoCurve = {true, {1.8, 1.0, 0.0, 0.0625, 0.001953}};
constexpr Transfer kBt2020Curve = {
    true, {2.2222222222222223, 0.9099181073703367, 0.09008189262966333, 0.2222222222222222, 0.018}};

const RgbBuiltin kRgbBuiltins[] = {
    {"*argb", {0.64, 0.33, 0.21, 0.71, 0.15, 0.06}, {1, 1, 1}, White::D6504, gamma(2.19921875), 0,
     "AdobeRGB1998-like color space"},
    {"*colormatchrgb", {0.63, 0.34, 0.29, 0.61, 0.15, 0.075}, {1, 1, 1}, White::D50, gamma(2.2), 0,
     "ColormatchRGB-like color space"},
    {"*applergb", {0.63, 0.34, 0.28, 0.60, 0.16, 0.07}, {1, 1, 1}, White::D6504, gamma(1.8), 0,
     "AppleRGB-like color space"},
    {"*srgblin", {0.64, 0.33, 0.30, 0.60, 0.15, 0.06}, {1, 1, 1}, White::D6504, gamma(1.0), 0,
     "Rec709/gamma 1.0, (sRGB-linear) color space"},
    {"*argblin", {0.64, 0.33, 0.21, 0.71, 0.15, 0.06}, {1, 1, 1}, White::D6504, gamma(1.0), 0,
     "AdobeRGB1998/gamma 1.0 (aRGB-linear) color space"},
    {"*prophoto", {0.7347, 0.2653, 0.1596, 0.8404, 0.0366, 0.0001}, {0.28804, 0.711874, 0.000086},
     White::ProPhoto, kProPhotoCurve, 4.3, "ProPhotoRGB-like"},
    {"*prophotolin", {0.7347, 0.2653, 0.1596, 0.8404, 0.0366, 0.0001}, {0.28804, 0.711874, 0.000086},
     White::ProPhoto, gamma(1.0), 4.3, "linear ProPhotoRGB-like"},
    {"*bt2020", {0.708, 0.292, 0.170, 0.797, 0.131, 0.046}, {1, 1, 1}, White::D6504, kBt2020Curve, 4.3,
     "ITU-R Recommendation BT.2020"},
    {"*ecirgb", {0.67, 0.33, 0.21, 0.71, 0.14, 0.08}, {1, 1, 1}, White::D50, gamma(1.8), 0,
     "ECI RGB-like color space"},
    {"*oprgb", {0.64, 0.33, 0.21, 0.71, 0.15, 0.06}, {1, 1, 1}, White::D6504, gamma(2.19921875), 0,
     "opRGB-IEC 61966-2-5:2007"},
    {"*dcip3", {0.68, 0.32, 0.265, 0.69, 0.15, 0.06}, {1, 1, 1}, White::D6504, gamma(2.6), 0,
     "DCI P3 SMPTE-EG-0432-1:2010"},
};

struct GrayBuiltin {
    const char* name;
    double gamma;
};

const GrayBuiltin kGrayBuiltins[] = {
    {"*gray10", 1.0}, {"*gray18", 1.8}, {"*gray22", 2.2}, {"*gray30", 3.0}};

struct CurveDeleter {
    void operator()(krmToneCurve* curve) const { krmFreeToneCurve(curve); }
};
using CurvePtr = std::unique_ptr<krmToneCurve, CurveDeleter>;

// The serialised profile behind "*user".
QByteArray& user_store()
{
    static QByteArray block;
    return block;
}

bool white_point(White white, krmCIExyY* wp)
{
    switch (white) {
    case White::D6504:
        return krmWhitePointFromTemp(wp, 6504);
    case White::ProPhoto:
        return krmWhitePointFromTemp(wp, 5002.78164116829);
    case White::D50:
        *wp = *krmD50_xyY();
        return true;
    }
    return false;
}

CurvePtr build_transfer(const Transfer& transfer)
{
    if (transfer.parametric)
        return CurvePtr(krmBuildParametricToneCurve(nullptr, 4, transfer.params));
    return CurvePtr(krmBuildGamma(nullptr, transfer.params[0]));
}

// Takes ownership of `profile`: it is described, or closed when that fails.
krmProfile described(krmProfile profile, const QString& description)
{
    if (!profile)
        return nullptr;
    if (!set_profile_description(profile, description)) {
        krmCloseProfile(profile);
        return nullptr;
    }
    return profile;
}

krmProfile make_rgb(const RgbBuiltin& builtin)
{
    krmCIExyY wp;
    if (!white_point(builtin.white, &wp))
        return nullptr;
    const krmCIExyYTRIPLE primaries = {{builtin.xy[0], builtin.xy[1], builtin.Y[0]},
                                       {builtin.xy[2], builtin.xy[3], builtin.Y[1]},
                                       {builtin.xy[4], builtin.xy[5], builtin.Y[2]}};
    CurvePtr curve = build_transfer(builtin.transfer);
    if (!curve)
        return nullptr;
    krmToneCurve* const curves[3] = {curve.get(), curve.get(), curve.get()};
    krmProfile profile = krmCreateRGBProfile(&wp, &primaries, curves);
    curve.reset();
    if (profile && builtin.version > 0)
        krmSetProfileVersion(profile, builtin.version);
    return described(profile, QString::fromLatin1(builtin.description));
}

krmProfile make_gray(const GrayBuiltin& builtin)
{
    CurvePtr curve(krmBuildGamma(nullptr, builtin.gamma));
    if (!curve)
        return nullptr;
    krmProfile profile = krmCreateGrayProfile(krmD50_xyY(), curve.get());
    curve.reset();
    return described(profile, QStringLiteral("Gray color space (gamma %1)").arg(builtin.gamma, 0, 'f', 1));
}

krmProfile open_file(const QString& path)
{
    // fopen on a folder succeeds on POSIX systems; only regular files are profiles.
    if (!QFileInfo(path).isFile())
        return nullptr;
    FILE* stream = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!stream)
        return nullptr;
    // The profile owns the stream from here: closing the profile closes it.
    return krmOpenProfileFromStream(stream, "r");
}

bool mlu_set(krmMLU* mlu, const QString& text)
{
    return krmMLUSetWide(mlu, "en", "US", reinterpret_cast<const krmWChar*>(text.utf16()));
}

}  // namespace

krmProfile open_profile_by_name(const QString& name)
{
    if (name == QLatin1String("*srgb"))
        return described(krmCreate_sRGBProfile(), QStringLiteral("sRGB-like color space"));
    for (const RgbBuiltin& builtin : kRgbBuiltins) {
        if (name == QLatin1String(builtin.name))
            return make_rgb(builtin);
    }
    for (const GrayBuiltin& builtin : kGrayBuiltins) {
        if (name == QLatin1String(builtin.name))
            return make_gray(builtin);
    }
    if (name == QLatin1String("*lab"))
        return described(krmCreateLab4Profile(nullptr), QStringLiteral("CIE L*a*b* color space"));
    if (name == QLatin1String("*user")) {
        const QByteArray& block = user_store();
        if (block.isEmpty())
            return nullptr;
        return krmOpenProfileFromMem(block.constData(), krmUInt32Number(block.size()));
    }
    if (name.startsWith(QLatin1Char('*')) || name.isEmpty())
        return nullptr;
    return open_file(name);
}

bool set_profile_description(krmProfile profile, const QString& text)
{
    if (!profile)
        return false;
    krmMLU* description = krmMLUAlloc(nullptr, 1);
    krmMLU* copyright = krmMLUAlloc(nullptr, 1);
    bool ok = description && copyright;
    ok = ok && mlu_set(description, text);
    ok = ok && mlu_set(copyright, QStringLiteral("Created by Corvane tool. No copyright, use freely."));
    ok = ok && krmWriteTag(profile, krmSig("desc"), description);
    ok = ok && krmWriteTag(profile, krmSig("cprt"), copyright);
    if (description)
        krmMLUFree(description);
    if (copyright)
        krmMLUFree(copyright);
    return ok;
}

void remove_left_over_user_profile_file()
{
    // Earlier versions copied the embedded profile into the user's profile folder, where other
    // colour-managed programs and the colour daemon took it for an installed profile.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!data.isEmpty())
        QFile::remove(QDir(data).filePath(QStringLiteral("icc/prismet-embedded.icc")));
}

bool store_user_profile(krmProfile profile)
{
    QByteArray& block = user_store();
    // A failed store empties the block: "*user" must never name the previous image's profile.
    block.clear();
    if (!profile)
        return true;

    krmUInt32Number size = 0;
    if (!krmSaveProfileToMem(profile, nullptr, &size) || size == 0)
        return false;
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    if (!krmSaveProfileToMem(profile, bytes.data(), &size) || size == 0)
        return false;
    bytes.truncate(qsizetype(size));
    block = bytes;
    return true;
}

bool has_user_profile()
{
    return !user_store().isEmpty();
}
