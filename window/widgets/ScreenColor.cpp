#include "window/widgets/ScreenColor.h"

#include "window/widgets/DisplayProfile.h"

KrmTransformPtr lab_to_screen_transform()
{
    const KrmProfilePtr lab(krmCreateLab4Profile(nullptr));
    const KrmProfilePtr display(display_profile());
    if (!lab || !display)
        return nullptr;
    return KrmTransformPtr(krmCreateTransform(lab.get(), krmFmtLabDouble, display.get(), krmFmtRGB8,
                                              krmINTENT_PERCEPTUAL, krmFlagNoOptimize));
}

KrmTransformPtr xyz_to_screen_transform()
{
    const KrmProfilePtr xyz(krmCreateXYZProfile());
    const KrmProfilePtr display(display_profile());
    if (!xyz || !display)
        return nullptr;
    return KrmTransformPtr(
        krmCreateTransform(xyz.get(), krmFmtXYZ16, display.get(), krmFmtRGB8, krmINTENT_PERCEPTUAL, 0));
}

QColor screen_color(krmTransform labToScreen, const krmCIELab& lab)
{
    const double in[3] = {lab.L, lab.a, lab.b};
    krmUInt8Number rgb[3] = {};
    krmDoTransform(labToScreen, in, rgb, 1);
    return QColor(rgb[0], rgb[1], rgb[2], 255);
}

std::optional<krmCIELab> pcs_words_to_lab(krmColorSpaceSignature pcs, const krmUInt16Number words[3])
{
    if (words[0] == 0 && words[1] == 0 && words[2] == 0)
        return std::nullopt;
    krmCIELab lab{};
    if (pcs == krmSig("Lab ")) {
        krmLabEncoded2FloatV2(&lab, words);
    } else if (pcs == krmSig("XYZ ")) {
        krmCIEXYZ xyz{};
        krmXYZEncoded2Float(&xyz, words);
        krmXYZ2Lab(krmD50_XYZ(), &lab, &xyz);
    } else {
        return std::nullopt;
    }
    return lab;
}
