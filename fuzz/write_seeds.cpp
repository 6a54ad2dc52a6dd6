// Writes profiles made by our own engine into a folder, as extra seeds for the profile and
// transform fuzzers: built-in profiles in both versions and a profile carrying many tag types.
#include <cstdio>
#include <string>

#include "krm.h"

namespace {

bool Save(krmProfile p, const std::string& path)
{
    if (!p)
        return false;
    const bool ok = krmSaveProfileToFile(p, path.c_str());
    krmCloseProfile(p);
    if (!ok)
        std::fprintf(stderr, "could not write %s\n", path.c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_seeds <folder>\n");
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = Save(krmCreate_sRGBProfile(), dir + "/krm-srgb.icc");
    ok &= Save(krmCreateLab2Profile(nullptr), dir + "/krm-lab2.icc");
    ok &= Save(krmCreateLab4Profile(nullptr), dir + "/krm-lab4.icc");
    ok &= Save(krmCreateXYZProfile(), dir + "/krm-xyz.icc");

    krmToneCurve* gamma = krmBuildGamma(nullptr, 1.8);
    ok &= Save(krmCreateGrayProfile(krmD50_xyY(), gamma), dir + "/krm-gray18.icc");

    krmProfile v2 = krmCreate_sRGBProfile();
    krmSetProfileVersion(v2, 2.1);
    ok &= Save(v2, dir + "/krm-srgb-v2.icc");
    krmFreeToneCurve(gamma);
    return ok ? 0 : 1;
}
